// Event loop of the stand-in: read, answer, queue, write, and unplug when told to.
#include "sim_loop.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>

#include "sim_signals.h"
#include "sim_terminal.h"
#include "sim_trace.h"

namespace adaptersim {

namespace {

constexpr std::size_t kReadChunk = 4096;         // bytes taken from the master per read
constexpr std::int64_t kUnplugGraceMs = 3000;    // most time the reader gets before unplugging
constexpr std::int64_t kUnplugSettleMs = 100;    // the pty moves written bytes asynchronously
constexpr int kUnplugCheckMs = 20;               // how often the reader's queue is checked
constexpr std::int64_t kMasterPauseMs = 100;     // back-off after a master error

// --exit-after: the answers already sent reach the reader before the master
// closes (closing it discards what the slave has not read), within a limit.
bool unplug_now(const Session &s, std::int64_t now) {
  if (now >= s.unplug_deadline) return true;
  if (!s.queue.empty() || now - s.last_write < kUnplugSettleMs) return false;
  return unread_bytes(s.slave) == 0;
}

void handle_command(Session &s, std::string_view cmd, std::size_t dropped, std::int64_t now) {
  if (s.log != nullptr) log_command(s.log, cmd, dropped);
  if (s.options->verbose) trace_line("> ", cmd);
  Batch *answer = s.queue.prepare(now + s.options->delay_ms);
  if (answer == nullptr && s.queue.flush_due(s.master, now)) {
    // A burst of commands read at once: make room by writing what is due.
    s.last_write = now;
    answer = s.queue.prepare(now + s.options->delay_ms);
  }
  if (answer == nullptr) {
    // The peer does not read; answers beyond the queue are lost, as on a
    // real line whose receiver is gone. The command still counts.
    s.lost.clear();
    const Reaction r = s.adapter->handle(cmd, s.lost);
    if (s.options->verbose) std::printf("# answer queue full, answer lost\n");
    if (r.unplug) start_unplug(s, now);
    return;
  }
  const Reaction r = s.adapter->handle(cmd, *answer);
  if (s.options->verbose) trace_reaction(r, parse_command(cmd), *answer);
  s.queue.commit();
  if (r.unplug) start_unplug(s, now);
}

}  // namespace

void take_bytes(Session &s, const char *data, std::size_t n, std::int64_t now_ms) {
  std::size_t off = 0;
  while (off < n && !s.unplugging) {
    off += s.splitter.push(data + off, n - off);
    if (s.splitter.has_line()) {
      handle_command(s, s.splitter.line(), s.splitter.dropped(), now_ms);
      s.splitter.clear_line();
    }
  }
}

std::int64_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void start_unplug(Session &s, std::int64_t now_ms) {
  s.unplugging = true;
  s.unplug_deadline = now_ms + s.options->delay_ms + kUnplugGraceMs;
}

int run_loop(Session &s, int stop_fd) {
  const int master = s.master;
  std::array<char, kReadChunk> buf{};
  std::int64_t master_pause_until = 0;
  for (;;) {
    if (stop_requested()) return kExitOk;
    std::int64_t now = monotonic_ms();
    if (s.queue.flush_due(master, now)) s.last_write = now;
    if (s.unplugging && unplug_now(s, now)) return kExitOk;

    int timeout = -1;
    bool want_write = false;
    if (!s.queue.empty()) {
      const std::int64_t due = s.queue.next_due();
      if (due <= now) {
        want_write = true;  // the terminal was full: wait until it drains
      } else {
        timeout = static_cast<int>(due - now);
      }
    }
    const bool master_paused = now < master_pause_until;
    if (master_paused) {
      const auto wait = static_cast<int>(master_pause_until - now);
      timeout = (timeout < 0 || wait < timeout) ? wait : timeout;
    }
    if (s.unplugging && (timeout < 0 || kUnplugCheckMs < timeout)) timeout = kUnplugCheckMs;

    std::array<pollfd, 2> fds{};
    fds[0] = {stop_fd, POLLIN, 0};
    nfds_t nfds = 1;
    if (!master_paused) {
      short events = s.unplugging ? 0 : POLLIN;
      if (want_write) events = static_cast<short>(events | POLLOUT);
      fds[1] = {master, events, 0};
      nfds = 2;
    }
    const int ready = poll(fds.data(), nfds, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::perror("adapter-sim: poll");
      return kExitSystem;
    }
    if (fds[0].revents != 0) return kExitOk;
    if (nfds < 2) continue;
    now = monotonic_ms();
    const short rev = fds[1].revents;
    if ((rev & POLLIN) != 0) {
      const ssize_t n = read(master, buf.data(), buf.size());
      if (n > 0) {
        take_bytes(s, buf.data(), static_cast<std::size_t>(n), now);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        master_pause_until = now + kMasterPauseMs;
      }
    } else if ((rev & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      master_pause_until = now + kMasterPauseMs;
    }
  }
}

}  // namespace adaptersim
