// Adapter protocol: command formats and the strtok-like splitting of lines.
#include "serial/protocol.h"

#include <cstdio>
#include <cstring>

#include "core/poll_context.h"
#include "core/text.h"

namespace serial {

using core::kLineSize;
using core::PollContext;

namespace {

char g_empty_field[1] = "";  // stands in for a missing rxa[0] or rxa[1]

}  // namespace

void set_command(PollContext *ctx, const char *text) {
  core::copy_bounded(ctx->line.data(), kLineSize, text, kLineSize - 1);
}

void format_poll(PollContext *ctx, unsigned idi) {
  std::snprintf(ctx->line.data(), kLineSize, "$%u", idi);
}

void append_command(PollContext *ctx, const char *text) {
  std::size_t used = std::strlen(ctx->line.data());
  core::copy_bounded(ctx->line.data() + used, kLineSize - used, text, kLineSize - 1 - used);
}

char *next_token(PollContext *ctx, const char *delims) {
  char *p = ctx->tok_next;
  if (p == nullptr) return nullptr;
  p += std::strspn(p, delims);
  if (*p == '\0') {
    ctx->tok_next = p;
    return nullptr;
  }
  char *end = p + std::strcspn(p, delims);
  if (*end != '\0') {
    *end = '\0';
    ctx->tok_next = end + 1;
  } else {
    ctx->tok_next = end;
  }
  return p;
}

char *line_rest(PollContext *ctx) {
  char *p = ctx->tok_next;
  return p != nullptr ? p + std::strlen(p) : ctx->line.data();
}

void split_line(PollContext *ctx) {
  ctx->rxa.fill(nullptr);
  ctx->line[kLineSize - 1] = '\0';
  ctx->tok_next = ctx->line.data();
  char *first = next_token(ctx, ";");
  char *second = next_token(ctx, ";");
  ctx->rxa[0] = first != nullptr ? first : g_empty_field;
  ctx->rxa[1] = second != nullptr ? second : g_empty_field;
}

}  // namespace serial
