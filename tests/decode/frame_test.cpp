// Tests of the frame check on the frame text alone: checksum, cut, figures.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "decode/frame.h"
#include "support/param_name.h"

namespace {

struct FrameCase {
  const char *name;
  const char *frame;  // the third field of a data line
  bool good;
  const char *after;  // the text after the check
};

void PrintTo(const FrameCase &c, std::ostream *os) { *os << c.name; }

const FrameCase kFrameCases[] = {
    {"upper_case", "50 05 4B 46 7F FF 0C 10 1C 9C 7", true, "50 05 4B 46 7F FF 0C 10 1C "},
    {"lower_case", "50 05 4b 46 7f ff 0c 10 1c 9c 7", true, "50 05 4b 46 7f ff 0c 10 1c "},
    {"sum_wraps_at_256", "FF FF FF FF FF FF FF FF FF F7 00", true, "FF FF FF FF FF FF FF FF FF "},
    {"sum_one_off", "50 05 4B 46 7F FF 0C 10 1C 9D 7", false, "50 05 4B 46 7F FF 0C 10 1C 9D 7"},
    {"last_byte_counts", "50 05 4B 46 7F FF 0C 10 1D 9C 7", false,
     "50 05 4B 46 7F FF 0C 10 1D 9C 7"},
    {"first_byte_counts", "51 05 4B 46 7F FF 0C 10 1C 9C 7", false,
     "51 05 4B 46 7F FF 0C 10 1C 9C 7"},
    {"low_digit_of_checksum", "50 05 4B 46 7F FF 0C 10 1C 9B 7", false,
     "50 05 4B 46 7F FF 0C 10 1C 9B 7"},
    {"exactly_31_checked", "50 05 4B 46 7F FF 0C 10 1C 9C  ", true, "50 05 4B 46 7F FF 0C 10 1C "},
    {"30_not_checked", "50 05 4B 46 7F FF 0C 10 1C 9C ", false,
     "50 05 4B 46 7F FF 0C 10 1C 9C "},
    {"rom_id", "28FF4A1B02170312", false, "28FF4A1B02170312"},
    {"empty", "", false, ""},
};

class FrameTable : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameTable, CheckAndCut) {
  const FrameCase &c = GetParam();
  std::string text = c.frame;
  decode::FrameSum sum;
  EXPECT_EQ(decode::check_frame(text.data(), &sum), c.good);
  EXPECT_STREQ(text.c_str(), c.after);
  EXPECT_EQ(sum.checked, std::string(c.frame).size() > 30);
}

INSTANTIATE_TEST_SUITE_P(Table, FrameTable, ::testing::ValuesIn(kFrameCases),
                         testsupport::CaseName());

TEST(FrameSum, FiguresOfTheCheck) {
  std::string text = "50 05 4B 46 7F FF 0C 10 1C 9D 7";
  decode::FrameSum sum;
  ASSERT_FALSE(decode::check_frame(text.data(), &sum));
  EXPECT_EQ(sum.bytes[0], 0x50u);
  EXPECT_EQ(sum.bytes[8], 0x1Cu);
  EXPECT_EQ(sum.sums[1], 0x55u);
  EXPECT_EQ(sum.sums[5], (0x50u + 0x05 + 0x4B + 0x46 + 0x7F + 0xFF) % 256u);
  EXPECT_EQ(sum.sums[8], 0x9Cu);
  EXPECT_EQ(sum.checksum, 0x9Du);
}

struct HexCase {
  const char *name;
  const char *frame;
  int positions[8];
  int count;
  unsigned value;
};

void PrintTo(const HexCase &c, std::ostream *os) { *os << c.name; }

const HexCase kHexCases[] = {
    {"pair", "4B", {0, 1}, 2, 0x4B},
    {"order_given", "0110", {2, 3, 0, 1}, 4, 0x1001},
    {"counter_width", "78 56 34 12", {9, 10, 6, 7, 3, 4, 0, 1}, 8, 0x12345678},
    {"all_ones_32_bits", "FF FF FF FF", {9, 10, 6, 7, 3, 4, 0, 1}, 8, 0xFFFFFFFFu},
    {"stops_at_non_digit", "4z", {0, 1}, 2, 4},
    {"leading_blank_skipped", " 5", {0, 1}, 2, 5},
    {"no_digit_reads_0", "zz", {0, 1}, 2, 0},
    {"minus_is_no_digit", "-1", {0, 1}, 2, 0},
};

class HexTable : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexTable, ReadsLikeScanfHex) {
  const HexCase &c = GetParam();
  EXPECT_EQ(decode::hex_at(c.frame, c.positions, c.count), c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, HexTable, ::testing::ValuesIn(kHexCases), testsupport::CaseName());

}  // namespace
