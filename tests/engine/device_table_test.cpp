// Device table: entries from the bus search, the full table, and name resolution.
#include <string>

#include "engine/device_table.h"
#include "engine_fixture.h"

namespace enginetest {
namespace {

using DeviceTableTest = EngineTest;

TEST_F(DeviceTableTest, AnswersBecomeEntriesInTheirOrder) {
  pass();
  answer("1;o;28FF4A1B02170312EXTRA\n");  // cut to 16
  answer("2;o;28FF4A1B02170312\n");       // the same id again
  answer("3;o\n");                        // no third field: no entry
  answer("4;o;ABC\n");                    // short id keeps its line end
  EXPECT_EQ(ctx()->idmax, 3);
  EXPECT_EQ(ctx()->idi, 3);
  EXPECT_STREQ(ctx()->table.ids[0].data(), "28FF4A1B02170312");
  EXPECT_STREQ(ctx()->table.ids[1].data(), "28FF4A1B02170312");
  EXPECT_STREQ(ctx()->table.ids[2].data(), "ABC\n");

  pass(501);
  ASSERT_EQ(ctx()->state, STATE_POLL);
  take_stdout();
  pass();
  pass(101);
  pass(101);
  EXPECT_EQ(take_stdout(), "o$2\no$1\no$0\n");  // the same device polled twice
}

// Ids become file names: a '/' would put the device's files outside outdir.
TEST_F(DeviceTableTest, IdWithSlashIsNotEntered) {
  pass();
  take_stdout();
  answer("1;o;../../etc/x\n");
  answer("2;o;28FF/A1B02170312\n");
  answer("4;o;28FF4A1B02170312/cut\n");  // the slash lies beyond the 16 kept
  answer("3;o;28FF4A1B02170312\n");
  EXPECT_EQ(ctx()->idmax, 2);
  EXPECT_STREQ(ctx()->table.ids[0].data(), "28FF4A1B02170312");
  EXPECT_STREQ(ctx()->table.ids[1].data(), "28FF4A1B02170312");
  EXPECT_EQ(occurrences(take_stdout(), "bus search answer ignored: ROM id holds a '/'\n"), 2);
}

TEST_F(DeviceTableTest, FullTableDropsFurtherAnswersAndSaysSoOnce) {
  pass();
  for (int i = 0; i < 70; ++i) answer(std::to_string(i) + ";o;" + sensor_id(i) + "\n");
  EXPECT_EQ(ctx()->idmax, 64);
  EXPECT_EQ(ctx()->idi, 64);
  EXPECT_EQ(ctx()->table.ids[63].data(), sensor_id(63));
  const std::string line = "device table full: 6 answers of this search dropped, 64 entries kept\n";
  EXPECT_EQ(take_stdout().find("device table full"), std::string::npos);

  pass(501);
  ASSERT_EQ(ctx()->state, STATE_POLL);
  EXPECT_EQ(occurrences(take_stdout(), line), 1);

  // The count starts again with the next search.
  for (int n = 0; n < 64 * 101 + 200 && ctx()->state != STATE_LOAD; ++n) pass();
  ASSERT_EQ(ctx()->state, STATE_LOAD);
  enumerate({sensor_id(1)});
  EXPECT_EQ(take_stdout().find("device table full"), std::string::npos);
}

TEST_F(DeviceTableTest, NamesAreResolvedFromLastToFirst) {
  copy_bounded(ctx()->config.data(), kConfigSize,
               "28AA000000000001;Kitchen\n28AA000000000003;Garage;QV-S0\n", kConfigMax);
  fill_table(4, 4);
  ctx()->state = STATE_ENUMERATE;
  copy_bounded(ctx()->table.idn[2].data(), kIdSize, "stale", kIdMax);
  take_stdout();
  resolve_names(ctx());
  EXPECT_EQ(take_stdout(), "idn[3]=Garage\nidn[1]=Kitchen\n");
  EXPECT_STREQ(ctx()->table.idn[3].data(), "Garage");
  EXPECT_STREQ(ctx()->table.idn[2].data(), "");
  EXPECT_STREQ(ctx()->table.idn[1].data(), "Kitchen");
  EXPECT_STREQ(ctx()->table.idn[0].data(), "");
  EXPECT_EQ(ctx()->idi, 4);
}

TEST_F(DeviceTableTest, DebugTraceWithFewerThanTwoEntries) {
  ctx()->debug = 1;
  fill_table(1, 1);
  take_stdout();
  resolve_names(ctx());
  EXPECT_NE(take_stdout().find("idi-1=0,S01=" + sensor_id(0) + ",S02=\n"), std::string::npos);

  fill_table(0, 0);
  resolve_names(ctx());
  EXPECT_EQ(take_stdout(), "idi-1=-1,S01=,S02=\n");
}

}  // namespace
}  // namespace enginetest
