// Bare reference loop for the cycle bench: per pass one non-blocking read of a
// pseudo-terminal and one 1 ms sleep, nothing else.
//
//   ref_loop plain [passes [device]]   sleeps with nanosleep(1 ms) after each read
//   ref_loop grid  [passes [device]]   sleeps with the logger's own tick
//                                      (clock_tick: the absolute 1 ms grid with
//                                      catch-up), linked from the logger's clock
//
// Runs `passes` passes (0 or none: until a signal ends it). It reads its own
// pseudo-terminal, or `device` (say, the link of an adapter stand-in that is
// never sent a command), set to the logger's line settings; nothing arrives.
// SIGUSR1 makes it print "passes <count>" on standard output (flushed), so a
// script can count the passes of a measured interval.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/clock.h"

namespace {

constexpr long kPassNs = 1000000;     // the plain loop's sleep
constexpr std::size_t kReadMax = 255;  // bytes per read, as the logger reads a line

volatile sig_atomic_t g_report = 0;

void on_usr1(int) { g_report = 1; }

// The terminal settings the logger puts on its serial line.
void set_line_mode(int fd) {
  termios tio;
  std::memset(&tio, 0, sizeof tio);
  tio.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
  tio.c_lflag = ICANON;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 50;
  (void)tcsetattr(fd, TCSANOW, &tio);
}

// Opens a pseudo-terminal pair; returns the non-blocking slave, or -1.
int open_pty(int *master) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return -1;
  const char *name = ptsname(*master);
  if (name == nullptr) return -1;
  int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) set_line_mode(fd);
  return fd;
}

// "1 ms from now": the pass work and every wake-up's lateness add up.
void plain_tick() {
  timespec d{0, kPassNs};
  while (nanosleep(&d, &d) != 0 && errno == EINTR) {
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || (std::strcmp(argv[1], "plain") != 0 && std::strcmp(argv[1], "grid") != 0)) {
    std::fprintf(stderr, "usage: ref_loop plain|grid [passes [device]]\n");
    return 2;
  }
  void (*tick)() = std::strcmp(argv[1], "grid") == 0 ? core::clock_tick : plain_tick;
  const long passes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
  int master = -1;
  const int fd = argc > 3 ? open(argv[3], O_RDWR | O_NOCTTY | O_NONBLOCK) : open_pty(&master);
  if (fd < 0) {
    std::perror(argc > 3 ? argv[3] : "ref_loop: pseudo-terminal");
    return 1;
  }
  if (argc > 3) set_line_mode(fd);
  struct sigaction sa {};
  sa.sa_handler = on_usr1;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, nullptr);
  std::array<char, kReadMax + 1> line{};
  for (long n = 0; passes <= 0 || n < passes; ++n) {
    if (g_report) {
      g_report = 0;
      std::printf("passes %ld\n", n);
      std::fflush(stdout);
    }
    ssize_t got = read(fd, line.data(), kReadMax);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      std::perror("ref_loop: read");
      return 1;
    }
    tick();
  }
  return 0;
}
