// Capture of the process's standard output through a pipe.
//
// Descriptor 1 is pointed at a pipe with dup2, so that everything written to
// it (printf, puts, a child's output) is collected. No thread drains it:
// under qemu-user a new thread of an aarch64 binary may hang as a forked
// child does. The pipe is made as large as the system allows (1 MiB by
// default), and its writing end does not block: output beyond that never
// hangs the test but is reported as a failure when the capture stops.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

class StdoutCapture {
 public:
  StdoutCapture() = default;
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture &) = delete;
  StdoutCapture &operator=(const StdoutCapture &) = delete;

  // Starts capturing; does nothing when already capturing.
  void start();
  // Flushes stdout, puts descriptor 1 back and returns what was written since start().
  std::string stop();
  // stop() and start() again: what was written since the last start or take.
  std::string take();
  bool active() const { return saved_ >= 0; }

 private:
  int saved_ = -1;            // the real standard output while capturing
  int read_end_ = -1;         // the pipe's end read at stop()
  std::size_t capacity_ = 0;  // bytes the pipe holds
};

// Runs `f` with standard output captured and returns what it wrote.
template <class F>
std::string capture_stdout(F &&f) {
  StdoutCapture capture;
  capture.start();
  f();
  return capture.stop();
}

// The same with one capture of the whole test binary, for tests that capture
// around several statements: starts it (a capture already running goes on).
void start_stdout_capture();
// Ends the capture start_stdout_capture() began and returns what was written.
std::string captured_stdout();

}  // namespace testsupport
