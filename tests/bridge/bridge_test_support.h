// Helpers of the bridge's unit tests: a scratch directory, a recording sink,
// captured log lines, and label infos of each kind.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/labels.h"
#include "bridge/log.h"
#include "bridge/sink.h"

namespace bridgetest {

// A fresh directory under /tmp, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir() {
    char templ[] = "/tmp/kelvinlog-bridge-test-XXXXXX";
    if (mkdtemp(templ) != nullptr) path_ = templ;
  }
  ~ScratchDir() {
    if (!path_.empty()) nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  static int remove_entry(const char *p, const struct stat *, int, struct FTW *) { return remove(p); }
  std::string path_;  // the directory; empty when it could not be made
};

inline void write_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

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
  bool subscribe(const char *filter) override {
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
