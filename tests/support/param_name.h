// Names of the cases of parameterised test tables.
//
// Every table's case record has a `name` field; CaseName turns it into the
// test name GoogleTest shows ("FrameTable.CheckAndCut/checksum_in_lower_case"
// instead of a dump of the record's bytes). Characters a test name cannot
// hold become '_'.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// A test name made of `text`: letters and digits kept, anything else '_'.
inline std::string test_name(const std::string &text) {
  std::string out = text.empty() ? std::string("unnamed") : text;
  for (char &c : out) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!keep) c = '_';
  }
  return out;
}

// The name generator for INSTANTIATE_TEST_SUITE_P: the case's `name` field.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case> &info) const {
    return test_name(info.param.name);
  }
};

}  // namespace testsupport
