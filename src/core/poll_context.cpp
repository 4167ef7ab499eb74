// The poll context: its first values.
#include "core/poll_context.h"

#include <cstring>

namespace core {

void init_context(PollContext *ctx) {
  std::memset(ctx, 0, sizeof *ctx);
  ctx->state = STATE_LOAD;
  ctx->rxz = 0;
  ctx->eep = EEP_NONE;
  ctx->crc = CRC_BAD;
  ctx->reset_pending = 0;
  ctx->fd = -1;
}

}  // namespace core
