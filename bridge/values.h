// Parsers of the value files the logger writes, one per shape.
//
// A file is taken only when it has exactly a shape the logger writes; any
// other content (cut short, too long, wrong header, NUL bytes, a sign where
// the logger prints none ...) is refused with a short reason.
#pragma once

#include <array>
#include <cstddef>

#include "bridge/labels.h"
#include "bridge/limits.h"

namespace bridge {

enum class FieldId {
  kTemperature,  // degrees Celsius (sensor, or T of a climate module)
  kCounter,      // Wh, counter of an energy-counter module
  kConsumption,  // Wh, consumption of an energy-counter module
  kLed,          // 0 or 1: limit/LED flag of a module
  kRlf,          // percent, climate module
  kRli,          // percent, climate module
  kRlq,          // percent, climate module
  kEnergy,       // Wh, an S0 input
};

// One value of a file, as published.
struct FieldValue {
  FieldId id = FieldId::kTemperature;        // which value
  std::array<char, kFieldTextSize> text{};   // its text as the logger printed it, without padding
  double number = 0.0;                       // the same as a number
};

// All values of one value file.
struct Reading {
  std::size_t count = 0;                          // fields used
  std::array<FieldValue, kMaxFields> fields{};    // in file order
};

// Parses the `len` bytes of a value file of a label of kind `info.kind` into
// `out`. Returns nullptr when the file has a shape the logger writes, else a
// short reason for a log line.
const char *parse_value_file(const LabelInfo &info, const char *data, std::size_t len,
                             Reading &out);

// The topic level (and metric label) of a field: "temperature", "counter", ...
const char *field_name(FieldId id);

}  // namespace bridge
