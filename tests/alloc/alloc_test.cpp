// Heap allocations of whole engine cycles: after the first cycles, none at all.
#include <cstdlib>
#include <string>
#include <vector>

#include "alloc/counting_malloc.h"
#include "engine/engine_fixture.h"

namespace enginetest {
namespace {

// Counts the allocations made inside the engine's passes only: the test's
// own work between them (the adapter's side, the checks) is not counted.
class AllocTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    set_config(sensor_id(1) + ";Kitchen\n" + sensor_id(2) + ";Cellar\n" + sensor_id(3) +
               ";Hall;QV-S0\nS01;Meter;800\nS02;;500\n");
    ids_ = {sensor_id(0), sensor_id(1), sensor_id(2), sensor_id(3)};
  }
  void around_pass(bool begin) override { alloctest::count_allocations(begin); }
  // Load, search with an S0 line, polls with a configuration write, a bad
  // checksum (err.txt), value files, the status datagram, the write report.
  void cycle() {
    testsupport::write_file(out_file("Kitchen" + std::string("o.txt")), "1;05;42\n");
    run_cycle(ids_, "$S0;1001;4000\n", 2);
  }
  std::vector<std::string> ids_;
};

TEST_F(AllocTest, WholeCyclesAllocateNothing) {
  testsupport::NotifySink sink("@kelvinlog-alloc-" + std::to_string(getpid()));
  ASSERT_TRUE(sink.ok());
  // The 1 ms loop plain and with traces, then the loop that sleeps until due.
  for (int run = 0; run < 3; ++run) {
    const int debug = run == 1;
    SCOPED_TRACE(run == 2 ? "sleeping" : debug ? "debug" : "default");
    ctx()->debug = debug;
    sleeping_ = run == 2;
    for (int i = 0; i < 2; ++i) cycle();  // first use of stdio, the time zone, the socket
    ASSERT_FALSE(HasFatalFailure());
    alloctest::reset_allocation_count();
    const long ticks = testsupport::FakeClock::ticks, waits = testsupport::FakeClock::waits;
    for (int i = 0; i < 5; ++i) {
      cycle();
      ASSERT_FALSE(HasFatalFailure());
      take_stdout();
    }
    EXPECT_EQ(alloctest::counted_allocations(), 0);
    if (sleeping_) {  // it did sleep over the empty passes
      EXPECT_LT((testsupport::FakeClock::waits - waits) * 4, testsupport::FakeClock::ticks - ticks);
    }
    EXPECT_EQ(sink.take().size(), 7u);
  }
}

// The counter itself: an allocation inside a counted stretch is seen.
TEST(CountingMalloc, CountsOnlyWhileSwitchedOn) {
  alloctest::reset_allocation_count();
  void *before = std::malloc(16);
  alloctest::count_allocations(true);
  void *counted = std::malloc(16);
  void *grown = std::realloc(counted, 64);
  alloctest::count_allocations(false);
  std::free(grown);
  std::free(before);
  EXPECT_EQ(alloctest::counted_allocations(), 2);
}

}  // namespace
}  // namespace enginetest
