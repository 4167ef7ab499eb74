// The main loop: one pass per ~1 ms tick through load, enumerate and poll states.
//
// A pass runs the state step, takes at most one line from the adapter,
// dispatches it, tests for the end of the bus search, and sleeps one tick.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace engine {

// STATE_LOAD: report the last cycle's failed file writes, reload the
// configuration, clear the table, send an optional bus reset and the bus
// search, then enter STATE_ENUMERATE.
void load_step(core::PollContext *ctx);

// Hands the line now in ctx->line to the handler its state and shape ask for.
void dispatch_line(core::PollContext *ctx);

// Runs one pass of the loop.
void run_pass(core::PollContext *ctx);

// Runs passes for ever.
[[noreturn]] void run(core::PollContext *ctx);

}  // namespace engine
