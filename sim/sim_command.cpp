// Command line splitting, classification and log escaping of the simulated adapter.
#include "sim_command.h"

#include <cstdio>
#include <cstring>

namespace adaptersim {

namespace {

constexpr std::size_t kMaxIndexDigits = 9;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Command parse_command(std::string_view line) {
  Command cmd{};
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) {
    cmd.kind = CommandKind::kEmpty;
    return cmd;
  }
  if (line == "$?") {
    cmd.kind = CommandKind::kSearch;
  } else if (line == "$res") {
    cmd.kind = CommandKind::kReset;
  } else if (line == "$L+") {
    cmd.kind = CommandKind::kLedOn;
  } else if (line == "$L-") {
    cmd.kind = CommandKind::kLedOff;
  }
  if (cmd.kind != CommandKind::kUnknown || line[0] != '$') return cmd;

  std::size_t i = 1;
  std::uint32_t index = 0;
  while (i < line.size() && is_digit(line[i])) {
    if (i > kMaxIndexDigits) return cmd;
    index = index * 10 + static_cast<std::uint32_t>(line[i] - '0');
    ++i;
  }
  if (i == 1) return cmd;  // no digits after '$'
  std::string_view suffix = line.substr(i);
  PollAction action = PollAction::kPlain;
  if (!suffix.empty()) {
    if (suffix[0] != ';') return cmd;
    suffix.remove_prefix(1);
    if (suffix == "11" || suffix == "33") {
      action = PollAction::kOutputOn;
    } else if (suffix == "00" || suffix == "22") {
      action = PollAction::kOutputOff;
    } else if (suffix.size() == kConfigStringLen) {
      action = PollAction::kConfigWrite;
      std::memcpy(cmd.config.data(), suffix.data(), kConfigStringLen);
      cmd.config[kConfigStringLen] = '\0';
    } else {
      return cmd;
    }
  }
  cmd.kind = CommandKind::kPoll;
  cmd.index = index;
  cmd.action = action;
  return cmd;
}

std::size_t escape_bytes(std::string_view in, char *out, std::size_t cap) {
  if (out == nullptr || cap == 0) return 0;
  std::size_t n = 0;
  for (char c : in) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '\\') {
      if (n + 2 >= cap) break;
      out[n++] = '\\';
      out[n++] = '\\';
    } else if (u >= 0x20 && u < 0x7F) {
      if (n + 1 >= cap) break;
      out[n++] = c;
    } else {
      if (n + 4 >= cap) break;
      std::snprintf(out + n, cap - n, "\\x%02X", u);
      n += 4;
    }
  }
  out[n] = '\0';
  return n;
}

std::size_t LineSplitter::push(const char *data, std::size_t n) {
  if (complete_) return 0;
  std::size_t i = 0;
  while (i < n) {
    const char c = data[i++];
    if (c == '\n') {
      complete_ = true;
      break;
    }
    if (len_ < buf_.size()) {
      buf_[len_++] = c;
    } else {
      ++dropped_;
    }
  }
  return i;
}

void LineSplitter::clear_line() {
  len_ = 0;
  dropped_ = 0;
  complete_ = false;
}

}  // namespace adaptersim
