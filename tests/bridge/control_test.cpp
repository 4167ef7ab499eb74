// Switch commands: payloads, pending orders that must not be lost, the file written.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/control.h"
#include "bridge/files.h"
#include "bridge_test_support.h"

namespace {

using bridge::ControlCheck;

struct PayloadCase {
  const char *name;
  std::string payload;
  char state;  // 0: refused
};
void PrintTo(const PayloadCase &c, std::ostream *os) { *os << c.name; }

const PayloadCase kPayloads[] = {
    {"One", "1", '1'},
    {"Zero", "0", '0'},
    {"OneLineFeed", "1\n", '1'},
    {"ZeroLineFeed", "0\n", '0'},
    {"Empty", "", 0},
    {"Two", "2", 0},
    {"Eleven", "11", 0},
    {"CrLf", "1\r\n", 0},
    {"CarriageReturn", "1\r", 0},
    {"LeadingBlank", " 1", 0},
    {"TwoLineFeeds", "1\n\n", 0},
    {"ConfigurationString", "1;05;42", 0},
    {"NulAfterOne", std::string("1\0", 2), 0},
};

class SwitchPayload : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(SwitchPayload, OnlyZeroOrOneWithAtMostOneLineFeed) {
  const PayloadCase &c = GetParam();
  EXPECT_EQ(bridge::switch_payload(c.payload.data(), c.payload.size()), c.state);
}

INSTANTIATE_TEST_SUITE_P(Payloads, SwitchPayload, ::testing::ValuesIn(kPayloads),
                         [](const auto &info) { return std::string(info.param.name); });

struct ControlTextCase {
  const char *name;
  std::string text;
  ControlCheck check;
  char state;  // the switch state it stands for
};
void PrintTo(const ControlTextCase &c, std::ostream *os) { *os << c.name; }

const ControlTextCase kTexts[] = {
    {"On", "1\n", ControlCheck::kFree, '1'},
    {"OnWithoutLineEnd", "1", ControlCheck::kFree, '1'},
    {"Off", "0\n", ControlCheck::kFree, '0'},
    {"Empty", "", ControlCheck::kFree, '0'},
    {"UpperR", "R\n", ControlCheck::kFree, '0'},
    {"Other", "x\n", ControlCheck::kFree, '0'},
    {"Reset", "r\n", ControlCheck::kPendingReset, '0'},
    {"ResetWithoutLineEnd", "r", ControlCheck::kPendingReset, '0'},
    {"ConfigurationString", "1;05;42\n", ControlCheck::kPendingConfig, '1'},
    {"ConfigurationStringAndReset", "r;05;42\n", ControlCheck::kPendingConfig, '0'},
    {"BadSeparator", "1;05,42\n", ControlCheck::kFree, '1'},
    {"ShortConfiguration", "1;", ControlCheck::kFree, '1'},
    {"ShortButFifthSemicolon", "1;0;;", ControlCheck::kPendingConfig, '1'},
};

class ControlText : public ::testing::TestWithParam<ControlTextCase> {};

TEST_P(ControlText, PendingOrdersAreRecognisedAsTheLoggerReadsThem) {
  const ControlTextCase &c = GetParam();
  EXPECT_EQ(bridge::check_control_text(c.text.data(), c.text.size()), c.check);
  EXPECT_EQ(bridge::control_switch_state(c.text.data(), c.text.size()), c.state);
}

INSTANTIATE_TEST_SUITE_P(Texts, ControlText, ::testing::ValuesIn(kTexts),
                         [](const auto &info) { return std::string(info.param.name); });

// --- the file written --------------------------------------------------------

struct WriteCase {
  const char *name;
  std::function<void(const bridgetest::ScratchDir &)> before;  // plants the file
  bool ok;                                                     // the write is allowed
  bool changed;                                                // a new file was put in place
  std::string after;                                           // Metero.txt afterwards
};
void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

void plant(const bridgetest::ScratchDir &d, const std::string &text) {
  bridgetest::write_file(d.file("out/Metero.txt"), text);
}

const WriteCase kWrites[] = {
    {"Absent", [](const auto &) {}, true, true, "1\n"},
    {"Off", [](const auto &d) { plant(d, "0\n"); }, true, true, "1\n"},
    {"AlreadyOn", [](const auto &d) { plant(d, "1\n"); }, true, false, "1\n"},
    {"OnWithoutLineEnd", [](const auto &d) { plant(d, "1"); }, true, true, "1\n"},
    {"Junk", [](const auto &d) { plant(d, std::string(40, 'x')); }, true, true, "1\n"},
    {"PendingReset", [](const auto &d) { plant(d, "r\n"); }, false, false, "r\n"},
    {"PendingConfiguration", [](const auto &d) { plant(d, "0;05;42\n"); }, false, false, "0;05;42\n"},
    {"LinkToOutside",
     [](const auto &d) {
       bridgetest::write_file(d.file("victim"), "0\n");
       symlink(d.file("victim").c_str(), d.file("out/Metero.txt").c_str());
     },
     false, false, "0\n"},
    {"DanglingLink",
     [](const auto &d) { symlink(d.file("nowhere").c_str(), d.file("out/Metero.txt").c_str()); },
     false, false, "<missing>"},
    {"Fifo", [](const auto &d) { mkfifo(d.file("out/Metero.txt").c_str(), 0644); }, false, false,
     "<fifo>"},
    {"Directory", [](const auto &d) { mkdir(d.file("out/Metero.txt").c_str(), 0755); }, false,
     false, "<directory>"},
};

class SwitchWrite : public ::testing::TestWithParam<WriteCase> {};

std::vector<std::string> names_in(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);  // temporaries included
    }
    closedir(d);
  }
  return names;
}

TEST_P(SwitchWrite, ReplacesOnlyAFreeRegularFileAndLeavesNoTemporary) {
  const WriteCase &c = GetParam();
  bridgetest::ScratchDir d;
  ASSERT_EQ(mkdir(d.file("out").c_str(), 0755), 0);
  c.before(d);
  const int dirfd = open(d.file("out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dirfd, 0);
  bool changed = true;
  const char *why = nullptr;
  const bool ok = bridge::write_switch(dirfd, "Meter", '1', changed, why);
  close(dirfd);
  EXPECT_EQ(ok, c.ok) << (why != nullptr ? why : "");
  EXPECT_EQ(changed, c.changed);
  EXPECT_EQ(ok, why == nullptr);
  struct stat st {};
  const std::string path = d.file("out/Metero.txt");
  if (c.after == "<fifo>") {
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
  } else if (c.after == "<directory>") {
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
  } else {
    EXPECT_EQ(bridgetest::read_file(path), c.after);
  }
  if (std::string(c.name) == "LinkToOutside" || std::string(c.name) == "DanglingLink") {
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
    EXPECT_EQ(bridgetest::read_file(d.file("nowhere")), "<missing>") << "created through the link";
  }
  EXPECT_EQ(names_in(d.file("out")), std::vector<std::string>{"Metero.txt"});
}

INSTANTIATE_TEST_SUITE_P(Files, SwitchWrite, ::testing::ValuesIn(kWrites),
                         [](const auto &info) { return std::string(info.param.name); });

// The umask applies, but the group may always read and write: the logger
// opens a control file for reading and writing.
TEST(SwitchWriteMode, NewFileFollowsTheUmaskPlusGroupReadWrite) {
  bridgetest::ScratchDir d;
  const mode_t old = umask(027);
  const int dirfd = open(d.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool changed = false;
  const char *why = nullptr;
  EXPECT_TRUE(bridge::write_switch(dirfd, "Meter", '0', changed, why));
  close(dirfd);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(d.file("Metero.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(bridgetest::read_file(d.file("Metero.txt")), "0\n");
}

// Every other new file (the textfile) is 0666 less the umask, whatever the umask.
TEST(SwitchWriteMode, DefaultModeIsTheUmaskApplied) {
  for (const mode_t mask : {mode_t{002}, mode_t{022}, mode_t{077}}) {
    const mode_t old = umask(mask);
    const mode_t mode = bridge::default_file_mode();
    EXPECT_EQ(umask(old), mask) << "the umask is left as it was";
    EXPECT_EQ(mode, 0666 & ~mask) << std::oct << mask;
  }
}

}  // namespace
