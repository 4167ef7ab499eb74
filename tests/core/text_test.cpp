// Tests of the byte-string helpers: bounded copy, character classes, number parsing.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <string>

#include "core/poll_context.h"
#include "core/text.h"
#include "support/param_name.h"

namespace {

using namespace core;

TEST(CopyBounded, NeverWritesPastTheBufferAndAlwaysTerminates) {
  char buf[12];
  const auto reset = [&buf] { std::memset(buf, '#', sizeof buf); };

  reset();  // source longer than the 8-byte destination
  EXPECT_EQ(copy_bounded(buf, 8, "0123456789", 100), 7u);
  EXPECT_STREQ(buf, "0123456");
  EXPECT_EQ(buf[8], '#');

  reset();  // `max` below the buffer size
  EXPECT_EQ(copy_bounded(buf, 8, "0123456789", 3), 3u);
  EXPECT_STREQ(buf, "012");

  reset();  // short source
  EXPECT_EQ(copy_bounded(buf, 8, "ab", 100), 2u);
  EXPECT_STREQ(buf, "ab");

  reset();  // no room at all: nothing written
  EXPECT_EQ(copy_bounded(buf, 0, "ab", 100), 0u);
  EXPECT_EQ(buf[0], '#');

  reset();  // room for the NUL only
  EXPECT_EQ(copy_bounded(buf, 1, "ab", 100), 0u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], '#');
}

TEST(CopyBounded, SerialPathKeepsAtMost254Characters) {
  const std::string device = "/dev/" + std::string(295, 'x');
  char path[kDirSize];
  EXPECT_EQ(copy_bounded(path, sizeof path, device.c_str(), kSerialPathMax), 254u);
  EXPECT_EQ(std::string(path), device.substr(0, 254));
}

// --- character classes: bytes compare as signed 8-bit values ------------------------

struct ClassCase {
  const char *name;
  char c;
  bool control;  // is_control
  bool word;     // is_word_char
};

void PrintTo(const ClassCase &c, std::ostream *os) { *os << c.name; }

const ClassCase kClassCases[] = {
    {"nul", '\0', true, false},
    {"line_feed", '\n', true, false},
    {"carriage_return", '\r', true, false},
    {"unit_separator_1F", '\x1F', true, false},
    {"blank_20", ' ', false, false},
    {"bang_21", '!', false, true},
    {"semicolon", ';', false, true},
    {"letter", 'a', false, true},
    {"tilde_7E", '~', false, true},
    {"delete_7F", '\x7F', false, true},
    {"byte_80", '\x80', true, false},
    {"byte_C3", '\xC3', true, false},
    {"byte_FF", '\xFF', true, false},
};

class CharacterClass : public ::testing::TestWithParam<ClassCase> {};

TEST_P(CharacterClass, ControlAndWordCharacters) {
  const ClassCase &c = GetParam();
  EXPECT_EQ(is_control(c.c), c.control);
  EXPECT_EQ(is_word_char(c.c), c.word);
}

INSTANTIATE_TEST_SUITE_P(Bytes, CharacterClass, ::testing::ValuesIn(kClassCases),
                         testsupport::CaseName());

// --- numbers in the manner of atol, clamped ------------------------------------------

struct NumberCase {
  const char *name;
  const char *text;
  long long value;
};

void PrintTo(const NumberCase &c, std::ostream *os) { *os << c.name; }

const NumberCase kNumberCases[] = {
    {"plain", "800", 800},
    {"leading_zeros", "0042", 42},
    {"leading_blanks_and_tab", " \t 12", 12},
    {"line_end_ends_it", "1234\n", 1234},
    {"plus", "+7", 7},
    {"minus", "-800", -800},
    {"sign_alone", "-", 0},
    {"blank_after_sign", "- 5", 0},
    {"letters", "abc", 0},
    {"digits_then_letters", "12ab3", 12},
    {"empty", "", 0},
    {"largest_32_bit", "4294967295", 4294967295LL},
    {"beyond_32_bits", "4294967296", 4294967296LL},
    {"largest", "9223372036854775807", LLONG_MAX},
    {"one_past_largest", "9223372036854775808", LLONG_MAX},
    {"last_digit_9_past_largest", "9223372036854775809", LLONG_MAX},
    {"one_below_largest", "9223372036854775806", LLONG_MAX - 1},
    {"too_large_is_clamped", "99999999999999999999999", LLONG_MAX},
    {"too_small_is_clamped", "-99999999999999999999999", -LLONG_MAX},
};

class ParseLong : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseLong, ReadsLikeAtolAndClamps) {
  const NumberCase &c = GetParam();
  EXPECT_EQ(parse_long(c.text), c.value) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseLong, ::testing::ValuesIn(kNumberCases),
                         testsupport::CaseName());

}  // namespace
