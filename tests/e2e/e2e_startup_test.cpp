// Whole-process tests of start-up and the serial link, with the test playing the adapter.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

constexpr char kBanner[] = "start kelvinlog v1.01\r\n";
constexpr char kUsage[] =
    "missing parameters, please start like: ./kelvinlog /dev/ttyUSB0 /tmp/ \n";
constexpr char kEmptyConfigEcho[] = "kelvinlog-config.txt:\nEOF\n";

// A logger on a self-played adapter, in a fresh scratch tree with a configuration.
struct SelfPlayed {
  explicit SelfPlayed(const std::string &options = "-f", const std::string &config = "") {
    s.write_config(config);
    logger = start_logger({adapter.slave_path(), s.out(), options}, s.work());
  }
  Scratch s;
  PtyAdapter adapter;
  std::unique_ptr<Process> logger;
};

TEST(E2EStartup, FewerThanTwoArgumentsPrintUsageWithoutTheGuard) {
  const std::vector<std::vector<std::string>> cases{{}, {"/dev/ttyUSB0"}};
  for (const auto &args : cases) {
    SCOPED_TRACE(args.size());
    Scratch s;
    s.write_config("");
    StubBin stubs(s);
    // Two copies listed: had the guard run, killall would have been recorded.
    stubs.set_process_list(" 100 ?  00:00:01 kelvinlog\n 200 ?  00:00:01 kelvinlog\n");
    auto logger = start_logger(args, s.work(), stubs.env());
    ASSERT_TRUE(logger);
    ASSERT_TRUE(logger->wait_exit(Ms(5000)));
    EXPECT_EQ(logger->exit_code(), 255);
    EXPECT_EQ(logger->out(), std::string(kBanner) + kUsage);
    EXPECT_EQ(logger->err(), "");
    EXPECT_EQ(stubs.calls(), "") << "the guard ran";
    EXPECT_EQ(stubs.killall_record(), "");
    EXPECT_FALSE(path_exists(s.work() + "/kelvinlog-tmp"));
  }
}

TEST(E2EStartup, UnopenableSerialDeviceEndsWithPerror) {
  struct Case {
    const char *name;
    bool make_dir;
    const char *reason;
  };
  const Case cases[] = {
      {"no-such-tty", false, "No such file or directory"},
      {"a-directory", true, "Is a directory"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Scratch s;
    s.write_config("");
    const std::string device = s.aux(c.name);
    if (c.make_dir) {
      ASSERT_EQ(mkdir(device.c_str(), 0755), 0);
    }
    auto logger = start_logger({device, s.out(), "-f"}, s.work());
    ASSERT_TRUE(logger);
    ASSERT_TRUE(logger->wait_exit(Ms(5000)));
    EXPECT_EQ(logger->exit_code(), 255);
    EXPECT_EQ(logger->err(), device + ": " + c.reason + "\n");
    EXPECT_EQ(logger->out(), kBanner);
    EXPECT_TRUE(list_dir(s.out()).empty());
  }
}

TEST(E2EStartup, MissingConfigurationEndsAfterTheFirstCommand) {
  Scratch s;  // no kelvinlog-config.txt in the working directory
  PtyAdapter adapter;
  auto logger = start_logger({adapter.slave_path(), s.out(), "-f"}, s.work());
  ASSERT_TRUE(logger);
  ASSERT_TRUE(logger->wait_exit(Ms(5000)));
  EXPECT_EQ(logger->exit_code(), 255);
  EXPECT_EQ(logger->err(), "kelvinlog-config.txt: No such file or directory\n");
  EXPECT_EQ(logger->out(), std::string(kBanner) + "o$L-\n");
  ASSERT_TRUE(adapter.wait_for("\n", Ms(2000)));
  EXPECT_EQ(adapter.received(), "$L-\n");
}

TEST(E2EStartup, FirstCommandFollowsTheModeLetter) {
  struct Case {
    const char *options;
    const char *first;
  };
  const Case cases[] = {
      {"-f", "$L-\n"}, {"-lf", "$L+\n"}, {"-fl", "$L+\n"}, {"-df", "$L-\n"}, {"-f-l", "$L+\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    SelfPlayed run(c.options);
    ASSERT_TRUE(run.logger);
    ASSERT_TRUE(run.adapter.wait_lines(2, Ms(5000)));
    // Exactly these bytes reach the adapter: the first command, then the bus search.
    EXPECT_EQ(run.adapter.received().substr(0, 8), std::string(c.first) + "$?\n");
    ASSERT_TRUE(run.logger->wait_for("o$?\n", Ms(2000)));
    const std::string expected =
        std::string(kBanner) + "o" + c.first + kEmptyConfigEcho + "o$?\n";
    EXPECT_EQ(run.logger->out().substr(0, expected.size()), expected);
    EXPECT_TRUE(run.logger->terminate());
    EXPECT_EQ(run.logger->term_signal(), SIGTERM);
  }
}

TEST(E2ELink, RetryRequestIsAnsweredWithALoneLineFeed) {
  SelfPlayed run;
  ASSERT_TRUE(run.logger);
  // The logger now sleeps one second after its search: both lines wait for it.
  ASSERT_TRUE(run.adapter.wait_for("$?\n", Ms(5000)));
  run.adapter.send("4;??;\nlost;line\n");
  ASSERT_TRUE(run.adapter.wait_lines(3, Ms(5000)));
  EXPECT_EQ(run.adapter.lines()[2].text, "");
  run.adapter.send("9;x;marker\n");
  ASSERT_TRUE(run.logger->wait_for("i9;x;marker\n", Ms(5000)));
  ASSERT_TRUE(run.adapter.wait_for("$?\n", Ms(5000), 2));
  EXPECT_EQ(run.adapter.received().substr(0, 12), "$L-\n$?\n\n$?\n");
  const std::string &out = run.logger->out();
  EXPECT_EQ(count_of(out, "retry 4;??;\n"), 1);
  EXPECT_EQ(count_of(out, "i4;??;"), 0) << "a retry request is never echoed as a line";
  EXPECT_EQ(count_of(out, "lost;line"), 0) << "the line read after the retry is dropped";
  EXPECT_TRUE(run.logger->running());
}

TEST(E2ELink, OverlongLineArrivesAsTwoReads) {
  SelfPlayed run;
  ASSERT_TRUE(run.logger);
  std::string line;
  for (int i = 0; i < 300; ++i) line += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(run.adapter.wait_for("$?\n", Ms(5000)));
  run.adapter.send(line + "\n");
  ASSERT_TRUE(run.logger->wait_for(line.substr(255) + "\n", Ms(5000)));
  // 255 bytes without a line end, then the other 45 characters with it.
  EXPECT_NE(run.logger->out().find("i" + line.substr(0, 255) + "i" + line.substr(255) + "\n"),
            std::string::npos);
  EXPECT_TRUE(run.logger->running());
}

TEST(E2ELink, CarriageReturnIsKeptInTheEcho) {
  SelfPlayed run;
  ASSERT_TRUE(run.logger);
  ASSERT_TRUE(run.adapter.wait_for("$?\n", Ms(5000)));
  run.adapter.send("7;x;abc\r\n");
  EXPECT_TRUE(run.logger->wait_for("i7;x;abc\r\n", Ms(5000)));
}

TEST(E2ELink, EmptyBusSearchesAgainAfterAboutOneAndAHalfSeconds) {
  SelfPlayed run;
  ASSERT_TRUE(run.logger);
  ASSERT_TRUE(run.adapter.wait_lines(4, Ms(10000)));
  const auto &lines = run.adapter.lines();
  EXPECT_EQ(lines[0].text, "$L-");
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(lines[i].text, "$?");
  for (std::size_t i = 2; i < 4; ++i) {
    const auto gap = std::chrono::duration_cast<Ms>(lines[i].at - lines[i - 1].at).count();
    EXPECT_GE(gap, 1300) << "search " << i;
    EXPECT_LE(gap, 2500) << "search " << i;
  }
  // An empty bus polls nothing: every command echoed is the first one or a search.
  ASSERT_TRUE(run.logger->terminate());
  const std::string &out = run.logger->out();
  EXPECT_EQ(count_of(out, "\no$"), count_of(out, "\no$?\n") + 1);
}

TEST(E2ELink, UnpluggedAdapterEndsTheLoggerWithPerror) {
  SelfPlayed run;
  ASSERT_TRUE(run.logger);
  ASSERT_TRUE(run.adapter.wait_for("$?\n", Ms(5000)));
  run.adapter.unplug();
  ASSERT_TRUE(run.logger->wait_exit(Ms(5000)));
  EXPECT_EQ(run.logger->exit_code(), 255);
  const std::string &err = run.logger->err();
  EXPECT_EQ(err.rfind(run.adapter.slave_path() + ": ", 0), 0u) << err;
  EXPECT_EQ(count_of(err, "\n"), 1) << err;
}

}  // namespace
}  // namespace e2e
