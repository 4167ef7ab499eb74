// Timestamp text and the append-one-record logs.
#include "output/logs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "core/clock.h"
#include "core/fatal.h"
#include "core/regular_file.h"

namespace output {

namespace {

// Writes all `len` bytes; returns 0 or the errno of the write that failed.
int write_all(int fd, const char *text, std::size_t len) {
  std::size_t done = 0;
  while (done < len) {
    ssize_t n = write(fd, text + done, len - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 ? errno : EIO;
    }
  }
  return 0;
}

}  // namespace

int open_record(const char *path, bool append) {
  const int flags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
  int fd = core::open_outdir_file(path, flags);
  if (fd < 0) core::die_perror(path);
  return fd;
}

int put_record(int fd, const char *format, ...) {
  char text[kRecordMax + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  int error = 0;
  if (n > 0) {
    std::size_t len = static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n)
                                                                 : sizeof text - 1;
    error = write_all(fd, text, len);
  }
  if (close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

void make_timestamp(char *buf, std::size_t size) {
  std::time_t now = core::clock_now();
  std::tm local{};
  localtime_r(&now, &local);
  std::snprintf(buf, size, "%02d.%02d.%d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900 - 2000, local.tm_hour, local.tm_min, local.tm_sec);
}

int append_error_record(const char *path, const char *text) {
  int fd = open_record(path, true);
  char stamp[kTimestampSize];
  make_timestamp(stamp, sizeof stamp);
  return put_record(fd, "%s;%s;\n", stamp, text);
}

int debug_log(const char *a, const char *b) {
  int fd = open_record(kDebugLogName, true);
  char stamp[kTimestampSize];
  make_timestamp(stamp, sizeof stamp);
  return put_record(fd, "%s;%s;%s;\n", stamp, a, b);
}

}  // namespace output
