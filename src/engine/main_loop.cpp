// Main loop and its three states.
#include "engine/main_loop.h"

#include <cstring>

#include "config/config_file.h"
#include "core/clock.h"
#include "core/poll_context.h"
#include "core/trace.h"
#include "engine/data_line.h"
#include "engine/device_table.h"
#include "engine/poll.h"
#include "engine/s0_line.h"
#include "output/notify.h"
#include "output/write_errors.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace engine {

using core::PollContext;
using core::STATE_ENUMERATE;
using core::STATE_LOAD;
using core::STATE_POLL;

namespace {

constexpr int kPollSpacing = 100;  // passes after a poll or answer before the next poll
constexpr int kSearchQuiet = 500;  // quiet passes that end the bus search
constexpr unsigned kResetPauseSeconds = 2;
constexpr unsigned kSearchPauseSeconds = 1;

// Closes a completed cycle: counts it and tells a service manager (watchdog,
// and a status line with its devices, answers, bad checksums and length).
void end_cycle(PollContext *ctx) {
  ++ctx->cycles;
  const output::CycleFigures figures{ctx->cycles, ctx->idmax, ctx->answers, ctx->bad_sums,
                                     core::clock_monotonic_ms() - ctx->cycle_start_ms};
  char message[output::kNotifyMessageSize];
  output::format_cycle_status(message, sizeof message, figures);
  (void)output::notify(message);
}

void poll_step(PollContext *ctx) {
  if (ctx->idi > 0 && ctx->idi <= ctx->idmax && ctx->rxz > kPollSpacing) {
    issue_poll(ctx);
  } else if (ctx->idi == 0 && ctx->rxz > kPollSpacing) {
    ctx->state = STATE_LOAD;
    end_cycle(ctx);
  }
}

}  // namespace

void load_step(PollContext *ctx) {
  output::report_write_errors(ctx);  // of the cycle that has just ended
  ctx->cycle_start_ms = core::clock_monotonic_ms();
  ctx->answers = 0;
  ctx->bad_sums = 0;
  config::load_config(ctx);
  ctx->rxz = 0;
  ctx->state = STATE_ENUMERATE;
  clear_table(ctx);
  ctx->eep = core::EEP_NONE;
  if (ctx->reset_pending) {
    ctx->reset_pending = 0;
    serial::set_command(ctx, serial::kCmdReset);
    serial::send_command(ctx);
    core::clock_pause(kResetPauseSeconds);
    serial::discard_read(ctx);
  }
  serial::set_command(ctx, serial::kCmdSearch);
  serial::send_command(ctx);
  core::clock_pause(kSearchPauseSeconds);
}

void dispatch_line(PollContext *ctx) {
  serial::split_line(ctx);
  const char first_of_second = ctx->rxa[1][0];
  core::trace(ctx, "state=%i,rxa[1][0]=%c\n", ctx->state, first_of_second);
  if (ctx->state == STATE_ENUMERATE && first_of_second == 'o') {
    add_entry(ctx);
    ctx->rxz = 0;
  } else if (ctx->state == STATE_ENUMERATE && std::strcmp(ctx->rxa[0], "$S0") == 0) {
    handle_s0_line(ctx);
    ctx->rxz = 0;
  }
  core::trace(ctx, "state=%i, rxa=%s, rxa[1][0]=%c\r\n", ctx->state, ctx->rxa[0],
              first_of_second);
  // A data line belongs to the entry being polled, which always lies inside the table.
  if (ctx->state == STATE_POLL && first_of_second == 'o' && ctx->idi >= 0 &&
      ctx->idi < static_cast<int>(core::kTableEntries)) {
    handle_data_line(ctx);
  }
}

namespace {

// The pass's work without its sleep.
void pass_work(PollContext *ctx) {
  if (ctx->state == STATE_LOAD) {
    load_step(ctx);
  } else if (ctx->state == STATE_POLL) {
    poll_step(ctx);
  }
  if (serial::receive_line(ctx)) dispatch_line(ctx);
  if (ctx->rxz > kSearchQuiet && ctx->state == STATE_ENUMERATE && ctx->idi <= ctx->idmax) {
    resolve_names(ctx);
    ctx->state = STATE_POLL;
  }
}

// Passes until `rxz` (one more per pass) exceeds `limit`: at least 1.
long passes_beyond(int rxz, int limit) {
  const long passes = static_cast<long>(limit) + 1 - rxz;
  if (passes < 1) return 1;
  return passes < kLongestWait ? passes : kLongestWait;
}

}  // namespace

void run_pass(PollContext *ctx) {
  pass_work(ctx);
  core::clock_tick();
  ++ctx->rxz;
}

long passes_until_due(const PollContext *ctx) {
  switch (ctx->state) {
    case STATE_ENUMERATE:
      return ctx->idi <= ctx->idmax ? passes_beyond(ctx->rxz, kSearchQuiet) : kLongestWait;
    case STATE_POLL:
      return ctx->idi >= 0 && ctx->idi <= ctx->idmax ? passes_beyond(ctx->rxz, kPollSpacing)
                                                     : kLongestWait;
    default:
      return 1;  // STATE_LOAD: the next pass loads
  }
}

long run_pass_and_wait(PollContext *ctx) {
  pass_work(ctx);
  const long passes = core::clock_wait(ctx->fd, passes_until_due(ctx));
  ctx->rxz += static_cast<int>(passes);
  return passes;
}

void run(PollContext *ctx) {
#ifdef KELVINLOG_TICK_LOOP
  for (;;) run_pass(ctx);
#else
  for (;;) run_pass_and_wait(ctx);
#endif
}

}  // namespace engine
