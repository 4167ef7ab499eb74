// Shared helpers of the unit tests that drive the logger's own code.
#include "support/test_support.h"

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "app/options.h"
#include "core/text.h"
#include "serial/serial_port.h"

namespace testsupport {

std::time_t FakeClock::now = 0;
long FakeClock::ticks = 0;
long FakeClock::waits = 0;
long FakeClock::wait_limit = 0;
long FakeClock::paused_seconds = 0;

namespace {

void fake_tick() { ++FakeClock::ticks; }
long fake_wait(int fd, long passes) {
  pollfd p{fd, POLLIN, 0};
  const long ended = poll(&p, 1, 0) > 0 ? 1 : std::min(passes, FakeClock::wait_limit);
  FakeClock::ticks += ended;
  ++FakeClock::waits;
  return ended;
}
void fake_pause(unsigned seconds) { FakeClock::paused_seconds += seconds; }
std::time_t fake_now() { return FakeClock::now; }
// Each pass counts as one millisecond and each paused second as a thousand.
std::int64_t fake_monotonic_ms() { return FakeClock::ticks + FakeClock::paused_seconds * 1000; }
const core::EngineClock kFakeClock{fake_tick, fake_wait, fake_pause, fake_now, fake_monotonic_ms};

}  // namespace

void FakeClock::install(std::time_t start) {
  now = start;
  ticks = 0;
  waits = 0;
  wait_limit = std::numeric_limits<long>::max();  // no limit
  paused_seconds = 0;
  core::install_clock(&kFakeClock);
}

void FakeClock::uninstall() { core::install_clock(nullptr); }

PtyPair::PtyPair() {
  if (ok()) slave_ = serial::open_serial(slave_path().c_str());
}

PtyPair::~PtyPair() {
  if (slave_ >= 0) close(slave_);
}

void PtyPair::send_ready(const std::string &text) {
  send(text);
  EXPECT_TRUE(wait_ready(slave_, text.size())) << "pty did not deliver " << text;
}

void prepare_context(core::PollContext *ctx, const std::string &outdir, int fd,
                     const std::string &config) {
  core::init_context(ctx);
  app::normalise_outdir(ctx->outdir.data(), core::kDirSize, outdir.c_str());
  core::copy_bounded(ctx->serial_path.data(), core::kDirSize, "/dev/test-serial",
                     core::kSerialPathMax);
  ctx->fd = fd;
  core::copy_bounded(ctx->config.data(), core::kConfigSize, config.c_str(), core::kConfigMax);
}

}  // namespace testsupport
