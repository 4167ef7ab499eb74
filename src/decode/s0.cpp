// S0 channels: configured names and rates, scaling, value files.
#include "decode/s0.h"

#include <cinttypes>
#include <climits>
#include <cstdio>

#include "config/lookup.h"
#include "engine/device_table.h"
#include "engine/poll_context.h"
#include "output/logs.h"
#include "output/paths.h"
#include "output/write_errors.h"
#include "serial/protocol.h"

namespace {

struct S0Channel {
  const char *key;  // "S01" or "S02": configuration key and table entry
  int slot;         // index into ctx->s0_names
};

// Sets the channel's name and returns its rate, both from the configuration.
std::int32_t configure_channel(PollContext *ctx, const S0Channel &ch) {
  FieldBuffer field;
  const char *name = extract_field(ctx->config.data(), ch.key, ';', 1, field);
  char *stem = ctx->s0_names[static_cast<std::size_t>(ch.slot)].data();
  copy_bounded(stem, kS0NameSize, name[0] != '\0' ? name : ch.key, kS0NameSize - 1);
  if (!stays_in_outdir(stem)) {
    std::printf("S0 name \"%s\" of %s refused as a file name, the key is used instead\n", name,
                ch.key);
    copy_bounded(stem, kS0NameSize, ch.key, kS0NameSize - 1);
  }
  if (ctx->debug) std::printf("str_ele=%s,\n", name);
  const char *rate = extract_field(ctx->config.data(), ch.key, ';', 2, field);
  if (ctx->debug) std::printf("str_ele=%s,\n", rate);
  if (rate[0] == '\0') return kDefaultImpulsesPerKwh;
  long long imp = parse_long(rate);
  if (imp <= 0 || imp > INT32_MAX) return kDefaultImpulsesPerKwh;
  return static_cast<std::int32_t>(imp);
}

void write_s0_file(PollContext *ctx, std::uint64_t value) {
  const char *path = ctx->path.data();
  note_write_error(ctx, path, put_record(open_record(path, false), "%" PRIu64 "\n", value));
}

const char *s0_path(PollContext *ctx, const S0Channel &ch) {
  return device_path(ctx->path.data(), kPathSize, ctx->outdir.data(),
                     ctx->s0_names[static_cast<std::size_t>(ch.slot)].data(), "v.txt");
}

}  // namespace

std::uint64_t scale_to_wh(std::uint32_t count, std::int32_t imp) {
  const std::uint64_t c = count;
  switch (imp) {
    case 1000: return c;
    case 2000: return c / 2;
    case 800: return c * 5 / 4;
    case 500: return c * 2;
    default: break;
  }
  if (imp <= 0) return c;
  return c * 1000u / static_cast<std::uint64_t>(imp);
}

long long parse_long(const char *text) {
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    int digit = *p - '0';
    if (value > (LLONG_MAX - digit) / 10) {
      value = LLONG_MAX;
      break;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

void handle_s0_line(PollContext *ctx) {
  static constexpr S0Channel kS01{"S01", 0};
  static constexpr S0Channel kS02{"S02", 1};

  add_named_entry(ctx, kS01.key);
  std::int32_t imp = configure_channel(ctx, kS01);
  std::uint64_t value = scale_to_wh(static_cast<std::uint32_t>(parse_long(ctx->rxa[1])), imp);
  ctx->rxa[2] = next_token(ctx, ";");
  if (ctx->debug) {
    std::printf("rxa[0]=%s,rxa[1]=%s,rxa[2]=%s,qvm=%s\n", ctx->rxa[0], ctx->rxa[1],
                ctx->rxa[2] != nullptr ? ctx->rxa[2] : "", ctx->qvm.data());
  }
  s0_path(ctx, kS01);
  if (ctx->debug) {
    std::printf("fn=%s,imp=%" PRIx64 "/%" PRIu64 "/%u\n", ctx->path.data(), value, value,
                static_cast<unsigned>(imp));
  }
  write_s0_file(ctx, value);

  add_named_entry(ctx, kS02.key);
  imp = configure_channel(ctx, kS02);
  // Without a third field the S02 count is missing: its file is left untouched.
  if (ctx->rxa[2] != nullptr) {
    value = scale_to_wh(static_cast<std::uint32_t>(parse_long(ctx->rxa[2])), imp);
    s0_path(ctx, kS02);
    if (ctx->debug) {
      std::printf("fn=%s,imp=%" PRIu64 "/%u\n", ctx->path.data(), value,
                  static_cast<unsigned>(imp));
    }
    write_s0_file(ctx, value);
  }
  ctx->rxz = 0;
}
