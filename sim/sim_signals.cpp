// Stop-signal handlers of the stand-in and the self-pipe that wakes its event loop.
#include "sim_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace adaptersim {

namespace {

volatile sig_atomic_t g_stop = 0;
int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const int saved = errno;
  g_stop = 1;
  const char byte = 1;
  ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

bool install_stop_signals() {
  if (pipe(g_signal_pipe) != 0) return false;
  for (int fd : g_signal_pipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: poll() returns with EINTR
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  struct sigaction ign {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  sigaction(SIGPIPE, &ign, nullptr);
  return true;
}

int stop_signal_fd() { return g_signal_pipe[0]; }

bool stop_requested() { return g_stop != 0; }

}  // namespace adaptersim
