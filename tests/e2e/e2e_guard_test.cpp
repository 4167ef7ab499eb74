// Whole-process tests of the single-instance guard, with stub ps, killall and rm.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

constexpr char kBanner[] = "start kelvinlog v1.01\r\n";
constexpr char kCheck[] = "check multiple running\r\n";
constexpr char kSingle[] = "kelvinlog runs not multiple and will be continued\r\n";
constexpr char kMultiple[] = "kelvinlog runs multiple and will be killed\r\n";
constexpr char kKilled[] = "kelvinlog\nkelvinlog-pi\n";

// A process list in the columns of "ps -A", one entry per command text.
std::string ps_list(const std::vector<std::string> &commands) {
  std::string text = "    PID TTY          TIME CMD\n";
  int pid = 1;
  for (const std::string &cmd : commands) {
    text += "  " + std::to_string(pid) + " ?        00:00:01 " + cmd + "\n";
    pid += 211;
  }
  return text;
}

// A list whose second copy's name ends at byte `end`: beyond 100000 bytes
// only "kelvinlo" of it is read.
std::string long_list(std::size_t end) {
  std::string text = ps_list({"kelvinlog"});
  const std::string tail = "  9999 ?        00:00:01 kelvinlog";
  const std::string pad = "  7777 ?        00:00:01 " + std::string(70, 'x') + "\n";
  while (text.size() + pad.size() + tail.size() + 1 <= end) text += pad;
  text += std::string(end - text.size() - tail.size() - 1, 'y') + "\n";
  return text + tail + "\n";
}

struct GuardCase {
  const char *name;
  std::optional<std::string> option;  // third argument, absent when empty
  std::vector<std::string> listed;    // commands in the process list
  bool guard_runs;
  const char *verdict;  // line printed after "check multiple running", or ""
  const char *first;    // first command the adapter receives
  std::string raw_list{};  // the whole process list instead, when not empty
};

void PrintTo(const GuardCase &c, std::ostream *os) { *os << c.name; }

const std::vector<std::string> kTwoCopies{"systemd", "kelvinlog", "sshd", "kelvinlog"};
const std::vector<std::string> kOneCopy{"systemd", "bash", "kelvinlog"};

const GuardCase kCases[] = {
    {"one_copy", std::nullopt, kOneCopy, true, kSingle, "$L-\n"},
    {"two_copies", std::nullopt, kTwoCopies, true, kMultiple, "$L-\n"},
    {"rrd_before_current", std::nullopt, {"kelvinlog-rrd", "kelvinlog"}, true, kSingle, "$L-\n"},
    {"rrd_after_current_hides_it", std::nullopt, {"kelvinlog", "kelvinlog-rrd"}, true, "",
     "$L-\n"},
    {"rrd_between_two_copies", std::nullopt, {"kelvinlog", "kelvinlog-rrd", "kelvinlog"}, true,
     kSingle, "$L-\n"},
    {"rrd_skipped_only_once", std::nullopt, {"kelvinlog-rrd", "kelvinlog-rrd"}, true, kSingle,
     "$L-\n"},
    {"pi_counts", std::nullopt, {"kelvinlog", "kelvinlog-pi"}, true, kMultiple, "$L-\n"},
    {"name_twice_in_one_entry", std::nullopt, {"kelvinlog /dev/ttyUSB0 /var/kelvinlog/"}, true,
     kMultiple, "$L-\n"},
    {"no_copy", std::nullopt, {"systemd", "bash"}, true, "", "$L-\n"},
    {"empty_list", std::nullopt, {}, true, "", "$L-\n"},
    {"option_f", std::string("-f"), kTwoCopies, false, "", "$L-\n"},
    {"option_m", std::string("-m"), kTwoCopies, false, "", "$L-\n"},
    {"option_lm", std::string("-lm"), kTwoCopies, false, "", "$L+\n"},
    {"no_dash_argument", std::string("debug"), kTwoCopies, false, "", "$L-\n"},
    {"empty_argument", std::string(""), kTwoCopies, false, "", "$L-\n"},
    {"lone_dash", std::string("-"), kTwoCopies, true, kMultiple, "$L-\n"},
    {"option_d", std::string("-d"), kOneCopy, true, kSingle, "$L-\n"},
    {"other_letters", std::string("-xl"), kOneCopy, true, kSingle, "$L+\n"},
    {"second_copy_ends_at_byte_100000", std::nullopt, {}, true, kMultiple, "$L-\n",
     long_list(100000)},
    {"second_copy_cut_at_byte_100000", std::nullopt, {}, true, kSingle, "$L-\n",
     long_list(100001)},
};

class E2EGuard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(E2EGuard, DecidesFromTheProcessList) {
  const GuardCase &c = GetParam();
  Scratch s;
  s.write_config("");
  StubBin stubs(s);
  stubs.set_process_list(c.raw_list.empty() ? ps_list(c.listed) : c.raw_list);
  PtyAdapter adapter;
  std::vector<std::string> args{adapter.slave_path(), s.out()};
  if (c.option) args.push_back(*c.option);
  auto logger = start_logger(args, s.work(), stubs.env());
  ASSERT_TRUE(logger);

  // Whatever the guard found, start-up goes on (killall is a stub) and opens the line.
  ASSERT_TRUE(adapter.wait_for("\n", Ms(5000))) << logger->out() << logger->err();
  EXPECT_EQ(adapter.received().substr(0, 4), c.first);
  ASSERT_TRUE(logger->wait_for(std::string("o") + c.first, Ms(5000)));
  ASSERT_TRUE(logger->terminate());

  std::string expected = kBanner;
  if (c.guard_runs) expected += std::string(kCheck) + c.verdict;
  expected += std::string("o") + c.first;
  EXPECT_EQ(logger->out().substr(0, expected.size()), expected);

  const bool killed = std::string(c.verdict) == kMultiple;
  std::string calls;
  if (c.guard_runs) calls = "ps -A\nrm kelvinlog-tmp\n";
  if (killed) calls += "killall kelvinlog\nkillall kelvinlog-pi\n";
  EXPECT_EQ(stubs.calls(), calls);
  EXPECT_EQ(stubs.killall_record(), killed ? kKilled : "");
  EXPECT_FALSE(path_exists(s.work() + "/kelvinlog-tmp"));
}

INSTANTIATE_TEST_SUITE_P(E2EGuardTable, E2EGuard, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<GuardCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(E2EGuardFailure, UnreadableProcessListEndsTheLogger) {
  Scratch s;
  s.write_config("");
  StubBin stubs(s);
  stubs.set_process_list(ps_list(kTwoCopies));
  // The shell cannot redirect into a directory, and fopen "r+" refuses it.
  const std::string list_path = s.work() + "/kelvinlog-tmp";
  ASSERT_EQ(mkdir(list_path.c_str(), 0755), 0);
  PtyAdapter adapter;
  auto logger = start_logger({adapter.slave_path(), s.out()}, s.work(), stubs.env());
  ASSERT_TRUE(logger);
  ASSERT_TRUE(logger->wait_exit(Ms(5000)));
  EXPECT_EQ(logger->exit_code(), 255);
  EXPECT_EQ(logger->out(),
            std::string(kBanner) + kCheck + "err not found: ps -A > kelvinlog-tmp \r\n");
  const std::string tail = "kelvinlog-tmp: Is a directory\n";
  const std::string &err = logger->err();
  ASSERT_GE(err.size(), tail.size()) << err;
  EXPECT_EQ(err.substr(err.size() - tail.size()), tail);
  EXPECT_TRUE(is_directory(list_path)) << "the list file is not removed";
  EXPECT_EQ(stubs.killall_record(), "");
  EXPECT_EQ(count_of(stubs.calls(), "rm "), 0);
  adapter.wait_for("\n", Ms(200));
  EXPECT_EQ(adapter.received(), "") << "the serial device is never written";
}

}  // namespace
}  // namespace e2e
