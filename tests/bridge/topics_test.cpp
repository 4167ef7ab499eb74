// Topic names, switch-topic parsing and discovery payloads parsed back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/topics.h"
#include "bridge_test_support.h"

namespace {

using bridge::FieldId;
using bridge::LabelKind;
using bridgetest::info_of;
using nlohmann::json;

struct LevelCase {
  const char *name;
  const char *label;
  const char *level;
};
void PrintTo(const LevelCase &c, std::ostream *os) { *os << c.name; }

const LevelCase kLevels[] = {
    {"Plain", "Kitchen", "Kitchen"},
    {"BlankKept", "Boiler room", "Boiler room"},
    {"PlusReplaced", "a+b", "a_b"},
    {"HashReplaced", "#1", "_1"},
    {"DeleteReplaced", "x\x7F", "x_"},
    {"LongestS0Name", "ABCDEFGHIJKLMNOPQRS", "ABCDEFGHIJKLMNOPQRS"},
};

class TopicLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(TopicLevel, HoldsNoWildcardOrControlCharacter) {
  bridge::Level level;
  bridge::topic_level(GetParam().label, level);
  EXPECT_STREQ(level.data(), GetParam().level);
}

INSTANTIATE_TEST_SUITE_P(Labels, TopicLevel, ::testing::ValuesIn(kLevels),
                         [](const auto &info) { return std::string(info.param.name); });

struct SwitchTopicCase {
  const char *name;
  const char *topic;
  const char *level;  // nullptr: not a switch command
};
void PrintTo(const SwitchTopicCase &c, std::ostream *os) { *os << c.name; }

const SwitchTopicCase kSwitchTopics[] = {
    {"Command", "kelvinlog/vm/Meter/switch/set", "Meter"},
    {"BlankInLevel", "kelvinlog/vm/Boiler room/switch/set", "Boiler room"},
    {"EmptyLevel", "kelvinlog/vm//switch/set", nullptr},
    {"TwoLevels", "kelvinlog/vm/a/b/switch/set", nullptr},
    {"NoLevel", "kelvinlog/vm/switch/set", nullptr},
    {"StateTopic", "kelvinlog/vm/Meter/switch", nullptr},
    {"LongerLeaf", "kelvinlog/vm/Meter/switch/setx", nullptr},
    {"OtherPrefix", "kelvinlog/vmx/Meter/switch/set", nullptr},
    {"PrefixOnlyStart", "kelvinlog/v/Meter/switch/set", nullptr},
    {"LevelTooLong", "kelvinlog/vm/ABCDEFGHIJKLMNOPQRST/switch/set", nullptr},
    {"LongestLevel", "kelvinlog/vm/ABCDEFGHIJKLMNOPQRS/switch/set", "ABCDEFGHIJKLMNOPQRS"},
};

class SwitchTopic : public ::testing::TestWithParam<SwitchTopicCase> {};

TEST_P(SwitchTopic, OnlyOneLevelBetweenPrefixAndSwitchSet) {
  const SwitchTopicCase &c = GetParam();
  bridge::Level level;
  level.fill('x');
  const bool ok = bridge::parse_switch_topic("kelvinlog/vm", c.topic, level);
  ASSERT_EQ(ok, c.level != nullptr);
  if (ok) {
    EXPECT_STREQ(level.data(), c.level);
  }
}

INSTANTIATE_TEST_SUITE_P(Topics, SwitchTopic, ::testing::ValuesIn(kSwitchTopics),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TopicNames, BuiltFromPrefixLevelAndLeafAndRefusedWhenTooLong) {
  char buf[bridge::kTopicSize];
  ASSERT_TRUE(bridge::label_topic(buf, sizeof buf, "kelvinlog/vm", "Kitchen", "temperature"));
  EXPECT_STREQ(buf, "kelvinlog/vm/Kitchen/temperature");
  ASSERT_TRUE(bridge::status_topic(buf, sizeof buf, "kelvinlog/vm"));
  EXPECT_STREQ(buf, "kelvinlog/vm/status");
  ASSERT_TRUE(bridge::switch_subscription(buf, sizeof buf, "kelvinlog/vm"));
  EXPECT_STREQ(buf, "kelvinlog/vm/+/switch/set");
  char small[20];
  EXPECT_FALSE(bridge::label_topic(small, sizeof small, "kelvinlog/vm", "Kitchen", "temperature"));
  EXPECT_EQ(std::string(small).size(), sizeof small - 1);  // cut, terminated
}

// --- discovery ---------------------------------------------------------------

struct EntityExpect {
  const char *component;     // "sensor", "binary_sensor", "switch"
  const char *leaf;          // state topic leaf ("temperature", ..., "switch")
  const char *device_class;  // nullptr: none
  const char *unit;          // nullptr: none
  const char *state_class;   // nullptr: none
};

struct DiscoveryCase {
  const char *name;
  LabelKind kind;
  const char *id;
  bool has_temperature;
  bool allow_control;
  const char *model;  // the HA device's model
  std::vector<EntityExpect> entities;
};
void PrintTo(const DiscoveryCase &c, std::ostream *os) { *os << c.name; }

const char kDeg[] = "\xC2\xB0" "C";

const DiscoveryCase kDiscovery[] = {
    {"Temperature", LabelKind::kTemp28, "28FF4A1B02170312", true, true, "temperature sensor (family 28)",
     {{"sensor", "temperature", "temperature", kDeg, "measurement"}}},
    {"Counter", LabelKind::kCounter, "28C0FFEE00000001", true, false, "QV-S0",
     {{"sensor", "counter", "energy", "Wh", "total_increasing"},
      {"sensor", "consumption", "energy", "Wh", "total_increasing"},
      {"binary_sensor", "led", nullptr, nullptr, nullptr}}},
    {"CounterWithSwitch", LabelKind::kCounter, "28C0FFEE00000001", true, true, "QV-DK-S0",
     {{"sensor", "counter", "energy", "Wh", "total_increasing"},
      {"sensor", "consumption", "energy", "Wh", "total_increasing"},
      {"binary_sensor", "led", nullptr, nullptr, nullptr},
      {"switch", "switch", nullptr, nullptr, nullptr}}},
    {"Climate", LabelKind::kClimate, "28C0FFEE00000002", true, false, "QV-HTX",
     {{"sensor", "temperature", "temperature", kDeg, "measurement"},
      {"sensor", "rlf", "humidity", "%", "measurement"},
      {"sensor", "rli", "humidity", "%", "measurement"},
      {"sensor", "rlq", "humidity", "%", "measurement"},
      {"binary_sensor", "led", nullptr, nullptr, nullptr}}},
    {"ClimateWithoutTemperature", LabelKind::kClimate, "26C0FFEE00000002", false, false, "QV-H",
     {{"sensor", "rlf", "humidity", "%", "measurement"},
      {"sensor", "rli", "humidity", "%", "measurement"},
      {"sensor", "rlq", "humidity", "%", "measurement"},
      {"binary_sensor", "led", nullptr, nullptr, nullptr}}},
    {"S0HasNoSwitch", LabelKind::kS0, "S01", false, true, "",
     {{"sensor", "energy", "energy", "Wh", "total_increasing"}}},
};

class Discovery : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery, PayloadsParseBackWithEveryKeyHomeAssistantNeeds) {
  const DiscoveryCase &c = GetParam();
  bridge::LabelInfo info = info_of(c.kind, c.id, c.has_temperature);
  if (c.kind == LabelKind::kCounter || c.kind == LabelKind::kClimate) {
    std::snprintf(info.model.data(), info.model.size(), "%s", c.model);
  }
  const bridge::DiscoveryScope scope{"kelvinlog/vm", "homeassistant", "vm", "1.01"};
  std::array<bridge::Entity, bridge::kMaxFields + 1> entities{};
  const std::size_t n = bridge::label_entities(info, c.allow_control, entities);
  ASSERT_EQ(n, c.entities.size());
  const std::string base = c.kind == LabelKind::kS0 ? std::string("vm_") + c.id : c.id;
  std::set<std::string> unique_ids;
  for (std::size_t i = 0; i < n; ++i) {
    const EntityExpect &e = c.entities[i];
    SCOPED_TRACE(e.leaf);
    EXPECT_EQ(bridge::discovery_topic(scope, info, entities[i]),
              std::string("homeassistant/") + e.component + "/vm/" + base + "_" + e.leaf + "/config");
    const json j = json::parse(bridge::discovery_payload(scope, "Lbl", "Lbl", info, entities[i]));
    EXPECT_EQ(j.at("unique_id"), "kelvinlog_" + base + "_" + e.leaf);
    unique_ids.insert(j.at("unique_id").get<std::string>());
    // The switch shows the module's own output: its limit/LED field.
    const std::string state_leaf = std::string(e.leaf) == "switch" ? "led" : e.leaf;
    EXPECT_EQ(j.at("state_topic"), "kelvinlog/vm/Lbl/" + state_leaf);
    EXPECT_EQ(j.at("json_attributes_topic"), "kelvinlog/vm/Lbl/attributes");
    EXPECT_EQ(j.at("availability"),
              json::parse(R"([{"topic":"kelvinlog/vm/status"},{"topic":"kelvinlog/vm/Lbl/available"}])"));
    EXPECT_EQ(j.at("availability_mode"), "all");
    EXPECT_EQ(j.at("payload_available"), "online");
    EXPECT_EQ(j.at("payload_not_available"), "offline");
    EXPECT_EQ(j.at("origin"), json::parse(R"({"name":"kelvinlog-bridge","sw_version":"1.01"})"));
    if (c.kind == LabelKind::kS0) {
      EXPECT_EQ(j.at("device").at("identifiers"), json::array({"kelvinlog_vm"}));
      EXPECT_EQ(j.at("device").at("name"), "kelvinlog vm");
      EXPECT_FALSE(j.at("device").contains("via_device"));
    } else {
      // One device per sensor, by ROM id, reached through the board.
      EXPECT_EQ(j.at("device").at("identifiers"), json::array({std::string("kelvinlog_") + c.id}));
      EXPECT_EQ(j.at("device").at("name"), "Lbl");
      EXPECT_EQ(j.at("device").at("via_device"), "kelvinlog_vm");
      EXPECT_EQ(j.at("device").at("model"), c.model);
    }
    // The topic read back at a connect names the same device and entity.
    std::string got_base, got_leaf;
    ASSERT_TRUE(bridge::parse_discovery_topic(scope, bridge::discovery_topic(scope, info, entities[i]).c_str(),
                                              got_base, got_leaf));
    EXPECT_EQ(got_base, base);
    EXPECT_EQ(got_leaf, e.leaf);
    EXPECT_EQ(bridge::id_of_base(scope, got_base), c.id);
    const auto optional = [&](const char *key, const char *want) {
      if (want == nullptr) {
        EXPECT_FALSE(j.contains(key)) << key;
      } else {
        EXPECT_EQ(j.value(key, std::string("<absent>")), want) << key;
      }
    };
    optional("device_class", e.device_class);
    optional("unit_of_measurement", e.unit);
    optional("state_class", e.state_class);
    if (std::string(e.component) == "switch") {
      EXPECT_EQ(j.at("command_topic"), "kelvinlog/vm/Lbl/switch/set");
      EXPECT_EQ(j.at("payload_on"), "1");
      EXPECT_EQ(j.at("state_off"), "0");
    }
    if (std::string(e.component) == "binary_sensor") {
      EXPECT_EQ(j.at("payload_on"), "1");
      EXPECT_EQ(j.at("payload_off"), "0");
    }
  }
  EXPECT_EQ(unique_ids.size(), n) << "unique ids repeat within one label";
}

INSTANTIATE_TEST_SUITE_P(Kinds, Discovery, ::testing::ValuesIn(kDiscovery),
                         [](const auto &info) { return std::string(info.param.name); });

struct NameCase {
  const char *name;
  const char *label;
};
void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

const NameCase kNames[] = {
    {"Quotes", "Say \"hi\""},
    {"Backslash", "C:\\temp"},
    {"QuoteAndBackslashAtEnd", "x\\\""},
    {"BracesAndColon", "{\"a\":1}"},
    {"Delete", "x\x7F"},
};

class DiscoveryName : public ::testing::TestWithParam<NameCase> {};

TEST_P(DiscoveryName, ComesBackByteForByte) {
  const char *label = GetParam().label;
  const bridge::LabelInfo info = info_of(LabelKind::kTemp28, "28FF4A1B02170312");
  const bridge::DiscoveryScope scope{"kelvinlog/vm", "homeassistant", "vm", "1.01"};
  bridge::Level level;
  bridge::topic_level(label, level);
  const json j = json::parse(
      bridge::discovery_payload(scope, label, level.data(), info, bridge::Entity{}));
  EXPECT_EQ(j.at("name"), "temperature");
  EXPECT_EQ(j.at("device").at("name"), label);
  EXPECT_EQ(j.at("state_topic"), std::string("kelvinlog/vm/") + level.data() + "/temperature");
}

INSTANTIATE_TEST_SUITE_P(Names, DiscoveryName, ::testing::ValuesIn(kNames),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DiscoveryIds, S0InputsOfTwoBoardsDoNotShareIds) {
  const bridge::LabelInfo s01 = info_of(LabelKind::kS0, "S01", false);
  const bridge::Entity e{FieldId::kEnergy, false};
  const bridge::DiscoveryScope a{"kelvinlog/a", "homeassistant", "board-a", "1"};
  const bridge::DiscoveryScope b{"kelvinlog/b", "homeassistant", "board b.local", "1"};
  const json ja = json::parse(bridge::discovery_payload(a, "S01", "S01", s01, e));
  const json jb = json::parse(bridge::discovery_payload(b, "S01", "S01", s01, e));
  EXPECT_NE(ja.at("unique_id"), jb.at("unique_id"));
  EXPECT_EQ(jb.at("unique_id"), "kelvinlog_board_b_local_S01_energy");
  EXPECT_EQ(bridge::discovery_topic(b, s01, e),
            "homeassistant/sensor/board_b_local/board_b_local_S01_energy/config");
  // A device keeps its id across boards and names: history follows the ROM id.
  const bridge::LabelInfo t = info_of(LabelKind::kTemp28, "28FF4A1B02170312");
  EXPECT_EQ(json::parse(bridge::discovery_payload(a, "Old", "Old", t, bridge::Entity{})).at("unique_id"),
            json::parse(bridge::discovery_payload(a, "New", "New", t, bridge::Entity{})).at("unique_id"));
}

}  // namespace
