// Tests of the module decoders: energy counter and climate module.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "decode/module.h"
#include "support/param_name.h"

namespace {

constexpr const char *kCounterHeader = "\ncounter [Wh]; consumption[Wh]; limit/LED";
constexpr const char *kClimateHeader = "\nT[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED";

struct ModuleCase {
  const char *name;
  const char *model;
  const char *id;
  const char *frame;  // a good frame, cut after its nine data bytes
  std::string value;  // "" : no value and nothing printed
};

void PrintTo(const ModuleCase &c, std::ostream *os) { *os << c.name; }

const ModuleCase kModuleCases[] = {
    {"s0_led_on", "QV-S0", "28A", "10 27 00 00 64 00 00 80 00 ", std::string("10000;100;1") + kCounterHeader},
    {"s0_led_off", "QV-S0", "28A", "10 27 00 00 64 00 80 00 00 ", std::string("10000;100;0") + kCounterHeader},
    {"s0_all_ones", "QV-S0", "28A", "FF FF FF FF FF FF 00 7F 00 ",
     std::string("4294967295;65535;0") + kCounterHeader},
    {"s0_byte_order", "QV-S0", "28A", "78 56 34 12 cd ab ff ff 00 ",
     std::string("305419896;43981;1") + kCounterHeader},
    {"dk_s0", "QV-DK-S0", "28A", "10 27 00 00 64 00 00 80 00 ",
     std::string("10000;100;1") + kCounterHeader},
    {"s0_with_suffix", "QV-S0XY", "28A", "10 27 00 00 64 00 00 80 00 ",
     std::string("10000;100;1") + kCounterHeader},
    {"h_85", "QV-H", "28A", "50 05 32 00 2D 00 0A 80 00 ",
     std::string(" 85.000;50;45;10;1") + kClimateHeader},
    {"htx_85", "QV-HTX", "28A", "50 05 32 00 2D 00 0A 80 00 ",
     std::string(" 85.000;50;45;10;1") + kClimateHeader},
    {"h_negative", "QV-H", "28A", "5E FF 32 00 2D 00 0A 7F 00 ",
     std::string("-10.125;50;45;10;0") + kClimateHeader},
    {"h_lowest", "QV-H", "28A", "00 80 FF 00 FF 00 FF FF 00 ",
     std::string("-2048.000;255;255;255;1") + kClimateHeader},
    {"htx_family_10", "QV-HTX", "10A", "31 00 32 00 2D 00 0A 80 00 ",
     std::string(" 24.500;50;45;10;1") + kClimateHeader},
    {"h_family_3A", "QV-H", "3AA", "50 05 32 00 2D 00 0A 80 00 ",
     std::string("  0.000;50;45;10;1") + kClimateHeader},
    {"other_qv", "QV-X", "28A", "10 27 00 00 64 00 00 80 00 ", ""},
    {"dk_without_s0", "QV-DK", "28A", "10 27 00 00 64 00 00 80 00 ", ""},
    {"bare_q", "Q", "28A", "10 27 00 00 64 00 00 80 00 ", ""},
};

class Module : public ::testing::TestWithParam<ModuleCase> {};

TEST_P(Module, ValueText) {
  const ModuleCase &c = GetParam();
  char value[256] = "stale";
  EXPECT_EQ(decode::decode_module(c.model, c.id, c.frame, value, sizeof value), !c.value.empty());
  EXPECT_EQ(std::string(value), c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, Module, ::testing::ValuesIn(kModuleCases), testsupport::CaseName());

TEST(ModuleValue, CutToTheCallersBuffer) {
  char value[8];
  decode::decode_counter("FF FF FF FF FF FF 00 80 00 ", value, sizeof value);
  EXPECT_STREQ(value, "4294967");
  decode::decode_climate("28A", "50 05 32 00 2D 00 0A 80 00 ", value, sizeof value);
  EXPECT_STREQ(value, " 85.000");
}

}  // namespace
