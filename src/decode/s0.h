// The adapter's two S0 impulse inputs: counts to watt-hours, value files, entries.
#pragma once

#include <cstdint>

struct PollContext;

constexpr std::int32_t kDefaultImpulsesPerKwh = 1000;

// Energy in Wh of `count` impulses at `imp` impulses per kWh: floor(count *
// 1000 / imp), formed in 64 bits so it never wraps. A rate of 0 or below
// counts as the default 1000.
std::uint64_t scale_to_wh(std::uint32_t count, std::int32_t imp);

// Reads a number in the manner of atol (blanks skipped, optional sign, digits
// up to the first other character; none gives 0), clamped to the range of long long.
long long parse_long(const char *text);

// Handles an S0 line "$S0;<count1>;<count2>" seen while enumerating: appends
// the entries "S01" and "S02" and rewrites both channels' value files.
void handle_s0_line(PollContext *ctx);
