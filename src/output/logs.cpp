// Timestamp text and the append-one-record logs.
#include "output/logs.h"

#include <cstdio>
#include <ctime>

#include "engine/clock.h"
#include "engine/poll_context.h"

void make_timestamp(char *buf, std::size_t size) {
  std::time_t now = clock_now();
  std::tm local{};
  localtime_r(&now, &local);
  std::snprintf(buf, size, "%02d.%02d.%d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900 - 2000, local.tm_hour, local.tm_min, local.tm_sec);
}

void err(const char *path, const char *text) {
  std::FILE *file = std::fopen(path, "a");
  if (file == nullptr) die_perror(path);
  char stamp[kTimestampSize];
  make_timestamp(stamp, sizeof stamp);
  std::fprintf(file, "%s;%s;\n", stamp, text);
  std::fclose(file);
}

void debug_log(const char *a, const char *b) {
  std::FILE *file = std::fopen(kDebugLogName, "a");
  if (file == nullptr) die_perror(kDebugLogName);
  char stamp[kTimestampSize];
  make_timestamp(stamp, sizeof stamp);
  std::fprintf(file, "%s;%s;%s;\n", stamp, a, b);
  std::fclose(file);
}
