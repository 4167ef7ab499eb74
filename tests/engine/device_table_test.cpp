// Device table: entries from the bus search, the full table, and name resolution.
#include <string>

#include "engine/device_table.h"
#include "engine_fixture.h"
#include "output/paths.h"

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

// Names become file names: one that would leave the output directory or make
// err.txt a raw file is refused, and the device keeps its id as its label.
TEST_F(DeviceTableTest, NamesThatAreNoFileNamesAreRefused) {
  copy_bounded(ctx()->config.data(), kConfigSize,
               "28AA000000000000;Kitchen\n28AA000000000001;Temp in/out\n28AA000000000002;err\n"
               "28AA000000000003;../up\n28AA000000000004;Temperature sens/or\n",
               kConfigMax);
  fill_table(5, 5);
  ctx()->state = STATE_ENUMERATE;
  take_stdout();
  resolve_names(ctx());
  EXPECT_EQ(take_stdout(),
            "idn[4]=Temperature sens\n"  // the '/' lies beyond the 16 characters kept
            "name \"../up\" of 28AA000000000003 refused as a file name, the id is used instead\n"
            "name \"err\" of 28AA000000000002 refused as a file name, the id is used instead\n"
            "name \"Temp in/out\" of 28AA000000000001 refused as a file name, the id is used "
            "instead\n"
            "idn[0]=Kitchen\n");
  for (std::size_t n = 1; n <= 3; ++n) {
    EXPECT_STREQ(ctx()->table.idn[n].data(), "") << n;
    EXPECT_EQ(std::string(output::device_label(ctx()->table, static_cast<int>(n))),
              sensor_id(static_cast<int>(n)));
  }
  EXPECT_STREQ(ctx()->table.idn[0].data(), "Kitchen");
}

// The id "err" would make the error log its raw file.
TEST_F(DeviceTableTest, IdErrIsNotEntered) {
  pass();
  take_stdout();
  answer("1;o;err;\n");
  answer("2;o;err\n");  // "err" and its line end: another file
  answer("3;o;ERR;\n");
  EXPECT_EQ(ctx()->idmax, 2);
  EXPECT_STREQ(ctx()->table.ids[0].data(), "err\n");
  EXPECT_STREQ(ctx()->table.ids[1].data(), "ERR");
  EXPECT_EQ(occurrences(take_stdout(), "bus search answer ignored: ROM id is \"err\"\n"), 1);
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
