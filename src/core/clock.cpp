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
//
// The real wait keeps the same grid and the same rules, but sleeps in one
// ppoll over every pass known to be empty: until the grid point that starts
// the pass that is due, or until the serial descriptor has input. Input ends
// the sleep at the first grid point after it came, where the ticking loop's
// read would have found it; input that is already there when a late pass
// ends is found by the next pass at once, as the ticking loop's catch-up
// pass would find it. A terminal in line mode reports only whole lines as
// input; anything else that wakes the poll costs one pass, never a spin.
#include "core/clock.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace core {

namespace {

constexpr std::int64_t kPassNs = 1000000;  // length of one pass
// The ticking loop's read comes this long after its grid point (the timer's
// slack and the wake-up), and the poll wakes this long after input came: input
// that woke the wait this soon after a grid point was there for that pass.
constexpr std::int64_t kReadAfterGridNs = 100000;
constexpr std::int64_t kCatchUpPasses = 50;  // lateness caught up on the grid; beyond it a new grid
constexpr std::int64_t kNsPerSecond = 1000000000;

timespec g_deadline{};  // end of the current pass on the monotonic clock
bool g_have_deadline = false;

void add_ns(timespec *t, std::int64_t ns) {
  t->tv_sec += static_cast<time_t>(ns / kNsPerSecond);
  t->tv_nsec += static_cast<long>(ns % kNsPerSecond);
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

// The grid point that ends the current pass: one pass after the last one,
// or, first after start or a pause or after a stall, one pass from `now`.
timespec pass_end(const timespec &now) {
  timespec end = g_deadline;
  add_ns(&end, kPassNs);
  timespec late_limit = now;
  add_ns(&late_limit, -kCatchUpPasses * kPassNs);
  if (!g_have_deadline || before(end, late_limit)) {
    end = now;
    add_ns(&end, kPassNs);
  }
  return end;
}

void sleep_until(const timespec &deadline) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

void real_tick() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  g_deadline = pass_end(now);
  g_have_deadline = true;
  sleep_until(g_deadline);
}

// Polls `fd` for input until `deadline` (once, without sleeping, when it has
// passed). Returns true, with the time it woke in `*woke`, when input came.
bool input_before(int fd, const timespec &deadline, timespec *woke) {
  for (;;) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec left{};
    if (before(now, deadline)) {
      left.tv_sec = deadline.tv_sec - now.tv_sec;
      left.tv_nsec = deadline.tv_nsec - now.tv_nsec;
      add_ns(&left, 0);  // brings tv_nsec back into range
    }
    pollfd p{fd, POLLIN, 0};
    const int n = ppoll(&p, 1, &left, nullptr);
    if (n > 0) {
      clock_gettime(CLOCK_MONOTONIC, woke);
      return true;
    }
    if (n == 0 || errno != EINTR) return false;
  }
}

// Passes from the one ending at `first` to the first grid point at or after `t`.
long passes_to(const timespec &first, const timespec &t) {
  if (!before(first, t)) return 1;
  const std::int64_t ns = static_cast<std::int64_t>(t.tv_sec - first.tv_sec) * kNsPerSecond +
                          (t.tv_nsec - first.tv_nsec);
  return static_cast<long>(1 + (ns + kPassNs - 1) / kPassNs);
}

long real_wait(int fd, long passes) {
  if (passes < 1) passes = 1;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec first = pass_end(now);
  g_have_deadline = true;
  timespec last = first;
  add_ns(&last, static_cast<std::int64_t>(passes - 1) * kPassNs);
  timespec woke{};
  long elapsed = passes;
  bool input = false;
  if (!before(now, first)) {
    // Late: the ticking loop would run the passes up to now at once, the
    // first of them finding any input that is already there.
    input = input_before(fd, now, &woke);
    if (input) elapsed = 1;
  }
  if (!input && before(now, last) && input_before(fd, last, &woke)) {
    input = true;
    timespec came = woke;
    add_ns(&came, -kReadAfterGridNs);
    elapsed = passes_to(first, came);
    if (elapsed > passes) elapsed = passes;
  }
  if (!input) {
    g_deadline = last;  // reached: the poll never ends early
    return passes;
  }
  g_deadline = first;
  add_ns(&g_deadline, static_cast<std::int64_t>(elapsed - 1) * kPassNs);
  if (before(woke, g_deadline)) sleep_until(g_deadline);
  return elapsed;
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

const EngineClock kRealClock{real_tick, real_wait, real_pause, real_now, real_monotonic_ms};
const EngineClock *g_clock = &kRealClock;

}  // namespace

void install_clock(const EngineClock *clock) {
  g_clock = clock != nullptr ? clock : &kRealClock;
  g_have_deadline = false;
}

void clock_tick() { g_clock->tick(); }

long clock_wait(int fd, long passes) { return g_clock->wait(fd, passes); }

void clock_pause(unsigned seconds) { g_clock->pause(seconds); }

std::time_t clock_now() { return g_clock->now(); }

std::int64_t clock_monotonic_ms() { return g_clock->monotonic_ms(); }

}  // namespace core
