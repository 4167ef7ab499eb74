// Debug traces and echo lines on standard output, each through one printf-like helper.
//
// A debug trace is printed only under option letter d; an echo line (a
// command sent, a line received, the configuration, names, values) is printed
// unless option letter q is given. Formats are always literals of the code.
#pragma once

namespace core {

struct PollContext;

// Prints the formatted text when ctx->debug is set.
void trace(const PollContext *ctx, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The same for a caller that holds only the flag: the configuration lookups,
// which the bridge calls without a context.
void trace_if(bool debug, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Prints the formatted text unless ctx->quiet is set.
void echo(const PollContext *ctx, const char *format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace core
