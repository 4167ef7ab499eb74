// Tests of failed writes: what each writer counts, and the one status line per cycle.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "core/poll_context.h"
#include "core/text.h"
#include "output/files.h"
#include "output/logs.h"
#include "output/write_errors.h"
#include "serial/protocol.h"
#include "engine/data_line.h"
#include "engine/s0_line.h"
#include "serial/protocol.h"
#include "support/test_support.h"

namespace {

using namespace core;
using namespace output;
using serial::split_line;

constexpr const char *kRom = "28FF4A6B011603C1";

TEST(PutRecord, ReturnsTheErrnoOfAFailedWrite) {
  testsupport::TempDir dir;
  const int ok = open(dir.file("ok.txt").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(ok, 0);
  EXPECT_EQ(put_record(ok, "%s\n", "fine"), 0);
  EXPECT_EQ(testsupport::read_file(dir.file("ok.txt")), "fine\n");
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(put_record(full, "%s\n", "lost"), ENOSPC);
}

TEST(WriteErrors, OneLinePerCycleNamingTheFirst) {
  auto ctx = std::make_unique<PollContext>();
  init_context(ctx.get());
  testsupport::start_stdout_capture();
  report_write_errors(ctx.get());
  EXPECT_EQ(testsupport::captured_stdout(), "") << "nothing failed";

  note_write_error(ctx.get(), "out/a.txt", 0);  // a write that worked
  note_write_error(ctx.get(), "out/Kitchenv.txt", EFBIG);
  note_write_error(ctx.get(), "out/b.txt", ENOSPC);
  note_write_error(ctx.get(), "out/c.txt", EIO);
  testsupport::start_stdout_capture();
  report_write_errors(ctx.get());
  report_write_errors(ctx.get());  // the count starts anew
  EXPECT_EQ(testsupport::captured_stdout(),
            "3 file writes failed in this cycle, first out/Kitchenv.txt: File too large\n");
  EXPECT_EQ(ctx->write_errors, 0u);
  EXPECT_EQ(ctx->write_errno, 0) << "no failure is left over for the next cycle";
  EXPECT_STREQ(ctx->write_error_path.data(), "");

  // A path as long as the buffer allows is kept whole; one failure is one write.
  const std::string longest(kPathSize - 1, 'p');
  note_write_error(ctx.get(), longest.c_str(), ENOSPC);
  testsupport::start_stdout_capture();
  report_write_errors(ctx.get());
  EXPECT_EQ(testsupport::captured_stdout(),
            "1 file write failed in this cycle, first " + longest + ": No space left on device\n");
}

// Every writer counts its failed write; run in a child whose file-size limit
// is 0 and which ignores SIGXFSZ, so that every write fails with EFBIG.
struct WriterCase {
  const char *name;
  std::function<void(PollContext *)> write;
  unsigned count;
  const char *first;  // file name of the first failure, in the output directory
};

void PrintTo(const WriterCase &c, std::ostream *os) { *os << c.name; }

void answer(PollContext *ctx, const char *line) {
  copy_bounded(ctx->line.data(), kLineSize, line, kLineSize - 1);
  split_line(ctx);
}

const WriterCase kWriters[] = {
    {"raw_file", [](PollContext *ctx) {
       answer(ctx, "0;o;50 05 4B 46 7F FF 0C 10 1C 9C 00\n");
       engine::check_data_frame(ctx);
       write_frame_file(ctx);
     }, 1, "28FF4A6B011603C1.txt"},
    {"write_log", [](PollContext *ctx) {
       ctx->eep = ctx->idi;
       answer(ctx, "0;o;50 05 4B 46 7F FF 0C 10 1C 9C 00\n");
       engine::check_data_frame(ctx);
       write_frame_file(ctx);
     }, 1, "28FF4A6B011603C1e.txt"},
    {"error_log_then_raw_file", [](PollContext *ctx) {
       answer(ctx, "0;o;50 05 4B 46 7F FF 0C 10 1C 00 00\n");  // wrong checksum
       engine::check_data_frame(ctx);
       write_frame_file(ctx);
     }, 2, "err.txt"},
    {"value_file", [](PollContext *ctx) {
       copy_bounded(ctx->value.data(), kValueSize, "85.000", kValueSize - 1);
       write_value_file(ctx);
     }, 1, "28FF4A6B011603C1v.txt"},
    {"value_file_and_debug_log", [](PollContext *ctx) {
       ctx->debug = 1;
       copy_bounded(ctx->value.data(), kValueSize, "85.000", kValueSize - 1);
       write_value_file(ctx);
     }, 2, "28FF4A6B011603C1v.txt"},
    {"s0_value_files", [](PollContext *ctx) {
       ctx->state = STATE_ENUMERATE;
       answer(ctx, "$S0;10;20\n");
       engine::handle_s0_line(ctx);
     }, 2, "S01v.txt"},
};

class WriterErrors : public ::testing::TestWithParam<WriterCase> {};

TEST_P(WriterErrors, AreCountedWithTheFirstPath) {
  SKIP_UNLESS_FORK_WORKS();
  const WriterCase &c = GetParam();
  testsupport::TempDir out;
  testsupport::TempDir work;
  testsupport::ChdirGuard cwd(work.path());
  auto ctx = std::make_unique<PollContext>();
  testsupport::prepare_context(ctx.get(), out.path(), -1);
  copy_bounded(ctx->table.ids[0].data(), kIdSize, kRom, kIdMax);
  ctx->idmax = 1;
  ctx->idi = 0;
  ctx->state = STATE_POLL;
  const std::string first = out.file(c.first);
  EXPECT_EXIT(
      {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &limit);
        testsupport::start_stdout_capture();
        c.write(ctx.get());
        limit.rlim_cur = before;  // the death test's own capture is a file too
        setrlimit(RLIMIT_FSIZE, &limit);
        testsupport::captured_stdout();
        const bool right = ctx->write_errors == c.count && ctx->write_errno == EFBIG &&
                           first == ctx->write_error_path.data();
        std::fprintf(stderr, "counted %u, errno %d, first %s\n", ctx->write_errors,
                     ctx->write_errno, ctx->write_error_path.data());
        std::exit(right ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "counted");
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterErrors, ::testing::ValuesIn(kWriters),
                         [](const ::testing::TestParamInfo<WriterCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
