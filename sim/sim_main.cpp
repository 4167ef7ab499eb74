// adapter-sim: plays the bus adapter on a pseudo-terminal for kelvinlog and scripts.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sim_adapter.h"
#include "sim_command.h"
#include "sim_options.h"
#include "sim_scenario.h"

namespace {

using adaptersim::Adapter;
using adaptersim::Batch;
using adaptersim::Options;
using adaptersim::Reaction;
using adaptersim::Scenario;

constexpr int kExitOk = 0;
constexpr int kExitSystem = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kQueueSlots = 16;          // answers waiting for their time
constexpr std::int64_t kUnplugGraceMs = 3000;    // most time the reader gets before unplugging
constexpr std::int64_t kUnplugSettleMs = 100;    // the pty moves written bytes asynchronously
constexpr int kUnplugCheckMs = 20;               // how often the reader's queue is checked
constexpr std::int64_t kMasterPauseMs = 100;     // back-off after a master error

using PathText = std::array<char, PATH_MAX>;

// --- signals ---------------------------------------------------------------

volatile sig_atomic_t g_stop = 0;
int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const int saved = errno;
  g_stop = 1;
  const char byte = 1;
  ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

bool install_signals() {
  if (pipe(g_signal_pipe) != 0) return false;
  for (int fd : g_signal_pipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: poll() returns with EINTR
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  struct sigaction ign {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  sigaction(SIGPIPE, &ign, nullptr);
  return true;
}

// --- time ------------------------------------------------------------------

std::int64_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// --- pseudo-terminal and link ----------------------------------------------

struct Terminal {
  int master = -1;
  int slave = -1;  // held open so the master never sees a hang-up
  std::array<char, 128> slave_path{};
};

bool open_terminal(Terminal &t) {
  t.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (t.master < 0) {
    std::perror("adapter-sim: posix_openpt");
    return false;
  }
  if (grantpt(t.master) != 0 || unlockpt(t.master) != 0) {
    std::perror("adapter-sim: grantpt/unlockpt");
    return false;
  }
  const char *name = ptsname(t.master);
  if (name == nullptr) {
    std::perror("adapter-sim: ptsname");
    return false;
  }
  const int n = std::snprintf(t.slave_path.data(), t.slave_path.size(), "%s", name);
  if (n < 0 || static_cast<std::size_t>(n) >= t.slave_path.size()) {
    std::fprintf(stderr, "adapter-sim: terminal name too long\n");
    return false;
  }
  t.slave = open(t.slave_path.data(), O_RDWR | O_NOCTTY);
  if (t.slave < 0) {
    std::perror(t.slave_path.data());
    return false;
  }
  termios tio{};
  if (tcgetattr(t.slave, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(t.slave, TCSANOW, &tio);
  }
  fcntl(t.master, F_SETFL, fcntl(t.master, F_GETFL) | O_NONBLOCK);
  fcntl(t.master, F_SETFD, FD_CLOEXEC);
  fcntl(t.slave, F_SETFD, FD_CLOEXEC);
  return true;
}

// Points `link` at the slave: a temporary symlink renamed over the old one, so
// the path never dangles. Anything at `link` other than a symlink is left alone.
bool create_link(const char *link, const char *target) {
  struct stat st {};
  if (lstat(link, &st) == 0 && !S_ISLNK(st.st_mode)) {
    std::fprintf(stderr, "adapter-sim: %s exists and is not a symlink; not replacing it\n", link);
    return false;
  }
  PathText tmp{};
  const int n = std::snprintf(tmp.data(), tmp.size(), "%s.%ld.tmp", link,
                              static_cast<long>(getpid()));
  if (n < 0 || static_cast<std::size_t>(n) >= tmp.size()) {
    std::fprintf(stderr, "adapter-sim: link path too long: %s\n", link);
    return false;
  }
  unlink(tmp.data());
  if (symlink(target, tmp.data()) != 0) {
    std::perror(tmp.data());
    return false;
  }
  if (rename(tmp.data(), link) != 0) {
    std::perror(link);
    unlink(tmp.data());
    return false;
  }
  return true;
}

// Removes the link if it still points at our slave (another instance may
// have taken the path over meanwhile).
void remove_link(const char *link, const char *target) {
  PathText now{};
  const ssize_t n = readlink(link, now.data(), now.size() - 1);
  if (n < 0) return;
  now[static_cast<std::size_t>(n)] = '\0';
  if (std::strcmp(now.data(), target) == 0) unlink(link);
}

// --- scenario --------------------------------------------------------------

std::array<char, adaptersim::kMaxScenarioBytes + 1> g_scenario_text{};
Scenario g_scenario{};

bool load_scenario(const Options &o) {
  std::string_view text = adaptersim::default_scenario_text();
  const char *name = "built-in demo scenario";
  if (o.scenario != nullptr) {
    name = o.scenario;
    std::FILE *f = std::fopen(o.scenario, "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "adapter-sim: %s: %s\n", o.scenario, std::strerror(errno));
      return false;
    }
    const std::size_t n = std::fread(g_scenario_text.data(), 1, g_scenario_text.size(), f);
    const bool read_error = std::ferror(f) != 0;
    std::fclose(f);
    if (read_error) {
      std::fprintf(stderr, "adapter-sim: %s: read error\n", o.scenario);
      return false;
    }
    if (n > adaptersim::kMaxScenarioBytes) {
      std::fprintf(stderr, "adapter-sim: %s: larger than %zu bytes\n", o.scenario,
                   adaptersim::kMaxScenarioBytes);
      return false;
    }
    text = std::string_view(g_scenario_text.data(), n);
  }
  adaptersim::ScenarioError err{};
  if (!adaptersim::parse_scenario(text, g_scenario, err)) {
    std::fprintf(stderr, "adapter-sim: %s:%zu: %s\n", name, err.line, err.message.data());
    return false;
  }
  if (!adaptersim::add_extra_devices(g_scenario, o.extra_devices)) {
    std::fprintf(stderr, "adapter-sim: %s: %zu devices plus %u extra devices exceed %zu\n", name,
                 g_scenario.device_count, static_cast<unsigned>(o.extra_devices),
                 adaptersim::kMaxDevices);
    return false;
  }
  return true;
}

// --- command log and traces ------------------------------------------------

std::array<char, adaptersim::kEscapedCommandCap> g_escaped{};

void log_command(std::FILE *log, std::string_view cmd, std::size_t dropped) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  adaptersim::escape_bytes(cmd, g_escaped.data(), g_escaped.size());
  std::fprintf(log, "%lld.%06ld %s", static_cast<long long>(ts.tv_sec), ts.tv_nsec / 1000,
               g_escaped.data());
  if (dropped > 0) std::fprintf(log, " [+%zu bytes dropped]", dropped);
  std::fputc('\n', log);
  std::fflush(log);
}

void trace_line(const char *prefix, std::string_view line) {
  adaptersim::escape_bytes(line, g_escaped.data(), g_escaped.size());
  std::printf("%s%s\n", prefix, g_escaped.data());
}

void trace_reaction(const Reaction &r, const adaptersim::Command &cmd, const Batch &out) {
  struct Named {
    unsigned bit;
    const char *text;
  };
  constexpr std::array<Named, 8> kNames{{
      {adaptersim::kFaultMissing, "answer dropped"},
      {adaptersim::kFaultGarbage, "garbage line"},
      {adaptersim::kFaultLong, "over-long line"},
      {adaptersim::kFaultRetry, "retry request instead of the answer"},
      {adaptersim::kFaultBadCrc, "wrong checksum"},
      {adaptersim::kResent, "held-back answer sent again"},
      {adaptersim::kSilent, "stopped: no answer"},
      {adaptersim::kConfigWrite, "configuration write"},
  }};
  for (const Named &n : kNames) {
    if ((r.events & n.bit) == 0) continue;
    if (n.bit == adaptersim::kConfigWrite) {
      std::array<char, 4 * adaptersim::kConfigStringLen + 1> config{};
      adaptersim::escape_bytes(cmd.config.data(), config.data(), config.size());
      std::printf("# %s %s to device %lu\n", n.text, config.data(),
                  static_cast<unsigned long>(cmd.index));
    } else {
      std::printf("# %s\n", n.text);
    }
  }
  std::string_view rest = out.bytes();
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    trace_line("< ", rest.substr(0, nl));
    rest = (nl == std::string_view::npos) ? std::string_view{} : rest.substr(nl + 1);
  }
}

// --- answer queue ----------------------------------------------------------

// Answers wait here until their due time and until the master takes them.
struct Pending {
  std::int64_t due_ms = 0;
  std::size_t sent = 0;
  Batch batch;
};

class AnswerQueue {
 public:
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == slots_.size(); }
  Pending &front() { return slots_[head_]; }
  // Next free slot; commit with push().
  Pending &back() { return slots_[(head_ + count_) % slots_.size()]; }
  void push() { ++count_; }
  void pop() {
    slots_[head_].batch.clear();
    head_ = (head_ + 1) % slots_.size();
    --count_;
  }

 private:
  std::array<Pending, kQueueSlots> slots_{};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

AnswerQueue g_queue;

// Writes whatever is due; stops at the first answer not yet due or when the
// terminal is full.
bool flush_due(int master, std::int64_t now) {
  bool wrote = false;
  while (!g_queue.empty() && g_queue.front().due_ms <= now) {
    Pending &p = g_queue.front();
    const std::string_view bytes = p.batch.bytes();
    while (p.sent < bytes.size()) {
      const ssize_t n = write(master, bytes.data() + p.sent, bytes.size() - p.sent);
      if (n > 0) {
        p.sent += static_cast<std::size_t>(n);
        wrote = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return wrote;
      p.sent = bytes.size();  // the terminal refuses it: drop the answer
    }
    g_queue.pop();
  }
  return wrote;
}

// Bytes written to the master that the reader of the slave has not taken yet.
int unread_bytes(int slave) {
  int n = 0;
  if (ioctl(slave, FIONREAD, &n) != 0) return 0;
  return n;
}

// --- main loop -------------------------------------------------------------

struct Session {
  const Options *options = nullptr;
  Adapter *adapter = nullptr;
  std::FILE *log = nullptr;
  adaptersim::LineSplitter splitter;
  int slave = -1;
  bool unplugging = false;
  std::int64_t unplug_deadline = 0;
  std::int64_t last_write = 0;
};

// --exit-after: the answers already sent reach the reader before the master
// closes (closing it discards what the slave has not read), within a limit.
bool unplug_now(const Session &s, std::int64_t now) {
  if (now >= s.unplug_deadline) return true;
  if (!g_queue.empty() || now - s.last_write < kUnplugSettleMs) return false;
  return unread_bytes(s.slave) == 0;
}

void start_unplug(Session &s, std::int64_t now) {
  s.unplugging = true;
  s.unplug_deadline = now + s.options->delay_ms + kUnplugGraceMs;
}

void handle_command(Session &s, std::string_view cmd, std::size_t dropped, std::int64_t now) {
  if (s.log != nullptr) log_command(s.log, cmd, dropped);
  if (s.options->verbose) trace_line("> ", cmd);
  if (g_queue.full()) {
    // The peer does not read; answers beyond the queue are lost, as on a
    // real line whose receiver is gone. The command still counts.
    static Batch scratch;
    scratch.clear();
    const Reaction r = s.adapter->handle(cmd, scratch);
    if (s.options->verbose) std::printf("# answer queue full, answer lost\n");
    if (r.unplug) start_unplug(s, now);
    return;
  }
  Pending &p = g_queue.back();
  p.batch.clear();
  p.sent = 0;
  p.due_ms = now + s.options->delay_ms;
  const Reaction r = s.adapter->handle(cmd, p.batch);
  if (s.options->verbose) trace_reaction(r, adaptersim::parse_command(cmd), p.batch);
  if (!p.batch.empty()) g_queue.push();
  if (r.unplug) start_unplug(s, now);
}

void feed_bytes(Session &s, const char *data, std::size_t n, std::int64_t now) {
  std::size_t off = 0;
  while (off < n && !s.unplugging) {
    off += s.splitter.push(data + off, n - off);
    if (s.splitter.has_line()) {
      handle_command(s, s.splitter.line(), s.splitter.dropped(), now);
      s.splitter.clear_line();
    }
  }
}

int run(Session &s, int master) {
  std::array<char, kReadChunk> buf{};
  std::int64_t master_pause_until = 0;
  for (;;) {
    if (g_stop != 0) return kExitOk;
    std::int64_t now = monotonic_ms();
    if (flush_due(master, now)) s.last_write = now;
    if (s.unplugging && unplug_now(s, now)) return kExitOk;

    int timeout = -1;
    bool want_write = false;
    if (!g_queue.empty()) {
      const std::int64_t due = g_queue.front().due_ms;
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
    fds[0] = {g_signal_pipe[0], POLLIN, 0};
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
        feed_bytes(s, buf.data(), static_cast<std::size_t>(n), now);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        master_pause_until = now + kMasterPauseMs;
      }
    } else if ((rev & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      master_pause_until = now + kMasterPauseMs;
    }
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  Options options{};
  std::array<char, 256> error{};
  switch (adaptersim::parse_options(argc, argv, options, error.data(), error.size())) {
    case adaptersim::OptionsResult::kHelp: {
      const std::string_view usage = adaptersim::usage_text();
      std::fwrite(usage.data(), 1, usage.size(), stdout);
      return kExitOk;
    }
    case adaptersim::OptionsResult::kError: {
      std::fprintf(stderr, "adapter-sim: %s\n\n", error.data());
      const std::string_view usage = adaptersim::usage_text();
      std::fwrite(usage.data(), 1, usage.size(), stderr);
      return kExitUsage;
    }
    case adaptersim::OptionsResult::kRun:
      break;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);

  if (!load_scenario(options)) return kExitUsage;

  std::FILE *log = nullptr;
  if (options.log != nullptr) {
    log = std::fopen(options.log, "a");
    if (log == nullptr) {
      std::fprintf(stderr, "adapter-sim: %s: %s\n", options.log, std::strerror(errno));
      return kExitSystem;
    }
  }
  if (!install_signals()) {
    std::perror("adapter-sim: pipe");
    return kExitSystem;
  }
  Terminal term{};
  if (!open_terminal(term)) return kExitSystem;
  if (!create_link(options.link, term.slave_path.data())) return kExitSystem;
  std::printf("adapter-sim: ready %s\n", term.slave_path.data());

  Adapter adapter(g_scenario, options.adapter);
  static Session session;  // holds the splitter's buffer; kept off the stack
  session.options = &options;
  session.adapter = &adapter;
  session.log = log;
  session.slave = term.slave;
  // --exit-after 0: unplugged before the first command.
  if (options.adapter.exit_after == 0) start_unplug(session, monotonic_ms());
  const int status = run(session, term.master);

  close(term.master);
  remove_link(options.link, term.slave_path.data());
  close(term.slave);
  if (log != nullptr) std::fclose(log);
  if (options.verbose) std::printf("adapter-sim: stopped after %llu commands\n",
                                   static_cast<unsigned long long>(adapter.commands()));
  return status;
}
