// End of a cycle (watchdog and status datagram) and the quiet option's echo suppression.
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine_fixture.h"

namespace enginetest {
namespace {

using testsupport::FakeClock;
using testsupport::NotifySink;

std::string sink_name() {
  return "@kelvinlog-engine-test-" + std::to_string(getpid()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// What the fake clock reads inside the pass that has just run (its tick came after).
long long ms_in_last_pass() { return FakeClock::ticks - 1 + FakeClock::paused_seconds * 1000; }

using CycleStatusTest = EngineTest;

TEST_F(CycleStatusTest, EveryCompletedCycleSendsWatchdogAndItsOwnFigures) {
  NotifySink sink(sink_name());
  ASSERT_TRUE(sink.ok());
  const std::vector<std::string> ids{sensor_id(0), sensor_id(1), sensor_id(2), sensor_id(3)};
  const std::string bad_sum = "50 05 4B 46 7F FF 0C 10 1C 9D 00";

  // Cycle 1: entries 3 and 1 answer well, entry 2 with a wrong checksum, entry 0 not at all.
  enumerate(ids);
  EXPECT_TRUE(sink.take().empty()) << "nothing before the cycle is complete";
  pass();
  answer("3;o;" + kFrame85 + "\n");
  pass(101);
  answer("2;o;" + bad_sum + "\n");
  pass(101);
  answer("1;o;" + kFrame17 + "\n");
  pass(101);
  pass(100);
  EXPECT_TRUE(sink.take().empty());
  pass();
  ASSERT_EQ(ctx()->state, STATE_LOAD);
  const long long first_ms = ms_in_last_pass();
  EXPECT_EQ(sink.take(), std::vector<std::string>{
                             "WATCHDOG=1\nSTATUS=cycle 1: 4 devices, 3 answers, 1 bad checksums, "
                             "last cycle " + std::to_string(first_ms) + " ms"});

  // Cycle 2: the figures start again from nothing; its length from its own load step.
  const long long second_start = FakeClock::ticks + FakeClock::paused_seconds * 1000;
  enumerate({ids[0], ids[1]});
  pass();
  answer("1;o;" + kFrame17 + "\n");
  pass(101);
  pass(101);
  ASSERT_EQ(ctx()->state, STATE_LOAD);
  EXPECT_EQ(sink.take(), std::vector<std::string>{
                             "WATCHDOG=1\nSTATUS=cycle 2: 2 devices, 1 answers, 0 bad checksums, "
                             "last cycle " + std::to_string(ms_in_last_pass() - second_start) +
                             " ms"});
}

TEST_F(CycleStatusTest, EmptyBusStillReportsEachCycle) {
  NotifySink sink(sink_name());
  ASSERT_TRUE(sink.ok());
  for (int cycle = 1; cycle <= 3; ++cycle) {
    pass(503);  // load, 501 quiet passes, back to load
    ASSERT_EQ(ctx()->state, STATE_LOAD) << cycle;
    const auto got = sink.take();
    ASSERT_EQ(got.size(), 1u) << cycle;
    EXPECT_EQ(got[0], "WATCHDOG=1\nSTATUS=cycle " + std::to_string(cycle) +
                          ": 0 devices, 0 answers, 0 bad checksums, last cycle 1502 ms");
  }
}

TEST_F(CycleStatusTest, WithoutTheVariableTheLoopRunsTheSame) {
  unsetenv("NOTIFY_SOCKET");
  enumerate({sensor_id(0)});
  pass();
  answer("0;o;" + kFrame85 + "\n");
  pass(101);
  EXPECT_EQ(ctx()->state, STATE_LOAD);
  EXPECT_EQ(ctx()->cycles, 1u);
  EXPECT_EQ(read_out(sensor_id(0) + "v.txt"), "85.000\n");
}

// --- quiet -------------------------------------------------------------------------

struct QuietCase {
  const char *name;
  int quiet;  // the context's flag (option letter q without d)
};

void PrintTo(const QuietCase &c, std::ostream *os) { *os << c.name; }

class QuietEngine : public EngineTest, public ::testing::WithParamInterface<QuietCase> {};

// One cycle that makes every echo once: the configuration, a name, a module
// value, a configuration write ("blingo"), a retry request, the commands and
// lines; plus a status line (a refused ROM id) that stays under q.
TEST_P(QuietEngine, EchoesOnlyWithoutQuiet) {
  const bool quiet = GetParam().quiet != 0;
  const std::string module = "28C0FFEE00000002";
  set_config(module + ";Cellar;QV-HTX\n" + sensor_id(0) + ";Kitchen\n");
  testsupport::write_file(out_file("Cellaro.txt"), "1;05;42\n");
  ctx()->quiet = GetParam().quiet;

  pass();
  answer("0;o;" + sensor_id(0) + "\n");
  answer("1;o;" + module + "\n");
  answer("2;o;28FF/000000000001\n");
  pass(501);
  ASSERT_EQ(ctx()->state, STATE_POLL);
  pass();
  answer("1;o;??\n");
  answer("1;o;" + kFrame85 + "\n");
  pass(101);
  answer("0;o;" + kFrame85 + "\n");
  pass(101);
  ASSERT_EQ(ctx()->state, STATE_LOAD);
  EXPECT_EQ(read_out("Kitchenv.txt"), "85.000\n");
  EXPECT_EQ(read_out("Cellarv.txt").substr(0, 8), " 85.000;");

  const std::string out = take_stdout();
  const std::string status = "bus search answer ignored: ROM id holds a '/'\n";
  if (quiet) {
    EXPECT_EQ(out, status);
    return;
  }
  for (const char *echo : {"kelvinlog-config.txt:\n", "EOF\n", "o$?\n", "i0;o;", "idn[0]=Kitchen\n",
                           "idn[1]=Cellar\n", "QV-HTX, rxas= 85.000;", " blingo\n",
                           "retry 1;o;??\n", "o$1;1;05;42\n", "o$0\n"}) {
    EXPECT_NE(out.find(echo), std::string::npos) << echo;
  }
  EXPECT_NE(out.find(status), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Table, QuietEngine,
                         ::testing::Values(QuietCase{"echo", 0}, QuietCase{"quiet", 1}),
                         [](const ::testing::TestParamInfo<QuietCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace enginetest
