// Tests of the name, model and field lookups in the raw configuration text.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "config/lookup.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "support/test_support.h"

namespace {

using namespace config;
using namespace core;
using testsupport::capture_stdout;

constexpr const char *kId = "28FF4A1B02170312";

// The text in a buffer of exactly its size, so that a read past its NUL is an
// out-of-bounds access under AddressSanitizer.
std::vector<char> exact(const std::string &text) {
  std::vector<char> buf(text.size() + 1);
  std::memcpy(buf.data(), text.c_str(), text.size() + 1);
  return buf;
}

struct NameModelCase {
  const char *name;
  std::string config;
  const char *found;  // the name found; nullptr: no name
  const char *model;  // "" : no model
};

void PrintTo(const NameModelCase &c, std::ostream *os) { *os << c.name; }

// Each row pins the name rule and the model rule on the same configuration.
const NameModelCase kNameModelCases[] = {
    {"name and model", std::string(kId) + ";Kitchen;QV-S0\n", "Kitchen", "QV-S0"},
    {"CR LF line end", std::string(kId) + ";Kitchen;QV-S0\r\n", "Kitchen", "QV-S0"},
    {"name only", std::string(kId) + ";Kitchen\n", "Kitchen", ""},
    {"name is the model", std::string(kId) + ";QV-H\n", "QV-H", "QV-H"},
    {"empty name", std::string(kId) + ";;QV-S0\n", nullptr, "QV-S0"},
    {"blank after the id", std::string(kId) + " ;Kitchen\n", nullptr, ""},
    {"model of 3 characters", std::string(kId) + ";Kitchen;QV-\n", "Kitchen", ""},
    {"model of 4 characters", std::string(kId) + ";Kitchen;QV-X\n", "Kitchen", "QV-X"},
    {"'#' after the id", std::string(kId) + ";Kitchen;QV-S0 #spare\n", "Kitchen", ""},
    {"trailing blanks kept", std::string(kId) + ";Kitchen;QV-S0  \n", "Kitchen", "QV-S0  "},
    {"field between name and model", std::string(kId) + ";Boiler;spare;QV-S0\n", "Boiler",
     "QV-S0"},
    {"leading blank in the name", std::string(kId) + "; Boiler room;QV-HTX\n", " Boiler room",
     "QV-HTX"},
    {"'#' before the id counts", "#" + std::string(kId) + ";Old;QV-S0\n" + kId + ";New;QV-H\n",
     "Old", "QV-S0"},
    {"byte 0x80-0xFF ends name and line",
     std::string(kId) + ";K\xC3\xBC" "che;QV-S0\n", "K", ""},
    {"model at the end of the text", std::string(kId) + ";Kitchen;QV-S0", "Kitchen", "QV-S0"},
    {"first occurrence inside another line",
     "Alias;" + std::string(kId) + "\n" + kId + ";Kitchen;QV-S0\n", nullptr, ""},
    {"id not present", "S01;Garage;800\n", nullptr, ""},
    {"empty configuration", "", nullptr, ""},
};

class LookupNameModel : public ::testing::TestWithParam<NameModelCase> {};

TEST_P(LookupNameModel, NameAndModelFromTheFirstOccurrence) {
  const NameModelCase &c = GetParam();
  std::vector<char> text = exact(c.config);
  char name[kIdSize];
  std::memset(name, 'x', sizeof name);
  NameResult r = lookup_name(text.data(), kId, name, sizeof name, false);
  if (c.found == nullptr) {
    EXPECT_NE(r, NameResult::kFound);
    EXPECT_STREQ(name, "");
  } else {
    EXPECT_EQ(r, NameResult::kFound);
    EXPECT_STREQ(name, c.found);
  }

  auto ctx = std::make_unique<PollContext>();
  testsupport::prepare_context(ctx.get(), "/tmp", -1, c.config);
  copy_bounded(ctx->qvm.data(), kQvmSize, "stale", kQvmSize - 1);
  lookup_model(ctx.get(), kId);
  EXPECT_STREQ(ctx->qvm.data(), c.model);
}

INSTANTIATE_TEST_SUITE_P(Table, LookupNameModel, ::testing::ValuesIn(kNameModelCases),
                         testsupport::CaseName());

TEST(LookupName, IdAsTheLastCharactersOfTheText) {
  char name[kIdSize];
  std::vector<char> text = exact(std::string("x;") + kId);
  EXPECT_EQ(lookup_name(text.data(), kId, name, sizeof name, false), NameResult::kNoName);
  text = exact(std::string(kId) + ";");
  EXPECT_EQ(lookup_name(text.data(), kId, name, sizeof name, false), NameResult::kNoName);
  text = exact(std::string(kId) + ";N");
  EXPECT_EQ(lookup_name(text.data(), kId, name, sizeof name, false), NameResult::kFound);
  EXPECT_STREQ(name, "N");
}

TEST(LookupName, S0EntryLooksSixteenCharactersPastTheKey) {
  char name[kIdSize];
  // 16 characters after "S01" is past the end of this short line.
  std::vector<char> text = exact("S01;Garage;800\n");
  EXPECT_EQ(lookup_name(text.data(), "S01", name, sizeof name, false), NameResult::kNoName);
  // Only a ';' exactly 16 characters after the key's start opens a name.
  text = exact("S01_padding_____;Garage\n");
  EXPECT_EQ(lookup_name(text.data(), "S01", name, sizeof name, false), NameResult::kFound);
  EXPECT_STREQ(name, "Garage");
}

TEST(LookupName, LongNameCutTo16ButEchoedWholeUnderDebug) {
  std::string config = std::string(kId) + ";ABCDEFGHIJKLMNOPQRST;QV-S0\n";
  std::vector<char> text = exact(config);
  char name[kIdSize];
  NameResult r = NameResult::kAbsent;
  const std::string out =
      capture_stdout([&] { r = lookup_name(text.data(), kId, name, sizeof name, true); });
  EXPECT_EQ(r, NameResult::kFound);
  EXPECT_STREQ(name, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(out, "mpos=16,epos=16,putchar:\nABCDEFGHIJKLMNOPQRST");

  // The cut is the name rule's, not the buffer's: a larger buffer keeps 16 too.
  char wide[64];
  EXPECT_EQ(lookup_name(text.data(), kId, wide, sizeof wide, false), NameResult::kFound);
  EXPECT_STREQ(wide, "ABCDEFGHIJKLMNOP");
}

// The cut to 16 characters is the name rule's own, whatever the caller's
// buffer; a smaller buffer cuts further, and nothing past it is written.
struct NameBufferCase {
  const char *name;
  std::size_t size;  // bytes of the caller's buffer
  const char *expected;
};

void PrintTo(const NameBufferCase &c, std::ostream *os) { *os << c.name; }

const NameBufferCase kNameBufferCases[] = {
    {"larger_than_a_name", 64, "ABCDEFGHIJKLMNOP"},
    {"exactly_a_name", kIdSize, "ABCDEFGHIJKLMNOP"},
    {"five_bytes", 5, "ABCD"},
    {"one_byte", 1, ""},
};

class LookupNameBuffer : public ::testing::TestWithParam<NameBufferCase> {};

TEST_P(LookupNameBuffer, CutTo16AndToTheCallersBuffer) {
  const NameBufferCase &c = GetParam();
  std::vector<char> text = exact(std::string(kId) + ";ABCDEFGHIJKLMNOPQRST;QV-S0\n");
  constexpr std::size_t kGuard = 8;
  std::vector<char> name(c.size + kGuard, 'x');
  EXPECT_EQ(lookup_name(text.data(), kId, name.data(), c.size, false), NameResult::kFound);
  EXPECT_STREQ(name.data(), c.expected);
  EXPECT_EQ(std::string(name.data() + c.size, kGuard), std::string(kGuard, 'x'));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LookupNameBuffer, ::testing::ValuesIn(kNameBufferCases),
                         testsupport::CaseName());

class LookupModel : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::prepare_context(ctx.get(), "/tmp", -1); }
  void set_config(const std::string &text) {
    copy_bounded(ctx->config.data(), kConfigSize, text.c_str(), kConfigMax);
  }
  std::unique_ptr<PollContext> ctx = std::make_unique<PollContext>();
};

TEST_F(LookupModel, ShorterModelLeavesNoRemnantOfTheLongerOne) {
  set_config("28AAAAAAAAAAAAA1;Heat;QV-DK-S0\n28BBBBBBBBBBBBB2;Cold;QV-S0\n");
  lookup_model(ctx.get(), "28AAAAAAAAAAAAA1");
  EXPECT_STREQ(ctx->qvm.data(), "QV-DK-S0");
  lookup_model(ctx.get(), "28BBBBBBBBBBBBB2");
  EXPECT_STREQ(ctx->qvm.data(), "QV-S0");
}

TEST_F(LookupModel, ModelLongerThan35IsCut) {
  const std::string model = "QV-" + std::string(40, 'M');
  set_config(std::string(kId) + ";Long;" + model + "\n");
  lookup_model(ctx.get(), kId);
  EXPECT_EQ(std::string(ctx->qvm.data()), model.substr(0, 35));
}

TEST(LookupModelIn, CutToTheCallersBufferAndNeverWritesPastIt) {
  std::vector<char> text = exact(std::string(kId) + ";Heat;QV-DK-S0\n");
  std::array<char, 8> buf;
  buf.fill('x');
  lookup_model_in(text.data(), kId, buf.data(), 6, false);
  EXPECT_STREQ(buf.data(), "QV-DK");
  EXPECT_EQ(buf[6], 'x');
  lookup_model_in(text.data(), kId, buf.data(), 0, false);  // no room: untouched
  EXPECT_STREQ(buf.data(), "QV-DK");
  lookup_model_in(text.data(), "28FFFFFFFFFFFFFF", buf.data(), buf.size(), false);
  EXPECT_STREQ(buf.data(), "");
}

TEST_F(LookupModel, S0EntryGetsNoModel) {
  set_config("S01;Garage;800\n");
  lookup_model(ctx.get(), "S01");
  EXPECT_STREQ(ctx->qvm.data(), "");
}

TEST_F(LookupModel, DebugTrace) {
  set_config(std::string(kId) + ";Kitchen;QV-S0\nnext\n");
  ctx->debug = 1;
  const std::string out = capture_stdout([this] { lookup_model(ctx.get(), kId); });
  std::string stack = "stack=" + std::string(ctx->config.data()) + ",needle=" + kId + ",spop=";
  EXPECT_EQ(out.compare(0, stack.size(), stack), 0) << out;
  std::string rest = std::string("mpos=0,epos=0,putchar:\n") + kId +
                     ";Kitchen;QV-S0\nmpos=24,epos=30,;QV-S0\nnext\n\nqvm=QV-S0:";
  ASSERT_GE(out.size(), rest.size());
  EXPECT_EQ(out.substr(out.size() - rest.size()), rest);
  // The stack line ends with the occurrence's position in the text.
  EXPECT_NE(out.find(",0\nmpos=0,"), std::string::npos) << out;
}

struct FieldCase {
  const char *name;
  std::string config;
  int n;
  const char *expected;
};

void PrintTo(const FieldCase &c, std::ostream *os) { *os << c.name; }

const FieldCase kFieldCases[] = {
    {"key word", "S01;Garage;800\n", 0, "S01"},
    {"name", "S01;Garage;800\n", 1, "Garage"},
    {"rate", "S01;Garage;800\n", 2, "800"},
    {"rate missing", "S01;Garage\n", 2, ""},
    {"empty name", "S01;;800\n", 1, ""},
    {"key absent", "S02;Attic;800\n", 1, ""},
    {"empty configuration", "", 1, ""},
    {"blank ends the word", "S01;My Garage;800\n", 1, "My"},
    {"rate after a blank", "S01;My Garage;800\n", 2, ""},
    {"fields count from the word start", "x;S01;Garage;800\n", 1, "S01"},
    {"word start before the key", "x;S01;Garage;800\n", 2, "Garage"},
    {"blanks before the key", "  S01;Garage;800\n", 0, "S01"},
    {"control byte before the key", "\x80S01;Garage;800\n", 0, "S01"},
    {"CR ends the word", "S01;Garage;800\r\n", 2, "800"},
    {"key inside a device line comes first",
     "28FF4A1B02170312;PS01;QV-S0\nS01;Garage;800\n", 1, "PS01"},
    {"key inside a device line, field 2",
     "28FF4A1B02170312;PS01;QV-S0\nS01;Garage;800\n", 2, "QV-S0"},
    {"key at the very end", "a S01", 0, "S01"},
    {"no field after the key at the end", "a S01", 1, ""},
};

class LookupField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(LookupField, Extract) {
  const FieldCase &c = GetParam();
  std::vector<char> text = exact(c.config);
  FieldBuffer out;
  out.fill('x');
  const char *f = extract_field(text.data(), "S01", ';', c.n, out);
  EXPECT_EQ(f, out.data());
  EXPECT_STREQ(f, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, LookupField, ::testing::ValuesIn(kFieldCases),
                         testsupport::CaseName());

TEST(LookupFieldLong, WordOver100CharactersIsCutAt100) {
  // Word of 150 characters: "S01;" + 90 'a' + ";" + 55 'b'.
  std::vector<char> text =
      exact("S01;" + std::string(90, 'a') + ";" + std::string(55, 'b') + "\nS02;x\n");
  FieldBuffer out;
  EXPECT_EQ(std::string(extract_field(text.data(), "S01", ';', 1, out)), std::string(90, 'a'));
  // Field 2 crosses the 100th character: only its first 5 characters remain.
  EXPECT_EQ(std::string(extract_field(text.data(), "S01", ';', 2, out)), "bbbbb");

  // A 150-character field with no separator fills the whole buffer.
  text = exact("S01;" + std::string(146, 'c'));
  EXPECT_EQ(std::string(extract_field(text.data(), "S01", ';', 1, out)), std::string(96, 'c'));
  text = exact(std::string(150, 'd') + "S01;x");
  EXPECT_EQ(std::string(extract_field(text.data(), "S01", ';', 0, out)), std::string(100, 'd'));
  EXPECT_STREQ(extract_field(text.data(), "S01", ';', 1, out), "");
}

}  // namespace
