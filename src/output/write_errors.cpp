// Counting and reporting failed file writes.
#include "output/write_errors.h"

#include <cstdio>
#include <cstring>

#include "core/poll_context.h"
#include "core/text.h"

namespace output {

using core::PollContext;

void note_write_error(PollContext *ctx, const char *path, int error) {
  if (error == 0) return;
  if (ctx->write_errors == 0) {
    ctx->write_errno = error;
    core::copy_bounded(ctx->write_error_path.data(), core::kPathSize, path, core::kPathSize - 1);
  }
  ++ctx->write_errors;
}

void report_write_errors(PollContext *ctx) {
  if (ctx->write_errors == 0) return;
  std::printf("%u file write%s failed in this cycle, first %s: %s\n", ctx->write_errors,
              ctx->write_errors == 1 ? "" : "s", ctx->write_error_path.data(),
              std::strerror(ctx->write_errno));
  ctx->write_errors = 0;
  ctx->write_errno = 0;
  ctx->write_error_path[0] = '\0';
}

}  // namespace output
