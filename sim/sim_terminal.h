// The stand-in's end of the line: a pseudo-terminal, the symlink the logger
// opens, and what happens to both when the adapter is unplugged.
#pragma once

#include <array>

namespace adaptersim {

struct Terminal {
  int master = -1;                      // our side: commands in, answers out
  int slave = -1;                       // held open so the master never sees a hang-up
  std::array<char, 128> slave_path{};   // /dev/pts/N, NUL-terminated
};

// Opens a pseudo-terminal pair, sets the slave raw at 115200 baud, makes the
// master non-blocking and both close-on-exec. False, with a message on
// stderr, on any failure (descriptors opened so far stay in `t`).
bool open_terminal(Terminal &t);

// Points `link` at `target`: a temporary symlink renamed over the old one, so
// the path never dangles. Anything at `link` other than a symlink is left
// alone (false, with a message on stderr).
bool create_link(const char *link, const char *target);

// Removes `link` if it still points at `target` (another instance may have
// taken the path over meanwhile).
void remove_link(const char *link, const char *target);

// Bytes written to the master that the reader of the slave has not taken
// yet; 0 when that cannot be told.
int unread_bytes(int slave);

}  // namespace adaptersim
