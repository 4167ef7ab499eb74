// The adapter's end of a pseudo-terminal, for unit and whole-process tests.
//
// The logger (or a test standing in for it) opens the slave as its serial
// device; the test plays the adapter on the non-blocking master.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace testsupport {

using Ms = std::chrono::milliseconds;

class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
  int master() const { return master_; }
  const std::string &slave_path() const { return slave_path_; }
  // Writes all of `bytes` to the slave's input (a test failure when they do not fit in 2 s).
  void send(const std::string &bytes);
  // Everything the slave's side has written so far, without waiting.
  std::string drain();
  // Waits until `n` bytes have come in all (at most `timeout`); returns them
  // with whatever else has come by then.
  std::string receive(std::size_t n, Ms timeout = Ms(3000));
  // Closes the master: the adapter is gone.
  void close_master();

 private:
  int master_ = -1;         // the adapter's side, non-blocking
  std::string slave_path_;  // /dev/pts/N
};

// Waits until at least `n` bytes stand ready to be read on `fd` (FIONREAD),
// at most `timeout`. A terminal in line mode counts only complete lines.
bool wait_ready(int fd, std::size_t n, Ms timeout = Ms(3000));

}  // namespace testsupport
