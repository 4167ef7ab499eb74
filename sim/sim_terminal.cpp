// Pseudo-terminal set-up, the link to it, and the unread-bytes probe of the stand-in.
#include "sim_terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace adaptersim {

namespace {

using PathText = std::array<char, PATH_MAX>;

}  // namespace

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

void remove_link(const char *link, const char *target) {
  PathText now{};
  const ssize_t n = readlink(link, now.data(), now.size() - 1);
  if (n < 0) return;
  now[static_cast<std::size_t>(n)] = '\0';
  if (std::strcmp(now.data(), target) == 0) unlink(link);
}

int unread_bytes(int slave) {
  int n = 0;
  if (ioctl(slave, FIONREAD, &n) != 0) return 0;
  return n;
}

}  // namespace adaptersim
