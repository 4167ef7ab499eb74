// Real and installable clocks of the engine.
//
// The real tick sleeps to a 1 ms deadline grid (absolute CLOCK_MONOTONIC
// deadlines) instead of "1000 us from now": the pass work and the kernel's
// wake-up lateness then no longer add up pass after pass, yet every pass still
// makes exactly one sleeping system call. clock_gettime goes through the vDSO.
//
// A pass that ends late is caught up on the same grid: its deadline has
// passed, so the next passes do not sleep until the grid is reached again,
// and a few milliseconds lost to a busy CPU or a slow file write do not
// lengthen the cycle. Only a stall longer than kCatchUpPasses passes (the
// process was stopped, the machine hung) starts a new grid, so that it is
// not followed by a long burst of passes.
#include "core/clock.h"

#include <cerrno>
#include <unistd.h>

namespace core {

namespace {

constexpr long kPassNs = 1000000;  // length of one pass
constexpr long kCatchUpPasses = 50;  // lateness caught up on the grid; beyond it a new grid
constexpr long kNsPerSecond = 1000000000;

timespec g_deadline{};  // end of the current pass on the monotonic clock
bool g_have_deadline = false;

void add_ns(timespec *t, long ns) {
  t->tv_nsec += ns;
  while (t->tv_nsec >= kNsPerSecond) {
    t->tv_nsec -= kNsPerSecond;
    ++t->tv_sec;
  }
  while (t->tv_nsec < 0) {
    t->tv_nsec += kNsPerSecond;
    --t->tv_sec;
  }
}

bool before(const timespec &a, const timespec &b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

void real_tick() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (g_have_deadline) add_ns(&g_deadline, kPassNs);
  // First pass after start or a pause, or a stall: start a new grid.
  timespec late_limit = now;
  add_ns(&late_limit, -kCatchUpPasses * kPassNs);
  if (!g_have_deadline || before(g_deadline, late_limit)) {
    g_deadline = now;
    add_ns(&g_deadline, kPassNs);
    g_have_deadline = true;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &g_deadline, nullptr) == EINTR) {
  }
}

void real_pause(unsigned seconds) {
  sleep(seconds);
  g_have_deadline = false;
}

std::time_t real_now() { return std::time(nullptr); }

std::int64_t real_monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const EngineClock kRealClock{real_tick, real_pause, real_now, real_monotonic_ms};
const EngineClock *g_clock = &kRealClock;

}  // namespace

void install_clock(const EngineClock *clock) {
  g_clock = clock != nullptr ? clock : &kRealClock;
  g_have_deadline = false;
}

void clock_tick() { g_clock->tick(); }

void clock_pause(unsigned seconds) { g_clock->pause(seconds); }

std::time_t clock_now() { return g_clock->now(); }

std::int64_t clock_monotonic_ms() { return g_clock->monotonic_ms(); }

}  // namespace core
