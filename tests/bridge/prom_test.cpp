// The textfile format, parsed back: TYPE before every sample, escaped label values.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/prom.h"
#include "bridge_test_support.h"

namespace {

using bridge::LabelKind;

struct Sample {
  std::string name;                           // metric name
  std::map<std::string, std::string> labels;  // unescaped label values
  double value = 0.0;
};

// A small parser of the text format, strict where the format is strict.
struct Parsed {
  std::map<std::string, std::string> types;  // metric name -> TYPE
  std::set<std::string> helps;               // names with a HELP line
  std::vector<Sample> samples;
  std::vector<std::string> errors;
};

Parsed parse(const std::string &text) {
  Parsed p;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("# HELP ", 0) == 0) {
      p.helps.insert(line.substr(7, line.find(' ', 7) - 7));
      continue;
    }
    if (line.rfind("# TYPE ", 0) == 0) {
      const std::size_t sp = line.find(' ', 7);
      const std::string name = line.substr(7, sp - 7);
      if (p.types.count(name) != 0) p.errors.push_back("second TYPE for " + name);
      p.types[name] = line.substr(sp + 1);
      continue;
    }
    Sample s;
    std::size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ') s.name += line[i++];
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        const std::size_t eq = line.find("=\"", i);
        if (eq == std::string::npos) {
          p.errors.push_back("bad label in: " + line);
          break;
        }
        const std::string key = line.substr(i, eq - i);
        std::string value;
        for (i = eq + 2; i < line.size() && line[i] != '"'; ++i) {
          if (line[i] == '\\' && i + 1 < line.size()) {
            ++i;
            value += line[i] == 'n' ? '\n' : line[i];
          } else {
            value += line[i];
          }
        }
        s.labels[key] = value;
        ++i;  // closing quote
        if (i < line.size() && line[i] == ',') ++i;
      }
      ++i;  // '}'
    }
    if (i >= line.size() || line[i] != ' ') {
      p.errors.push_back("no value in: " + line);
      continue;
    }
    std::size_t used = 0;
    s.value = std::stod(line.substr(i + 1), &used);
    if (i + 1 + used != line.size()) p.errors.push_back("junk after value: " + line);
    if (p.types.count(s.name) == 0) p.errors.push_back("sample before its TYPE: " + line);
    p.samples.push_back(s);
  }
  return p;
}

bridge::Reading reading_of(LabelKind kind, const std::string &file) {
  bridge::Reading r;
  const char *why = bridge::parse_value_file(bridgetest::info_of(kind, "28C0FFEE00000002"),
                                             file.data(), file.size(), r);
  EXPECT_EQ(why, nullptr) << file;
  return r;
}

const Sample *find(const Parsed &p, const std::string &name, const std::string &label,
                   const std::string &field = "") {
  for (const Sample &s : p.samples) {
    if (s.name != name || s.labels.at("label") != label) continue;
    if (!field.empty() && s.labels.at("field") != field) continue;
    return &s;
  }
  return nullptr;
}

TEST(PromTextfile, EveryKindParsesBackWithTypesAndValues) {
  const bridge::Reading temp = reading_of(LabelKind::kTemp28, "21.500\n");
  const bridge::Reading counter =
      reading_of(LabelKind::kCounter, "10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED\n");
  const bridge::Reading climate = reading_of(
      LabelKind::kClimate, " 22.250;50;45;10;0\nT[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED\n");
  const bridge::Reading s0 = reading_of(LabelKind::kS0, "1542\n");
  const bridge::PromSample samples[] = {
      {"Kitchen", "28FF4A1B02170312", &temp, 1.5, 1700000000.25, false},
      {"Meter", "28C0FFEE00000001", &counter, 2.0, 1700000001.0, false},
      {"Cellar", "28C0FFEE00000002", &climate, 400.0, 1699999000.0, true},
      {"Garage", "S01", &s0, 0.0, 1700000002.0, false},
  };
  std::string text;
  bridge::format_textfile(samples, 4, true, text);
  const Parsed p = parse(text);
  EXPECT_TRUE(p.errors.empty()) << ::testing::PrintToString(p.errors) << "\n" << text;
  for (const auto &t : p.types) EXPECT_EQ(p.helps.count(t.first), 1u) << t.first;
  EXPECT_EQ(p.types.at("kelvinlog_temperature_celsius"), "gauge");
  EXPECT_EQ(p.types.at("kelvinlog_energy_joules_total"), "counter");

  ASSERT_NE(find(p, "kelvinlog_temperature_celsius", "Kitchen"), nullptr);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_temperature_celsius", "Kitchen")->value, 21.5);
  EXPECT_EQ(find(p, "kelvinlog_temperature_celsius", "Kitchen")->labels.at("id"), "28FF4A1B02170312");
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_temperature_celsius", "Cellar")->value, 22.25);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_energy_joules_total", "Meter")->value, 36000000);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_energy_joules_total", "Garage")->value, 5551200);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_consumption_joules", "Meter")->value, 360000);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_humidity_ratio", "Cellar", "rlf")->value, 0.50);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_humidity_ratio", "Cellar", "rlq")->value, 0.10);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_led", "Meter")->value, 1);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_led", "Cellar")->value, 0);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_value_age_seconds", "Kitchen")->value, 1.5);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_value_timestamp_seconds", "Kitchen")->value, 1700000000.25);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_value_stale", "Cellar")->value, 1);
  EXPECT_DOUBLE_EQ(find(p, "kelvinlog_value_stale", "Garage")->value, 0);
  EXPECT_EQ(find(p, "kelvinlog_led", "Garage"), nullptr);
  // Four labels, each with age, timestamp and stale; every sample once.
  std::set<std::string> keys;
  for (const Sample &s : p.samples) {
    std::string key = s.name;
    for (const auto &l : s.labels) key += "|" + l.first + "=" + l.second;
    EXPECT_TRUE(keys.insert(key).second) << "sample twice: " << key;
  }
  // temperature 2, energy 2, consumption 1, humidity 3, led 2, per label 4 x 3, connection 1
  EXPECT_EQ(p.samples.size(), 2u + 2 + 1 + 3 + 2 + 4 * 3 + 1);
}

TEST(PromTextfile, WithoutValuesOnlyTheConnectionIsExported) {
  std::string text = "stale";
  bridge::format_textfile(nullptr, 0, false, text);
  const Parsed p = parse(text);
  EXPECT_TRUE(p.errors.empty());
  ASSERT_EQ(p.samples.size(), 1u);
  EXPECT_EQ(p.samples[0].name, "kelvinlog_bridge_mqtt_connected");
  EXPECT_EQ(p.samples[0].value, 0);
}

struct EscapeCase {
  const char *name;
  const char *label;
};
void PrintTo(const EscapeCase &c, std::ostream *os) { *os << c.name; }

const EscapeCase kEscapes[] = {
    {"Quote", "Say \"hi\""},
    {"Backslash", "C:\\temp"},
    {"BackslashBeforeQuote", "x\\\""},
    {"LineFeed", "a\nb"},
    {"Braces", "{a=\"1\"}"},
};

class PromEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(PromEscape, LabelValueComesBackUnchanged) {
  const bridge::Reading temp = reading_of(LabelKind::kTemp28, "21.500\n");
  const bridge::PromSample s{GetParam().label, "28FF4A1B02170312", &temp, 1.0, 2.0, false};
  std::string text;
  bridge::format_textfile(&s, 1, true, text);
  const Parsed p = parse(text);
  EXPECT_TRUE(p.errors.empty()) << ::testing::PrintToString(p.errors) << "\n" << text;
  ASSERT_NE(find(p, "kelvinlog_temperature_celsius", GetParam().label), nullptr) << text;
  // A line feed inside a value would split the sample: it must be escaped.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * 5 + 4 + 1) << text;
}

// Wh to J exactly, also where a double would round (above 2^53 J).
TEST(PromJoules, WattHoursTimes3600AsDecimalText) {
  const struct {
    const char *wh;
    const char *joules;  // nullptr: refused
  } cases[] = {
      {"0", "0"}, {"1", "3600"}, {"65535", "235926000"}, {"4294967295", "15461882262000"},
      {"2501999792983609", "9007199254740992400"},  // 2^53 + 400: a double ends in ...2000
      {"18446744073709551615", "66408278665354385814000"},  // the largest S0 count
      {"", nullptr}, {"-1", nullptr}, {"12a", nullptr}, {"184467440737095516150", nullptr},
  };
  for (const auto &c : cases) {
    char out[bridge::kJoulesTextSize];
    const bool ok = bridge::joules_text(c.wh, out, sizeof out);
    EXPECT_EQ(ok, c.joules != nullptr) << c.wh;
    if (ok && c.joules != nullptr) {
      EXPECT_STREQ(out, c.joules) << c.wh;
    }
  }
  char small[4];
  EXPECT_FALSE(bridge::joules_text("1", small, sizeof small));
}

INSTANTIATE_TEST_SUITE_P(Labels, PromEscape, ::testing::ValuesIn(kEscapes),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
