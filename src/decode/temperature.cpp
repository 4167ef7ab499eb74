// Temperature sensors: the signed word of data bytes 0 and 1, scaled by family.
#include "decode/temperature.h"

#include <cstdio>

#include "decode/frame.h"

namespace decode {

namespace {

// The temperature word: high byte (positions 3, 4) first, then the low byte.
unsigned temperature_word(const char *frame) {
  static constexpr int kPositions[4] = {3, 4, 0, 1};
  return hex_at(frame, kPositions, 4);
}

double scaled(unsigned word, Family family) {
  int count = word >= 32768u ? static_cast<int>(word) - 65536 : static_cast<int>(word);
  return static_cast<double>(count) / (family == Family::k10 ? 2.0 : 16.0);
}

}  // namespace

Family family_of(const char *id) {
  if (id[0] == '1' && id[1] == '0') return Family::k10;
  if (id[0] == '2' && id[1] == '8') return Family::k28;
  return Family::kOther;
}

bool temperature_of(const char *id, const char *frame, double *celsius) {
  const Family family = family_of(id);
  if (family == Family::kOther) return false;
  *celsius = scaled(temperature_word(frame), family);
  return true;
}

bool decode_temperature(const char *id, const char *frame, char *value, std::size_t size,
                        TemperatureReading *reading) {
  const Family family = family_of(id);
  if (family == Family::kOther) {
    if (size > 0) value[0] = '\0';
    return false;
  }
  reading->family = family;
  reading->word = temperature_word(frame);
  reading->celsius = scaled(reading->word, family);
  if (family == Family::k10) {
    std::snprintf(value, size, "%.1f", reading->celsius);
  } else {
    std::snprintf(value, size, "%.3f", reading->celsius);
  }
  return true;
}

}  // namespace decode
