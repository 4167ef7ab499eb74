// The main loop: one pass per ~1 ms tick through load, enumerate and poll states.
//
// A pass runs the state step, takes at most one line from the adapter,
// dispatches it, tests for the end of the bus search, and sleeps one tick.
// Most passes find nothing to do, so the loop sleeps over them: after a pass
// it waits until the next pass at which a threshold is reached, or until the
// adapter sends something, and counts every pass that went by. Each command
// goes out, and each line is handled, at the pass a loop that ticks every
// 1 ms would have: the two are the same timeline. The ticking loop is kept
// (run_pass; the build option KELVINLOG_TICK_LOOP makes `run` use it).
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace engine {

constexpr long kLongestWait = 60000;  // passes slept at most when nothing is due

// STATE_LOAD: report the last cycle's failed file writes, reload the
// configuration, clear the table, send an optional bus reset and the bus
// search, then enter STATE_ENUMERATE.
void load_step(core::PollContext *ctx);

// Hands the line now in ctx->line to the handler its state and shape ask for.
void dispatch_line(core::PollContext *ctx);

// Runs one pass of the loop and sleeps one tick: the 1 ms loop's pass.
void run_pass(core::PollContext *ctx);

// Passes from now until the next one at which something happens without
// input: 1 in STATE_LOAD, else the pass at which `rxz` passes the poll
// spacing or the search's quiet time; kLongestWait when nothing is due.
long passes_until_due(const core::PollContext *ctx);

// Runs one pass of the loop, then sleeps over the passes that are empty
// (until one is due or the adapter sends) and counts them in `rxz`.
// Returns the number of passes that ended, this one included.
long run_pass_and_wait(core::PollContext *ctx);

// Runs passes for ever.
[[noreturn]] void run(core::PollContext *ctx);

}  // namespace engine
