// The data frame of a polled device and its additive checksum.
//
// A frame is nine data bytes and a checksum byte as hexadecimal pairs; data
// byte k stands at positions 3k and 3k+1, the checksum at 27 and 28.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace decode {

constexpr std::size_t kFrameCheckedAbove = 30;  // shorter frames are not checked
constexpr std::size_t kFrameCut = 27;           // a good frame keeps its first 27 characters
constexpr int kDataBytes = 9;                   // data bytes before the checksum byte

// Reads the hexadecimal digits found at `positions` of `frame` (in that order)
// as one number in the manner of "%x": leading white space skipped, reading
// stops at the first non-digit; no digit at all reads as 0.
std::uint32_t hex_at(const char *frame, const int *positions, int count);

// Reads the pair at positions `pos`, `pos`+1.
std::uint32_t hex_pair(const char *frame, int pos);

// The figures of one checksum check, as the debug trace shows them.
struct FrameSum {
  bool checked;                            // the frame was long enough to be checked
  std::array<unsigned, kDataBytes> bytes;  // data byte k as read
  std::array<unsigned, kDataBytes> sums;   // sum of data bytes 0..k, modulo 256
  unsigned checksum;                       // the checksum byte as read
};

// Checks the frame text: true when it is longer than 30 characters and its
// checksum byte equals the sum of its nine data bytes modulo 256. A good frame
// is cut before its checksum (a NUL at position 27); a bad one is left whole.
// `sum` receives the figures of the check.
bool check_frame(char *frame, FrameSum *sum);

}  // namespace decode
