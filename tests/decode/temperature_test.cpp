// Tests of the temperature decoder on the frame text alone.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "decode/temperature.h"
#include "support/param_name.h"

namespace {

using decode::Family;

struct TempCase {
  const char *name;
  const char *id;
  const char *frame;
  const char *value;
  unsigned word;
};

void PrintTo(const TempCase &c, std::ostream *os) { *os << c.name; }

const TempCase kTempCases[] = {
    {"f28_85", "28FF4A6B011603C1", "50 05 4B 46 7F FF 0C 10 1C ", "85.000", 0x0550},
    {"f28_negative", "28FF4A6B011603C1", "5E FF 00 00 00 00 00 00 00 ", "-10.125", 0xFF5E},
    {"f28_lowest", "28FF4A6B011603C1", "00 80 FF FF FF FF FF FF FF ", "-2048.000", 0x8000},
    {"f28_zero", "28FF4A6B011603C1", "00 00 12 34 56 78 9A BC DE ", "0.000", 0},
    {"f28_lower_case", "28FF4A6B011603C1", "f8 ff 00 00 00 00 00 00 00 ", "-0.500", 0xFFF8},
    {"f28_highest", "28FF4A6B011603C1", "FF 7F 00 00 00 00 00 00 00 ", "2047.938", 0x7FFF},
    {"f10_85", "10A1B2C3D4E5F601", "AA 00 00 00 00 00 00 00 00 ", "85.0", 0x00AA},
    {"f10_minus_half", "10A1B2C3D4E5F601", "FF FF 00 00 00 00 00 00 00 ", "-0.5", 0xFFFF},
    {"f10_24_5", "10A1B2C3D4E5F601", "31 00 4B 46 7F FF 0C 10 1C ", "24.5", 0x0031},
};

class TemperatureTable : public ::testing::TestWithParam<TempCase> {};

TEST_P(TemperatureTable, ValueText) {
  const TempCase &c = GetParam();
  char value[64] = "stale";
  decode::TemperatureReading reading{};
  ASSERT_TRUE(decode::decode_temperature(c.id, c.frame, value, sizeof value, &reading));
  EXPECT_STREQ(value, c.value);
  EXPECT_EQ(reading.word, c.word);
  double celsius = 0.0;
  ASSERT_TRUE(decode::temperature_of(c.id, c.frame, &celsius));
  EXPECT_EQ(celsius, reading.celsius);
}

INSTANTIATE_TEST_SUITE_P(Table, TemperatureTable, ::testing::ValuesIn(kTempCases),
                         testsupport::CaseName());

struct FamilyCase {
  const char *name;
  const char *id;
  Family family;
};

void PrintTo(const FamilyCase &c, std::ostream *os) { *os << c.name; }

// Both characters of the family code count: a sensor whose code merely
// begins with '1' or '2' is not a temperature sensor.
const FamilyCase kFamilyCases[] = {
    {"f10", "10A1B2C3D4E5F601", Family::k10},
    {"f28", "28FF4A6B011603C1", Family::k28},
    {"f12_first_digit_1", "12A1B2C3D4E5F601", Family::kOther},
    {"f1D_first_digit_1", "1DA1B2C3D4E5F601", Family::kOther},
    {"f20_first_digit_2", "20FF4A6B011603C1", Family::kOther},
    {"f26_first_digit_2", "26FF4A6B011603C1", Family::kOther},
    {"f18_digits_crossed", "18FF4A6B011603C1", Family::kOther},
    {"f82_digits_swapped", "82FF4A6B011603C1", Family::kOther},
    {"f01_digits_swapped", "01A1B2C3D4E5F601", Family::kOther},
    {"f3A", "3AFF4A6B011603C1", Family::kOther},
    {"s0_entry", "S01", Family::kOther},
    {"one_character", "1", Family::kOther},
    {"empty", "", Family::kOther},
};

class FamilyTable : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyTable, FamilyCodeAndValue) {
  const FamilyCase &c = GetParam();
  EXPECT_EQ(decode::family_of(c.id), c.family);
  char value[64] = "stale";
  decode::TemperatureReading reading{};
  const bool wrote =
      decode::decode_temperature(c.id, "50 05 4B 46 7F FF 0C 10 1C ", value, sizeof value, &reading);
  EXPECT_EQ(wrote, c.family != Family::kOther);
  if (!wrote) {
    EXPECT_STREQ(value, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FamilyTable, ::testing::ValuesIn(kFamilyCases),
                         testsupport::CaseName());

TEST(Temperature, ValueCutToTheCallersBuffer) {
  char value[5];
  decode::TemperatureReading reading{};
  ASSERT_TRUE(decode::decode_temperature("28FF4A6B011603C1", "00 80 00 00 00 00 00 00 00 ", value,
                                         sizeof value, &reading));
  EXPECT_STREQ(value, "-204");
}

}  // namespace
