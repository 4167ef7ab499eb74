// Serial port: open and configure the device, send commands, receive lines.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/fatal.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "core/trace.h"

namespace serial {

using core::PollContext;

namespace {

// One read of at most one line. Returns the byte count, or 0 when nothing is
// waiting. A hang-up (0: line mode has no end-of-file character here) or a
// real error means the adapter is gone: the process ends so that a supervisor
// can restart it once the adapter is back.
long read_serial(PollContext *ctx) {
  ssize_t n = read(ctx->fd, ctx->line.data(), core::kLineReadMax);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  if (n == 0) errno = ENODEV;
  core::die_perror(ctx->serial_path.data());
}

}  // namespace

void make_serial_settings(termios *tio) {
  std::memset(tio, 0, sizeof *tio);
  tio->c_iflag = 0;
  tio->c_oflag = 0;
  tio->c_cflag = B115200 | CS8 | CREAD | CLOCAL;
  tio->c_lflag = ICANON;
  tio->c_line = 0;
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 50;
}

int open_serial(const char *device_path) {
  int fd = open(device_path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) core::die_perror(device_path);
  termios tio;
  make_serial_settings(&tio);
  (void)tcflush(fd, TCIFLUSH);
  (void)tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

void send_command(PollContext *ctx) {
  core::echo(ctx, "o%s", ctx->line.data());
  ssize_t ignored = write(ctx->fd, ctx->line.data(), std::strlen(ctx->line.data()));
  (void)ignored;
}

void discard_read(PollContext *ctx) { (void)read_serial(ctx); }

bool receive_line(PollContext *ctx) {
  char *line = ctx->line.data();
  for (;;) {
    long n = read_serial(ctx);
    if (n <= 0) return false;
    line[n] = '\0';
    if (std::strstr(line, "??") == nullptr) break;
    core::echo(ctx, "retry %s", line);
    core::copy_bounded(line, core::kLineSize, "\n", 1);
    ssize_t ignored = write(ctx->fd, line, 1);
    (void)ignored;
    discard_read(ctx);
  }
  core::trace(ctx, "\r\ni%s, eep=%i, idi=%i, state=%i, rxz=%i%s\r\n", line, ctx->eep, ctx->idi,
              ctx->state, ctx->rxz, ctx->eep == ctx->idi ? " bingo" : "");
  core::echo(ctx, "i%s", line);
  return true;
}

}  // namespace serial
