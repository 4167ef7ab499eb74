// Module decoders: energy counter and climate module.
#include "decode/module.h"

#include <cstdio>
#include <cstring>

#include "decode/frame.h"
#include "decode/temperature.h"

namespace decode {

namespace {

bool starts_with(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

bool decode_module(const char *model, const char *id, const char *frame, char *value,
                   std::size_t size) {
  if (starts_with(model, "QV-S0") || starts_with(model, "QV-DK-S0")) {
    decode_counter(frame, value, size);
    return true;
  }
  if (starts_with(model, "QV-HTX") || starts_with(model, "QV-H")) {
    decode_climate(id, frame, value, size);
    return true;
  }
  if (size > 0) value[0] = '\0';
  return false;
}

void decode_counter(const char *frame, char *value, std::size_t size) {
  static constexpr int kCounter[8] = {9, 10, 6, 7, 3, 4, 0, 1};
  static constexpr int kConsumption[4] = {15, 16, 12, 13};
  static constexpr int kLimitWord[4] = {21, 22, 18, 19};
  unsigned counter = hex_at(frame, kCounter, 8);
  unsigned consumption = hex_at(frame, kConsumption, 4);
  unsigned limit = (hex_at(frame, kLimitWord, 4) & 0x8000u) != 0 ? 1u : 0u;
  std::snprintf(value, size, "%u;%u;%u\ncounter [Wh]; consumption[Wh]; limit/LED", counter,
                consumption, limit);
}

void decode_climate(const char *id, const char *frame, char *value, std::size_t size) {
  double celsius = 0.0;
  if (!temperature_of(id, frame, &celsius)) celsius = 0.0;
  int rlf = static_cast<int>(hex_pair(frame, 6));
  int rli = static_cast<int>(hex_pair(frame, 12));
  int rlq = static_cast<int>(hex_pair(frame, 18));
  int limit = (hex_pair(frame, 21) & 0x80u) != 0 ? 1 : 0;
  std::snprintf(value, size,
                "%7.3f;%i;%i;%i;%i\nT[\xC2\xB0"
                "C];rLf[%%];rLi[%%];rLq[%%];limit/LED",
                celsius, rlf, rli, rlq, limit);
}

}  // namespace decode
