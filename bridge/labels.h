// What each label in the output directory is, by the logger's own configuration rules.
//
// This is the only part of the bridge that calls into the logger's code (its
// configuration lookups), so that the label of every file is decided exactly
// as the logger decides it.
#pragma once

#include <array>
#include <cstddef>

#include "bridge/limits.h"

namespace bridge {

enum class LabelKind {
  kUnknown,  // not a label of the logger's value files
  kTemp10,   // temperature sensor of family 10: "%.1f" degrees Celsius
  kTemp28,   // temperature sensor of family 28: "%.3f" degrees Celsius
  kCounter,  // energy-counter module (QV-S0, QV-DK-S0): counter, consumption, limit/LED
  kClimate,  // climate module (QV-HTX, QV-H): T, rLf, rLi, rLq, limit/LED
  kS0,       // one of the adapter's S0 inputs: energy in Wh
};

enum class Resolution {
  kFound,      // `info` describes the label
  kUnknown,    // no device or S0 input has this label
  kRenamed,    // a ROM id whose device now has a name: the logger no longer writes this file
  kNoDecoder,  // a device of a model or family the logger writes no value file for
};

// What one label stands for.
struct LabelInfo {
  LabelKind kind = LabelKind::kUnknown;  // how its value file is read
  std::array<char, kIdSize> id{};        // ROM id, or "S01"/"S02" for an S0 input
  std::array<char, kModelSize> model{};  // model text from the configuration; empty if none
  bool has_temperature = false;          // a climate module of family 10 or 28 (T is meaningful)
};

// One device line: 16 hexadecimal digits (a ROM id) followed by ';', usually
// at the start of a configuration line.
struct DeviceLine {
  std::array<char, kIdSize> id{};        // the ROM id
  std::array<char, kLabelSize> label{};  // the label the logger gives it: name or id
  bool refused_name = false;             // the configured name was refused ('/' or "err")
};

// The configuration as the bridge uses it: the raw text (first 100000
// characters, like the logger) and what is derived from it at each load.
struct ConfigModel {
  std::array<char, kConfigMax + 1> text{};                     // raw text, NUL-terminated
  std::size_t length = 0;                                      // characters in text
  std::array<DeviceLine, kMaxDeviceLines> devices{};           // device lines, file order
  std::size_t device_count = 0;                                // entries used in devices
  std::size_t devices_dropped = 0;                             // device lines beyond the table
  std::array<std::array<char, kLabelSize>, 2> s0_names{};      // value-file stems of S01, S02
};

// Sets the text (cut to 100000 characters, ends at a NUL) and derives the
// device lines and S0 names from it.
void config_set_text(ConfigModel &m, const char *text, std::size_t len);

// What `label` (the stem of a value file "<label>v.txt") is.
Resolution resolve_label(const ConfigModel &m, const char *label, LabelInfo &info);

// Where the device or S0 input `id` (a ROM id, "S01", "S02") is written under
// the configuration `m`: the label the logger gives it (its name, else its
// ROM id; an S0 input's name) and what that label is. False when that label
// is not a value file the bridge follows.
bool place_of(const ConfigModel &m, const char *id, std::array<char, kLabelSize> &label,
              LabelInfo &info);

// True when `label` is the label of a bus device in the configuration (a
// device line, or a 16-character ROM id without a usable name).
bool is_device_label(const ConfigModel &m, const char *label);

// Names of kinds and resolutions for log lines.
const char *kind_name(LabelKind k);

}  // namespace bridge
