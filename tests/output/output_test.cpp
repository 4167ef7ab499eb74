// Tests of labels and paths, the raw/value files and write log, and the timestamped logs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "core/poll_context.h"
#include "core/text.h"
#include "output/files.h"
#include "output/logs.h"
#include "output/paths.h"
#include "serial/protocol.h"
#include "engine/data_line.h"
#include "engine/s0_line.h"
#include "serial/protocol.h"
#include "support/test_support.h"

namespace {

using namespace core;
using namespace output;
using serial::split_line;

constexpr std::time_t kMarch7 = 1772892309;  // 2026-03-07 14:05:09 UTC
constexpr std::time_t kJan1 = 1767258000;    // 2026-01-01 09:00:00 UTC
constexpr const char *kRom = "28FF4A6B011603C1";

void use_utc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST(Paths, LabelIsTheNameOrElseTheRomId) {
  auto table = std::make_unique<DeviceTable>();
  copy_bounded(table->ids[0].data(), kIdSize, kRom, kIdMax);
  copy_bounded(table->ids[1].data(), kIdSize, kRom, kIdMax);
  copy_bounded(table->idn[1].data(), kIdSize, "Kitchen", kIdMax);
  copy_bounded(table->ids[2].data(), kIdSize, "S01", kIdMax);
  EXPECT_STREQ(device_label(*table, 0), kRom);
  EXPECT_STREQ(device_label(*table, 1), "Kitchen");
  EXPECT_STREQ(device_label(*table, 2), "S01");
}

TEST(Paths, OutdirLabelSuffix) {
  char path[kPathSize];
  struct {
    const char *label, *suffix, *expected;
  } const cases[] = {
      {kRom, ".txt", "/tmp/28FF4A6B011603C1.txt"},
      {kRom, "v.txt", "/tmp/28FF4A6B011603C1v.txt"},
      {kRom, "o.txt", "/tmp/28FF4A6B011603C1o.txt"},
      {kRom, "e.txt", "/tmp/28FF4A6B011603C1e.txt"},
      {"Kitchen", ".txt", "/tmp/Kitchen.txt"},
      {"Kitchen", "v.txt", "/tmp/Kitchenv.txt"},
      {"err.txt", "", "/tmp/err.txt"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(device_path(path, sizeof path, "/tmp/", c.label, c.suffix), path);
    EXPECT_STREQ(path, c.expected);
  }
  char small[10];
  small[9] = 'x';
  device_path(small, sizeof small, "/tmp/", kRom, ".txt");
  EXPECT_STREQ(small, "/tmp/28FF");
}

class Logs : public ::testing::Test {
 protected:
  void SetUp() override {
    use_utc();
    testsupport::FakeClock::install(kJan1);
  }
  void TearDown() override { testsupport::FakeClock::uninstall(); }
  testsupport::TempDir dir;
};

TEST_F(Logs, TimestampFormats) {
  struct {
    std::time_t t;
    const char *text;
  } const cases[] = {
      {kJan1, "01.01.26 09:00:00"},
      {kMarch7, "07.03.26 14:05:09"},
      {1798761599, "31.12.26 23:59:59"},  // 2026-12-31 23:59:59
      {1118131750, "07.06.5 08:09:10"},   // 2005-06-07 08:09:10
      {946684800, "01.01.0 00:00:00"},    // 2000-01-01 00:00:00
  };
  char buf[kTimestampSize];
  for (const auto &c : cases) {
    testsupport::FakeClock::now = c.t;
    make_timestamp(buf, sizeof buf);
    EXPECT_STREQ(buf, c.text);
  }
  if (sizeof(std::time_t) >= 8) {  // 2100 lies beyond a 32-bit time_t
    testsupport::FakeClock::now = static_cast<std::time_t>(4102444800LL);  // 2100-01-01
    make_timestamp(buf, sizeof buf);
    EXPECT_STREQ(buf, "01.01.100 00:00:00");
  }
}

TEST_F(Logs, ErrorLogAppendsTimestampedRecords) {
  const std::string path = dir.file("err.txt");
  append_error_record(path.c_str(), "A;B");
  append_error_record(path.c_str(), "");
  testsupport::FakeClock::now = kMarch7;
  append_error_record(path.c_str(), "two\nlines");
  EXPECT_EQ(testsupport::read_file(path),
            "01.01.26 09:00:00;A;B;\n01.01.26 09:00:00;;\n07.03.26 14:05:09;two\nlines;\n");
}

TEST_F(Logs, UnopenableLogEndsTheProcess) {
  SKIP_UNLESS_FORK_WORKS();
  const std::string path = dir.file("missing/err.txt");
  EXPECT_EXIT(append_error_record(path.c_str(), "x"), ::testing::ExitedWithCode(255),
              path + ": No such file or directory");
  testsupport::ChdirGuard cwd(dir.path());
  ASSERT_EQ(mkdir(dir.file("debug.txt").c_str(), 0755), 0);  // a directory cannot be appended to
  EXPECT_EXIT(debug_log("a", "b"), ::testing::ExitedWithCode(255), "debug\\.txt: Is a directory");
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    use_utc();
    testsupport::FakeClock::install(kMarch7);
    testsupport::prepare_context(ctx.get(), dir.path(), -1);
    ctx->state = STATE_POLL;
    for (std::size_t i = 0; i < 3; ++i) {
      copy_bounded(ctx->table.ids[i].data(), kIdSize, kRom, kIdMax);
      ctx->table.ids[i][15] = static_cast<char>('0' + i);
    }
    ctx->idmax = 3;
    ctx->idi = 1;
  }
  void TearDown() override { testsupport::FakeClock::uninstall(); }
  // Entry idi has answered with `frame` (as the frame check left it).
  void answer(const char *frame) {
    copy_bounded(ctx->line.data(), kLineSize, frame, kLineSize - 1);
    ctx->rxa[2] = ctx->line.data();
    ctx->crc = CRC_OK;
  }
  std::string out(const std::string &name) const { return testsupport::read_file(dir.file(name)); }
  std::string label(int i) const { return ctx->table.ids[static_cast<std::size_t>(i)].data(); }

  testsupport::TempDir dir;
  std::unique_ptr<PollContext> ctx = std::make_unique<PollContext>();
};

TEST_F(Files, RawFileIsRewrittenWhileNoWriteWasLogged) {
  testsupport::write_file(dir.file(label(1) + ".txt"), "an older and longer frame text\n");
  answer("50 05 4B 46 7F FF 0C 10 1C ");
  write_frame_file(ctx.get());
  EXPECT_EQ(out(label(1) + ".txt"), "50 05 4B 46 7F FF 0C 10 1C \n");
  EXPECT_EQ(ctx->eep, EEP_NONE);
  EXPECT_FALSE(testsupport::path_exists(dir.file(label(1) + "e.txt")));
}

TEST_F(Files, AnswerToTheWriteGoesToTheWriteLog) {
  ctx->eep = 1;
  copy_bounded(ctx->write_log.data(), kWriteLogSize, "1;05;42", kWriteLogSize - 1);
  testsupport::write_file(dir.file(label(1) + "e.txt"), "earlier\n");
  answer("50 05 4B 46 7F FF 0C 10 1C ");
  write_frame_file(ctx.get());
  EXPECT_EQ(out(label(1) + "e.txt"),
            "earlier\n07.03.26 14:05:09; 1;05;42 ;50 05 4B 46 7F FF 0C 10 1C \n");
  EXPECT_EQ(ctx->eep, EEP_DONE);
  EXPECT_FALSE(testsupport::path_exists(dir.file(label(1) + ".txt")));

  // For the rest of the cycle no raw file is written.
  ctx->idi = 0;
  write_frame_file(ctx.get());
  EXPECT_FALSE(testsupport::path_exists(dir.file(label(0) + ".txt")));
  EXPECT_FALSE(testsupport::path_exists(dir.file(label(0) + "e.txt")));
  EXPECT_EQ(ctx->eep, EEP_DONE);
}

TEST_F(Files, DebugPrintsTheRawPathTwice) {
  ctx->debug = 1;
  copy_bounded(ctx->qvm.data(), kQvmSize, "QV-S0", kQvmSize - 1);
  answer("50 05 ");
  testsupport::start_stdout_capture();
  write_frame_file(ctx.get());
  const std::string line = dir.file(label(1) + ".txt") + " 50 05 \n";
  EXPECT_EQ(testsupport::captured_stdout(),
            line + line + "qvm=QV-S0, eep=-99, idi=1, crc=1\r\n");
}

TEST_F(Files, ValueFile) {
  answer("50 05 4B 46 7F FF 0C 10 1C ");
  copy_bounded(ctx->table.idn[1].data(), kIdSize, "Kitchen", kIdMax);
  copy_bounded(ctx->value.data(), kValueSize, "", 0);
  write_value_file(ctx.get());
  EXPECT_FALSE(testsupport::path_exists(dir.file("Kitchenv.txt")));

  testsupport::write_file(dir.file("Kitchenv.txt"), "-10.125 and more\n");
  copy_bounded(ctx->value.data(), kValueSize, "85.000", kValueSize - 1);
  write_value_file(ctx.get());
  EXPECT_EQ(out("Kitchenv.txt"), "85.000\n");
}

TEST_F(Files, ValueFileUnderDebug) {
  testsupport::TempDir work;
  testsupport::ChdirGuard cwd(work.path());
  ctx->debug = 1;
  copy_bounded(ctx->value.data(), kValueSize, "1;2\nhead", kValueSize - 1);
  testsupport::start_stdout_capture();
  write_value_file(ctx.get());
  const std::string path = dir.file(label(1) + "v.txt");
  EXPECT_EQ(testsupport::captured_stdout(), path + " 1;2\nhead\n1;2\nhead\n");
  EXPECT_EQ(out(label(1) + "v.txt"), "1;2\nhead\n");
  EXPECT_EQ(testsupport::read_file(work.file("debug.txt")),
            "07.03.26 14:05:09;" + path + ";1;2\nhead;\n");
  EXPECT_FALSE(testsupport::path_exists(dir.file("debug.txt")));
}

TEST_F(Files, UnopenableOutputFileEndsTheProcess) {
  SKIP_UNLESS_FORK_WORKS();
  const std::string missing = dir.file("missing");
  copy_bounded(ctx->outdir.data(), kDirSize, (missing + "/").c_str(), kDirSize - 1);
  copy_bounded(ctx->value.data(), kValueSize, "85.000", kValueSize - 1);
  answer("50 05 4B 46 7F FF 0C 10 1C ");
  const std::string stem = missing + "/" + label(1);
  EXPECT_EXIT(write_frame_file(ctx.get()), ::testing::ExitedWithCode(255),
              stem + "\\.txt: No such file or directory");
  EXPECT_EXIT(write_value_file(ctx.get()), ::testing::ExitedWithCode(255),
              stem + "v\\.txt: No such file or directory");
  ctx->eep = ctx->idi;
  EXPECT_EXIT(write_frame_file(ctx.get()), ::testing::ExitedWithCode(255),
              stem + "e\\.txt: No such file or directory");
}

// A real directory whose path, with the final '/', has the longest allowed 254 characters.
TEST_F(Files, LongestOutputDirectory) {
  std::string deep = dir.path();
  while (deep.size() < 253) {
    std::size_t part = std::min<std::size_t>(60, 253 - deep.size() - 1);
    deep += "/" + std::string(part, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep;
  }
  ASSERT_EQ(deep.size(), 253u);
  testsupport::prepare_context(ctx.get(), deep, -1, "S01;ABCDEFGHIJKLMNOPQRS;1000\n");
  ASSERT_EQ(std::string(ctx->outdir.data()), deep + "/");

  ctx->state = STATE_ENUMERATE;
  copy_bounded(ctx->line.data(), kLineSize, "$S0;77;88\n", kLineSize - 1);
  split_line(ctx.get());
  engine::handle_s0_line(ctx.get());
  EXPECT_EQ(testsupport::read_file(deep + "/ABCDEFGHIJKLMNOPQRSv.txt"), "77\n");
  EXPECT_EQ(testsupport::read_file(deep + "/S02v.txt"), "88\n");

  ctx->state = STATE_POLL;
  ctx->idi = 0;
  copy_bounded(ctx->table.ids[0].data(), kIdSize, kRom, kIdMax);
  copy_bounded(ctx->value.data(), kValueSize, "85.000", kValueSize - 1);
  answer("50 05 4B 46 7F FF 0C 10 1C ");
  write_frame_file(ctx.get());
  write_value_file(ctx.get());
  EXPECT_EQ(testsupport::read_file(deep + "/" + kRom + ".txt"), "50 05 4B 46 7F FF 0C 10 1C \n");
  EXPECT_EQ(testsupport::read_file(deep + "/" + kRom + "v.txt"), "85.000\n");
}

}  // namespace
