// Data frame: extraction, checksum check, error record.
#include "decode/frame.h"

#include <cstdio>
#include <cstring>

#include "engine/poll_context.h"
#include "output/logs.h"
#include "output/paths.h"
#include "output/write_errors.h"
#include "serial/protocol.h"

namespace {

constexpr int kDataBytes = 9;
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

// Room for the longest error record: a label, the words, and a whole line.
constexpr std::size_t kErrRecordSize = kIdSize + 16 + kLineSize;

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

void check_frame(PollContext *ctx) {
  char *frame = next_token(ctx, "\n");
  if (frame == nullptr) frame = line_rest(ctx);  // nothing after the second field
  ctx->rxa[2] = frame;
  const char *id = ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data();
  if (ctx->debug) {
    std::printf("fid=%c%c\n", id[0], id[1]);
    std::printf("rxa[2]=%s\n", frame);
  }
  ctx->crc = CRC_BAD;
  if (std::strlen(frame) <= kFrameCheckedAbove) return;
  unsigned sum = 0;
  for (int k = 0; k < kDataBytes; ++k) {
    unsigned n = hex_pair(frame, 3 * k);
    sum = (sum + n) % 256u;
    if (ctx->debug) std::printf("n=%u=%02X, crc=%u=%02X\n", n, n, sum, sum);
  }
  unsigned n = hex_pair(frame, 3 * kDataBytes);
  if (ctx->debug) std::printf("n=%02X, crc=%02X\n", n, sum);
  if (n == sum) {
    ctx->crc = CRC_OK;
    frame[kFrameCut] = '\0';
    return;
  }
  // The record is written whole: cutting it would lose part of the bad frame.
  char record[kErrRecordSize];
  std::snprintf(record, sizeof record, "%s;err cnc ser;%s", device_label(ctx->table, ctx->idi),
                frame);
  device_path(ctx->path.data(), kPathSize, ctx->outdir.data(), "err.txt", "");
  note_write_error(ctx, ctx->path.data(), err(ctx->path.data(), record));
  ctx->crc = CRC_BAD;
}
