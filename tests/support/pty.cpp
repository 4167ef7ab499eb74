// Pseudo-terminal helpers.
#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    ADD_FAILURE() << "posix_openpt: " << std::strerror(errno);
    close_master();
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  const char *name = ptsname(master_);
  if (name == nullptr) {
    ADD_FAILURE() << "ptsname: " << std::strerror(errno);
    return;
  }
  slave_path_ = name;
}

Pty::~Pty() { close_master(); }

void Pty::send(const std::string &bytes) {
  std::size_t sent = 0;
  const auto deadline = Clock::now() + Ms(2000);
  while (master_ >= 0 && sent < bytes.size() && Clock::now() < deadline) {
    const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, 20);
  }
  if (sent < bytes.size()) ADD_FAILURE() << "adapter could not send " << bytes.size() << " bytes";
}

std::string Pty::drain() {
  std::string out;
  char buf[512];
  while (master_ >= 0) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::string Pty::receive(std::size_t n, Ms timeout) {
  std::string got;
  const auto deadline = Clock::now() + timeout;
  while (master_ >= 0 && got.size() < n && Clock::now() < deadline) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 10) > 0) got += drain();
  }
  return got + drain();
}

void Pty::close_master() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool wait_ready(int fd, std::size_t n, Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int ready = 0;
    if (ioctl(fd, FIONREAD, &ready) == 0 && static_cast<std::size_t>(ready) >= n) return true;
    if (Clock::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 1);
  }
}

}  // namespace testsupport
