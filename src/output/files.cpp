// Raw file, write log and value file of a polled device.
#include "output/files.h"

#include <cstring>

#include "engine/poll_context.h"
#include "output/logs.h"
#include "output/paths.h"

std::FILE *open_output(PollContext *ctx, const char *mode) {
  std::FILE *file = std::fopen(ctx->path.data(), mode);
  if (file == nullptr) die_perror(ctx->path.data());
  return file;
}

void write_frame_file(PollContext *ctx) {
  const char *frame = ctx->rxa[2];
  const char *label = device_label(ctx->table, ctx->idi);
  char *path = ctx->path.data();
  if (ctx->eep == ctx->idi) {
    device_path(path, kPathSize, ctx->outdir.data(), label, "e.txt");
    ctx->eep = EEP_DONE;
    std::FILE *file = open_output(ctx, "a");
    char stamp[kTimestampSize];
    make_timestamp(stamp, sizeof stamp);
    std::fprintf(file, "%s; %s ;%s\n", stamp, ctx->write_log.data(), frame);
    std::fclose(file);
  } else if (ctx->eep == EEP_NONE) {
    device_path(path, kPathSize, ctx->outdir.data(), label, ".txt");
    std::FILE *file = open_output(ctx, "w");
    std::fprintf(file, "%s\n", frame);
    std::fclose(file);
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
  std::FILE *file = open_output(ctx, "w");
  std::fprintf(file, "%s\n", value);
  std::fclose(file);
  if (ctx->debug) {
    debug_log(path, value);
    std::printf("%s %s\n", path, value);
    std::printf("%s\n", value);
  }
}
