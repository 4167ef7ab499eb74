// Whole-process test harness: child processes on pipes, a self-played adapter
// on a pseudo-terminal, private scratch trees and the stand-in's command log.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/notify_socket.h"
#include "support/pty.h"

namespace e2e {

using testsupport::Ms;
using SteadyTime = std::chrono::steady_clock::time_point;

// Binaries under test; sim_bin() is empty when the stand-in is not built.
std::string logger_bin();
std::string sim_bin();
// Directory of the shipped stand-in scenarios.
std::string scenario_dir();

// --- files (the helpers of every test) ---------------------------------------

using testsupport::count_of;
using testsupport::is_directory;
using testsupport::list_dir;
using testsupport::path_exists;
using testsupport::read_file;
using testsupport::replace_file;
using testsupport::split_lines;
using testsupport::write_file;
using testsupport::write_script;

// --- scratch tree ----------------------------------------------------------

// A private tree for one test, outside /tmp:
//   root/work      the logger's working directory (holds kelvinlog-config.txt)
//   root/work/out  the output directory (unless told not to create it)
//   root/aux       files of the test itself: stand-in link, scenario, logs, stubs
// Removed on destruction unless E2E_KEEP is set in the environment.
class Scratch {
 public:
  explicit Scratch(bool make_outdir = true);
  ~Scratch();
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;

  const std::string &root() const { return root_; }
  std::string work() const { return root_ + "/work"; }
  std::string out() const { return root_ + "/work/out"; }
  std::string out_file(const std::string &name) const { return out() + "/" + name; }
  std::string aux(const std::string &name) const { return root_ + "/aux/" + name; }
  void write_config(const std::string &text) const;

 private:
  std::string root_;
};

// What the directories around a logger run hold; compared before and after
// to catch files written outside its output and working directories.
struct Footprint {
  std::vector<std::string> root;
  std::vector<std::string> aux;
  std::vector<std::string> tmp;
};
Footprint take_footprint(const Scratch &s);
// Fails the test when the logger left anything beside its own files: the
// scratch root and aux listings must be unchanged, no new "*.txt" or
// "kelvinlog-tmp" may have appeared in /tmp, and the working directory may
// hold only the configuration, the output directory and `extra_work`.
void expect_no_stray_files(const Footprint &before, const Scratch &s,
                           const std::vector<std::string> &extra_work = {});

// --- child processes -------------------------------------------------------

enum class Stream { kOut, kErr };

// A child started with fork/execve, its stdout and stderr on pipes (stdout on
// the file `stdout_path` instead, when one is given). Signals go
// only to the pid it spawned; the destructor kills (SIGKILL) and reaps a child
// still running. The child also dies with the test process (PR_SET_PDEATHSIG).
class Process {
 public:
  Process(const std::vector<std::string> &argv, const std::vector<std::string> &env,
          const std::string &cwd, const char *stdout_path = nullptr);
  ~Process();
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  // Reads output until `text` has occurred `times` times in the stream, the
  // child has ended, or the timeout has passed.
  bool wait_for(const std::string &text, Ms timeout, int times = 1, Stream s = Stream::kOut);
  // Waits for the child to end; true when it has, with its output drained.
  bool wait_exit(Ms timeout);
  // True while the child has not ended (reaps it when it has).
  bool running();
  void signal(int sig);
  // SIGTERM and wait; true when it ended.
  bool terminate(Ms timeout = Ms(5000));
  // Reads whatever output arrives within `timeout` (at least one poll).
  void pump(Ms timeout);

  const std::string &out() const { return out_; }
  const std::string &err() const { return err_; }
  bool exited() const { return ended_ && exit_code_ >= 0; }
  int exit_code() const { return exit_code_; }      // -1 unless ended by exit
  int term_signal() const { return term_signal_; }  // 0 unless ended by a signal

 private:
  void reap(bool block);
  bool pipes_open() const { return out_fd_ >= 0 || err_fd_ >= 0; }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
  bool ended_ = false;
  int exit_code_ = -1;
  int term_signal_ = 0;
};

// Environment of every logger and stand-in run: PATH=/usr/bin:/bin only.
std::vector<std::string> plain_env();

// Starts the logger: argv = {logger, args...}. Unless the third argument
// (args[2]) holds 'f', the environment's PATH must begin with a stub directory
// (see StubBin) whose killall only records: anything else is refused and fails
// the test, so no test can reach the real process-killing commands.
std::unique_ptr<Process> start_logger(const std::vector<std::string> &args,
                                      const std::string &cwd,
                                      const std::vector<std::string> &env = plain_env(),
                                      const char *stdout_path = nullptr);

// Stub ps, killall and rm in root/aux/bin, for runs in which the
// single-instance guard may run. ps prints the list file; killall appends its
// arguments to the record file; rm delegates to /bin/rm. Every call is also
// appended to the calls file ("ps -A", "killall kelvinlog", "rm kelvinlog-tmp").
class StubBin {
 public:
  explicit StubBin(const Scratch &s);
  void set_process_list(const std::string &text) const;
  std::string dir() const { return dir_; }
  std::string killall_record() const { return read_file(record_, ""); }
  std::string calls() const { return read_file(calls_, ""); }
  // plain_env() with the stub directory first on PATH.
  std::vector<std::string> env() const;

 private:
  std::string dir_;
  std::string list_;
  std::string record_;
  std::string calls_;
};

// --- the adapter's side of the line ----------------------------------------

// A pseudo-terminal whose slave the logger opens as its serial device; the
// test plays the adapter on the master. A slave descriptor is held open so the
// master sees no hang-up before the logger has opened the line.
class PtyAdapter {
 public:
  struct Line {
    SteadyTime at;     // arrival of its line feed
    std::string text;  // without the line feed
  };

  PtyAdapter();
  ~PtyAdapter();
  PtyAdapter(const PtyAdapter &) = delete;
  PtyAdapter &operator=(const PtyAdapter &) = delete;

  const std::string &slave_path() const { return pty_.slave_path(); }
  void send(const std::string &bytes) { pty_.send(bytes); }
  // Reads from the logger until `text` has occurred `times` times in all the
  // bytes received, or the timeout has passed.
  bool wait_for(const std::string &text, Ms timeout, int times = 1);
  // Reads until `n` complete lines have arrived.
  bool wait_lines(std::size_t n, Ms timeout);
  const std::string &received() const { return received_; }
  const std::vector<Line> &lines() const { return lines_; }
  // The adapter is unplugged: master and the held slave are closed.
  void unplug();

 private:
  void read_some(Ms timeout);

  testsupport::Pty pty_;     // the adapter's end
  int slave_ = -1;           // the slave, held open until unplugged
  std::string received_;     // every byte the logger has sent
  std::string partial_;      // the line being received
  std::vector<Line> lines_;  // complete lines, oldest first
};

// --- the stand-in ------------------------------------------------------------

// One command as the stand-in logged it (escaped, without its line feed).
struct LoggedCommand {
  double epoch = 0.0;
  std::string text;
};

// adapter-sim on a link root/aux/tty with its command log root/aux/commands.log.
class StandIn {
 public:
  // Starts the stand-in with `options` added (scenario, rates, ...), waits for
  // its ready line. ok() tells whether it came.
  StandIn(const Scratch &s, const std::vector<std::string> &options);
  bool ok() const { return ok_; }
  std::string link() const { return link_; }
  Process &process() { return *proc_; }
  std::vector<LoggedCommand> commands() const;
  // Just the texts of commands().
  std::vector<std::string> command_texts() const;
  // Polls the command log until `pred` holds or the timeout has passed.
  bool wait_commands(const std::function<bool(const std::vector<std::string> &)> &pred,
                     Ms timeout) const;

 private:
  std::string link_;
  std::string log_;
  std::unique_ptr<Process> proc_;
  bool ok_ = false;
};

// --- the service manager's side of the notify protocol ---------------------------

// A datagram socket standing in for systemd's notify socket (the helper of
// every test): var() is the NOTIFY_SOCKET entry for a child's environment.
using NotifyListener = testsupport::NotifySocket;

// Writes a scenario file into root/aux and returns its path.
std::string write_scenario(const Scratch &s, const std::string &text);

}  // namespace e2e
