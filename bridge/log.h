// The bridge's log: one line per event worth knowing, on standard error.
#pragma once

#include <array>
#include <cstdio>

namespace bridge {

// Where log lines go (standard error unless a test says otherwise).
void set_log_stream(std::FILE *stream);

// Writes "kelvinlog-bridge: " and the formatted text as one line.
void log_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Text from outside (file names, labels, topics) made safe for a log line:
// bytes outside printable ASCII and the backslash as \xHH, cut with "..." to
// fit.
using Shown = std::array<char, 100>;
Shown shown(const char *text);
Shown shown(const char *text, std::size_t len);

}  // namespace bridge
