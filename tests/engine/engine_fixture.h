// Fixture of the engine tests: working directory with the configuration file,
// output directory, the adapter's pseudo-terminal, a fake clock, captured stdout.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/main_loop.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "support/test_support.h"

namespace enginetest {

using namespace core;
using namespace engine;

constexpr std::time_t kDay = 86400;
constexpr std::time_t kNoon = 20000 * kDay + 43200;

// Good frames of a family 28 sensor (85.000 and 17.000 degrees), and what the
// frame check cuts them to.
inline const std::string kFrame85 = "50 05 4B 46 7F FF 0C 10 1C 9C 00";
inline const std::string kFrame85Cut = "50 05 4B 46 7F FF 0C 10 1C ";
inline const std::string kFrame17 = "10 01 00 00 00 00 00 00 00 11 00";
inline const std::string kFrame17Cut = "10 01 00 00 00 00 00 00 00 ";
// A frame whose checksum byte does not match its data.
inline const std::string kFrameBadSum = "50 05 4B 46 7F FF 0C 10 1C 9D 00";

// ROM id of a family 28 sensor, distinct for each i.
inline std::string sensor_id(int i) {
  const unsigned n = static_cast<unsigned>(i) % 100u;
  return "28AA0000000000" + std::string(1, static_cast<char>('0' + n / 10)) +
         std::string(1, static_cast<char>('0' + n % 10));
}

inline int occurrences(const std::string &text, const std::string &needle) {
  return testsupport::count_of(text, needle);
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stdout_.start();
    ASSERT_GE(pty_.slave(), 0);
    set_config("");
    testsupport::prepare_context(ctx_.get(), out_.path(), pty_.slave());
    testsupport::FakeClock::install(kNoon);
  }
  void TearDown() override {
    testsupport::FakeClock::uninstall();
    stdout_.stop();
  }

  PollContext *ctx() { return ctx_.get(); }
  void set_config(const std::string &text) {
    testsupport::write_file(work_.file("kelvinlog-config.txt"), text);
  }
  std::string out_file(const std::string &name) const { return out_.file(name); }
  std::string read_out(const std::string &name) const {
    return testsupport::read_file(out_.file(name));
  }
  bool out_exists(const std::string &name) const {
    return testsupport::path_exists(out_.file(name));
  }

  // Standard output since the last call.
  std::string take_stdout() {
    return stdout_.take();
  }

  // Runs `n` passes: n ticking passes, or with `sleeping_` the passes of
  // the loop that sleeps until due, which runs only those where something
  // may happen and counts the others.
  void pass(int n = 1) {
    for (long left = n; left > 0;) {
      around_pass(true);
      if (sleeping_) {
        testsupport::FakeClock::wait_limit = left;
        left -= run_pass_and_wait(ctx());
      } else {
        run_pass(ctx());
        --left;
      }
      around_pass(false);
    }
  }

  // Called right before (`begin`) and after every pass of the engine.
  virtual void around_pass(bool begin) { (void)begin; }

  // The adapter sends `text`; returns once all of it can be read.
  void adapter_sends(const std::string &text) { pty_.send_ready(text); }

  // The adapter sends one line, and the next pass takes it.
  void answer(const std::string &line) {
    adapter_sends(line);
    pass();
  }

  // Commands the adapter has received so far, once at least `n` bytes have come.
  std::string adapter_got(std::size_t n) { return pty_.receive(n); }
  void expect_sent(const std::string &expected) { EXPECT_EQ(adapter_got(expected.size()), expected); }

  // Runs the load pass, one enumeration answer per id, and the quiet passes
  // that end the search; afterwards the engine is in STATE_POLL.
  void enumerate(const std::vector<std::string> &ids) {
    pass();
    for (std::size_t i = 0; i < ids.size(); ++i) {
      answer(std::to_string(i) + ";o;" + ids[i] + "\n");
    }
    pass(501);
    ASSERT_EQ(ctx()->state, STATE_POLL);
  }

  // One whole cycle from the load step back to it: the bus search finds `ids`
  // (and the S0 line `s0`, unless empty), then every entry is polled from the
  // last to the first. Each sensor answers with a good frame, entry `bad`
  // with one whose checksum does not match; the S0 entries stay silent.
  void run_cycle(const std::vector<std::string> &ids, const std::string &s0 = "", int bad = -1) {
    ASSERT_EQ(ctx()->state, STATE_LOAD);
    pass();
    for (std::size_t i = 0; i < ids.size(); ++i) {
      answer(std::to_string(i) + ";o;" + ids[i] + "\n");
    }
    if (!s0.empty()) answer(s0);
    pass(501);
    ASSERT_EQ(ctx()->state, STATE_POLL);
    for (;;) {
      pass();  // the next poll, or the end of the cycle
      if (ctx()->state != STATE_POLL) break;
      const int entry = ctx()->idi;
      const char *id = ctx()->table.ids[static_cast<std::size_t>(entry)].data();
      if (id[0] != 'S') {
        answer(std::to_string(entry) + ";o;" + (entry == bad ? kFrameBadSum : kFrame85) + "\n");
      }
      pass(100);
    }
    ASSERT_EQ(ctx()->state, STATE_LOAD);
  }

  // Puts `n` sensors into the table as the search leaves it, with `idi` set.
  void fill_table(int n, int idi) {
    for (int i = 0; i < n; ++i) {
      copy_bounded(ctx()->table.ids[static_cast<std::size_t>(i)].data(), kIdSize,
                   sensor_id(i).c_str(), kIdMax);
    }
    ctx()->idmax = n;
    ctx()->idi = idi;
    ctx()->state = STATE_POLL;
    ctx()->rxz = 101;
  }

  bool sleeping_ = false;  // pass() runs the loop that sleeps until due
  testsupport::StdoutCapture stdout_;
  testsupport::TempDir work_;
  testsupport::TempDir out_;
  testsupport::ChdirGuard cwd_{work_.path()};
  testsupport::PtyPair pty_;
  std::unique_ptr<PollContext> ctx_ = std::make_unique<PollContext>();
};

}  // namespace enginetest
