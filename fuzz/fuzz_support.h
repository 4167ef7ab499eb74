// Shared set-up of the fuzz targets: a scratch workspace, a free clock, a quiet
// standard output and a socket standing in for the adapter's serial line.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "core/poll_context.h"
#include "core/text.h"

namespace fuzzsupport {

// Configuration text every target starts from: named sensors, modules of each
// decoder, an unnamed family-10 sensor, both S0 channels and a commented line.
extern const char *const kConfig;

// Device table entries the targets fill in, in this order.
constexpr std::size_t kKnownIds = 8;
extern const char *const kIds[kKnownIds];

// Scratch workspace, made once per process: a fresh directory on /dev/shm (or
// /tmp) that becomes the working directory and holds kelvinlog-config.txt, and
// its subdirectory out/ as the output directory. Standard output goes to
// /dev/null unless KELVINLOG_FUZZ_STDOUT is set. The fake clock is installed.
struct Workspace {
  std::string dir;     // working directory
  std::string outdir;  // output directory, ending in '/'
};
const Workspace &workspace();

// Sets the time the engine clock shows; ticks and pauses never sleep.
void set_now(std::time_t now);

// Removes the logs that grow with every run (err.txt, write logs, debug.txt)
// and the other output files every `every`-th call.
void tidy_outputs(unsigned every);

// The serial line: the logger's descriptor and the adapter's end of one
// non-blocking stream socket pair, made once. Neither end is ever closed, so
// a read by the logger never sees a hang-up, only "nothing waiting".
struct SerialLine {
  int logger;
  int adapter;
};
const SerialLine &serial_line();

// Bytes waiting to be read on `fd`.
std::size_t pending(int fd);

// Reads and drops everything waiting on `fd`; returns it (at most `max` bytes kept).
std::string drain(int fd, std::size_t max = 4096);

// Writes all of `data` to `fd` (the socket buffer is far larger than any input).
void send_all(int fd, const void *data, std::size_t size);

// Aborts with `what` on standard error: a property of the logger was broken.
[[noreturn]] void fail(const char *what, const char *detail);

// A context as start-up leaves it, with the workspace's outdir, the serial
// line, kConfig loaded, and the first `entries` known ids in the table.
void prepare(core::PollContext *ctx, std::size_t entries, bool debug);

}  // namespace fuzzsupport
