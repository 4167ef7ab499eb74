// Serial link: terminal settings, send_command and receive_line against a pseudo-terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "core/poll_context.h"
#include "core/text.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"
#include "support/param_name.h"
#include "support/test_support.h"

namespace {

using namespace core;
using namespace serial;

using testsupport::PtyPair;
using testsupport::TempDir;
using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(3);

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(pty_.slave(), 0);
    testsupport::prepare_context(ctx_.get(), out_.path(), pty_.slave());
  }
  // The adapter sends `text`; returns once all of it can be read.
  void adapter_sends(const std::string &text) {
    pty_.send_ready(text);
  }
  std::string line() const { return ctx_->line.data(); }

  TempDir out_;
  PtyPair pty_;
  std::unique_ptr<PollContext> ctx_ = std::make_unique<PollContext>();
};

TEST(SerialSettings, ExactRecord) {
  termios tio;
  std::memset(&tio, 0xA5, sizeof tio);
  make_serial_settings(&tio);
  EXPECT_EQ(tio.c_cflag, static_cast<tcflag_t>(B115200 | CS8 | CREAD | CLOCAL));
  EXPECT_EQ(tio.c_cflag, 0x18B2u);
  EXPECT_EQ(tio.c_lflag, static_cast<tcflag_t>(ICANON));
  EXPECT_EQ(tio.c_iflag, 0u);
  EXPECT_EQ(tio.c_oflag, 0u);
  EXPECT_EQ(tio.c_line, 0);
  for (std::size_t i = 0; i < NCCS; ++i) {
    const int expected = i == VTIME ? 50 : 0;  // VMIN is 0 like the rest
    EXPECT_EQ(tio.c_cc[i], expected) << "c_cc[" << i << "]";
  }
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST_F(SerialTest, DeviceIsInLineModeWithoutEchoOrTranslation) {
  termios tio;
  ASSERT_EQ(tcgetattr(pty_.slave(), &tio), 0);
  EXPECT_EQ(tio.c_lflag, static_cast<tcflag_t>(ICANON));
  EXPECT_EQ(tio.c_iflag, 0u);
  EXPECT_EQ(tio.c_oflag, 0u);
}

TEST_F(SerialTest, SendEchoesThenWritesExactBytes) {
  set_command(ctx_.get(), kCmdLampOn);
  testsupport::start_stdout_capture();
  send_command(ctx_.get());
  EXPECT_EQ(testsupport::captured_stdout(), "o$L+\n");
  EXPECT_EQ(pty_.receive(4), "$L+\n");
}

TEST_F(SerialTest, NothingWaitingIsSilent) {
  testsupport::start_stdout_capture();
  EXPECT_FALSE(receive_line(ctx_.get()));
  EXPECT_EQ(testsupport::captured_stdout(), "");
}

TEST_F(SerialTest, RetryLineIsAnsweredWithALineFeed) {
  adapter_sends("4;??;\n");
  testsupport::start_stdout_capture();
  EXPECT_FALSE(receive_line(ctx_.get()));
  EXPECT_EQ(testsupport::captured_stdout(), "retry 4;??;\n");
  EXPECT_EQ(pty_.receive(1), "\n");
}

TEST_F(SerialTest, LineAfterARetryIsDroppedThenReadingGoesOn) {
  adapter_sends("4;??;\n5;o;LOST\n");
  testsupport::start_stdout_capture();
  EXPECT_FALSE(receive_line(ctx_.get()));
  EXPECT_EQ(testsupport::captured_stdout(), "retry 4;??;\n");

  adapter_sends("4;o;??\n5;o;LOST\n6;o;KEPT\n");
  testsupport::start_stdout_capture();
  EXPECT_TRUE(receive_line(ctx_.get()));
  EXPECT_EQ(testsupport::captured_stdout(), "retry 4;o;??\ni6;o;KEPT\n");
  EXPECT_EQ(line(), "6;o;KEPT\n");
  EXPECT_EQ(pty_.receive(2), "\n\n");
}

TEST_F(SerialTest, OverlongLineComesInTwoParts) {
  adapter_sends(std::string(300, 'A') + "\n");
  testsupport::start_stdout_capture();
  ASSERT_TRUE(receive_line(ctx_.get()));
  EXPECT_EQ(line(), std::string(255, 'A'));
  ASSERT_TRUE(receive_line(ctx_.get()));
  EXPECT_EQ(line(), std::string(45, 'A') + "\n");
  EXPECT_EQ(testsupport::captured_stdout(),
            "i" + std::string(255, 'A') + "i" + std::string(45, 'A') + "\n");
}

// Only "??" asks for a retry: a line holding a single '?' is an answer like any other.
TEST_F(SerialTest, SingleQuestionMarkIsNoRetry) {
  for (const std::string text : {"4;?;\n", "4;o;28FF?A1B02170312\n", "?\n"}) {
    SCOPED_TRACE(text);
    adapter_sends(text);
    const std::string out = testsupport::capture_stdout([&] { EXPECT_TRUE(receive_line(ctx_.get())); });
    EXPECT_EQ(out, "i" + text);
    EXPECT_EQ(line(), text);
    EXPECT_EQ(pty_.drain(), "") << "no line feed sent back";
  }
}

// Whatever the adapter sent before the logger opened its device (the end of
// an earlier run's answers, noise at power-up) is thrown away at open.
TEST(SerialOpen, InputWaitingBeforeTheOpenIsDiscarded) {
  testsupport::Pty pty;
  ASSERT_TRUE(pty.ok());
  const int early = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(early, 0);
  pty.send("5;o;STALE\n");
  ASSERT_TRUE(testsupport::wait_ready(early, 10));
  const int fd = open_serial(pty.slave_path().c_str());
  close(early);
  int ready = -1;
  ASSERT_EQ(ioctl(fd, FIONREAD, &ready), 0);
  EXPECT_EQ(ready, 0);
  pty.send("6;o;FRESH\n");
  ASSERT_TRUE(testsupport::wait_ready(fd, 10));
  auto ctx = std::make_unique<PollContext>();
  testsupport::prepare_context(ctx.get(), "/tmp", fd);
  ctx->quiet = 1;
  ASSERT_TRUE(receive_line(ctx.get()));
  EXPECT_STREQ(ctx->line.data(), "6;o;FRESH\n");
  close(fd);
}

TEST_F(SerialTest, CarriageReturnIsKept) {
  adapter_sends("7;o;28FF4A1B02170312\r\n");
  testsupport::start_stdout_capture();
  ASSERT_TRUE(receive_line(ctx_.get()));
  EXPECT_EQ(testsupport::captured_stdout(), "i7;o;28FF4A1B02170312\r\n");
  EXPECT_EQ(line(), "7;o;28FF4A1B02170312\r\n");
}

TEST_F(SerialTest, DebugTraceMarksTheAwaitedDevice) {
  ctx_->debug = 1;
  ctx_->state = STATE_POLL;
  ctx_->rxz = 7;
  ctx_->idi = 3;
  const struct {
    int eep;
    const char *trace;
  } cases[] = {
      {3, "\r\ni3;o;X\n, eep=3, idi=3, state=2, rxz=7 bingo\r\ni3;o;X\n"},
      {EEP_NONE, "\r\ni3;o;X\n, eep=-99, idi=3, state=2, rxz=7\r\ni3;o;X\n"},
      {EEP_DONE, "\r\ni3;o;X\n, eep=-98, idi=3, state=2, rxz=7\r\ni3;o;X\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.eep);
    ctx_->eep = c.eep;
    adapter_sends("3;o;X\n");
    testsupport::start_stdout_capture();
    EXPECT_TRUE(receive_line(ctx_.get()));
    EXPECT_EQ(testsupport::captured_stdout(), c.trace);
  }
}

// The child of a threadsafe death test builds its own pseudo-terminal, so the
// master it closes is the only one of that pair.
TEST_F(SerialTest, AdapterLossEndsTheProcessNamingTheDevice) {
  SKIP_THREADSAFE_DEATH_TEST_IF_EMULATED();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        pty_.close_master();
        const auto deadline = Clock::now() + kPatience;
        while (Clock::now() < deadline) receive_line(ctx_.get());
      },
      ::testing::ExitedWithCode(255), "/dev/test-serial: ");
}

// How the adapter's descriptor fails, and what the logger's last words say.
struct LossCase {
  const char *name;
  int (*make_fd)(int slave);  // the descriptor read from, given the pty's side
  const char *message;        // perror text (a regular expression)
};

const LossCase kLossCases[] = {
    // An unplugged serial device hangs up: its reads return 0, as /dev/null's do.
    {"hang_up", [](int) { return open("/dev/null", O_RDONLY); },
     "/dev/test-serial: No such device\n"},
    {"descriptor_no_longer_open",
     [](int slave) {
       const int fd = dup(slave);
       close(fd);  // EBADF
       return fd;
     },
     "/dev/test-serial: Bad file descriptor\n"},
};

void PrintTo(const LossCase &c, std::ostream *os) { *os << c.name; }

class SerialLoss : public SerialTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(SerialLoss, EndsTheProcessNamingTheDeviceAndTheCause) {
  SKIP_THREADSAFE_DEATH_TEST_IF_EMULATED();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ctx_->fd = GetParam().make_fd(pty_.slave());
        receive_line(ctx_.get());
      },
      ::testing::ExitedWithCode(255), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialLoss, ::testing::ValuesIn(kLossCases),
                         testsupport::CaseName());

}  // namespace
