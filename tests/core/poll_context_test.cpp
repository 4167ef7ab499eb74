// The first values of a context: what every module takes as "nothing yet".
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/poll_context.h"

namespace {

using namespace core;

// Start-up runs before the serial device is open and before any line came:
// no descriptor (0 would be standard input), no write pending, no good frame.
TEST(InitContext, NothingOpenPendingOrCheckedYet) {
  auto ctx = std::make_unique<PollContext>();
  std::memset(ctx.get(), 0x5A, sizeof *ctx);  // whatever was there before
  init_context(ctx.get());
  EXPECT_EQ(ctx->state, STATE_LOAD);
  EXPECT_EQ(ctx->fd, -1);
  EXPECT_EQ(ctx->eep, EEP_NONE);
  EXPECT_EQ(ctx->crc, CRC_BAD);
  EXPECT_EQ(ctx->rxz, 0);
  EXPECT_EQ(ctx->reset_pending, 0);
  EXPECT_EQ(ctx->repolls, 0);
  EXPECT_EQ(ctx->cycles, 0u);
  EXPECT_EQ(ctx->write_errors, 0u);
  EXPECT_EQ(ctx->tok_next, nullptr);
  EXPECT_STREQ(ctx->line.data(), "");
  EXPECT_STREQ(ctx->config.data(), "");
  EXPECT_STREQ(ctx->table.ids[kTableEntries - 1].data(), "");
  EXPECT_STREQ(ctx->write_error_path.data(), "");
}

}  // namespace
