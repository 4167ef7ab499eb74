// poll() over signals, inotify and the MQTT socket; the timer is poll's timeout.
#include "bridge/event_loop.h"

#include <fcntl.h>
#include <limits.h>
#include <mosquitto.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "bridge/clock.h"
#include "bridge/log.h"
#include "bridge/mqtt_link.h"
#include "bridge/state.h"

#ifndef KELVINLOG_BRIDGE_VERSION
#define KELVINLOG_BRIDGE_VERSION "0"
#endif

namespace bridge {

namespace {

constexpr std::uint32_t kOutdirMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kConfigMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD;
// The output directory's own name in its parent: removed, moved, made again.
constexpr std::uint32_t kParentMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD;
// Also checked on a timer: a file system mounted over it sends no event.
constexpr MonoMs kOutdirCheckMs = 15000;
constexpr int kStopWaitMs = 2000;  // at most this long for "offline" to leave at a stop

// A directory that holds the configuration (or the file a link points to).
struct ConfigWatch {
  int wd = -1;                            // inotify watch of the directory
  std::array<char, kPathSize> name{};     // the configuration's name in it
};

// Forwards the link's events to the state.
class StateListener final : public LinkListener {
 public:
  explicit StateListener(BridgeState &state) : state_(state) {}
  void link_connected() override { state_.on_connected(); }
  void link_disconnected() override { state_.on_disconnected(); }
  void link_message(const char *topic, const void *payload, std::size_t len, bool retain) override {
    state_.on_message(topic, payload, len, retain);
  }

 private:
  BridgeState &state_;
};

// Splits `path` into its directory ("." when none) and its last name.
bool split_path(const char *path, std::array<char, kPathSize> &dir,
                std::array<char, kPathSize> &name) {
  const char *slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::snprintf(dir.data(), dir.size(), ".");
    std::snprintf(name.data(), name.size(), "%s", path);
  } else {
    const int dlen = slash == path ? 1 : static_cast<int>(slash - path);
    std::snprintf(dir.data(), dir.size(), "%.*s", dlen, path);
    std::snprintf(name.data(), name.size(), "%s", slash + 1);
  }
  return name[0] != '\0';
}

void add_config_watch(int ifd, const char *path, std::array<ConfigWatch, 2> &watches,
                      std::size_t slot) {
  std::array<char, kPathSize> dir{};
  ConfigWatch &w = watches[slot];
  if (!split_path(path, dir, w.name)) return;
  w.wd = inotify_add_watch(ifd, dir.data(), kConfigMask);
  if (w.wd < 0) {
    log_line("%s: %s; changes of the configuration are not seen", shown(dir.data()).data(),
             std::strerror(errno));
  }
}

// The output directory as the bridge follows it: whatever directory its path
// names. While the path names none the bridge is blind and says so.
struct Outdir {
  const char *path = "";                 // as given
  int fd = -1;                           // the directory read; -1: blind
  int wd = -1;                           // its inotify watch
  int parent_wd = -1;                    // watch of its parent, for its name
  std::array<char, kPathSize> name{};    // its last name in the parent
  MonoMs check_at = 0;                   // next check on the timer
};

struct Events {
  bool reload = false;     // the configuration was written
  bool rescan = false;     // events were lost: read the whole directory
  bool check_dir = false;  // the output directory may be gone or replaced
};

// Watches the parent of the output directory for its name.
void watch_parent(int ifd, Outdir &o) {
  std::array<char, kPathSize> trimmed{};
  std::snprintf(trimmed.data(), trimmed.size(), "%s", o.path);
  for (std::size_t n = std::strlen(trimmed.data()); n > 1 && trimmed[n - 1] == '/';) trimmed[--n] = '\0';
  std::array<char, kPathSize> parent{};
  if (!split_path(trimmed.data(), parent, o.name) || std::strcmp(o.name.data(), ".") == 0 ||
      std::strcmp(o.name.data(), "..") == 0) {
    o.name[0] = '\0';
    return;
  }
  o.parent_wd = inotify_add_watch(ifd, parent.data(), kParentMask);
}

// Compares the directory read with the one the path names now; leaves,
// or takes up, the directory accordingly.
void check_outdir(int ifd, Outdir &o, BridgeState &state, Now now) {
  o.check_at = now.mono + kOutdirCheckMs;
  struct stat open_st {};
  struct stat path_st {};
  const bool named = stat(o.path, &path_st) == 0 && S_ISDIR(path_st.st_mode);
  if (o.fd >= 0) {
    if (fstat(o.fd, &open_st) == 0 && named && open_st.st_dev == path_st.st_dev &&
        open_st.st_ino == path_st.st_ino) {
      return;
    }
    log_line("output directory %s was removed, moved or replaced: offline until it is there again",
             shown(o.path).data());
    inotify_rm_watch(ifd, o.wd);
    close(o.fd);
    o.fd = -1;
    o.wd = -1;
    state.set_outdir(-1, now);
  }
  if (o.parent_wd < 0) watch_parent(ifd, o);
  if (!named) return;
  const int fd = open(o.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int wd = fd >= 0 ? inotify_add_watch(ifd, o.path, kOutdirMask) : -1;
  if (wd < 0) {
    if (fd >= 0) close(fd);
    return;
  }
  o.fd = fd;
  o.wd = wd;
  log_line("output directory %s is there again: reading it", shown(o.path).data());
  state.set_outdir(fd, now);
}

void drain_inotify(int ifd, Outdir &out, const std::array<ConfigWatch, 2> &config,
                   BridgeState &state, Now now, Events &ev) {
  alignas(inotify_event) char buf[8192];
  for (;;) {
    const ssize_t n = read(ifd, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t off = 0; off < n;) {
      const auto *e = reinterpret_cast<const inotify_event *>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      if ((e->mask & IN_Q_OVERFLOW) != 0) ev.rescan = true;
      if (e->wd == out.wd) {
        if ((e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) ev.check_dir = true;
        if (e->len > 0 && (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0) {
          state.on_file(e->name, now);
        }
      }
      if (e->wd == out.parent_wd) {
        if ((e->mask & IN_IGNORED) != 0) out.parent_wd = -1;  // the parent itself went
        if (e->len > 0 && std::strcmp(e->name, out.name.data()) == 0) ev.check_dir = true;
      }
      for (const ConfigWatch &w : config) {
        if (w.wd >= 0 && e->wd == w.wd && e->len > 0 && std::strcmp(e->name, w.name.data()) == 0) {
          ev.reload = true;
        }
      }
    }
  }
}

}  // namespace

int run_bridge(const BridgeOptions &opt, const char *password) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int sfd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  const int outdir_fd = open(opt.outdir.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (sfd < 0 || outdir_fd < 0) {
    log_line("output directory %s: %s", shown(opt.outdir.data()).data(), std::strerror(errno));
    return 1;
  }
  int prom_fd = -1;
  std::array<char, kPathSize> prom_dir{};
  std::array<char, kPathSize> prom_name{};
  if (opt.prom_file[0] != '\0') {
    const std::size_t len = std::strlen(opt.prom_file.data());
    if (len < 5 || std::strcmp(opt.prom_file.data() + len - 5, ".prom") != 0) {
      log_line("textfile %s: node_exporter reads only files whose names end in .prom",
               shown(opt.prom_file.data()).data());
    }
    if (split_path(opt.prom_file.data(), prom_dir, prom_name)) {
      prom_fd = open(prom_dir.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (prom_fd < 0) {
      log_line("textfile %s: its directory cannot be opened: %s",
               shown(opt.prom_file.data()).data(), std::strerror(errno));
      return 1;
    }
  }
  const int ifd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  Outdir out;
  out.path = opt.outdir.data();
  out.fd = outdir_fd;
  out.wd = ifd >= 0 ? inotify_add_watch(ifd, opt.outdir.data(), kOutdirMask) : -1;
  if (out.wd < 0) {
    log_line("output directory %s cannot be watched: %s", shown(opt.outdir.data()).data(),
             std::strerror(errno));
    return 1;
  }
  watch_parent(ifd, out);
  std::array<ConfigWatch, 2> config_watches{};
  add_config_watch(ifd, opt.config.data(), config_watches, 0);
  // Through a link, the file that is read lives elsewhere: watch that place too.
  if (char *real = realpath(opt.config.data(), nullptr)) {
    if (std::strcmp(real, opt.config.data()) != 0) add_config_watch(ifd, real, config_watches, 1);
    free(real);
  }

  mosquitto_lib_init();
  MqttLink link;
  auto state = std::make_unique<BridgeState>(opt, KELVINLOG_BRIDGE_VERSION, outdir_fd, prom_fd,
                                             prom_name.data(), link);
  StateListener listener(*state);
  Now now = clock_now();
  log_line("version %s: output directory %s, configuration %s, broker %s:%d, prefix %s",
           KELVINLOG_BRIDGE_VERSION, shown(opt.outdir.data()).data(),
           shown(opt.config.data()).data(), shown(opt.host.data()).data(), opt.port,
           shown(opt.prefix.data()).data());
  state->load_config(now);
  int status = 0;
  if (!link.start(opt, password, listener, now)) status = 1;
  while (status == 0) {
    now = clock_now();
    if (now.mono >= out.check_at) check_outdir(ifd, out, *state, now);
    const MonoMs a = state->service(now);
    const MonoMs b = link.service(now);
    MonoMs next = a < b ? a : b;
    if (out.check_at < next) next = out.check_at;
    int timeout = -1;
    if (next != kNever) {
      const MonoMs wait = next - now.mono;
      timeout = wait <= 0 ? 0 : (wait > INT_MAX ? INT_MAX : static_cast<int>(wait));
    }
    std::array<pollfd, 3> fds{};
    fds[0] = {sfd, POLLIN, 0};
    fds[1] = {ifd, POLLIN, 0};
    nfds_t count = 2;
    const int sock = link.socket();
    if (sock >= 0) {
      fds[2] = {sock, static_cast<short>(POLLIN | (link.want_write() ? POLLOUT : 0)), 0};
      count = 3;
    }
    if (poll(fds.data(), count, timeout) < 0) {
      if (errno == EINTR) continue;
      log_line("poll: %s", std::strerror(errno));
      status = 1;
      break;
    }
    now = clock_now();
    bool stop = false;
    bool hangup = false;
    signalfd_siginfo si{};
    while (read(sfd, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {
      if (si.ssi_signo == SIGHUP) {
        hangup = true;
      } else {
        stop = true;
      }
    }
    if (stop) break;
    Events ev;
    if ((fds[1].revents & POLLIN) != 0) drain_inotify(ifd, out, config_watches, *state, now, ev);
    if (ev.check_dir) check_outdir(ifd, out, *state, now);
    if (count == 3 && fds[2].revents != 0) link.on_socket(fds[2].revents, now);
    if (hangup) log_line("SIGHUP: reading the configuration and the output directory again");
    if (ev.reload || hangup) {
      state->load_config(now, hangup);
    } else if (ev.rescan) {
      log_line("inotify queue overflowed: reading the output directory again");
      state->rescan(now);
    }
  }
  link.stop(kStopWaitMs);
  log_line("stopped");
  close(ifd);
  close(sfd);
  if (out.fd >= 0) close(out.fd);
  if (prom_fd >= 0) close(prom_fd);
  mosquitto_lib_cleanup();
  return status;
}

}  // namespace bridge
