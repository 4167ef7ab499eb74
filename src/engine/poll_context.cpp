// The poll context: first values and the helpers every module shares.
#include "engine/poll_context.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void init_context(PollContext *ctx) {
  std::memset(ctx, 0, sizeof *ctx);
  ctx->state = STATE_LOAD;
  ctx->rxz = 0;
  ctx->eep = EEP_NONE;
  ctx->crc = CRC_BAD;
  ctx->reset_pending = 0;
  ctx->fd = -1;
}

void die_perror(const char *name) {
  std::perror(name);
  std::exit(-1);
}

std::size_t copy_bounded(char *dst, std::size_t size, const char *src, std::size_t max) {
  if (size == 0) return 0;
  if (max > size - 1) max = size - 1;
  std::size_t n = 0;
  while (n < max && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
  return n;
}
