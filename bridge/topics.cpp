// Topic names, topic parsing and the discovery payloads.
#include "bridge/topics.h"

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

namespace bridge {

namespace {

using nlohmann::json;

// What Home Assistant is told about one field.
struct FieldMeta {
  const char *title;         // after the label in the entity name
  const char *component;     // "sensor" or "binary_sensor"
  const char *device_class;  // nullptr: none
  const char *unit;          // nullptr: none
  const char *state_class;   // nullptr: none
};

FieldMeta meta_of(FieldId id) {
  switch (id) {
    case FieldId::kTemperature:
      return {"temperature", "sensor", "temperature", "\xC2\xB0" "C", "measurement"};
    case FieldId::kCounter: return {"counter", "sensor", "energy", "Wh", "total_increasing"};
    case FieldId::kConsumption:
      return {"consumption", "sensor", "energy", "Wh", "total_increasing"};
    case FieldId::kLed: return {"limit/LED", "binary_sensor", nullptr, nullptr, nullptr};
    case FieldId::kRlf: return {"rLf", "sensor", "humidity", "%", "measurement"};
    case FieldId::kRli: return {"rLi", "sensor", "humidity", "%", "measurement"};
    case FieldId::kRlq: return {"rLq", "sensor", "humidity", "%", "measurement"};
    case FieldId::kEnergy: return {"energy", "sensor", "energy", "Wh", "total_increasing"};
  }
  return {"value", "sensor", nullptr, nullptr, nullptr};
}

// The part of ids and topics that names the label's device: the ROM id, or
// "<node>_S01" for an S0 input (S01 is not unique across boards).
std::string object_base(const DiscoveryScope &scope, const LabelInfo &info) {
  if (info.kind == LabelKind::kS0) return node_id(scope.board) + "_" + info.id.data();
  return info.id.data();
}

const char *entity_leaf(Entity e) { return e.is_switch ? "switch" : field_name(e.field); }

bool fits(int n, std::size_t size) { return n >= 0 && static_cast<std::size_t>(n) < size; }

}  // namespace

void topic_level(const char *label, Level &level) {
  std::size_t i = 0;
  for (; label[i] != '\0' && i < kLabelMax; ++i) {
    const char c = label[i];
    const bool bad = c == '+' || c == '#' || c == '/' || static_cast<unsigned char>(c) < 0x20 ||
                     static_cast<unsigned char>(c) >= 0x7F;
    level[i] = bad ? '_' : c;
  }
  level[i] = '\0';
}

bool label_topic(char *buf, std::size_t size, const char *prefix, const char *level,
                 const char *leaf) {
  return fits(std::snprintf(buf, size, "%s/%s/%s", prefix, level, leaf), size);
}

bool status_topic(char *buf, std::size_t size, const char *prefix) {
  return fits(std::snprintf(buf, size, "%s/status", prefix), size);
}

bool switch_subscription(char *buf, std::size_t size, const char *prefix) {
  return fits(std::snprintf(buf, size, "%s/+/%s", prefix, kSwitchSetLeaf), size);
}

bool parse_switch_topic(const char *prefix, const char *topic, Level &level) {
  const std::size_t plen = std::strlen(prefix);
  const std::size_t slen = std::strlen(kSwitchSetLeaf);
  const std::size_t tlen = std::strlen(topic);
  if (tlen < plen + 1 + 1 + 1 + slen) return false;
  if (std::strncmp(topic, prefix, plen) != 0 || topic[plen] != '/') return false;
  const char *mid = topic + plen + 1;
  const std::size_t mlen = tlen - plen - 1 - slen - 1;
  if (mid[mlen] != '/' || std::strcmp(mid + mlen + 1, kSwitchSetLeaf) != 0) return false;
  if (mlen == 0 || mlen > kLabelMax || std::memchr(mid, '/', mlen) != nullptr) return false;
  std::memcpy(level.data(), mid, mlen);
  level[mlen] = '\0';
  return true;
}

std::size_t kind_fields(const LabelInfo &info, std::array<FieldId, kMaxFields> &fields) {
  std::size_t n = 0;
  switch (info.kind) {
    case LabelKind::kTemp10:
    case LabelKind::kTemp28: fields[n++] = FieldId::kTemperature; break;
    case LabelKind::kCounter:
      fields[n++] = FieldId::kCounter;
      fields[n++] = FieldId::kConsumption;
      fields[n++] = FieldId::kLed;
      break;
    case LabelKind::kClimate:
      if (info.has_temperature) fields[n++] = FieldId::kTemperature;
      fields[n++] = FieldId::kRlf;
      fields[n++] = FieldId::kRli;
      fields[n++] = FieldId::kRlq;
      fields[n++] = FieldId::kLed;
      break;
    case LabelKind::kS0: fields[n++] = FieldId::kEnergy; break;
    case LabelKind::kUnknown: break;
  }
  return n;
}

std::size_t label_entities(const LabelInfo &info, bool allow_control,
                           std::array<Entity, kMaxFields + 1> &out) {
  std::array<FieldId, kMaxFields> fields{};
  const std::size_t n = kind_fields(info, fields);
  for (std::size_t i = 0; i < n; ++i) out[i] = Entity{fields[i], false};
  const bool module = info.kind == LabelKind::kCounter || info.kind == LabelKind::kClimate;
  if (allow_control && module) {
    out[n] = Entity{FieldId::kLed, true};
    return n + 1;
  }
  return n;
}

std::string node_id(const char *board) {
  std::string id;
  for (const char *p = board; *p != '\0'; ++p) {
    const char c = *p;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    id += ok ? c : '_';
  }
  return id.empty() ? std::string("board") : id;
}

std::string discovery_topic(const DiscoveryScope &scope, const LabelInfo &info, Entity e) {
  const char *component = e.is_switch ? "switch" : meta_of(e.field).component;
  return std::string(scope.discovery_prefix) + "/" + component + "/" + node_id(scope.board) + "/" +
         object_base(scope, info) + "_" + entity_leaf(e) + "/config";
}

std::string discovery_payload(const DiscoveryScope &scope, const char *label, const char *level,
                              const LabelInfo &info, Entity e) {
  try {
    const std::string base = std::string(scope.prefix) + "/" + level + "/";
    const std::string node = node_id(scope.board);
    const bool s0 = info.kind == LabelKind::kS0;
    json j;
    j["unique_id"] = "kelvinlog_" + object_base(scope, info) + "_" + entity_leaf(e);
    j["availability"] = json::array({json{{"topic", std::string(scope.prefix) + "/status"}},
                                     json{{"topic", base + kAvailableLeaf}}});
    j["availability_mode"] = "all";
    j["payload_available"] = kOnline;
    j["payload_not_available"] = kOffline;
    j["json_attributes_topic"] = base + kAttributesLeaf;
    const json board_id = "kelvinlog_" + node;
    if (s0) {
      j["device"] = json{{"identifiers", json::array({board_id})},
                         {"name", std::string("kelvinlog ") + scope.board},
                         {"model", "kelvinlog-bridge"},
                         {"sw_version", scope.version}};
    } else {
      // Its own device: areas and names are set per sensor, and a new label
      // renames the device without touching its entities.
      j["device"] = json{{"identifiers", json::array({std::string("kelvinlog_") + info.id.data()})},
                         {"name", label},
                         {"model", info.model[0] != '\0' ? info.model.data() : kind_name(info.kind)},
                         {"via_device", board_id}};
    }
    j["origin"] = json{{"name", "kelvinlog-bridge"}, {"sw_version", scope.version}};
    if (scope.support_url[0] != '\0') j["origin"]["support_url"] = scope.support_url;
    // On the board's device the label tells the S0 inputs apart; a sensor's
    // own device already carries its label.
    const std::string lead = s0 ? std::string(label) + " " : std::string();
    if (e.is_switch) {
      j["name"] = lead + "output";
      j["command_topic"] = base + kSwitchSetLeaf;
      // The module's own limit/LED flag, as it reports it: the output as it is.
      j["state_topic"] = base + field_name(FieldId::kLed);
      j["payload_on"] = "1";
      j["payload_off"] = "0";
      j["state_on"] = "1";
      j["state_off"] = "0";
    } else {
      const FieldMeta m = meta_of(e.field);
      j["name"] = lead + m.title;
      j["state_topic"] = base + field_name(e.field);
      if (m.device_class != nullptr) j["device_class"] = m.device_class;
      if (m.unit != nullptr) j["unit_of_measurement"] = m.unit;
      if (m.state_class != nullptr) j["state_class"] = m.state_class;
      if (e.field == FieldId::kLed) {
        j["payload_on"] = "1";
        j["payload_off"] = "0";
      }
    }
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const std::exception &) {
    return std::string();
  }
}

std::string attributes_payload(const char *label, const LabelInfo &info) {
  try {
    json j;
    if (info.kind == LabelKind::kS0) {
      j["s0_input"] = info.id.data();
    } else {
      j["rom_id"] = info.id.data();
      j["family"] = std::string(info.id.data(), 2);
      j["model"] = info.model[0] != '\0' ? info.model.data() : kind_name(info.kind);
    }
    j["label"] = label;
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const std::exception &) {
    return std::string();
  }
}

std::size_t all_label_leaves(std::array<const char *, 12> &out) {
  std::size_t n = 0;
  for (FieldId f : {FieldId::kTemperature, FieldId::kCounter, FieldId::kConsumption, FieldId::kLed,
                    FieldId::kRlf, FieldId::kRli, FieldId::kRlq, FieldId::kEnergy}) {
    out[n++] = field_name(f);
  }
  out[n++] = kAvailableLeaf;
  out[n++] = kAttributesLeaf;
  out[n++] = kSwitchLeaf;
  return n;
}

bool parse_discovery_topic(const DiscoveryScope &scope, const char *topic, std::string &base,
                           std::string &leaf) {
  const std::string t(topic);
  const std::string head = std::string(scope.discovery_prefix) + "/";
  const std::string tail = "/config";
  if (t.size() <= head.size() + tail.size() || t.compare(0, head.size(), head) != 0 ||
      t.compare(t.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::string mid = t.substr(head.size(), t.size() - head.size() - tail.size());
  const std::size_t a = mid.find('/');
  if (a == std::string::npos) return false;
  const std::size_t b = mid.find('/', a + 1);
  if (b == std::string::npos || mid.find('/', b + 1) != std::string::npos) return false;
  if (mid.compare(a + 1, b - a - 1, node_id(scope.board)) != 0) return false;
  const std::string object = mid.substr(b + 1);
  const std::size_t cut = object.rfind('_');
  if (cut == std::string::npos || cut == 0 || cut + 1 == object.size()) return false;
  base = object.substr(0, cut);
  leaf = object.substr(cut + 1);
  return true;
}

std::string id_of_base(const DiscoveryScope &scope, const std::string &base) {
  const std::string node = node_id(scope.board);
  for (const char *key : {"S01", "S02"}) {
    if (base == node + "_" + key) return key;
  }
  if (base.size() != kIdMax) return std::string();
  for (char c : base) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex) return std::string();
  }
  return base;
}

}  // namespace bridge
