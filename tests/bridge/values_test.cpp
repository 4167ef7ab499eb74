// Value-file parsers: every shape the logger writes is taken, everything else refused.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "bridge/values.h"
#include "bridge_test_support.h"

namespace {

using bridge::LabelKind;
using bridgetest::info_of;

const std::string kCounterHeader = "counter [Wh]; consumption[Wh]; limit/LED\n";
const std::string kClimateHeader = "T[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED\n";

struct GoodCase {
  const char *name;       // test name
  LabelKind kind;         // kind of the label
  const char *id;         // its ROM id (family decides the climate T)
  bool has_temperature;   // climate: family 10 or 28
  std::string file;       // the file's bytes
  std::vector<std::pair<std::string, std::string>> fields;  // field, published text
};
void PrintTo(const GoodCase &c, std::ostream *os) { *os << c.name; }

const GoodCase kGood[] = {
    {"Temp28", LabelKind::kTemp28, "28FF4A1B02170312", true, "21.500\n", {{"temperature", "21.500"}}},
    {"Temp28Negative", LabelKind::kTemp28, "28FF4A1B02170312", true, "-10.125\n",
     {{"temperature", "-10.125"}}},
    {"Temp28Lowest", LabelKind::kTemp28, "28FF4A1B02170312", true, "-2048.000\n",
     {{"temperature", "-2048.000"}}},
    {"Temp28Highest", LabelKind::kTemp28, "28FF4A1B02170312", true, "2047.938\n",
     {{"temperature", "2047.938"}}},
    {"Temp28Zero", LabelKind::kTemp28, "28FF4A1B02170312", true, "0.000\n", {{"temperature", "0.000"}}},
    {"Temp28NegativeBelowOne", LabelKind::kTemp28, "28FF4A1B02170312", true, "-0.062\n",
     {{"temperature", "-0.062"}}},
    {"Temp10", LabelKind::kTemp10, "10A1B2C3D4E5F607", true, "85.0\n", {{"temperature", "85.0"}}},
    {"Temp10Negative", LabelKind::kTemp10, "10A1B2C3D4E5F607", true, "-0.5\n", {{"temperature", "-0.5"}}},
    {"Temp10Lowest", LabelKind::kTemp10, "10A1B2C3D4E5F607", true, "-16384.0\n",
     {{"temperature", "-16384.0"}}},
    {"Temp10Highest", LabelKind::kTemp10, "10A1B2C3D4E5F607", true, "16383.5\n",
     {{"temperature", "16383.5"}}},
    {"Counter", LabelKind::kCounter, "28C0FFEE00000001", true, "10000;100;1\n" + kCounterHeader,
     {{"counter", "10000"}, {"consumption", "100"}, {"led", "1"}}},
    {"CounterLargest", LabelKind::kCounter, "28C0FFEE00000001", true,
     "4294967295;65535;0\n" + kCounterHeader,
     {{"counter", "4294967295"}, {"consumption", "65535"}, {"led", "0"}}},
    {"CounterZero", LabelKind::kCounter, "28C0FFEE00000001", true, "0;0;0\n" + kCounterHeader,
     {{"counter", "0"}, {"consumption", "0"}, {"led", "0"}}},
    {"ClimatePadded", LabelKind::kClimate, "28C0FFEE00000002", true,
     " 85.000;50;45;10;1\n" + kClimateHeader,
     {{"temperature", "85.000"}, {"rlf", "50"}, {"rli", "45"}, {"rlq", "10"}, {"led", "1"}}},
    {"ClimateTwoBlanks", LabelKind::kClimate, "28C0FFEE00000002", true,
     "  0.000;0;0;0;0\n" + kClimateHeader,
     {{"temperature", "0.000"}, {"rlf", "0"}, {"rli", "0"}, {"rlq", "0"}, {"led", "0"}}},
    {"ClimateSevenWide", LabelKind::kClimate, "28C0FFEE00000002", true,
     "-10.125;255;255;255;0\n" + kClimateHeader,
     {{"temperature", "-10.125"}, {"rlf", "255"}, {"rli", "255"}, {"rlq", "255"}, {"led", "0"}}},
    {"ClimateWiderThanSeven", LabelKind::kClimate, "28C0FFEE00000002", true,
     "-2048.000;1;2;3;1\n" + kClimateHeader,
     {{"temperature", "-2048.000"}, {"rlf", "1"}, {"rli", "2"}, {"rlq", "3"}, {"led", "1"}}},
    {"ClimateFamily10", LabelKind::kClimate, "10C0FFEE00000002", true,
     " 24.500;1;2;3;0\n" + kClimateHeader,
     {{"temperature", "24.500"}, {"rlf", "1"}, {"rli", "2"}, {"rlq", "3"}, {"led", "0"}}},
    {"ClimateOtherFamilyHasNoTemperature", LabelKind::kClimate, "26C0FFEE00000002", false,
     "  0.000;50;45;10;0\n" + kClimateHeader,
     {{"rlf", "50"}, {"rli", "45"}, {"rlq", "10"}, {"led", "0"}}},
    {"S0", LabelKind::kS0, "S01", false, "1542\n", {{"energy", "1542"}}},
    {"S0Zero", LabelKind::kS0, "S01", false, "0\n", {{"energy", "0"}}},
    {"S0Largest", LabelKind::kS0, "S02", false, "18446744073709551615\n",
     {{"energy", "18446744073709551615"}}},
};

class ValueGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ValueGood, EveryFieldIsTakenAsPrinted) {
  const GoodCase &c = GetParam();
  bridge::Reading r;
  const char *why = bridge::parse_value_file(info_of(c.kind, c.id, c.has_temperature),
                                             c.file.data(), c.file.size(), r);
  ASSERT_EQ(why, nullptr) << why;
  ASSERT_EQ(r.count, c.fields.size());
  for (std::size_t i = 0; i < r.count; ++i) {
    EXPECT_EQ(bridge::field_name(r.fields[i].id), c.fields[i].first);
    EXPECT_STREQ(r.fields[i].text.data(), c.fields[i].second.c_str());
    EXPECT_DOUBLE_EQ(r.fields[i].number, std::stod(c.fields[i].second));
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ValueGood, ::testing::ValuesIn(kGood),
                         [](const auto &info) { return std::string(info.param.name); });

struct JunkCase {
  const char *name;  // test name
  LabelKind kind;    // kind of the label
  std::string file;  // the file's bytes
};
void PrintTo(const JunkCase &c, std::ostream *os) { *os << c.name; }

const std::string kNul("21.5\0" "00\n", 8);

const JunkCase kJunk[] = {
    {"Empty", LabelKind::kTemp28, ""},
    {"NoLineEnd", LabelKind::kTemp28, "21.500"},
    {"CarriageReturn", LabelKind::kTemp28, "21.500\r\n"},
    {"SecondLine", LabelKind::kTemp28, "21.500\n\n"},
    {"LeadingBlank", LabelKind::kTemp28, " 21.500\n"},
    {"PlusSign", LabelKind::kTemp28, "+21.500\n"},
    {"LeadingZero", LabelKind::kTemp28, "021.500\n"},
    {"OneDecimalForFamily28", LabelKind::kTemp28, "21.5\n"},
    {"FourDecimals", LabelKind::kTemp28, "21.5000\n"},
    {"NoIntegerPart", LabelKind::kTemp28, ".500\n"},
    {"NotANumber", LabelKind::kTemp28, "nan\n"},
    {"AboveFamily28Range", LabelKind::kTemp28, "2048.000\n"},
    {"BelowFamily28Range", LabelKind::kTemp28, "-2048.063\n"},
    {"NulByte", LabelKind::kTemp28, kNul},
    {"TooLong", LabelKind::kTemp28, std::string(200, '1') + ".000\n"},
    {"RawFrame", LabelKind::kTemp28, "58 01 4B 46 7F FF 0C 10 1C \n"},
    {"ThreeDecimalsForFamily10", LabelKind::kTemp10, "21.500\n"},
    {"AboveFamily10Range", LabelKind::kTemp10, "16384.0\n"},
    {"CounterWithoutHeader", LabelKind::kCounter, "10000;100;1\n"},
    {"CounterHeaderWithoutLineEnd", LabelKind::kCounter,
     "10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED"},
    {"CounterNegative", LabelKind::kCounter, "-1;100;1\n" + kCounterHeader},
    {"CounterOver32Bits", LabelKind::kCounter, "4294967296;0;0\n" + kCounterHeader},
    {"ConsumptionOver16Bits", LabelKind::kCounter, "1;65536;0\n" + kCounterHeader},
    {"CounterLedTwo", LabelKind::kCounter, "1;1;2\n" + kCounterHeader},
    {"CounterFourFields", LabelKind::kCounter, "1;1;1;1\n" + kCounterHeader},
    {"CounterLeadingZero", LabelKind::kCounter, "01;1;1\n" + kCounterHeader},
    {"CounterWrongHeader", LabelKind::kCounter,
     "1;1;1\ncounter [Wh];consumption[Wh]; limit/LED\n"},
    {"CounterExtraLine", LabelKind::kCounter, "1;1;1\n" + kCounterHeader + "x\n"},
    {"CounterIsTemperature", LabelKind::kCounter, "21.500\n"},
    {"ClimateNotPadded", LabelKind::kClimate, "85.000;50;45;10;1\n" + kClimateHeader},
    {"ClimatePaddedTooMuch", LabelKind::kClimate, "  85.000;50;45;10;1\n" + kClimateHeader},
    {"ClimateWidePadded", LabelKind::kClimate, " -10.125;50;45;10;1\n" + kClimateHeader},
    {"ClimateTwoDecimals", LabelKind::kClimate, "  85.00;50;45;10;1\n" + kClimateHeader},
    {"ClimateRlfOver255", LabelKind::kClimate, " 85.000;256;45;10;1\n" + kClimateHeader},
    {"ClimateRliOver255", LabelKind::kClimate, " 85.000;50;256;10;1\n" + kClimateHeader},
    {"ClimateRlqOver255", LabelKind::kClimate, " 85.000;50;45;256;1\n" + kClimateHeader},
    {"ClimateLedTwo", LabelKind::kClimate, " 85.000;50;45;10;2\n" + kClimateHeader},
    {"ClimateFieldMissing", LabelKind::kClimate, " 85.000;50;45;10\n" + kClimateHeader},
    {"ClimateHeaderWithoutDegreeSign", LabelKind::kClimate,
     " 85.000;50;45;10;1\nT[C];rLf[%];rLi[%];rLq[%];limit/LED\n"},
    {"ClimateHeaderDoublePercent", LabelKind::kClimate,
     " 85.000;50;45;10;1\nT[\xC2\xB0" "C];rLf[%%];rLi[%%];rLq[%%];limit/LED\n"},
    {"ClimateOutOfRange", LabelKind::kClimate, "2048.000;50;45;10;1\n" + kClimateHeader},
    {"S0Negative", LabelKind::kS0, "-1\n"},
    {"S0Letters", LabelKind::kS0, "12a\n"},
    {"S0Over64Bits", LabelKind::kS0, "18446744073709551616\n"},
    {"S0Fraction", LabelKind::kS0, "1.5\n"},
    {"S0LeadingZero", LabelKind::kS0, "01\n"},
    {"S0OnlyLineEnd", LabelKind::kS0, "\n"},
    {"S0TrailingBlank", LabelKind::kS0, "1 \n"},
    {"UnknownKind", LabelKind::kUnknown, "21.500\n"},
};

class ValueJunk : public ::testing::TestWithParam<JunkCase> {};

TEST_P(ValueJunk, IsRefusedWithAReasonAndNoFields) {
  const JunkCase &c = GetParam();
  bridge::Reading r;
  r.count = 3;  // a stale count must not survive a refusal
  const char *why = bridge::parse_value_file(info_of(c.kind, "28C0FFEE00000002"), c.file.data(),
                                             c.file.size(), r);
  ASSERT_NE(why, nullptr);
  EXPECT_GT(std::string(why).size(), 0u);
  EXPECT_EQ(r.count, 0u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ValueJunk, ::testing::ValuesIn(kJunk),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ValueLength, ALongerFileThanAnyShapeIsRefusedBeforeItIsScanned) {
  // A good shape followed by padding up to the bound and beyond.
  std::string file = "21.500\n";
  const bridge::LabelInfo info = info_of(LabelKind::kTemp28, "28FF4A1B02170312");
  bridge::Reading r;
  file.resize(bridge::kValueFileMax + 1, '\n');
  EXPECT_STREQ(bridge::parse_value_file(info, file.data(), file.size(), r),
               "longer than any value file");
}

}  // namespace
