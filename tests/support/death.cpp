// The run-time fork probe.
#include "support/death.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr int kForkPatienceMs = 2000;

// Forks a child that exits at once; its end of a pipe closes when it does,
// which the parent waits for with a deadline.
bool probe_fork() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) _exit(0);
  close(fds[1]);
  pollfd p{fds[0], POLLIN, 0};
  const bool ended = poll(&p, 1, kForkPatienceMs) > 0;
  close(fds[0]);
  if (!ended) kill(child, SIGKILL);  // only the child this probe forked
  int status = 0;
  waitpid(child, &status, 0);
  return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool fork_works() {
  static const bool works = probe_fork();
  return works;
}

}  // namespace testsupport
