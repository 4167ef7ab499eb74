// The bridge's state driven by hand: files in, messages out, staleness, commands, reloads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "bridge/state.h"
#include "bridge_test_support.h"

namespace {

using bridgetest::read_file;
using bridgetest::write_file;

constexpr const char *kCounterFile = "10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED\n";
constexpr const char *kConfig =
    "28FF4A1B02170312;Kitchen\n"
    "28C0FFEE00000001;Meter;QV-S0\n"
    "S01;Garage;800\n";

class BridgeStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("prom").c_str(), 0755), 0);
    write_file(dir.file("kelvinlog-config.txt"), kConfig);
    std::snprintf(opt.outdir.data(), opt.outdir.size(), "%s", dir.file("out").c_str());
    std::snprintf(opt.config.data(), opt.config.size(), "%s", dir.file("kelvinlog-config.txt").c_str());
    std::snprintf(opt.prefix.data(), opt.prefix.size(), "kelvinlog/vm");
    std::snprintf(opt.board.data(), opt.board.size(), "vm");
    std::snprintf(opt.discovery_prefix.data(), opt.discovery_prefix.size(), "homeassistant");
    opt.stale_after = 10;
    outdir_fd = open(dir.file("out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    prom_fd = open(dir.file("prom").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  void TearDown() override {
    close(outdir_fd);
    close(prom_fd);
  }
  // Creates the state (after the test has set its options) and loads the configuration.
  void start(bool with_prom = false) {
    state = std::make_unique<bridge::BridgeState>(opt, "9.9", outdir_fd, with_prom ? prom_fd : -1,
                                                  "k.prom", sink);
    state->load_config(at(0));
  }
  bridge::Now at(bridge::MonoMs ms) const {
    bridge::Now n;
    n.mono = 1000000 + ms;
    n.real = 1700000000.0 + static_cast<double>(ms) / 1000.0;
    return n;
  }
  void put(const std::string &name, const std::string &content, bridge::MonoMs ms) {
    write_file(dir.file("out/" + name), content);
    state->on_file(name.c_str(), at(ms));
  }
  std::string topic(const std::string &rest) const { return "kelvinlog/vm/" + rest; }

  bridgetest::ScratchDir dir;
  bridgetest::RecordingSink sink;
  bridgetest::LogCapture log;
  bridge::BridgeOptions opt;
  int outdir_fd = -1;
  int prom_fd = -1;
  std::unique_ptr<bridge::BridgeState> state;
};

TEST_F(BridgeStateTest, AValueFilePublishesEveryFieldRetainedAndTheLabelOnline) {
  start();
  put("Meterv.txt", kCounterFile, 0);
  EXPECT_EQ(sink.last(topic("Meter/counter")), "10000");
  EXPECT_EQ(sink.last(topic("Meter/consumption")), "100");
  EXPECT_EQ(sink.last(topic("Meter/led")), "1");
  EXPECT_EQ(sink.last(topic("Meter/available")), "online");
  for (const auto &m : sink.messages) EXPECT_TRUE(m.retain) << m.topic;
  // Each reading is published again; availability only when it changes.
  put("Meterv.txt", kCounterFile, 100);
  EXPECT_EQ(sink.on(topic("Meter/counter")).size(), 2u);
  EXPECT_EQ(sink.on(topic("Meter/available")).size(), 1u);
  EXPECT_TRUE(sink.on(topic("Meter/switch")).empty()) << "no switch state without --allow-control";
}

TEST_F(BridgeStateTest, ABadFileIsLoggedOnceAndAgainOnlyAfterAReload) {
  start();
  for (int i = 0; i < 50; ++i) put("Kitchenv.txt", "junk\n", i);
  EXPECT_EQ(log.count("Kitchenv.txt"), 1) << log.text();
  EXPECT_TRUE(sink.on(topic("Kitchen/temperature")).empty());
  put("Kitchenv.txt", "21.500\n", 60);
  EXPECT_EQ(sink.last(topic("Kitchen/temperature")), "21.500");
  put("Kitchenv.txt", "junk\n", 70);
  EXPECT_EQ(log.count("Kitchenv.txt"), 1) << "reported twice: " << log.text();
  EXPECT_EQ(sink.on(topic("Kitchen/temperature")).size(), 1u) << "a bad file was published";
  state->load_config(at(80), true);
  EXPECT_EQ(log.count("Kitchenv.txt"), 2) << log.text();
}

// File times are coarse: two rewrites may carry one time, and each is news.
TEST_F(BridgeStateTest, ARewriteWithTheSameFileTimeIsPublished) {
  start();
  put("Kitchenv.txt", "21.500\n", 0);
  struct stat st {};
  ASSERT_EQ(stat(dir.file("out/Kitchenv.txt").c_str(), &st), 0);
  write_file(dir.file("out/Kitchenv.txt"), "21.625\n");
  const timespec same[2] = {st.st_mtim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.file("out/Kitchenv.txt").c_str(), same, 0), 0);
  state->on_file("Kitchenv.txt", at(1));
  EXPECT_EQ(sink.last(topic("Kitchen/temperature")), "21.625");
}

TEST_F(BridgeStateTest, AnEmptyFileIsOneBeingWrittenAndPassesSilently) {
  start();
  put("Kitchenv.txt", "", 0);  // a scan can meet the moment between truncation and write
  state->rescan(at(1));
  EXPECT_EQ(log.count("Kitchenv.txt"), 0) << log.text();
  EXPECT_TRUE(sink.on(topic("Kitchen/temperature")).empty());
  put("Kitchenv.txt", "21.500\n", 2);
  EXPECT_EQ(sink.last(topic("Kitchen/temperature")), "21.500");
}

TEST_F(BridgeStateTest, UnknownAndForeignFilesAreLoggedOnceOrIgnored) {
  write_file(dir.file("kelvinlog-config.txt"), std::string(kConfig) + "28C0FFEE00000009;Kitchenv\n");
  start();
  for (int i = 0; i < 5; ++i) {
    put("Nobodyv.txt", "21.500\n", i);          // no such label: one line
    put("Kitchenv.txt", "21.500\n", i);         // value of Kitchen and raw of Kitchenv at once
    put("Kitchen.txt", "58 01 4B 46\n", i);     // raw file: silent
    put("err.txt", "x\n", i);                   // error log: silent
    put(std::string(40, 'x') + "v.txt", "1\n", i);  // stem too long for a label: one line
  }
  EXPECT_EQ(log.count("Nobodyv.txt"), 1) << log.text();
  EXPECT_EQ(log.count("Kitchenv.txt"), 1) << log.text();
  EXPECT_EQ(log.count("Kitchen.txt"), 0) << log.text();
  EXPECT_EQ(log.count("err.txt"), 0) << log.text();
  EXPECT_EQ(log.count("xxxxxxxxxx"), 1) << log.text();
  EXPECT_TRUE(sink.on(topic("Kitchen/temperature")).empty());
}

TEST_F(BridgeStateTest, ValuesGoUnavailableAfterStaleAfterAndBackWithTheNextRewrite) {
  start();
  put("Kitchenv.txt", "21.500\n", 0);
  EXPECT_EQ(state->service(at(9999)), at(10000).mono);
  EXPECT_EQ(sink.on(topic("Kitchen/available")), std::vector<std::string>{"online"});
  state->service(at(10000));
  EXPECT_EQ(sink.last(topic("Kitchen/available")), "offline");
  EXPECT_EQ(state->service(at(20000)), bridge::kNever);
  EXPECT_EQ(sink.on(topic("Kitchen/available")).size(), 2u) << "offline published twice";
  put("Kitchenv.txt", "21.625\n", 30000);
  EXPECT_EQ(sink.last(topic("Kitchen/available")), "online");
  EXPECT_EQ(sink.last(topic("Kitchen/temperature")), "21.625");
  EXPECT_EQ(log.count("unavailable"), 1);
  EXPECT_EQ(log.count("available"), 2) << log.text();
}

TEST_F(BridgeStateTest, FilesFoundAtStartKeepTheirAgeFromTheFileTime) {
  write_file(dir.file("out/Kitchenv.txt"), "21.500\n");
  write_file(dir.file("out/Meterv.txt"), kCounterFile);
  const timespec old_times[2] = {{1700000000 - 100, 0}, {1700000000 - 100, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.file("out/Kitchenv.txt").c_str(), old_times, 0), 0);
  const timespec fresh[2] = {{1700000000 - 3, 0}, {1700000000 - 3, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.file("out/Meterv.txt").c_str(), fresh, 0), 0);
  write_file(dir.file("out/Garagev.txt"), "1542\n");
  const timespec ahead[2] = {{1700000000 + 100, 0}, {1700000000 + 100, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.file("out/Garagev.txt").c_str(), ahead, 0), 0);
  start();
  EXPECT_EQ(sink.last(topic("Kitchen/temperature")), "21.500");
  EXPECT_EQ(sink.last(topic("Kitchen/available")), "offline");
  EXPECT_EQ(sink.last(topic("Meter/available")), "online");
  EXPECT_EQ(state->service(at(0)), at(7000).mono) << "Meter goes stale 10 s after its file time";
  state->service(at(10000));
  EXPECT_EQ(sink.last(topic("Garage/available")), "offline") << "a file time ahead counts as now";
  std::string prom;
  state->format_prom(at(0), prom);
  EXPECT_NE(prom.find("kelvinlog_value_age_seconds{label=\"Kitchen\",id=\"28FF4A1B02170312\"} 100.000"),
            std::string::npos) << prom;
  EXPECT_NE(prom.find("kelvinlog_value_timestamp_seconds{label=\"Kitchen\",id=\"28FF4A1B02170312\"} 1699999900.000"),
            std::string::npos) << prom;
  // A scan does not read again what it has read unless the file time moved.
  const std::size_t before = sink.messages.size();
  state->rescan(at(10));
  EXPECT_EQ(sink.messages.size(), before);
}

TEST_F(BridgeStateTest, AConnectPublishesTheWholeStateAgain) {
  opt.ha_discovery = true;
  opt.allow_control = true;
  write_file(dir.file("out/Metero.txt"), "1");  // on, also without a line end
  start();
  sink.up = false;
  put("Meterv.txt", kCounterFile, 0);
  put("Garagev.txt", "1542\n", 0);
  EXPECT_TRUE(sink.messages.empty());
  // Every connect sends everything, whether or not a disconnect was seen.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    sink.up = true;
    sink.messages.clear();
    state->on_connected();
    EXPECT_EQ(sink.last(topic("status")), "online");
    EXPECT_EQ(sink.last(topic("Meter/counter")), "10000");
    EXPECT_EQ(sink.last(topic("Meter/available")), "online");
    EXPECT_EQ(sink.last(topic("Meter/switch")), "1");
    EXPECT_EQ(sink.last(topic("Garage/energy")), "1542");
    EXPECT_EQ(sink.on("homeassistant/sensor/vm/28C0FFEE00000001_counter/config").size(), 1u);
    EXPECT_EQ(sink.on("homeassistant/switch/vm/28C0FFEE00000001_switch/config").size(), 1u);
    EXPECT_EQ(sink.on("homeassistant/sensor/vm/vm_S01_energy/config").size(), 1u);
    EXPECT_EQ(sink.subscriptions.at(0), "kelvinlog/vm/+/switch/set");
    sink.up = false;
  }
  // Discovery goes out once per connection, not with every reading.
  sink.up = true;
  sink.messages.clear();
  state->on_connected();
  put("Meterv.txt", kCounterFile, 10);
  EXPECT_EQ(sink.on("homeassistant/sensor/vm/28C0FFEE00000001_counter/config").size(), 1u);
}

struct CommandCase {
  const char *name;
  bool allow;              // --allow-control
  std::string topic;       // where the command arrives
  std::string payload;
  bool retain;
  std::string control;     // Metero.txt before ("" : absent)
  std::string after;       // Metero.txt afterwards
  const char *log;         // a log line holds this
};
void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.name; }

const CommandCase kCommands[] = {
    {"On", true, "Meter/switch/set", "1", false, "", "1\n", "set to 1"},
    {"OffWithLineFeed", true, "Meter/switch/set", "0\n", false, "1\n", "0\n", "set to 0"},
    {"Retained", true, "Meter/switch/set", "1", true, "0\n", "0\n", "retained"},
    {"BadPayload", true, "Meter/switch/set", "on", false, "0\n", "0\n", "not 0 or 1"},
    {"UnknownLabel", true, "Nobody/switch/set", "1", false, "0\n", "0\n", "no such label"},
    {"S0Input", true, "Garage/switch/set", "1", false, "0\n", "0\n", "has no output"},
    {"PendingReset", true, "Meter/switch/set", "1", false, "r\n", "r\n", "pending bus reset"},
    {"PendingConfiguration", true, "Meter/switch/set", "1", false, "0;05;42\n", "0;05;42\n",
     "pending configuration string"},
    {"NotAllowed", false, "Meter/switch/set", "1", false, "0\n", "0\n", nullptr},
};

class BridgeCommand : public BridgeStateTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(BridgeCommand, OnlyAFreeSwitchOfAKnownDeviceIsWritten) {
  const CommandCase &c = GetParam();
  opt.allow_control = c.allow;
  if (!c.control.empty()) write_file(dir.file("out/Metero.txt"), c.control);
  write_file(dir.file("out/Meterv.txt"), kCounterFile);
  write_file(dir.file("out/Garagev.txt"), "1542\n");
  start();
  sink.messages.clear();
  state->on_message(topic(c.topic).c_str(), c.payload.data(), c.payload.size(), c.retain);
  EXPECT_EQ(read_file(dir.file("out/Metero.txt")), c.after.empty() ? "<missing>" : c.after);
  if (c.log != nullptr) {
    EXPECT_EQ(log.count(c.log), 1) << log.text();
  }
  const bool written = c.after != c.control;
  EXPECT_EQ(sink.on(topic("Meter/switch")).size(), written ? 1u : 0u);
  if (written) {
    EXPECT_EQ(sink.last(topic("Meter/switch")), std::string(1, c.after[0]));
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, BridgeCommand, ::testing::ValuesIn(kCommands),
                         [](const auto &info) { return std::string(info.param.name); });

struct ConfigChangeCase {
  const char *name;
  const char *config;                  // the configuration written while running
  const char *old_level;               // its topics are cleared
  std::string moved;                   // "<new level>/<leaf>=<value>" published; "" none
  std::vector<std::string> kept;       // discovery objects updated in place, never emptied
  std::vector<std::string> gone;       // discovery objects emptied
};
void PrintTo(const ConfigChangeCase &c, std::ostream *os) { *os << c.name; }

const ConfigChangeCase kConfigChanges[] = {
    {"Renamed", "28FF4A1B02170312;Cook\n28C0FFEE00000001;Meter;QV-S0\nS01;Garage;800\n", "Kitchen",
     "Cook/temperature=21.500", {"28FF4A1B02170312_temperature"}, {}},
    {"RemovedKeepsItsRomIdLabel", "28C0FFEE00000001;Meter;QV-S0\nS01;Garage;800\n", "Kitchen",
     "28FF4A1B02170312/temperature=21.500", {"28FF4A1B02170312_temperature"}, {}},
    {"S0Renamed", "28FF4A1B02170312;Kitchen\n28C0FFEE00000001;Meter;QV-S0\nS01;Shed;800\n", "Garage", "Shed/energy=1542", {"vm_S01_energy"}, {}},
    {"ModelDropped", "28FF4A1B02170312;Kitchen\n28C0FFEE00000001;Meter\nS01;Garage;800\n", "Meter", "",
     {}, {"28C0FFEE00000001_counter", "28C0FFEE00000001_consumption", "28C0FFEE00000001_led"}},
};

class BridgeConfigChange : public BridgeStateTest,
                           public ::testing::WithParamInterface<ConfigChangeCase> {};

// A new label moves a device's topics and updates its entities in place: an
// empty config would make Home Assistant delete the entity and its history.
TEST_P(BridgeConfigChange, EntitiesFollowTheirDeviceAndOnlyVanishedOnesAreRemoved) {
  const ConfigChangeCase &c = GetParam();
  opt.ha_discovery = true;
  start();
  put("Kitchenv.txt", "21.500\n", 0);
  put("Meterv.txt", kCounterFile, 0);
  put("Garagev.txt", "1542\n", 0);
  sink.messages.clear();
  write_file(dir.file("kelvinlog-config.txt"), c.config);
  state->load_config(at(100));
  for (const char *leaf : {"available", "temperature", "energy", "counter", "attributes"}) {
    const std::string t = topic(std::string(c.old_level) + "/" + leaf);
    if (!sink.on(t).empty()) {
      EXPECT_EQ(sink.last(t), "") << t;
    }
  }
  EXPECT_EQ(sink.last(topic(std::string(c.old_level) + "/available")), "");
  if (!c.moved.empty()) {
    const std::size_t eq = c.moved.find('=');
    const std::string level = c.moved.substr(0, c.moved.find('/'));
    EXPECT_EQ(sink.last(topic(c.moved.substr(0, eq))), c.moved.substr(eq + 1));
    EXPECT_EQ(sink.last(topic(level + "/available")), "online");
  }
  for (const std::string &object : c.kept) {
    const std::string t = "homeassistant/sensor/vm/" + object + "/config";
    ASSERT_FALSE(sink.on(t).empty()) << t;
    for (const std::string &p : sink.on(t)) EXPECT_NE(p, "") << t;
    const std::string level = c.moved.substr(0, c.moved.find('/'));
    EXPECT_NE(sink.last(t).find("kelvinlog/vm/" + level + "/"), std::string::npos) << sink.last(t);
  }
  for (const std::string &object : c.gone) {
    const bool led = object.find("_led") != std::string::npos;
    const std::string t =
        std::string("homeassistant/") + (led ? "binary_sensor" : "sensor") + "/vm/" + object + "/config";
    EXPECT_EQ(sink.last(t), "") << t;
  }
  // The same configuration written again changes nothing.
  const std::size_t before = sink.messages.size();
  write_file(dir.file("kelvinlog-config.txt"), c.config);
  state->load_config(at(200));
  EXPECT_EQ(sink.messages.size(), before);
}

INSTANTIATE_TEST_SUITE_P(Changes, BridgeConfigChange, ::testing::ValuesIn(kConfigChanges),
                         [](const auto &info) { return std::string(info.param.name); });

struct RetainedCase {
  const char *name;
  const char *topic;      // as the broker delivers it at a connect
  const char *payload;
  bool retain;
  const char *watch;      // topic whose reaction is checked
  const char *reaction;   // its last payload holds this; "" cleared; nullptr nothing published
};
void PrintTo(const RetainedCase &c, std::ostream *os) { *os << c.name; }

const RetainedCase kRetained[] = {
    {"GhostLabelIsCleared", "kelvinlog/vm/Cellar/available", "online", true,
     "kelvinlog/vm/Cellar/available", ""},
    {"OwnLabelIsLeftAlone", "kelvinlog/vm/Kitchen/available", "online", true,
     "kelvinlog/vm/Kitchen/available", nullptr},
    {"UnseenLabelGoesOffline", "kelvinlog/vm/Meter/available", "online", true,
     "kelvinlog/vm/Meter/available", "offline"},
    {"LiveMessageIsNoReadBack", "kelvinlog/vm/Cellar/available", "online", false,
     "kelvinlog/vm/Cellar/available", nullptr},
    {"VanishedEntityIsRemoved", "homeassistant/sensor/vm/28C0FFEE00000002_rlf/config", "{}", true,
     "homeassistant/sensor/vm/28C0FFEE00000002_rlf/config", ""},
    {"UnnamedDeviceKeepsItsEntity", "homeassistant/sensor/vm/28C0FFEE00000002_temperature/config",
     "{}", true, "homeassistant/sensor/vm/28C0FFEE00000002_temperature/config",
     "\"kelvinlog/vm/28C0FFEE00000002/temperature\""},
    {"RenamedOfflineMovesInPlace", "homeassistant/sensor/vm/28C0FFEE00000001_counter/config", "{}",
     true, "homeassistant/sensor/vm/28C0FFEE00000001_counter/config", "\"kelvinlog/vm/Meter/counter\""},
    {"ShortTopicIsLeftAlone", "k", "online", true, "kelvinlog/vm/k/available", nullptr},
    {"OtherPrefixIsLeftAlone", "kelvinlog/pi/Cellar/available", "online", true,
     "kelvinlog/pi/Cellar/available", nullptr},
    {"OtherBoardIsLeftAlone", "homeassistant/sensor/pi/28C0FFEE00000002_rlf/config", "{}", true,
     "homeassistant/sensor/pi/28C0FFEE00000002_rlf/config", nullptr},
};

class BridgeReadBack : public BridgeStateTest, public ::testing::WithParamInterface<RetainedCase> {};

// What an earlier run left on the broker, delivered at a connect.
TEST_P(BridgeReadBack, LabelsAndEntitiesOfEarlierRunsAreClearedOrMoved) {
  const RetainedCase &c = GetParam();
  opt.ha_discovery = true;
  start();
  put("Kitchenv.txt", "21.500\n", 0);
  state->on_connected();
  sink.messages.clear();
  state->on_message(c.topic, c.payload, std::strlen(c.payload), c.retain);
  if (c.reaction == nullptr) {
    EXPECT_TRUE(sink.on(c.watch).empty()) << sink.last(c.watch);
  } else if (c.reaction[0] == '\0') {
    EXPECT_EQ(sink.last(c.watch), "");
  } else {
    EXPECT_NE(sink.last(c.watch).find(c.reaction), std::string::npos) << sink.last(c.watch);
    // Delivered again as now published: left alone, no loop.
    const std::string now = sink.last(c.watch);
    sink.messages.clear();
    state->on_message(c.topic, now.data(), now.size(), true);
    EXPECT_TRUE(sink.messages.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Retained, BridgeReadBack, ::testing::ValuesIn(kRetained),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(BridgeStateTest, TwoLabelsOnOneTopicLevelKeepTheFirst) {
  write_file(dir.file("kelvinlog-config.txt"), "28C0FFEE00000001;a+b\n28C0FFEE00000002;a#b\n");
  start();
  put("a+bv.txt", "1.000\n", 0);
  put("a#bv.txt", "2.000\n", 0);
  put("a#bv.txt", "2.000\n", 1);
  EXPECT_EQ(sink.on(topic("a_b/temperature")), std::vector<std::string>{"1.000"});
  EXPECT_EQ(log.count("a#bv.txt"), 1) << log.text();
}

TEST_F(BridgeStateTest, NoMoreThanTheTableOfLabelsIsFollowed) {
  std::string config;
  char line[64];
  for (std::size_t i = 0; i <= bridge::kMaxLabels; ++i) {
    std::snprintf(line, sizeof line, "28%014zX;D%zu\n", i, i);
    config += line;
  }
  write_file(dir.file("kelvinlog-config.txt"), config);
  start();
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i <= bridge::kMaxLabels; ++i) {
      put("D" + std::to_string(i) + "v.txt", "1.000\n", round);
    }
  }
  EXPECT_EQ(sink.on(topic("D127/temperature")).size(), 3u);
  EXPECT_TRUE(sink.on(topic("D128/temperature")).empty());
  EXPECT_EQ(log.count("D128v.txt"), 1) << "one line for the label beyond the table";
}

TEST_F(BridgeStateTest, TheTextfileIsWrittenAtOnceThenAtMostOnceASecondAndAtLeastEvery15s) {
  start(true);
  const std::string path = dir.file("prom/k.prom");
  EXPECT_EQ(state->service(at(0)), at(15000).mono);
  EXPECT_NE(read_file(path).find("kelvinlog_bridge_mqtt_connected 1"), std::string::npos);
  put("Kitchenv.txt", "21.500\n", 200);
  EXPECT_EQ(state->service(at(200)), at(1000).mono) << "a change waits for the gap";
  EXPECT_EQ(read_file(path).find("Kitchen"), std::string::npos);
  state->service(at(1000));
  EXPECT_NE(read_file(path).find("kelvinlog_temperature_celsius{label=\"Kitchen\""), std::string::npos);
  EXPECT_EQ(state->service(at(1001)), at(10200).mono) << "staleness comes before the refresh";
  sink.up = false;
  state->on_disconnected();
  state->service(at(2000));
  EXPECT_NE(read_file(path).find("kelvinlog_bridge_mqtt_connected 0"), std::string::npos);
}

struct HostileCase {
  const char *name;
  void (*plant)(const bridgetest::ScratchDir &d);  // puts something at out/Kitchenv.txt
};
void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.name; }

const HostileCase kHostile[] = {
    {"Fifo", [](const bridgetest::ScratchDir &d) { mkfifo(d.file("out/Kitchenv.txt").c_str(), 0644); }},
    {"LinkToAGoodFile",
     [](const bridgetest::ScratchDir &d) {
       write_file(d.file("elsewhere"), "21.500\n");
       symlink(d.file("elsewhere").c_str(), d.file("out/Kitchenv.txt").c_str());
     }},
    {"Directory", [](const bridgetest::ScratchDir &d) { mkdir(d.file("out/Kitchenv.txt").c_str(), 0755); }},
    {"Huge", [](const bridgetest::ScratchDir &d) { write_file(d.file("out/Kitchenv.txt"), std::string(1 << 20, '1')); }},
};

class BridgeHostile : public BridgeStateTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(BridgeHostile, IsSkippedWithOneLineWithoutBlockingOrFollowing) {
  start();
  GetParam().plant(dir);
  for (int i = 0; i < 3; ++i) state->on_file("Kitchenv.txt", at(i));  // returns: no block on a FIFO
  state->rescan(at(5));
  EXPECT_TRUE(sink.on(topic("Kitchen/temperature")).empty());
  EXPECT_EQ(log.count("Kitchenv.txt"), 1) << log.text();
  if (std::string(GetParam().name) == "Huge") {
    EXPECT_EQ(log.count("longer than any value file"), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BridgeHostile, ::testing::ValuesIn(kHostile),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(BridgeStateTest, AMissingConfigurationKeepsTheLastOne) {
  start();
  put("Kitchenv.txt", "21.500\n", 0);
  unlink(dir.file("kelvinlog-config.txt").c_str());
  state->load_config(at(10));
  EXPECT_EQ(log.count("keeping the last one"), 1) << log.text();
  put("Kitchenv.txt", "21.625\n", 20);
  EXPECT_EQ(sink.last(topic("Kitchen/temperature")), "21.625");
}

}  // namespace
