// Staleness of the values, and the node_exporter textfile written from them.
#include "bridge/state.h"

#include <cstring>

#include "bridge/files.h"
#include "bridge/log.h"
#include "bridge/prom.h"

namespace bridge {

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

}  // namespace bridge
