// Data lines: frame check, decoder choice, and the files of one answer.
#include "engine/data_line.h"

#include <cstddef>

#include "core/poll_context.h"
#include "core/trace.h"
#include "decode/frame.h"
#include "decode/module.h"
#include "decode/temperature.h"
#include "output/files.h"
#include "serial/protocol.h"

namespace engine {

using core::PollContext;
using core::trace;

namespace {

const char *polled_id(const PollContext *ctx) {
  return ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data();
}

void decode_temperature(PollContext *ctx) {
  decode::TemperatureReading reading{};
  if (!decode::decode_temperature(polled_id(ctx), ctx->rxa[2], ctx->value.data(),
                                  core::kValueSize, &reading)) {
    return;
  }
  trace(ctx, "n=%i ", static_cast<int>(reading.word));
  if (reading.family == decode::Family::k10) {
    trace(ctx, "%.1f", reading.celsius);
  } else {
    trace(ctx, "%.3f", reading.celsius);
    trace(ctx, "temp=%f,%.3f\n", reading.celsius * 16.0, reading.celsius);
  }
}

}  // namespace

void check_data_frame(PollContext *ctx) {
  char *frame = serial::next_token(ctx, "\n");
  if (frame == nullptr) frame = serial::line_rest(ctx);  // nothing after the second field
  ctx->rxa[2] = frame;
  const char *id = polled_id(ctx);
  trace(ctx, "fid=%c%c\n", id[0], id[1]);
  trace(ctx, "rxa[2]=%s\n", frame);
  decode::FrameSum sum;
  const bool good = decode::check_frame(frame, &sum);
  ctx->crc = good ? core::CRC_OK : core::CRC_BAD;
  if (!sum.checked) return;
  for (std::size_t k = 0; k < sum.bytes.size(); ++k) {
    trace(ctx, "n=%u=%02X, crc=%u=%02X\n", sum.bytes[k], sum.bytes[k], sum.sums[k], sum.sums[k]);
  }
  trace(ctx, "n=%02X, crc=%02X\n", sum.checksum, sum.sums.back());
  if (!good) output::write_error_record(ctx, frame);
}

void decode_value(PollContext *ctx) {
  char *value = ctx->value.data();
  if (ctx->crc != core::CRC_OK) {
    value[0] = '\0';
    return;
  }
  if (ctx->qvm[0] != 'Q') {
    decode_temperature(ctx);
    return;
  }
  if (decode::decode_module(ctx->qvm.data(), polled_id(ctx), ctx->rxa[2], value,
                            core::kValueSize)) {
    core::echo(ctx, "%s, rxas=%s\n", ctx->qvm.data(), value);
  }
}

void handle_data_line(PollContext *ctx) {
  check_data_frame(ctx);
  ++ctx->answers;
  if (ctx->crc != core::CRC_OK) ++ctx->bad_sums;
  output::write_frame_file(ctx);
  decode_value(ctx);
  output::write_value_file(ctx);
  ctx->rxz = 0;
}

}  // namespace engine
