// Answers of the simulated bus adapter, with the faults a flaky adapter shows.
#include "sim_adapter.h"

#include <cstdio>
#include <cstring>

namespace adaptersim {

namespace {

using LineText = std::array<char, kMaxAnswerLine>;

constexpr char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::uint32_t kAlnumCount = sizeof(kAlnum) - 1;
constexpr std::uint32_t kHighBytes = 0x80;       // 0x80-0xFF
constexpr std::uint32_t kControlBytes = 0x1F - 1;  // 0x01-0x1F without 0x0A

// A search answer of a full bus ("199;o;<id>"), the S0 line and both noise
// lines must fit one batch.
static_assert(kMaxDevices <= 999, "device index has at most three digits");
static_assert(kMaxDevices * (3 + 3 + kRomIdLen + 1) + 27 + (kMaxGarbageLen + 1) +
                      (kLongLineLen + 1) <= kBatchBytes,
              "batch too small for a full bus search");

// Length of a formatted line, clamped to its buffer.
std::size_t text_len(int n, const LineText &buf) {
  if (n < 0) return 0;
  auto len = static_cast<std::size_t>(n);
  return len < buf.size() ? len : buf.size() - 1;
}

}  // namespace

bool Batch::add_line(std::string_view text) {
  if (text.size() + 1 > buf_.size() - len_) return false;
  std::memcpy(buf_.data() + len_, text.data(), text.size());
  len_ += text.size();
  buf_[len_++] = '\n';
  ++lines_;
  return true;
}

Rng::Rng(std::uint64_t seed) {
  // One splitmix64 step spreads small seeds; the state must never be zero.
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  state_ = (z == 0) ? 0x2545F4914F6CDD1Dull : z;
}

std::uint64_t Rng::next() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

double Rng::uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

std::uint32_t Rng::below(std::uint32_t n) {
  if (n == 0) return 0;
  return static_cast<std::uint32_t>((next() >> 32) % n);
}

bool Rng::chance(double p) { return uniform() < p; }

Adapter::Adapter(Scenario &scenario, const AdapterSettings &settings)
    : sc_(scenario), settings_(settings), rng_(settings.seed) {}

Reaction Adapter::handle(std::string_view line, Batch &out) {
  Reaction r{};
  ++commands_;
  if (commands_ > settings_.stop_after) {
    r.events |= kSilent;
  } else {
    const Command cmd = parse_command(line);
    switch (cmd.kind) {
      case CommandKind::kEmpty:
        if (has_held_) {
          out.add_line(std::string_view(held_.data(), held_len_));
          has_held_ = false;
          r.events |= kResent;
        }
        break;
      case CommandKind::kSearch:
        answer_search(out, r);
        break;
      case CommandKind::kPoll:
        answer_poll(cmd, out, r);
        break;
      case CommandKind::kReset:
        add_noise(out, r);
        out.add_line("$res;ok");
        break;
      case CommandKind::kLedOn:
        add_noise(out, r);
        out.add_line("$L+;ok");
        break;
      case CommandKind::kLedOff:
        add_noise(out, r);
        out.add_line("$L-;ok");
        break;
      case CommandKind::kUnknown: {
        add_noise(out, r);
        std::string_view echo = line;
        if (!echo.empty() && echo.back() == '\r') echo.remove_suffix(1);
        if (echo.size() > kMaxEchoedCommand) echo = echo.substr(0, kMaxEchoedCommand);
        LineText text{};
        const int n = std::snprintf(text.data(), text.size(), "%.*s;e;unknown",
                                    static_cast<int>(echo.size()), echo.data());
        out.add_line(std::string_view(text.data(), text_len(n, text)));
        break;
      }
    }
  }
  if (commands_ >= settings_.exit_after) r.unplug = true;
  return r;
}

void Adapter::answer_search(Batch &out, Reaction &r) {
  add_noise(out, r);
  const bool retry = rng_.chance(settings_.rates.retry);
  std::size_t victim = SIZE_MAX;
  if (retry && sc_.device_count > 0) {
    victim = rng_.below(static_cast<std::uint32_t>(sc_.device_count));
    r.events |= kFaultRetry;
  }
  LineText text{};
  for (std::size_t k = 0; k < sc_.device_count; ++k) {
    int n = std::snprintf(text.data(), text.size(), "%zu;o;%s", k, sc_.devices[k].rom.data());
    std::string_view answer(text.data(), text_len(n, text));
    if (k == victim) {
      hold_back(answer);
      n = std::snprintf(text.data(), text.size(), "%zu;??;", k);
      answer = std::string_view(text.data(), text_len(n, text));
    }
    out.add_line(answer);
  }
  S0Channels &s0 = sc_.s0;
  if (s0.present) {
    const int n = std::snprintf(text.data(), text.size(), "$S0;%lu;%lu",
                                static_cast<unsigned long>(s0.count[0]),
                                static_cast<unsigned long>(s0.count[1]));
    out.add_line(std::string_view(text.data(), text_len(n, text)));
    for (std::size_t c = 0; c < s0.count.size(); ++c) s0.count[c] += s0.increase[c];
  }
}

void Adapter::answer_poll(const Command &cmd, Batch &out, Reaction &r) {
  const bool missing = rng_.chance(settings_.rates.missing);
  if (cmd.action == PollAction::kConfigWrite) r.events |= kConfigWrite;

  LineText text{};
  int n = 0;
  bool bad_crc = false;
  if (cmd.index < sc_.device_count) {
    Device &d = sc_.devices[cmd.index];
    if (cmd.action == PollAction::kOutputOn) d.output_on = true;
    if (cmd.action == PollAction::kOutputOff) d.output_on = false;
    const DataBytes data = encode_device(d);
    if (d.kind == DeviceKind::kCounter) d.counter += d.counter_increase;  // wraps like the module
    if (missing) {
      r.events |= kFaultMissing;
      return;
    }
    add_noise(out, r);
    const bool retry = rng_.chance(settings_.rates.retry);
    bad_crc = rng_.chance(settings_.rates.bad_crc);
    std::array<char, kFrameTextLen + 1> frame{};
    format_frame(data, bad_crc, frame.data(), frame.size());
    n = std::snprintf(text.data(), text.size(), "%lu;o;%s", static_cast<unsigned long>(cmd.index),
                      frame.data());
    if (bad_crc) r.events |= kFaultBadCrc;
    if (!retry) {
      out.add_line(std::string_view(text.data(), text_len(n, text)));
      return;
    }
  } else {
    if (missing) {
      r.events |= kFaultMissing;
      return;
    }
    add_noise(out, r);
    const bool retry = rng_.chance(settings_.rates.retry);
    n = std::snprintf(text.data(), text.size(), "%lu;e;no device",
                      static_cast<unsigned long>(cmd.index));
    if (!retry) {
      out.add_line(std::string_view(text.data(), text_len(n, text)));
      return;
    }
  }
  // Retry: the real answer waits for the logger's empty line.
  hold_back(std::string_view(text.data(), text_len(n, text)));
  r.events |= kFaultRetry;
  n = std::snprintf(text.data(), text.size(), "%lu;??;", static_cast<unsigned long>(cmd.index));
  out.add_line(std::string_view(text.data(), text_len(n, text)));
}

void Adapter::add_noise(Batch &out, Reaction &r) {
  const bool garbage = rng_.chance(settings_.rates.garbage);
  const bool long_line = rng_.chance(settings_.rates.long_line);
  if (garbage) {
    std::array<char, kMaxGarbageLen> bytes{};
    const std::size_t len = 1 + rng_.below(kMaxGarbageLen);
    for (std::size_t i = 0; i < len; ++i) {
      const std::uint32_t pick = rng_.below(kHighBytes + kControlBytes);
      std::uint32_t value = 0;
      if (pick < kHighBytes) {
        value = 0x80 + pick;
      } else {
        value = 0x01 + (pick - kHighBytes);
        if (value >= 0x0A) ++value;  // never a line feed
      }
      bytes[i] = static_cast<char>(value);
    }
    out.add_line(std::string_view(bytes.data(), len));
    r.events |= kFaultGarbage;
  }
  if (long_line) {
    std::array<char, kLongLineLen> chars{};
    for (char &c : chars) c = kAlnum[rng_.below(kAlnumCount)];
    out.add_line(std::string_view(chars.data(), chars.size()));
    r.events |= kFaultLong;
  }
}

void Adapter::hold_back(std::string_view line) {
  held_len_ = line.size() < held_.size() ? line.size() : held_.size();
  std::memcpy(held_.data(), line.data(), held_len_);
  has_held_ = true;
}

}  // namespace adaptersim
