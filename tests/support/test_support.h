// Shared helpers of the unit tests that drive the logger's own code: a fake
// engine clock, a pseudo-terminal set up as the logger's serial device, and a
// ready context. The helpers that need nothing of the logger (files, stdout
// capture, the adapter's end of a pty, the notify socket, death tests, case
// names) are included with it.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/poll_context.h"
#include "support/capture.h"
#include "support/death.h"
#include "support/files.h"
#include "support/notify_socket.h"
#include "support/param_name.h"
#include "support/pty.h"

namespace testsupport {

// The engine clock for tests: ticks and pauses cost no real time, `now` is set
// by the test, and the passes and paused seconds are counted. Its monotonic
// clock reads one millisecond per pass and a thousand per paused second. Its
// wait ends one pass on when the serial descriptor has input, else at the
// pass asked for.
struct FakeClock {
  static std::time_t now;       // calendar time it shows
  static long ticks;            // passes ended since install()
  static long waits;            // waits since install()
  static long wait_limit;       // a wait ends after this many passes at the latest
  static long paused_seconds;   // seconds of pause asked for since install()
  // Installs the fake clock and resets its counters; `start` is the time it shows.
  static void install(std::time_t start);
  // Restores the real clock.
  static void uninstall();
};

// A pseudo-terminal whose slave is open as the logger opens its serial device
// (serial::open_serial, with the logger's own settings); the test is the
// adapter on the master.
class PtyPair : public Pty {
 public:
  PtyPair();
  ~PtyPair();
  int slave() const { return slave_; }
  // Writes `text` to the logger as the adapter would, and waits until all of
  // it can be read on the logger's side (a failure of the test if not).
  void send_ready(const std::string &text);

 private:
  int slave_ = -1;  // the logger's descriptor
};

// The service manager's end of the notify protocol, bound to `name` ("/path"
// or "@abstract"), with NOTIFY_SOCKET naming it while the object lives.
class NotifySink {
 public:
  explicit NotifySink(const std::string &name)
      : socket_(name), env_("NOTIFY_SOCKET", name.c_str()) {}
  bool ok() const { return socket_.ok(); }
  int fd() const { return socket_.fd(); }
  // Every datagram waiting now, oldest first (never blocks).
  std::vector<std::string> take() { return socket_.take(); }

 private:
  NotifySocket socket_;  // the bound socket
  ScopedEnv env_;        // NOTIFY_SOCKET pointing at it
};

// A context as start-up leaves it: fresh values, `outdir` (a '/' is appended),
// serial descriptor `fd`, and a configuration text.
void prepare_context(core::PollContext *ctx, const std::string &outdir, int fd,
                     const std::string &config = "");

}  // namespace testsupport
