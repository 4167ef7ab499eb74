// The files written after each data line: raw file or write log, and value file.
#pragma once

struct PollContext;

// Writes the data frame rxa[2] of entry idi: to its write log (label + "e.txt")
// when it answers this cycle's configuration write, else to its raw file
// (label + ".txt") while no write was logged this cycle. Updates eep.
void write_frame_file(PollContext *ctx);

// Writes the value text to label + "v.txt" when it is not empty.
void write_value_file(PollContext *ctx);
