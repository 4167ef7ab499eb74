// Configuration file: raw load and echo, once per cycle.
#include "config/config_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/fatal.h"
#include "core/poll_context.h"
#include "core/regular_file.h"
#include "core/trace.h"

namespace config {

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

void load_config(core::PollContext *ctx) {
  // Read and write access, though it is only read: a file the logger may not
  // write is refused. It may be a link (the working directory is the
  // operator's), but what it leads to must be a regular file: a FIFO would
  // block the load for good.
  int fd = core::open_regular(kConfigFileName, O_RDWR);
  if (fd < 0) core::die_perror(kConfigFileName);
  read_raw_fd(fd, ctx->config.data(), core::kConfigSize);
  close(fd);
  core::echo(ctx, "%s:\n%sEOF\n", kConfigFileName, ctx->config.data());
}

}  // namespace config
