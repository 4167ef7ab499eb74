// Fuzz target: switch commands from MQTT, their topics and payloads, and control files.
//
// Input: two header bytes, the prefix, the payload, then the topic.
//   byte 0: prefix length (0-63, cut at the input's end);
//   byte 1: payload length (0-15, cut likewise).
// Prefix and topic end at their first NUL, as a topic string does.
// A topic is a command topic exactly when it is "<prefix>/<level>/switch/set"
// with a level of 1-19 characters without '/', and the level read from it
// prints back to the topic. Any label made a level gives a topic that parses
// back to that level. A payload is a state exactly for "0" and "1", with at
// most one line feed after it. A control file (the payload and the topic's
// first 32 bytes) is on exactly when it begins with '1', and pending orders
// are recognised as the logger reads them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "bridge/control.h"
#include "bridge/limits.h"
#include "bridge/topics.h"
#include "bridge_fuzz_support.h"

namespace {

using bridgefuzz::fail;

constexpr std::size_t kHeader = 2;
constexpr std::size_t kMaxInput = 600;
const std::string kSetLeaf = "/switch/set";

bool ends_with(const std::string &s, const std::string &end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

void check_topic(const std::string &prefix, const std::string &topic) {
  bridge::Level level;
  level.fill('\x7F');
  const bool parsed = bridge::parse_switch_topic(prefix.c_str(), topic.c_str(), level);
  // The same rule written out on strings.
  bool expected = false;
  const std::string head = prefix + "/";
  if (topic.size() > head.size() + kSetLeaf.size() && topic.compare(0, head.size(), head) == 0 &&
      ends_with(topic, kSetLeaf)) {
    const std::string mid = topic.substr(head.size(), topic.size() - head.size() - kSetLeaf.size());
    expected = !mid.empty() && mid.size() <= bridge::kLabelMax && mid.find('/') == std::string::npos;
  }
  if (parsed != expected) fail(parsed ? "foreign topic taken as a command" : "command topic missed", topic);
  if (!parsed) return;
  if (std::memchr(level.data(), '\0', level.size()) == nullptr) fail("level not terminated", topic);
  char again[bridge::kTopicSize + bridge::kPrefixMax];
  if (!bridge::label_topic(again, sizeof again, prefix.c_str(), level.data(), "switch/set") ||
      topic != again) {
    fail("level prints back to another topic", topic);
  }
}

void check_level_of_label(const std::string &prefix, const std::string &label) {
  bridge::Level level;
  bridge::topic_level(label.c_str(), level);
  const std::size_t len = strnlen(level.data(), level.size());
  if (len == level.size()) fail("level not terminated", label);
  if (len != (label.size() < bridge::kLabelMax ? label.size() : bridge::kLabelMax)) {
    fail("level not as long as the label", label);
  }
  for (std::size_t i = 0; i < len; ++i) {
    const auto c = static_cast<unsigned char>(level[i]);
    if (c == '+' || c == '#' || c == '/' || c < 0x20 || c >= 0x7F) fail("level holds a wildcard, '/' or control", label);
  }
  if (len == 0) return;
  char topic[bridge::kTopicSize + bridge::kPrefixMax];
  if (!bridge::label_topic(topic, sizeof topic, prefix.c_str(), level.data(), "switch/set")) return;
  bridge::Level back;
  if (!bridge::parse_switch_topic(prefix.c_str(), topic, back) ||
      std::strcmp(back.data(), level.data()) != 0) {
    fail("a label's command topic does not parse back to its level", label);
  }
}

void check_payload(const std::string &p) {
  const char state = bridge::switch_payload(p.data(), p.size());
  const bool expected = p == "0" || p == "1" || p == "0\n" || p == "1\n";
  if ((state != 0) != expected || (expected && state != p[0])) fail("payload read otherwise", p);
}

void check_control(const std::string &text) {
  const char state = bridge::control_switch_state(text.data(), text.size());
  if (state != (!text.empty() && text[0] == '1' ? '1' : '0')) fail("switch state read otherwise", text);
  const auto at = [&](std::size_t i) { return i < text.size() ? text[i] : '\0'; };
  bridge::ControlCheck expected = bridge::ControlCheck::kFree;
  if (at(1) == ';' && at(4) == ';') {
    expected = bridge::ControlCheck::kPendingConfig;
  } else if (at(1) != ';' && at(0) == 'r') {
    expected = bridge::ControlCheck::kPendingReset;
  }
  if (bridge::check_control_text(text.data(), text.size()) != expected) {
    fail("pending order read otherwise", text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader || size > kMaxInput) return 0;
  std::size_t pos = kHeader;
  const std::size_t plen = std::min<std::size_t>(data[0] & 63u, size - pos);
  const std::string prefix = bridgefuzz::c_text(data + pos, plen, plen);
  pos += plen;
  const std::size_t qlen = std::min<std::size_t>(data[1] & 15u, size - pos);
  const std::string payload(reinterpret_cast<const char *>(data + pos), qlen);
  pos += qlen;
  const std::string topic = bridgefuzz::c_text(data + pos, size - pos, size - pos);
  const std::string control(reinterpret_cast<const char *>(data + pos),
                            std::min<std::size_t>(size - pos, bridge::kControlReadMax));

  check_topic(prefix, topic);
  check_level_of_label(prefix, topic);
  check_payload(payload);
  check_control(payload);
  check_control(control);
  return 0;
}
