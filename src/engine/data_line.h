// A data line of the polled entry: frame check, raw file, decoding, value file.
//
// The decoders only compute; the context, the files and the traces are kept here.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace engine {

// Takes the data frame of the current data line (its rest after the second
// field, up to the line feed) into rxa[2], checks its checksum into ctx->crc,
// cuts a good frame before the checksum and logs a bad one to outdir + "err.txt".
void check_data_frame(core::PollContext *ctx);

// Decoder choice: a module decoder for a good frame of a device with a
// "Q..." model, else the temperature decoder; a bad frame gives no value.
// The value text goes into ctx->value, empty when there is none.
void decode_value(core::PollContext *ctx);

// Handles a data line of entry idi in order: frame check, raw file or write
// log, decoding, value file; counts the answer (and a bad checksum) of the cycle.
void handle_data_line(core::PollContext *ctx);

}  // namespace engine
