// Configuration file: raw load and echo, once per cycle.
#include "config/config_file.h"

#include <cstring>

#include "engine/poll_context.h"

std::size_t read_raw_text(std::FILE *file, char *buf, std::size_t size) {
  std::memset(buf, 0, size);
  std::size_t n = std::fread(buf, 1, size - 1, file);
  buf[size - 1] = '\0';
  return n;
}

void load_config(PollContext *ctx) {
  std::FILE *file = std::fopen(kConfigFileName, "r+");
  if (file == nullptr) die_perror(kConfigFileName);
  read_raw_text(file, ctx->config.data(), kConfigSize);
  std::fclose(file);
  std::printf("%s:\n%sEOF\n", kConfigFileName, ctx->config.data());
}
