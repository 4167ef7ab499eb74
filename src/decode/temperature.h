// Plain temperature sensors: families 10 and 28, told apart by their ROM id.
#pragma once

#include <cstddef>

namespace decode {

// Sensor family from the first two characters of a ROM id.
enum class Family {
  kOther,  // any other family code: no temperature
  k10,     // "10": half degrees
  k28,     // "28": sixteenths of a degree
};

// The family of the ROM id `id` (its first two characters, both of them).
Family family_of(const char *id);

// The figures of one temperature reading, as the debug trace shows them.
struct TemperatureReading {
  unsigned word;   // the 16-bit word of data bytes 0 and 1
  double celsius;  // the word as a signed count of the family's steps
  Family family;   // k10 or k28
};

// Temperature in degrees Celsius from data bytes 0 and 1 of `frame` for the
// sensor `id`. Returns false for a family code other than "10" and "28".
bool temperature_of(const char *id, const char *frame, double *celsius);

// Writes the value text of a good frame of sensor `id` into `value` (`size`
// bytes): "%.1f" for family 10, "%.3f" for family 28, empty for another
// family. Returns true, with `reading` filled, when it wrote a temperature.
bool decode_temperature(const char *id, const char *frame, char *value, std::size_t size,
                        TemperatureReading *reading);

}  // namespace decode
