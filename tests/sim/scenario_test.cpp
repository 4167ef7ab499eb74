// Scenario parsing, generated devices and the shipped demo files of the adapter stand-in.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "sim_scenario.h"
#include "support/files.h"

namespace adaptersim {
namespace {

std::unique_ptr<Scenario> parsed(std::string_view text, ScenarioError *error = nullptr) {
  auto sc = std::make_unique<Scenario>();
  ScenarioError err{};
  const bool ok = parse_scenario(text, *sc, err);
  if (error != nullptr) *error = err;
  return ok ? std::move(sc) : nullptr;
}

TEST(SimScenario, ParsesEveryItem) {
  const auto sc = parsed(
      "# bus\n"
      "\n"
      "device 28FF4A1B02170312 temp28 21.5   # kitchen\n"
      "\tdevice 10A1B2C3D4E5F607\ttemp10 -0.5\r\n"
      "device 28C0FFEE00000001 counter 10000 100 5\n"
      "device 28C0FFEE00000003 counter 1 2\n"
      "device 28C0FFEE00000002 climate 22.25 50 45 10\n"
      "s0 1234 5678 10 20");
  ASSERT_NE(sc, nullptr);
  ASSERT_EQ(sc->device_count, 5u);
  EXPECT_STREQ(sc->devices[0].rom.data(), "28FF4A1B02170312");
  EXPECT_EQ(sc->devices[0].kind, DeviceKind::kTemp28);
  EXPECT_EQ(sc->devices[0].temp_word, 344);
  EXPECT_EQ(sc->devices[1].kind, DeviceKind::kTemp10);
  EXPECT_EQ(sc->devices[1].temp_word, 0xFFFF);
  EXPECT_EQ(sc->devices[2].counter, 10000u);
  EXPECT_EQ(sc->devices[2].consumption, 100);
  EXPECT_EQ(sc->devices[2].counter_increase, 5u);
  EXPECT_EQ(sc->devices[3].counter_increase, 0u);
  EXPECT_EQ(sc->devices[4].kind, DeviceKind::kClimate);
  EXPECT_EQ(sc->devices[4].temp_word, 356);
  EXPECT_EQ(sc->devices[4].rlq, 10);
  EXPECT_TRUE(sc->s0.present);
  EXPECT_EQ(sc->s0.count[1], 5678u);
  EXPECT_EQ(sc->s0.increase[0], 10u);
}

TEST(SimScenario, BadLinesNameTheirLine) {
  struct Case {
    const char *text;
    std::size_t line;
    const char *says;
  };
  const Case cases[] = {
      {"bus 1\n", 1, "unknown item"},
      {"# ok\ndevice 28FF4A1B0217031 temp28 1\n", 2, "16 upper-case"},
      {"device 28ff4a1b02170312 temp28 1\n", 1, "16 upper-case"},
      {"device 28FF4A1B0217031G temp28 1\n", 1, "16 upper-case"},
      {"device 28FF4A1B02170312 temp99 1\n", 1, "unknown device kind"},
      {"device 28FF4A1B02170312 temp28\n", 1, "expected"},
      {"device 28FF4A1B02170312 temp28 1 2\n", 1, "expected"},
      {"device 28FF4A1B02170312 temp28 warm\n", 1, "not a number"},
      {"device 28FF4A1B02170312 temp28 1e3\n", 1, "not a number"},
      {"device 28FF4A1B02170312 temp28 4000\n", 1, "out of range"},
      {"device 10FF4A1B02170312 temp28 1\n", 1, "family 28"},
      {"device 28FF4A1B02170312 temp10 1\n", 1, "family 10"},
      {"device 10FF4A1B02170312 climate 1 2 3 4\n", 1, "family 28"},
      {"device 28FF4A1B02170312 counter 1 65536\n", 1, "above 65535"},
      {"device 28FF4A1B02170312 counter 4294967296 1\n", 1, "not an unsigned"},
      {"device 28FF4A1B02170312 counter -1 1\n", 1, "not an unsigned"},
      {"device 28FF4A1B02170312 climate 20 256 1 1\n", 1, "above 255"},
      {"device 28FF4A1B02170312 temp28 1\n\ndevice 28FF4A1B02170312 temp28 2\n", 3, "twice"},
      {"s0 1\n", 1, "expected"},
      {"s0 1 2 3\n", 1, "expected"},
      {"s0 1 2\ns0 3 4\n", 2, "second s0"},
      {"device a b c d e f g h i\n", 1, "too many fields"},
  };
  for (const Case &c : cases) {
    ScenarioError err{};
    EXPECT_EQ(parsed(c.text, &err), nullptr) << c.text;
    EXPECT_EQ(err.line, c.line) << c.text;
    EXPECT_NE(std::string(err.message.data()).find(c.says), std::string::npos)
        << c.text << " -> " << err.message.data();
  }
}

TEST(SimScenario, BoundsLinesAndDevices) {
  ScenarioError err{};
  const std::string long_line = "#" + std::string(kMaxScenarioLine, 'x') + "\n";
  EXPECT_EQ(parsed(long_line, &err), nullptr);
  EXPECT_EQ(err.line, 1u);

  std::string many;
  char line[64];
  for (std::size_t i = 0; i <= kMaxDevices; ++i) {
    std::snprintf(line, sizeof line, "device 28%014zX temp28 1\n", i);
    many += line;
  }
  EXPECT_EQ(parsed(many, &err), nullptr);
  EXPECT_EQ(err.line, kMaxDevices + 1);
}

TEST(SimScenario, ExtraDevicesAreNumberedFamily28Sensors) {
  auto sc = parsed("device 28FF4A1B02170312 temp28 1\n");
  ASSERT_NE(sc, nullptr);
  ASSERT_TRUE(add_extra_devices(*sc, 17));
  ASSERT_EQ(sc->device_count, 18u);
  EXPECT_STREQ(sc->devices[1].rom.data(), "28E0000000000000");
  EXPECT_STREQ(sc->devices[17].rom.data(), "28E0000000000010");
  EXPECT_EQ(sc->devices[1].temp_word, 20 * 16);
  EXPECT_EQ(sc->devices[17].temp_word, 20 * 16 + 16);  // 21.0 degrees
  EXPECT_FALSE(add_extra_devices(*sc, kMaxDevices - 17));
  EXPECT_EQ(sc->device_count, 18u);
  EXPECT_TRUE(add_extra_devices(*sc, kMaxDevices - 18));
}

using testsupport::read_file;

TEST(SimScenario, BuiltInScenarioIsTheDemoFile) {
  const std::string demo = read_file(std::string(ADAPTERSIM_SCENARIO_DIR) + "/demo.txt");
  ASSERT_FALSE(demo.empty());
  EXPECT_EQ(default_scenario_text(), demo);
  const auto sc = parsed(demo);
  ASSERT_NE(sc, nullptr);
  int temp28 = 0, temp10 = 0, counters = 0, climates = 0;
  for (std::size_t i = 0; i < sc->device_count; ++i) {
    switch (sc->devices[i].kind) {
      case DeviceKind::kTemp28: ++temp28; break;
      case DeviceKind::kTemp10: ++temp10; break;
      case DeviceKind::kCounter: ++counters; break;
      case DeviceKind::kClimate: ++climates; break;
    }
  }
  EXPECT_EQ(temp28, 2);
  EXPECT_EQ(temp10, 1);
  EXPECT_EQ(counters, 1);
  EXPECT_EQ(climates, 1);
  EXPECT_TRUE(sc->s0.present);
}

// The logger finds names and models by the first occurrence of the ROM id, so
// every configured id must be on the demo bus, modules must carry their
// model and exactly one sensor stays unnamed.
TEST(SimScenario, DemoConfigMatchesDemoBus) {
  const auto sc = parsed(default_scenario_text());
  ASSERT_NE(sc, nullptr);
  const std::string config = read_file(std::string(ADAPTERSIM_SCENARIO_DIR) + "/demo-config.txt");
  ASSERT_FALSE(config.empty());
  int unnamed = 0;
  for (std::size_t i = 0; i < sc->device_count; ++i) {
    const Device &d = sc->devices[i];
    const std::string rom = d.rom.data();
    const std::size_t at = config.find(rom);
    if (at == std::string::npos) {
      EXPECT_TRUE(d.kind == DeviceKind::kTemp28 || d.kind == DeviceKind::kTemp10);
      ++unnamed;
      continue;
    }
    ASSERT_EQ(at == 0 || config[at - 1] == '\n', true) << rom;
    const std::string line = config.substr(at, config.find('\n', at) - at);
    ASSERT_GT(line.size(), 17u) << line;
    EXPECT_EQ(line[16], ';') << line;
    EXPECT_EQ(line.find(' '), std::string::npos) << line;
    const std::string rest = line.substr(17);
    const std::string name = rest.substr(0, rest.find(';'));
    EXPECT_GE(name.size(), 1u);
    EXPECT_LE(name.size(), 16u);
    const std::string model =
        rest.find(';') == std::string::npos ? "" : rest.substr(rest.rfind(';') + 1);
    const char *expected = "";
    if (d.kind == DeviceKind::kCounter) expected = "QV-S0";
    if (d.kind == DeviceKind::kClimate) expected = "QV-HTX";
    EXPECT_EQ(model, expected) << line;
  }
  EXPECT_EQ(unnamed, 1);
  EXPECT_NE(config.find("\nS01;Garage;800\n"), std::string::npos);
  EXPECT_NE(config.find("\nS02;Heatpump;1000\n"), std::string::npos);
  // "S01"/"S02" must not occur before their own lines.
  EXPECT_EQ(config.find("S01"), config.find("S01;Garage"));
  EXPECT_EQ(config.find("S02"), config.find("S02;Heatpump"));
}

}  // namespace
}  // namespace adaptersim
