// Fuzz target: whatever the adapter sends, handled by the main loop in each state.
//
// Input: one flag byte, then at most 300 bytes that the adapter writes to the
// serial line. Flag bits: 0-1 state (0 load, 1 enumerate, 2 poll, 3 poll while
// a configuration write awaits its answer); 2 debug; 3 stream mode (all bytes
// at once, as a device that ignores line mode would deliver them; otherwise
// one line at a time, as the line-mode terminal hands them over); 4 up to 1300
// quiet passes afterwards (search end, polls, until the cycle closes); 5-7
// number of table entries set up beforehand (1-8; one less while enumerating).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/lookup.h"
#include "engine/device_table.h"
#include "engine/main_loop.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "fuzz_support.h"

namespace {

using namespace core;
using namespace config;
using namespace engine;

constexpr std::size_t kMaxAdapterBytes = 300;
constexpr int kPassesPerBatch = 64;   // bound on passes spent on one batch of input
constexpr int kQuietPasses = 1300;    // > 500 to end a search, then some polls

PollContext g_ctx;  // the one context, re-prepared for every input

void set_up(PollContext *ctx, unsigned flags) {
  const unsigned state = flags & 3u;
  const bool debug = (flags & 4u) != 0;
  std::size_t entries = 1 + (flags >> 5);
  if (state == 0) entries = 0;
  if (state == 1) entries -= 1;
  fuzzsupport::prepare(ctx, entries, debug);
  ctx->idmax = static_cast<int>(entries);
  ctx->idi = static_cast<int>(entries);
  if (state == 0) {
    ctx->state = STATE_LOAD;
  } else if (state == 1) {
    ctx->state = STATE_ENUMERATE;
  } else {
    // As right after issue_poll sent its command to the last entry.
    ctx->state = STATE_POLL;
    resolve_names(ctx);
    ctx->idi = static_cast<int>(entries) - 1;
    lookup_model(ctx, ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data());
    if (state == 3) {
      ctx->eep = ctx->idi;
      copy_bounded(ctx->write_log.data(), kWriteLogSize, "1;05;42", 7);
    }
  }
}

// Runs passes until the logger has read everything waiting, within a bound.
void run_until_read(PollContext *ctx, int logger_fd) {
  for (int n = 0; n < kPassesPerBatch; ++n) {
    run_pass(ctx);
    if (fuzzsupport::pending(logger_fd) == 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::workspace();
  fuzzsupport::serial_line();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1 || size > 1 + kMaxAdapterBytes) return 0;
  const fuzzsupport::SerialLine &serial = fuzzsupport::serial_line();
  fuzzsupport::tidy_outputs(256);
  fuzzsupport::drain(serial.logger);
  fuzzsupport::drain(serial.adapter);

  const unsigned flags = data[0];
  PollContext *ctx = &g_ctx;
  set_up(ctx, flags);

  const std::uint8_t *bytes = data + 1;
  const std::size_t count = size - 1;
  if ((flags & 8u) != 0) {
    fuzzsupport::send_all(serial.adapter, bytes, count);
    run_until_read(ctx, serial.logger);
  } else {
    std::size_t start = 0;
    while (start < count) {
      const void *nl = std::memchr(bytes + start, '\n', count - start);
      std::size_t end = nl != nullptr ? static_cast<std::size_t>(
                                            static_cast<const std::uint8_t *>(nl) - bytes) + 1
                                      : count;
      fuzzsupport::send_all(serial.adapter, bytes + start, end - start);
      run_until_read(ctx, serial.logger);
      fuzzsupport::drain(serial.adapter);
      start = end;
    }
  }
  if ((flags & 16u) != 0) {
    // Quiet line: the search ends, the entries are polled, and the cycle closes.
    for (int n = 0; n < kQuietPasses; ++n) {
      const int before = ctx->state;
      run_pass(ctx);
      if (before == STATE_POLL && ctx->state == STATE_LOAD) break;
    }
  }

  // The context must stay within its table whatever arrived.
  if (ctx->idmax < 0 || ctx->idmax > static_cast<int>(kTableEntries)) {
    fuzzsupport::fail("idmax out of range", "");
  }
  if (ctx->idi < 0 || ctx->idi > static_cast<int>(kTableEntries)) {
    fuzzsupport::fail("idi out of range", "");
  }
  if (std::memchr(ctx->line.data(), '\0', kLineSize) == nullptr) {
    fuzzsupport::fail("line buffer not terminated", "");
  }
  return 0;
}
