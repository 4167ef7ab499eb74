// Command line: option letters, the guard decision, and the bounded argument copies.
#pragma once

#include <cstddef>

struct Options {
  bool debug;      // letter d: detailed traces and debug.txt
  bool mode;       // letter l: first command "$L+"
  bool run_guard;  // the single-instance guard runs
  bool complete;   // both the serial device and the output directory were given
};

// Reads the option letters from the third argument (only when it begins with
// '-') and decides whether the guard runs. With fewer than two arguments the
// guard does not run: a usage error has no side effects.
Options parse_options(int argc, const char *const *argv);

// Copies the output directory argument (at most 253 characters) into `outdir`
// and appends '/' unless it already ends in one.
void normalise_outdir(char *outdir, std::size_t size, const char *arg);
