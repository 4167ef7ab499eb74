// The simulated bus adapter: answers to commands, device state and injected faults.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim_command.h"
#include "sim_scenario.h"

namespace adaptersim {

constexpr std::size_t kMaxGarbageLen = 80;   // bytes of a garbage line
constexpr std::size_t kLongLineLen = 300;    // characters of an over-long line
constexpr std::size_t kMaxAnswerLine = 320;  // bytes of any single answer line
constexpr std::size_t kMaxEchoedCommand = 200;  // command bytes echoed in "e;unknown"

// Answer lines of one command, each ending in '\n', in one fixed buffer large
// enough for a bus search of kMaxDevices plus the fault lines.
constexpr std::size_t kBatchBytes = 8192;

class Batch {
 public:
  // Appends `text` and a line feed. False (nothing appended) when full.
  bool add_line(std::string_view text);
  std::string_view bytes() const { return std::string_view(buf_.data(), len_); }
  bool empty() const { return len_ == 0; }
  std::size_t line_count() const { return lines_; }
  void clear() { len_ = 0; lines_ = 0; }

 private:
  std::array<char, kBatchBytes> buf_{};
  std::size_t len_ = 0;
  std::size_t lines_ = 0;
};

// Deterministic pseudo-random numbers (xorshift64*), the same on every host.
class Rng {
 public:
  explicit Rng(std::uint64_t seed);
  std::uint64_t next();
  // Uniform in [0, 1).
  double uniform();
  // Uniform in [0, n); 0 when n is 0.
  std::uint32_t below(std::uint32_t n);
  // True with probability p (p <= 0 never, p >= 1 always).
  bool chance(double p);

 private:
  std::uint64_t state_;
};

struct FaultRates {
  double retry = 0.0;    // answer line replaced by "<n>;??;"
  double bad_crc = 0.0;  // data line with a wrong checksum
  double garbage = 0.0;  // line of random high and control bytes before the answer
  double long_line = 0.0;  // line of 300 characters before the answer
  double missing = 0.0;  // poll answer dropped
};

constexpr std::uint64_t kNoLimit = UINT64_MAX;

struct AdapterSettings {
  FaultRates rates{};
  std::uint64_t seed = 1;
  std::uint64_t stop_after = kNoLimit;  // commands answered before falling silent
  std::uint64_t exit_after = kNoLimit;  // commands handled before unplugging
};

// What happened while handling one command, for traces and the main loop.
enum FaultBits : unsigned {
  kFaultRetry = 1u << 0,
  kFaultBadCrc = 1u << 1,
  kFaultGarbage = 1u << 2,
  kFaultLong = 1u << 3,
  kFaultMissing = 1u << 4,
  kResent = 1u << 5,       // an empty line fetched a held-back answer
  kSilent = 1u << 6,       // --stop-after reached: no answer
  kConfigWrite = 1u << 7,  // the poll carried a configuration string
};

struct Reaction {
  unsigned events = 0;   // FaultBits
  bool unplug = false;   // --exit-after reached with this command
};

class Adapter {
 public:
  // The adapter works on `scenario` in place: counters and output states change.
  Adapter(Scenario &scenario, const AdapterSettings &settings);

  // Handles one command line (without its line feed); the answer lines are
  // appended to `out`.
  Reaction handle(std::string_view line, Batch &out);

  std::uint64_t commands() const { return commands_; }

 private:
  void answer_search(Batch &out, Reaction &r);
  void answer_poll(const Command &cmd, Batch &out, Reaction &r);
  void add_noise(Batch &out, Reaction &r);
  void hold_back(std::string_view line);

  Scenario &sc_;
  AdapterSettings settings_;
  Rng rng_;
  std::uint64_t commands_ = 0;
  std::array<char, kMaxAnswerLine> held_{};  // answer replaced by "??"
  std::size_t held_len_ = 0;
  bool has_held_ = false;
};

}  // namespace adaptersim
