// What the stand-in tells about itself: the command log (--log) and the
// --verbose traces of commands, answers and injected faults on stdout.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "sim_adapter.h"
#include "sim_command.h"

namespace adaptersim {

// Appends one command to the log: "<epoch s>.<us> <escaped command>", with
// " [+N bytes dropped]" when the command was cut, and flushes it at once.
void log_command(std::FILE *log, std::string_view cmd, std::size_t dropped);

// Prints `prefix` and the escaped `line` on stdout ("> " commands, "< " answers).
void trace_line(const char *prefix, std::string_view line);

// Prints what happened while handling `cmd`: one "# " line per event of `r`
// (the configuration string included for a configuration write), then every
// answer line of `out`.
void trace_reaction(const Reaction &r, const Command &cmd, const Batch &out);

}  // namespace adaptersim
