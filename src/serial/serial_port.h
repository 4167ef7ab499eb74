// The serial link to the bus adapter: opening, sending commands, receiving lines.
//
// Every byte to and from the adapter passes through here. The descriptor is
// non-blocking and in line mode, so a read hands over at most one line.
#pragma once

#include <termios.h>

namespace core {
struct PollContext;
}  // namespace core

namespace serial {

// Fills `tio` with the link's settings: 115200 8N1, receiver on, modem lines
// ignored, line mode, no echo, no input or output processing.
void make_serial_settings(termios *tio);

// Opens and configures the serial device, dropping whatever input waits on
// it from before; ends the process when it cannot be opened.
int open_serial(const char *device_path);

// Echoes the command in ctx->line as "o%s" and writes it to the adapter.
void send_command(core::PollContext *ctx);

// Takes at most one line from the adapter into ctx->line. Answers "??" lines
// with a retry request. Returns true when a line stands in ctx->line.
bool receive_line(core::PollContext *ctx);

// One read into ctx->line whose content is dropped (after "$res" and a retry).
void discard_read(core::PollContext *ctx);

}  // namespace serial
