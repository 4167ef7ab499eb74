// Standard output through a pipe and dup2.
#include "support/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace testsupport {

namespace {

constexpr int kLargestPipe = 1 << 20;  // the default limit of /proc/sys/fs/pipe-max-size
std::atomic<int> g_capturing{0};       // captures running now

// GoogleTest reports a failure on standard output, which a running capture
// would swallow: while one runs, the failure goes to standard error as well.
class FailuresToStderr : public ::testing::EmptyTestEventListener {
  void OnTestPartResult(const ::testing::TestPartResult &result) override {
    if (!result.failed() || g_capturing.load() == 0) return;
    std::fprintf(stderr, "%s:%d: Failure (while standard output was captured)\n%s\n",
                 result.file_name() != nullptr ? result.file_name() : "?", result.line_number(),
                 result.message());
  }
};

const bool g_listener_added = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
  return true;
}();

}  // namespace

StdoutCapture::~StdoutCapture() {
  if (active()) stop();
}

void StdoutCapture::start() {
  if (active()) return;
  std::fflush(stdout);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return;
  }
  (void)fcntl(fds[1], F_SETPIPE_SZ, kLargestPipe);
  const int size = fcntl(fds[1], F_GETPIPE_SZ);
  capacity_ = size > 0 ? static_cast<std::size_t>(size) : 0;
  (void)fcntl(fds[0], F_SETFL, O_NONBLOCK);
  (void)fcntl(fds[1], F_SETFL, O_NONBLOCK);
  saved_ = fcntl(1, F_DUPFD_CLOEXEC, 3);
  dup2(fds[1], 1);  // the copy at 1 is inherited by children, as standard output is
  close(fds[1]);
  read_end_ = fds[0];
  ++g_capturing;
}

std::string StdoutCapture::stop() {
  if (!active()) return "";
  std::fflush(stdout);
  std::clearerr(stdout);  // a write the full pipe refused
  dup2(saved_, 1);
  close(saved_);
  saved_ = -1;
  --g_capturing;
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(read_end_, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // every writer has closed its end, or nothing more waits: all is read
    }
  }
  close(read_end_);
  read_end_ = -1;
  if (capacity_ > 0 && out.size() >= capacity_) {
    ADD_FAILURE() << "standard output overflowed its capture of " << capacity_ << " bytes";
  }
  return out;
}

std::string StdoutCapture::take() {
  std::string out = stop();
  start();
  return out;
}

namespace {
StdoutCapture &process_capture() {
  static StdoutCapture capture;
  return capture;
}
}  // namespace

void start_stdout_capture() { process_capture().start(); }

std::string captured_stdout() { return process_capture().stop(); }

}  // namespace testsupport
