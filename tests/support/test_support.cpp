// Shared helpers of the unit tests.
#include "support/test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
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
const EngineClock kFakeClock{fake_tick, fake_pause, fake_now};

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

void prepare_context(PollContext *ctx, const std::string &outdir, int fd,
                     const std::string &config) {
  init_context(ctx);
  normalise_outdir(ctx->outdir.data(), kDirSize, outdir.c_str());
  copy_bounded(ctx->serial_path.data(), kDirSize, "/dev/test-serial", kSerialPathMax);
  ctx->fd = fd;
  copy_bounded(ctx->config.data(), kConfigSize, config.c_str(), kConfigMax);
}

}  // namespace testsupport
