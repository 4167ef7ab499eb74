// Data frame: hexadecimal fields and the checksum check.
#include "decode/frame.h"

#include <cstring>

namespace decode {

namespace {

constexpr std::size_t kDigitsMax = 8;  // the widest field read is a 32-bit counter

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hex_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

bool is_scan_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::uint32_t hex_at(const char *frame, const int *positions, int count) {
  char digits[kDigitsMax + 1];
  int n = 0;
  for (; n < count && n < static_cast<int>(kDigitsMax); ++n) digits[n] = frame[positions[n]];
  digits[n] = '\0';
  const char *p = digits;
  while (is_scan_space(*p)) ++p;
  std::uint32_t value = 0;
  for (; is_hex_digit(*p); ++p) value = value * 16u + hex_value(*p);
  return value;
}

std::uint32_t hex_pair(const char *frame, int pos) {
  const int positions[2] = {pos, pos + 1};
  return hex_at(frame, positions, 2);
}

bool check_frame(char *frame, FrameSum *sum) {
  *sum = FrameSum{};
  if (std::strlen(frame) <= kFrameCheckedAbove) return false;
  sum->checked = true;
  unsigned total = 0;
  for (int k = 0; k < kDataBytes; ++k) {
    const unsigned n = hex_pair(frame, 3 * k);
    total = (total + n) % 256u;
    sum->bytes[static_cast<std::size_t>(k)] = n;
    sum->sums[static_cast<std::size_t>(k)] = total;
  }
  sum->checksum = hex_pair(frame, 3 * kDataBytes);
  if (sum->checksum != total) return false;
  frame[kFrameCut] = '\0';
  return true;
}

}  // namespace decode
