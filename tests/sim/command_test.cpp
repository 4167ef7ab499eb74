// Command parsing, log escaping and line splitting of the adapter stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_command.h"
#include "sim_options.h"

namespace adaptersim {
namespace {

TEST(SimCommand, Classifies) {
  struct Case {
    std::string line;
    CommandKind kind;
    std::uint32_t index;
    PollAction action;
    const char *config;
  };
  const Case cases[] = {
      {"$?", CommandKind::kSearch, 0, PollAction::kPlain, ""},
      {"$res", CommandKind::kReset, 0, PollAction::kPlain, ""},
      {"$L+", CommandKind::kLedOn, 0, PollAction::kPlain, ""},
      {"$L-", CommandKind::kLedOff, 0, PollAction::kPlain, ""},
      {"", CommandKind::kEmpty, 0, PollAction::kPlain, ""},
      {"\r", CommandKind::kEmpty, 0, PollAction::kPlain, ""},
      {"$5", CommandKind::kPoll, 5, PollAction::kPlain, ""},
      {"$?\r", CommandKind::kSearch, 0, PollAction::kPlain, ""},
      {"$63", CommandKind::kPoll, 63, PollAction::kPlain, ""},
      {"$5;11", CommandKind::kPoll, 5, PollAction::kOutputOn, ""},
      {"$5;33", CommandKind::kPoll, 5, PollAction::kOutputOn, ""},
      {"$5;00", CommandKind::kPoll, 5, PollAction::kOutputOff, ""},
      {"$5;22", CommandKind::kPoll, 5, PollAction::kOutputOff, ""},
      {"$5;1;05;42", CommandKind::kPoll, 5, PollAction::kConfigWrite, "1;05;42"},
      {"$0;0;ab;cd", CommandKind::kPoll, 0, PollAction::kConfigWrite, "0;ab;cd"},
      {"$999999999", CommandKind::kPoll, 999999999, PollAction::kPlain, ""},
      {"$1234567890", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$5;1", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$5;12", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$5;1;05;420", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$5x", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$-1", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$??", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"5", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {" $?", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
      {"$RES", CommandKind::kUnknown, 0, PollAction::kPlain, ""},
  };
  for (const Case &c : cases) {
    const Command cmd = parse_command(c.line);
    EXPECT_EQ(cmd.kind, c.kind) << c.line;
    if (c.kind != CommandKind::kPoll) continue;
    EXPECT_EQ(cmd.index, c.index) << c.line;
    EXPECT_EQ(cmd.action, c.action) << c.line;
    EXPECT_STREQ(cmd.config.data(), c.config) << c.line;
  }
}

std::string escaped(std::string_view in, std::size_t cap = kEscapedCommandCap) {
  std::vector<char> out(cap);
  const std::size_t n = escape_bytes(in, out.data(), out.size());
  EXPECT_EQ(n, std::string(out.data()).size());
  return out.data();
}

TEST(SimCommand, EscapesForTheLog) {
  EXPECT_EQ(escaped("$5;1;05;42"), "$5;1;05;42");
  EXPECT_EQ(escaped(""), "");
  EXPECT_EQ(escaped("a\\b"), "a\\\\b");
  EXPECT_EQ(escaped(std::string_view("\x00\x01\r\x7F\x80\xFF", 6)), "\\x00\\x01\\x0D\\x7F\\x80\\xFF");
  EXPECT_EQ(escaped("~ "), "~ ");
}

TEST(SimCommand, EscapeNeverWritesAPartialEscape) {
  EXPECT_EQ(escaped("ab\x01", 5), "ab");     // "\x01" needs 4 more
  EXPECT_EQ(escaped("ab\\", 4), "ab");       // "\\" needs 2 more
  EXPECT_EQ(escaped("abc", 3), "ab");
  // Worst case of a full command fits the declared capacity.
  const std::string all_high(kMaxCommandLen, '\x90');
  EXPECT_EQ(escaped(all_high).size(), 4 * kMaxCommandLen);
}

TEST(SimCommand, SplitterCutsAtLineFeedsAcrossReads) {
  LineSplitter s;
  std::vector<std::string> lines;
  auto feed = [&](std::string_view bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
      off += s.push(bytes.data() + off, bytes.size() - off);
      if (s.has_line()) {
        lines.emplace_back(s.line());
        s.clear_line();
      }
    }
  };
  feed("$?\n\n$4");
  feed(";11\n$");
  feed("res\n");
  EXPECT_EQ(lines, (std::vector<std::string>{"$?", "", "$4;11", "$res"}));
}

TEST(SimCommand, SplitterBoundsOverlongCommands) {
  LineSplitter s;
  const std::string big(kMaxCommandLen + 100, 'x');
  const std::string bytes = big + "\n$?\n";
  std::size_t used = s.push(bytes.data(), bytes.size());
  ASSERT_TRUE(s.has_line());
  EXPECT_EQ(used, big.size() + 1);
  EXPECT_EQ(s.line().size(), kMaxCommandLen);
  EXPECT_EQ(s.dropped(), 100u);
  s.clear_line();
  used += s.push(bytes.data() + used, bytes.size() - used);
  ASSERT_TRUE(s.has_line());
  EXPECT_EQ(s.line(), "$?");
  EXPECT_EQ(s.dropped(), 0u);
}

OptionsResult parse(std::vector<const char *> args, Options &o, std::string *error = nullptr) {
  args.insert(args.begin(), "adapter-sim");
  char err[256] = {};
  const OptionsResult r = parse_options(static_cast<int>(args.size()),
                                        const_cast<char *const *>(args.data()), o, err, sizeof err);
  if (error != nullptr) *error = err;
  return r;
}

TEST(SimOptions, ParsesEveryOption) {
  Options o{};
  ASSERT_EQ(parse({"--link", "/tmp/x", "--scenario=s.txt", "--log", "l.txt", "--verbose",
                   "--seed", "7", "--retry-rate", "0.5", "--bad-crc-rate=1", "--garbage-rate",
                   "0.25", "--long-rate", "0", "--missing-rate", ".5", "--delay-ms", "30",
                   "--stop-after", "10", "--exit-after", "12", "--extra-devices", "3"},
                  o),
            OptionsResult::kRun);
  EXPECT_STREQ(o.link, "/tmp/x");
  EXPECT_STREQ(o.scenario, "s.txt");
  EXPECT_STREQ(o.log, "l.txt");
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.adapter.seed, 7u);
  EXPECT_DOUBLE_EQ(o.adapter.rates.retry, 0.5);
  EXPECT_DOUBLE_EQ(o.adapter.rates.bad_crc, 1.0);
  EXPECT_DOUBLE_EQ(o.adapter.rates.garbage, 0.25);
  EXPECT_DOUBLE_EQ(o.adapter.rates.long_line, 0.0);
  EXPECT_DOUBLE_EQ(o.adapter.rates.missing, 0.5);
  EXPECT_EQ(o.delay_ms, 30u);
  EXPECT_EQ(o.adapter.stop_after, 10u);
  EXPECT_EQ(o.adapter.exit_after, 12u);
  EXPECT_EQ(o.extra_devices, 3u);
}

TEST(SimOptions, DefaultsAndHelp) {
  Options o{};
  EXPECT_EQ(parse({}, o), OptionsResult::kRun);
  EXPECT_STREQ(o.link, kDefaultLink);
  EXPECT_EQ(o.scenario, nullptr);
  EXPECT_EQ(o.adapter.seed, 1u);
  EXPECT_EQ(o.adapter.stop_after, kNoLimit);
  EXPECT_EQ(parse({"--seed", "3", "--help"}, o), OptionsResult::kHelp);
  EXPECT_NE(usage_text().find("--missing-rate"), std::string_view::npos);
}

TEST(SimOptions, RejectsBadInput) {
  const std::vector<std::vector<const char *>> bad = {
      {"--bogus"},           {"--retry-rate", "1.5"}, {"--retry-rate", "-0.1"},
      {"--retry-rate", "x"}, {"--seed"},              {"--seed", "-1"},
      {"--delay-ms", "60001"}, {"--extra-devices", "201"}, {"--verbose=1"},
      {"--link", ""},        {"positional"},          {"--stop-after", "1e3"},
  };
  for (const auto &args : bad) {
    Options o{};
    std::string error;
    EXPECT_EQ(parse(args, o, &error), OptionsResult::kError) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

}  // namespace
}  // namespace adaptersim
