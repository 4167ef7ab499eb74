// Label table, reading value and control files, publishing, staleness, textfile.
#include "bridge/state.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/control.h"
#include "bridge/files.h"
#include "bridge/log.h"
#include "bridge/prom.h"

#ifndef KELVINLOG_SUPPORT_URL
#define KELVINLOG_SUPPORT_URL ""
#endif

namespace bridge {

namespace {

constexpr char kValueSuffix[] = "v.txt";
constexpr char kControlSuffix[] = "o.txt";
constexpr std::size_t kSuffixLen = 5;

// The stem of `name` when it ends in `suffix` (5 characters) after at least
// one character; false otherwise or when the stem is longer than `max`.
bool stem_of(const char *name, const char *suffix, char *stem, std::size_t max, bool &too_long) {
  too_long = false;
  const std::size_t len = std::strlen(name);
  if (len <= kSuffixLen || std::strcmp(name + len - kSuffixLen, suffix) != 0) return false;
  const std::size_t n = len - kSuffixLen;
  if (n > max) {
    too_long = true;
    return false;
  }
  std::memcpy(stem, name, n);
  stem[n] = '\0';
  return true;
}

std::uint64_t name_hash(const char *s) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (; *s != '\0'; ++s) {
    h ^= static_cast<unsigned char>(*s);
    h *= 1099511628211ull;
  }
  return h;
}

double seconds_of(const timespec &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool same_time(const timespec &a, const timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

BridgeState::BridgeState(const BridgeOptions &opt, const char *version, int outdir_fd,
                         int prom_dir_fd, const char *prom_name, Sink &sink)
    : opt_(opt),
      version_(version),
      outdir_fd_(outdir_fd),
      prom_dir_fd_(prom_dir_fd),
      prom_name_(prom_name),
      sink_(sink) {}

// --- configuration and directory ----------------------------------------------

void BridgeState::load_config(Now now, bool force) {
  std::size_t len = 0;
  const ReadResult r = read_path_prefix(opt_.config.data(), read_buf_.data(), kConfigMax, len);
  if (r != ReadResult::kOk) {
    const int saved = errno;
    log_line("configuration %s: %s%s%s; %s", shown(opt_.config.data()).data(), describe(r),
             r == ReadResult::kError ? ": " : "", r == ReadResult::kError ? std::strerror(saved) : "",
             config_loaded_ ? "keeping the last one" : "labels are ROM ids only until it can be read");
    if (config_loaded_) return;
    len = 0;
    read_buf_[0] = '\0';
  }
  len = strnlen(read_buf_.data(), len);
  if (!force && config_loaded_ && len == config_.length &&
      std::memcmp(read_buf_.data(), config_.text.data(), len) == 0) {
    return;
  }
  config_set_text(config_, read_buf_.data(), len);
  config_loaded_ = true;
  complaint_count_ = 0;
  complaints_full_ = false;
  log_line("configuration read: %zu device lines; S0 inputs write %sv.txt and %sv.txt",
           config_.device_count, shown(config_.s0_names[0].data()).data(),
           shown(config_.s0_names[1].data()).data());
  if (config_.devices_dropped > 0) {
    log_line("configuration: %zu device lines beyond the first %zu are not used",
             config_.devices_dropped, kMaxDeviceLines);
  }
  for (std::size_t d = 0; d < config_.device_count; ++d) {
    if (config_.devices[d].refused_name) {
      log_line("device %s: its name holds '/' or is \"err\"; the logger labels it by its ROM id",
               config_.devices[d].id.data());
    }
  }
  follow_config();
  rescan(now);
}

void BridgeState::rescan(Now now) {
  if (outdir_fd_ < 0) return;
  const int fd = openat(outdir_fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    log_line("output directory %s: %s", shown(opt_.outdir.data()).data(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return;
  }
  while (const dirent *d = readdir(dir)) {
    if (d->d_name[0] == '.') continue;  // ".", "..", and temporary files
    handle_file(d->d_name, now, true);
  }
  closedir(dir);
}

void BridgeState::on_file(const char *name, Now now) { handle_file(name, now, false); }

void BridgeState::handle_file(const char *name, Now now, bool scanning) {
  char stem[kLabelSize];
  bool too_long = false;
  if (stem_of(name, kValueSuffix, stem, kLabelMax, too_long)) {
    LabelEntry *e = find_label(stem);
    if (e == nullptr) e = add_label(name, stem);
    if (e != nullptr) read_value(*e, name, now, scanning);
    return;
  }
  if (too_long) {
    if (first_complaint(name)) {
      log_line("%s: not a value file of the logger (labels have at most %zu characters); skipped",
               shown(name).data(), kLabelMax);
    }
    return;
  }
  if (!opt_.allow_control || !stem_of(name, kControlSuffix, stem, kLabelMax, too_long)) return;
  LabelEntry *e = find_label(stem);
  if (e == nullptr || e->info.kind == LabelKind::kS0) return;
  read_control(*e);
  publish_entry(*e, false);
}

LabelEntry *BridgeState::find_label(const char *label) {
  for (LabelEntry &e : entries_) {
    if (e.used && std::strcmp(e.label.data(), label) == 0) return &e;
  }
  return nullptr;
}

LabelEntry *BridgeState::find_level(const char *level) {
  for (LabelEntry &e : entries_) {
    if (e.used && std::strcmp(e.level.data(), level) == 0) return &e;
  }
  return nullptr;
}

LabelEntry *BridgeState::add_label(const char *name, const char *stem) {
  LabelInfo info;
  const Resolution res = resolve_label(config_, stem, info);
  // "<label>v.txt" is also the raw file of a device whose label ends in 'v'.
  char raw[kLabelSize + 1];
  const bool raw_file = std::snprintf(raw, sizeof raw, "%sv", stem) < static_cast<int>(sizeof raw) &&
                        is_device_label(config_, raw);
  if (raw_file) {
    if (res == Resolution::kFound && first_complaint(name)) {
      log_line("%s is the raw file of '%s' and the value file of '%s' at once; skipped",
               shown(name).data(), shown(raw).data(), shown(stem).data());
    }
    return nullptr;
  }
  const char *why = nullptr;
  switch (res) {
    case Resolution::kFound: break;
    case Resolution::kUnknown: why = "no device or S0 input of the configuration has this label"; break;
    case Resolution::kRenamed:
      why = "the device of this ROM id is named in the configuration, so the logger no longer "
            "writes this file";
      break;
    case Resolution::kNoDecoder:
      why = "the logger writes no value file for this device's model or family";
      break;
  }
  if (why != nullptr) {
    if (first_complaint(name)) log_line("%s: %s; skipped", shown(name).data(), why);
    return nullptr;
  }
  Level level;
  topic_level(stem, level);
  if (const LabelEntry *other = find_level(level.data())) {
    if (first_complaint(name)) {
      log_line("%s: its topic level '%s' is taken by the label '%s'; skipped", shown(name).data(),
               level.data(), shown(other->label.data()).data());
    }
    return nullptr;
  }
  LabelEntry *slot = nullptr;
  for (LabelEntry &e : entries_) {
    if (!e.used) {
      slot = &e;
      break;
    }
  }
  if (slot == nullptr) {
    if (first_complaint(name)) {
      log_line("%s: already following %zu labels; skipped", shown(name).data(), kMaxLabels);
    }
    return nullptr;
  }
  LabelEntry &e = *slot;
  e = LabelEntry{};
  e.used = true;
  std::snprintf(e.label.data(), e.label.size(), "%s", stem);
  e.level = level;
  e.info = info;
  log_line("following '%s': %s %s%s%s", shown(stem).data(), kind_name(info.kind), info.id.data(),
           info.model[0] != '\0' ? ", model " : "", shown(info.model.data()).data());
  if (opt_.allow_control && info.kind != LabelKind::kS0) read_control(e);
  return &e;
}

void BridgeState::read_value(LabelEntry &e, const char *name, Now now, bool scanning) {
  char buf[kValueFileMax + 1];
  std::size_t len = 0;
  struct stat st {};
  const ReadResult r = read_file_at(outdir_fd_, name, buf, kValueFileMax, true, len, &st);
  // Gone again, or empty: the logger truncates before it writes, so a scan
  // may meet a file in between; its close event follows.
  if (r == ReadResult::kMissing || (r == ReadResult::kOk && len == 0)) return;
  if (r != ReadResult::kOk) {
    if (first_complaint(name)) log_line("%s: %s; skipped", shown(name).data(), describe(r));
    return;
  }
  if (scanning && e.has_reading && same_time(st.st_mtim, e.mtime)) return;
  Reading reading;
  if (const char *why = parse_value_file(e.info, buf, len, reading)) {
    if (first_complaint(name)) {
      log_line("%s: %s (\"%s\"); skipped", shown(name).data(), why, shown(buf, len).data());
    }
    return;
  }
  const bool was_stale = e.has_reading && !e.available;
  e.reading = reading;
  e.has_reading = true;
  e.mtime = st.st_mtim;
  e.updated = now.mono;
  const MonoMs stale_ms = static_cast<MonoMs>(opt_.stale_after) * 1000;
  if (scanning) {
    // Found by a scan: its age is the file's, not this moment's.
    double age = now.real - seconds_of(st.st_mtim);
    if (age < 0) age = 0;
    if (age > static_cast<double>(kMaxStaleAfter) * 2) age = static_cast<double>(kMaxStaleAfter) * 2;
    e.updated = now.mono - static_cast<MonoMs>(age * 1000.0);
  }
  const bool fresh = now.mono - e.updated < stale_ms;
  if (fresh && was_stale) log_line("'%s' is rewritten again: available", shown(e.label.data()).data());
  e.available = fresh;
  prom_dirty_ = true;
  publish_entry(e, true);
}

void BridgeState::read_control(LabelEntry &e) {
  char name[kLabelSize + 8];
  std::snprintf(name, sizeof name, "%s%s", e.label.data(), kControlSuffix);
  char text[kControlReadMax + 1];
  std::size_t len = 0;
  const ReadResult r = read_file_at(outdir_fd_, name, text, kControlReadMax, false, len);
  e.switch_state = r == ReadResult::kOk ? control_switch_state(text, len) : 0;
}

// --- publishing ---------------------------------------------------------------

void BridgeState::publish_text(const char *leaf, const LabelEntry &e, const char *payload,
                               int qos) {
  char topic[kTopicSize];
  if (!label_topic(topic, sizeof topic, opt_.prefix.data(), e.level.data(), leaf)) return;
  sink_.publish(topic, payload, std::strlen(payload), qos, true);
}

DiscoveryScope BridgeState::scope() const {
  return DiscoveryScope{opt_.prefix.data(), opt_.discovery_prefix.data(), opt_.board.data(),
                        version_, KELVINLOG_SUPPORT_URL};
}

void BridgeState::publish_discovery(LabelEntry &e) {
  const DiscoveryScope sc = scope();
  std::array<Entity, kMaxFields + 1> entities{};
  const std::size_t n = label_entities(e.info, opt_.allow_control, entities);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string topic = discovery_topic(sc, e.info, entities[i]);
    const std::string payload =
        discovery_payload(sc, e.label.data(), e.level.data(), e.info, entities[i]);
    if (payload.empty()) continue;
    sink_.publish(topic.c_str(), payload.data(), payload.size(), 1, true);
  }
  e.discovery_sent = true;
}

void BridgeState::publish_entry(LabelEntry &e, bool values) {
  if (!sink_.connected() || !e.has_reading) return;
  if (opt_.ha_discovery && !e.discovery_sent) publish_discovery(e);
  if (!e.attributes_sent) {
    const std::string attributes = attributes_payload(e.label.data(), e.info);
    if (!attributes.empty()) publish_text(kAttributesLeaf, e, attributes.c_str(), 1);
    e.attributes_sent = true;
  }
  if (values) {
    for (std::size_t i = 0; i < e.reading.count; ++i) {
      const FieldValue &f = e.reading.fields[i];
      publish_text(field_name(f.id), e, f.text.data(), 0);
    }
  }
  const int avail = e.available ? 1 : 0;
  if (e.sent_available != avail) {
    publish_text(kAvailableLeaf, e, avail != 0 ? kOnline : kOffline, 1);
    e.sent_available = avail;
  }
  if (opt_.allow_control && e.switch_state != 0 && e.switch_state != e.sent_switch) {
    const char state[2] = {e.switch_state, '\0'};
    publish_text(kSwitchLeaf, e, state, 1);
    e.sent_switch = e.switch_state;
  }
}

void BridgeState::retract(LabelEntry &e) {
  log_line("'%s' is no longer %s %s; its topics are cleared", shown(e.label.data()).data(),
           kind_name(e.info.kind), e.info.id.data());
  if (sink_.connected()) {
    if (opt_.ha_discovery) {
      const DiscoveryScope sc = scope();
      std::array<Entity, kMaxFields + 1> entities{};
      const std::size_t n = label_entities(e.info, opt_.allow_control, entities);
      for (std::size_t i = 0; i < n; ++i) {
        sink_.publish(discovery_topic(sc, e.info, entities[i]).c_str(), "", 0, 1, true);
      }
    }
    clear_level(e.level.data());
  }
  e = LabelEntry{};
  prom_dirty_ = true;
}

void BridgeState::publish_status() {
  char topic[kTopicSize];
  if (!sink_.connected() || !status_topic(topic, sizeof topic, opt_.prefix.data())) return;
  // Online only while the output directory can be read: a bridge that sees
  // nothing must not vouch for the values.
  const char *status = outdir_fd_ >= 0 ? kOnline : kOffline;
  sink_.publish(topic, status, std::strlen(status), 1, true);
}

void BridgeState::on_connected() {
  publish_status();
  char topic[kTopicSize];
  // Commands keep their retain flag, so that a retained one is refused also
  // when it arrives while connected.
  if (opt_.allow_control && switch_subscription(topic, sizeof topic, opt_.prefix.data())) {
    sink_.subscribe(topic, kKeepRetain);
  }
  for (LabelEntry &e : entries_) {
    if (!e.used) continue;
    e.discovery_sent = false;
    e.attributes_sent = false;
    e.sent_available = -1;
    e.sent_switch = 0;
    publish_entry(e, true);
  }
  // What the broker retains from earlier runs: labels that are gone are
  // cleared, entities whose device has moved are updated (retained messages
  // only: the flag is not kept for live ones, and the bridge's own do not
  // come back).
  if (std::snprintf(topic, sizeof topic, "%s/+/%s", opt_.prefix.data(), kAvailableLeaf) <
      static_cast<int>(sizeof topic)) {
    sink_.subscribe(topic, kNoLocal);
  }
  if (opt_.ha_discovery &&
      std::snprintf(topic, sizeof topic, "%s/+/%s/+/config", opt_.discovery_prefix.data(),
                    node_id(opt_.board.data()).c_str()) < static_cast<int>(sizeof topic)) {
    sink_.subscribe(topic, kNoLocal);
  }
  prom_dirty_ = true;
}

void BridgeState::on_disconnected() {
  for (LabelEntry &e : entries_) {
    e.discovery_sent = false;
    e.attributes_sent = false;
    e.sent_available = -1;
    e.sent_switch = 0;
  }
  prom_dirty_ = true;
}

void BridgeState::on_message(const char *topic, const void *payload, std::size_t len,
                             bool retain) {
  Level level;
  if (!parse_switch_topic(opt_.prefix.data(), topic, level)) {
    if (retain && len > 0) {
      // "<prefix>/<level>/available", read back at a connect.
      const std::size_t plen = std::strlen(opt_.prefix.data());
      const bool under = std::strncmp(topic, opt_.prefix.data(), plen) == 0 && topic[plen] == '/';
      const char *rest = under ? topic + plen + 1 : topic;
      const char *slash = under ? std::strchr(rest, '/') : nullptr;
      if (slash != nullptr && slash != rest && std::strcmp(slash + 1, kAvailableLeaf) == 0 &&
          static_cast<std::size_t>(slash - rest) <= kLabelMax) {
        std::memcpy(level.data(), rest, static_cast<std::size_t>(slash - rest));
        level[static_cast<std::size_t>(slash - rest)] = '\0';
        on_retained_available(level.data(), static_cast<const char *>(payload), len);
        return;
      }
      if (opt_.ha_discovery) {
        on_retained_config(topic, payload, len);
        return;
      }
    }
    if (!retain) log_line("message on %s ignored: not a switch command", shown(topic).data());
    return;
  }
  if (!opt_.allow_control) return;
  if (retain) {
    // A retained command would be carried out again at every connect.
    log_line("switch command for '%s' refused: it is retained", shown(level.data()).data());
    return;
  }
  const char state = switch_payload(payload, len);
  if (state == 0) {
    log_line("switch command for '%s' refused: payload \"%s\" is not 0 or 1",
             shown(level.data()).data(), shown(static_cast<const char *>(payload), len).data());
    return;
  }
  LabelEntry *e = find_level(level.data());
  if (e == nullptr) {
    log_line("switch command for '%s' refused: no such label", shown(level.data()).data());
    return;
  }
  if (e->info.kind == LabelKind::kS0) {
    log_line("switch command for '%s' refused: an S0 input has no output",
             shown(e->label.data()).data());
    return;
  }
  bool changed = false;
  const char *why = nullptr;
  if (!write_switch(outdir_fd_, e->label.data(), state, changed, why)) {
    log_line("switch command for '%s' refused: %s", shown(e->label.data()).data(), why);
    return;
  }
  log_line("switch of '%s' set to %c%s", shown(e->label.data()).data(), state,
           changed ? "" : " (already so)");
  e->switch_state = state;
  publish_entry(*e, false);
}

// --- staleness and the textfile ----------------------------------------------------

MonoMs BridgeState::service(Now now) {
  MonoMs next = kNever;
  const MonoMs stale_ms = static_cast<MonoMs>(opt_.stale_after) * 1000;
  for (LabelEntry &e : entries_) {
    if (!e.used || !e.available) continue;
    const MonoMs due = e.updated + stale_ms;
    if (now.mono >= due) {
      e.available = false;
      log_line("'%s' not rewritten for %ld s: unavailable", shown(e.label.data()).data(),
               opt_.stale_after);
      prom_dirty_ = true;
      publish_entry(e, false);
    } else if (due < next) {
      next = due;
    }
  }
  if (prom_dir_fd_ < 0) return next;
  MonoMs due = prom_written_ + (prom_dirty_ ? kPromMinGapMs : kPromRefreshMs);
  if (!prom_ever_written_ || now.mono >= due) {
    write_prom(now);
    due = prom_written_ + kPromRefreshMs;
  }
  return due < next ? due : next;
}

void BridgeState::format_prom(Now now, std::string &out) const {
  std::array<PromSample, kMaxLabels> samples{};
  std::size_t n = 0;
  for (const LabelEntry &e : entries_) {
    if (!e.used || !e.has_reading) continue;
    PromSample &s = samples[n++];
    s.label = e.label.data();
    s.id = e.info.id.data();
    s.reading = &e.reading;
    s.age = static_cast<double>(now.mono - e.updated) / 1000.0;
    s.timestamp = now.real - s.age;
    s.stale = !e.available;
  }
  format_textfile(samples.data(), n, sink_.connected(), out);
}

void BridgeState::write_prom(Now now) {
  format_prom(now, prom_text_);
  const int rc = replace_file_at(prom_dir_fd_, prom_name_, prom_text_.data(), prom_text_.size(),
                                 default_file_mode());
  if (rc != 0 && !prom_failed_) {
    log_line("textfile %s: %s; trying again with the next change",
             shown(opt_.prom_file.data()).data(), std::strerror(rc));
  } else if (rc == 0 && prom_failed_) {
    log_line("textfile %s written again", shown(opt_.prom_file.data()).data());
  }
  prom_failed_ = rc != 0;
  prom_written_ = now.mono;
  prom_ever_written_ = true;
  prom_dirty_ = false;
}

bool BridgeState::first_complaint(const char *name) {
  const std::uint64_t h = name_hash(name);
  for (std::size_t i = 0; i < complaint_count_; ++i) {
    if (complaints_[i] == h) return false;
  }
  if (complaint_count_ == complaints_.size()) {
    if (!complaints_full_) {
      log_line("more than %zu bad files: no more are reported until the configuration changes",
               kMaxComplaints);
    }
    complaints_full_ = true;
    return false;
  }
  complaints_[complaint_count_++] = h;
  return true;
}

}  // namespace bridge
