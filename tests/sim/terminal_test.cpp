// The stand-in's terminal: the link it makes and removes, and the unread-bytes probe.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "sim_terminal.h"
#include "support/files.h"

namespace adaptersim {
namespace {

// The shared temporary directory, with a path operator and its listing.
class TempDir : public testsupport::TempDir {
 public:
  std::string operator/(const std::string &name) const { return file(name); }
  std::vector<std::string> names() const { return testsupport::list_dir(path()); }
};

std::string link_target(const std::string &path) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n < 0) return "";
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string file_text(const std::string &path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// --- creating the link ----------------------------------------------------

enum class Before { kNothing, kOurLink, kOtherLink, kDangling, kFile, kDirectory };

struct CreateCase {
  const char *name;
  Before before;   // what is at the link path beforehand
  bool created;    // the link points at the terminal afterwards
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const CreateCase &c, std::ostream *os) { *os << c.name; }

class TerminalLinkCreate : public ::testing::TestWithParam<CreateCase> {};

void make_before(const TempDir &dir, const std::string &link, Before before) {
  switch (before) {
    case Before::kNothing:
      break;
    case Before::kOurLink:
      ASSERT_EQ(symlink("/dev/pts/9999", link.c_str()), 0);
      break;
    case Before::kOtherLink:
      ASSERT_EQ(symlink((dir / "other").c_str(), link.c_str()), 0);
      std::ofstream(dir / "other") << "other\n";
      break;
    case Before::kDangling:
      ASSERT_EQ(symlink((dir / "gone").c_str(), link.c_str()), 0);
      break;
    case Before::kFile:
      std::ofstream(link) << "keep me\n";
      break;
    case Before::kDirectory:
      ASSERT_EQ(mkdir(link.c_str(), 0700), 0);
      std::ofstream(link + "/inside") << "keep me\n";
      break;
  }
}

TEST_P(TerminalLinkCreate, ReplacesOnlySymlinks) {
  const CreateCase &c = GetParam();
  TempDir dir;
  const std::string link = dir / "tty";
  make_before(dir, link, c.before);
  const std::vector<std::string> names_before = dir.names();

  EXPECT_EQ(create_link(link.c_str(), "/dev/pts/9999"), c.created);

  if (c.created) {
    EXPECT_EQ(link_target(link), "/dev/pts/9999");
  } else if (c.before == Before::kFile) {
    EXPECT_EQ(file_text(link), "keep me\n");
  } else if (c.before == Before::kDirectory) {
    EXPECT_EQ(file_text(link + "/inside"), "keep me\n");
  }
  // Nothing else appears or goes: no temporary link is left behind, and the
  // file an old link pointed at stays.
  std::vector<std::string> names_after = dir.names();
  std::vector<std::string> expected = names_before;
  if (c.before == Before::kNothing && c.created) expected.push_back("tty");
  std::sort(names_after.begin(), names_after.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names_after, expected);
}

const CreateCase kCreateCases[] = {
    {"free_path", Before::kNothing, true},
    {"our_old_link", Before::kOurLink, true},
    {"link_to_another_file", Before::kOtherLink, true},
    {"dangling_link", Before::kDangling, true},
    {"regular_file_is_kept", Before::kFile, false},
    {"directory_is_kept", Before::kDirectory, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, TerminalLinkCreate, ::testing::ValuesIn(kCreateCases),
                         [](const ::testing::TestParamInfo<CreateCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(TerminalLink, UnusablePathsAreRefused) {
  TempDir dir;
  EXPECT_FALSE(create_link((dir / "missing/tty").c_str(), "/dev/pts/9999"));
  const std::string too_long = dir / std::string(5000, 'x');
  EXPECT_FALSE(create_link(too_long.c_str(), "/dev/pts/9999"));
  EXPECT_TRUE(dir.names().empty());
}

// --- removing it -----------------------------------------------------------

struct RemoveCase {
  const char *name;
  Before before;  // what is at the link path at exit
  bool removed;   // the path is gone afterwards
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const RemoveCase &c, std::ostream *os) { *os << c.name; }

class TerminalLinkRemove : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(TerminalLinkRemove, RemovesOnlyALinkToOurTerminal) {
  const RemoveCase &c = GetParam();
  TempDir dir;
  const std::string link = dir / "tty";
  make_before(dir, link, c.before);
  remove_link(link.c_str(), "/dev/pts/9999");
  struct stat st {};
  EXPECT_EQ(lstat(link.c_str(), &st) != 0, c.removed || c.before == Before::kNothing);
}

const RemoveCase kRemoveCases[] = {
    {"our_link", Before::kOurLink, true},
    {"taken_over_by_another_instance", Before::kOtherLink, false},
    {"dangling_link_elsewhere", Before::kDangling, false},
    {"replaced_by_a_file", Before::kFile, false},
    {"replaced_by_a_directory", Before::kDirectory, false},
    {"already_gone", Before::kNothing, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, TerminalLinkRemove, ::testing::ValuesIn(kRemoveCases),
                         [](const ::testing::TestParamInfo<RemoveCase> &info) {
                           return std::string(info.param.name);
                         });

// --- the pseudo-terminal ---------------------------------------------------

// Waits (2 s at most) until the slave side holds `n` unread bytes.
bool wait_unread(int slave, int n) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (unread_bytes(slave) != n) {
    if (std::chrono::steady_clock::now() >= end) return false;
    poll(nullptr, 0, 5);
  }
  return true;
}

TEST(Terminal, UnreadBytesFollowWhatTheReaderTakes) {
  Terminal t{};
  ASSERT_TRUE(open_terminal(t));
  EXPECT_EQ(fcntl(t.master, F_GETFL) & O_NONBLOCK, O_NONBLOCK);
  EXPECT_EQ(fcntl(t.master, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(fcntl(t.slave, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(std::string(t.slave_path.data()).rfind("/dev/pts/", 0), 0u);
  EXPECT_EQ(unread_bytes(t.slave), 0);

  // Raw mode: a carriage return and a line feed arrive as they were sent.
  ASSERT_EQ(write(t.master, "0;o;28\r\n", 8), 8);
  ASSERT_TRUE(wait_unread(t.slave, 8));
  char buf[16] = {};
  ASSERT_EQ(read(t.slave, buf, 5), 5);
  EXPECT_EQ(unread_bytes(t.slave), 3);
  ASSERT_EQ(read(t.slave, buf + 5, 3), 3);
  EXPECT_EQ(std::string(buf, 8), "0;o;28\r\n");
  EXPECT_EQ(unread_bytes(t.slave), 0);

  close(t.master);
  close(t.slave);
  EXPECT_EQ(unread_bytes(-1), 0);  // cannot be told: nothing held back
}

}  // namespace
}  // namespace adaptersim
