// Publishing the labels' state and the bridge's status; switch commands from the broker.
#include "bridge/state.h"

#include <cstdio>
#include <cstring>

#include "bridge/control.h"
#include "bridge/log.h"

#ifndef KELVINLOG_SUPPORT_URL
#define KELVINLOG_SUPPORT_URL ""
#endif

namespace bridge {

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
    if (opt_.ha_discovery) remove_entities(e.info, nullptr);
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

}  // namespace bridge
