// Single-instance guard: stops every copy of the logger when a second one runs.
//
// It looks for the program's name in a snapshot of "ps -A"; finding it twice
// runs "killall kelvinlog" and "killall kelvinlog-pi".
#pragma once

#include <cstddef>

namespace core {
struct PollContext;
}  // namespace core

namespace app {

// Outcome of searching a process list for running copies.
enum class GuardVerdict {
  kNone,      // the name does not occur
  kSingle,    // only the current process
  kMultiple,  // a second copy runs
};

// Searches the NUL-terminated list in `text` (modified in place, as the guard
// does: the skipped front parts are moved out with overlap-safe moves).
GuardVerdict judge_process_list(char *text);

// Runs the guard with the context's ConfigText as scratch for the list.
void check_multiple_running(core::PollContext *ctx);

}  // namespace app
