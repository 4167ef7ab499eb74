// MQTT topic names and Home Assistant discovery payloads.
//
// Values go to <prefix>/<level>/<field>, where the level is the label made
// safe for a topic. Discovery payloads are built with a JSON library, never by
// pasting text, because labels come from the configuration and may hold quotes.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "bridge/labels.h"
#include "bridge/limits.h"
#include "bridge/values.h"

namespace bridge {

using Level = std::array<char, kLabelSize>;

// The topic level of a label: the label with '+', '#' and control characters
// (DEL among them) replaced by '_', as MQTT topic names cannot hold them.
void topic_level(const char *label, Level &level);

// "<prefix>/<level>/<leaf>" into `buf`; false when it does not fit.
bool label_topic(char *buf, std::size_t size, const char *prefix, const char *level,
                 const char *leaf);
// "<prefix>/status": the bridge's availability, with a last will.
bool status_topic(char *buf, std::size_t size, const char *prefix);
// "<prefix>/+/switch/set": the subscription for switch commands.
bool switch_subscription(char *buf, std::size_t size, const char *prefix);
// The level of "<prefix>/<level>/switch/set"; false for any other topic.
bool parse_switch_topic(const char *prefix, const char *topic, Level &level);

constexpr const char *kAvailableLeaf = "available";    // <prefix>/<level>/available
constexpr const char *kAttributesLeaf = "attributes";  // <prefix>/<level>/attributes: JSON
constexpr const char *kSwitchLeaf = "switch";          // <prefix>/<level>/switch
constexpr const char *kSwitchSetLeaf = "switch/set";   // <prefix>/<level>/switch/set
constexpr const char *kOnline = "online";
constexpr const char *kOffline = "offline";

// One Home Assistant entity of a label: a field, or the output switch.
struct Entity {
  FieldId field = FieldId::kTemperature;  // the value it shows (ignored for the switch)
  bool is_switch = false;                 // the module's output, switched over MQTT
};

// The fields a label of this kind publishes, in file order.
std::size_t kind_fields(const LabelInfo &info, std::array<FieldId, kMaxFields> &fields);

// The entities of a label: its fields, and the switch of a module when
// commands are allowed. Returns the count.
std::size_t label_entities(const LabelInfo &info, bool allow_control,
                           std::array<Entity, kMaxFields + 1> &out);

// What every discovery payload of this bridge shares.
struct DiscoveryScope {
  const char *prefix = "";            // topic prefix of the values
  const char *discovery_prefix = "";  // "homeassistant"
  const char *board = "";             // board name: the HA device of the board and its S0 inputs
  const char *version = "";           // the bridge's version
  const char *support_url = "";       // origin's support URL; empty: none given
};

// Every leaf a label's topics may have (fields of all kinds, availability,
// attributes, switch), for clearing the topics of a label that is gone.
std::size_t all_label_leaves(std::array<const char *, 12> &out);

// The board made safe for discovery topic levels and ids: [A-Za-z0-9_-].
std::string node_id(const char *board);

// "<discovery prefix>/<component>/<node>/<object>/config" of one entity.
std::string discovery_topic(const DiscoveryScope &scope, const LabelInfo &info, Entity e);

// The retained config payload of one entity (JSON). A bus device is an HA
// device of its own (by ROM id, via the board's device); S0 inputs belong to
// the board's device. Empty on failure.
std::string discovery_payload(const DiscoveryScope &scope, const char *label, const char *level,
                              const LabelInfo &info, Entity e);

// The retained payload of "<prefix>/<level>/attributes": ROM id, family,
// model and label of a bus device (S0 input and label for an S0 input).
std::string attributes_payload(const char *label, const LabelInfo &info);

// Splits a discovery topic of this board, "<discovery prefix>/<component>/
// <node>/<base>_<leaf>/config", into the part naming the device (a ROM id,
// or "<node>_S01") and the leaf; false for any other topic.
bool parse_discovery_topic(const DiscoveryScope &scope, const char *topic, std::string &base,
                           std::string &leaf);

// The id (ROM id, "S01", "S02") a discovery base stands for; empty for none.
std::string id_of_base(const DiscoveryScope &scope, const std::string &base);

}  // namespace bridge
