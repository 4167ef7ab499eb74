// The stand-in's event loop: commands read from the terminal, answered by the
// adapter, queued for their due time, written back; and the unplugging of
// --exit-after.
#pragma once

#include <cstdint>
#include <cstdio>

#include "sim_adapter.h"
#include "sim_answer_queue.h"
#include "sim_command.h"
#include "sim_options.h"

namespace adaptersim {

constexpr int kExitOk = 0;      // stopped by a signal, or unplugged by --exit-after
constexpr int kExitSystem = 1;  // a system error: no pseudo-terminal, link taken, log, poll
constexpr int kExitUsage = 2;   // bad option or scenario

// Everything the loop works on; large (the splitter's and the queue's
// buffers), so keep it in static storage.
struct Session {
  const Options *options = nullptr;  // the command line
  Adapter *adapter = nullptr;        // answers the commands
  std::FILE *log = nullptr;          // command log, or null
  int master = -1;                   // our side of the terminal: commands in, answers out
  int slave = -1;                    // our descriptor of the slave, for the unread-bytes probe
  LineSplitter splitter;             // received bytes into commands
  AnswerQueue queue;                 // answers waiting for their time
  Batch lost;                        // scratch for answers that find the queue full
  bool unplugging = false;           // --exit-after reached: no more reading
  std::int64_t unplug_deadline = 0;  // monotonic ms after which the terminal is closed anyway
  std::int64_t last_write = 0;       // monotonic ms of the last byte written to the master
};

// Milliseconds on the monotonic clock.
std::int64_t monotonic_ms();

// Stops reading commands; the loop ends once the answers already queued have
// reached the reader, or after --delay-ms plus 3 s at most.
void start_unplug(Session &s, std::int64_t now_ms);

// Takes `n` bytes read from the terminal at `now_ms`: every command they
// complete is logged, traced, answered and its answer queued (due after
// --delay-ms). Bytes after the command that starts an unplugging are ignored.
void take_bytes(Session &s, const char *data, std::size_t n, std::int64_t now_ms);

// Runs until a stop signal (the self-pipe `stop_fd`) or the end of an
// unplugging: reads commands from s.master, answers them, writes the answers
// when due. A master that fails or hangs up is left alone for 100 ms at a
// time. Returns kExitOk, or kExitSystem when poll() fails.
int run_loop(Session &s, int stop_fd);

}  // namespace adaptersim
