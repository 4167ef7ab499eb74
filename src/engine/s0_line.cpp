// S0 channels: configured names and rates, entries, value files.
#include "engine/s0_line.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "config/lookup.h"
#include "core/file_name.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "core/trace.h"
#include "decode/s0.h"
#include "engine/device_table.h"
#include "output/files.h"
#include "output/paths.h"
#include "serial/protocol.h"

namespace engine {

using core::kS0NameSize;
using core::PollContext;
using core::trace;

namespace {

struct S0Channel {
  const char *key;  // "S01" or "S02": configuration key and table entry
  int slot;         // index into ctx->s0_names
};

// Sets the channel's name and returns its rate, both from the configuration.
std::int32_t configure_channel(PollContext *ctx, const S0Channel &ch) {
  config::FieldBuffer field;
  const char *name = config::extract_field(ctx->config.data(), ch.key, ';', 1, field);
  char *stem = ctx->s0_names[static_cast<std::size_t>(ch.slot)].data();
  core::copy_bounded(stem, kS0NameSize, name[0] != '\0' ? name : ch.key, kS0NameSize - 1);
  // The other channel's value file: its key when it has no name of its own,
  // and, for S02, the name S01 has just been given.
  const char *other = ch.slot == 0 ? "S02" : "S01";
  const bool clash = std::strcmp(stem, other) == 0 ||
                     (ch.slot == 1 && std::strcmp(stem, ctx->s0_names[0].data()) == 0);
  if (!core::stays_in_outdir(stem)) {
    std::printf("S0 name \"%s\" of %s refused as a file name, the key is used instead\n", name,
                ch.key);
    core::copy_bounded(stem, kS0NameSize, ch.key, kS0NameSize - 1);
  } else if (clash) {
    std::printf(
        "S0 name \"%s\" of %s refused as a file name, it clashes with the files of %s, the key is "
        "used instead\n",
        name, ch.key, other);
    core::copy_bounded(stem, kS0NameSize, ch.key, kS0NameSize - 1);
  }
  trace(ctx, "str_ele=%s,\n", name);
  const char *rate = config::extract_field(ctx->config.data(), ch.key, ';', 2, field);
  trace(ctx, "str_ele=%s,\n", rate);
  return decode::impulse_rate(rate);
}

// Builds the channel's value file path in ctx->path.
const char *s0_path(PollContext *ctx, const S0Channel &ch) {
  return output::device_path(ctx->path.data(), core::kPathSize, ctx->outdir.data(),
                             ctx->s0_names[static_cast<std::size_t>(ch.slot)].data(), "v.txt");
}

}  // namespace

void handle_s0_line(PollContext *ctx) {
  static constexpr S0Channel kS01{"S01", 0};
  static constexpr S0Channel kS02{"S02", 1};
  char text[decode::kS0ValueSize];

  add_named_entry(ctx, kS01.key);
  std::int32_t imp = configure_channel(ctx, kS01);
  std::uint64_t value = decode::decode_s0(ctx->rxa[1], imp, text, sizeof text);
  ctx->rxa[2] = serial::next_token(ctx, ";");
  trace(ctx, "rxa[0]=%s,rxa[1]=%s,rxa[2]=%s,qvm=%s\n", ctx->rxa[0], ctx->rxa[1],
        ctx->rxa[2] != nullptr ? ctx->rxa[2] : "", ctx->qvm.data());
  s0_path(ctx, kS01);
  trace(ctx, "fn=%s,imp=%" PRIx64 "/%" PRIu64 "/%u\n", ctx->path.data(), value, value,
        static_cast<unsigned>(imp));
  output::write_text_file(ctx, ctx->path.data(), text);

  add_named_entry(ctx, kS02.key);
  imp = configure_channel(ctx, kS02);
  // Without a third field the S02 count is missing: its file is left untouched.
  if (ctx->rxa[2] != nullptr) {
    value = decode::decode_s0(ctx->rxa[2], imp, text, sizeof text);
    s0_path(ctx, kS02);
    trace(ctx, "fn=%s,imp=%" PRIu64 "/%u\n", ctx->path.data(), value, static_cast<unsigned>(imp));
    output::write_text_file(ctx, ctx->path.data(), text);
  }
  ctx->rxz = 0;
}

}  // namespace engine
