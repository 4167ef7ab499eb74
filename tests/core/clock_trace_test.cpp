// Tests of the clock seam and of the trace and echo helpers.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/poll_context.h"
#include "core/trace.h"
#include "support/param_name.h"
#include "support/test_support.h"

namespace {

using namespace core;
using testsupport::capture_stdout;
using testsupport::FakeClock;

// The real tick sleeps to absolute 1 ms deadlines, so n passes never take less than n ms.
TEST(EngineClock, RealTickPacesPassesAtOneMillisecond) {
  install_clock(nullptr);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) clock_tick();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  const std::time_t before = std::time(nullptr);
  const std::time_t now = clock_now();
  EXPECT_GE(now, before);
  EXPECT_LE(now, std::time(nullptr));
}

// A pass that ends late is caught up on the 1 ms grid: the passes after a
// short stall do not sleep until the grid is reached again. A stall longer
// than 50 passes starts a new grid instead of a burst of passes.
struct StallCase {
  const char *name;
  int stall_ms;    // the pass that ends late
  int passes;      // passes timed after it
  bool caught_up;  // true: they return at once; false: they take 1 ms each
};

void PrintTo(const StallCase &c, std::ostream *os) { *os << c.name; }

const StallCase kStallCases[] = {
    {"stall_of_40_passes_is_caught_up", 40, 40, true},
    {"stall_of_100_passes_starts_a_new_grid", 100, 20, false},
};

class RealTickStall : public ::testing::TestWithParam<StallCase> {
 protected:
  void TearDown() override { install_clock(nullptr); }
};

TEST_P(RealTickStall, PassesAfterIt) {
  const StallCase &c = GetParam();
  using std::chrono::milliseconds;
  using Steady = std::chrono::steady_clock;
  // Sleeping to a deadline makes the lower bound certain; a loaded machine can
  // only stretch the quick case, so that one gets three tries.
  Steady::duration took{};
  for (int attempt = 0; attempt < 3; ++attempt) {
    install_clock(nullptr);  // starts a new grid
    clock_tick();
    std::this_thread::sleep_for(milliseconds(c.stall_ms));
    const auto start = Steady::now();
    for (int i = 0; i < c.passes; ++i) clock_tick();
    took = Steady::now() - start;
    if (!c.caught_up || took < milliseconds(c.passes / 2)) break;
  }
  if (c.caught_up) {
    EXPECT_LT(took, milliseconds(c.passes / 2));
  } else {
    EXPECT_GE(took, milliseconds(c.passes));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RealTickStall, ::testing::ValuesIn(kStallCases),
                         testsupport::CaseName());

// The real wait on the logger's terminal: it sleeps over the passes asked
// for unless a whole line, or a hang-up, is there; a line without its end
// does not wake it (line mode reports only whole lines), so it cannot spin.
struct WaitCase {
  const char *name;
  const char *bytes;  // what the adapter has sent before the wait
  bool hang_up;       // the adapter's side is closed
  long ended;         // passes the wait reports
};

void PrintTo(const WaitCase &c, std::ostream *os) { *os << c.name; }

const WaitCase kWaitCases[] = {
    {"nothing_sleeps_to_the_due_pass", "", false, 20},
    {"a_waiting_line_ends_it_at_the_next_pass", "1;o;x\n", false, 1},
    {"a_partial_line_does_not_wake_it", "1;o;x", false, 20},
    {"a_hang_up_ends_it_at_the_next_pass", "", true, 1},
};

class RealWait : public ::testing::TestWithParam<WaitCase> {
 protected:
  void TearDown() override { install_clock(nullptr); }
  testsupport::PtyPair pty_;
};

TEST_P(RealWait, EndsWhenDueOrOnInput) {
  const WaitCase &c = GetParam();
  ASSERT_GE(pty_.slave(), 0);
  if (c.bytes[0] != '\0') pty_.send(c.bytes);
  if (c.hang_up) pty_.close_master();
  if (c.ended == 1 && !c.hang_up) {
    ASSERT_TRUE(testsupport::wait_ready(pty_.slave(), 1));
  }
  install_clock(nullptr);  // a new grid
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(clock_wait(pty_.slave(), 20), c.ended);
  // Never before the grid point that ends the last pass counted.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.ended));
}

INSTANTIATE_TEST_SUITE_P(Cases, RealWait, ::testing::ValuesIn(kWaitCases),
                         testsupport::CaseName());

// A line that comes during the wait ends it a pass after it came, not at the due pass.
// The adapter's side of the next test: a line written from a one-shot timer's
// signal, not from a thread, which hangs under qemu-user.
int g_adapter_fd = -1;
void send_line_on_alarm(int) {
  static const char kLine[] = "1;o;x\n";
  if (write(g_adapter_fd, kLine, sizeof kLine - 1) < 0) return;
}

TEST(EngineClock, RealWaitEndsSoonAfterALineComes) {
  testsupport::PtyPair pty;
  ASSERT_GE(pty.slave(), 0);
  install_clock(nullptr);
  g_adapter_fd = pty.master();
  struct sigaction act {};
  act.sa_handler = send_line_on_alarm;
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGALRM, &act, &old), 0);
  itimerval in10ms{};
  in10ms.it_value.tv_usec = 10000;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(setitimer(ITIMER_REAL, &in10ms, nullptr), 0);
  const long ended = clock_wait(pty.slave(), 60000);
  const auto took = std::chrono::steady_clock::now() - start;
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_GE(ended, 10);
  EXPECT_LT(ended, 60000);
  EXPECT_GE(took, std::chrono::milliseconds(ended));
  EXPECT_TRUE(testsupport::wait_ready(pty.slave(), 6, testsupport::Ms(0)));
}

TEST(EngineClock, InstalledClockIsUsedUntilRemoved) {
  FakeClock::install(12345);
  clock_tick();
  clock_tick();
  clock_pause(2);
  EXPECT_EQ(clock_wait(-1, 7), 7);  // no input: the due pass
  EXPECT_EQ(clock_now(), 12345);
  EXPECT_EQ(clock_monotonic_ms(), 2009);
  EXPECT_EQ(FakeClock::ticks, 9);
  EXPECT_EQ(FakeClock::paused_seconds, 2);
  FakeClock::uninstall();
  EXPECT_GT(clock_now(), 1700000000);
}

// Which flags let each helper print: trace only under debug, echo unless quiet.
struct GateCase {
  const char *name;
  int debug;
  int quiet;
  bool traced;
  bool echoed;
};

void PrintTo(const GateCase &c, std::ostream *os) { *os << c.name; }

const GateCase kGateCases[] = {
    {"plain", 0, 0, false, true},
    {"debug", 1, 0, true, true},
    {"quiet", 0, 1, false, false},
};

class TraceGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(TraceGate, PrintsOnlyUnderItsFlag) {
  const GateCase &c = GetParam();
  auto ctx = std::make_unique<PollContext>();
  init_context(ctx.get());
  ctx->debug = c.debug;
  ctx->quiet = c.quiet;
  EXPECT_EQ(capture_stdout([&] { trace(ctx.get(), "idi=%i,%s\n", 3, "x"); }),
            c.traced ? "idi=3,x\n" : "");
  EXPECT_EQ(capture_stdout([&] { trace_if(c.debug != 0, "%c", 'q'); }), c.traced ? "q" : "");
  EXPECT_EQ(capture_stdout([&] { echo(ctx.get(), "o%s", "$?\n"); }), c.echoed ? "o$?\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Flags, TraceGate, ::testing::ValuesIn(kGateCases),
                         testsupport::CaseName());

// Traces print bytes as they are, a NUL from "%c" included, and text given as
// an argument is never read as a format.
TEST(Trace, BytesAsTheyAre) {
  auto ctx = std::make_unique<PollContext>();
  init_context(ctx.get());
  ctx->debug = 1;
  const std::string out = capture_stdout([&] {
    trace(ctx.get(), "state=%i,rxa[1][0]=%c\n", 2, '\0');
    trace(ctx.get(), "%s", "%s%n%x");
  });
  EXPECT_EQ(out, std::string("state=2,rxa[1][0]=\0\n", 20) + "%s%n%x");
}

}  // namespace
