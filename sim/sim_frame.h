// Data frames of the simulated bus devices: byte encodings and the hex frame text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace adaptersim {

constexpr std::size_t kDataBytes = 9;
using DataBytes = std::array<std::uint8_t, kDataBytes>;

// "DD DD DD DD DD DD DD DD DD CC 00": nine data pairs, the checksum pair and two
// trailing characters, one blank between pairs.
constexpr std::size_t kFrameTextLen = 32;

// Additive checksum: the sum of the nine data bytes modulo 256.
std::uint8_t frame_checksum(const DataBytes &data);

// Writes the frame text of `data` into `out` (NUL-terminated). With
// `corrupt_checksum` the checksum pair is deliberately off by one. Returns the
// number of characters written, or 0 when `cap` cannot hold the text.
std::size_t format_frame(const DataBytes &data, bool corrupt_checksum, char *out,
                         std::size_t cap);

// Temperature in steps of 1/steps_per_degree degrees, rounded to the nearest
// step, as a 16-bit two's-complement word. False when it does not fit 16 bits.
bool temperature_word(double celsius, int steps_per_degree, std::uint16_t &word);

// Family 28 sensor: word low byte, high byte, then fixed scratchpad filler.
DataBytes encode_temp28(std::uint16_t word);

// Family 10 sensor: word in half degrees, same layout, its own filler.
DataBytes encode_temp10(std::uint16_t word);

// Energy-counter module: 32-bit counter and 16-bit consumption little endian,
// bytes 6-7 a word whose bit 15 is the LED/limit/output state, byte 8 zero.
DataBytes encode_counter(std::uint32_t counter, std::uint16_t consumption, bool output_on);

// Climate module: temperature word (1/16 degree) in bytes 0-1, rLf, rLi and rLq
// in bytes 2, 4 and 6, the LED/output state in the top bit of byte 7.
DataBytes encode_climate(std::uint16_t word, std::uint8_t rlf, std::uint8_t rli,
                         std::uint8_t rlq, bool output_on);

}  // namespace adaptersim
