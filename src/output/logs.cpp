// Timestamp text and the append-one-record logs.
#include "output/logs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "engine/clock.h"
#include "engine/poll_context.h"

int open_record(const char *path, bool append) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  int fd = open(path, flags, 0666);
  if (fd < 0) die_perror(path);
  return fd;
}

void put_record(int fd, const char *format, ...) {
  char text[kRecordMax + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n > 0) {
    std::size_t len = static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n)
                                                                 : sizeof text - 1;
    ssize_t ignored = write(fd, text, len);
    (void)ignored;
  }
  close(fd);
}

void make_timestamp(char *buf, std::size_t size) {
  std::time_t now = clock_now();
  std::tm local{};
  localtime_r(&now, &local);
  std::snprintf(buf, size, "%02d.%02d.%d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900 - 2000, local.tm_hour, local.tm_min, local.tm_sec);
}

void err(const char *path, const char *text) {
  int fd = open_record(path, true);
  char stamp[kTimestampSize];
  make_timestamp(stamp, sizeof stamp);
  put_record(fd, "%s;%s;\n", stamp, text);
}

void debug_log(const char *a, const char *b) {
  int fd = open_record(kDebugLogName, true);
  char stamp[kTimestampSize];
  make_timestamp(stamp, sizeof stamp);
  put_record(fd, "%s;%s;%s;\n", stamp, a, b);
}
