// Fuzz target: any control file, then one poll command built by issue_poll.
//
// Input: two header bytes, then 0-64 bytes written as the control file of every
// entry of a four-entry table.
//   byte 0: bits 0-1 eep (none, done, awaiting the answer of entry idi, none);
//           bits 2-3 idi (1 to the entries allowed); bit 4 debug;
//           bits 5-7 time of day (12:00, 00:06:00, 00:06:01, 00:07:00,
//           00:08:59, 00:09:00, any from byte 1, before the epoch)
//   byte 1: repeated polls so far (0-10), and the time for selector 6.
// Whatever the file holds, the command must be one line: "$" and the entry
// number, an optional suffix of printable characters, and a single line feed
// at its end; exactly those bytes must reach the serial line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "config/lookup.h"
#include "engine/device_table.h"
#include "engine/poll.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "output/paths.h"
#include "fuzz_support.h"

namespace {

using namespace core;
using namespace config;
using namespace engine;
using namespace output;

constexpr std::size_t kHeader = 2;
constexpr std::size_t kControlMax = 64;
constexpr std::size_t kEntries = 4;
constexpr std::time_t kDay = 86400;
constexpr std::time_t kSomeMidnight = 1700006400;  // 00:00:00 UTC

PollContext g_ctx;

std::time_t time_of(unsigned selector, unsigned byte) {
  static constexpr std::time_t kSecondOfDay[6] = {43200, 360, 361, 420, 539, 540};
  if (selector < 6) return kSomeMidnight + kSecondOfDay[selector];
  if (selector == 6) return kSomeMidnight + static_cast<std::time_t>(byte) * 339 % kDay;
  return -kDay * 3 + 420 + static_cast<std::time_t>(byte);  // negative seconds
}

void write_control_files(PollContext *ctx, const std::uint8_t *bytes, std::size_t count) {
  for (std::size_t i = 0; i < kEntries; ++i) {
    std::string path = fuzzsupport::workspace().outdir +
                       device_label(ctx->table, static_cast<int>(i)) + "o.txt";
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) fuzzsupport::fail("cannot write control file", path.c_str());
    if (count > 0) std::fwrite(bytes, 1, count, file);
    std::fclose(file);
  }
}

void check_command(const PollContext *ctx, const std::string &sent) {
  const char *cmd = ctx->line.data();
  const std::size_t len = strnlen(cmd, kLineSize);
  if (len == kLineSize) fuzzsupport::fail("command not terminated", "");
  if (len < 3 || cmd[0] != '$') fuzzsupport::fail("command malformed", cmd);
  if (cmd[len - 1] != '\n') fuzzsupport::fail("command does not end in a line feed", cmd);
  if (std::memchr(cmd, '\n', len - 1) != nullptr) {
    fuzzsupport::fail("line end injected into the command", cmd);
  }
  for (std::size_t i = 0; i + 1 < len; ++i) {
    if (is_control(cmd[i])) fuzzsupport::fail("control character in the command", cmd);
  }
  if (sent != std::string(cmd, len)) fuzzsupport::fail("serial line got other bytes", sent.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::workspace();
  fuzzsupport::serial_line();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader || size > kHeader + kControlMax) return 0;
  const unsigned eep_mode = data[0] & 3u;
  const unsigned idi_pick = (data[0] >> 2) & 3u;
  const bool debug = (data[0] & 16u) != 0;
  const unsigned time_pick = data[0] >> 5;
  const fuzzsupport::SerialLine &serial = fuzzsupport::serial_line();
  fuzzsupport::tidy_outputs(1024);
  fuzzsupport::drain(serial.adapter);

  PollContext *ctx = &g_ctx;
  fuzzsupport::prepare(ctx, kEntries, debug);
  resolve_names(ctx);
  ctx->state = STATE_POLL;
  ctx->idmax = static_cast<int>(kEntries);
  ctx->rxz = 101;
  if (eep_mode == 2) {
    // A write was sent to entry idi (never the last: it was polled before).
    ctx->idi = 1 + static_cast<int>(idi_pick % (kEntries - 1));
    ctx->eep = ctx->idi;
    ctx->repolls = data[1] % (kRepollLimit + 1);
    copy_bounded(ctx->write_log.data(), kWriteLogSize, "1;05;42", 7);
  } else {
    ctx->idi = 1 + static_cast<int>(idi_pick % kEntries);
    ctx->eep = eep_mode == 1 ? EEP_DONE : EEP_NONE;
  }
  fuzzsupport::set_now(time_of(time_pick, data[1]));
  write_control_files(ctx, data + kHeader, size - kHeader);

  issue_poll(ctx);

  check_command(ctx, fuzzsupport::drain(serial.adapter));
  if (ctx->idi < 0 || ctx->idi >= static_cast<int>(kEntries)) {
    fuzzsupport::fail("idi left the table", "");
  }
  if (ctx->eep != EEP_NONE && ctx->eep != EEP_DONE && ctx->eep != ctx->idi) {
    fuzzsupport::fail("eep names another entry", "");
  }
  if (ctx->eep == ctx->idi && strnlen(ctx->write_log.data(), kWriteLogSize) != 7) {
    fuzzsupport::fail("write log does not hold the 7-character string", ctx->write_log.data());
  }
  return 0;
}
