// Command line: option letters, the guard decision, and the bounded argument copies.
#pragma once

#include <cstddef>

namespace app {

struct Options {
  bool debug;      // letter d: detailed traces and debug.txt
  bool mode;       // letter l: first command "$L+"
  bool quiet;      // letter q, unless d is given too: no echo trace on standard output
  bool run_guard;  // the single-instance guard runs
  bool complete;   // both the serial device and the output directory were given
};

// Reads the option letters from the third argument (only when it begins with
// '-') and decides whether the guard runs. With fewer than two arguments the
// guard does not run: a usage error has no side effects.
Options parse_options(int argc, const char *const *argv);

// What a lone "--help" or "--version" (the one and only argument) asks for.
enum class InfoRequest {
  kNone,     // any other command line: start the logger
  kHelp,     // print the usage text
  kVersion,  // print the program name and version
};

// Looks for "--help" or "--version" as the only argument; any other shape
// (a fourth argument of "--help", say) is an ordinary command line.
InfoRequest info_request(int argc, const char *const *argv);

// Copies the output directory argument (at most 253 characters) into `outdir`
// and appends '/' unless it already ends in one.
void normalise_outdir(char *outdir, std::size_t size, const char *arg);

}  // namespace app
