// Opening regular files only, never following a link in the output directory.
#include "core/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace core {

int open_regular(const char *path, int flags) {
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
  // blocking, and one with a reader opens without waiting; it has no effect
  // on the reads and writes of a regular file.
  int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular) {
    close(fd);
    errno = ENXIO;  // "No such device or address", as for a FIFO without a reader
    return -1;
  }
  return fd;
}

int open_outdir_file(const char *path, int flags) {
  return open_regular(path, flags | O_NOFOLLOW);
}

}  // namespace core
