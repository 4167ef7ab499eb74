// Tests of the S0 decoder: impulse counts to watt-hours, rates, value text.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "decode/s0.h"
#include "support/param_name.h"

namespace {

struct ScaleCase {
  std::uint32_t count;
  std::int32_t imp;
  std::uint64_t wh;
};

void PrintTo(const ScaleCase &c, std::ostream *os) { *os << c.count << " at " << c.imp; }

const ScaleCase kScaleCases[] = {
    {1001, 1000, 1001},
    {1001, 2000, 500},
    {1001, 800, 1251},
    {3, 800, 3},
    {7, 500, 14},
    {12345, 2500, 4938},
    {5000000, 10000, 500000},
    {5000000, 250, 20000000},
    {4294967295u, 1000, 4294967295u},
    {4294967295u, 2000, 2147483647u},
    {4294967295u, 800, 5368709118u},
    {4294967295u, 500, 8589934590u},
    {4294967295u, 250, 17179869180u},
    {4294967295u, 1, 4294967295000u},
    {4294967295u, 2147483647, 2000},
    {1001, 0, 1001},
    {1001, -800, 1001},
    {0, 800, 0},
};

class S0Scale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(S0Scale, ToWattHours) {
  const ScaleCase &c = GetParam();
  EXPECT_EQ(decode::scale_to_wh(c.count, c.imp), c.wh) << c.count << " at " << c.imp;
}

std::string scale_case_name(const ::testing::TestParamInfo<ScaleCase> &info) {
  return testsupport::test_name(std::to_string(info.param.count) + "_at_" +
                                std::to_string(info.param.imp));
}

INSTANTIATE_TEST_SUITE_P(Table, S0Scale, ::testing::ValuesIn(kScaleCases), scale_case_name);

struct RateCase {
  const char *name;
  const char *field;
  std::int32_t imp;
};

void PrintTo(const RateCase &c, std::ostream *os) { *os << c.name; }

const RateCase kRateCases[] = {
    {"plain", "800", 800},        {"empty", "", 1000},           {"zero", "0", 1000},
    {"negative", "-800", 1000},   {"no_digits", "abc", 1000},    {"trailing_text", "250x", 250},
    {"one", "1", 1},              {"int32_max", "2147483647", 2147483647},
    {"above_int32", "2147483648", 1000},
};

class S0Rate : public ::testing::TestWithParam<RateCase> {};

TEST_P(S0Rate, FromTheField) {
  EXPECT_EQ(decode::impulse_rate(GetParam().field), GetParam().imp);
}

INSTANTIATE_TEST_SUITE_P(Table, S0Rate, ::testing::ValuesIn(kRateCases), testsupport::CaseName());

TEST(S0Value, DecimalTextOfTheEnergy) {
  char value[decode::kS0ValueSize];
  EXPECT_EQ(decode::decode_s0("0042", 1000, value, sizeof value), 42u);
  EXPECT_STREQ(value, "42");
  EXPECT_EQ(decode::decode_s0("4294967295", 1, value, sizeof value), 4294967295000u);
  EXPECT_STREQ(value, "4294967295000");
  char small[4];
  EXPECT_EQ(decode::decode_s0("123456", 1000, small, sizeof small), 123456u);
  EXPECT_STREQ(small, "123");
}

}  // namespace
