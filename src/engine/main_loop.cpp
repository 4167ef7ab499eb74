// Main loop and its three states.
#include "engine/main_loop.h"

#include <cstdio>
#include <cstring>

#include "config/config_file.h"
#include "decode/frame.h"
#include "decode/s0.h"
#include "decode/temperature.h"
#include "engine/clock.h"
#include "engine/device_table.h"
#include "engine/poll.h"
#include "engine/poll_context.h"
#include "output/files.h"
#include "output/notify.h"
#include "output/write_errors.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace {

constexpr int kPollSpacing = 100;  // passes after a poll or answer before the next poll
constexpr int kSearchQuiet = 500;  // quiet passes that end the bus search
constexpr unsigned kResetPauseSeconds = 2;
constexpr unsigned kSearchPauseSeconds = 1;

// Closes a completed cycle: counts it and tells a service manager (watchdog,
// and a status line with its devices, answers, bad checksums and length).
void end_cycle(PollContext *ctx) {
  ++ctx->cycles;
  const CycleFigures figures{ctx->cycles, ctx->idmax, ctx->answers, ctx->bad_sums,
                             clock_monotonic_ms() - ctx->cycle_start_ms};
  char message[kNotifyMessageSize];
  format_cycle_status(message, sizeof message, figures);
  (void)notify(message);
}

void poll_step(PollContext *ctx) {
  if (ctx->idi > 0 && ctx->idi <= ctx->idmax && ctx->rxz > kPollSpacing) {
    issue_poll(ctx);
  } else if (ctx->idi == 0 && ctx->rxz > kPollSpacing) {
    ctx->state = STATE_LOAD;
    end_cycle(ctx);
  }
}

void handle_data_line(PollContext *ctx) {
  check_frame(ctx);
  ++ctx->answers;
  if (ctx->crc != CRC_OK) ++ctx->bad_sums;
  write_frame_file(ctx);
  decode(ctx);
  write_value_file(ctx);
  ctx->rxz = 0;
}

}  // namespace

void load_step(PollContext *ctx) {
  report_write_errors(ctx);  // of the cycle that has just ended
  ctx->cycle_start_ms = clock_monotonic_ms();
  ctx->answers = 0;
  ctx->bad_sums = 0;
  load_config(ctx);
  ctx->rxz = 0;
  ctx->state = STATE_ENUMERATE;
  clear_table(ctx);
  ctx->eep = EEP_NONE;
  if (ctx->reset_pending) {
    ctx->reset_pending = 0;
    set_command(ctx, kCmdReset);
    send_command(ctx);
    clock_pause(kResetPauseSeconds);
    discard_read(ctx);
  }
  set_command(ctx, kCmdSearch);
  send_command(ctx);
  clock_pause(kSearchPauseSeconds);
}

void dispatch_line(PollContext *ctx) {
  split_line(ctx);
  const char first_of_second = ctx->rxa[1][0];
  if (ctx->debug) std::printf("state=%i,rxa[1][0]=%c\n", ctx->state, first_of_second);
  if (ctx->state == STATE_ENUMERATE && first_of_second == 'o') {
    add_entry(ctx);
    ctx->rxz = 0;
  } else if (ctx->state == STATE_ENUMERATE && std::strcmp(ctx->rxa[0], "$S0") == 0) {
    handle_s0_line(ctx);
    ctx->rxz = 0;
  }
  if (ctx->debug) {
    std::printf("state=%i, rxa=%s, rxa[1][0]=%c\r\n", ctx->state, ctx->rxa[0], first_of_second);
  }
  // A data line belongs to the entry being polled, which always lies inside the table.
  if (ctx->state == STATE_POLL && first_of_second == 'o' && ctx->idi >= 0 &&
      ctx->idi < static_cast<int>(kTableEntries)) {
    handle_data_line(ctx);
  }
}

void run_pass(PollContext *ctx) {
  if (ctx->state == STATE_LOAD) {
    load_step(ctx);
  } else if (ctx->state == STATE_POLL) {
    poll_step(ctx);
  }
  if (receive_line(ctx)) dispatch_line(ctx);
  if (ctx->rxz > kSearchQuiet && ctx->state == STATE_ENUMERATE && ctx->idi <= ctx->idmax) {
    resolve_names(ctx);
    ctx->state = STATE_POLL;
  }
  clock_tick();
  ++ctx->rxz;
}

void run(PollContext *ctx) {
  for (;;) run_pass(ctx);
}
