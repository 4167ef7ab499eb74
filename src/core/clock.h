// The logger's one seam to time: the 1 ms pass sleep, the long pauses, and the clocks.
//
// The engine paces its passes with it and the logs take their timestamps from
// it. The shipped binary uses the real clock; tests install a fake one so that
// a whole cycle runs without real seconds of sleep.
#pragma once

#include <cstdint>
#include <ctime>

namespace core {

struct EngineClock {
  void (*tick)();                     // end of a pass: sleep until the next 1 ms mark
  void (*pause)(unsigned seconds);    // the 1 s / 2 s pauses after "$?" and "$res"
  std::time_t (*now)();               // calendar time: timesync window and timestamps
  std::int64_t (*monotonic_ms)();     // milliseconds on a clock that never steps: cycle lengths
};

// Makes `clock` the engine's clock; nullptr restores the real one.
void install_clock(const EngineClock *clock);

// Sleeps out the rest of the current 1 ms pass.
void clock_tick();

// Sleeps whole seconds.
void clock_pause(unsigned seconds);

// Current calendar time in seconds since the epoch.
std::time_t clock_now();

// Milliseconds since an arbitrary start, never stepped by clock changes.
std::int64_t clock_monotonic_ms();

}  // namespace core
