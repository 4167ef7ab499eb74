// Timestamped logs: the timestamp text, the error log and the debug log.
//
// Each call opens its file, appends one ';'-separated record and closes it, so
// other programs may read, move or delete a log between records.
#pragma once

#include <cstddef>

namespace output {

constexpr std::size_t kTimestampSize = 32;  // "dd.mm.yy hh:mm:ss" and room to spare
constexpr const char *kDebugLogName = "debug.txt";
constexpr const char *kErrorLogName = "err.txt";

// Opens `path` for one record, created if missing: truncated, or appended to
// when `append` is set. Only a regular file is written, and a link is never
// followed: a link, a FIFO or any other object at `path` counts as a file that
// cannot be opened. Ends the process with perror(path) when it cannot.
int open_record(const char *path, bool append);

// Formats one record, writes it and closes `fd`. A record longer than
// kRecordMax characters is cut there. Returns 0, or the errno of a write or
// close that failed (a short write is continued, so its cause is reported).
int put_record(int fd, const char *format, ...) __attribute__((format(printf, 2, 3)));

constexpr std::size_t kRecordMax = 1023;

// Writes the local time of the logger's clock as "%02d.%02d.%d %02d:%02d:%02d"
// (day, month, year - 2000, hour, minute, second) into `buf`.
void make_timestamp(char *buf, std::size_t size);

// Appends "<timestamp>;<text>;\n" to the error log at `path`; ends the process
// if it cannot be opened. Returns what put_record returns.
int append_error_record(const char *path, const char *text);

// Appends "<timestamp>;<a>;<b>;\n" to debug.txt in the working directory,
// opened like every output file. Returns what put_record returns.
int debug_log(const char *a, const char *b);

}  // namespace output
