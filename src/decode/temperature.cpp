// Temperature sensors: the signed word of data bytes 0 and 1, scaled by family.
#include "decode/temperature.h"

#include <cstdio>

#include "decode/frame.h"
#include "decode/module.h"
#include "engine/poll_context.h"

namespace {

enum class Family { kOther, k10, k28 };

Family family_of(const PollContext *ctx) {
  const char *id = ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data();
  if (id[0] == '1' && id[1] == '0') return Family::k10;
  if (id[0] == '2' && id[1] == '8') return Family::k28;
  return Family::kOther;
}

// The temperature word: high byte (positions 3, 4) first, then the low byte.
unsigned temperature_word(const PollContext *ctx) {
  static constexpr int kPositions[4] = {3, 4, 0, 1};
  return hex_at(ctx->rxa[2], kPositions, 4);
}

double scaled(unsigned word, Family family) {
  int count = word >= 32768u ? static_cast<int>(word) - 65536 : static_cast<int>(word);
  return static_cast<double>(count) / (family == Family::k10 ? 2.0 : 16.0);
}

}  // namespace

bool temperature_of(const PollContext *ctx, double *celsius) {
  Family family = family_of(ctx);
  if (family == Family::kOther) return false;
  *celsius = scaled(temperature_word(ctx), family);
  return true;
}

void decode(PollContext *ctx) {
  if (ctx->crc == CRC_OK && ctx->qvm[0] == 'Q') {
    decode_module(ctx);
  } else {
    decode_temperature(ctx);
  }
}

void decode_temperature(PollContext *ctx) {
  char *value = ctx->value.data();
  Family family = family_of(ctx);
  if (ctx->crc != CRC_OK || family == Family::kOther) {
    value[0] = '\0';
    return;
  }
  unsigned word = temperature_word(ctx);
  if (ctx->debug) std::printf("n=%i ", static_cast<int>(word));
  double celsius = scaled(word, family);
  if (family == Family::k10) {
    if (ctx->debug) std::printf("%.1f", celsius);
    std::snprintf(value, kValueSize, "%.1f", celsius);
  } else {
    if (ctx->debug) {
      std::printf("%.3f", celsius);
      std::printf("temp=%f,%.3f\n", celsius * 16.0, celsius);
    }
    std::snprintf(value, kValueSize, "%.3f", celsius);
  }
}
