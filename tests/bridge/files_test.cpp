// Bounded reads that refuse links and FIFOs, and replacement through rename().
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/files.h"
#include "bridge_test_support.h"

namespace {

using bridge::ReadResult;

struct ReadCase {
  const char *name;
  void (*plant)(const bridgetest::ScratchDir &d);  // puts something at "f"
  bool whole;                                      // whole read (value files) or prefix
  ReadResult result;
  std::string text;  // what was read
};
void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

constexpr std::size_t kMax = 8;

const ReadCase kReads[] = {
    {"Regular", [](const auto &d) { bridgetest::write_file(d.file("f"), "abc\n"); }, true,
     ReadResult::kOk, "abc\n"},
    {"ExactlyTheBound", [](const auto &d) { bridgetest::write_file(d.file("f"), "12345678"); },
     true, ReadResult::kOk, "12345678"},
    {"OneByteTooLong", [](const auto &d) { bridgetest::write_file(d.file("f"), "123456789"); },
     true, ReadResult::kTooLong, "12345678"},
    {"PrefixOfALongFile", [](const auto &d) { bridgetest::write_file(d.file("f"), "123456789"); },
     false, ReadResult::kOk, "12345678"},
    {"Empty", [](const auto &d) { bridgetest::write_file(d.file("f"), ""); }, true,
     ReadResult::kOk, ""},
    {"Missing", [](const auto &) {}, true, ReadResult::kMissing, ""},
    {"Link",
     [](const auto &d) {
       bridgetest::write_file(d.file("target"), "abc\n");
       symlink(d.file("target").c_str(), d.file("f").c_str());
     },
     true, ReadResult::kNotRegular, ""},
    {"DanglingLink", [](const auto &d) { symlink(d.file("nowhere").c_str(), d.file("f").c_str()); },
     true, ReadResult::kNotRegular, ""},
    {"Fifo", [](const auto &d) { mkfifo(d.file("f").c_str(), 0644); }, false,
     ReadResult::kNotRegular, ""},
    {"Directory", [](const auto &d) { mkdir(d.file("f").c_str(), 0755); }, true,
     ReadResult::kNotRegular, ""},
};

class ReadFileAt : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadFileAt, BoundedRegularFilesOnly) {
  const ReadCase &c = GetParam();
  bridgetest::ScratchDir d;
  c.plant(d);
  const int dirfd = open(d.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  char buf[kMax + 1];
  std::memset(buf, 'x', sizeof buf);
  std::size_t len = 99;
  EXPECT_EQ(bridge::read_file_at(dirfd, "f", buf, kMax, c.whole, len), c.result);
  close(dirfd);
  if (c.result == ReadResult::kOk || c.result == ReadResult::kTooLong) {
    EXPECT_EQ(std::string(buf, len), c.text);
  } else {
    EXPECT_EQ(len, 0u);
  }
  EXPECT_EQ(buf[len], '\0');
}

INSTANTIATE_TEST_SUITE_P(Files, ReadFileAt, ::testing::ValuesIn(kReads),
                         [](const auto &info) { return std::string(info.param.name); });

std::vector<std::string> names_in(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *dp = opendir(dir.c_str())) {
    while (const dirent *e = readdir(dp)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(dp);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReplaceFileAt, RenamesAWholeNewFileIntoPlace) {
  bridgetest::ScratchDir d;
  bridgetest::write_file(d.file("k.prom"), "old\n");
  const int dirfd = open(d.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_EQ(bridge::replace_file_at(dirfd, "k.prom", "new\n", 4, 0640), 0);
  close(dirfd);
  EXPECT_EQ(bridgetest::read_file(d.file("k.prom")), "new\n");
  struct stat st {};
  ASSERT_EQ(stat(d.file("k.prom").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(names_in(d.path()), std::vector<std::string>{"k.prom"});
}

TEST(ReplaceFileAt, AFailedRenameLeavesNoTemporaryAndTheTargetAsItWas) {
  bridgetest::ScratchDir d;
  ASSERT_EQ(mkdir(d.file("k.prom").c_str(), 0755), 0);
  bridgetest::write_file(d.file("k.prom/inside"), "x");  // a non-empty directory
  const int dirfd = open(d.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_NE(bridge::replace_file_at(dirfd, "k.prom", "new\n", 4, 0644), 0);
  close(dirfd);
  EXPECT_EQ(names_in(d.path()), std::vector<std::string>{"k.prom"});
  EXPECT_EQ(bridgetest::read_file(d.file("k.prom/inside")), "x");
}

}  // namespace
