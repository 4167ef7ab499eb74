// Debug traces and echo lines.
#include "core/trace.h"

#include <cstdarg>
#include <cstdio>

#include "core/poll_context.h"

namespace core {

void trace(const PollContext *ctx, const char *format, ...) {
  if (!ctx->debug) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void trace_if(bool debug, const char *format, ...) {
  if (!debug) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void echo(const PollContext *ctx, const char *format, ...) {
  if (ctx->quiet) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

}  // namespace core
