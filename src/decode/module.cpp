// Module decoders: energy counter and climate module.
#include "decode/module.h"

#include <cstdio>
#include <cstring>

#include "decode/frame.h"
#include "decode/temperature.h"
#include "engine/poll_context.h"

namespace {

bool starts_with(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void print_module_value(const PollContext *ctx) {
  if (!ctx->quiet) std::printf("%s, rxas=%s\n", ctx->qvm.data(), ctx->value.data());
}

}  // namespace

void decode_module(PollContext *ctx) {
  const char *model = ctx->qvm.data();
  if (starts_with(model, "QV-S0") || starts_with(model, "QV-DK-S0")) {
    decode_counter(ctx);
  } else if (starts_with(model, "QV-HTX") || starts_with(model, "QV-H")) {
    decode_climate(ctx);
  } else {
    ctx->value[0] = '\0';
  }
}

void decode_counter(PollContext *ctx) {
  static constexpr int kCounter[8] = {9, 10, 6, 7, 3, 4, 0, 1};
  static constexpr int kConsumption[4] = {15, 16, 12, 13};
  static constexpr int kLimitWord[4] = {21, 22, 18, 19};
  const char *frame = ctx->rxa[2];
  unsigned counter = hex_at(frame, kCounter, 8);
  unsigned consumption = hex_at(frame, kConsumption, 4);
  unsigned limit = (hex_at(frame, kLimitWord, 4) & 0x8000u) != 0 ? 1u : 0u;
  std::snprintf(ctx->value.data(), kValueSize,
                "%u;%u;%u\ncounter [Wh]; consumption[Wh]; limit/LED", counter, consumption, limit);
  print_module_value(ctx);
}

void decode_climate(PollContext *ctx) {
  const char *frame = ctx->rxa[2];
  double celsius = 0.0;
  if (!temperature_of(ctx, &celsius)) celsius = 0.0;
  int rlf = static_cast<int>(hex_pair(frame, 6));
  int rli = static_cast<int>(hex_pair(frame, 12));
  int rlq = static_cast<int>(hex_pair(frame, 18));
  int limit = (hex_pair(frame, 21) & 0x80u) != 0 ? 1 : 0;
  std::snprintf(ctx->value.data(), kValueSize,
                "%7.3f;%i;%i;%i;%i\nT[\xC2\xB0"
                "C];rLf[%%];rLi[%%];rLq[%%];limit/LED",
                celsius, rlf, rli, rlq, limit);
  print_module_value(ctx);
}
