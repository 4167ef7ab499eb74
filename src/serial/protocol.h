// The adapter's command catalogue and the splitting of its answer lines.
//
// Commands are "$..." texts ended by one line feed; answers are lines of
// ';'-separated fields, split in place in the manner of strtok.
#pragma once

#include <cstddef>

namespace core {
struct PollContext;
}  // namespace core

namespace serial {

constexpr const char *kCmdLampOn = "$L+\n";   // first command with option l
constexpr const char *kCmdLampOff = "$L-\n";  // first command otherwise
constexpr const char *kCmdReset = "$res\n";   // bus reset requested by a control file
constexpr const char *kCmdSearch = "$?\n";    // bus search, once per cycle

// Puts `text` as the next command into ctx->line.
void set_command(core::PollContext *ctx, const char *text);

// Writes "$%u" of `idi` into ctx->line: the poll command before its suffix.
void format_poll(core::PollContext *ctx, unsigned idi);

// Appends `text` to the command in ctx->line, bounded by the buffer.
void append_command(core::PollContext *ctx, const char *text);

// Clears rxa and splits the first two tokens of ctx->line at ';' in place.
// A line with fewer than two tokens gets empty texts for the missing ones.
void split_line(core::PollContext *ctx);

// Takes the next token of the line being split, delimited by any byte of
// `delims` (runs of delimiters count as one; leading ones are skipped).
// Returns nullptr when the line has no further token.
char *next_token(core::PollContext *ctx, const char *delims);

// Where the line ends after the last token taken (a NUL inside ctx->line).
char *line_rest(core::PollContext *ctx);

}  // namespace serial
