// The two clocks of the bridge: monotonic for ages and deadlines, real for file times.
#pragma once

#include <cstdint>

namespace bridge {

using MonoMs = std::int64_t;  // milliseconds of CLOCK_MONOTONIC
constexpr MonoMs kNever = INT64_MAX;

// The time now on both clocks.
struct Now {
  MonoMs mono = 0;    // CLOCK_MONOTONIC, ms: ages and staleness (immune to clock steps)
  double real = 0.0;  // CLOCK_REALTIME, s: file times and exported timestamps
};

// Reads both clocks.
Now clock_now();

}  // namespace bridge
