// The data frame of a polled device and its additive checksum.
//
// A frame is nine data bytes and a checksum byte as hexadecimal pairs; data
// byte k stands at positions 3k and 3k+1, the checksum at 27 and 28.
#pragma once

#include <cstddef>
#include <cstdint>

struct PollContext;

constexpr std::size_t kFrameCheckedAbove = 30;  // shorter frames are not checked
constexpr std::size_t kFrameCut = 27;           // a good frame keeps its first 27 characters

// Reads the hexadecimal digits found at `positions` of `frame` (in that order)
// as one number in the manner of "%x": leading white space skipped, reading
// stops at the first non-digit; no digit at all reads as 0.
std::uint32_t hex_at(const char *frame, const int *positions, int count);

// Reads the pair at positions `pos`, `pos`+1.
std::uint32_t hex_pair(const char *frame, int pos);

// Takes the data frame of the current data line into rxa[2], checks its
// checksum into ctx->crc, cuts a good frame before the checksum and logs a bad
// one to outdir + "err.txt".
void check_frame(PollContext *ctx);
