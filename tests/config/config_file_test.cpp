// Tests of loading and echoing the configuration file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "config/config_file.h"
#include "core/poll_context.h"
#include "support/test_support.h"

namespace {

using namespace core;
using config::load_config;
using testsupport::capture_stdout;

class ConfigLoad : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::prepare_context(ctx.get(), dir.path(), -1); }
  std::string load() {
    return capture_stdout([this] { load_config(ctx.get()); });
  }
  testsupport::TempDir dir;
  testsupport::ChdirGuard cwd{dir.path()};
  std::unique_ptr<PollContext> ctx = std::make_unique<PollContext>();
};

TEST_F(ConfigLoad, ReadsRawTextAndEchoesIt) {
  const std::string text = "28FF4A1B02170312;Kitchen;QV-S0\r\n  S01;Garage;800\n#x\n";
  testsupport::write_file(dir.file("kelvinlog-config.txt"), text);
  EXPECT_EQ(load(), "kelvinlog-config.txt:\n" + text + "EOF\n");
  EXPECT_EQ(std::string(ctx->config.data()), text);
}

TEST_F(ConfigLoad, ReloadReplacesTheWholeText) {
  testsupport::write_file(dir.file("kelvinlog-config.txt"), "S01;Garage;800\nS02;Attic;500\n");
  load();
  testsupport::write_file(dir.file("kelvinlog-config.txt"), "S01;x\n");
  load();
  EXPECT_STREQ(ctx->config.data(), "S01;x\n");
  for (std::size_t i = 6; i < 40; ++i) EXPECT_EQ(ctx->config[i], '\0') << i;
  testsupport::write_file(dir.file("kelvinlog-config.txt"), "");
  EXPECT_EQ(load(), "kelvinlog-config.txt:\nEOF\n");
  EXPECT_EQ(ctx->config[0], '\0');
}

TEST_F(ConfigLoad, LongFileIsCutAt100000) {
  std::string text(100000, 'a');
  for (std::size_t i = 99; i < text.size(); i += 100) text[i] = '\n';
  testsupport::write_file(dir.file("kelvinlog-config.txt"), text + "TAIL-NOT-READ\n");
  std::string out = load();
  EXPECT_EQ(std::strlen(ctx->config.data()), kConfigMax);
  EXPECT_EQ(ctx->config[kConfigMax], '\0');
  EXPECT_EQ(out, "kelvinlog-config.txt:\n" + text + "EOF\n");
}

TEST_F(ConfigLoad, NulInsideTheFileEndsTheText) {
  testsupport::write_file(dir.file("kelvinlog-config.txt"), std::string("S01;A;1\0S02;B;2\n", 16));
  EXPECT_EQ(load(), "kelvinlog-config.txt:\nS01;A;1EOF\n");
  EXPECT_STREQ(ctx->config.data(), "S01;A;1");
}

// The configuration may be a link, but what opens must be a regular file: a
// FIFO would block the load step for good, so it ends the process instead.
TEST_F(ConfigLoad, MustBeARegularFileButMayBeALink) {
  const std::string config = dir.file("kelvinlog-config.txt");
  const std::string elsewhere = dir.file("elsewhere");
  const struct {
    const char *what;
    int kind;           // 0 FIFO, 1 link to a FIFO, 2 link to a regular file, 3 directory
    const char *error;  // perror text; empty: loaded
  } cases[] = {
      {"fifo", 0, "No such device or address"},
      {"link to a fifo", 1, "No such device or address"},
      {"link to a regular file", 2, ""},
      {"directory", 3, "Is a directory"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(config.c_str());
    std::remove(elsewhere.c_str());
    rmdir(config.c_str());
    switch (c.kind) {
      case 0: ASSERT_EQ(mkfifo(config.c_str(), 0600), 0); break;
      case 1:
        ASSERT_EQ(mkfifo(elsewhere.c_str(), 0600), 0);
        ASSERT_EQ(symlink(elsewhere.c_str(), config.c_str()), 0);
        break;
      case 2:
        testsupport::write_file(elsewhere, "S01;Linked;800\n");
        ASSERT_EQ(symlink(elsewhere.c_str(), config.c_str()), 0);
        break;
      default: ASSERT_EQ(mkdir(config.c_str(), 0700), 0); break;
    }
    if (c.error[0] == '\0') {
      EXPECT_EQ(load(), "kelvinlog-config.txt:\nS01;Linked;800\nEOF\n");
      continue;
    }
    if (!testsupport::fork_works()) continue;  // forked children hang here (qemu-user)
    EXPECT_EXIT(
        {
          alarm(10);  // a load that blocks dies of SIGALRM, not with status 255
          load_config(ctx.get());
        },
        ::testing::ExitedWithCode(255), std::string("kelvinlog-config\\.txt: ") + c.error);
  }
}

TEST_F(ConfigLoad, MissingFileEndsTheProcess) {
  SKIP_UNLESS_FORK_WORKS();
  EXPECT_EXIT(load_config(ctx.get()), ::testing::ExitedWithCode(255),
              "kelvinlog-config\\.txt: No such file or directory");
}

TEST_F(ConfigLoad, ReadOnlyFileEndsTheProcess) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens read-only files for writing";
  testsupport::write_file(dir.file("kelvinlog-config.txt"), "S01;A;1\n");
  ASSERT_EQ(chmod(dir.file("kelvinlog-config.txt").c_str(), 0444), 0);
  EXPECT_EXIT(load_config(ctx.get()), ::testing::ExitedWithCode(255),
              "kelvinlog-config\\.txt: Permission denied");
}

}  // namespace
