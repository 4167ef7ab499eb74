// Notify socket and scoped environment variable.
#include "support/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

// Builds the address by hand, independently of the code under test.
socklen_t unix_address(const std::string &name, sockaddr_un *addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (name.size() < 2 || name.size() >= sizeof addr->sun_path) return 0;
  std::memcpy(addr->sun_path, name.data(), name.size());
  if (name[0] != '@') return static_cast<socklen_t>(sizeof addr->sun_family + name.size() + 1);
  addr->sun_path[0] = '\0';
  return static_cast<socklen_t>(sizeof addr->sun_family + name.size());
}

}  // namespace

NotifySocket::NotifySocket(bool abstract) {
  if (abstract) {
    static int serial = 0;
    name_ = "@kelvinlog-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + "-" +
            std::to_string(Clock::now().time_since_epoch().count());
  } else {
    char templ[] = "/tmp/kelvinlog-notify-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
      ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
      return;
    }
    dir_ = templ;
    name_ = dir_ + "/notify";
  }
  bind_name();
}

NotifySocket::NotifySocket(const std::string &name) : name_(name) { bind_name(); }

void NotifySocket::bind_name() {
  sockaddr_un addr;
  const socklen_t len = unix_address(name_, &addr);
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (len == 0 || fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr *>(&addr), len) != 0) {
    ADD_FAILURE() << "notify socket " << name_ << ": " << std::strerror(errno);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
}

NotifySocket::~NotifySocket() {
  if (fd_ >= 0) close(fd_);
  if (!name_.empty() && name_[0] == '/') unlink(name_.c_str());
  if (!dir_.empty()) rmdir(dir_.c_str());
}

std::vector<std::string> NotifySocket::take() {
  std::vector<std::string> got;
  std::array<char, 4096> buf{};
  while (fd_ >= 0) {
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) break;
    got.emplace_back(buf.data(), static_cast<std::size_t>(n));
  }
  return got;
}

bool NotifySocket::wait_count(std::size_t n, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (messages_.size() < n) {
    for (std::string &m : take()) messages_.push_back(std::move(m));
    if (messages_.size() >= n) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left.count()));
  }
  return true;
}

int NotifySocket::fill_queue() {
  sockaddr_un addr;
  const socklen_t len = unix_address(name_, &addr);
  int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sender < 0) return 0;
  int queued = 0;
  while (queued < 1000000 &&
         sendto(sender, "x", 1, 0, reinterpret_cast<const sockaddr *>(&addr), len) == 1) {
    ++queued;
  }
  close(sender);
  return queued;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
  const char *old = std::getenv(name);
  had_old_ = old != nullptr;
  if (had_old_) old_ = old;
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_old_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace testsupport
