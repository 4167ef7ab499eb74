// Main loop: the three states, pass counting, line dispatch, reset and a whole cycle.
#include <chrono>
#include <ctime>
#include <string>

#include "core/clock.h"
#include "engine_fixture.h"

namespace enginetest {
namespace {

using testsupport::FakeClock;
using MainLoopTest = EngineTest;

TEST_F(MainLoopTest, EmptyBusCycleRestartsAfter501QuietPasses) {
  pass();
  EXPECT_EQ(ctx()->state, STATE_ENUMERATE);
  EXPECT_EQ(FakeClock::paused_seconds, 1);
  EXPECT_NE(take_stdout().find("o$?\n"), std::string::npos);
  expect_sent("$?\n");

  pass(500);
  EXPECT_EQ(ctx()->state, STATE_ENUMERATE);
  pass();
  EXPECT_EQ(ctx()->state, STATE_POLL);
  EXPECT_EQ(ctx()->idi, 0);
  pass();
  EXPECT_EQ(ctx()->state, STATE_LOAD);
  EXPECT_EQ(take_stdout().find("idn["), std::string::npos);

  pass();
  EXPECT_EQ(ctx()->state, STATE_ENUMERATE);
  EXPECT_EQ(FakeClock::paused_seconds, 2);
  EXPECT_NE(take_stdout().find("o$?\n"), std::string::npos);
  expect_sent("$?\n");
}

TEST_F(MainLoopTest, PollsLastEntryFirstEvery101PassesWithoutAnswers) {
  enumerate({sensor_id(0), sensor_id(1), sensor_id(2)});
  EXPECT_EQ(ctx()->idmax, 3);
  EXPECT_EQ(ctx()->idi, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ctx()->table.ids[i].data(), sensor_id(i));
  take_stdout();

  pass();  // right after the end of the search
  EXPECT_EQ(take_stdout(), "o$2\n");
  for (const char *next : {"o$1\n", "o$0\n"}) {
    pass(100);
    EXPECT_EQ(take_stdout(), "");
    pass();
    EXPECT_EQ(take_stdout(), next);
  }
  pass(100);
  EXPECT_EQ(ctx()->state, STATE_POLL);
  pass();
  EXPECT_EQ(ctx()->state, STATE_LOAD);
  expect_sent("$?\n$2\n$1\n$0\n");
}

TEST_F(MainLoopTest, DataLineRestartsThePollSpacing) {
  enumerate({sensor_id(0), sensor_id(1), sensor_id(2)});
  pass();  // $2
  pass(50);
  answer("2;o;" + kFrame85 + "\n");
  EXPECT_EQ(ctx()->rxz, 1);
  EXPECT_EQ(read_out(sensor_id(2) + ".txt"), kFrame85Cut + "\n");
  EXPECT_EQ(read_out(sensor_id(2) + "v.txt"), "85.000\n");
  take_stdout();
  pass(100);
  EXPECT_EQ(take_stdout().find("o$1"), std::string::npos);
  pass();
  EXPECT_EQ(take_stdout(), "o$1\n");
}

TEST_F(MainLoopTest, LinesWhilePolling) {
  enumerate({sensor_id(0), sensor_id(1), sensor_id(2)});
  pass();  // $2
  answer("2;o;" + kFrame85 + "\n");

  // No poll outstanding: an 'o' line is still data of the current entry.
  answer("7;o;28FF4A1B02170312\n");
  EXPECT_EQ(ctx()->rxz, 1);
  EXPECT_EQ(read_out(sensor_id(2) + ".txt"), "28FF4A1B02170312\n");
  EXPECT_EQ(read_out(sensor_id(2) + "v.txt"), "85.000\n");

  // An S0 line is only echoed: no entries, no files, the spacing runs on.
  int rxz = ctx()->rxz;
  take_stdout();
  answer("$S0;100;200\n");
  EXPECT_EQ(take_stdout(), "i$S0;100;200\n");
  EXPECT_EQ(ctx()->rxz, rxz + 1);
  EXPECT_EQ(ctx()->idmax, 3);
  EXPECT_FALSE(out_exists("S01v.txt"));

  // A retry request is never taken as data.
  rxz = ctx()->rxz;
  answer("2;o;??\n");
  EXPECT_EQ(take_stdout(), "retry 2;o;??\n");
  EXPECT_EQ(ctx()->rxz, rxz + 1);
  EXPECT_EQ(read_out(sensor_id(2) + ".txt"), "28FF4A1B02170312\n");
}

TEST_F(MainLoopTest, LinesWhileEnumerating) {
  pass();
  answer("1;o;28FF??0000000001\n");
  EXPECT_EQ(ctx()->idmax, 0);
  answer("no fields\n");
  EXPECT_EQ(ctx()->idmax, 0);
  answer("$S0;100;200\n");
  EXPECT_EQ(ctx()->idmax, 2);
  EXPECT_STREQ(ctx()->table.ids[0].data(), "S01");
  EXPECT_STREQ(ctx()->table.ids[1].data(), "S02");
  EXPECT_EQ(ctx()->rxz, 1);
}

TEST_F(MainLoopTest, PendingResetPrecedesTheSearch) {
  ctx()->reset_pending = 1;
  adapter_sends("0;res;ok\n");  // taken by the read after the reset, unseen
  pass();
  const std::string out = take_stdout();
  const auto reset = out.find("o$res\n");
  ASSERT_NE(reset, std::string::npos);
  EXPECT_LT(reset, out.find("o$?\n"));
  EXPECT_EQ(out.find("res;ok"), std::string::npos);
  EXPECT_EQ(FakeClock::paused_seconds, 3);
  EXPECT_EQ(ctx()->reset_pending, 0);
  EXPECT_EQ(ctx()->state, STATE_ENUMERATE);
  expect_sent("$res\n$?\n");
}

TEST_F(MainLoopTest, CycleWithAConfigurationWrite) {
  std::vector<std::string> ids;
  for (int i = 0; i < 5; ++i) ids.push_back(sensor_id(i));
  testsupport::write_file(out_file(ids[3] + "o.txt"), "1;05;42\n");

  enumerate(ids);
  for (int i = 4; i >= 0; --i) {
    pass(i == 4 ? 1 : 101);
    answer(std::to_string(i) + ";o;" + kFrame85 + "\n");
  }
  pass(101);
  EXPECT_EQ(ctx()->state, STATE_LOAD);
  expect_sent("$?\n$4\n$3;1;05;42\n$2\n$1\n$0\n");

  EXPECT_EQ(read_out(ids[4] + ".txt"), kFrame85Cut + "\n");
  for (int i = 3; i >= 0; --i) EXPECT_FALSE(out_exists(ids[i] + ".txt")) << i;
  const std::string log = read_out(ids[3] + "e.txt");
  EXPECT_EQ(occurrences(log, "\n"), 1);
  EXPECT_NE(log.find("; 1;05;42 ;" + kFrame85Cut + "\n"), std::string::npos) << log;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(read_out(ids[i] + "v.txt"), "85.000\n") << i;
  EXPECT_EQ(read_out(ids[3] + "o.txt"), "1\n");

  // Next cycle: no write pending, raw files for every entry again.
  enumerate(ids);
  for (int i = 4; i >= 0; --i) {
    pass(i == 4 ? 1 : 101);
    answer(std::to_string(i) + ";o;" + kFrame17 + "\n");
  }
  expect_sent("$?\n$4\n$3;11\n$2\n$1\n$0\n");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(read_out(ids[i] + ".txt"), kFrame17Cut + "\n") << i;
    EXPECT_EQ(read_out(ids[i] + "v.txt"), "17.000\n") << i;
  }
  EXPECT_EQ(read_out(ids[3] + "e.txt"), log);
}

}  // namespace
}  // namespace enginetest
