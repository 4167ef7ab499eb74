// Shared set-up of the fuzz targets: workspace, clock, quiet stdout, serial line.
#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_file.h"
#include "app/options.h"
#include "core/clock.h"
#include "core/text.h"
#include "engine/device_table.h"

namespace fuzzsupport {

using namespace core;
using namespace engine;
using config::kConfigFileName;

const char *const kConfig =
    "# kelvinlog configuration used by the fuzz targets\n"
    "#28FF4A1B02170399;Old;QV-S0\n"
    "28FF4A1B02170312;Kitchen;QV-S0\r\n"
    "10A1B2C3D4E5F601;Hall\n"
    "28AABBCCDDEEFF01;Boiler room;spare;QV-HTX\n"
    "28000000000000AA;;QV-H\n"
    "28FFFFFFFFFFFF7E;A very long name indeed;QV-X\n"
    "10FFFFFFFFFFFF00;Attic;QV-DK-S0 #spare\n"
    "S01;Garage;800\n"
    "S02;;2000\n";

const char *const kIds[kKnownIds] = {
    "28FF4A1B02170312", "10A1B2C3D4E5F601", "28AABBCCDDEEFF01", "28000000000000AA",
    "28FFFFFFFFFFFF7E", "S01",              "S02",              "10FFFFFFFFFFFF00",
};

namespace {

std::time_t g_now = 1700000000;

void free_tick() {}
long free_wait(int, long) { return 1; }
void free_pause(unsigned) {}
std::time_t fake_now() { return g_now; }
std::int64_t fixed_monotonic_ms() { return 0; }
const EngineClock kFreeClock{free_tick, free_wait, free_pause, fake_now, fixed_monotonic_ms};

std::string make_dir() {
  struct stat st;
  const char *base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
  std::string tmpl = std::string(base) + "/kelvinlog-fuzz-XXXXXX";
  if (mkdtemp(&tmpl[0]) == nullptr) fail("mkdtemp", tmpl.c_str());
  return tmpl;
}

void remove_files_in(const std::string &dir, bool only_logs) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool log = name == "err.txt" || name == "debug.txt" ||
               (name.size() >= 5 && name.compare(name.size() - 5, 5, "e.txt") == 0);
    if (only_logs && !log) continue;
    if (name == kConfigFileName || name == "out") continue;
    unlink((dir + "/" + name).c_str());
  }
  closedir(d);
}

Workspace *g_workspace = nullptr;

void remove_workspace() {
  if (g_workspace == nullptr) return;
  remove_files_in(g_workspace->outdir, false);
  rmdir(g_workspace->outdir.c_str());
  unlink((g_workspace->dir + "/" + kConfigFileName).c_str());
  remove_files_in(g_workspace->dir, false);
  rmdir(g_workspace->dir.c_str());
}

}  // namespace

const Workspace &workspace() {
  if (g_workspace != nullptr) return *g_workspace;
  g_workspace = new Workspace;
  g_workspace->dir = make_dir();
  g_workspace->outdir = g_workspace->dir + "/out/";
  if (mkdir(g_workspace->outdir.c_str(), 0700) != 0) fail("mkdir", g_workspace->outdir.c_str());
  if (chdir(g_workspace->dir.c_str()) != 0) fail("chdir", g_workspace->dir.c_str());
  std::FILE *config = std::fopen(kConfigFileName, "w");
  if (config == nullptr || std::fputs(kConfig, config) < 0 || std::fclose(config) != 0) {
    fail("write", kConfigFileName);
  }
  std::atexit(remove_workspace);
  if (std::getenv("KELVINLOG_FUZZ_STDOUT") == nullptr) {
    std::fflush(stdout);
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) fail("redirect stdout", "/dev/null");
    close(null_fd);
  }
  install_clock(&kFreeClock);
  return *g_workspace;
}

void set_now(std::time_t now) { g_now = now; }

void tidy_outputs(unsigned every) {
  static unsigned calls = 0;
  if (++calls % every != 0) return;
  const Workspace &ws = workspace();
  remove_files_in(ws.dir, true);
  remove_files_in(ws.outdir, calls % (every * 16) != 0);
}

const SerialLine &serial_line() {
  static SerialLine line{-1, -1};
  if (line.logger >= 0) return line;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) {
    fail("socketpair", std::strerror(errno));
  }
  line.logger = sv[0];
  line.adapter = sv[1];
  return line;
}

std::size_t pending(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

std::string drain(int fd, std::size_t max) {
  std::string kept;
  char buf[1024];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    std::size_t room = max > kept.size() ? max - kept.size() : 0;
    kept.append(buf, static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room);
  }
  return kept;
}

void send_all(int fd, const void *data, std::size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) fail("write to the serial line", std::strerror(errno));
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

void fail(const char *what, const char *detail) {
  std::fprintf(stderr, "\n*** kelvinlog fuzz: %s: %s\n", what, detail);
  std::fflush(stderr);
  std::abort();
}

void prepare(PollContext *ctx, std::size_t entries, bool debug) {
  const Workspace &ws = workspace();
  core::init_context(ctx);
  app::normalise_outdir(ctx->outdir.data(), core::kDirSize, ws.outdir.c_str());
  ctx->fd = serial_line().logger;
  core::copy_bounded(ctx->config.data(), core::kConfigSize, kConfig, core::kConfigMax);
  ctx->debug = debug ? 1 : 0;
  clear_table(ctx);
  for (std::size_t i = 0; i < entries && i < kKnownIds; ++i) add_named_entry(ctx, kIds[i]);
}

}  // namespace fuzzsupport
