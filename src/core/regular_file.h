// Opening files that other programs may have replaced: only regular files pass.
//
// The output directory is shared with other programs, any of which may put a
// link, a FIFO, a terminal or a directory where the logger expects its file.
#pragma once

namespace core {

// Opens `path` with `flags` plus O_NONBLOCK, O_CLOEXEC and O_NOCTTY (a file
// it creates gets mode 0666 less the umask) and accepts only a regular file.
// Any other object that opened (a FIFO with a reader, a terminal, a device)
// is closed again untouched and reported like a failed open with errno ENXIO.
// Returns the descriptor, or -1 with errno set.
int open_regular(const char *path, int flags);

// open_regular for a file of the output directory: a symbolic link is not
// followed but refused (ELOOP), dangling or not.
int open_outdir_file(const char *path, int flags);

}  // namespace core
