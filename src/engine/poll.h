// The poll command of one device, shaped by the device's control file.
//
// Control files (outdir + label + "o.txt") are how other programs switch a
// device's output, request a bus reset, or have a configuration string sent.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace engine {

constexpr long kSecondsPerDay = 86400;
constexpr long kTimesyncAfter = 360;   // window opens after 00:06:00 UTC
constexpr long kTimesyncBefore = 540;  // and closes before 00:09:00 UTC

// Moves to the next entry (or stays on one awaiting its configuration-write
// answer), looks up its model, applies its control file and sends "$<idi>...".
void issue_poll(core::PollContext *ctx);

// Reads the control file of entry idi and appends the poll suffix it asks for
// to the command in ctx->line, with its effects on the file and the context.
void apply_control_file(core::PollContext *ctx);

}  // namespace engine
