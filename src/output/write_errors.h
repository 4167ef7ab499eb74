// Writes that fail after their file opened: counted per cycle, reported once.
//
// Such a file is left as the failed write left it (no retry, no removal); the
// failures of a cycle are summed up in one status line when the cycle ends.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace output {

// Counts one failed write of `path` with `error` (an errno value; 0 counts
// nothing). The first failure of the cycle keeps its errno and path.
void note_write_error(core::PollContext *ctx, const char *path, int error);

// When writes failed in this cycle, prints "<n> file writes failed in this
// cycle, first <path>: <strerror>" on standard output; then counts anew.
void report_write_errors(core::PollContext *ctx);

}  // namespace output
