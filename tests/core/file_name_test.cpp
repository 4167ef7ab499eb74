// Tests of the rule for names that begin a file name in the output directory.
#include <gtest/gtest.h>

#include <ostream>

#include "core/file_name.h"
#include "support/param_name.h"

namespace {

using namespace core;

struct NameCase {
  const char *name;
  const char *stem;
  bool stays;   // stays_in_outdir
  bool usable;  // is_usable_label
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

const NameCase kNameCases[] = {
    {"plain_name", "Kitchen", true, true},
    {"rom_id", "28FF4A1B02170312", true, true},
    {"blank_inside", "Temp in", true, true},
    {"slash_inside", "Temp in/out", false, false},
    {"leading_dot_dot", "../escape", false, false},
    {"trailing_slash", "Kitchen/", false, false},
    {"the_error_log", "err", true, false},
    {"err_with_more", "errors", true, true},
    {"err_upper_case", "ERR", true, true},
};

class FileNameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameTable, SlashAndTheErrorLogAreRefused) {
  const NameCase &c = GetParam();
  EXPECT_EQ(stays_in_outdir(c.stem), c.stays);
  EXPECT_EQ(is_usable_label(c.stem), c.usable);
}

INSTANTIATE_TEST_SUITE_P(Names, FileNameTable, ::testing::ValuesIn(kNameCases),
                         testsupport::CaseName());

// Two labels whose files overlap: the same label, or one that is the other
// followed by the letter of a value file, write log or control file.
struct ClashCase {
  const char *name;
  const char *a;
  const char *b;
  bool share;  // labels_share_a_file(a, b), and (b, a)
  bool s0;     // shares_the_s0_file(a, b): device a, S0 stem b
};

void PrintTo(const ClashCase &c, std::ostream *os) { *os << c.name; }

const ClashCase kClashCases[] = {
    {"equal", "Kitchen", "Kitchen", true, true},
    {"raw_file_is_a_value_file", "Kitchenv", "Kitchen", true, true},
    {"raw_file_is_a_write_log", "Kitchene", "Kitchen", true, false},
    {"raw_file_is_a_control_file", "Kitcheno", "Kitchen", true, false},
    {"value_file_of_the_longer", "Kitchen", "Kitchenv", true, false},
    {"other_letter", "Kitchenx", "Kitchen", false, false},
    {"two_letters_more", "Kitchenvv", "Kitchen", false, false},
    {"upper_case_letter", "KitchenV", "Kitchen", false, false},
    {"one_letter_less_not_a_suffix", "Kitchen", "Kitche", false, false},
    {"letter_case", "kitchen", "Kitchen", false, false},
    {"ids", "28FF4A1B02170312", "28FF4A1B02170313", false, false},
};

class LabelClashTable : public ::testing::TestWithParam<ClashCase> {};

TEST_P(LabelClashTable, OverlappingFilesAreFound) {
  const ClashCase &c = GetParam();
  EXPECT_EQ(labels_share_a_file(c.a, c.b), c.share);
  EXPECT_EQ(labels_share_a_file(c.b, c.a), c.share);
  EXPECT_EQ(shares_the_s0_file(c.a, c.b), c.s0);
}

INSTANTIATE_TEST_SUITE_P(Labels, LabelClashTable, ::testing::ValuesIn(kClashCases),
                         testsupport::CaseName());

}  // namespace
