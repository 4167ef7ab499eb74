// Shared helpers of the unit tests.
#include "support/test_support.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/options.h"
#include "serial/serial_port.h"

namespace testsupport {

TempDir::TempDir() {
  char tmpl[] = "/tmp/kelvinlog-test-XXXXXX";
  const char *made = mkdtemp(tmpl);
  path_ = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  if (path_ != "/tmp") {
    int ignored = std::system(cmd.c_str());
    (void)ignored;
  }
}

ChdirGuard::ChdirGuard(const std::string &dir) {
  char buf[4096];
  old_ = getcwd(buf, sizeof buf) != nullptr ? buf : "/";
  if (chdir(dir.c_str()) != 0) std::perror(dir.c_str());
}

ChdirGuard::~ChdirGuard() {
  if (chdir(old_.c_str()) != 0) std::perror(old_.c_str());
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::time_t FakeClock::now = 0;
long FakeClock::ticks = 0;
long FakeClock::paused_seconds = 0;

namespace {

void fake_tick() { ++FakeClock::ticks; }
void fake_pause(unsigned seconds) { FakeClock::paused_seconds += seconds; }
std::time_t fake_now() { return FakeClock::now; }
// Each pass counts as one millisecond and each paused second as a thousand.
std::int64_t fake_monotonic_ms() { return FakeClock::ticks + FakeClock::paused_seconds * 1000; }
const EngineClock kFakeClock{fake_tick, fake_pause, fake_now, fake_monotonic_ms};

}  // namespace

void FakeClock::install(std::time_t start) {
  now = start;
  ticks = 0;
  paused_seconds = 0;
  install_clock(&kFakeClock);
}

void FakeClock::uninstall() { install_clock(nullptr); }

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
  slave_path_ = ptsname(master_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  slave_ = open_serial(slave_path_.c_str());
}

PtyPair::~PtyPair() {
  if (slave_ >= 0) close(slave_);
  close_master();
}

void PtyPair::send(const std::string &text) {
  ssize_t n = write(master_, text.data(), text.size());
  (void)n;
}

std::string PtyPair::drain() {
  std::string out;
  char buf[512];
  for (;;) {
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

void PtyPair::close_master() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

NotifySink::NotifySink(const std::string &name) : name_(name) {
  if (const char *old = std::getenv("NOTIFY_SOCKET")) {
    had_old_ = true;
    old_ = old;
  }
  setenv("NOTIFY_SOCKET", name.c_str(), 1);
  // Built here by hand, not by the code under test.
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.size() < 2 || name.size() >= sizeof addr.sun_path) return;
  std::memcpy(addr.sun_path, name.data(), name.size());
  socklen_t len = static_cast<socklen_t>(sizeof addr.sun_family + name.size() + 1);
  if (name[0] == '@') {
    addr.sun_path[0] = '\0';
    len = static_cast<socklen_t>(sizeof addr.sun_family + name.size());
  }
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr *>(&addr), len) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

NotifySink::~NotifySink() {
  if (fd_ >= 0) close(fd_);
  if (!name_.empty() && name_[0] == '/') unlink(name_.c_str());
  if (had_old_) {
    setenv("NOTIFY_SOCKET", old_.c_str(), 1);
  } else {
    unsetenv("NOTIFY_SOCKET");
  }
}

std::vector<std::string> NotifySink::take() {
  std::vector<std::string> got;
  char buf[4096];
  for (;;) {
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0) break;
    got.emplace_back(buf, static_cast<std::size_t>(n));
  }
  return got;
}

void prepare_context(PollContext *ctx, const std::string &outdir, int fd,
                     const std::string &config) {
  init_context(ctx);
  normalise_outdir(ctx->outdir.data(), kDirSize, outdir.c_str());
  copy_bounded(ctx->serial_path.data(), kDirSize, "/dev/test-serial", kSerialPathMax);
  ctx->fd = fd;
  copy_bounded(ctx->config.data(), kConfigSize, config.c_str(), kConfigMax);
}

}  // namespace testsupport
