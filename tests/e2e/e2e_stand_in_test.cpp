// Whole-process tests of enumeration, polling, control files and output files.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e_test_support.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr char kKitchen[] = "28FF4A1B02170312";
const std::string kOneSensor = std::string("device ") + kKitchen + " temp28 21.5\n";
const std::regex kTimestamp(R"(\d\d\.\d\d\.\d+ \d\d:\d\d:\d\d)");

std::vector<std::string> head(const std::vector<std::string> &v, std::size_t n) {
  return std::vector<std::string>(v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

// --- enumeration and polling -------------------------------------------------

TEST(E2EPoll, ThreeDevicesArePolledLastToFirst) {
  StandInRun run(
      "device 28AA000000000001 temp28 10.0\n"
      "device 28AA000000000002 temp28 -0.5\n"
      "device 10AA000000000003 temp10 30.5\n",
      "28AA000000000001;Alpha\n28AA000000000002;Beta\n10AA000000000003;Gamma\n", {});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(2, Ms(10000)));
  ASSERT_TRUE(run.sim->wait_commands([](const auto &c) { return c.size() >= 6; }, Ms(2000)));
  EXPECT_EQ(head(run.sim->command_texts(), 6),
            (std::vector<std::string>{"$L-", "$?", "$2", "$1", "$0", "$?"}));
  EXPECT_NE(run.logger->out().find("idn[2]=Gamma\nidn[1]=Beta\nidn[0]=Alpha\n"),
            std::string::npos);
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(read_file(run.s.out_file("Alphav.txt")), temp28_text(10.0) + "\n");
  EXPECT_EQ(read_file(run.s.out_file("Betav.txt")), temp28_text(-0.5) + "\n");
  EXPECT_EQ(read_file(run.s.out_file("Gammav.txt")), temp10_text(30.5) + "\n");
  expect_no_stray_files(run.before, run.s);
}

// The trace under d gives the pass at which each line was taken, with the
// real clock and the loop sleeping until due: the search answers, which come
// during the pause after "$?", one per pass from the load pass on (rxz 0, 1,
// 1 from the second cycle on), and each data line a pass or a few after its poll, always before the
// next poll (101 passes on), so it is taken as the answer of the entry polled.
TEST(E2EPoll, DebugTraceShowsEachLineTakenAtItsPass) {
  StandInRun run(
      "device 28AA000000000001 temp28 10.0\n"
      "device 28AA000000000002 temp28 -0.5\n"
      "device 28AA000000000003 temp28 30.5\n",
      "", {}, "out", "-df");
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(4, Ms(15000)));
  ASSERT_TRUE(run.logger->terminate());
  const std::regex traced(R"(\r\ni(\d+);o;[^\n]*\n, eep=-?\d+, idi=(\d+), state=(\d), rxz=(\d+)\r)");
  const std::string &out = run.logger->out();
  std::vector<int> search_rxz;
  int answers = 0;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), traced); it != std::sregex_iterator();
       ++it) {
    const std::smatch &m = *it;
    const int rxz = std::stoi(m[4]);
    if (m[3] == "1") {
      search_rxz.push_back(rxz);
      continue;
    }
    ++answers;
    EXPECT_EQ(m[1], m[2]) << "answer taken as another entry's: " << m[0];
    EXPECT_LE(rxz, 50) << m[0];
  }
  EXPECT_GE(answers, 9);
  // The first load pass takes the answer to the first command instead.
  ASSERT_GE(search_rxz.size(), 9u);
  for (std::size_t k = 3; k < search_rxz.size(); ++k) {
    EXPECT_EQ(search_rxz[k], k % 3 == 0 ? 0 : 1) << k;
  }
}

TEST(E2EPoll, EditedConfigurationNamesTheDeviceFromTheNextCycle) {
  StandInRun run(kOneSensor, "# nothing named yet\n", {});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.logger->wait_for("o$0\n", Ms(10000)));
  run.s.write_config(std::string(kKitchen) + ";Renamed\n");
  const std::size_t edited_at = run.logger->out().size();
  ASSERT_TRUE(run.logger->wait_for("idn[0]=Renamed\n", Ms(10000)));
  EXPECT_GE(run.logger->out().find("idn[0]="), edited_at) << "named before the edit";
  // The next search comes after the answer to this cycle's poll.
  ASSERT_TRUE(run.searches(count_of(run.logger->out(), kSearchEcho) + 1, Ms(10000)));
  ASSERT_TRUE(run.logger->terminate());
  // The ROM-id files stay from the first cycle; the named ones follow.
  EXPECT_EQ(read_file(run.s.out_file(std::string(kKitchen) + "v.txt")), "21.500\n");
  EXPECT_EQ(read_file(run.s.out_file("Renamedv.txt")), "21.500\n");
  EXPECT_TRUE(path_exists(run.s.out_file("Renamed.txt")));
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EPoll, DeviceReportedTwiceIsPolledTwice) {
  // The stand-in keeps its ROM ids unique, so the test plays this bus itself.
  Scratch s;
  s.write_config(std::string(kKitchen) + ";Twin\n");
  PtyAdapter adapter;
  auto logger = start_logger({adapter.slave_path(), s.out(), "-f"}, s.work());
  ASSERT_TRUE(logger);
  const std::string frame = "58 01 4B 46 7F FF 0C 10 1C A0 00";  // 21.5 degrees, good sum
  ASSERT_TRUE(checksum_matches(frame));
  ASSERT_TRUE(adapter.wait_lines(2, Ms(5000)));
  adapter.send("0;o;" + std::string(kKitchen) + "\n1;o;" + kKitchen + "\n");
  ASSERT_TRUE(adapter.wait_lines(3, Ms(5000)));
  EXPECT_EQ(adapter.lines()[2].text, "$1");
  adapter.send("1;o;" + frame + "\n");
  ASSERT_TRUE(adapter.wait_lines(4, Ms(5000)));
  EXPECT_EQ(adapter.lines()[3].text, "$0");
  adapter.send("0;o;" + frame + "\n");
  ASSERT_TRUE(adapter.wait_lines(5, Ms(5000)));
  EXPECT_EQ(adapter.lines()[4].text, "$?");
  ASSERT_TRUE(logger->terminate());
  EXPECT_NE(logger->out().find("idn[1]=Twin\nidn[0]=Twin\n"), std::string::npos);
  EXPECT_EQ(read_file(s.out_file("Twinv.txt")), "21.500\n");
  EXPECT_EQ(read_file(s.out_file("Twin.txt")), frame.substr(0, 27) + "\n");
}

// --- control files -----------------------------------------------------------

TEST(E2EControl, ConfigurationStringIsSentOnceAndLogged) {
  StandInRun run(kOneSensor, std::string(kKitchen) + ";Kitchen\n", {}, "out", "-f",
                 [](const Scratch &s) { write_file(s.out_file("Kitcheno.txt"), "1;05;42\n"); });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.sim->wait_commands([](const auto &c) { return count_text(c, "$?") >= 3; },
                                     Ms(15000)));
  ASSERT_TRUE(run.logger->terminate());
  const auto commands = run.sim->command_texts();
  EXPECT_EQ(count_text(commands, "$0;1;05;42"), 1);
  // From then on the file holds only its switch character: output on.
  EXPECT_EQ(read_file(run.s.out_file("Kitcheno.txt")), "1\n");
  EXPECT_GE(count_text(commands, "$0;11"), 1);
  EXPECT_EQ(head(commands, 6),
            (std::vector<std::string>{"$L-", "$?", "$0;1;05;42", "$?", "$0;11", "$?"}));
  EXPECT_NE(run.logger->out().find(
                "o$0;1;05;42\n id=28FF4A1B02170312 eep=0, idi=0, state=2, rxz=0 blingo\n"),
            std::string::npos);

  const auto frames = data_frames(run.logger->out(), 0);
  ASSERT_GE(frames.size(), 2u);
  const std::string log = read_file(run.s.out_file("Kitchene.txt"));
  ASSERT_EQ(count_of(log, "\n"), 1) << log;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, kTimestamp));
  EXPECT_EQ(m.position(0), 0);
  EXPECT_EQ(log.substr(static_cast<std::size_t>(m.length(0))),
            "; 1;05;42 ;" + frames[0].substr(0, 27) + "\n");
  // The raw file comes from the second cycle only; the value from both.
  EXPECT_EQ(read_file(run.s.out_file("Kitchen.txt")), frames[1].substr(0, 27) + "\n");
  EXPECT_EQ(read_file(run.s.out_file("Kitchenv.txt")), "21.500\n");
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EControl, ResetRequestPrecedesTheNextSearch) {
  StandInRun run(kOneSensor, std::string(kKitchen) + ";Kitchen\n", {}, "out", "-f",
                 [](const Scratch &s) { write_file(s.out_file("Kitcheno.txt"), "r\n"); });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.sim->wait_commands([](const auto &c) { return count_text(c, "$?") >= 3; },
                                     Ms(15000)));
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(head(run.sim->command_texts(), 7),
            (std::vector<std::string>{"$L-", "$?", "$0", "$res", "$?", "$0;00", "$?"}));
  EXPECT_EQ(read_file(run.s.out_file("Kitcheno.txt")), "0\n");
  const std::string &out = run.logger->out();
  EXPECT_NE(out.find("o$res\no$?\n"), std::string::npos);
  EXPECT_EQ(count_of(out, "i$res;ok"), 0) << "the answer to the reset is read and dropped";
  EXPECT_EQ(count_of(out, "o$res\n"), 1);
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EControl, MissingOutputDirectoryEndsTheLoggerWithItsPath) {
  StandInRun run(kOneSensor, "", {}, "missing-outdir");
  ASSERT_TRUE(run.ok());
  const std::string outdir = run.s.work() + "/missing-outdir";
  ASSERT_TRUE(run.logger->wait_exit(Ms(10000)));
  EXPECT_EQ(run.logger->exit_code(), 255);
  // The first file to write is the sensor's raw file.
  EXPECT_EQ(run.logger->err(), outdir + "/" + kKitchen + ".txt: No such file or directory\n");
  EXPECT_FALSE(path_exists(outdir)) << "the output directory is never created";
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EControl, ConfigurationStringsWaitTheirTurnAndMalformedOnesStay) {
  // Entries 3 to 0 are polled in that order; one configuration write per cycle.
  StandInRun run(
      "device 28AA000000000000 temp28 1.0\n"
      "device 28AA000000000001 temp28 2.0\n"
      "device 28AA000000000002 temp28 3.0\n"
      "device 28AA000000000003 temp28 4.0\n",
      "28AA000000000000;Zero\n28AA000000000001;One\n28AA000000000002;Two\n"
      "28AA000000000003;Three\n",
      {}, "out", "-f", [](const Scratch &s) {
        write_file(s.out_file("Threeo.txt"), "1;05;42\n");  // sent in the first cycle
        write_file(s.out_file("Twoo.txt"), "0;07;01\n");    // waits for the second
        write_file(s.out_file("Oneo.txt"), "1;05,42\n");    // fifth character not ';'
        write_file(s.out_file("Zeroo.txt"), "1;05;4\n");    // line end inside the string
      });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.sim->wait_commands([](const auto &c) { return count_text(c, "$?") >= 4; },
                                     Ms(20000)));
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(head(run.sim->command_texts(), 14),
            (std::vector<std::string>{"$L-", "$?", "$3;1;05;42", "$2", "$1", "$0", "$?",
                                      "$3;11", "$2;0;07;01", "$1", "$0", "$?", "$3;11", "$2;00"}));
  EXPECT_EQ(read_file(run.s.out_file("Threeo.txt")), "1\n");
  EXPECT_EQ(read_file(run.s.out_file("Twoo.txt")), "0\n");
  EXPECT_EQ(read_file(run.s.out_file("Oneo.txt")), "1;05,42\n");
  EXPECT_EQ(read_file(run.s.out_file("Zeroo.txt")), "1;05;4\n");
  EXPECT_EQ(count_of(read_file(run.s.out_file("Threee.txt")), "\n"), 1);
  EXPECT_EQ(count_of(read_file(run.s.out_file("Twoe.txt")), "\n"), 1);
  EXPECT_FALSE(path_exists(run.s.out_file("Zeroe.txt")));
  // The malformed string is looked at only in a cycle without another write: the third.
  const std::string &out = run.logger->out();
  const std::string status = "control file " + run.s.out_file("Zeroo.txt") +
                             ": configuration string holds a control character, not sent\n";
  std::size_t third_cycle = 0;
  for (int i = 0; i < 3; ++i) third_cycle = out.find(kSearchEcho, third_cycle + 1);
  ASSERT_NE(third_cycle, std::string::npos);
  EXPECT_EQ(out.find(status), out.find(status, third_cycle));
  EXPECT_NE(out.find(status), std::string::npos);
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EControl, UnansweredConfigurationWriteIsGivenUpAfterTenRepeats) {
  // No poll is ever answered; the search still is.
  StandInRun run(
      "device 28FF4A1B02170312 temp28 21.5\ndevice 10A1B2C3D4E5F607 temp10 19.5\n",
      "28FF4A1B02170312;Kitchen\n10A1B2C3D4E5F607;Attic\n", {"--missing-rate", "1"}, "out", "-f",
      [](const Scratch &s) { write_file(s.out_file("Attico.txt"), "1;05;42\n"); });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.sim->wait_commands([](const auto &c) { return count_text(c, "$?") >= 3; },
                                     Ms(20000)));
  ASSERT_TRUE(run.logger->terminate());
  std::vector<std::string> expected{"$L-", "$?", "$1;1;05;42"};
  expected.insert(expected.end(), 10, "$1;11");
  for (const char *c : {"$0", "$?", "$1;11", "$0", "$?"}) expected.push_back(c);
  EXPECT_EQ(head(run.sim->command_texts(), expected.size()), expected);
  const std::string &out = run.logger->out();
  EXPECT_EQ(count_of(out, "no answer from Attic after 10 repeated polls, "
                          "configuration write given up\n"),
            1);
  EXPECT_EQ(count_of(out, " blingo\n"), 11);
  EXPECT_FALSE(path_exists(run.s.out_file("Attice.txt")));
  EXPECT_EQ(read_file(run.s.out_file("Attico.txt")), "1\n");
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EControl, RemovedConfigurationEndsTheLoggerAtTheNextCycle) {
  StandInRun run(kOneSensor, "", {});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.logger->wait_for("o$0\n", Ms(10000)));
  ASSERT_EQ(unlink((run.s.work() + "/kelvinlog-config.txt").c_str()), 0);
  ASSERT_TRUE(run.logger->wait_exit(Ms(10000)));
  EXPECT_EQ(run.logger->exit_code(), 255);
  EXPECT_EQ(run.logger->err(), "kelvinlog-config.txt: No such file or directory\n");
  EXPECT_EQ(count_of(run.logger->out(), kSearchEcho), 1);
}

// --- data ----------------------------------------------------------------------

// The demo bus, as its scenario file gives it.
struct DemoDevice {
  int index;
  const char *line;   // scenario line
  const char *label;  // name from demo-config.txt, or the ROM id
};
const DemoDevice kDemo[] = {
    {0, "device 28FF4A1B02170312 temp28 21.5", "Kitchen"},
    {1, "device 28FF7C2D0316041E temp28 -4.25", "28FF7C2D0316041E"},
    {2, "device 10A1B2C3D4E5F607 temp10 19.5", "Attic"},
    {3, "device 28C0FFEE00000001 counter 10000 100 5", "Meter"},
    {4, "device 28C0FFEE00000002 climate 22.25 50 45 10", "Cellar"},
};
constexpr char kDemoS0[] = "s0 1234 5678 10 20";

TEST(E2EData, DemoBusFilesAfterTwoCycles) {
  const std::string scenario = read_file(scenario_dir() + "/demo.txt");
  for (const DemoDevice &d : kDemo) ASSERT_NE(scenario.find(d.line), std::string::npos) << d.line;
  ASSERT_NE(scenario.find(kDemoS0), std::string::npos);
  // Five devices and the two S0 entries: the first command and two cycles of
  // one search and seven polls are answered, then the stand-in falls silent.
  StandInRun run(scenario, read_file(scenario_dir() + "/demo-config.txt"),
                 {"--stop-after", "17"});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(3, Ms(20000)));
  ASSERT_TRUE(run.logger->terminate());
  const std::string &out = run.logger->out();
  const auto commands = run.sim->command_texts();
  EXPECT_EQ(head(commands, 10), (std::vector<std::string>{"$L-", "$?", "$6", "$5", "$4", "$3",
                                                           "$2", "$1", "$0", "$?"}));

  // Values: the counter was polled twice and grows by 5 per poll; the S0
  // counts of the second search grew by 10 and 20; S01 (Garage) has 800
  // impulses per kWh, S02 (Heatpump) 1000.
  const std::string values[] = {
      temp28_text(21.5), temp28_text(-4.25), temp10_text(19.5),
      counter_text(10000 + 5, 100, 0), climate_text(22.25, 50, 45, 10, 0),
  };
  const int words[] = {temp_word(21.5, 16), temp_word(-4.25, 16), temp_word(19.5, 2), -1,
                       temp_word(22.25, 16)};
  for (const DemoDevice &d : kDemo) {
    SCOPED_TRACE(d.label);
    EXPECT_EQ(read_file(run.s.out_file(std::string(d.label) + "v.txt")), values[d.index] + "\n");
    const auto frames = data_frames(out, d.index);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(checksum_matches(frames[1])) << frames[1];
    // The raw file holds the nine data pairs of the last frame, checksum cut off.
    EXPECT_EQ(read_file(run.s.out_file(std::string(d.label) + ".txt")),
              frames[1].substr(0, 27) + "\n");
    if (words[d.index] >= 0) {
      EXPECT_EQ(frames[1].substr(0, 5), word_pairs(words[d.index]));
    }
  }
  EXPECT_EQ(read_file(run.s.out_file("Garagev.txt")), std::to_string(1244 * 5 / 4) + "\n");
  EXPECT_EQ(read_file(run.s.out_file("Heatpumpv.txt")), std::to_string(5698) + "\n");
  EXPECT_NE(out.find("QV-S0, rxas=" + counter_text(10005, 100, 0) + "\n"), std::string::npos);
  EXPECT_NE(out.find("QV-HTX, rxas=" + climate_text(22.25, 50, 45, 10, 0) + "\n"),
            std::string::npos);

  EXPECT_EQ(list_dir(run.s.out()),
            (std::vector<std::string>{"28FF7C2D0316041E.txt", "28FF7C2D0316041Ev.txt",
                                      "Attic.txt", "Atticv.txt", "Cellar.txt", "Cellarv.txt",
                                      "Garagev.txt", "Heatpumpv.txt", "Kitchen.txt",
                                      "Kitchenv.txt", "Meter.txt", "Meterv.txt"}));
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EData, BadChecksumAddsOneLineToTheErrorLog) {
  // One search and one poll are answered, the poll with a wrong checksum.
  StandInRun run(kOneSensor, "", {"--bad-crc-rate", "1", "--stop-after", "3"});
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(3, Ms(15000)));
  ASSERT_TRUE(run.logger->terminate());
  const auto frames = data_frames(run.logger->out(), 0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_FALSE(checksum_matches(frames[0]));
  const std::string err = read_file(run.s.out_file("err.txt"));
  ASSERT_EQ(count_of(err, "\n"), 1) << err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(err, m, kTimestamp));
  EXPECT_EQ(m.position(0), 0);
  EXPECT_EQ(err.substr(static_cast<std::size_t>(m.length(0))),
            std::string(";") + kKitchen + ";err cnc ser;" + frames[0] + ";\n");
  // The raw file keeps the whole frame; no value is written.
  EXPECT_EQ(read_file(run.s.out_file(std::string(kKitchen) + ".txt")), frames[0] + "\n");
  EXPECT_FALSE(path_exists(run.s.out_file(std::string(kKitchen) + "v.txt")));
  expect_no_stray_files(run.before, run.s);
}

TEST(E2EData, DebugOptionWritesItsLogIntoTheWorkingDirectory) {
  StandInRun run(kOneSensor, std::string(kKitchen) + ";Kitchen\n", {}, "out", "-df");
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(2, Ms(10000)));
  ASSERT_TRUE(run.logger->terminate());
  const std::string log = read_file(run.s.work() + "/debug.txt");
  ASSERT_EQ(count_of(log, "\n"), 1) << log;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, kTimestamp));
  EXPECT_EQ(m.position(0), 0);
  EXPECT_EQ(log.substr(static_cast<std::size_t>(m.length(0))),
            ";" + run.s.out_file("Kitchenv.txt") + ";21.500;\n");
  const std::string &out = run.logger->out();
  EXPECT_NE(out.find("fid=28\n"), std::string::npos);
  EXPECT_NE(out.find("n=344 21.500temp=344.000000,21.500\n"), std::string::npos);
  EXPECT_EQ(read_file(run.s.out_file("Kitchenv.txt")), "21.500\n");
  expect_no_stray_files(run.before, run.s, {"debug.txt"});
}

TEST(E2EData, LongestOutputDirectoryHoldsEveryFile) {
  // An output directory of 253 characters (254 with the '/' the logger adds),
  // a 16-character ROM id label and a 19-character S0 name: the longest paths.
  const std::string s0_name = "ABCDEFGHIJKLMNOPQRSTUV";  // cut to its first 19
  std::string dir_name;
  StandInRun run(kOneSensor + "s0 10 20\n", "S01;" + s0_name + ";1000\n", {}, "", "-f",
                 [&dir_name](const Scratch &s) {
                   dir_name = std::string(253 - s.work().size() - 1, 'd');
                   ASSERT_EQ(mkdir((s.work() + "/" + dir_name).c_str(), 0755), 0);
                 });
  ASSERT_EQ(run.s.work().size() + 1 + dir_name.size(), 253u);
  ASSERT_TRUE(run.sim && run.sim->ok());
  run.start(run.s.work() + "/" + dir_name, "-f");
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(2, Ms(10000)));
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(run.logger->err(), "");
  const std::string outdir = run.s.work() + "/" + dir_name + "/";
  EXPECT_EQ(list_dir(outdir),
            (std::vector<std::string>{std::string(kKitchen) + ".txt",
                                      std::string(kKitchen) + "v.txt", s0_name.substr(0, 19) + "v.txt",
                                      "S02v.txt"}));
  EXPECT_EQ(read_file(outdir + s0_name.substr(0, 19) + "v.txt"), "10\n");
  EXPECT_EQ(read_file(outdir + kKitchen + "v.txt"), "21.500\n");
}

// --- losing the stand-in ---------------------------------------------------------

TEST(E2ELink, StoppedStandInEndsTheLoggerWithPerror) {
  struct Case {
    const char *name;
    std::vector<std::string> options;
    bool signal_it;
  };
  const Case cases[] = {
      {"SIGTERM to the stand-in", {}, true},
      {"unplugged after three commands", {"--exit-after", "3"}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    StandInRun run(kOneSensor, "", c.options);
    ASSERT_TRUE(run.ok());
    ASSERT_TRUE(run.searches(1, Ms(5000)));
    if (c.signal_it) run.sim->process().signal(SIGTERM);
    ASSERT_TRUE(run.sim->process().wait_exit(Ms(5000)));
    EXPECT_EQ(run.sim->process().exit_code(), 0);
    ASSERT_TRUE(run.logger->wait_exit(Ms(5000)));
    EXPECT_EQ(run.logger->exit_code(), 255);
    const std::string &err = run.logger->err();
    EXPECT_EQ(err.rfind(run.sim->link() + ": ", 0), 0u) << err;
    EXPECT_EQ(count_of(err, "\n"), 1) << err;
  }
}

}  // namespace
}  // namespace e2e
