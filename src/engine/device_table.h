// The device table: filled by each bus search, named from the configuration.
//
// Entries are appended in the order of the answers, at most 64 per cycle;
// further answers are counted and reported once at the end of the search.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

namespace engine {

// Clears both tables and the entry counters for a new cycle.
void clear_table(core::PollContext *ctx);

// Appends `id` (cut to 16 characters) as the next entry. Returns false, and
// counts the entry as dropped, when the table is full.
bool add_named_entry(core::PollContext *ctx, const char *id);

// Takes the third ';' token of an 'o' answer line as a new entry's ROM id.
// A line without a third token adds nothing.
void add_entry(core::PollContext *ctx);

// Looks up the names of all entries in the configuration at the end of the
// search, from the last to the first, printing "idn[%u]=%s\n" for each name
// kept. A name that is no file name, or whose files would be another
// entry's, is refused with a line that says so; the entry keeps its id.
void resolve_names(core::PollContext *ctx);

}  // namespace engine
