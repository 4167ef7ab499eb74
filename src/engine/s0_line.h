// The adapter's S0 line seen while enumerating: two table entries, two value files.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace engine {

// Handles an S0 line "$S0;<count1>;<count2>" seen while enumerating: appends
// the entries "S01" and "S02", takes each channel's name and rate from the
// configuration, and rewrites both channels' value files (S02's only when
// the line holds its count).
void handle_s0_line(core::PollContext *ctx);

}  // namespace engine
