// The 1 ms loop and the loop that sleeps until due, on the same scripted bus:
// the same commands at the same passes, the same output byte for byte.
//
// A played adapter answers on a packet socket (one message per line, as line
// mode hands them over); a clock of its own counts passes and delivers what
// the script lets arrive at fractions of a pass. Each loop runs in a child
// process, so that the loss of the adapter may end it as it ends the logger.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/clock.h"
#include "engine_fixture.h"

namespace enginetest {
namespace {

// A control file that appears `at` (0: before the start).
struct FileAt {
  double at;
  std::string name, text;
};

// One bus and what happens around it.
struct Script {
  std::string name;
  int devices = 0;                   // family 28 sensors (sensor_id(i))
  long passes = 0;                   // passes both loops run
  std::vector<double> delays{0.5};   // answer delays in passes, poll after poll
  bool s0 = false;                   // the search answers end with an S0 line
  bool split = false;                // each answer comes in two pieces, a pass apart
  int bad_poll = -1;                 // this poll (from 0) is answered with a bad checksum
  int silent_device = -1;            // this device does not answer its first polls...
  int silent_polls = 0;              // ...this many of them
  std::string config;                // kelvinlog-config.txt
  std::vector<FileAt> files;         // control files
  double loss_at = 0;                // > 0: the adapter goes away then
  std::time_t start = kNoon;         // calendar time at the first pass
};

// What one loop did.
struct Outcome {
  int status = -1;      // exit status of the child
  std::string stdout_text, stderr_text, commands, files;
  long waits = -1;      // passes the sleeping loop ran (-1: it did not end normally)
};

// The played adapter and the clock it shares with the engine. Time counts
// passes, and 1000 per paused second; a pass reads at its whole number.
class Bus {
 public:
  Bus(const Script &s, int fd, int log, std::string outdir)
      : s_(s), fd_(fd), log_(log), outdir_(std::move(outdir)) {
    for (const FileAt &f : s.files) {
      if (f.at > 0) events_.insert({f.at, {kFile, f.name, f.text}});
    }
    if (s.loss_at > 0) events_.insert({s.loss_at, {kLoss, "", ""}});
  }
  long ticks() const { return ticks_; }
  long waits() const { return waits_; }

  void tick() {
    collect();
    ++ticks_;
    deliver();
  }
  long wait(int fd, long passes) {
    collect();
    ++waits_;
    long ended = passes;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
      ended = 1;
    } else {
      for (const auto &e : events_) {  // anything that comes on the line wakes it, a piece too
        if (e.second.kind == kFile) continue;
        ended = std::min(ended, std::max(1L, static_cast<long>(std::ceil(e.first - now()))));
        break;
      }
    }
    ended = std::min(ended, std::max(1L, s_.passes - ticks_));  // stop where the 1 ms run stops
    ticks_ += ended;
    deliver();
    return ended;
  }
  void pause(unsigned seconds) {
    collect();
    paused_ += seconds;
    deliver();
  }
  std::time_t calendar() const { return s_.start + static_cast<std::time_t>(now() / 1000); }
  double now() const { return static_cast<double>(ticks_) + 1000.0 * paused_; }

 private:
  enum Kind { kBytes, kFile, kLoss };
  struct Event {
    Kind kind;
    std::string a, b;
  };

  void at(double delay, const std::string &bytes) {
    events_.insert({now() + delay, {kBytes, bytes, ""}});
  }

  // The commands the engine wrote since the last look, logged with their pass and answered.
  void collect() {
    char buf[512];
    for (ssize_t n; fd_ >= 0 && (n = recv(fd_, buf, sizeof buf, 0)) > 0;) {
      const std::string cmd(buf, static_cast<std::size_t>(n));
      const std::string entry = std::to_string(ticks_) + " " + cmd;
      if (write(log_, entry.data(), entry.size()) < 0) std::_Exit(3);
      answer(cmd);
    }
  }

  void answer(const std::string &cmd) {
    if (cmd == "$?\n") {
      std::string lines;
      for (int i = 0; i < s_.devices; ++i) lines += std::to_string(i) + ";o;" + sensor_id(i) + "\n";
      if (s_.s0) lines += "$S0;1001;4000\n";
      at(0.5, lines);
    } else if (cmd == "$res\n") {
      at(0.5, "$res;ok\n");
    } else if (cmd.size() > 1 && cmd[0] == '$' && cmd[1] >= '0' && cmd[1] <= '9') {
      const int device = std::atoi(cmd.c_str() + 1);
      const int poll = polls_++;
      if (device == s_.silent_device && silenced_ < s_.silent_polls) {
        ++silenced_;
        return;
      }
      const std::string line =
          std::to_string(device) + ";o;" + (poll == s_.bad_poll ? kFrameBadSum : kFrame85) + "\n";
      const double delay = s_.delays[static_cast<std::size_t>(poll) % s_.delays.size()];
      if (s_.split) {
        at(delay, line.substr(0, 10));
        at(delay + 1, line.substr(10));
      } else {
        at(delay, line);
      }
    }
  }

  // Lets everything due by now arrive: bytes joined into lines, as line mode does.
  void deliver() {
    while (!events_.empty() && events_.begin()->first <= now()) {
      const Event e = events_.begin()->second;
      events_.erase(events_.begin());
      if (e.kind == kFile) {
        testsupport::write_file(outdir_ + "/" + e.a, e.b);
      } else if (e.kind == kLoss) {
        close(fd_);
        fd_ = -1;
      } else {
        partial_ += e.a;
        for (std::size_t eol; fd_ >= 0 && (eol = partial_.find('\n')) != std::string::npos;) {
          for (std::size_t k = 0; k <= eol; k += kLineReadMax) {
            if (send(fd_, partial_.data() + k, std::min(kLineReadMax, eol + 1 - k), 0) < 0) {
              std::_Exit(4);
            }
          }
          partial_.erase(0, eol + 1);
        }
      }
    }
  }

  const Script &s_;
  int fd_;
  int log_;
  std::string outdir_;
  std::multimap<double, Event> events_;
  std::string partial_;
  long ticks_ = 0;
  long paused_ = 0;
  long waits_ = 0;
  int polls_ = 0;
  int silenced_ = 0;
};

Bus *g_bus = nullptr;
const EngineClock kBusClock{
    [] { g_bus->tick(); }, [](int fd, long passes) { return g_bus->wait(fd, passes); },
    [](unsigned seconds) { g_bus->pause(seconds); }, [] { return g_bus->calendar(); },
    [] { return static_cast<std::int64_t>(g_bus->now()); }};

std::string file_texts(const std::string &dir) {
  std::string all;
  for (const std::string &name : testsupport::list_dir(dir)) {
    all += "== " + name + "\n" + testsupport::read_file(dir + "/" + name);
  }
  return all;
}

// Runs one loop on the script in a child, in fresh `work` and `out` directories.
Outcome run_loop(const Script &s, bool sleeping, const std::string &work, const std::string &out) {
  for (const std::string &dir : {work, out}) {
    testsupport::remove_tree(dir);
    testsupport::make_dirs(dir);
  }
  testsupport::write_file(work + "/kelvinlog-config.txt", s.config);
  for (const FileAt &f : s.files) {
    if (f.at <= 0) testsupport::write_file(out + "/" + f.name, f.text);
  }
  const std::string log = work + "/../commands", so = work + "/../stdout",
                    se = work + "/../stderr", waits = work + "/../waits";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, sv) != 0) std::_Exit(5);
    if (std::freopen(so.c_str(), "w", stdout) == nullptr ||
        std::freopen(se.c_str(), "w", stderr) == nullptr || chdir(work.c_str()) != 0) {
      std::_Exit(6);
    }
    const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    static PollContext ctx;
    testsupport::prepare_context(&ctx, out, sv[0]);
    ctx.debug = 1;
    Bus bus(s, sv[1], log_fd, out);
    g_bus = &bus;
    install_clock(&kBusClock);
    while (bus.ticks() < s.passes) {
      if (sleeping) {
        run_pass_and_wait(&ctx);
      } else {
        run_pass(&ctx);
      }
    }
    testsupport::write_file(waits, std::to_string(bus.waits()));
    std::fflush(nullptr);
    std::_Exit(0);
  }
  Outcome o;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return o;
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.stdout_text = testsupport::read_file(so);
  o.stderr_text = testsupport::read_file(se);
  o.commands = testsupport::read_file(log);
  o.files = file_texts(out);
  const std::string w = testsupport::read_file(waits, "-1");
  o.waits = std::stol(w);
  testsupport::remove_tree(waits);
  return o;
}

std::vector<Script> scripts() {
  std::vector<Script> all;
  auto add = [&all](const char *name, int devices, long passes) -> Script & {
    all.push_back(Script{});
    all.back().name = name;
    all.back().devices = devices;
    all.back().passes = passes;
    return all.back();
  };
  add("empty_bus", 0, 1600);
  add("bus_of_64", 64, 7300);
  add("answers_late_by_0_to_3_passes", 4, 2000).delays = {0.25, 1.5, 2.75, 3.9};
  add("line_in_two_pieces_across_a_grid_point", 3, 1400).split = true;
  Script &write = add("configuration_write_and_its_repeated_polls", 3, 2000);
  write.files = {{0, sensor_id(1) + "o.txt", "1;05;42\n"}};
  write.silent_device = 1;
  write.silent_polls = 2;
  add("bad_checksum", 3, 900).bad_poll = 1;
  Script &s0 = add("s0_line", 2, 1500);
  s0.s0 = true;
  s0.config = "S01;Garage;800\nS02;Heatpump;1000\n";
  add("control_file_appears_mid_cycle", 3, 2500).files = {
      {1600.5, sensor_id(0) + "o.txt", "r\n"}};
  Script &sync = add("timesync_window", 2, 2200);
  sync.config = sensor_id(0) + ";Meter;QV-S0\n" + sensor_id(1) + ";Air;QV-HTX\n";
  sync.files = {{0, "Metero.txt", "1\n"}, {0, "Airo.txt", "0\n"}};
  sync.start = 20000 * kDay + 358;  // the window opens during the run
  add("adapter_lost", 3, 2000).loss_at = 1620.5;
  return all;
}

TEST(LoopEquivalence, SleepingLoopMatchesTheOneMillisecondLoopPassForPass) {
  SKIP_UNLESS_FORK_WORKS();
  testsupport::TempDir root;
  const std::string work = root.file("work"), out = root.file("out");
  for (const Script &s : scripts()) {
    SCOPED_TRACE(s.name);
    const Outcome ticking = run_loop(s, false, work, out);
    const Outcome sleeping = run_loop(s, true, work, out);
    EXPECT_EQ(sleeping.status, ticking.status);
    EXPECT_EQ(ticking.status, s.loss_at > 0 ? 255 : 0);
    EXPECT_NE(ticking.commands.find(" $?\n"), std::string::npos);
    EXPECT_EQ(sleeping.commands, ticking.commands);
    EXPECT_EQ(sleeping.stdout_text, ticking.stdout_text);
    EXPECT_EQ(sleeping.stderr_text, ticking.stderr_text);
    EXPECT_EQ(sleeping.files, ticking.files);
    // It did sleep over the empty passes.
    if (s.loss_at == 0) {
      EXPECT_LT(sleeping.waits * 4, s.passes) << sleeping.waits;
    }
  }
}

}  // namespace
}  // namespace enginetest
