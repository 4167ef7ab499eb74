// Soak run of the poll engine through the test seam: thousands of cycles
// against an adapter played by this program with every fault it can show.
//
// The engine runs on the fake clock (a pass costs no real time) and talks to
// a pseudo-terminal whose other side is played here. After each pass the
// program knows which commands the engine must have sent (a search after the
// load pass, a poll when the polled entry or the repeat count moved, an empty
// line for each "??" answer the engine read) and waits for exactly those, so
// the run is deterministic for a seed. It fails on
//   - a cycle that does not end within a bounded number of passes,
//   - a command that does not come, or one that comes unasked,
//   - the engine's view of the line getting out of step with what was sent,
//   - more open descriptors at the end than after the warm-up,
//   - resident memory at the end above the warm-up figure plus a tolerance,
//   - no value file for a device that answered,
// and of course on any crash or exit of the engine.
//
//   soak_engine [--cycles N] [--devices N] [--seed N] [--rss-tolerance-kib N] [--verbose]
#include <dirent.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/main_loop.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "support/test_support.h"

namespace {

using namespace core;
using namespace engine;
using testsupport::FakeClock;

// --- settings ----------------------------------------------------------------

constexpr std::size_t kReadMax = 255;         // bytes one engine read takes at most
constexpr int kMaxDevices = 40;               // devices this adapter can play
constexpr int kMaxDelayPasses = 150;          // longest answer delay (beyond the 101-pass spacing)
constexpr int kCommandWaitMs = 3000;          // a command the engine owes must come within this
constexpr long kDefaultCycles = 10000;
constexpr long kDefaultRssToleranceKib = 256;
constexpr std::time_t kStartTime = 20000L * 86400 + 23 * 3600;  // 23:00 UTC: crosses the timesync window

struct Rates {
  double retry = 0.04;     // answer replaced by "<n>;??;", real one after the empty line
  double bad_crc = 0.05;   // data line with a wrong checksum
  double garbage = 0.05;   // line of random high and control bytes before the answer
  double long_line = 0.03; // line of 300 letters before the answer
  double missing = 0.03;   // poll answer dropped
  double delay = 0.05;     // poll answer sent 1..150 passes late
};

struct Options {
  long cycles = kDefaultCycles;
  int devices = 10;
  unsigned seed = 1;
  long rss_tolerance_kib = kDefaultRssToleranceKib;
  bool verbose = false;
};

[[noreturn]] void fail(const char *what) {
  std::fprintf(stderr, "soak_engine: FAIL: %s\n", what);
  std::exit(1);
}

bool parse_options(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--cycles" && has_value) {
      o->cycles = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "--devices" && has_value) {
      o->devices = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
    } else if (a == "--seed" && has_value) {
      o->seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--rss-tolerance-kib" && has_value) {
      o->rss_tolerance_kib = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "--verbose") {
      o->verbose = true;
    } else {
      return false;
    }
  }
  return o->cycles > 0 && o->devices >= 1 && o->devices <= kMaxDevices;
}

// --- the process's own resources ---------------------------------------------

int open_fd_count() {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) fail("cannot list /proc/self/fd");
  int n = 0;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n - 3;  // ".", ".." and the descriptor of the listing itself
}

long status_kib(const char *key) {
  std::FILE *f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) fail("cannot read /proc/self/status");
  std::array<char, 256> line{};
  long value = -1;
  const std::size_t key_len = std::strlen(key);
  while (std::fgets(line.data(), static_cast<int>(line.size()), f) != nullptr) {
    if (std::strncmp(line.data(), key, key_len) == 0 && line[key_len] == ':') {
      value = std::strtol(line.data() + key_len + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return value;
}

// --- the bus --------------------------------------------------------------------

enum class Kind { kTemp28, kTemp10, kCounter, kClimate };

struct Device {
  std::string id;
  std::string name;  // in the configuration; empty: files carry the id
  Kind kind;
  long value;        // 1/16 degree, 1/2 degree, or the counter
};

std::vector<Device> make_bus(int count) {
  std::vector<Device> bus;
  for (int i = 0; i < count; ++i) {
    char id[32];
    Device d{};
    switch (i % 5) {
      case 1:
        std::snprintf(id, sizeof id, "10A1B2C3D4E5F6%02X", i);
        d.kind = Kind::kTemp10;
        d.value = 39;
        break;
      case 3:
        std::snprintf(id, sizeof id, "28C0FFEE000000%02X", i);
        d.kind = Kind::kCounter;
        d.value = 10000;
        break;
      case 4:
        std::snprintf(id, sizeof id, "28C0FFEE100000%02X", i);
        d.kind = Kind::kClimate;
        d.value = 356;
        break;
      default:
        std::snprintf(id, sizeof id, "28FF4A1B021703%02X", i);
        d.kind = Kind::kTemp28;
        d.value = 344 + i;
        break;
    }
    d.id = id;
    if (i % 3 != 2) {
      char name[32];
      std::snprintf(name, sizeof name, "Dev%02d", i);
      d.name = name;
    }
    bus.push_back(d);
  }
  return bus;
}

std::string make_config(const std::vector<Device> &bus) {
  std::string text;
  for (const Device &d : bus) {
    if (d.name.empty()) continue;
    text += d.id + ";" + d.name;
    if (d.kind == Kind::kCounter) text += ";QV-S0";
    if (d.kind == Kind::kClimate) text += ";QV-HTX";
    text += "\n";
  }
  text += "S01;Garage;800\nS02;Heatpump;1000\n";
  return text;
}

// Nine data bytes of a device, the checksum (sum modulo 256) and "00".
std::string make_frame(Device *d, bool bad_crc) {
  std::array<unsigned, 9> b{};
  const unsigned v = static_cast<unsigned>(d->value);
  switch (d->kind) {
    case Kind::kTemp28:
    case Kind::kTemp10:
      b = {v & 0xFF, (v >> 8) & 0xFF, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C};
      break;
    case Kind::kCounter:
      b = {v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF, 100, 0, 0, 0x80, 0};
      d->value += 5;
      break;
    case Kind::kClimate:
      b = {v & 0xFF, (v >> 8) & 0xFF, 50, 0, 45, 0, 10, 0x80, 0};
      break;
  }
  unsigned sum = 0;
  for (unsigned x : b) sum += x;
  if (bad_crc) sum += 1 + (sum & 7);
  std::string frame;
  char pair[4];
  for (unsigned x : b) {
    std::snprintf(pair, sizeof pair, "%02X ", x & 0xFF);
    frame += pair;
  }
  std::snprintf(pair, sizeof pair, "%02X ", sum & 0xFF);
  frame += pair;
  frame += "00";
  return frame;
}

// --- what the engine's side of the line holds ---------------------------------

// The lines sent to the engine and not yet read, as the engine's reads take
// them: at most 255 bytes and never past a line end per read.
class LineModel {
 public:
  void push(const std::string &line) {
    lines_.push_back(line);
    bytes_ += line.size();
  }
  // One engine read: false when nothing waits.
  bool take(std::string *chunk) {
    if (lines_.empty()) return false;
    const std::string &front = lines_.front();
    const std::size_t n = std::min(kReadMax, front.size() - offset_);
    if (chunk != nullptr) chunk->assign(front, offset_, n);
    offset_ += n;
    bytes_ -= n;
    if (offset_ == front.size()) {
      lines_.pop_front();
      offset_ = 0;
    }
    return true;
  }
  std::size_t bytes() const { return bytes_; }

 private:
  std::deque<std::string> lines_;
  std::size_t offset_ = 0;
  std::size_t bytes_ = 0;
};

// A read the engine answers with an empty line: its text holds "??" before any NUL.
bool is_retry(const std::string &chunk) { return std::strstr(chunk.c_str(), "??") != nullptr; }

// --- the adapter ------------------------------------------------------------------

struct Stats {
  long passes = 0;
  long cycles = 0;
  long max_cycle_passes = 0;
  long commands = 0;
  long searches = 0;
  long polls = 0;
  long resets = 0;
  long empty_lines = 0;
  long retries = 0;
  long bad_crcs = 0;
  long garbage = 0;
  long long_lines = 0;
  long missing = 0;
  long delayed = 0;
  long answers = 0;
};

struct Delayed {
  long due_pass;
  std::string text;
};

class Adapter {
 public:
  Adapter(testsupport::PtyPair *pty, std::vector<Device> bus, unsigned seed, Stats *stats)
      : pty_(pty), bus_(std::move(bus)), rng_(seed), stats_(stats) {}

  LineModel &model() { return model_; }

  // Reads `expected` commands from the engine (waiting for them) plus any
  // already there, and answers each. Returns the number read.
  long serve(long expected, long pass) {
    long got = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCommandWaitMs);
    for (;;) {
      std::array<char, 512> buf{};
      const ssize_t n = read(pty_->master(), buf.data(), buf.size());
      if (n > 0) pending_.append(buf.data(), static_cast<std::size_t>(n));
      for (std::size_t eol; (eol = pending_.find('\n')) != std::string::npos;) {
        const std::string cmd = pending_.substr(0, eol);
        pending_.erase(0, eol + 1);
        answer(cmd, pass);
        ++got;
      }
      if (got >= expected && n <= 0) return got;
      if (n > 0) continue;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return got;
      pollfd p{pty_->master(), POLLIN, 0};
      poll(&p, 1, static_cast<int>(left.count()));
    }
  }

  // Sends the answers whose delay has run out.
  void send_due(long pass) {
    while (!delayed_.empty() && delayed_.front().due_pass <= pass) {
      send(delayed_.front().text);
      delayed_.pop_front();
    }
  }

 private:
  bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p; }
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  // Writes to the engine and waits until its side holds every byte.
  void send(const std::string &text) {
    model_.push(text);
    std::size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (done < text.size()) {
      const ssize_t n = write(pty_->master(), text.data() + done, text.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      if (std::chrono::steady_clock::now() > deadline) fail("pseudo-terminal does not take input");
    }
    for (;;) {
      int ready = 0;
      if (ioctl(pty_->slave(), FIONREAD, &ready) == 0 &&
          static_cast<std::size_t>(ready) >= model_.bytes()) {
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) fail("pseudo-terminal does not deliver");
      sched_yield();
    }
  }

  // Garbage and over-long lines that may precede any answer.
  void noise() {
    if (chance(rates_.garbage)) {
      ++stats_->garbage;
      std::string g;
      const int len = 1 + below(80);
      for (int i = 0; i < len; ++i) {
        int c = below(128 + 31);  // 0x80-0xFF, or a control byte 0x00-0x1F but the line feed
        c = c < 128 ? 0x80 + c : c - 128;
        if (c >= '\n') ++c;
        g += static_cast<char>(c);
      }
      send(g + "\n");
    }
    if (chance(rates_.long_line)) {
      ++stats_->long_lines;
      std::string l;
      for (int i = 0; i < 300; ++i) l += "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[below(36)];
      send(l + "\n");
    }
  }

  void search() {
    ++stats_->searches;
    for (std::size_t k = 0; k < bus_.size(); ++k) {
      noise();
      const std::string line = std::to_string(k) + ";o;" + bus_[k].id + "\n";
      if (chance(rates_.retry)) {
        ++stats_->retries;
        held_ = line;
        send(std::to_string(k) + ";??;\n");
      } else {
        send(line);
      }
    }
    s0_[0] += 10;
    s0_[1] += 20;
    send("$S0;" + std::to_string(s0_[0]) + ";" + std::to_string(s0_[1]) + "\n");
  }

  void poll_device(unsigned n, long pass) {
    ++stats_->polls;
    noise();
    if (n >= bus_.size()) {
      send(std::to_string(n) + ";e;no device\n");
      return;
    }
    if (chance(rates_.missing)) {
      ++stats_->missing;
      return;
    }
    const bool bad = chance(rates_.bad_crc);
    if (bad) ++stats_->bad_crcs;
    const std::string line = std::to_string(n) + ";o;" + make_frame(&bus_[n], bad) + "\n";
    ++stats_->answers;
    if (chance(rates_.retry)) {
      ++stats_->retries;
      held_ = line;
      send(std::to_string(n) + ";??;\n");
    } else if (chance(rates_.delay)) {
      ++stats_->delayed;
      const Delayed d{pass + 1 + below(kMaxDelayPasses), line};
      // kept in the order they fall due
      auto at = std::upper_bound(delayed_.begin(), delayed_.end(), d,
                                 [](const Delayed &a, const Delayed &b) {
                                   return a.due_pass < b.due_pass;
                                 });
      delayed_.insert(at, d);
    } else {
      send(line);
    }
  }

  void answer(const std::string &cmd, long pass) {
    ++stats_->commands;
    if (cmd.empty()) {
      ++stats_->empty_lines;
      if (!held_.empty()) send(held_);
      held_.clear();
    } else if (cmd == "$?") {
      search();
    } else if (cmd == "$res") {
      ++stats_->resets;
      send("$res;ok\n");
    } else if (cmd.size() > 1 && cmd[0] == '$' && cmd[1] >= '0' && cmd[1] <= '9') {
      poll_device(static_cast<unsigned>(std::strtoul(cmd.c_str() + 1, nullptr, 10)), pass);
    } else {
      send(cmd + ";e;unknown\n");
    }
  }

  testsupport::PtyPair *pty_;
  std::vector<Device> bus_;
  std::mt19937 rng_;
  Stats *stats_;
  Rates rates_;
  LineModel model_;
  std::string pending_;  // command bytes read but not yet a whole line
  std::string held_;     // the line held back by the last "??"
  std::deque<Delayed> delayed_;
  std::array<long, 2> s0_{1234, 5678};
};

// Passes a cycle may take at most: the load pass, the answers, the quiet
// passes, and per entry (plus every repeated poll of a configuration write)
// the poll spacing with the longest delay of an answer.
long cycle_bound(const PollContext *ctx) {
  const long entries = ctx->state == STATE_POLL || ctx->idmax > 0 ? ctx->idmax : 0;
  return 1 + 200 + 501 + (entries + 11) * (101 + kMaxDelayPasses + 10);
}

// The control files of the run: switches, a configuration write now and
// then, a bus reset now and then.
void write_control_files(const std::string &out, const std::vector<Device> &bus, long cycle) {
  if (cycle == 0) {
    testsupport::write_file(out + "/" + bus[0].name + "o.txt", "1\n");
    if (bus.size() > 1) testsupport::write_file(out + "/" + bus[1].name + "o.txt", "0\n");
  }
  if (bus.size() > 3 && cycle % 97 == 0) {
    testsupport::write_file(out + "/" + bus[3].name + "o.txt", "5;05;42\n");
  }
  if (bus.size() > 4 && cycle % 211 == 105) {
    testsupport::write_file(out + "/" + bus[4].name + "o.txt", "r\n");
  }
}

std::string label_of(const Device &d) { return d.name.empty() ? d.id : d.name; }

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (!parse_options(argc, argv, &opt)) {
    std::fprintf(stderr,
                 "usage: soak_engine [--cycles N] [--devices 1..%d] [--seed N] "
                 "[--rss-tolerance-kib N] [--verbose]\n",
                 kMaxDevices);
    return 2;
  }
  // The engine's traces go nowhere (fully buffered, cheap); reports go to stderr.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("cannot silence stdout");

  testsupport::TempDir work;
  testsupport::TempDir out;
  testsupport::ChdirGuard cwd(work.path());
  testsupport::PtyPair pty;
  if (pty.slave() < 0) fail("no pseudo-terminal");
  const std::vector<Device> bus = make_bus(opt.devices);
  testsupport::write_file(work.file("kelvinlog-config.txt"), make_config(bus));

  auto ctx = std::make_unique<PollContext>();
  testsupport::prepare_context(ctx.get(), out.path(), pty.slave());
  FakeClock::install(kStartTime);

  Stats stats;
  Adapter adapter(&pty, bus, opt.seed, &stats);
  const long warmup = opt.cycles >= 1000 ? 100 : opt.cycles / 10;
  int fds_warm = -1;
  long rss_warm = -1;
  long rss_max = 0;
  int fds_max = 0;
  long cycle_passes = 0;
  long unasked = 0;
  const auto started = std::chrono::steady_clock::now();

  while (stats.cycles < opt.cycles || ctx->state != STATE_LOAD) {
    const int prev_state = ctx->state;
    const int prev_idi = ctx->idi;
    const int prev_repolls = ctx->repolls;
    const int prev_reset = ctx->reset_pending;

    if (prev_state == STATE_LOAD) {
      if (stats.cycles == warmup) {
        fds_warm = open_fd_count();
        rss_warm = status_kib("VmRSS");
        fds_max = fds_warm;
        rss_max = rss_warm;
      }
      if (stats.cycles > warmup && stats.cycles % 1000 == 0) {
        fds_max = std::max(fds_max, open_fd_count());
        rss_max = std::max(rss_max, status_kib("VmRSS"));
        if (opt.verbose) {
          std::fprintf(stderr, "cycle %ld: fds %d, VmRSS %ld KiB, longest cycle %ld passes\n",
                       stats.cycles, open_fd_count(), status_kib("VmRSS"),
                       stats.max_cycle_passes);
        }
      }
      if (stats.cycles >= opt.cycles) break;
      write_control_files(out.path(), bus, stats.cycles);
      ++stats.cycles;
      cycle_passes = 0;
    }

    run_pass(ctx.get());
    ++stats.passes;
    ++cycle_passes;
    FakeClock::now = kStartTime + (FakeClock::ticks + 1000 * FakeClock::paused_seconds) / 1000;

    // What the engine read in this pass, and the empty lines it owes for it.
    LineModel &model = adapter.model();
    const std::size_t bytes_before = model.bytes();
    long expected = 0;
    if (prev_state == STATE_LOAD && prev_reset) model.take(nullptr);  // read after "$res"
    for (std::string chunk; model.take(&chunk);) {
      if (!is_retry(chunk)) break;
      ++expected;
      model.take(nullptr);  // the read that follows the empty line
    }
    if (bytes_before > 0) {
      int left = -1;
      if (ioctl(pty.slave(), FIONREAD, &left) != 0 ||
          static_cast<std::size_t>(left) != model.bytes()) {
        std::fprintf(stderr, "soak_engine: engine holds %d bytes, adapter expects %zu\n", left,
                     model.bytes());
        fail("the engine's reads are out of step with the adapter's lines");
      }
    }
    if (prev_state == STATE_LOAD) expected += 1 + (prev_reset ? 1 : 0);
    if (prev_state == STATE_POLL && (ctx->idi != prev_idi || ctx->repolls != prev_repolls)) {
      ++expected;
    }
    if (expected > 0) {
      const long got = adapter.serve(expected, stats.passes);
      if (got < expected) {
        std::fprintf(stderr, "soak_engine: cycle %ld pass %ld: %ld of %ld commands came\n",
                     stats.cycles, cycle_passes, got, expected);
        fail("a command the engine owed did not come");
      }
      unasked += got - expected;
    }
    adapter.send_due(stats.passes);

    if (ctx->idi < 0 || ctx->idi > static_cast<int>(kTableEntries) ||
        ctx->idmax > static_cast<int>(kTableEntries)) {
      fail("entry counters outside the device table");
    }
    if (cycle_passes > cycle_bound(ctx.get())) {
      std::fprintf(stderr, "soak_engine: cycle %ld: %ld passes, state %d, idi %d, idmax %d\n",
                   stats.cycles, cycle_passes, ctx->state, ctx->idi, ctx->idmax);
      fail("a cycle did not end within its bound");
    }
    if (ctx->state == STATE_LOAD && prev_state != STATE_LOAD) {
      stats.max_cycle_passes = std::max(stats.max_cycle_passes, cycle_passes);
    }
  }

  // Nothing may come that was not asked for.
  unasked += adapter.serve(0, stats.passes);
  FakeClock::uninstall();
  const int fds_end = open_fd_count();
  const long rss_end = status_kib("VmRSS");
  rss_max = std::max(rss_max, rss_end);
  fds_max = std::max(fds_max, fds_end);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::fprintf(stderr,
               "soak_engine: %ld cycles of %d devices, %ld passes in %.1f s (%.2f us/pass)\n"
               "  commands %ld: searches %ld, polls %ld, bus resets %ld, empty lines %ld\n"
               "  answers %ld; faults: retries %ld, bad checksums %ld, garbage lines %ld, "
               "over-long lines %ld, missing %ld, delayed %ld\n"
               "  longest cycle %ld passes (bound for %d entries: %ld)\n"
               "  open descriptors after warm-up %d, highest %d, at the end %d\n"
               "  VmRSS after warm-up %ld KiB, highest %ld KiB, at the end %ld KiB "
               "(tolerance %ld KiB), VmHWM %ld KiB\n",
               stats.cycles, opt.devices, stats.passes, seconds,
               1e6 * seconds / static_cast<double>(stats.passes), stats.commands,
               stats.searches, stats.polls, stats.resets, stats.empty_lines, stats.answers,
               stats.retries, stats.bad_crcs, stats.garbage, stats.long_lines, stats.missing,
               stats.delayed, stats.max_cycle_passes, opt.devices + 2,
               1 + 200 + 501 + (opt.devices + 2L + 11) * (101 + kMaxDelayPasses + 10), fds_warm,
               fds_max, fds_end, rss_warm, rss_max, rss_end, opt.rss_tolerance_kib,
               status_kib("VmHWM"));

  bool ok = true;
  if (unasked != 0) {
    std::fprintf(stderr, "soak_engine: FAIL: %ld commands came unasked\n", unasked);
    ok = false;
  }
  if (fds_warm >= 0 && fds_max > fds_warm) {
    std::fprintf(stderr, "soak_engine: FAIL: open descriptors grew from %d to %d\n", fds_warm,
                 fds_max);
    ok = false;
  }
  if (rss_warm >= 0 && rss_end > rss_warm + opt.rss_tolerance_kib) {
    std::fprintf(stderr, "soak_engine: FAIL: VmRSS grew from %ld to %ld KiB\n", rss_warm,
                 rss_end);
    ok = false;
  }
  for (const Device &d : bus) {
    const std::string value = testsupport::read_file(out.file(label_of(d) + "v.txt"));
    if (value == "<missing>" || value.empty() || value.back() != '\n') {
      std::fprintf(stderr, "soak_engine: FAIL: value file of %s: '%s'\n", label_of(d).c_str(),
                   value.c_str());
      ok = false;
    }
  }
  std::fprintf(stderr, "soak_engine: %s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
