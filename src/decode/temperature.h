// Decoder choice and the decoder of plain temperature sensors (families 10, 28).
#pragma once

struct PollContext;

// Chooses the decoder for the current data line: a module decoder for a good
// frame of a device with a "Q..." model, else the temperature decoder.
void decode(PollContext *ctx);

// Fills the value text with the temperature of a family 10 ("%.1f") or 28
// ("%.3f") sensor; empties it for a bad frame or another family.
void decode_temperature(PollContext *ctx);

// Temperature in degrees Celsius from data bytes 0 and 1 of entry idi's frame.
// Returns false for a family code other than "10" and "28".
bool temperature_of(const PollContext *ctx, double *celsius);
