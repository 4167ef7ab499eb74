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

}  // namespace
