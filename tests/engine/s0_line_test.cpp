// Tests of the S0 line: configured names and rates, table entries, value files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "engine/s0_line.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "serial/protocol.h"
#include "support/param_name.h"
#include "support/test_support.h"

namespace {

using namespace core;
using engine::handle_s0_line;
using serial::split_line;

class S0Line : public ::testing::Test {
 protected:
  // Three entries already found; `config` is the configuration text.
  void prepare(const std::string &config) {
    testsupport::prepare_context(ctx.get(), dir.path(), -1, config);
    ctx->state = STATE_ENUMERATE;
    for (const char *id : {"28AAAAAAAAAAAAA1", "28BBBBBBBBBBBBB2", "10CCCCCCCCCCCCC3"}) {
      copy_bounded(ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data(), kIdSize, id, kIdMax);
      ++ctx->idi;
    }
    ctx->idmax = ctx->idi;
    ctx->rxz = 321;
  }
  void receive(const std::string &line) {
    copy_bounded(ctx->line.data(), kLineSize, line.c_str(), kLineSize - 1);
    split_line(ctx.get());
    handle_s0_line(ctx.get());
  }
  std::string out(const std::string &name) const { return testsupport::read_file(dir.file(name)); }

  testsupport::TempDir dir;
  std::unique_ptr<PollContext> ctx = std::make_unique<PollContext>();
};

TEST_F(S0Line, DefaultsWithoutConfiguration) {
  prepare("28AAAAAAAAAAAAA1;Kitchen\n");
  receive("$S0;1234;5678\n");
  EXPECT_STREQ(ctx->table.ids[2].data(), "10CCCCCCCCCCCCC3");
  EXPECT_STREQ(ctx->table.ids[3].data(), "S01");
  EXPECT_STREQ(ctx->table.ids[4].data(), "S02");
  EXPECT_EQ(ctx->idi, 5);
  EXPECT_EQ(ctx->idmax, 5);
  EXPECT_EQ(ctx->rxz, 0);
  EXPECT_EQ(out("S01v.txt"), "1234\n");
  EXPECT_EQ(out("S02v.txt"), "5678\n");
  EXPECT_STREQ(ctx->s0_names[0].data(), "S01");
  EXPECT_STREQ(ctx->s0_names[1].data(), "S02");
}

struct ChannelCase {
  const char *name;
  const char *config;
  const char *file1;  // S01 value file and its content for the count 1001
  const char *value1;
  const char *file2;  // S02 value file and its content for the count 4000
  const char *value2;
};

void PrintTo(const ChannelCase &c, std::ostream *os) { *os << c.name; }

const ChannelCase kChannelCases[] = {
    {"name and rate", "S01;Garage;800\n", "Garagev.txt", "1251\n", "S02v.txt", "4000\n"},
    {"empty rate", "S01;Garage;\n", "Garagev.txt", "1001\n", "S02v.txt", "4000\n"},
    {"missing rate", "S01;Garage\n", "Garagev.txt", "1001\n", "S02v.txt", "4000\n"},
    {"empty name", "S01;;800\n", "S01v.txt", "1251\n", "S02v.txt", "4000\n"},
    {"blank in the name", "S01;My Garage;800\n", "Myv.txt", "1001\n", "S02v.txt", "4000\n"},
    {"rate 0", "S01;Garage;0\n", "Garagev.txt", "1001\n", "S02v.txt", "4000\n"},
    {"negative rate", "S01;Garage;-800\n", "Garagev.txt", "1001\n", "S02v.txt", "4000\n"},
    {"rate without digits", "S01;Garage;abc\n", "Garagev.txt", "1001\n", "S02v.txt", "4000\n"},
    {"rate with a plus sign", "S01;Garage;+800\n", "Garagev.txt", "1251\n", "S02v.txt", "4000\n"},
    {"largest rate", "S01;Garage;2147483647\n", "Garagev.txt", "0\n", "S02v.txt", "4000\n"},
    {"rate past the largest", "S01;Garage;2147483648\n", "Garagev.txt", "1001\n", "S02v.txt",
     "4000\n"},
    {"both channels", "S01;Garage;2000\nS02;Attic;500\n", "Garagev.txt", "500\n", "Atticv.txt",
     "8000\n"},
    {"only S02 configured", "S02;Attic;2500\n", "S01v.txt", "1001\n", "Atticv.txt", "1600\n"},
    {"name cut to 19", "S01;ABCDEFGHIJKLMNOPQRSTUVWXYZ;1000\n", "ABCDEFGHIJKLMNOPQRSv.txt",
     "1001\n", "S02v.txt", "4000\n"},
    {"S01 inside a device line", "28FF4A1B02170312;PS01;2000\nS01;Garage;800\n", "PS01v.txt",
     "500\n", "S02v.txt", "4000\n"},
};

class S0Channels : public S0Line, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(S0Channels, NamesRatesAndFiles) {
  const ChannelCase &c = GetParam();
  prepare(c.config);
  receive("$S0;1001;4000\n");
  EXPECT_EQ(out(c.file1), c.value1) << c.name;
  EXPECT_EQ(out(c.file2), c.value2) << c.name;
  EXPECT_STREQ(ctx->table.ids[3].data(), "S01") << c.name;
  EXPECT_STREQ(ctx->table.ids[4].data(), "S02") << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, S0Channels, ::testing::ValuesIn(kChannelCases),
                         testsupport::CaseName());

// The adapter's counters are 32 bits wide: every count up to the largest
// reaches the value files whole, scaled in 64 bits.
struct CountCase {
  const char *name;
  const char *config;
  const char *line;
  const char *file1;  // S01 value file and its content
  const char *value1;
  const char *file2;  // S02 value file and its content
  const char *value2;
};

void PrintTo(const CountCase &c, std::ostream *os) { *os << c.name; }

const CountCase kCountCases[] = {
    {"leading_zeros", "", "$S0;0042;0007\n", "S01v.txt", "42\n", "S02v.txt", "7\n"},
    {"past_16_bits", "", "$S0;70000;65536\n", "S01v.txt", "70000\n", "S02v.txt", "65536\n"},
    {"largest_counts", "", "$S0;4294967295;4294967295\n", "S01v.txt", "4294967295\n",
     "S02v.txt", "4294967295\n"},
    {"largest_counts_scaled", "S01;Heat;800\nS02;Cold;2000\n", "$S0;4294967295;4294967295\n",
     "Heatv.txt", "5368709118\n", "Coldv.txt", "2147483647\n"},
};

class S0Counts : public S0Line, public ::testing::WithParamInterface<CountCase> {};

TEST_P(S0Counts, ReachTheValueFilesWhole) {
  const CountCase &c = GetParam();
  prepare(c.config);
  receive(c.line);
  EXPECT_EQ(out(c.file1), c.value1);
  EXPECT_EQ(out(c.file2), c.value2);
}

INSTANTIATE_TEST_SUITE_P(Cases, S0Counts, ::testing::ValuesIn(kCountCases),
                         testsupport::CaseName());

TEST_F(S0Line, MissingThirdFieldLeavesTheS02FileUntouched) {
  prepare("");
  testsupport::write_file(dir.file("S02v.txt"), "old\n");
  receive("$S0;1234\n");
  EXPECT_EQ(out("S01v.txt"), "1234\n");
  EXPECT_EQ(out("S02v.txt"), "old\n");
  EXPECT_STREQ(ctx->table.ids[4].data(), "S02");
  EXPECT_EQ(ctx->idi, 5);
  EXPECT_EQ(ctx->rxz, 0);
}

// A name is a file-name stem in the output directory: one with a '/' would
// reach into another directory, and one that is the other channel's stem
// would make both write one file, so the key stands instead; the rate still counts.
TEST_F(S0Line, NameWithASlashOrTheOtherChannelsFileFallsBackToTheKey) {
  const struct {
    const char *config;
    const char *status;  // printed for this S0 line
    const char *stem1;
    const char *stem2;
  } cases[] = {
      {"S01;../up;800\nS02;Heat/pump;500\n",
       "S0 name \"../up\" of S01 refused as a file name, the key is used instead\n"
       "S0 name \"Heat/pump\" of S02 refused as a file name, the key is used instead\n",
       "S01", "S02"},
      {"S01;/;800\nS02;Attic;500\n",
       "S0 name \"/\" of S01 refused as a file name, the key is used instead\n", "S01", "Attic"},
      // The slash lies beyond the 19 characters kept.
      {"S01;ABCDEFGHIJKLMNOPQRS/up;800\nS02;;500\n", "", "ABCDEFGHIJKLMNOPQRS", "S02"},
      {"S01;Garage;800\nS02;Garage;500\n",
       "S0 name \"Garage\" of S02 refused as a file name, it clashes with the files of S01, the "
       "key is used instead\n",
       "Garage", "S02"},
      {"S02;;500\nS01;S02;800\n",  // S02's line first, where its key is looked for
       "S0 name \"S02\" of S01 refused as a file name, it clashes with the files of S02, the key "
       "is used instead\n",
       "S01", "S02"},
      {"S01;;800\nS02;S01;500\n",
       "S0 name \"S01\" of S02 refused as a file name, it clashes with the files of S01, the key "
       "is used instead\n",
       "S01", "S02"},
      // Cut to 19 characters, both names are one.
      {"S01;ABCDEFGHIJKLMNOPQRS1;800\nS02;ABCDEFGHIJKLMNOPQRS2;500\n",
       "S0 name \"ABCDEFGHIJKLMNOPQRS2\" of S02 refused as a file name, it clashes with the "
       "files of S01, the key is used instead\n",
       "ABCDEFGHIJKLMNOPQRS", "S02"},
  };
  // The output directory lies one below the test's own, which catches a "../".
  const std::string outdir = dir.file("out");
  ASSERT_EQ(mkdir(outdir.c_str(), 0700), 0);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.config);
    prepare(c.config);
    copy_bounded(ctx->outdir.data(), kDirSize, (outdir + "/").c_str(), kDirSize - 1);
    testsupport::start_stdout_capture();
    receive("$S0;1001;4000\n");
    EXPECT_EQ(testsupport::captured_stdout(), c.status);
    EXPECT_STREQ(ctx->s0_names[0].data(), c.stem1);
    EXPECT_STREQ(ctx->s0_names[1].data(), c.stem2);
    EXPECT_EQ(out("out/" + std::string(c.stem1) + "v.txt"), "1251\n");
    EXPECT_EQ(out("out/" + std::string(c.stem2) + "v.txt"), "8000\n");
  }
  EXPECT_FALSE(testsupport::path_exists(dir.file("upv.txt")));
}

TEST_F(S0Line, UnwritableOutputDirectoryEndsTheProcess) {
  SKIP_UNLESS_FORK_WORKS();
  prepare("");
  const std::string missing = dir.file("missing");
  copy_bounded(ctx->outdir.data(), kDirSize, (missing + "/").c_str(), kDirSize - 1);
  EXPECT_EXIT(receive("$S0;1;2\n"), ::testing::ExitedWithCode(255),
              missing + "/S01v\\.txt: No such file or directory");
}

}  // namespace
