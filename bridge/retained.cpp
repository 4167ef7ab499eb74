// Keeping the broker's retained topics true to the configuration: labels that
// move to a new label, labels that are gone, and what an earlier run left.
#include <unistd.h>

#include <cstring>

#include "bridge/log.h"
#include "bridge/state.h"

namespace bridge {

namespace {

bool same_identity(const LabelInfo &a, const LabelInfo &b) {
  return a.kind == b.kind && std::strcmp(a.id.data(), b.id.data()) == 0 &&
         a.has_temperature == b.has_temperature;
}

// True when `e` is one of the entities of `info`.
bool has_entity(const LabelInfo &info, bool allow_control, Entity e) {
  std::array<Entity, kMaxFields + 1> entities{};
  const std::size_t n = label_entities(info, allow_control, entities);
  for (std::size_t i = 0; i < n; ++i) {
    if (entities[i].is_switch == e.is_switch && (e.is_switch || entities[i].field == e.field)) {
      return true;
    }
  }
  return false;
}

}  // namespace

void BridgeState::follow_config() {
  // Where each label's device is written now; a label whose device moved
  // keeps its entities (same unique ids) and moves with it.
  struct Move {
    LabelEntry *entry;
    std::array<char, kLabelSize> label;
    LabelInfo info;
  };
  std::array<Move, kMaxLabels> moves{};
  std::size_t pending = 0;
  for (LabelEntry &e : entries_) {
    if (!e.used) continue;
    LabelInfo info;
    if (resolve_label(config_, e.label.data(), info) == Resolution::kFound &&
        same_identity(info, e.info)) {
      e.info = info;
      continue;
    }
    Move &m = moves[pending];
    if (place_of(config_, e.info.id.data(), m.label, m.info) &&
        std::strcmp(m.label.data(), e.label.data()) != 0) {
      m.entry = &e;
      ++pending;
    } else {
      retract(e);
    }
  }
  // A move waits while its new label is still taken by a label that moves
  // away itself (two labels swapped); what stays blocked is retracted.
  for (bool progress = true; progress && pending > 0;) {
    progress = false;
    for (std::size_t i = 0; i < pending;) {
      Level level;
      topic_level(moves[i].label.data(), level);
      if (find_label(moves[i].label.data()) == nullptr && find_level(level.data()) == nullptr) {
        relabel(*moves[i].entry, moves[i].label, moves[i].info);
        moves[i] = moves[--pending];
        progress = true;
      } else {
        ++i;
      }
    }
  }
  for (std::size_t i = 0; i < pending; ++i) retract(*moves[i].entry);
}

void BridgeState::remove_entities(const LabelInfo &from, const LabelInfo *keep) {
  const DiscoveryScope sc = scope();
  std::array<Entity, kMaxFields + 1> entities{};
  const std::size_t n = label_entities(from, opt_.allow_control, entities);
  for (std::size_t i = 0; i < n; ++i) {
    if (keep != nullptr && has_entity(*keep, opt_.allow_control, entities[i])) continue;
    sink_.publish(discovery_topic(sc, from, entities[i]).c_str(), "", 0, 1, true);
  }
}

void BridgeState::relabel(LabelEntry &e, const std::array<char, kLabelSize> &label,
                          const LabelInfo &info) {
  log_line("'%s' (%s) is now '%s': its topics move there", shown(e.label.data()).data(),
           e.info.id.data(), shown(label.data()).data());
  if (sink_.connected()) {
    if (opt_.ha_discovery) {
      // Only entities the device no longer has are removed; the others are
      // updated in place below, with the same unique ids.
      remove_entities(e.info, &info);
    }
    clear_level(e.level.data());
  }
  if (!same_identity(info, e.info)) {
    // Read as another kind now: the old values do not fit its fields.
    e.reading = Reading{};
    e.has_reading = false;
  }
  e.label = label;
  topic_level(label.data(), e.level);
  e.info = info;
  e.discovery_sent = false;
  e.attributes_sent = false;
  e.sent_available = -1;
  e.sent_switch = 0;
  if (opt_.allow_control && info.kind != LabelKind::kS0) read_control(e);
  prom_dirty_ = true;
  publish_entry(e, true);
}

void BridgeState::clear_level(const char *level) {
  if (!sink_.connected()) return;
  std::array<const char *, 12> leaves{};
  const std::size_t n = all_label_leaves(leaves);
  char topic[kTopicSize];
  for (std::size_t i = 0; i < n; ++i) {
    if (label_topic(topic, sizeof topic, opt_.prefix.data(), level, leaves[i])) {
      sink_.publish(topic, "", 0, 1, true);
    }
  }
}

bool BridgeState::level_in_config(const char *level) const {
  Level l;
  LabelInfo info;
  for (std::size_t d = 0; d < config_.device_count; ++d) {
    topic_level(config_.devices[d].label.data(), l);
    if (std::strcmp(l.data(), level) == 0 &&
        resolve_label(config_, config_.devices[d].label.data(), info) == Resolution::kFound) {
      return true;
    }
  }
  for (const auto &name : config_.s0_names) {
    topic_level(name.data(), l);
    if (std::strcmp(l.data(), level) == 0) return true;
  }
  // A ROM id that the configuration does not name: a device on the bus may
  // write it.
  return resolve_label(config_, level, info) == Resolution::kFound;
}

void BridgeState::on_retained_available(const char *level, const char *payload, std::size_t len) {
  if (find_level(level) != nullptr) return;
  if (level_in_config(level)) {
    // A label of the configuration whose file has not been seen yet: its
    // last value is not vouched for.
    if (len != std::strlen(kOffline) || std::memcmp(payload, kOffline, len) != 0) {
      char topic[kTopicSize];
      if (label_topic(topic, sizeof topic, opt_.prefix.data(), level, kAvailableLeaf)) {
        sink_.publish(topic, kOffline, std::strlen(kOffline), 1, true);
      }
    }
    return;
  }
  log_line("'%s' is no label of the configuration: its retained topics are cleared",
           shown(level).data());
  clear_level(level);
}

void BridgeState::on_retained_config(const char *topic, const void *payload, std::size_t len) {
  const DiscoveryScope sc = scope();
  std::string base;
  std::string leaf;
  if (!parse_discovery_topic(sc, topic, base, leaf)) return;
  const std::string id = id_of_base(sc, base);
  // The config this topic should hold now: from a label followed, else from
  // where the configuration puts the device (its file may come later).
  std::string want;
  const LabelEntry *owner = nullptr;
  for (const LabelEntry &e : entries_) {
    if (e.used && std::strcmp(e.info.id.data(), id.c_str()) == 0) owner = &e;
  }
  std::array<char, kLabelSize> label{};
  LabelInfo info;
  if (owner != nullptr) {
    label = owner->label;
    info = owner->info;
  }
  if (owner != nullptr || (!id.empty() && place_of(config_, id.c_str(), label, info))) {
    Level level;
    topic_level(label.data(), level);
    std::array<Entity, kMaxFields + 1> entities{};
    const std::size_t n = label_entities(info, opt_.allow_control, entities);
    for (std::size_t i = 0; i < n; ++i) {
      if (discovery_topic(sc, info, entities[i]) == topic) {
        want = discovery_payload(sc, label.data(), level.data(), info, entities[i]);
      }
    }
  }
  if (want.empty()) {
    log_line("%s: no entity of the configuration; cleared", shown(topic).data());
    sink_.publish(topic, "", 0, 1, true);
    return;
  }
  // The label followed publishes its own; one not yet seen is updated in
  // place, once (the same payload is left alone).
  if (owner != nullptr) return;
  if (want.size() == len && std::memcmp(want.data(), payload, len) == 0) return;
  sink_.publish(topic, want.data(), want.size(), 1, true);
}

void BridgeState::set_outdir(int fd, Now now) {
  outdir_fd_ = fd;
  publish_status();
  if (fd >= 0) rescan(now);
}

}  // namespace bridge
