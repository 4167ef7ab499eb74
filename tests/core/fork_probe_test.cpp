// The run-time fork probe of the death tests: on a native run it must find
// fork working, or every fork death test would be skipped without a word.
#include <gtest/gtest.h>

#include "support/death.h"

namespace {

TEST(ForkProbe, ForkWorksOnANativeRun) {
#ifdef KELVINLOG_EMULATED
  GTEST_SKIP() << "under qemu-user the probe may rightly find fork broken";
#else
  EXPECT_TRUE(testsupport::fork_works());
#endif
}

}  // namespace
