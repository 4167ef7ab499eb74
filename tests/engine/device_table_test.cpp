// Device table: entries from the bus search, the full table, and name resolution.
#include <string>
#include <vector>

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

// Two entries must not write one file in turn. Names are resolved from the
// last entry to the first; a name whose files would be those of an entry
// named before it, of another entry's id, or of an S0 channel's value file
// is refused with one line naming both ids, and the entry's id stands instead.
struct ClashCase {
  const char *what;
  std::string config;
  std::vector<std::string> ids;  // the table, entry 0 first
  std::string status;            // the lines of the name resolution
  std::vector<std::string> labels;
};

std::string clash(const std::string &name, const std::string &id, const std::string &other) {
  return "name \"" + name + "\" of " + id + " refused as a file name, it clashes with the files of " +
         other + ", the id is used instead\n";
}

TEST_F(DeviceTableTest, NamesThatClashAreRefused) {
  const std::string a = sensor_id(0), b = sensor_id(1), c = sensor_id(2), d = sensor_id(3);
  const ClashCase cases[] = {
      {"the same name twice", a + ";Kitchen\n" + b + ";Kitchen\n", {a, b},
       "idn[1]=Kitchen\n" + clash("Kitchen", a, b), {a, "Kitchen"}},
      {"bytes from 0x80 end a name", a + ";K\xc3\xbc" "che\n" + b + ";K\xc3\xb6" "che\n", {a, b},
       "idn[1]=K\n" + clash("K", a, b), {a, "K"}},
      {"16 characters alike", a + ";Temperature sens1\n" + b + ";Temperature sens2\n", {a, b},
       "idn[1]=Temperature sens\n" + clash("Temperature sens", a, b), {a, "Temperature sens"}},
      {"three times", a + ";Kitchen\n" + b + ";Kitchen\n" + c + ";Kitchen\n", {a, b, c},
       "idn[2]=Kitchen\n" + clash("Kitchen", b, c) + clash("Kitchen", a, c), {a, b, "Kitchen"}},
      {"another entry's id", b + ";" + a + "\n", {a, b}, clash(a, b, a), {a, b}},
      {"another entry's id, named later", a + ";" + b + "\n", {a, b}, clash(b, a, b), {a, b}},
      {"a value file that is a raw file", a + ";Kitchen\n" + b + ";Kitchenv\n" + c + ";Kitcheno\n",
       {a, b, c}, "idn[2]=Kitcheno\nidn[1]=Kitchenv\n" + clash("Kitchen", a, b),
       {a, "Kitchenv", "Kitcheno"}},
      {"one device found twice", a + ";Kitchen\n", {a, a}, "idn[1]=Kitchen\nidn[0]=Kitchen\n",
       {"Kitchen", "Kitchen"}},
      {"an S0 channel's id and value file", a + ";Meter\n" + b + ";S02\n" + c + ";Meterv\n",
       {a, b, c, "S01", "S02", d}, clash("Meterv", c, "S01") + clash("S02", b, "S02") +
       clash("Meter", a, "S01"), {a, b, c, "S01", "S02", d}},
      {"different names", a + ";Kitchen\n" + b + ";Kitchen2\n", {a, b},
       "idn[1]=Kitchen2\nidn[0]=Kitchen\n", {"Kitchen", "Kitchen2"}},
  };
  for (const ClashCase &k : cases) {
    SCOPED_TRACE(k.what);
    copy_bounded(ctx()->config.data(), kConfigSize, k.config.c_str(), kConfigMax);
    const int n = static_cast<int>(k.ids.size());
    fill_table(n, n);
    for (int i = 0; i < n; ++i) {
      copy_bounded(ctx()->table.ids[static_cast<std::size_t>(i)].data(), kIdSize,
                   k.ids[static_cast<std::size_t>(i)].c_str(), kIdMax);
    }
    copy_bounded(ctx()->s0_names[0].data(), kS0NameSize, "Meter", kS0NameSize - 1);
    copy_bounded(ctx()->s0_names[1].data(), kS0NameSize, "S02", kS0NameSize - 1);
    ctx()->state = STATE_ENUMERATE;
    take_stdout();
    resolve_names(ctx());
    EXPECT_EQ(take_stdout(), k.status);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(std::string(output::device_label(ctx()->table, i)),
                k.labels[static_cast<std::size_t>(i)])
          << i;
    }
  }
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
