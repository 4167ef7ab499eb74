// Readiness and liveness messages to a service manager (the notify datagram protocol).
//
// One datagram on the AF_UNIX socket that $NOTIFY_SOCKET names, built in fixed
// buffers. Nothing at all happens when the variable is unset or empty, and a
// failure to send is never fatal: the logger runs the same with or without a
// supervisor, and a receiver that does not read can never stall the loop.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>

namespace output {

// Outcome of one notification.
enum class NotifyResult {
  kSent,        // the socket took the whole datagram
  kNoSocket,    // NOTIFY_SOCKET unset or empty: nothing was tried
  kBadAddress,  // neither "/path" nor "@name", or too long for an AF_UNIX address
  kNotSent,     // no socket, nobody listening, or the receiver's queue is full
};

// Figures of one completed poll cycle, for the status line.
struct CycleFigures {
  unsigned long cycle;  // number of the cycle since start-up, 1 for the first
  int devices;          // entries the bus search found (S0 entries included)
  unsigned answers;     // data lines handled in the poll state
  unsigned bad_sums;    // answers whose frame checksum did not match
  std::int64_t ms;      // length of the cycle in milliseconds, load step to last poll
};

constexpr std::size_t kNotifyMessageSize = 256;  // longest datagram built, NUL included
constexpr const char *kNotifyReady = "READY=1\nSTATUS=serial device open, first bus search";

// Fills `addr` from a NOTIFY_SOCKET value: "/path" names a socket in the file
// system, "@name" an abstract one (the '@' becomes the leading NUL byte).
// Returns the address length to pass to sendto, or 0 when the value cannot
// be used (empty, relative, a bare "@", or too long).
socklen_t notify_address(const char *name, sockaddr_un *addr);

// Writes "WATCHDOG=1\nSTATUS=cycle N: ..." for a completed cycle into `buf`
// (cut to fit) and returns its length.
std::size_t format_cycle_status(char *buf, std::size_t size, const CycleFigures &figures);

// Sends `message` as one datagram to $NOTIFY_SOCKET, without blocking.
NotifyResult notify(const char *message);

}  // namespace output
