// Frame text, checksum and device byte encodings of the adapter stand-in.
#include <gtest/gtest.h>

#include <string>

#include "sim_frame.h"

namespace adaptersim {
namespace {

std::string frame_text(const DataBytes &data, bool corrupt = false) {
  char buf[kFrameTextLen + 1];
  EXPECT_EQ(format_frame(data, corrupt, buf, sizeof buf), kFrameTextLen);
  return buf;
}

TEST(SimFrame, TextCarriesChecksumWhereTheLoggerReadsIt) {
  struct Case {
    DataBytes data;
    const char *text;
  };
  const Case cases[] = {
      {{0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C}, "50 05 4B 46 7F FF 0C 10 1C 9C 00"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FF FF FF FF FF FF FF FF FF F7 00"},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0}, "00 00 00 00 00 00 00 00 00 00 00"},
  };
  for (const Case &c : cases) {
    const std::string text = frame_text(c.data);
    EXPECT_EQ(text, c.text);
    // Data byte k at 3k/3k+1, checksum at 27-28, more than 30 characters.
    ASSERT_GT(text.size(), 30u);
    EXPECT_EQ(std::stoul(text.substr(27, 2), nullptr, 16), frame_checksum(c.data));
    for (std::size_t k = 0; k < kDataBytes; ++k) {
      EXPECT_EQ(std::stoul(text.substr(3 * k, 2), nullptr, 16), c.data[k]) << c.text;
    }
  }
}

TEST(SimFrame, CorruptChecksumDiffersAndKeepsData) {
  const DataBytes data{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::string good = frame_text(data);
  const std::string bad = frame_text(data, true);
  EXPECT_EQ(bad.substr(0, 27), good.substr(0, 27));
  EXPECT_NE(bad.substr(27, 2), good.substr(27, 2));
  EXPECT_EQ(bad.substr(27, 2), "F8");
}

TEST(SimFrame, RefusesSmallBuffer) {
  char buf[kFrameTextLen];
  EXPECT_EQ(format_frame(DataBytes{}, false, buf, sizeof buf), 0u);
}

TEST(SimFrame, TemperatureWords) {
  struct Case {
    double celsius;
    int steps;
    std::uint8_t lo;
    std::uint8_t hi;
  };
  const Case cases[] = {
      {85.0, 16, 0x50, 0x05},   {-10.125, 16, 0x5E, 0xFF}, {0.0, 16, 0x00, 0x00},
      {-2048.0, 16, 0x00, 0x80}, {24.5, 2, 0x31, 0x00},    {-0.5, 2, 0xFF, 0xFF},
      {85.0, 2, 0xAA, 0x00},     {21.53, 16, 0x58, 0x01},  // 344.48 rounds to 344
  };
  for (const Case &c : cases) {
    std::uint16_t word = 0;
    ASSERT_TRUE(temperature_word(c.celsius, c.steps, word)) << c.celsius;
    const DataBytes d = c.steps == 16 ? encode_temp28(word) : encode_temp10(word);
    EXPECT_EQ(d[0], c.lo) << c.celsius;
    EXPECT_EQ(d[1], c.hi) << c.celsius;
  }
}

TEST(SimFrame, TemperatureOutOfWordRangeRejected) {
  std::uint16_t word = 0;
  EXPECT_FALSE(temperature_word(2048.0, 16, word));
  EXPECT_FALSE(temperature_word(-2048.1, 16, word));
  EXPECT_TRUE(temperature_word(2047.9375, 16, word));
  EXPECT_EQ(word, 0x7FFF);
  EXPECT_FALSE(temperature_word(16384.0, 2, word));
}

TEST(SimFrame, CounterModuleBytes) {
  EXPECT_EQ(encode_counter(10000, 100, true),
            (DataBytes{0x10, 0x27, 0x00, 0x00, 0x64, 0x00, 0x00, 0x80, 0x00}));
  EXPECT_EQ(encode_counter(0xFFFFFFFFu, 0xABCD, false),
            (DataBytes{0xFF, 0xFF, 0xFF, 0xFF, 0xCD, 0xAB, 0x00, 0x00, 0x00}));
}

TEST(SimFrame, ClimateModuleBytes) {
  std::uint16_t word = 0;
  ASSERT_TRUE(temperature_word(85.0, 16, word));
  EXPECT_EQ(encode_climate(word, 50, 45, 10, true),
            (DataBytes{0x50, 0x05, 0x32, 0x00, 0x2D, 0x00, 0x0A, 0x80, 0x00}));
  EXPECT_EQ(encode_climate(word, 50, 45, 10, false)[7], 0x00);
}

}  // namespace
}  // namespace adaptersim
