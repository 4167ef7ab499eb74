// The label table: the configuration in use, the labels followed, bad files reported once.
#include "bridge/state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bridge/files.h"
#include "bridge/log.h"

namespace bridge {

namespace {

std::uint64_t name_hash(const char *s) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (; *s != '\0'; ++s) {
    h ^= static_cast<unsigned char>(*s);
    h *= 1099511628211ull;
  }
  return h;
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
