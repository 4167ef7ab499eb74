// Tests of the data line's frame step: frame token, checksum flag, cut, error record in err.txt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>

#include "engine/data_line.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "serial/protocol.h"
#include "support/test_support.h"

namespace {


using namespace core;
using serial::split_line;

constexpr std::time_t kMarch7 = 1772892309;  // 2026-03-07 14:05:09 UTC
constexpr const char *kRom = "28FF4A6B011603C1";

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    testsupport::FakeClock::install(kMarch7);
    testsupport::prepare_context(ctx.get(), dir.path(), -1);
    ctx->state = STATE_POLL;
    copy_bounded(ctx->table.ids[0].data(), kIdSize, kRom, kIdMax);
    ctx->idi = 0;
  }
  void TearDown() override { testsupport::FakeClock::uninstall(); }
  // Receives `line` as the answer of entry idi and checks its frame.
  void check(const std::string &line) {
    copy_bounded(ctx->line.data(), kLineSize, line.c_str(), kLineSize - 1);
    split_line(ctx.get());
    engine::check_data_frame(ctx.get());
  }
  std::string err_log() const { return testsupport::read_file(dir.file("err.txt")); }

  testsupport::TempDir dir;
  std::unique_ptr<PollContext> ctx = std::make_unique<PollContext>();
};

struct FrameCase {
  const char *name;
  const char *line;
  int crc;
  const char *frame;  // rxa[2] after the check
};

void PrintTo(const FrameCase &c, std::ostream *os) { *os << c.name; }

const FrameCase kFrameCases[] = {
    {"checksum 9C", "0;o;50 05 4B 46 7F FF 0C 10 1C 9C 7\n", CRC_OK,
     "50 05 4B 46 7F FF 0C 10 1C "},
    {"checksum 9c in lower case", "0;o;50 05 4B 46 7F FF 0C 10 1C 9c 7\n", CRC_OK,
     "50 05 4B 46 7F FF 0C 10 1C "},
    {"nine FF", "0;o;FF FF FF FF FF FF FF FF FF F7 00\n", CRC_OK, "FF FF FF FF FF FF FF FF FF "},
    {"nine ff in lower case", "0;o;ff ff ff ff ff ff ff ff ff f7 00\n", CRC_OK,
     "ff ff ff ff ff ff ff ff ff "},
    {"colons", "0;o;50:05:4B:46:7F:FF:0C:10:1C:9C:7\n", CRC_OK, "50:05:4B:46:7F:FF:0C:10:1C:"},
    {"semicolons", "0;o;50;05;4B;46;7F;FF;0C;10;1C;9C;7\n", CRC_OK,
     "50;05;4B;46;7F;FF;0C;10;1C;"},
    {"pair without a digit reads 0", "0;o;zz 05 4B 46 7F FF 0C 10 1C 4C 7\n", CRC_OK,
     "zz 05 4B 46 7F FF 0C 10 1C "},
    {"'-' is not a digit", "0;o;-1 05 4B 46 7F FF 0C 10 1C 4C 7\n", CRC_OK,
     "-1 05 4B 46 7F FF 0C 10 1C "},
    {"digit then blank reads the digit", "0;o;5  05 4B 46 7F FF 0C 10 1C 51 7\n", CRC_OK,
     "5  05 4B 46 7F FF 0C 10 1C "},
    {"blank then digit reads the digit", "0;o; 5 05 4B 46 7F FF 0C 10 1C 51 7\n", CRC_OK,
     " 5 05 4B 46 7F FF 0C 10 1C "},
    {"30 characters are not checked", "0;o;50 05 4B 46 7F FF 0C 10 1C 9C \n", CRC_BAD,
     "50 05 4B 46 7F FF 0C 10 1C 9C "},
    {"ROM id while polling", "0;o;28FF4A1B02170312\n", CRC_BAD, "28FF4A1B02170312"},
    {"nothing after the second field", "0;o\n", CRC_BAD, ""},
    {"empty third field", "0;o;\n", CRC_BAD, ""},
};

class FrameTable : public Frame, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTable, CheckAndCut) {
  const FrameCase &c = GetParam();
  check(c.line);
  ASSERT_NE(ctx->rxa[2], nullptr) ;
  EXPECT_EQ(ctx->crc, c.crc) ;
  EXPECT_STREQ(ctx->rxa[2], c.frame) ;
  EXPECT_FALSE(testsupport::path_exists(dir.file("err.txt"))) ;
}

INSTANTIATE_TEST_SUITE_P(Table, FrameTable, ::testing::ValuesIn(kFrameCases),
                         testsupport::CaseName());

TEST_F(Frame, BadChecksumLogsOneRecordAndKeepsTheFrameWhole) {
  check("0;o;50 05 4B 46 7F FF 0C 10 1C 9D 7\n");
  EXPECT_EQ(ctx->crc, CRC_BAD);
  EXPECT_STREQ(ctx->rxa[2], "50 05 4B 46 7F FF 0C 10 1C 9D 7");
  EXPECT_EQ(err_log(),
            "07.03.26 14:05:09;28FF4A6B011603C1;err cnc ser;50 05 4B 46 7F FF 0C 10 1C 9D 7;\n");
}

TEST_F(Frame, RecordUsesTheNameAndAppends) {
  copy_bounded(ctx->table.idn[0].data(), kIdSize, "Kitchen", kIdMax);
  check("0;o;50 05 4B 46 7F FF 0C 10 1C 9D 7\n");
  testsupport::FakeClock::now = kMarch7 + 1;
  check("0;o;FF FF FF FF FF FF FF FF FF F8 00\n");
  EXPECT_EQ(err_log(),
            "07.03.26 14:05:09;Kitchen;err cnc ser;50 05 4B 46 7F FF 0C 10 1C 9D 7;\n"
            "07.03.26 14:05:10;Kitchen;err cnc ser;FF FF FF FF FF FF FF FF FF F8 00;\n");
}

TEST_F(Frame, LongRecordIsWrittenWhole) {
  const std::string frame =
      "50 05 4B 46 7F FF 0C 10 1C 00 " + std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  check("0;o;" + frame + "\n");
  const std::string record = std::string(kRom) + ";err cnc ser;" + frame;
  ASSERT_GT(record.size(), 67u);
  EXPECT_EQ(err_log(), "07.03.26 14:05:09;" + record + ";\n");
}

TEST_F(Frame, UnwritableErrorLogEndsTheProcess) {
  SKIP_UNLESS_FORK_WORKS();
  const std::string missing = dir.file("missing");
  copy_bounded(ctx->outdir.data(), kDirSize, (missing + "/").c_str(), kDirSize - 1);
  EXPECT_EXIT(check("0;o;50 05 4B 46 7F FF 0C 10 1C 9D 7\n"), ::testing::ExitedWithCode(255),
              missing + "/err\\.txt: No such file or directory");
}

}  // namespace
