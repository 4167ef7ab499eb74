// Tests of filling closed standard descriptors at start-up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/descriptors.h"
#include "support/death.h"
#include "support/param_name.h"

namespace {

struct ClosedCase {
  const char *name;
  std::vector<int> closed;  // descriptors closed before the call
};

void PrintTo(const ClosedCase &c, std::ostream *os) { *os << c.name; }

const ClosedCase kClosedCases[] = {
    {"stdin", {0}},
    {"stdout", {1}},
    {"stderr", {2}},
    {"stdout_and_stderr", {1, 2}},
    {"all_three", {0, 1, 2}},
    {"none", {}},
};

class StandardDescriptors : public ::testing::TestWithParam<ClosedCase> {};

bool same_file(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_rdev == b.st_rdev;
}

// In a child: closes the case's descriptors, fills them, and exits 0 when each
// closed one is /dev/null now, each open one is what it was, and the next
// open of a file takes a number above 2.
TEST_P(StandardDescriptors, ClosedOnesAreOpenedOnDevNull) {
  SKIP_UNLESS_FORK_WORKS();
  const ClosedCase &c = GetParam();
  EXPECT_EXIT(
      {
        struct stat null_st {};
        struct stat before[3] = {};
        int code = stat("/dev/null", &null_st) == 0 ? 0 : 10;
        for (int fd = 0; fd < 3; ++fd) fstat(fd, &before[fd]);
        for (int fd : c.closed) close(fd);
        app::fill_standard_descriptors();
        for (int fd = 0; fd < 3 && code == 0; ++fd) {
          struct stat now {};
          bool was_closed = false;
          for (int closed : c.closed) was_closed = was_closed || closed == fd;
          if (fstat(fd, &now) != 0) code = 20 + fd;
          else if (!same_file(now, was_closed ? null_st : before[fd])) code = 30 + fd;
        }
        const int next = open("/dev/null", O_RDONLY);
        if (code == 0 && next <= 2) code = 40;
        std::_Exit(code);
      },
      ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, StandardDescriptors, ::testing::ValuesIn(kClosedCases),
                         testsupport::CaseName());

}  // namespace
