// Adapter protocol: strtok-like splitting of answer lines and the command formats.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/poll_context.h"
#include "core/text.h"
#include "serial/protocol.h"

namespace {

using namespace core;
using namespace serial;

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { init_context(ctx_.get()); }
  void split(const std::string &text) {
    set_command(ctx_.get(), text.c_str());
    split_line(ctx_.get());
  }
  std::string line() const { return ctx_->line.data(); }
  std::unique_ptr<PollContext> ctx_ = std::make_unique<PollContext>();
};

TEST_F(ProtocolTest, SplitsTheFirstTwoFields) {
  const struct {
    const char *text;
    const char *rxa0;
    const char *rxa1;
  } cases[] = {
      {"7;o;28FF4A1B02170312\n", "7", "o"},
      {";;o;ABC", "o", "ABC"},
      {"$S0;123;456\n", "$S0", "123"},
      {"no separator\n", "no separator\n", ""},
      {"7;\n", "7", "\n"},
      {"7;;;", "7", ""},
      {"", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    ctx_->rxa[2] = ctx_->line.data();
    split(c.text);
    ASSERT_NE(ctx_->rxa[0], nullptr);
    ASSERT_NE(ctx_->rxa[1], nullptr);
    EXPECT_STREQ(ctx_->rxa[0], c.rxa0);
    EXPECT_STREQ(ctx_->rxa[1], c.rxa1);
    EXPECT_EQ(ctx_->rxa[2], nullptr);
  }
}

TEST_F(ProtocolTest, EnumerationAnswerKeepsItsLineFeedInTheThirdToken) {
  split("7;o;28FF4A1B02170312\n");
  char *third = next_token(ctx_.get(), ";");
  ASSERT_NE(third, nullptr);
  EXPECT_STREQ(third, "28FF4A1B02170312\n");
  EXPECT_EQ(next_token(ctx_.get(), ";"), nullptr);
  EXPECT_EQ(next_token(ctx_.get(), ";"), nullptr);
}

TEST_F(ProtocolTest, DataFrameRunsToTheLineFeedWithSemicolonsInside) {
  split("9;o;;50;05;4B\n");
  char *frame = next_token(ctx_.get(), "\n");
  ASSERT_NE(frame, nullptr);
  EXPECT_STREQ(frame, ";50;05;4B");
}

TEST_F(ProtocolTest, LineWithNothingAfterItsSecondField) {
  split("9;o");
  EXPECT_EQ(next_token(ctx_.get(), "\n"), nullptr);
  char *rest = line_rest(ctx_.get());
  EXPECT_STREQ(rest, "");
  EXPECT_GE(rest, ctx_->line.data());
  EXPECT_LT(rest, ctx_->line.data() + kLineSize);
}

TEST_F(ProtocolTest, PollCommandIsDecimalWithoutLeadingZeros) {
  const struct {
    unsigned idi;
    const char *text;
  } cases[] = {{7, "$7"}, {0, "$0"}, {63, "$63"}, {4294967295u, "$4294967295"}};
  for (const auto &c : cases) {
    format_poll(ctx_.get(), c.idi);
    EXPECT_EQ(line(), c.text);
  }
  format_poll(ctx_.get(), 5);
  append_command(ctx_.get(), ";11");
  append_command(ctx_.get(), "\n");
  EXPECT_EQ(line(), "$5;11\n");
}

TEST_F(ProtocolTest, AppendStopsAt255Characters) {
  set_command(ctx_.get(), std::string(250, 'c').c_str());
  append_command(ctx_.get(), ";1;05;42\n");
  EXPECT_EQ(line(), std::string(250, 'c') + ";1;05");
  append_command(ctx_.get(), "more");
  EXPECT_EQ(line().size(), 255u);
  EXPECT_EQ(ctx_->line[255], '\0');

  set_command(ctx_.get(), std::string(400, 'd').c_str());
  EXPECT_EQ(line(), std::string(255, 'd'));
}

}  // namespace
