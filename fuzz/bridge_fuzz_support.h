// Shared helpers of the bridge's fuzz targets: reporting a broken property, reading inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/labels.h"

namespace bridgefuzz {

// Aborts with `what` and `detail` (shown with escapes) on standard error: a
// property of the bridge was broken.
[[noreturn]] void fail(const char *what, const std::string &detail);

// The label kinds a header selector picks: 0 unknown, 1 family 10, 2 family
// 28, 3 energy counter, 4 climate of family 28, 5 S0 input, 6 climate of a
// family without temperature, 7 climate of family 10.
bridge::LabelInfo label_info(unsigned selector);

// The bytes up to the first NUL, at most `max` of them.
std::string c_text(const std::uint8_t *data, std::size_t size, std::size_t max);

// A Prometheus label value read back: the text between the quotes with
// backslash escapes undone; `end` is left at the closing quote. False when
// no closing quote follows or an escape is not one of \\ \" \n.
bool unescape_label_value(const std::string &s, std::size_t start, std::string &out,
                          std::size_t &end);

}  // namespace bridgefuzz
