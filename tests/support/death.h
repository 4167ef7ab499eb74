// Death tests where this machine can run them.
//
// A fork death test runs its statement in a forked child. Under qemu-user a
// forked child may hang (seen with aarch64 binaries) or crash at once (seen
// with the armhf test binaries), so each fork death test first asks
// fork_works(), which tries it once per process. Threadsafe death tests re-execute the test binary, which
// qemu-user cannot do at all: those stay skipped in emulated builds
// (KELVINLOG_EMULATED).
#pragma once

#include <gtest/gtest.h>

namespace testsupport {

// True when a forked child of this process runs: the first call forks a
// child that exits at once and waits up to 2 s for it, killing (SIGKILL) and
// reaping it if it hangs; a child that does not exit with 0 fails too. The
// answer is kept for later calls.
bool fork_works();

}  // namespace testsupport

// Skips the current test when forked children hang on this machine.
#define SKIP_UNLESS_FORK_WORKS()                                              \
  do {                                                                        \
    if (!::testsupport::fork_works()) {                                       \
      GTEST_SKIP() << "forked children do not run here (qemu-user): no death test"; \
    }                                                                         \
  } while (0)

// Skips the current test in emulated builds, where the binary cannot be re-executed.
#ifdef KELVINLOG_EMULATED
#define SKIP_THREADSAFE_DEATH_TEST_IF_EMULATED() \
  GTEST_SKIP() << "a threadsafe death test re-executes the binary, which qemu-user cannot"
#else
#define SKIP_THREADSAFE_DEATH_TEST_IF_EMULATED() \
  do {                                           \
  } while (0)
#endif
