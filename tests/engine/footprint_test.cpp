// Descriptors and heap over many whole cycles of the engine: nothing may grow.
#include <dirent.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "engine_fixture.h"

namespace enginetest {
namespace {

// Open descriptors of this process.
int open_descriptors() {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n - 3;  // ".", ".." and the directory's own descriptor
}

// Bytes of heap in use.
std::size_t heap_in_use() { return mallinfo2().uordblks; }

// Everything a cycle may touch: named and unnamed sensors, both S0 channels,
// a control file with a configuration write in every cycle, a bad checksum
// (err.txt), the notify socket, and the debug log.
class FootprintTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    set_config(sensor_id(1) + ";Kitchen\n" + sensor_id(2) + ";Cellar\nS01;Meter;800\nS02;;500\n");
    ids_ = {sensor_id(0), sensor_id(1), sensor_id(2), sensor_id(3)};
  }
  void cycle() {
    testsupport::write_file(out_file("Kitchen" + std::string("o.txt")), "1;05;42\n");
    run_cycle(ids_, "$S0;1001;4000\n", 2);
  }
  std::vector<std::string> ids_;
};

TEST_F(FootprintTest, DescriptorsAndHeapStayFlatOverManyCycles) {
  testsupport::NotifySink sink("@kelvinlog-footprint-" + std::to_string(getpid()));
  ASSERT_TRUE(sink.ok());
  ctx()->debug = 1;
  for (int i = 0; i < 3; ++i) cycle();  // first use of stdio, the time zone, the socket
  take_stdout();
  ASSERT_FALSE(HasFatalFailure());
  sink.take();
  const int fds = open_descriptors();
  const std::size_t heap = heap_in_use();
  constexpr int kCycles = 30;
  for (int i = 0; i < kCycles; ++i) {
    cycle();
    take_stdout();
    ASSERT_FALSE(HasFatalFailure()) << "cycle " << i;
    ASSERT_EQ(sink.take().size(), 1u) << "cycle " << i;
  }
  EXPECT_EQ(open_descriptors(), fds);
  EXPECT_LE(heap_in_use(), heap + 512) << "heap grew over " << kCycles << " cycles";
  EXPECT_EQ(ctx()->cycles, 3u + kCycles);
  EXPECT_EQ(testsupport::count_of(read_out("Kitchene.txt"), "; 1;05;42 ;" + kFrame85Cut + "\n"),
            3 + kCycles);
  EXPECT_EQ(testsupport::count_of(read_out("err.txt"), ";Cellar;err cnc ser;"), 3 + kCycles);
}

}  // namespace
}  // namespace enginetest
