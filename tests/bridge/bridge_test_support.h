// Helpers of the bridge's unit tests: the shared file helpers, a recording sink,
// captured log lines, and label infos of each kind.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/labels.h"
#include "bridge/log.h"
#include "bridge/sink.h"
#include "support/files.h"

namespace bridgetest {

// The file helpers every test shares (tests/support).
using ScratchDir = testsupport::TempDir;
using testsupport::read_file;
using testsupport::write_file;

// One message the bridge published.
struct Published {
  std::string topic;
  std::string payload;
  int qos = 0;
  bool retain = false;
};

// A sink that records instead of sending.
class RecordingSink final : public bridge::Sink {
 public:
  bool publish(const char *topic, const void *payload, std::size_t len, int qos,
               bool retain) override {
    if (!up) return false;
    messages.push_back({topic, std::string(static_cast<const char *>(payload), len), qos, retain});
    return true;
  }
  bool subscribe(const char *filter, unsigned) override {
    if (!up) return false;
    subscriptions.emplace_back(filter);
    return true;
  }
  bool connected() const override { return up; }

  // Payloads published on `topic`, oldest first.
  std::vector<std::string> on(const std::string &topic) const {
    std::vector<std::string> v;
    for (const Published &m : messages) {
      if (m.topic == topic) v.push_back(m.payload);
    }
    return v;
  }
  // The last payload on `topic`, or "<none>".
  std::string last(const std::string &topic) const {
    const std::vector<std::string> v = on(topic);
    return v.empty() ? "<none>" : v.back();
  }

  bool up = true;
  std::vector<Published> messages;
  std::vector<std::string> subscriptions;
};

// Log lines of the bridge, captured for the lifetime of the object.
class LogCapture {
 public:
  LogCapture() : file_(std::tmpfile()) { bridge::set_log_stream(file_); }
  ~LogCapture() {
    bridge::set_log_stream(nullptr);
    if (file_ != nullptr) std::fclose(file_);
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;
  std::string text() const {
    std::string out;
    if (file_ == nullptr) return out;
    std::fflush(file_);
    std::rewind(file_);
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
  }
  // Lines that contain `needle`.
  int count(const std::string &needle) const {
    const std::string t = text();
    int n = 0;
    std::istringstream in(t);
    for (std::string line; std::getline(in, line);) n += line.find(needle) != std::string::npos;
    return n;
  }

 private:
  std::FILE *file_;  // where the log lines go meanwhile
};

// A label info of `kind` for the ROM id `id`.
inline bridge::LabelInfo info_of(bridge::LabelKind kind, const char *id, bool has_temperature = true) {
  bridge::LabelInfo info;
  info.kind = kind;
  std::snprintf(info.id.data(), info.id.size(), "%s", id);
  info.has_temperature = has_temperature;
  return info;
}

}  // namespace bridgetest
