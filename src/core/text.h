// Byte-string helpers every module shares: bounded copy, character classes, numbers.
//
// Text scanning compares bytes as signed 8-bit values, so that 0x80-0xFF count
// as control characters wherever the configuration or a line is scanned.
#pragma once

#include <cstddef>

namespace core {

// Copies at most `max` characters of `src` into `dst` (of `size` bytes) and
// always terminates it. Returns the number of characters copied.
std::size_t copy_bounded(char *dst, std::size_t size, const char *src, std::size_t max);

// Bytes compare as signed 8-bit values: 0x80-0xFF rank below every ASCII byte.
// A control character is below 0x20 (NUL, CR and LF included) or 0x80-0xFF.
inline bool is_control(char c) { return static_cast<signed char>(c) < 0x20; }

// A word character is 0x21-0x7F: blanks and control characters end a word.
inline bool is_word_char(char c) { return static_cast<signed char>(c) > 0x20; }

// Reads a number in the manner of atol (blanks skipped, optional sign, digits
// up to the first other character; none gives 0), clamped to the range of long long.
long long parse_long(const char *text);

}  // namespace core
