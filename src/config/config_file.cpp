// Configuration file: raw load and echo, once per cycle.
#include "config/config_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/poll_context.h"
#include "output/regular_file.h"

std::size_t read_raw_text(std::FILE *file, char *buf, std::size_t size) {
  std::memset(buf, 0, size);
  std::size_t n = std::fread(buf, 1, size - 1, file);
  buf[size - 1] = '\0';
  return n;
}

std::size_t read_raw_fd(int fd, char *buf, std::size_t size) {
  std::memset(buf, 0, size);
  std::size_t got = 0;
  while (got < size - 1) {
    ssize_t n = read(fd, buf + got, size - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of file, or an error: the text ends here
    got += static_cast<std::size_t>(n);
  }
  return got;
}

void load_config(PollContext *ctx) {
  // Read and write access, though it is only read: a file the logger may not
  // write is refused. It may be a link (the working directory is the
  // operator's), but what it leads to must be a regular file: a FIFO would
  // block the load for good.
  int fd = open_regular(kConfigFileName, O_RDWR);
  if (fd < 0) die_perror(kConfigFileName);
  read_raw_fd(fd, ctx->config.data(), kConfigSize);
  close(fd);
  if (!ctx->quiet) std::printf("%s:\n%sEOF\n", kConfigFileName, ctx->config.data());
}
