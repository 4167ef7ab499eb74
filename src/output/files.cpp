// Raw file, write log, value file and error record of a polled device.
#include "output/files.h"

#include <cstdio>

#include "core/poll_context.h"
#include "core/trace.h"
#include "output/logs.h"
#include "output/paths.h"
#include "output/write_errors.h"

namespace output {

using core::kPathSize;
using core::PollContext;
using core::trace;

namespace {

// Room for the longest error record: a label, the words, and a whole line.
constexpr std::size_t kErrRecordSize = core::kIdSize + 16 + core::kLineSize;

}  // namespace

void write_frame_file(PollContext *ctx) {
  const char *frame = ctx->rxa[2];
  const char *label = device_label(ctx->table, ctx->idi);
  char *path = ctx->path.data();
  if (ctx->eep == ctx->idi) {
    device_path(path, kPathSize, ctx->outdir.data(), label, "e.txt");
    ctx->eep = core::EEP_DONE;
    int fd = open_record(path, true);
    char stamp[kTimestampSize];
    make_timestamp(stamp, sizeof stamp);
    const int error = put_record(fd, "%s; %s ;%s\n", stamp, ctx->write_log.data(), frame);
    note_write_error(ctx, path, error);
  } else if (ctx->eep == core::EEP_NONE) {
    device_path(path, kPathSize, ctx->outdir.data(), label, ".txt");
    write_text_file(ctx, path, frame);
    trace(ctx, "%s %s\n", path, frame);
  } else {
    device_path(path, kPathSize, ctx->outdir.data(), label, "");
  }
  trace(ctx, "%s %s\n", path, frame);
  trace(ctx, "qvm=%s, eep=%i, idi=%i, crc=%i\r\n", ctx->qvm.data(), ctx->eep, ctx->idi, ctx->crc);
}

void write_value_file(PollContext *ctx) {
  const char *value = ctx->value.data();
  char *path = ctx->path.data();
  if (value[0] == '\0') return;
  device_path(path, kPathSize, ctx->outdir.data(), device_label(ctx->table, ctx->idi), "v.txt");
  write_text_file(ctx, path, value);
  if (ctx->debug) note_write_error(ctx, kDebugLogName, debug_log(path, value));
  trace(ctx, "%s %s\n", path, value);
  trace(ctx, "%s\n", value);
}

void write_text_file(PollContext *ctx, const char *path, const char *text) {
  note_write_error(ctx, path, put_record(open_record(path, false), "%s\n", text));
}

void write_error_record(PollContext *ctx, const char *frame) {
  // The record is written whole: cutting it would lose part of the bad frame.
  char record[kErrRecordSize];
  std::snprintf(record, sizeof record, "%s;err cnc ser;%s", device_label(ctx->table, ctx->idi),
                frame);
  char *path = ctx->path.data();
  device_path(path, kPathSize, ctx->outdir.data(), kErrorLogName, "");
  note_write_error(ctx, path, append_error_record(path, record));
}

}  // namespace output
