// Commands received by the simulated adapter: line splitting, parsing, escaping.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace adaptersim {

constexpr std::size_t kMaxCommandLen = 512;     // bytes of one command kept
constexpr std::size_t kConfigStringLen = 7;     // "c;xx;yy" of a configuration write

enum class CommandKind : std::uint8_t {
  kEmpty,    // lone line feed: the logger asks for the last answer again
  kSearch,   // $?
  kPoll,     // $<n> with an optional suffix
  kReset,    // $res
  kLedOn,    // $L+
  kLedOff,   // $L-
  kUnknown,  // anything else
};

enum class PollAction : std::uint8_t {
  kPlain,        // $<n>
  kOutputOn,     // $<n>;11 or $<n>;33
  kOutputOff,    // $<n>;00 or $<n>;22
  kConfigWrite,  // $<n>;<7 characters>
};

struct Command {
  CommandKind kind = CommandKind::kUnknown;
  std::uint32_t index = 0;                        // kPoll only
  PollAction action = PollAction::kPlain;         // kPoll only
  std::array<char, kConfigStringLen + 1> config{};  // kConfigWrite only
};

// Classifies one command line (the bytes before its line feed). A single
// trailing carriage return is ignored so that hand-typed CR LF lines work.
Command parse_command(std::string_view line);

// Escapes bytes for the command log: printable ASCII stays, '\' becomes "\\",
// every other byte "\xHH" (upper-case hex). Writes at most cap - 1 characters
// and a NUL, never a partial escape. Returns the number of characters written.
std::size_t escape_bytes(std::string_view in, char *out, std::size_t cap);

// Room for an escaped command of kMaxCommandLen bytes.
constexpr std::size_t kEscapedCommandCap = 4 * kMaxCommandLen + 1;

// Collects received bytes into commands split at '\n'. Bytes past
// kMaxCommandLen are counted but dropped.
class LineSplitter {
 public:
  // Takes bytes up to and including the first line feed. Returns how many
  // bytes were consumed; has_line() tells whether a command is complete.
  std::size_t push(const char *data, std::size_t n);
  bool has_line() const { return complete_; }
  // The completed command without its line feed, valid until clear_line().
  std::string_view line() const { return std::string_view(buf_.data(), len_); }
  // Bytes of the completed command that did not fit and were dropped.
  std::size_t dropped() const { return dropped_; }
  // Forgets the completed command and starts the next one.
  void clear_line();

 private:
  std::array<char, kMaxCommandLen> buf_{};
  std::size_t len_ = 0;
  std::size_t dropped_ = 0;
  bool complete_ = false;
};

}  // namespace adaptersim
