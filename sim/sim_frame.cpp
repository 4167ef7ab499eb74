// Byte encodings of the simulated devices and the text form of their frames.
#include "sim_frame.h"

#include <cmath>

namespace adaptersim {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint8_t kLedBit = 0x80;  // top bit of data byte 7

void put_pair(char *p, std::uint8_t byte) {
  p[0] = kHexDigits[byte >> 4];
  p[1] = kHexDigits[byte & 0x0F];
}

}  // namespace

std::uint8_t frame_checksum(const DataBytes &data) {
  unsigned sum = 0;
  for (std::uint8_t b : data) sum += b;
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

std::size_t format_frame(const DataBytes &data, bool corrupt_checksum, char *out,
                         std::size_t cap) {
  if (out == nullptr || cap < kFrameTextLen + 1) return 0;
  std::uint8_t check = frame_checksum(data);
  if (corrupt_checksum) check = static_cast<std::uint8_t>(check + 1u);
  char *p = out;
  for (std::uint8_t b : data) {
    put_pair(p, b);
    p[2] = ' ';
    p += 3;
  }
  put_pair(p, check);
  p[2] = ' ';
  p[3] = '0';
  p[4] = '0';
  p[5] = '\0';
  return kFrameTextLen;
}

bool temperature_word(double celsius, int steps_per_degree, std::uint16_t &word) {
  if (!std::isfinite(celsius) || steps_per_degree <= 0) return false;
  const double steps = std::round(celsius * steps_per_degree);
  if (steps < -32768.0 || steps > 32767.0) return false;
  const auto count = static_cast<std::int32_t>(steps);
  word = static_cast<std::uint16_t>(static_cast<std::uint32_t>(count) & 0xFFFFu);
  return true;
}

DataBytes encode_temp28(std::uint16_t word) {
  // Alarm limits 75/70, configuration 0x7F (12 bits), reserved, scratch CRC.
  return DataBytes{static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8),
                   0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C};
}

DataBytes encode_temp10(std::uint16_t word) {
  // Alarm limits 75/70, two reserved bytes, count remain, count per degree, CRC.
  return DataBytes{static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8),
                   0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87};
}

DataBytes encode_counter(std::uint32_t counter, std::uint16_t consumption, bool output_on) {
  return DataBytes{static_cast<std::uint8_t>(counter & 0xFF),
                   static_cast<std::uint8_t>((counter >> 8) & 0xFF),
                   static_cast<std::uint8_t>((counter >> 16) & 0xFF),
                   static_cast<std::uint8_t>((counter >> 24) & 0xFF),
                   static_cast<std::uint8_t>(consumption & 0xFF),
                   static_cast<std::uint8_t>(consumption >> 8),
                   0x00,
                   output_on ? kLedBit : std::uint8_t{0},
                   0x00};
}

DataBytes encode_climate(std::uint16_t word, std::uint8_t rlf, std::uint8_t rli,
                         std::uint8_t rlq, bool output_on) {
  return DataBytes{static_cast<std::uint8_t>(word & 0xFF),
                   static_cast<std::uint8_t>(word >> 8),
                   rlf,
                   0x00,
                   rli,
                   0x00,
                   rlq,
                   output_on ? kLedBit : std::uint8_t{0},
                   0x00};
}

}  // namespace adaptersim
