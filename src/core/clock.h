// The logger's one seam to time: the 1 ms pass grid, the long pauses, and the clocks.
//
// The engine paces its passes with it and the logs take their timestamps from
// it. The shipped binary uses the real clock; tests install a fake one so that
// a whole cycle runs without real seconds of sleep.
//
// Passes lie on a grid of 1 ms points. `tick` sleeps to the next point (one
// pass); `wait` sleeps over as many points as nothing can happen in: up to
// the point that starts a given pass, or less when the serial descriptor
// gets input, and then to the first point after its arrival, where a loop
// ticking every pass would have read it.
#pragma once

#include <cstdint>
#include <ctime>

namespace core {

struct EngineClock {
  void (*tick)();                     // end of a pass: sleep until the next 1 ms mark
  long (*wait)(int fd, long passes);  // end of a pass: sleep over 1..passes marks (see clock_wait)
  void (*pause)(unsigned seconds);    // the 1 s / 2 s pauses after "$?" and "$res"
  std::time_t (*now)();               // calendar time: timesync window and timestamps
  std::int64_t (*monotonic_ms)();     // milliseconds on a clock that never steps: cycle lengths
};

// Makes `clock` the engine's clock; nullptr restores the real one.
void install_clock(const EngineClock *clock);

// Sleeps out the rest of the current 1 ms pass.
void clock_tick();

// Ends the current pass and sleeps over the passes after it that are known
// to be empty: returns when pass `passes` (counted from the next, at least 1)
// is due, or earlier when `fd` has input or has hung up, then at the first
// grid point after the input came. Returns the number of passes that ended
// (1 to `passes`); the caller counts them all as having run.
long clock_wait(int fd, long passes);

// Sleeps whole seconds.
void clock_pause(unsigned seconds);

// Current calendar time in seconds since the epoch.
std::time_t clock_now();

// Milliseconds since an arbitrary start, never stepped by clock changes.
std::int64_t clock_monotonic_ms();

}  // namespace core
