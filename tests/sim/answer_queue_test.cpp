// The stand-in's answer queue: due times, order, the 16 slots, and a terminal that is full or gone.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "sim_answer_queue.h"

namespace adaptersim {
namespace {

// A non-blocking pipe standing in for the terminal's master.
class Pipe {
 public:
  Pipe() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    read_fd_ = fds[0];
    write_fd_ = fds[1];
  }
  ~Pipe() {
    close_read();
    if (write_fd_ >= 0) close(write_fd_);
  }
  Pipe(const Pipe &) = delete;
  Pipe &operator=(const Pipe &) = delete;

  int write_fd() const { return write_fd_; }
  void close_read() {
    if (read_fd_ >= 0) close(read_fd_);
    read_fd_ = -1;
  }
  // Everything written so far and not yet taken.
  std::string take() {
    std::string out;
    char buf[4096];
    for (;;) {
      const ssize_t n = read(read_fd_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
};

// Queues `text` (one line) due at `due`; false when the queue had no room.
bool queue_line(AnswerQueue &q, std::int64_t due, const std::string &text) {
  Batch *b = q.prepare(due);
  if (b == nullptr) return false;
  EXPECT_TRUE(b->add_line(text));
  EXPECT_TRUE(q.commit());
  return true;
}

// --- due times and order ----------------------------------------------------

struct Queued {
  std::int64_t due;   // ms
  const char *line;   // answer line, without its line feed
};

struct TimingCase {
  const char *name;
  std::vector<Queued> queued;  // in the order the commands came
  std::int64_t now;            // flush time, ms
  const char *written;         // bytes expected on the terminal
  std::size_t left;            // answers still waiting
  std::int64_t next_due;       // due time of the oldest one left (when any)
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const TimingCase &c, std::ostream *os) { *os << c.name; }

class AnswerQueueTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(AnswerQueueTiming, WritesWhatIsDueInCommandOrder) {
  const TimingCase &c = GetParam();
  AnswerQueue q;
  Pipe pipe;
  for (const Queued &a : c.queued) ASSERT_TRUE(queue_line(q, a.due, a.line));
  const bool wrote = q.flush_due(pipe.write_fd(), c.now);
  const std::string written = pipe.take();
  EXPECT_EQ(written, c.written);
  EXPECT_EQ(wrote, !written.empty());
  EXPECT_EQ(q.size(), c.left);
  EXPECT_EQ(q.empty(), c.left == 0);
  if (c.left > 0) {
    EXPECT_EQ(q.next_due(), c.next_due);
  }
}

const TimingCase kTimingCases[] = {
    {"due_this_very_ms_leaves", {{100, "0;o;28"}}, 100, "0;o;28\n", 0, 0},
    {"one_ms_early_stays", {{100, "0;o;28"}}, 99, "", 1, 100},
    {"long_overdue_leaves", {{100, "0;o;28"}}, 100000, "0;o;28\n", 0, 0},
    {"undelayed_answer_leaves_at_once", {{0, "$res;ok"}}, 0, "$res;ok\n", 0, 0},
    {"all_due_leave_oldest_first",
     {{100, "a"}, {100, "b"}, {101, "c"}},
     101,
     "a\nb\nc\n",
     0,
     0},
    {"later_answer_waits_for_its_time",
     {{100, "a"}, {130, "b"}, {160, "c"}},
     130,
     "a\nb\n",
     1,
     160},
    {"nothing_due_writes_nothing", {{100, "a"}, {130, "b"}}, 50, "", 2, 100},
    // As on a serial line, an answer never overtakes an earlier one, even one
    // due later (the delay changed between the commands).
    {"earlier_due_behind_later_one_waits", {{200, "a"}, {100, "b"}}, 150, "", 2, 200},
    {"earlier_due_behind_later_one_follows_it", {{200, "a"}, {100, "b"}}, 200, "a\nb\n", 0, 0},
    {"empty_queue_writes_nothing", {}, 1000, "", 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, AnswerQueueTiming, ::testing::ValuesIn(kTimingCases),
                         [](const ::testing::TestParamInfo<TimingCase> &info) {
                           return std::string(info.param.name);
                         });

// --- the 16 slots, filled, drained and wrapped around ----------------------

struct FillCase {
  const char *name;
  // Positive: that many commands arrive (answers due 1 ms apart); negative:
  // the clock moves on until that many of the waiting answers are due.
  std::vector<int> steps;
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const FillCase &c, std::ostream *os) { *os << c.name; }

class AnswerQueueSlots : public ::testing::TestWithParam<FillCase> {};

// Runs the steps against a model of a bounded FIFO and checks every answer
// written and every answer lost.
TEST_P(AnswerQueueSlots, KeepsSixteenInOrderAndLosesTheRest) {
  AnswerQueue q;
  Pipe pipe;
  std::deque<std::pair<std::int64_t, std::string>> model;  // due, line
  std::int64_t next_due = 1;
  int serial = 0;
  for (int step : GetParam().steps) {
    if (step > 0) {
      for (int i = 0; i < step; ++i) {
        const std::string line = "answer " + std::to_string(serial++);
        const bool room = model.size() < kAnswerSlots;
        EXPECT_EQ(q.full(), !room) << line;
        EXPECT_EQ(queue_line(q, next_due, line), room) << line;
        if (room) model.emplace_back(next_due, line);
        ++next_due;
      }
    } else {
      const auto n = static_cast<std::size_t>(-step);
      ASSERT_LE(n, model.size());
      ASSERT_GT(n, 0u);
      std::string expected;
      for (std::size_t i = 0; i < n; ++i) {
        expected += model.front().second + "\n";
        if (i + 1 == n) {
          EXPECT_TRUE(q.flush_due(pipe.write_fd(), model.front().first));
        }
        model.pop_front();
      }
      EXPECT_EQ(pipe.take(), expected);
    }
    ASSERT_EQ(q.size(), model.size());
    if (!model.empty()) {
      EXPECT_EQ(q.next_due(), model.front().first);
    }
  }
}

const FillCase kFillCases[] = {
    {"exactly_sixteen_fit", {16, -16}},
    {"seventeenth_is_lost", {17, -16}},
    {"many_beyond_the_slots_are_lost", {40, -16, 3, -3}},
    {"one_leaves_one_more_fits", {16, -1, 2, -16}},
    {"fill_and_drain_twice", {16, -16, 16, -16}},
    {"sliding_window_wraps_around", {10, -5, 10, -10, 11, -11, 7, -3, 12, -16}},
    {"single_answers_around_the_ring", {1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1,
                                        1, -1, 1, -1, 15, -15, 16, -16}},
};

INSTANTIATE_TEST_SUITE_P(Cases, AnswerQueueSlots, ::testing::ValuesIn(kFillCases),
                         [](const ::testing::TestParamInfo<FillCase> &info) {
                           return std::string(info.param.name);
                         });

// --- what takes no slot ----------------------------------------------------

TEST(AnswerQueue, CommandWithoutAnswerTakesNoSlot) {
  AnswerQueue q;
  Pipe pipe;
  for (std::size_t i = 0; i < 3 * kAnswerSlots; ++i) {
    ASSERT_NE(q.prepare(0), nullptr);
    EXPECT_FALSE(q.commit());  // an empty line with nothing held back, a dropped poll
  }
  EXPECT_TRUE(q.empty());
  ASSERT_TRUE(queue_line(q, 5, "0;o;28"));
  EXPECT_TRUE(q.flush_due(pipe.write_fd(), 5));
  EXPECT_EQ(pipe.take(), "0;o;28\n");
}

TEST(AnswerQueue, ReusedSlotHoldsOnlyTheNewAnswer) {
  AnswerQueue q;
  Pipe pipe;
  // Every slot once used for a two-line answer, then for one line.
  for (std::size_t i = 0; i < kAnswerSlots; ++i) {
    Batch *b = q.prepare(0);
    ASSERT_NE(b, nullptr);
    b->add_line("old");
    b->add_line("old");
    ASSERT_TRUE(q.commit());
  }
  ASSERT_TRUE(q.flush_due(pipe.write_fd(), 0));
  pipe.take();
  for (std::size_t i = 0; i < kAnswerSlots; ++i) ASSERT_TRUE(queue_line(q, 0, "new"));
  ASSERT_TRUE(q.flush_due(pipe.write_fd(), 0));
  std::string expected;
  for (std::size_t i = 0; i < kAnswerSlots; ++i) expected += "new\n";
  EXPECT_EQ(pipe.take(), expected);
}

// --- a terminal that is full, or refuses ------------------------------------

// A pipe of one page: an answer longer than that goes out in pieces.
TEST(AnswerQueue, FullTerminalTakesTheRestLaterWithoutLossOrRepeat) {
  AnswerQueue q;
  Pipe pipe;
  const int capacity = fcntl(pipe.write_fd(), F_SETPIPE_SZ, 4096);
  ASSERT_GE(capacity, 4096);
  std::string big;
  Batch *b = q.prepare(10);
  ASSERT_NE(b, nullptr);
  ASSERT_LT(static_cast<std::size_t>(capacity) + 1024, kBatchBytes);
  for (int i = 0; big.size() < static_cast<std::size_t>(capacity) + 1024; ++i) {
    const std::string line = std::to_string(i) + ";o;" + std::string(250, 'A' + i % 26);
    ASSERT_TRUE(b->add_line(line));
    big += line + "\n";
  }
  ASSERT_TRUE(q.commit());
  ASSERT_TRUE(queue_line(q, 11, "tail"));

  std::string got;
  int rounds = 0;
  while (!q.empty() && rounds < 10) {
    q.flush_due(pipe.write_fd(), 11);
    got += pipe.take();
    ++rounds;
  }
  EXPECT_TRUE(q.empty());
  EXPECT_GE(rounds, 2);  // the first flush stopped at a full pipe
  EXPECT_EQ(got, big + "tail\n");
}

TEST(AnswerQueue, AlreadyFullTerminalKeepsEveryAnswer) {
  AnswerQueue q;
  Pipe pipe;
  const std::string filler(65536, 'x');
  std::size_t stuffed = 0;
  for (;;) {
    const ssize_t n = write(pipe.write_fd(), filler.data(), filler.size());
    if (n <= 0) break;
    stuffed += static_cast<std::size_t>(n);
  }
  ASSERT_TRUE(queue_line(q, 0, "a"));
  ASSERT_TRUE(queue_line(q, 0, "b"));
  EXPECT_FALSE(q.flush_due(pipe.write_fd(), 0));
  EXPECT_EQ(q.size(), 2u);
  EXPECT_EQ(pipe.take().size(), stuffed);
  EXPECT_TRUE(q.flush_due(pipe.write_fd(), 0));
  EXPECT_EQ(pipe.take(), "a\nb\n");
  EXPECT_TRUE(q.empty());
}

// A terminal that refuses the bytes (reader gone, descriptor bad) drops the
// answers instead of holding the queue forever.
TEST(AnswerQueue, RefusedAnswersAreDroppedAndTheQueueMovesOn) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &old), 0);
  AnswerQueue q;
  Pipe pipe;
  pipe.close_read();
  ASSERT_TRUE(queue_line(q, 0, "a"));
  ASSERT_TRUE(queue_line(q, 0, "b"));
  ASSERT_TRUE(queue_line(q, 50, "later"));
  EXPECT_FALSE(q.flush_due(pipe.write_fd(), 0));
  EXPECT_EQ(q.size(), 1u);
  EXPECT_EQ(q.next_due(), 50);
  EXPECT_FALSE(q.flush_due(-1, 50));
  EXPECT_TRUE(q.empty());
  sigaction(SIGPIPE, &old, nullptr);
}

}  // namespace
}  // namespace adaptersim
