// The stand-in's command handling: bursts of commands, the answer queue's limit, unplugging.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "sim_loop.h"
#include "sim_scenario.h"

namespace adaptersim {
namespace {

struct BurstCase {
  const char *name;
  std::uint32_t delay_ms;       // --delay-ms
  int commands;                 // "$L-" commands arriving in one read
  bool terminal_full;           // the reader has stopped reading
  std::uint64_t exit_after;     // --exit-after (kNoLimit: none)
  int answered;                 // answers that reach the reader
  int handled;                  // commands the adapter saw
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const BurstCase &c, std::ostream *os) { *os << c.name; }

class SimLoopBurst : public ::testing::TestWithParam<BurstCase> {};

// A session whose terminal is a pipe this test reads.
struct Rig {
  explicit Rig(const BurstCase &c) : scenario(std::make_unique<Scenario>()),
                                      session(std::make_unique<Session>()) {
    ScenarioError err{};
    EXPECT_TRUE(parse_scenario(default_scenario_text(), *scenario, err));
    options.delay_ms = c.delay_ms;
    options.adapter.exit_after = c.exit_after;
    adapter = std::make_unique<Adapter>(*scenario, options.adapter);
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    reader = fds[0];
    session->master = fds[1];
    session->options = &options;
    session->adapter = adapter.get();
  }
  ~Rig() {
    close(reader);
    close(session->master);
  }
  // Fills the pipe; returns how many bytes that took.
  std::size_t stuff() {
    const std::string filler(65536, 'x');
    std::size_t n = 0;
    for (ssize_t w; (w = write(session->master, filler.data(), filler.size())) > 0;) {
      n += static_cast<std::size_t>(w);
    }
    return n;
  }
  std::string take(std::size_t skip = 0) {
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = read(reader, buf, sizeof buf)) > 0;) out.append(buf, n);
    return out.substr(skip);
  }

  std::unique_ptr<Scenario> scenario;
  Options options{};
  std::unique_ptr<Adapter> adapter;
  std::unique_ptr<Session> session;  // large: the queue's 16 answer buffers
  int reader = -1;
};

TEST_P(SimLoopBurst, AnswersEveryCommandTheReaderCanTake) {
  const BurstCase &c = GetParam();
  Rig rig(c);
  const std::size_t stuffed = c.terminal_full ? rig.stuff() : 0;
  std::string burst;
  for (int i = 0; i < c.commands; ++i) burst += "$L-\n";
  const std::int64_t now = 1000;
  take_bytes(*rig.session, burst.data(), burst.size(), now);
  // The loop's next turns: the reader takes what is there, the rest is
  // written when due.
  std::string got = rig.take();
  ASSERT_EQ(got.size() >= stuffed, true);
  got = got.substr(stuffed);
  for (int turn = 0; turn < 4; ++turn) {
    rig.session->queue.flush_due(rig.session->master, now + c.delay_ms);
    got += rig.take();
  }
  std::string expected;
  for (int i = 0; i < c.answered; ++i) expected += "$L-;ok\n";
  EXPECT_EQ(got, expected);
  EXPECT_EQ(rig.adapter->commands(), static_cast<std::uint64_t>(c.handled));
  EXPECT_TRUE(rig.session->queue.empty());
  EXPECT_EQ(rig.session->unplugging, c.exit_after != kNoLimit);
}

const BurstCase kBursts[] = {
    {"sixteen_delayed_all_wait_their_turn", 100, 16, false, kNoLimit, 16, 16},
    // Undelayed answers are due at once: a burst longer than the queue
    // writes what is due to make room instead of losing answers.
    {"fifty_undelayed_all_answered", 0, 50, false, kNoLimit, 50, 50},
    {"three_hundred_undelayed_all_answered", 0, 300, false, kNoLimit, 300, 300},
    // Delayed answers cannot leave before their time: 16 wait, the rest are
    // lost, and every command still counts.
    {"fifty_delayed_sixteen_answered", 100, 50, false, kNoLimit, 16, 50},
    // A reader that has stopped reading gets the 16 queued answers once it
    // reads again; the rest are lost.
    {"fifty_to_a_full_terminal_sixteen_answered", 0, 50, true, kNoLimit, 16, 50},
    // The command that unplugs is the last one taken from the burst.
    {"unplugged_after_three", 0, 10, false, 3, 3, 3},
};

INSTANTIATE_TEST_SUITE_P(Cases, SimLoopBurst, ::testing::ValuesIn(kBursts),
                         [](const ::testing::TestParamInfo<BurstCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace adaptersim
