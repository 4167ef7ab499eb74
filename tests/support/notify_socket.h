// The service manager's end of the notify datagram protocol, for unit and
// whole-process tests, and a scoped environment variable to point the
// logger at it.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

// A datagram socket standing in for systemd's notify socket. It binds a
// unique abstract name ("@...") or a path in a fresh directory under /tmp
// (short enough for any checkout path), or the name given.
class NotifySocket {
 public:
  explicit NotifySocket(bool abstract);
  // Binds exactly `name` ("/path" or "@abstract", as NOTIFY_SOCKET names it).
  explicit NotifySocket(const std::string &name);
  ~NotifySocket();
  NotifySocket(const NotifySocket &) = delete;
  NotifySocket &operator=(const NotifySocket &) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string &name() const { return name_; }
  // The NOTIFY_SOCKET entry for a child's environment.
  std::string var() const { return "NOTIFY_SOCKET=" + name_; }
  // Every datagram waiting now, oldest first (never blocks).
  std::vector<std::string> take();
  // Receives until `n` datagrams have come in all, or the timeout has passed.
  bool wait_count(std::size_t n, std::chrono::milliseconds timeout);
  // Everything wait_count has received.
  const std::vector<std::string> &messages() const { return messages_; }
  // Sends to itself until the queue is full; returns how many it queued.
  int fill_queue();

 private:
  void bind_name();

  int fd_ = -1;                         // the bound socket, non-blocking
  std::string name_;                    // as NOTIFY_SOCKET gives it
  std::string dir_;                     // the directory made for a path name, if any
  std::vector<std::string> messages_;   // received by wait_count
};

// Sets an environment variable for the lifetime of the object and puts the
// old value (or its absence) back afterwards. A null value unsets it.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;  // the variable
  bool had_old_;      // it was set before
  std::string old_;   // its value before
};

}  // namespace testsupport
