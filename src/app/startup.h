// Process start-up: banner, options, guard, arguments, serial port, first command.
#pragma once

struct PollContext;

constexpr const char *kBanner = "start kelvinlog v1.01\r";
constexpr const char *kUsage = "missing parameters, please start like: ./kelvinlog /dev/ttyUSB0 /tmp/ ";

// Runs start-up up to the first command; returns with the context ready for
// the main loop, or ends the process (usage, guard, serial device).
void startup(PollContext *ctx, int argc, const char *const *argv);
