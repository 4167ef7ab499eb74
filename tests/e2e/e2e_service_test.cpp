// Whole-process tests of the service face: --help/--version, the quiet option, notify datagrams.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "e2e_test_support.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr char kBanner[] = "start kelvinlog v1.01\r\n";

std::string demo_scenario() { return read_file(scenario_dir() + "/demo.txt"); }
std::string demo_config() { return read_file(scenario_dir() + "/demo-config.txt"); }

// Searches ("$?") the stand-in has received.
int searches(const StandIn &sim) { return count_text(sim.command_texts(), "$?"); }

// The logger on the demo bus of the stand-in, with extra environment entries.
struct DemoRun {
  explicit DemoRun(const std::string &options, const std::vector<std::string> &extra_env = {},
                   const std::vector<std::string> &sim_options = {}) {
    s.write_config(demo_config());
    std::vector<std::string> sim_args{"--scenario", write_scenario(s, demo_scenario())};
    sim_args.insert(sim_args.end(), sim_options.begin(), sim_options.end());
    sim = std::make_unique<StandIn>(s, sim_args);
    if (!sim->ok()) return;
    std::vector<std::string> env = plain_env();
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    logger = start_logger({sim->link(), s.out(), options}, s.work(), env);
  }
  bool ok() const { return sim && sim->ok() && logger != nullptr; }
  // Waits until `n` whole cycles are done: the search of cycle n + 1 has arrived.
  bool cycles(int n, Ms timeout) {
    return sim->wait_commands([n](const auto &c) { return count_text(c, "$?") >= n + 1; }, timeout);
  }

  Scratch s;
  std::unique_ptr<StandIn> sim;
  std::unique_ptr<Process> logger;
};

// --- --help and --version ------------------------------------------------------

struct InfoCase {
  const char *name;
  const char *arg;
  std::string expected_start;  // what standard output begins with
  bool whole;                  // standard output is exactly expected_start
};

void PrintTo(const InfoCase &c, std::ostream *os) { *os << c.name; }

const InfoCase kInfoCases[] = {
    {"version", "--version", "kelvinlog 1.01\n", true},
    {"help", "--help", "usage: kelvinlog DEVICE OUTDIR [-LETTERS]\n", false},
};

class E2EInfo : public ::testing::TestWithParam<InfoCase> {};

// The guard's ps, killall and rm are stubs that record every call: none may come.
TEST_P(E2EInfo, PrintsOnStandardOutputAndExitsWithoutTheGuard) {
  const InfoCase &c = GetParam();
  Scratch s;
  StubBin stubs(s);
  stubs.set_process_list("    PID TTY          TIME CMD\n    1 ?  00:00:01 kelvinlog\n"
                         "    2 ?  00:00:01 kelvinlog\n");
  auto logger = start_logger({c.arg}, s.work(), stubs.env());
  ASSERT_TRUE(logger);
  ASSERT_TRUE(logger->wait_exit(Ms(5000)));
  EXPECT_EQ(logger->exit_code(), 0);
  EXPECT_EQ(logger->err(), "");
  const std::string &out = logger->out();
  if (c.whole) {
    EXPECT_EQ(out, c.expected_start);
  } else {
    EXPECT_EQ(out.substr(0, c.expected_start.size()), c.expected_start);
    for (const char *letter : {"  d  ", "  q  ", "  l  ", "  f  ", "  m  "}) {
      EXPECT_NE(out.find(letter), std::string::npos) << "help lacks option" << letter;
    }
  }
  EXPECT_EQ(out.find("start kelvinlog"), std::string::npos) << "no banner";
  EXPECT_EQ(stubs.calls(), "");
  EXPECT_EQ(list_dir(s.work()), std::vector<std::string>{"out"});
}

// A text that cannot be written is a failure, not a success: exit 255.
TEST_P(E2EInfo, FailsWhenStandardOutputCannotBeWritten) {
  Scratch s;
  StubBin stubs(s);
  auto logger = start_logger({GetParam().arg}, s.work(), stubs.env(), "/dev/full");
  ASSERT_TRUE(logger);
  ASSERT_TRUE(logger->wait_exit(Ms(5000)));
  EXPECT_EQ(logger->exit_code(), 255);
  EXPECT_EQ(stubs.calls(), "");
}

TEST(E2EStandIn, HelpFailsWhenStandardOutputCannotBeWritten) {
  Scratch s;
  Process sim({sim_bin(), "--help"}, plain_env(), s.work(), "/dev/full");
  ASSERT_TRUE(sim.started());
  ASSERT_TRUE(sim.wait_exit(Ms(5000)));
  EXPECT_EQ(sim.exit_code(), 1);
}

INSTANTIATE_TEST_SUITE_P(E2EInfoTable, E2EInfo, ::testing::ValuesIn(kInfoCases),
                         [](const ::testing::TestParamInfo<InfoCase> &info) {
                           return std::string(info.param.name);
                         });

// --- quiet ---------------------------------------------------------------------

struct QuietCase {
  const char *name;
  const char *options;
  bool echo;                   // commands and lines are echoed
  std::vector<std::string> env;  // added to the logger's environment
};

void PrintTo(const QuietCase &c, std::ostream *os) { *os << c.name; }

const QuietCase kQuietCases[] = {
    {"f_echoes", "-f", true, {}},
    // A notify socket that is not there changes nothing either.
    {"fq_is_silent", "-fq", false, {"NOTIFY_SOCKET=/nonexistent/kelvinlog-notify"}},
    {"d_overrides_q", "-fqd", true, {}},
};

class E2EQuiet : public ::testing::TestWithParam<QuietCase> {};

TEST_P(E2EQuiet, HealthyBusPrintsOnlyTheBannerUnderQuiet) {
  const QuietCase &c = GetParam();
  DemoRun run(c.options, c.env);
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.cycles(2, Ms(20000)));
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(run.logger->err(), "");
  const std::string &out = run.logger->out();
  if (!c.echo) {
    EXPECT_EQ(out, kBanner);
  } else {
    EXPECT_EQ(out.substr(0, sizeof kBanner - 1), kBanner);
    EXPECT_GE(count_of(out, "o$?\n"), 2);
    EXPECT_NE(out.find("idn[0]="), std::string::npos);
    EXPECT_NE(out.find("kelvinlog-config.txt:\n"), std::string::npos);
  }
  // The files are written all the same.
  EXPECT_EQ(read_file(run.s.out_file("Kitchenv.txt")), "21.500\n");
  EXPECT_EQ(read_file(run.s.out_file("Atticv.txt")), "19.5\n");
}

INSTANTIATE_TEST_SUITE_P(E2EQuietTable, E2EQuiet, ::testing::ValuesIn(kQuietCases),
                         [](const ::testing::TestParamInfo<QuietCase> &info) {
                           return std::string(info.param.name);
                         });

struct StatusCase {
  const char *name;
  std::vector<std::string> sim_options;
  std::string kitchen_control;  // content of Kitcheno.txt, none when empty
  std::string line_start;       // the status line begins with this
};

void PrintTo(const StatusCase &c, std::ostream *os) { *os << c.name; }

const StatusCase kStatusCases[] = {
    // 58 extra sensors make 65 entries: one answer finds the table full.
    {"table_full", {"--extra-devices", "58"}, "",
     "device table full: 1 answers of this search dropped, 64 entries kept"},
    {"refused_configuration_string", {}, std::string("1;05;4\x01\n"), "control file "},
};

class E2EQuietStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(E2EQuietStatus, StatusLinesStayUnderQuiet) {
  const StatusCase &c = GetParam();
  Scratch s;
  s.write_config(demo_config());
  if (!c.kitchen_control.empty()) write_file(s.out_file("Kitcheno.txt"), c.kitchen_control);
  std::vector<std::string> sim_args{"--scenario", write_scenario(s, demo_scenario())};
  sim_args.insert(sim_args.end(), c.sim_options.begin(), c.sim_options.end());
  StandIn sim(s, sim_args);
  ASSERT_TRUE(sim.ok());
  auto logger = start_logger({sim.link(), s.out(), "-fq"}, s.work());
  ASSERT_TRUE(logger);
  ASSERT_TRUE(logger->wait_for("\n", Ms(20000), 2));
  ASSERT_TRUE(logger->terminate());
  const std::vector<std::string> lines = split_lines(logger->out());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\n", kBanner);
  EXPECT_EQ(lines[1].rfind(c.line_start, 0), 0u) << lines[1];
  if (!c.kitchen_control.empty()) {
    EXPECT_EQ(lines[1], "control file " + s.out_file("Kitcheno.txt") +
                            ": configuration string holds a control character, not sent");
  }
  EXPECT_EQ(logger->err(), "");
}

INSTANTIATE_TEST_SUITE_P(E2EQuietStatusTable, E2EQuietStatus, ::testing::ValuesIn(kStatusCases),
                         [](const ::testing::TestParamInfo<StatusCase> &info) {
                           return std::string(info.param.name);
                         });

// --- notify datagrams ----------------------------------------------------------

const std::regex kStatus(
    R"(WATCHDOG=1\nSTATUS=cycle (\d+): (\d+) devices, (\d+) answers, (\d+) bad checksums, last cycle (\d+) ms)");

struct NotifyCase {
  const char *name;
  bool abstract;
};

void PrintTo(const NotifyCase &c, std::ostream *os) { *os << c.name; }

class E2ENotify : public ::testing::TestWithParam<NotifyCase> {};

TEST_P(E2ENotify, ReadyThenWatchdogAndStatusAfterEachCycle) {
  NotifyListener listener(GetParam().abstract);
  ASSERT_TRUE(listener.ok());
  DemoRun run("-fq", {listener.var()});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(listener.wait_count(3, Ms(20000))) << listener.messages().size();
  const int searched = searches(*run.sim);
  ASSERT_TRUE(run.logger->terminate());

  const auto &got = listener.messages();
  EXPECT_EQ(got[0].rfind("READY=1\n", 0), 0u) << got[0];
  for (std::size_t i = 1; i < got.size(); ++i) {
    SCOPED_TRACE(got[i]);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[i], m, kStatus));
    EXPECT_EQ(std::stoul(m[1]), i);
    EXPECT_EQ(m[2], "7");  // five devices and the two S0 inputs
    EXPECT_EQ(m[3], "5");  // the S0 entries are not polled for data
    EXPECT_EQ(m[4], "0");
    // The 1 s pause after the search and 501 quiet passes at the least.
    EXPECT_GE(std::stol(m[5]), 1500);
    EXPECT_LT(std::stol(m[5]), 15000);
  }
  // One watchdog per completed cycle: a cycle is complete when the next search goes out.
  EXPECT_GE(searched, static_cast<int>(got.size()) - 1);
  EXPECT_EQ(run.logger->err(), "");
}

INSTANTIATE_TEST_SUITE_P(E2ENotifyTable, E2ENotify,
                         ::testing::Values(NotifyCase{"path", false}, NotifyCase{"abstract", true}),
                         [](const ::testing::TestParamInfo<NotifyCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(E2ENotifyFailure, ReceiverThatNeverReadsDoesNotStallTheLoop) {
  NotifyListener listener(true);
  ASSERT_TRUE(listener.ok());
  ASSERT_GT(listener.fill_queue(), 0);
  DemoRun run("-fq", {listener.var()});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.cycles(2, Ms(20000)));
  EXPECT_TRUE(run.logger->running());
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(run.logger->err(), "");
  EXPECT_EQ(run.logger->out(), kBanner);
}

}  // namespace
}  // namespace e2e
