// Bounded reads that refuse links and FIFOs; replacement through rename().
#include "bridge/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace bridge {

namespace {

unsigned g_temp_counter = 0;  // makes each temporary name of this process new

ReadResult read_open_fd(int fd, char *buf, std::size_t max, bool whole, std::size_t &len,
                        struct stat *st) {
  struct stat own {};
  struct stat *s = st != nullptr ? st : &own;
  if (fstat(fd, s) != 0) return ReadResult::kError;
  if (!S_ISREG(s->st_mode)) return ReadResult::kNotRegular;
  while (len < max) {
    const ssize_t n = read(fd, buf + len, max - len);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::kError;
    if (n == 0) break;
    len += static_cast<std::size_t>(n);
  }
  buf[len] = '\0';
  if (whole && len == max) {
    char extra = 0;
    ssize_t n = 0;
    do n = read(fd, &extra, 1); while (n < 0 && errno == EINTR);
    if (n > 0) return ReadResult::kTooLong;
  }
  return ReadResult::kOk;
}

}  // namespace

ReadResult read_file_at(int dirfd, const char *name, char *buf, std::size_t max, bool whole,
                        std::size_t &len, struct stat *st) {
  len = 0;
  buf[0] = '\0';
  const int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return ReadResult::kMissing;
    if (errno == ELOOP || errno == ENXIO || errno == ENODEV) return ReadResult::kNotRegular;
    return ReadResult::kError;
  }
  const ReadResult r = read_open_fd(fd, buf, max, whole, len, st);
  const int saved = errno;
  close(fd);
  errno = saved;
  return r;
}

ReadResult read_path_prefix(const char *path, char *buf, std::size_t max, std::size_t &len) {
  len = 0;
  buf[0] = '\0';
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  const ReadResult r = read_open_fd(fd, buf, max, false, len, nullptr);
  const int saved = errno;
  close(fd);
  errno = saved;
  return r;
}

int replace_file_at(int dirfd, const char *name, const char *data, std::size_t len, mode_t mode) {
  char temp[64];
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    std::snprintf(temp, sizeof temp, ".kelvinlog-bridge.%ld.%u.tmp", static_cast<long>(getpid()),
                  ++g_temp_counter);
    fd = openat(dirfd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                mode);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  int rc = 0;
  if (fchmod(fd, mode) != 0) rc = errno;
  std::size_t done = 0;
  while (rc == 0 && done < len) {
    const ssize_t n = write(fd, data + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      rc = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 && rc == 0) rc = errno;
  if (rc == 0 && renameat(dirfd, temp, dirfd, name) != 0) rc = errno;
  if (rc != 0) unlinkat(dirfd, temp, 0);
  return rc;
}

mode_t default_file_mode() {
  const mode_t mask = umask(022);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

const char *describe(ReadResult r) {
  switch (r) {
    case ReadResult::kOk: return "read";
    case ReadResult::kMissing: return "missing";
    case ReadResult::kNotRegular: return "not a regular file";
    case ReadResult::kTooLong: return "longer than any value file";
    case ReadResult::kError: return "unreadable";
  }
  return "unreadable";
}

}  // namespace bridge
