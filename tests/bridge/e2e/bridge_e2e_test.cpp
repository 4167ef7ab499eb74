// The bridge between the real logger (against the stand-in's demo bus) and a
// real mosquitto broker; its textfile read by a real node_exporter.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_test_support.h"
#include "harness.h"
#include "mqtt_client.h"

namespace bridgee2e {
namespace {

using e2e::read_file;
using nlohmann::json;

constexpr char kPrefix[] = "kelvinlog/test/";
constexpr int kLabels = 7;  // labels of the demo bus

std::string demo_scenario() { return read_file(e2e::scenario_dir() + "/demo.txt"); }
std::string demo_config() { return read_file(e2e::scenario_dir() + "/demo-config.txt"); }

// `text` with every `from` replaced by `to`.
std::string replace_all(std::string text, const std::string &from, const std::string &to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Waits for `pred` with a deadline, looking every 20 ms.
bool wait_until(const std::function<bool()> &pred, Ms timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    poll(nullptr, 0, 20);
  }
  return true;
}

// The demo bus under the logger, a broker and the bridge; with `textfile`
// the bridge also writes aux/textfile/kelvinlog.prom.
struct DemoRun {
  explicit DemoRun(std::vector<std::string> bridge_options, bool textfile = false)
      : run(demo_scenario(), demo_config(), {}), broker(run.s) {
    if (textfile) {
      mkdir(run.s.aux("textfile").c_str(), 0755);
      bridge_options.push_back("--prom-file");
      bridge_options.push_back(run.s.aux("textfile/kelvinlog.prom"));
    }
    if (run.ok() && broker.ok()) bridge = start_bridge(run.s, broker.port(), bridge_options);
  }
  bool ok() const { return run.ok() && broker.ok() && bridge != nullptr && bridge->running(); }
  // Lets the logger finish one whole cycle, then stops it so the files hold still.
  bool one_cycle_then_stop_logger() {
    return run.searches(2, Ms(20000)) && run.logger->terminate();
  }
  std::string file(const std::string &name) const { return read_file(run.s.out_file(name)); }
  // SIGTERM: the bridge says offline and exits 0 (under a sanitizer, a
  // memory error or leak would change the status).
  void expect_clean_stop() {
    ASSERT_TRUE(bridge->terminate());
    EXPECT_TRUE(bridge->exited() && bridge->exit_code() == 0) << bridge->err();
    EXPECT_NE(bridge->err().find("stopped"), std::string::npos) << bridge->err();
  }

  e2e::StandInRun run;
  Broker broker;
  std::unique_ptr<e2e::Process> bridge;
};

// The first line of a value file, split at ';'.
std::vector<std::string> fields_of(const std::string &file) {
  std::vector<std::string> out;
  std::istringstream line(file.substr(0, file.find('\n')));
  for (std::string f; std::getline(line, f, ';');) out.push_back(f);
  return out;
}

// Every value topic with the payload the files of a stopped logger call for.
std::map<std::string, std::string> expected_values(const DemoRun &d) {
  const auto t = [](const std::string &rest) { return std::string(kPrefix) + rest; };
  std::map<std::string, std::string> v{
      {t("Kitchen/temperature"), e2e::temp28_text(21.5)},
      {t("28FF7C2D0316041E/temperature"), e2e::temp28_text(-4.25)},
      {t("Attic/temperature"), e2e::temp10_text(19.5)},
      {t("Cellar/temperature"), e2e::temp28_text(22.25)},
      {t("Cellar/rlf"), "50"}, {t("Cellar/rli"), "45"}, {t("Cellar/rlq"), "10"},
      {t("Cellar/led"), "0"},
  };
  const std::vector<std::string> meter = fields_of(d.file("Meterv.txt"));
  if (meter.size() == 3) {
    v[t("Meter/counter")] = meter[0];
    v[t("Meter/consumption")] = meter[1];
    v[t("Meter/led")] = meter[2];
  }
  v[t("Garage/energy")] = fields_of(d.file("Garagev.txt")).at(0);
  v[t("Heatpump/energy")] = fields_of(d.file("Heatpumpv.txt")).at(0);
  return v;
}

const std::vector<std::string> kAllLabels{"Kitchen", "28FF7C2D0316041E", "Attic", "Meter",
                                          "Cellar", "Garage", "Heatpump"};

// True when every label's availability topic holds `what`.
bool all_labels(const MqttClient &c, const std::string &what) {
  for (const std::string &l : kAllLabels) {
    if (c.last(kPrefix + l + "/available") != what) return false;
  }
  return true;
}

// True when `state` holds every entry of `want`.
bool holds(const std::map<std::string, std::string> &state,
           const std::map<std::string, std::string> &want) {
  for (const auto &w : want) {
    const auto it = state.find(w.first);
    if (it == state.end() || it->second != w.second) return false;
  }
  return true;
}

// Discovery configs the client holds.
int discovery_count(const MqttClient &c) {
  int n = 0;
  for (const auto &m : c.state()) n += m.first.rfind("homeassistant/", 0) == 0;
  return n;
}

// Peak resident memory of `pid` in kB (VmHWM), -1 when unreadable.
long vm_hwm_kb(pid_t pid) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

std::string show(const std::map<std::string, std::string> &m) {
  std::string s;
  for (const auto &e : m) s += e.first + " " + e.second + "\n";
  return s;
}

// --help and --version that cannot be written end with status 1, not 0.
TEST(E2EBridge, InfoFailsWhenStandardOutputCannotBeWritten) {
  for (const char *arg : {"--help", "--version"}) {
    e2e::Scratch s;
    e2e::Process bridge({bridgee2e::bridge_bin(), arg}, e2e::plain_env(), s.work(), "/dev/full");
    ASSERT_TRUE(bridge.started());
    ASSERT_TRUE(bridge.wait_exit(e2e::Ms(5000)));
    EXPECT_EQ(bridge.exit_code(), 1) << arg;
  }
}

TEST(E2EBridge, EveryValueAndDiscoveryConfigIsRetainedAfterOneCycle) {
  DemoRun d({"--ha-discovery", "--allow-control"});
  ASSERT_TRUE(d.ok());
  ASSERT_TRUE(d.one_cycle_then_stop_logger());
  const std::map<std::string, std::string> want = expected_values(d);
  // A client that connects now sees only what the broker retained.
  MqttClient sub(d.broker.port(), {"kelvinlog/#", "homeassistant/#"}, "e2e-sub");
  ASSERT_TRUE(sub.ok());
  // 7 labels: 1 + 1 + 1 + (3 + switch) + (5 + switch) + 1 + 1 entities.
  const bool complete = sub.wait(
      [&] { return holds(sub.state(), want) && all_labels(sub, "online") && discovery_count(sub) == 15; },
      Ms(10000));
  ASSERT_TRUE(complete) << show(sub.state()) << d.bridge->err();
  for (const Message &m : sub.messages()) EXPECT_TRUE(m.retain) << m.topic;
  EXPECT_EQ(sub.last("kelvinlog/test/status"), "online");

  std::set<std::string> unique_ids;
  std::set<std::string> devices;
  const std::map<std::string, std::string> state = sub.state();
  for (const auto &m : state) {
    if (m.first.rfind("homeassistant/", 0) != 0) continue;
    SCOPED_TRACE(m.first);
    const json j = json::parse(m.second);
    EXPECT_TRUE(unique_ids.insert(j.at("unique_id").get<std::string>()).second);
    // Every entity has its state retained, the switch's being the module's limit/LED.
    EXPECT_EQ(state.count(j.at("state_topic").get<std::string>()), 1u) << j.at("state_topic");
    EXPECT_EQ(state.count(j.at("json_attributes_topic").get<std::string>()), 1u);
    for (const json &a : j.at("availability")) {
      EXPECT_EQ(state.at(a.at("topic").get<std::string>()), "online");
    }
    const json &dev = j.at("device");
    devices.insert(dev.at("identifiers").at(0).get<std::string>());
    const bool s0 = m.first.find("_S0") != std::string::npos;
    EXPECT_EQ(dev.contains("via_device"), !s0);
    if (s0) {
      EXPECT_EQ(dev.at("identifiers"), json::array({"kelvinlog_test"}));
    }
    EXPECT_EQ(j.at("origin").at("name"), "kelvinlog-bridge");
  }
  // One device per bus device (5) and the board's, which holds the S0 inputs.
  EXPECT_EQ(devices.size(), 6u) << ::testing::PrintToString(devices);
  const json kitchen =
      json::parse(state.at("homeassistant/sensor/test/28FF4A1B02170312_temperature/config"));
  EXPECT_EQ(kitchen.at("device_class"), "temperature");
  EXPECT_EQ(kitchen.at("unit_of_measurement"), "\xC2\xB0" "C");
  EXPECT_EQ(kitchen.at("device").at("via_device"), "kelvinlog_test");
  EXPECT_EQ(json::parse(state.at("kelvinlog/test/Kitchen/attributes")),
            json::parse(R"j({"rom_id":"28FF4A1B02170312","family":"28","model":"temperature sensor (family 28)","label":"Kitchen"})j"));
  const json garage = json::parse(state.at("homeassistant/sensor/test/test_S01_energy/config"));
  EXPECT_EQ(garage.at("state_class"), "total_increasing");
  EXPECT_EQ(garage.at("unit_of_measurement"), "Wh");
  EXPECT_EQ(garage.at("name"), "Garage energy");
  const json cellar = json::parse(state.at("homeassistant/sensor/test/28C0FFEE00000002_rlf/config"));
  EXPECT_EQ(cellar.at("device_class"), "humidity");
  EXPECT_EQ(cellar.at("device").at("model"), "QV-HTX");

  // A value file renamed into place counts like one the logger rewrote.
  e2e::replace_file(d.run.s.out_file("Kitchenv.txt"), "30.000\n");
  ASSERT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/Kitchen/temperature") == "30.000"; },
                       Ms(5000)));
  // Configuration changes, while running (Kitchen renamed Cook, Attic's line
  // removed: its ROM id labels it) and while stopped (Cellar renamed
  // Basement): each entity moves with its device, and the old label's
  // retained topics are gone. The stopped logger writes no new file, so the
  // last values move along.
  const auto cfg = [](const std::string &a, const std::string &b, const std::string &text) {
    return replace_all(text, a, b);
  };
  struct Change {
    std::string config;       // the configuration afterwards
    bool while_stopped;       // written while the bridge is stopped
    std::string old_level;    // no retained topic remains under it
    std::string new_level;    // its values arrive here
    std::string object;       // discovery object of the device, never emptied
  };
  const std::string renamed = cfg("Kitchen", "Cook", demo_config());
  const std::string removed = cfg("10A1B2C3D4E5F607;Attic", "#", renamed);
  const std::vector<Change> changes{
      {renamed, false, "Kitchen", "Cook", "sensor/test/28FF4A1B02170312_temperature"},
      {removed, false, "Attic", "10A1B2C3D4E5F607", "sensor/test/10A1B2C3D4E5F607_temperature"},
      {cfg("Cellar", "Basement", removed), true, "Cellar", "Basement",
       "sensor/test/28C0FFEE00000002_rlf"},
  };
  for (const Change &c : changes) {
    SCOPED_TRACE(c.old_level);
    if (c.while_stopped) {
      d.expect_clean_stop();
      d.run.s.write_config(c.config);
      // As the logger's next cycle would write it.
      e2e::replace_file(d.run.s.out_file(c.new_level + "v.txt"), d.file(c.old_level + "v.txt"));
      d.bridge = start_bridge(d.run.s, d.broker.port(), {"--ha-discovery", "--allow-control"});
    } else {
      d.run.s.write_config(c.config);
    }
    const std::string gone = kPrefix + c.old_level + "/";
    const std::string config_topic = "homeassistant/" + c.object + "/config";
    ASSERT_TRUE(sub.wait([&] {
      for (const auto &m : sub.state()) {
        if (m.first.rfind(gone, 0) == 0) return false;
      }
      return sub.last(kPrefix + c.new_level + "/available") == "online" &&
             sub.last(config_topic).find(kPrefix + c.new_level + "/") != std::string::npos;
    }, Ms(10000))) << show(sub.state()) << d.bridge->err();
    for (const Message &m : sub.messages()) {
      EXPECT_FALSE(m.topic == config_topic && m.payload.empty()) << "entity removed: " << m.topic;
    }
  }
  EXPECT_EQ(discovery_count(sub), 15);
  d.expect_clean_stop();
  EXPECT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/status") == "offline"; }, Ms(5000)));
}

TEST(E2EBridge, StateComesBackAfterTheBrokerRestartsAndTheWillSaysOffline) {
  DemoRun d({"--ha-discovery"});
  ASSERT_TRUE(d.ok());
  ASSERT_TRUE(d.one_cycle_then_stop_logger());
  std::map<std::string, std::string> before;
  {
    MqttClient sub(d.broker.port(), {"kelvinlog/#", "homeassistant/#"}, "e2e-before");
    const auto want = expected_values(d);
    ASSERT_TRUE(sub.wait([&] {
      return holds(sub.state(), want) && all_labels(sub, "online") && discovery_count(sub) == 13;
    }, Ms(10000))) << show(sub.state());
    before = sub.state();
  }
  ASSERT_TRUE(d.broker.stop());
  ASSERT_TRUE(d.bridge->wait_for("reconnecting", Ms(10000), 1, e2e::Stream::kErr)) << d.bridge->err();
  ASSERT_TRUE(d.broker.start());  // empty: no persistence
  ASSERT_TRUE(d.bridge->wait_for("connected to", Ms(15000), 2, e2e::Stream::kErr)) << d.bridge->err();
  MqttClient after(d.broker.port(), {"kelvinlog/#", "homeassistant/#"}, "e2e-after");
  ASSERT_TRUE(after.wait([&] { return after.state() == before; }, Ms(10000)))
      << "before:\n" << show(before) << "after:\n" << show(after.state());

  // A bridge that dies without a word leaves its last will.
  d.bridge->signal(SIGKILL);
  ASSERT_TRUE(after.wait([&] { return after.last("kelvinlog/test/status") == "offline"; }, Ms(10000)));
  // The will is retained: whoever subscribes later (Home Assistant after a
  // restart) learns it too.
  MqttClient late(d.broker.port(), {"kelvinlog/test/status"}, "e2e-late");
  EXPECT_TRUE(late.wait([&] { return late.last("kelvinlog/test/status") == "offline"; }, Ms(5000)));
}

TEST(E2EBridge, ValuesGoUnavailableWhenTheLoggerStopsAndReturnWithIt) {
  DemoRun d({"--stale-after", "5"});
  ASSERT_TRUE(d.ok());
  MqttClient sub(d.broker.port(), {"kelvinlog/#"}, "e2e-stale");
  ASSERT_TRUE(sub.wait([&] { return all_labels(sub, "online"); }, Ms(20000))) << show(sub.state());
  ASSERT_TRUE(d.run.logger->terminate());
  ASSERT_TRUE(sub.wait([&] { return all_labels(sub, "offline"); }, Ms(15000))) << show(sub.state());
  // When each file's last rewrite is 5 s old: not before, and not much after.
  for (const Message &m : sub.messages()) {
    if (m.payload != "offline") continue;
    const std::string label = m.topic.substr(std::strlen(kPrefix), m.topic.find("/available") - std::strlen(kPrefix));
    struct stat st {};
    ASSERT_EQ(stat(d.run.s.out_file(label + "v.txt").c_str(), &st), 0) << label;
    const double written = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    EXPECT_GE(m.real, written + 5.0 - 0.05) << label << " went unavailable too early";
    // The timer wakes the bridge at the moment: no event is needed for it.
    EXPECT_LE(m.real, written + 5.0 + 3.0) << label << " went unavailable late";
  }
  EXPECT_TRUE(d.bridge->wait_for("unavailable", Ms(2000), kLabels, e2e::Stream::kErr));
  EXPECT_EQ(e2e::count_of(d.bridge->err(), "unavailable"), kLabels) << d.bridge->err();
  // The values themselves stay retained, marked unavailable.
  EXPECT_EQ(sub.last("kelvinlog/test/Kitchen/temperature"), "21.500");

  d.run.start(d.run.s.out(), "-f");
  ASSERT_TRUE(sub.wait([&] { return all_labels(sub, "online"); }, Ms(20000))) << show(sub.state());
  d.expect_clean_stop();
}

TEST(E2EBridge, AnOutputDirectoryRemovedAndMadeAgainIsFollowedAndOfflineMeanwhile) {
  DemoRun d({});
  ASSERT_TRUE(d.ok());
  MqttClient sub(d.broker.port(), {"kelvinlog/#"}, "e2e-outdir");
  ASSERT_TRUE(sub.wait([&] { return all_labels(sub, "online"); }, Ms(20000))) << show(sub.state());
  // A restore or a tmpfs mounted anew: the logger, which needs it, stops too.
  ASSERT_TRUE(d.run.logger->terminate());
  std::filesystem::remove_all(d.run.s.out());
  ASSERT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/status") == "offline"; }, Ms(10000)))
      << d.bridge->err();
  ASSERT_EQ(mkdir(d.run.s.out().c_str(), 0755), 0);
  const auto back = std::chrono::steady_clock::now();
  ASSERT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/status") == "online"; }, Ms(20000)))
      << d.bridge->err();
  e2e::replace_file(d.run.s.out_file("Kitchenv.txt"), "30.000\n");
  ASSERT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/Kitchen/temperature") == "30.000"; },
                       Ms(5000)));
  std::printf("values flow %.4f s after the output directory is back\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count());
  d.run.start(d.run.s.out(), "-f");
  ASSERT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/Kitchen/temperature") == "21.500"; },
                       Ms(20000))) << d.bridge->err();
  d.expect_clean_stop();
}

TEST(E2EBridge, SwitchCommandReachesTheControlFileAndTheBus) {
  DemoRun d({"--allow-control"});
  ASSERT_TRUE(d.ok());
  ASSERT_TRUE(d.run.searches(2, Ms(20000)));
  MqttClient sub(d.broker.port(), {"kelvinlog/#"}, "e2e-switch");
  ASSERT_TRUE(sub.wait([&] { return sub.last("kelvinlog/test/Meter/led") == "0"; }, Ms(10000)));
  ASSERT_TRUE(sub.publish("kelvinlog/test/Meter/switch/set", "1", false));
  ASSERT_TRUE(sub.wait([&] { return d.file("Metero.txt") == "1\n"; }, Ms(10000)))
      << d.bridge->err();
  // Meter is entry 3 of the demo bus: its next poll carries the switch.
  ASSERT_TRUE(d.run.sim->wait_commands(
      [](const std::vector<std::string> &c) { return e2e::count_text(c, "$3;11") >= 1; }, Ms(15000)))
      << d.run.logger->out();
  ASSERT_TRUE(sub.wait([&] {
    return sub.last("kelvinlog/test/Meter/switch") == "1" && sub.last("kelvinlog/test/Meter/led") == "1";
  }, Ms(15000))) << show(sub.state());

  // Refused: an S0 input, a pending bus reset, a retained command while
  // connected and when it subscribes (at a start or reconnect), and a 10 MB
  // payload, which never reaches the bridge's memory.
  const long hwm_before = vm_hwm_kb(d.bridge->pid());
  ASSERT_TRUE(sub.publish("kelvinlog/test/Meter/switch/set", std::string(10 << 20, '1'), false));
  ASSERT_TRUE(sub.publish("kelvinlog/test/Meter/switch/set", "0", true));
  ASSERT_TRUE(d.bridge->wait_for("it is retained", Ms(5000), 1, e2e::Stream::kErr)) << d.bridge->err();
  ASSERT_TRUE(sub.publish("kelvinlog/test/Garage/switch/set", "1", false));
  ASSERT_TRUE(d.bridge->wait_for("has no output", Ms(5000), 1, e2e::Stream::kErr));
  const long hwm_after = vm_hwm_kb(d.bridge->pid());
  std::printf("bridge VmHWM: %ld kB before, %ld kB after a 10 MB command\n", hwm_before, hwm_after);
  EXPECT_LT(hwm_after - hwm_before, 1024) << "peak memory grew by " << hwm_after - hwm_before << " kB";
  EXPECT_EQ(d.file("Metero.txt"), "1\n");
  e2e::replace_file(d.run.s.out_file("Cellaro.txt"), "r\n");
  ASSERT_TRUE(sub.publish("kelvinlog/test/Cellar/switch/set", "1", false));
  ASSERT_TRUE(d.bridge->wait_for("pending bus reset", Ms(5000), 1, e2e::Stream::kErr));
  EXPECT_EQ(d.file("Cellaro.txt"), "r\n");
  ASSERT_TRUE(d.bridge->terminate());
  d.bridge = start_bridge(d.run.s, d.broker.port(), {"--allow-control"});
  EXPECT_TRUE(d.bridge->wait_for("it is retained", Ms(5000), 1, e2e::Stream::kErr)) << d.bridge->err();
  ASSERT_TRUE(d.run.logger->terminate());
  EXPECT_EQ(d.file("Metero.txt"), "1\n");
  // No temporary file is left behind in the output directory.
  for (const std::string &name : e2e::list_dir(d.run.s.out())) {
    EXPECT_EQ(name.find(".kelvinlog-bridge"), std::string::npos) << name;
  }
  d.expect_clean_stop();
}

TEST(E2EBridge, NodeExporterReadsTheTextfile) {
  DemoRun d({}, true);
  ASSERT_TRUE(d.ok());
  const std::string dir = d.run.s.aux("textfile");
  ASSERT_TRUE(d.one_cycle_then_stop_logger());
  const std::string garage = fields_of(d.file("Garagev.txt")).at(0);
  const std::string garage_joules = std::to_string(std::stoull(garage) * 3600);
  const std::string garage_sample =
      "kelvinlog_energy_joules_total{label=\"Garage\",id=\"S01\"} " + garage_joules + "\n";
  // Written at most once a second: wait until it holds every label's last value.
  ASSERT_TRUE(wait_until([&] {
    const std::string text = read_file(dir + "/kelvinlog.prom");
    return text.find(garage_sample) != std::string::npos &&
           e2e::count_of(text, "kelvinlog_value_stale{") == kLabels;
  }, Ms(10000))) << read_file(dir + "/kelvinlog.prom");
  NodeExporter exporter(d.run.s, dir);
  ASSERT_TRUE(exporter.ok());
  const std::string metrics = exporter.metrics();
  EXPECT_NE(metrics.find("node_textfile_scrape_error 0"), std::string::npos) << metrics;
  for (const std::string &sample : {
           std::string("kelvinlog_temperature_celsius{id=\"28FF4A1B02170312\",label=\"Kitchen\"} 21.5"),
           std::string("kelvinlog_temperature_celsius{id=\"10A1B2C3D4E5F607\",label=\"Attic\"} 19.5"),
           std::string("kelvinlog_humidity_ratio{field=\"rlf\",id=\"28C0FFEE00000002\",label=\"Cellar\"} 0.5"),
           std::string("kelvinlog_led{id=\"28C0FFEE00000001\",label=\"Meter\"} 0"),
           std::string("# TYPE kelvinlog_energy_joules_total counter"),
           std::string("# TYPE kelvinlog_value_age_seconds gauge"),
           std::string("kelvinlog_bridge_mqtt_connected 1"),
       }) {
    EXPECT_NE(metrics.find(sample), std::string::npos) << sample << "\n" << metrics;
  }
  // node_exporter prints large numbers in e-notation: compare them as numbers.
  const auto value_of = [&](const std::string &series) {
    const std::size_t at = metrics.find("\n" + series + " ");
    return at == std::string::npos ? -1.0 : std::stod(metrics.substr(at + series.size() + 2));
  };
  EXPECT_EQ(value_of("kelvinlog_energy_joules_total{id=\"S01\",label=\"Garage\"}"),
            std::stod(garage_joules)) << metrics;
  EXPECT_EQ(value_of("kelvinlog_consumption_joules{id=\"28C0FFEE00000001\",label=\"Meter\"}"), 360000.0);
  EXPECT_EQ(e2e::list_dir(dir), std::vector<std::string>{"kelvinlog.prom"});
  d.expect_clean_stop();
}

TEST(E2EBridge, PromtoolFindsTheTextfileClean) {
  const std::string promtool = PROMTOOL_BIN;
  if (access(promtool.c_str(), X_OK) != 0) {
    GTEST_SKIP() << promtool << " not found (scripts/fetch-promtool.sh puts it there)";
  }
  DemoRun d({}, true);
  ASSERT_TRUE(d.ok());
  const std::string file = d.run.s.aux("textfile/kelvinlog.prom");
  ASSERT_TRUE(d.one_cycle_then_stop_logger());
  ASSERT_TRUE(wait_until([&] { return e2e::count_of(read_file(file), "kelvinlog_value_stale{") == kLabels; },
                         Ms(10000))) << read_file(file);
  std::FILE *p = popen((promtool + " check metrics < '" + file + "' 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  EXPECT_EQ(pclose(p), 0) << out << read_file(file);
  EXPECT_EQ(out, "") << read_file(file);
  d.expect_clean_stop();
}

}  // namespace
}  // namespace bridgee2e
