// Command-line options, the guard decision, and the bounded copies of the arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "app/options.h"
#include "core/poll_context.h"
#include "support/param_name.h"

namespace {

using namespace app;
using core::kDirSize;

struct OptionCase {
  const char *what;
  std::vector<const char *> args;  // after the program name
  bool debug;
  bool mode;
  bool run_guard;
  bool complete;
};

Options parse(const std::vector<const char *> &args) {
  std::vector<const char *> argv{"kelvinlog"};
  argv.insert(argv.end(), args.begin(), args.end());
  return parse_options(static_cast<int>(argv.size()), argv.data());
}

TEST(ParseOptions, LettersAndGuardDecision) {
  const OptionCase cases[] = {
      {"no third argument", {"/dev/ttyUSB0", "/tmp/"}, false, false, true, true},
      {"-dl", {"/dev/ttyUSB0", "/tmp/", "-dl"}, true, true, true, true},
      {"-ld", {"/dev/ttyUSB0", "/tmp/", "-ld"}, true, true, true, true},
      {"-d-l", {"/dev/ttyUSB0", "/tmp/", "-d-l"}, true, true, true, true},
      {"-xd", {"/dev/ttyUSB0", "/tmp/", "-xd"}, true, false, true, true},
      {"--help holds an l", {"/dev/ttyUSB0", "/tmp/", "--help"}, false, true, true, true},
      {"-lm", {"/dev/ttyUSB0", "/tmp/", "-lm"}, false, true, false, true},
      {"-f", {"/dev/ttyUSB0", "/tmp/", "-f"}, false, false, false, true},
      {"-df", {"/dev/ttyUSB0", "/tmp/", "-df"}, true, false, false, true},
      {"-m", {"/dev/ttyUSB0", "/tmp/", "-m"}, false, false, false, true},
      {"debug without '-'", {"/dev/ttyUSB0", "/tmp/", "debug"}, false, false, false, true},
      {"empty third argument", {"/dev/ttyUSB0", "/tmp/", ""}, false, false, false, true},
      {"lone '-'", {"/dev/ttyUSB0", "/tmp/", "-"}, false, false, true, true},
      {"upper case does not count", {"/dev/ttyUSB0", "/tmp/", "-DLFM"}, false, false, true, true},
      {"fourth argument ignored", {"/dev/ttyUSB0", "/tmp/", "-d", "-f"}, true, false, true, true},
      {"only the serial device", {"/dev/ttyUSB0"}, false, false, false, false},
      {"no argument", {}, false, false, false, false},
  };
  for (const OptionCase &c : cases) {
    SCOPED_TRACE(c.what);
    Options o = parse(c.args);
    EXPECT_EQ(o.debug, c.debug);
    EXPECT_EQ(o.mode, c.mode);
    EXPECT_EQ(o.run_guard, c.run_guard);
    EXPECT_EQ(o.complete, c.complete);
  }
}

// --- letter q, and d over q ------------------------------------------------------

struct QuietCase {
  const char *name;
  const char *letters;  // third argument
  bool quiet;
  bool debug;
  bool run_guard;
};

const QuietCase kQuietCases[] = {
    {"q_alone", "-q", true, false, true},
    {"fq", "-fq", true, false, false},
    {"qf", "-qf", true, false, false},
    {"q_among_others", "-xqz", true, false, true},
    {"d_wins_over_q", "-qd", false, true, true},
    {"d_before_q", "-dfq", false, true, false},
    {"no_q", "-fl", false, false, false},
    {"upper_case_Q", "-fQ", false, false, false},
    {"q_without_dash", "q", false, false, false},
    {"quiet_spelled_out", "--quiet", true, false, true},
};

void PrintTo(const QuietCase &c, std::ostream *os) { *os << c.name; }

class QuietLetter : public ::testing::TestWithParam<QuietCase> {};

TEST_P(QuietLetter, SetsTheQuietFlagUnlessDebug) {
  const QuietCase &c = GetParam();
  Options o = parse({"/dev/ttyUSB0", "/tmp/", c.letters});
  EXPECT_EQ(o.quiet, c.quiet);
  EXPECT_EQ(o.debug, c.debug);
  EXPECT_EQ(o.run_guard, c.run_guard);
}

INSTANTIATE_TEST_SUITE_P(Table, QuietLetter, ::testing::ValuesIn(kQuietCases),
                         testsupport::CaseName());

TEST(QuietLetterAbsent, NoThirdArgumentIsNotQuiet) {
  EXPECT_FALSE(parse({"/dev/ttyUSB0", "/tmp/"}).quiet);
  EXPECT_FALSE(parse({}).quiet);
}

// --- --help and --version ----------------------------------------------------------

struct InfoCase {
  const char *name;
  std::vector<const char *> args;  // after the program name
  InfoRequest expected;
};

const InfoCase kInfoCases[] = {
    {"help", {"--help"}, InfoRequest::kHelp},
    {"version", {"--version"}, InfoRequest::kVersion},
    {"help_with_a_second_argument", {"--help", "/tmp/"}, InfoRequest::kNone},
    {"help_as_the_option_argument", {"/dev/ttyUSB0", "/tmp/", "--help"}, InfoRequest::kNone},
    {"version_as_the_option_argument", {"/dev/ttyUSB0", "/tmp/", "--version"},
     InfoRequest::kNone},
    {"single_dash_help", {"-help"}, InfoRequest::kNone},
    {"upper_case", {"--HELP"}, InfoRequest::kNone},
    {"help_with_a_tail", {"--help=all"}, InfoRequest::kNone},
    {"version_prefix", {"--vers"}, InfoRequest::kNone},
    {"a_device_alone", {"/dev/ttyUSB0"}, InfoRequest::kNone},
    {"no_argument", {}, InfoRequest::kNone},
};

void PrintTo(const InfoCase &c, std::ostream *os) { *os << c.name; }

class InfoArgument : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoArgument, OnlyAsTheOneAndOnlyArgument) {
  const InfoCase &c = GetParam();
  std::vector<const char *> argv{"kelvinlog"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  EXPECT_EQ(info_request(static_cast<int>(argv.size()), argv.data()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, InfoArgument, ::testing::ValuesIn(kInfoCases),
                         testsupport::CaseName());

TEST(NormaliseOutdir, AlwaysEndsInOneAddedSlash) {
  const std::string a300(300, 'a');
  const std::string slash_at_253 = std::string(252, 'a') + "/" + std::string(47, 'b');
  const struct {
    std::string arg;
    std::string expected;
  } cases[] = {
      {"/tmp", "/tmp/"},
      {"/tmp/", "/tmp/"},
      {"/tmp//", "/tmp//"},
      {"out", "out/"},
      {"", "/"},
      {a300, std::string(253, 'a') + "/"},
      {slash_at_253, std::string(252, 'a') + "/"},
      {std::string(253, 'c'), std::string(253, 'c') + "/"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arg.substr(0, 20) + "... (" + std::to_string(c.arg.size()) + " chars)");
    char outdir[kDirSize];
    std::memset(outdir, 'Z', sizeof outdir);
    normalise_outdir(outdir, sizeof outdir, c.arg.c_str());
    EXPECT_EQ(std::string(outdir), c.expected);
  }
}

}  // namespace
