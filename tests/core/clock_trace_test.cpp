// Tests of the clock seam and of the trace and echo helpers.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>

#include "core/clock.h"
#include "core/poll_context.h"
#include "core/trace.h"
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

TEST(EngineClock, InstalledClockIsUsedUntilRemoved) {
  FakeClock::install(12345);
  clock_tick();
  clock_tick();
  clock_pause(2);
  EXPECT_EQ(clock_now(), 12345);
  EXPECT_EQ(clock_monotonic_ms(), 2002);
  EXPECT_EQ(FakeClock::ticks, 2);
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
