// Raw file, write log and value file of a polled device.
#include "output/files.h"

#include <cstdio>

#include "engine/poll_context.h"
#include "output/logs.h"
#include "output/paths.h"
#include "output/write_errors.h"

void write_frame_file(PollContext *ctx) {
  const char *frame = ctx->rxa[2];
  const char *label = device_label(ctx->table, ctx->idi);
  char *path = ctx->path.data();
  if (ctx->eep == ctx->idi) {
    device_path(path, kPathSize, ctx->outdir.data(), label, "e.txt");
    ctx->eep = EEP_DONE;
    int fd = open_record(path, true);
    char stamp[kTimestampSize];
    make_timestamp(stamp, sizeof stamp);
    const int error = put_record(fd, "%s; %s ;%s\n", stamp, ctx->write_log.data(), frame);
    note_write_error(ctx, path, error);
  } else if (ctx->eep == EEP_NONE) {
    device_path(path, kPathSize, ctx->outdir.data(), label, ".txt");
    note_write_error(ctx, path, put_record(open_record(path, false), "%s\n", frame));
    if (ctx->debug) std::printf("%s %s\n", path, frame);
  } else {
    device_path(path, kPathSize, ctx->outdir.data(), label, "");
  }
  if (ctx->debug) {
    std::printf("%s %s\n", path, frame);
    std::printf("qvm=%s, eep=%i, idi=%i, crc=%i\r\n", ctx->qvm.data(), ctx->eep, ctx->idi,
                ctx->crc);
  }
}

void write_value_file(PollContext *ctx) {
  const char *value = ctx->value.data();
  char *path = ctx->path.data();
  if (value[0] == '\0') return;
  device_path(path, kPathSize, ctx->outdir.data(), device_label(ctx->table, ctx->idi), "v.txt");
  note_write_error(ctx, path, put_record(open_record(path, false), "%s\n", value));
  if (ctx->debug) {
    note_write_error(ctx, kDebugLogName, debug_log(path, value));
    std::printf("%s %s\n", path, value);
    std::printf("%s\n", value);
  }
}
