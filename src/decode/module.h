// Decoders of the bus modules named by their model text: energy counter, climate.
#pragma once

struct PollContext;

// Chooses the module decoder by the beginning of ctx->qvm: "QV-S0"/"QV-DK-S0"
// counter, "QV-HTX"/"QV-H" climate; any other model gives no value.
void decode_module(PollContext *ctx);

// Counter module: "%u;%u;%u\n" + header with counter, consumption, limit/LED.
void decode_counter(PollContext *ctx);

// Climate module: "%7.3f;%i;%i;%i;%i\n" + header with T, rLf, rLi, rLq, limit/LED.
// A family code without a temperature conversion gives T = 0.000.
void decode_climate(PollContext *ctx);
