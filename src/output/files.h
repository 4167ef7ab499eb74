// The files written for a polled device: raw file or write log, value file, error record.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace output {

// Writes the data frame rxa[2] of entry idi: to its write log (label + "e.txt")
// when it answers this cycle's configuration write, else to its raw file
// (label + ".txt") while no write was logged this cycle. Updates eep.
void write_frame_file(core::PollContext *ctx);

// Writes the value text to label + "v.txt" when it is not empty.
void write_value_file(core::PollContext *ctx);

// Rewrites the file at `path` with `text` and a line end, counting a failed
// write; ends the process when it cannot be opened.
void write_text_file(core::PollContext *ctx, const char *path, const char *text);

// Appends "<label>;err cnc ser;<frame>" for entry idi to outdir + "err.txt",
// whole however long the frame is, counting a failed write.
void write_error_record(core::PollContext *ctx, const char *frame);

}  // namespace output
