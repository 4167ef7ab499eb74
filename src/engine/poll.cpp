// Poll step: choose the entry, read its control file, send the poll command.
#include "engine/poll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/lookup.h"
#include "core/clock.h"
#include "core/poll_context.h"
#include "core/regular_file.h"
#include "core/text.h"
#include "core/trace.h"
#include "output/paths.h"
#include "output/write_errors.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace engine {

using core::PollContext;
using core::trace;

namespace {

constexpr std::size_t kControlMax = 32;   // characters of a control file that are read
constexpr std::size_t kConfigString = 7;  // "c;xx;yy"

// Bits of ControlNote::said.
constexpr unsigned kSaidUnreadable = 1u;    // "cannot be read"
constexpr unsigned kSaidUnrewritable = 2u;  // "cannot be rewritten"

// One opened control file: its descriptor, its path, and why it could not be
// opened for writing (0 when it could).
struct ControlFile {
  int fd;
  const char *path;
  int denied;
  core::ControlNote *note;
};

// Rewrites the open control file to one character and a line end, through
// the descriptor it was read from, never by opening its name again. The text
// is written over the start first and the rest cut off after it, so a write
// that fails leaves the file as it was; a failure is counted, not retried.
void rewrite_control_file(PollContext *ctx, int fd, const char *path, char c) {
  const char text[2] = {c, '\n'};
  std::size_t done = 0;
  int error = 0;
  while (done < sizeof text && error == 0) {
    ssize_t n = pwrite(fd, text + done, sizeof text - done, static_cast<off_t>(done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      error = n < 0 ? errno : EIO;
    }
  }
  if (error == 0 && ftruncate(fd, sizeof text) != 0) error = errno;
  output::note_write_error(ctx, path, error);
}

// The rewrite after a reset request or a configuration string. A file the
// logger may only read keeps its text; from now on, until it changes, it is
// read as if the rewrite had been made, so the request is carried out once.
void rewrite(PollContext *ctx, const ControlFile &file, char c) {
  if (file.denied == 0) {
    rewrite_control_file(ctx, file.fd, file.path, c);
    return;
  }
  file.note->stands_for = c;
  if ((file.note->said & kSaidUnrewritable) != 0) return;
  file.note->said |= kSaidUnrewritable;
  std::printf("control file %s: cannot be rewritten (%s), taken as \"%c\" until it changes\n",
              file.path, std::strerror(file.denied), c);
}

bool is_version(const core::ControlNote &note, const struct stat &st) {
  return note.dev == static_cast<std::uint64_t>(st.st_dev) &&
         note.ino == static_cast<std::uint64_t>(st.st_ino) &&
         note.ctime_s == static_cast<std::int64_t>(st.st_ctim.tv_sec) &&
         note.ctime_ns == static_cast<std::int64_t>(st.st_ctim.tv_nsec);
}

// Keeps the note when it belongs to this version of the file, else starts a
// new one for it.
void note_version(core::ControlNote *note, const struct stat &st) {
  if (is_version(*note, st)) return;
  *note = core::ControlNote{};
  note->dev = static_cast<std::uint64_t>(st.st_dev);
  note->ino = static_cast<std::uint64_t>(st.st_ino);
  note->ctime_s = static_cast<std::int64_t>(st.st_ctim.tv_sec);
  note->ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_nsec);
}

// A control file that is there but could not be opened counts as absent,
// and says so once for each version of it. A missing one is silent.
void note_unreadable(core::ControlNote *note, const char *path, int error) {
  if (error == ENOENT) {
    *note = core::ControlNote{};
    return;
  }
  struct stat st {};
  if (lstat(path, &st) != 0) st = {};  // one version for all that cannot be looked at
  note_version(note, st);
  if ((note->said & kSaidUnreadable) != 0) return;
  note->said |= kSaidUnreadable;
  // A link, a FIFO or a directory at the name: refused, whatever it leads to.
  const bool odd = error == ELOOP || error == ENXIO || error == EISDIR;
  std::printf("control file %s: cannot be read (%s), taken as absent\n", path,
              odd ? "not a regular file" : std::strerror(error));
}

// Opens the control file for reading and writing, or, when only writing is
// refused to the logger (a file of another user, a read-only file system),
// for reading alone; `denied` then holds the reason. Never created here.
// Anything but a regular file (a link, a FIFO, a terminal) is refused.
int open_control_file(const char *path, int *denied) {
  *denied = 0;
  int fd = core::open_outdir_file(path, O_RDWR);
  if (fd >= 0 || (errno != EACCES && errno != EROFS && errno != EPERM)) return fd;
  const int why = errno;
  fd = core::open_outdir_file(path, O_RDONLY);
  if (fd >= 0) *denied = why;
  return fd;
}

void append_switch(PollContext *ctx, char c) {
  serial::append_command(ctx, c == '1' ? ";11" : ";00");
  if (ctx->qvm[0] != 'Q') return;
  long t = static_cast<long>(core::clock_now() % kSecondsPerDay);
  if (t < 0) t += kSecondsPerDay;
  trace(ctx, "timesync %i\n", static_cast<int>(t));
  if (t > kTimesyncAfter && t < kTimesyncBefore) {
    char *cmd = ctx->line.data();
    std::size_t len = std::strlen(cmd);
    cmd[len - 1] = static_cast<char>(cmd[len - 1] | 0x32);
    cmd[len - 2] = static_cast<char>(cmd[len - 2] | 0x32);
  }
}

// A configuration string goes into the adapter's command stream as it is, so
// a line end or any other control byte in it would inject further commands.
bool is_clean_config_string(const char *text) {
  for (std::size_t i = 0; i < kConfigString; ++i) {
    if (core::is_control(text[i])) return false;
  }
  return true;
}

// Appends the suffix that the control text asks for and performs its
// effects; a rewrite goes through `file`, the open control file.
void apply_control_text(PollContext *ctx, const ControlFile &file, const char *text) {
  const char *path = file.path;
  const char first = text[0];
  if (text[1] != ';') {
    if (first == 'r') {
      ctx->reset_pending = 1;
      rewrite(ctx, file, '0');
      return;
    }
    append_switch(ctx, first);
    return;
  }
  if (text[4] != ';' || ctx->eep != core::EEP_NONE) return;
  if (strnlen(text, kConfigString) < kConfigString) return;  // too short to be sent
  if (!is_clean_config_string(text)) {
    std::printf("control file %s: configuration string holds a control character, not sent\n",
                path);
    return;
  }
  trace(ctx, "c64=%s,", text);
  char config[kConfigString + 1];
  core::copy_bounded(config, sizeof config, text, kConfigString);
  rewrite(ctx, file, first);
  serial::append_command(ctx, ";");
  serial::append_command(ctx, config);
  core::copy_bounded(ctx->write_log.data(), core::kWriteLogSize, config, kConfigString);
  ctx->eep = ctx->idi;
}

}  // namespace

void apply_control_file(PollContext *ctx) {
  char *path = ctx->path.data();
  output::device_path(path, core::kPathSize, ctx->outdir.data(),
                      output::device_label(ctx->table, ctx->idi), "o.txt");
  core::ControlNote *note = &ctx->control_notes[static_cast<std::size_t>(ctx->idi)];
  ControlFile file{-1, path, 0, note};
  file.fd = open_control_file(path, &file.denied);
  if (file.fd < 0) {
    note_unreadable(note, path, errno);
    return;
  }
  struct stat st {};
  if (file.denied == 0 || fstat(file.fd, &st) != 0) {
    *note = core::ControlNote{};  // writable: nothing stands in for a rewrite
  } else {
    note_version(note, st);
  }
  char *text = ctx->scratch.data();  // missing characters read as NUL
  std::memset(text, 0, kControlMax + 1);
  std::size_t got = 0;
  while (got < kControlMax) {
    ssize_t n = read(file.fd, text + got, kControlMax - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (note->stands_for != '\0') {  // read as the rewrite would have left it
    std::memset(text, 0, kControlMax + 1);
    text[0] = note->stands_for;
    text[1] = '\n';
  }
  apply_control_text(ctx, file, text);
  close(file.fd);
}

void issue_poll(PollContext *ctx) {
  ctx->rxz = 0;
  if (ctx->eep < 0) {
    --ctx->idi;
  } else if (++ctx->repolls > core::kRepollLimit) {
    // The device never answered its configuration write: log nothing, go on.
    std::printf("no answer from %s after %i repeated polls, configuration write given up\n",
                output::device_label(ctx->table, ctx->idi), core::kRepollLimit);
    ctx->eep = core::EEP_DONE;
    --ctx->idi;
  }
  if (ctx->eep < 0) ctx->repolls = 0;
  serial::format_poll(ctx, static_cast<unsigned>(ctx->idi));
  trace(ctx, "o%s, eep=%i, idi=%i\n", ctx->line.data(), ctx->eep, ctx->idi);
  config::lookup_model(ctx, ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data());
  apply_control_file(ctx);
  serial::append_command(ctx, "\n");
  if (ctx->eep == ctx->idi) {
    core::echo(ctx, "o%s id=%s eep=%i, idi=%i, state=%i, rxz=%i blingo\n", ctx->line.data(),
               ctx->table.ids[static_cast<std::size_t>(ctx->idi)].data(), ctx->eep, ctx->idi,
               ctx->state, ctx->rxz);
  }
  serial::send_command(ctx);
}

}  // namespace engine
