// Tests of the module decoders: energy counter and climate module.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "decode/module.h"
#include "engine/poll_context.h"
#include "support/test_support.h"

namespace {

constexpr const char *kCounterHeader = "\ncounter [Wh]; consumption[Wh]; limit/LED";
constexpr const char *kClimateHeader = "\nT[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED";

struct ModuleCase {
  const char *model;
  const char *id;
  const char *frame;  // a good frame, cut after its nine data bytes
  std::string value;  // "" : no value and nothing printed
};

const ModuleCase kModuleCases[] = {
    {"QV-S0", "28A", "10 27 00 00 64 00 00 80 00 ", std::string("10000;100;1") + kCounterHeader},
    {"QV-S0", "28A", "10 27 00 00 64 00 80 00 00 ", std::string("10000;100;0") + kCounterHeader},
    {"QV-S0", "28A", "FF FF FF FF FF FF 00 7F 00 ",
     std::string("4294967295;65535;0") + kCounterHeader},
    {"QV-S0", "28A", "78 56 34 12 cd ab ff ff 00 ",
     std::string("305419896;43981;1") + kCounterHeader},
    {"QV-DK-S0", "28A", "10 27 00 00 64 00 00 80 00 ",
     std::string("10000;100;1") + kCounterHeader},
    {"QV-S0XY", "28A", "10 27 00 00 64 00 00 80 00 ",
     std::string("10000;100;1") + kCounterHeader},
    {"QV-H", "28A", "50 05 32 00 2D 00 0A 80 00 ",
     std::string(" 85.000;50;45;10;1") + kClimateHeader},
    {"QV-HTX", "28A", "50 05 32 00 2D 00 0A 80 00 ",
     std::string(" 85.000;50;45;10;1") + kClimateHeader},
    {"QV-H", "28A", "5E FF 32 00 2D 00 0A 7F 00 ",
     std::string("-10.125;50;45;10;0") + kClimateHeader},
    {"QV-H", "28A", "00 80 FF 00 FF 00 FF FF 00 ",
     std::string("-2048.000;255;255;255;1") + kClimateHeader},
    {"QV-HTX", "10A", "31 00 32 00 2D 00 0A 80 00 ",
     std::string(" 24.500;50;45;10;1") + kClimateHeader},
    {"QV-H", "3AA", "50 05 32 00 2D 00 0A 80 00 ",
     std::string("  0.000;50;45;10;1") + kClimateHeader},
    {"QV-X", "28A", "10 27 00 00 64 00 00 80 00 ", ""},
    {"QV-DK", "28A", "10 27 00 00 64 00 00 80 00 ", ""},
    {"Q", "28A", "10 27 00 00 64 00 00 80 00 ", ""},
};

class Module : public ::testing::TestWithParam<ModuleCase> {};

TEST_P(Module, ValueTextAndStdoutLine) {
  const ModuleCase &c = GetParam();
  auto ctx = std::make_unique<PollContext>();
  testsupport::prepare_context(ctx.get(), "/tmp", -1);
  copy_bounded(ctx->table.ids[0].data(), kIdSize, c.id, kIdMax);
  ctx->idi = 0;
  copy_bounded(ctx->qvm.data(), kQvmSize, c.model, kQvmSize - 1);
  copy_bounded(ctx->line.data(), kLineSize, c.frame, kLineSize - 1);
  ctx->rxa[2] = ctx->line.data();
  ctx->crc = CRC_OK;
  copy_bounded(ctx->value.data(), kValueSize, "stale", kValueSize - 1);

  testing::internal::CaptureStdout();
  decode_module(ctx.get());
  std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(std::string(ctx->value.data()), c.value) << c.model << " " << c.frame;
  if (c.value.empty()) {
    EXPECT_EQ(out, "") << c.model;
  } else {
    EXPECT_EQ(out, std::string(c.model) + ", rxas=" + c.value + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Module, ::testing::ValuesIn(kModuleCases));

}  // namespace
