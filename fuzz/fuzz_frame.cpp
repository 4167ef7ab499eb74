// Fuzz target: any frame text as a data line of the device being polled.
//
// Input: two header bytes, then the text.
//   byte 0: bits 0-2 entry polled (family 28, 10, S0 and named entries);
//           bits 3-5 model in qvm (none, QV-S0, QV-DK-S0, QV-HTX, QV-H, QV-X,
//           Q, a 35-character QV-S0...); bit 6 debug; bit 7 the text is the
//           whole received line instead of the frame after "0;o;".
//   byte 1: eep (none, done, the entry polled awaits its write answer).
// The line goes through dispatch_line in STATE_POLL: split, frame check, raw
// file or write log, decoder choice and value file.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/device_table.h"
#include "engine/main_loop.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "fuzz_support.h"

namespace {

using namespace core;
using namespace engine;

constexpr std::size_t kHeader = 2;
constexpr const char *kDataPrefix = "0;o;";
constexpr std::size_t kModels = 8;
constexpr const char *kModel[kModels] = {
    "", "QV-S0", "QV-DK-S0", "QV-HTX", "QV-H", "QV-X", "Q", "QV-S0-abcdefghijklmnopqrstuvwxyz012",
};

PollContext g_ctx;

bool inside_line(const PollContext *ctx, const char *p) {
  return p >= ctx->line.data() && p < ctx->line.data() + kLineSize;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::workspace();
  fuzzsupport::serial_line();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader) return 0;
  const std::size_t entry = data[0] & 7u;
  const std::size_t model = (data[0] >> 3) & 7u;
  const bool debug = (data[0] & 64u) != 0;
  const bool whole_line = (data[0] & 128u) != 0;
  const unsigned eep_mode = data[1] % 3;
  fuzzsupport::tidy_outputs(512);

  PollContext *ctx = &g_ctx;
  fuzzsupport::prepare(ctx, fuzzsupport::kKnownIds, debug);
  resolve_names(ctx);
  ctx->state = STATE_POLL;
  ctx->idi = static_cast<int>(entry);
  ctx->eep = eep_mode == 0 ? EEP_NONE : eep_mode == 1 ? EEP_DONE : ctx->idi;
  copy_bounded(ctx->write_log.data(), kWriteLogSize, "1;05;42", 7);
  copy_bounded(ctx->qvm.data(), kQvmSize, kModel[model], kQvmSize - 1);

  // The line as receive_line leaves it: at most 255 bytes and a NUL.
  char *line = ctx->line.data();
  std::size_t used = 0;
  if (!whole_line) {
    used = std::strlen(kDataPrefix);
    std::memcpy(line, kDataPrefix, used);
  }
  std::size_t take = size - kHeader;
  if (take > kLineReadMax - used) take = kLineReadMax - used;
  std::memcpy(line + used, data + kHeader, take);
  line[used + take] = '\0';

  dispatch_line(ctx);

  if (!inside_line(ctx, ctx->rxa[0]) && ctx->rxa[0][0] != '\0') fuzzsupport::fail("rxa[0]", "");
  if (ctx->rxa[1][0] != 'o') return 0;
  const char *frame = ctx->rxa[2];
  if (frame == nullptr || !inside_line(ctx, frame)) fuzzsupport::fail("frame outside the line", "");
  if (ctx->crc != CRC_OK && ctx->crc != CRC_BAD) fuzzsupport::fail("crc neither good nor bad", "");
  if (ctx->crc == CRC_OK && std::strlen(frame) != 27) {
    fuzzsupport::fail("good frame not cut to 27 characters", frame);
  }
  if (std::memchr(frame, '\n', std::strlen(frame)) != nullptr) {
    fuzzsupport::fail("frame holds a line feed", frame);
  }
  if (strnlen(ctx->value.data(), kValueSize) == kValueSize) fuzzsupport::fail("value", "");
  if (ctx->crc != CRC_OK && ctx->value[0] != '\0') {
    fuzzsupport::fail("value from a bad frame", ctx->value.data());
  }
  if (eep_mode == 2 && ctx->eep != EEP_DONE) fuzzsupport::fail("write answer not logged", "");
  return 0;
}
