// Filling closed standard descriptors.
#include "app/descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace app {

namespace {

constexpr int kStandardDescriptors = 3;  // standard input, output and error

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

// Puts a harmless open descriptor at number `fd`, which is closed.
void fill(int fd) {
  int placeholder = open("/dev/null", O_RDWR | O_NOCTTY);
  if (placeholder < 0) placeholder = open("/", O_RDONLY | O_DIRECTORY);
  if (placeholder < 0 || placeholder == fd) return;
  // A lower number was free as well; fill() runs from 0 up, so it is not.
  dup2(placeholder, fd);
  close(placeholder);
}

}  // namespace

void fill_standard_descriptors() {
  for (int fd = 0; fd < kStandardDescriptors; ++fd) {
    if (is_closed(fd)) fill(fd);
  }
}

}  // namespace app
