// Shared helpers of the unit tests: temporary directories, files, a fake engine
// clock, a pseudo-terminal standing in for the serial device, a ready context.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/poll_context.h"

namespace testsupport {

// A fresh directory under /tmp, removed with its files when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes `dir` the working directory for the lifetime of the object.
class ChdirGuard {
 public:
  explicit ChdirGuard(const std::string &dir);
  ~ChdirGuard();
  ChdirGuard(const ChdirGuard &) = delete;
  ChdirGuard &operator=(const ChdirGuard &) = delete;

 private:
  std::string old_;
};

// Whole file as a string; "<missing>" when it cannot be opened.
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
void write_file(const std::string &path, const std::string &content);

// The engine clock for tests: ticks and pauses cost no real time, `now` is set
// by the test, and the passes and paused seconds are counted. Its monotonic
// clock reads one millisecond per pass and a thousand per paused second.
struct FakeClock {
  static std::time_t now;
  static long ticks;
  static long paused_seconds;
  // Installs the fake clock and resets its counters; `start` is the time it shows.
  static void install(std::time_t start);
  // Restores the real clock.
  static void uninstall();
};

// A pseudo-terminal: `slave` is what the logger reads and writes as its serial
// descriptor (set to the logger's own settings), `master` is the adapter's side.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string &slave_path() const { return slave_path_; }
  // Writes `text` to the logger as the adapter would.
  void send(const std::string &text);
  // Everything the logger has written so far (non-blocking, drains the master).
  std::string drain();
  // Closes the master side: the adapter is gone.
  void close_master();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

// The service manager's end of the notify protocol: a datagram socket bound to
// `name` ("/path" or "@abstract", as NOTIFY_SOCKET names it). While the object
// lives, NOTIFY_SOCKET names it; the old value is put back afterwards.
class NotifySink {
 public:
  explicit NotifySink(const std::string &name);
  ~NotifySink();
  NotifySink(const NotifySink &) = delete;
  NotifySink &operator=(const NotifySink &) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Every datagram waiting now, oldest first (never blocks).
  std::vector<std::string> take();

 private:
  int fd_ = -1;
  std::string name_;
  bool had_old_ = false;
  std::string old_;
};

// A context as start-up leaves it: fresh values, `outdir` (a '/' is appended),
// serial descriptor `fd`, and a configuration text.
void prepare_context(PollContext *ctx, const std::string &outdir, int fd,
                     const std::string &config = "");

}  // namespace testsupport
