// Tests of the decoder choice of a data line, its value text and its traces.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "engine/data_line.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "support/test_support.h"

namespace {

using namespace core;

class DecodeValue : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::prepare_context(ctx.get(), "/tmp", -1); }
  // Entry 0 with ROM id `id` has answered with the (already cut) frame `frame`.
  void answer(const char *id, const char *frame, int crc = CRC_OK) {
    copy_bounded(ctx->table.ids[0].data(), kIdSize, id, kIdMax);
    ctx->idi = 0;
    copy_bounded(ctx->line.data(), kLineSize, frame, kLineSize - 1);
    ctx->rxa[2] = ctx->line.data();
    ctx->crc = crc;
    copy_bounded(ctx->value.data(), kValueSize, "stale", kValueSize - 1);
  }
  std::string decode_captured() {
    return testsupport::capture_stdout([this] { engine::decode_value(ctx.get()); });
  }
  std::unique_ptr<PollContext> ctx = std::make_unique<PollContext>();
};

struct TempCase {
  const char *name;
  const char *id;
  const char *frame;
  const char *value;
};

void PrintTo(const TempCase &c, std::ostream *os) { *os << c.name; }

const TempCase kTempCases[] = {
    {"f28_85", "28FF4A6B011603C1", "50 05 4B 46 7F FF 0C 10 1C ", "85.000"},
    {"f28_negative", "28FF4A6B011603C1", "5E FF 00 00 00 00 00 00 00 ", "-10.125"},
    {"f28_lowest", "28FF4A6B011603C1", "00 80 FF FF FF FF FF FF FF ", "-2048.000"},
    {"f28_zero", "28FF4A6B011603C1", "00 00 12 34 56 78 9A BC DE ", "0.000"},
    {"f28_lower_case", "28FF4A6B011603C1", "f8 ff 00 00 00 00 00 00 00 ", "-0.500"},
    {"f10_85", "10A1B2C3D4E5F601", "AA 00 00 00 00 00 00 00 00 ", "85.0"},
    {"f10_minus_half", "10A1B2C3D4E5F601", "FF FF 00 00 00 00 00 00 00 ", "-0.5"},
    {"f10_24_5", "10A1B2C3D4E5F601", "31 00 4B 46 7F FF 0C 10 1C ", "24.5"},
};

class DecodeValueTable : public DecodeValue, public ::testing::WithParamInterface<TempCase> {};

TEST_P(DecodeValueTable, ValueText) {
  const TempCase &c = GetParam();
  answer(c.id, c.frame);
  EXPECT_EQ(decode_captured(), "");
  EXPECT_STREQ(ctx->value.data(), c.value) << c.id << " " << c.frame;
}

INSTANTIATE_TEST_SUITE_P(Table, DecodeValueTable, ::testing::ValuesIn(kTempCases),
                         testsupport::CaseName());

TEST_F(DecodeValue, BadFrameGivesNoValue) {
  answer("28FF4A6B011603C1", "50 05 4B 46 7F FF 0C 10 1C 9D 7", CRC_BAD);
  EXPECT_EQ(decode_captured(), "");
  EXPECT_STREQ(ctx->value.data(), "");
}

TEST_F(DecodeValue, OtherFamilyGivesNoValue) {
  for (const char *id : {"3AFF4A6B011603C1", "S01", "82FF4A6B011603C1"}) {
    answer(id, "50 05 4B 46 7F FF 0C 10 1C ");
    EXPECT_EQ(decode_captured(), "") << id;
    EXPECT_STREQ(ctx->value.data(), "") << id;
  }
}

TEST_F(DecodeValue, ModuleWithBadFrameGetsNoValue) {
  copy_bounded(ctx->qvm.data(), kQvmSize, "QV-S0", kQvmSize - 1);
  answer("28FF4A6B011603C1", "10 27 00 00 64 00 00 80 00 00 00", CRC_BAD);
  EXPECT_EQ(decode_captured(), "");
  EXPECT_STREQ(ctx->value.data(), "");
}

TEST_F(DecodeValue, GoodFrameWithModelGoesToTheModuleDecoder) {
  copy_bounded(ctx->qvm.data(), kQvmSize, "QV-S0", kQvmSize - 1);
  answer("28FF4A6B011603C1", "10 27 00 00 64 00 00 80 00 ");
  EXPECT_EQ(decode_captured(),
            "QV-S0, rxas=10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED\n");
  EXPECT_STREQ(ctx->value.data(), "10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED");
  ctx->quiet = 1;
  answer("28FF4A6B011603C1", "10 27 00 00 64 00 00 80 00 ");
  EXPECT_EQ(decode_captured(), "") << "quiet";
  EXPECT_STREQ(ctx->value.data(), "10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED");
}

TEST_F(DecodeValue, UnknownModelGetsNoValueAndNoLine) {
  copy_bounded(ctx->qvm.data(), kQvmSize, "QV-X", kQvmSize - 1);
  answer("28FF4A6B011603C1", "10 27 00 00 64 00 00 80 00 ");
  EXPECT_EQ(decode_captured(), "");
  EXPECT_STREQ(ctx->value.data(), "");
}

TEST_F(DecodeValue, DebugTrace) {
  ctx->debug = 1;
  answer("28FF4A6B011603C1", "50 05 4B 46 7F FF 0C 10 1C ");
  EXPECT_EQ(decode_captured(), "n=1360 85.000temp=1360.000000,85.000\n");
  answer("10A1B2C3D4E5F601", "FF FF 00 00 00 00 00 00 00 ");
  EXPECT_EQ(decode_captured(), "n=65535 -0.5");
}

}  // namespace
