// Reading and replacing files in directories that other programs write too.
//
// Nothing here follows a link planted in such a directory or blocks on a FIFO:
// files are opened O_NOFOLLOW | O_NONBLOCK and must be regular, and files are
// replaced through a temporary file and rename().
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace bridge {

enum class ReadResult {
  kOk,          // buf holds the whole file (or its first `max` bytes for a prefix read)
  kMissing,     // no such file
  kNotRegular,  // a link, FIFO, directory, device or socket
  kTooLong,     // a whole read was asked for and the file has more than `max` bytes
  kError,       // any other failure (errno tells)
};

// Reads the regular file `name` in the directory `dirfd` without following a
// link: at most `max` bytes into `buf` (`max` + 1 bytes), NUL-terminated,
// count in `len`. With `whole`, a longer file is kTooLong. `st` (optional)
// receives its status.
ReadResult read_file_at(int dirfd, const char *name, char *buf, std::size_t max, bool whole,
                        std::size_t &len, struct stat *st = nullptr);

// Reads the first `max` bytes of the regular file at `path`, following links
// (the configuration lives in the operator's directory, where links are his).
ReadResult read_path_prefix(const char *path, char *buf, std::size_t max, std::size_t &len);

// Replaces `name` in `dirfd` with `len` bytes of `data`: written to a new
// temporary file ".kelvinlog-bridge.<pid>.<n>.tmp" in the same directory,
// given `mode`, and renamed over `name`. Returns 0, or the errno of the
// failing step (the temporary file is removed then).
int replace_file_at(int dirfd, const char *name, const char *data, std::size_t len, mode_t mode);

// The mode a new file gets under the process's umask (0666 & ~umask).
mode_t default_file_mode();

// A short name for a ReadResult in log lines ("missing", "not a regular file", ...).
const char *describe(ReadResult r);

}  // namespace bridge
