// Whole-process tests of a faulty adapter, a crowded bus and a huge configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "e2e_test_support.h"
#include "harness.h"

namespace e2e {
namespace {

// Entries: Kitchen (0), Attic (1), S01 (2), S02 (3).
constexpr char kScenario[] =
    "device 28FF4A1B02170312 temp28 21.5\n"
    "device 10A1B2C3D4E5F607 temp10 19.5\n"
    "s0 100 200 1 1\n";
constexpr char kConfig[] =
    "28FF4A1B02170312;Kitchen\n"
    "10A1B2C3D4E5F607;Attic\n"
    "S01;Garage;800\n";
// Raw and value files of the four labels, S0 value files, the error log.
const std::set<std::string> kOwnFiles{
    "Kitchen.txt", "Kitchenv.txt", "Attic.txt", "Atticv.txt", "S01.txt", "S01v.txt",
    "S02.txt",     "S02v.txt",     "Garagev.txt", "err.txt"};

bool searches_logged(const std::vector<std::string> &c, int n) {
  return count_text(c, "$?") >= n;
}

// Commands of the `cycle`-th cycle (1-based): everything after its search up
// to the next search.
std::vector<std::string> cycle_polls(const std::vector<std::string> &commands, int cycle) {
  std::vector<std::string> polls;
  int seen = 0;
  for (const std::string &c : commands) {
    if (c == "$?") {
      if (++seen > cycle) break;
      continue;
    }
    if (seen == cycle) polls.push_back(c);
  }
  return polls;
}

struct FaultCase {
  const char *name;
  std::vector<std::string> options;
  bool own_files_only;  // the output directory holds only the bus's own labels
  std::function<void(StandInRun &)> outcome;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

void expect_values(StandInRun &run) {
  EXPECT_EQ(read_file(run.s.out_file("Kitchenv.txt")), temp28_text(21.5) + "\n");
  EXPECT_EQ(read_file(run.s.out_file("Atticv.txt")), temp10_text(19.5) + "\n");
  EXPECT_TRUE(path_exists(run.s.out_file("Garagev.txt")));
  EXPECT_FALSE(path_exists(run.s.out_file("err.txt")));
}

int data_line_count(const std::string &out) {
  int n = 0;
  for (int i = 0; i < 4; ++i) n += static_cast<int>(data_frames(out, i).size());
  return n;
}

const FaultCase kFaults[] = {
    {"retry_requests", {"--retry-rate", "1"}, true,
     [](StandInRun &run) {
       // Every "??" line the logger read was answered with one empty line.
       const int retries = count_of(run.logger->out(), "retry ");
       EXPECT_GE(retries, 2);
       EXPECT_TRUE(run.sim->wait_commands(
           [&](const auto &c) { return count_text(c, "") == retries; }, Ms(2000)))
           << "retry lines: " << retries;
     }},
    {"bad_checksums", {"--bad-crc-rate", "1"}, true,
     [](StandInRun &run) {
       const int frames = data_line_count(run.logger->out());
       EXPECT_GE(frames, 4);
       EXPECT_EQ(count_of(read_file(run.s.out_file("err.txt")), "\n"), frames);
       EXPECT_FALSE(path_exists(run.s.out_file("Kitchenv.txt")));
       EXPECT_FALSE(path_exists(run.s.out_file("Atticv.txt")));
       EXPECT_TRUE(path_exists(run.s.out_file("Kitchen.txt")));
     }},
    {"garbage_lines", {"--garbage-rate", "1"}, true,
     [](StandInRun &run) {
       expect_values(run);
       const std::string &out = run.logger->out();
       EXPECT_TRUE(std::any_of(out.begin(), out.end(),
                               [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
           << "garbage is echoed";
     }},
    {"overlong_lines", {"--long-rate", "1"}, true,
     [](StandInRun &run) {
       expect_values(run);
       // Each 300-character line is echoed as a 255-byte piece and the rest.
       int pieces = 0;
       for (const std::string &line : split_lines(run.logger->out())) {
         pieces += line.size() >= 256 && line[0] == 'i' && line[256] == 'i' ? 1 : 0;
       }
       EXPECT_GE(pieces, 4);
     }},
    {"missing_answers", {"--missing-rate", "0.5", "--seed", "7"}, true,
     [](StandInRun &run) {
       const auto commands = run.sim->command_texts();
       const std::vector<std::string> all{"$3", "$2", "$1", "$0"};
       EXPECT_EQ(cycle_polls(commands, 1), all);
       EXPECT_EQ(cycle_polls(commands, 2), all);
       const int device_polls = count_text(cycle_polls(commands, 1), "$0") +
                                count_text(cycle_polls(commands, 1), "$1") +
                                count_text(cycle_polls(commands, 2), "$0") +
                                count_text(cycle_polls(commands, 2), "$1");
       EXPECT_LT(static_cast<int>(data_frames(run.logger->out(), 0).size() +
                                  data_frames(run.logger->out(), 1).size()),
                 device_polls)
           << "no answer was dropped: the case tests nothing";
     }},
    {"everything_at_once",
     {"--retry-rate", "0.25", "--bad-crc-rate", "0.25", "--garbage-rate", "0.25", "--long-rate",
      "0.25", "--missing-rate", "0.25", "--seed", "11"},
     false,  // a retried answer may come late enough to stand for another entry
     [](StandInRun &) {}},
};

class E2EFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(E2EFault, LoggerKeepsCyclingAndWritesOnlyItsOwnFiles) {
  const FaultCase &c = GetParam();
  StandInRun run(kScenario, kConfig, c.options);
  ASSERT_TRUE(run.ok());
  // Two cycles full of faults, then a new search.
  ASSERT_TRUE(run.sim->wait_commands([](const auto &v) { return searches_logged(v, 3); },
                                     Ms(20000)))
      << run.logger->out();
  EXPECT_TRUE(run.logger->running());
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(run.logger->err(), "");
  c.outcome(run);
  for (const std::string &name : list_dir(run.s.out())) {
    EXPECT_TRUE(!c.own_files_only || kOwnFiles.count(name) == 1) << name;
    EXPECT_FALSE(is_directory(run.s.out_file(name))) << name;
  }
  expect_no_stray_files(run.before, run.s);
}

INSTANTIATE_TEST_SUITE_P(E2EFaultTable, E2EFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(E2EFaultBus, SilentAdapterLeavesTheLoggerSearching) {
  // The first command, one search and the four polls are answered; then nothing.
  StandInRun run(kScenario, kConfig, {"--stop-after", "6"});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.sim->wait_commands([](const auto &v) { return searches_logged(v, 4); },
                                     Ms(20000)));
  EXPECT_TRUE(run.logger->running());
  ASSERT_TRUE(run.logger->terminate());
  const auto commands = run.sim->command_texts();
  ASSERT_GE(commands.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 6),
            (std::vector<std::string>{"$L-", "$?", "$3", "$2", "$1", "$0"}));
  // Nothing answers the searches, so there is nothing to poll.
  for (std::size_t i = 6; i < commands.size(); ++i) EXPECT_EQ(commands[i], "$?") << i;
  EXPECT_EQ(read_file(run.s.out_file("Kitchenv.txt")), temp28_text(21.5) + "\n");
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EFaultBus, MoreThan64AnswersKeepTheFirst64) {
  StandInRun run("# only the generated sensors\n", "", {"--extra-devices", "70"});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.logger->wait_for(
      "device table full: 6 answers of this search dropped, 64 entries kept\n", Ms(10000)));
  ASSERT_TRUE(run.sim->wait_commands([](const auto &v) { return searches_logged(v, 2); },
                                     Ms(20000)));
  ASSERT_TRUE(run.logger->terminate());
  std::vector<std::string> expected_polls;
  for (int i = 63; i >= 0; --i) expected_polls.push_back("$" + std::to_string(i));
  EXPECT_EQ(cycle_polls(run.sim->command_texts(), 1), expected_polls);

  std::vector<std::string> expected_files;
  for (int i = 0; i < 64; ++i) {
    char rom[17];
    std::snprintf(rom, sizeof rom, "28E%013X", static_cast<unsigned>(i));
    expected_files.push_back(std::string(rom) + ".txt");
    expected_files.push_back(std::string(rom) + "v.txt");
    EXPECT_EQ(read_file(run.s.out_file(std::string(rom) + "v.txt")),
              temp28_text(20.0 + i / 16.0) + "\n")
        << rom;
  }
  std::sort(expected_files.begin(), expected_files.end());
  EXPECT_EQ(list_dir(run.s.out()), expected_files);
  expect_no_stray_files(run.before, run.s);
}

// A configuration of `size` bytes whose last line names the sensor; the part
// of it beyond 100000 bytes is never read.
std::string huge_config(std::size_t size) {
  const std::string line = "28FF4A1B02170312;Farther\n";
  std::string text;
  const std::string pad = "# " + std::string(97, '-') + "\n";
  while (text.size() + pad.size() + line.size() + 2 <= size) text += pad;
  text += "#" + std::string(size - text.size() - line.size() - 2, '.') + "\n";
  return text + line;
}

TEST(E2EFaultBus, HugeConfigurationNamesTheDeviceAtItsEnd) {
  struct Case {
    std::size_t size;
    const char *name;
  };
  // The whole file fits; then a file whose last five bytes ("ther\n") are cut.
  const Case cases[] = {{100000, "Farther"}, {100005, "Far"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    const std::string config = huge_config(c.size);
    ASSERT_EQ(config.size(), c.size);
    StandInRun run("device 28FF4A1B02170312 temp28 21.5\n", config, {});
    ASSERT_TRUE(run.ok());
    ASSERT_TRUE(run.logger->wait_for("idn[0]=" + std::string(c.name) + "\n", Ms(10000)));
    ASSERT_TRUE(run.searches(2, Ms(10000)));
    ASSERT_TRUE(run.logger->terminate());
    EXPECT_EQ(read_file(run.s.out_file(std::string(c.name) + "v.txt")), "21.500\n");
    expect_no_stray_files(run.before, run.s);
  }
}

}  // namespace
}  // namespace e2e
