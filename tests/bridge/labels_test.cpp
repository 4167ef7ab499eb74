// Label kinds from configurations, by the logger's name, model and field rules.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "bridge/labels.h"

namespace {

using bridge::LabelKind;
using bridge::Resolution;

constexpr const char *kId = "28FF4A1B02170312";

struct LabelCase {
  const char *name;        // test name
  std::string config;      // configuration text
  const char *label;       // stem of the value file
  Resolution resolution;   // expected result
  LabelKind kind;          // expected kind (when found)
  const char *id;          // expected ROM id or S0 key (when found)
  const char *model;       // expected model text
};
void PrintTo(const LabelCase &c, std::ostream *os) { *os << c.name; }

const std::string id(const char *rest) { return std::string(kId) + rest; }

const LabelCase kCases[] = {
    {"NamedSensor", id(";Kitchen\n"), "Kitchen", Resolution::kFound, LabelKind::kTemp28, kId, ""},
    {"Family10Sensor", "10A1B2C3D4E5F607;Attic\n", "Attic", Resolution::kFound, LabelKind::kTemp10,
     "10A1B2C3D4E5F607", ""},
    {"CounterModule", id(";Meter;QV-S0\n"), "Meter", Resolution::kFound, LabelKind::kCounter, kId,
     "QV-S0"},
    {"CounterModuleDk", id(";Meter;QV-DK-S0\n"), "Meter", Resolution::kFound, LabelKind::kCounter,
     kId, "QV-DK-S0"},
    {"CounterModelPrefix", id(";Meter;QV-S0X\n"), "Meter", Resolution::kFound, LabelKind::kCounter,
     kId, "QV-S0X"},
    {"ClimateModuleHtx", id(";Cellar;QV-HTX\n"), "Cellar", Resolution::kFound, LabelKind::kClimate,
     kId, "QV-HTX"},
    {"HashAfterIdCancelsModel", id(";Meter;QV-S0 #old\n"), "Meter", Resolution::kFound,
     LabelKind::kTemp28, kId, ""},
    {"ModelWithoutDecoder", id(";Odd;QV-X\n"), "Odd", Resolution::kNoDecoder, LabelKind::kUnknown,
     "", ""},
    {"OtherFamilyWithoutModel", "26A1B2C3D4E5F607;Battery\n", "Battery", Resolution::kNoDecoder,
     LabelKind::kUnknown, "", ""},
    {"NameWithQuotes", id(";Say \"hi\"\\\n"), "Say \"hi\"\\", Resolution::kFound,
     LabelKind::kTemp28, kId, ""},
    {"NameCutTo16", id(";ABCDEFGHIJKLMNOPQRST\n"), "ABCDEFGHIJKLMNOP", Resolution::kFound,
     LabelKind::kTemp28, kId, ""},
    {"UncutNameIsNoLabel", id(";ABCDEFGHIJKLMNOPQRST\n"), "ABCDEFGHIJKLMNOPQRST",
     Resolution::kUnknown, LabelKind::kUnknown, "", ""},
    {"FirstOccurrenceWins", "#" + id(";Old;QV-S0\n") + id(";New;QV-H\n"), "Old", Resolution::kFound,
     LabelKind::kCounter, kId, "QV-S0"},
    {"LaterLineIsNotUsed", "#" + id(";Old;QV-S0\n") + id(";New;QV-H\n"), "New",
     Resolution::kUnknown, LabelKind::kUnknown, "", ""},
    {"BlankBeforeTheId", " " + id(";Kitchen\n"), "Kitchen", Resolution::kFound,
     LabelKind::kTemp28, kId, ""},
    {"FirstOccurrenceWithoutName", "Alias;" + id("\n") + id(";Kitchen\n"), "Kitchen",
     Resolution::kUnknown, LabelKind::kUnknown, "", ""},
    {"FirstOccurrenceWithoutNameGivesTheId", "Alias;" + id("\n") + id(";Kitchen\n"), kId,
     Resolution::kFound, LabelKind::kTemp28, kId, ""},
    {"EmptyNameGivesTheId", id(";;QV-S0\n"), kId, Resolution::kFound, LabelKind::kCounter, kId,
     "QV-S0"},
    {"UnnamedIdNotInConfiguration", "", "28FF7C2D0316041E", Resolution::kFound, LabelKind::kTemp28,
     "28FF7C2D0316041E", ""},
    {"LowerCaseId", "", "28ff7c2d0316041e", Resolution::kFound, LabelKind::kTemp28,
     "28ff7c2d0316041e", ""},
    {"IdOfANamedDevice", id(";Kitchen\n"), kId, Resolution::kRenamed, LabelKind::kUnknown, "", ""},
    {"NameWithSlashGivesTheId", id(";Temp in/out\n"), kId, Resolution::kFound, LabelKind::kTemp28,
     kId, ""},
    {"NameErrGivesTheId", id(";err\n"), kId, Resolution::kFound, LabelKind::kTemp28, kId, ""},
    {"NameErrIsNoLabel", id(";err\n"), "err", Resolution::kUnknown, LabelKind::kUnknown, "", ""},
    {"FifteenDigitsAreNoId", "", "28FF7C2D0316041", Resolution::kUnknown, LabelKind::kUnknown, "",
     ""},
    {"SeventeenDigitsAreNoId", "", "28FF7C2D0316041E0", Resolution::kUnknown,
     LabelKind::kUnknown, "", ""},
    {"IdAtTheEndOfALongerHexRun", "0" + id(";Kitchen\n"), "Kitchen", Resolution::kFound,
     LabelKind::kTemp28, kId, ""},
    {"TwinNamesTakeTheFirstDevice", id(";Twin\n") + "10A1B2C3D4E5F607;Twin\n", "Twin",
     Resolution::kFound, LabelKind::kTemp28, kId, ""},
    {"S01Default", "", "S01", Resolution::kFound, LabelKind::kS0, "S01", ""},
    {"S02Default", id(";Kitchen\n"), "S02", Resolution::kFound, LabelKind::kS0, "S02", ""},
    {"S0Named", "S01;Garage;800\n", "Garage", Resolution::kFound, LabelKind::kS0, "S01", ""},
    {"S0KeyOfANamedInput", "S01;Garage;800\n", "S01", Resolution::kUnknown, LabelKind::kUnknown, "",
     ""},
    {"S0NameWithSlashFallsBack", "S01;a/b;800\n", "S01", Resolution::kFound, LabelKind::kS0, "S01",
     ""},
    {"S0NameCutTo19", "S01;ABCDEFGHIJKLMNOPQRSTUV;800\n", "ABCDEFGHIJKLMNOPQRS",
     Resolution::kFound, LabelKind::kS0, "S01", ""},
    {"S0NameEndsAtABlank", "S01;My Garage;800\n", "My", Resolution::kFound, LabelKind::kS0, "S01",
     ""},
    {"S0EmptyNameIsTheKey", "S02;;800\n", "S02", Resolution::kFound, LabelKind::kS0, "S02", ""},
    {"S0CapturedByAnEarlierWord", id(";PS01x;x\n") + "S01;Garage;800\n", "PS01x",
     Resolution::kFound, LabelKind::kS0, "S01", ""},
    // A name that is the other input's file: the logger keeps the key.
    {"S0SameNameTwiceIsS01", "S01;Power;800\nS02;Power;1000\n", "Power", Resolution::kFound,
     LabelKind::kS0, "S01", ""},
    {"S0SameNameTwiceS02KeepsItsKey", "S01;Power;800\nS02;Power;1000\n", "S02",
     Resolution::kFound, LabelKind::kS0, "S02", ""},
    {"S01NamedS02KeepsItsKey", "S01;S02;800\n", "S01", Resolution::kFound, LabelKind::kS0, "S01",
     ""},
    {"S02NamedS01KeepsItsKey", "S02;S01;800\n", "S02", Resolution::kFound, LabelKind::kS0, "S02",
     ""},
    {"S0BeforeADeviceOfTheSameName", id(";Garage\n") + "S01;Garage\n", "Garage",
     Resolution::kFound, LabelKind::kS0, "S01", ""},
    {"Unknown", id(";Kitchen\n"), "Nobody", Resolution::kUnknown, LabelKind::kUnknown, "", ""},
    {"OtherFamilyOfOneWithoutModel", "12A1B2C3D4E5F607;Odd\n", "Odd", Resolution::kNoDecoder,
     LabelKind::kUnknown, "", ""},
    {"ClimateModelPrefix", id(";Bath;QV-H2\n"), "Bath", Resolution::kFound, LabelKind::kClimate,
     kId, "QV-H2"},
};

class LabelTable : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelTable, ResolvesAsTheLoggerNamesItsFiles) {
  const LabelCase &c = GetParam();
  auto model = std::make_unique<bridge::ConfigModel>();
  bridge::config_set_text(*model, c.config.c_str(), c.config.size());
  bridge::LabelInfo info;
  ASSERT_EQ(bridge::resolve_label(*model, c.label, info), c.resolution);
  if (c.resolution != Resolution::kFound) return;
  EXPECT_EQ(info.kind, c.kind);
  EXPECT_STREQ(info.id.data(), c.id);
  EXPECT_STREQ(info.model.data(), c.model);
}

INSTANTIATE_TEST_SUITE_P(Configurations, LabelTable, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(LabelClimate, TemperatureOnlyForFamilies10And28) {
  auto model = std::make_unique<bridge::ConfigModel>();
  const std::string text =
      "28C0FFEE00000002;A;QV-H\n10C0FFEE00000002;B;QV-H\n26C0FFEE00000002;C;QV-H\n";
  bridge::config_set_text(*model, text.c_str(), text.size());
  bridge::LabelInfo info;
  const std::pair<const char *, bool> expect[] = {{"A", true}, {"B", true}, {"C", false}};
  for (const auto &e : expect) {
    ASSERT_EQ(bridge::resolve_label(*model, e.first, info), Resolution::kFound) << e.first;
    EXPECT_EQ(info.has_temperature, e.second) << e.first;
  }
}

TEST(LabelConfiguration, OnlyThe100000FirstCharactersCount) {
  auto model = std::make_unique<bridge::ConfigModel>();
  std::string text(bridge::kConfigMax - 10, '#');
  text += "\n" + id(";Late\n");  // crosses the bound: the name is cut off
  text += std::string(50, '#');
  bridge::config_set_text(*model, text.c_str(), text.size());
  EXPECT_EQ(model->length, bridge::kConfigMax);
  bridge::LabelInfo info;
  EXPECT_EQ(bridge::resolve_label(*model, "Late", info), Resolution::kUnknown);
}

TEST(LabelConfiguration, ANulByteEndsTheText) {
  auto model = std::make_unique<bridge::ConfigModel>();
  const std::string text = id(";Kitchen\n") + std::string(1, '\0') + "10A1B2C3D4E5F607;Attic\n";
  bridge::config_set_text(*model, text.data(), text.size());
  bridge::LabelInfo info;
  EXPECT_EQ(bridge::resolve_label(*model, "Kitchen", info), Resolution::kFound);
  EXPECT_EQ(bridge::resolve_label(*model, "Attic", info), Resolution::kUnknown);
}

TEST(LabelConfiguration, DeviceLinesBeyondTheTableAreCounted) {
  auto model = std::make_unique<bridge::ConfigModel>();
  std::string text;
  char line[64];
  for (std::size_t i = 0; i < bridge::kMaxDeviceLines + 3; ++i) {
    std::snprintf(line, sizeof line, "28%014zX;D%zu\n", i, i);
    text += line;
  }
  bridge::config_set_text(*model, text.c_str(), text.size());
  EXPECT_EQ(model->device_count, bridge::kMaxDeviceLines);
  EXPECT_EQ(model->devices_dropped, 3u);
  bridge::LabelInfo info;
  EXPECT_EQ(bridge::resolve_label(*model, "D255", info), Resolution::kFound);
  EXPECT_EQ(bridge::resolve_label(*model, "D256", info), Resolution::kUnknown);
}

TEST(LabelConfiguration, OnlySixteenHexDigitsBeforeASemicolonMakeADeviceLine) {
  auto model = std::make_unique<bridge::ConfigModel>();
  const std::string text = "# 10A1B2C3D4E5F607 is gone\n0" + id(";Kitchen\n");
  bridge::config_set_text(*model, text.c_str(), text.size());
  ASSERT_EQ(model->device_count, 1u);
  EXPECT_STREQ(model->devices[0].id.data(), kId);
}

// A device is never placed on a label that stands for another device.
TEST(LabelConfiguration, TwinNamesPlaceOnlyTheFirstDevice) {
  auto model = std::make_unique<bridge::ConfigModel>();
  const std::string text = id(";Twin\n") + "10A1B2C3D4E5F607;Twin\n";
  bridge::config_set_text(*model, text.c_str(), text.size());
  std::array<char, bridge::kLabelSize> label{};
  bridge::LabelInfo info;
  EXPECT_TRUE(bridge::place_of(*model, kId, label, info));
  EXPECT_STREQ(label.data(), "Twin");
  EXPECT_FALSE(bridge::place_of(*model, "10A1B2C3D4E5F607", label, info));
}

TEST(LabelConfiguration, RefusedNamesAreMarked) {
  auto model = std::make_unique<bridge::ConfigModel>();
  const std::string text = id(";a/b\n") + "10A1B2C3D4E5F607;err\n28C0FFEE00000001;fine\n";
  bridge::config_set_text(*model, text.c_str(), text.size());
  ASSERT_EQ(model->device_count, 3u);
  EXPECT_TRUE(model->devices[0].refused_name);
  EXPECT_TRUE(model->devices[1].refused_name);
  EXPECT_FALSE(model->devices[2].refused_name);
  EXPECT_TRUE(bridge::is_device_label(*model, "fine"));
  EXPECT_TRUE(bridge::is_device_label(*model, kId));
  EXPECT_FALSE(bridge::is_device_label(*model, "a/b"));
}

}  // namespace
