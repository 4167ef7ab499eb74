// Tests of the regular-file opener.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/regular_file.h"
#include "support/test_support.h"

namespace {

using core::open_outdir_file;
using core::open_regular;

enum class Object { kRegular, kFifo, kFifoWithReader, kLinkToRegular, kDanglingLink, kDirectory,
                    kLinkToDevice, kNothing };

struct OpenCase {
  const char *name;
  Object object;
  bool outdir;  // open_outdir_file, else open_regular
  int flags;
  int error;    // 0: a descriptor is expected
};

void PrintTo(const OpenCase &c, std::ostream *os) { *os << c.name; }

const OpenCase kOpenCases[] = {
    {"regular_for_writing", Object::kRegular, true, O_WRONLY | O_TRUNC, 0},
    {"new_file_is_created", Object::kNothing, true, O_WRONLY | O_CREAT | O_TRUNC, 0},
    {"fifo_for_writing", Object::kFifo, true, O_WRONLY | O_CREAT | O_TRUNC, ENXIO},
    {"fifo_with_reader_for_writing", Object::kFifoWithReader, true, O_WRONLY | O_CREAT, ENXIO},
    {"fifo_for_update", Object::kFifo, true, O_RDWR, ENXIO},
    {"fifo_for_update_followed", Object::kFifo, false, O_RDWR, ENXIO},
    {"link_in_the_output_directory", Object::kLinkToRegular, true, O_RDWR, ELOOP},
    {"link_elsewhere_is_followed", Object::kLinkToRegular, false, O_RDWR, 0},
    {"dangling_link_is_not_created", Object::kDanglingLink, true, O_WRONLY | O_CREAT, ELOOP},
    {"directory", Object::kDirectory, true, O_RDWR, EISDIR},
    {"device_behind_a_link", Object::kLinkToDevice, false, O_WRONLY | O_TRUNC, ENXIO},
};

class RegularFile : public ::testing::TestWithParam<OpenCase> {
 protected:
  testsupport::TempDir dir;
};

TEST_P(RegularFile, OnlyARegularFileOpens) {
  const OpenCase &c = GetParam();
  const std::string path = dir.file("object");
  const std::string target = dir.file("target");
  int reader = -1;
  switch (c.object) {
    case Object::kRegular: testsupport::write_file(path, "kept\n"); break;
    case Object::kFifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); break;
    case Object::kFifoWithReader:
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(reader, 0);
      break;
    case Object::kLinkToRegular:
      testsupport::write_file(target, "kept\n");
      ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
      break;
    case Object::kDanglingLink: ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); break;
    case Object::kDirectory: ASSERT_EQ(mkdir(path.c_str(), 0700), 0); break;
    case Object::kLinkToDevice: ASSERT_EQ(symlink("/dev/null", path.c_str()), 0); break;
    case Object::kNothing: break;
  }
  errno = 0;
  alarm(10);  // an open that blocks ends the test instead of hanging it
  const mode_t mask = umask(002);  // a group-writable umask: a new file is 0664
  const int fd = c.outdir ? open_outdir_file(path.c_str(), c.flags)
                          : open_regular(path.c_str(), c.flags);
  const int error = errno;
  umask(mask);
  alarm(0);
  if (c.error == 0) {
    ASSERT_GE(fd, 0) << std::strerror(error);
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    if (c.object == Object::kNothing) {
      EXPECT_EQ(st.st_mode & 07777, 0664u);
    }
    close(fd);
  } else {
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(error, c.error) << std::strerror(error);
  }
  // Nothing was created, written or cut behind the object.
  if (c.object == Object::kLinkToRegular) {
    EXPECT_EQ(testsupport::read_file(target), "kept\n");
  }
  if (c.object == Object::kDanglingLink) {
    EXPECT_FALSE(testsupport::path_exists(target));
  }
  if (reader >= 0) {
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
  }
}

INSTANTIATE_TEST_SUITE_P(Objects, RegularFile, ::testing::ValuesIn(kOpenCases),
                         testsupport::CaseName());

}  // namespace
