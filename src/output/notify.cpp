// Notify datagrams to the service manager: address, status text, send.
#include "output/notify.h"

#include <unistd.h>

#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace output {

socklen_t notify_address(const char *name, sockaddr_un *addr) {
  if (name == nullptr) return 0;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  const std::size_t room = sizeof addr->sun_path;
  const std::size_t len = strnlen(name, room + 1);
  const socklen_t base = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path));
  if (name[0] == '/') {
    if (len >= room) return 0;  // the path and its NUL must fit
    std::memcpy(addr->sun_path, name, len);
    return base + static_cast<socklen_t>(len + 1);
  }
  if (name[0] == '@') {
    // An abstract name is the bytes after the leading NUL, with no NUL at the end.
    if (len < 2 || len > room) return 0;
    std::memcpy(addr->sun_path + 1, name + 1, len - 1);
    return base + static_cast<socklen_t>(len);
  }
  return 0;
}

std::size_t format_cycle_status(char *buf, std::size_t size, const CycleFigures &figures) {
  if (size == 0) return 0;
  int n = std::snprintf(buf, size,
                        "WATCHDOG=1\nSTATUS=cycle %lu: %d devices, %u answers, %u bad checksums, "
                        "last cycle %" PRId64 " ms",
                        figures.cycle, figures.devices, figures.answers, figures.bad_sums,
                        figures.ms);
  if (n < 0) {
    buf[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

NotifyResult notify(const char *message) {
  const char *name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || name[0] == '\0') return NotifyResult::kNoSocket;
  sockaddr_un addr;
  const socklen_t addr_len = notify_address(name, &addr);
  if (addr_len == 0) return NotifyResult::kBadAddress;
  // Non-blocking: a full receive queue drops this datagram instead of the loop's pace.
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return NotifyResult::kNotSent;
  const std::size_t len = strnlen(message, kNotifyMessageSize);
  ssize_t sent = sendto(fd, message, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&addr),
                        addr_len);
  close(fd);
  return sent == static_cast<ssize_t>(len) ? NotifyResult::kSent : NotifyResult::kNotSent;
}

}  // namespace output
