// Reading the output directory: its value files and control files.
#include "bridge/state.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bridge/control.h"
#include "bridge/files.h"
#include "bridge/log.h"

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

double seconds_of(const timespec &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool same_time(const timespec &a, const timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

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

}  // namespace bridge
