// Decoders of the bus modules named by their model text: energy counter, climate.
#pragma once

#include <cstddef>

namespace decode {

// Chooses the module decoder by the beginning of `model`: "QV-S0"/"QV-DK-S0"
// counter, "QV-HTX"/"QV-H" climate, and writes the value text of the good
// frame `frame` of device `id` into `value` (`size` bytes). Any other model
// gives an empty text. Returns true when a decoder took the frame.
bool decode_module(const char *model, const char *id, const char *frame, char *value,
                   std::size_t size);

// Counter module: "%u;%u;%u\n" + header with counter, consumption, limit/LED.
void decode_counter(const char *frame, char *value, std::size_t size);

// Climate module: "%7.3f;%i;%i;%i;%i\n" + header with T, rLf, rLi, rLq, limit/LED.
// A family code without a temperature conversion gives T = 0.000.
void decode_climate(const char *id, const char *frame, char *value, std::size_t size);

}  // namespace decode
