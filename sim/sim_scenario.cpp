// Scenario text parser and the device state that the simulated adapter reports.
#include "sim_scenario.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace adaptersim {

namespace {

constexpr std::size_t kMaxFields = 8;
using Fields = std::array<std::string_view, kMaxFields>;

constexpr double kExtraBaseCelsius = 20.0;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_upper_hex(char c) { return is_digit(c) || (c >= 'A' && c <= 'F'); }

// Splits a line at blanks and tabs. Returns the number of fields, or
// kMaxFields + 1 when there are more than kMaxFields.
std::size_t split_fields(std::string_view line, Fields &fields) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (count == kMaxFields) return kMaxFields + 1;
    fields[count++] = line.substr(start, i - start);
  }
  return count;
}

// Copies a field into a message, bounded and with non-printable bytes as '?'.
void quote_field(std::string_view field, char *out, std::size_t cap) {
  if (cap == 0) return;
  std::size_t n = 0;
  for (char c : field) {
    if (n + 1 >= cap || n >= 40) break;
    auto u = static_cast<unsigned char>(c);
    out[n++] = (u >= 0x20 && u < 0x7F) ? c : '?';
  }
  out[n] = '\0';
}

class LineParser {
 public:
  LineParser(Scenario &scenario, ScenarioError &error) : sc_(scenario), err_(error) {}

  bool parse(std::string_view line, std::size_t line_no) {
    line_no_ = line_no;
    if (line.size() > kMaxScenarioLine) {
      return fail("line longer than %u characters", static_cast<unsigned>(kMaxScenarioLine));
    }
    std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    Fields f{};
    std::size_t n = split_fields(line, f);
    if (n == 0) return true;
    if (n > kMaxFields) return fail("too many fields");
    if (f[0] == "device") return parse_device(f, n);
    if (f[0] == "s0") return parse_s0(f, n);
    char word[48];
    quote_field(f[0], word, sizeof word);
    return fail("unknown item '%s' (expected 'device' or 's0')", word);
  }

 private:
  bool fail(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
    err_.line = line_no_;
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(err_.message.data(), err_.message.size(), fmt, args);
    va_end(args);
    return false;
  }

  bool need_fields(std::size_t n, std::size_t min, std::size_t max, const char *usage) {
    if (n < min || n > max) return fail("expected: %s", usage);
    return true;
  }

  bool number_u32(std::string_view field, const char *what, std::uint32_t max,
                  std::uint32_t &value) {
    char shown[48];
    quote_field(field, shown, sizeof shown);
    if (!parse_u32(field, value)) {
      return fail("%s '%s' is not an unsigned whole number", what, shown);
    }
    if (value > max) return fail("%s %s is above %lu", what, shown, static_cast<unsigned long>(max));
    return true;
  }

  bool temperature(std::string_view field, int steps, const char *kind, std::uint16_t &word) {
    char shown[48];
    quote_field(field, shown, sizeof shown);
    double celsius = 0.0;
    if (!parse_decimal(field, celsius)) return fail("temperature '%s' is not a number", shown);
    if (!temperature_word(celsius, steps, word)) {
      return fail("temperature %s is out of range for %s", shown, kind);
    }
    return true;
  }

  bool parse_device(const Fields &f, std::size_t n) {
    if (n < 3) return fail("expected: device <ROM id> <kind> <values...>");
    std::string_view rom = f[1];
    char shown[48];
    quote_field(rom, shown, sizeof shown);
    if (rom.size() != kRomIdLen) {
      return fail("ROM id '%s' must be 16 upper-case hexadecimal digits", shown);
    }
    for (char c : rom) {
      if (!is_upper_hex(c)) return fail("ROM id '%s' must be 16 upper-case hexadecimal digits", shown);
    }
    for (std::size_t i = 0; i < sc_.device_count; ++i) {
      if (rom == std::string_view(sc_.devices[i].rom.data())) {
        return fail("ROM id %s appears twice", shown);
      }
    }
    if (sc_.device_count >= kMaxDevices) {
      return fail("more than %u devices", static_cast<unsigned>(kMaxDevices));
    }
    Device d{};
    std::snprintf(d.rom.data(), d.rom.size(), "%.*s", static_cast<int>(rom.size()), rom.data());
    const std::string_view family = rom.substr(0, 2);
    const std::string_view kind = f[2];
    if (kind == "temp28") {
      if (!need_fields(n, 4, 4, "device <ROM id> temp28 <celsius>")) return false;
      if (family != "28") return fail("temp28 needs a ROM id of family 28");
      d.kind = DeviceKind::kTemp28;
      if (!temperature(f[3], 16, "temp28", d.temp_word)) return false;
    } else if (kind == "temp10") {
      if (!need_fields(n, 4, 4, "device <ROM id> temp10 <celsius>")) return false;
      if (family != "10") return fail("temp10 needs a ROM id of family 10");
      d.kind = DeviceKind::kTemp10;
      if (!temperature(f[3], 2, "temp10", d.temp_word)) return false;
    } else if (kind == "counter") {
      if (!need_fields(n, 5, 6, "device <ROM id> counter <counter> <consumption> [<increase>]")) {
        return false;
      }
      d.kind = DeviceKind::kCounter;
      std::uint32_t consumption = 0;
      if (!number_u32(f[3], "counter", UINT32_MAX, d.counter)) return false;
      if (!number_u32(f[4], "consumption", 0xFFFF, consumption)) return false;
      d.consumption = static_cast<std::uint16_t>(consumption);
      if (n == 6 && !number_u32(f[5], "increase", UINT32_MAX, d.counter_increase)) return false;
    } else if (kind == "climate") {
      if (!need_fields(n, 7, 7, "device <ROM id> climate <celsius> <rLf> <rLi> <rLq>")) {
        return false;
      }
      if (family != "28") return fail("climate needs a ROM id of family 28");
      d.kind = DeviceKind::kClimate;
      std::uint32_t rlf = 0;
      std::uint32_t rli = 0;
      std::uint32_t rlq = 0;
      if (!temperature(f[3], 16, "climate", d.temp_word)) return false;
      if (!number_u32(f[4], "rLf", 255, rlf)) return false;
      if (!number_u32(f[5], "rLi", 255, rli)) return false;
      if (!number_u32(f[6], "rLq", 255, rlq)) return false;
      d.rlf = static_cast<std::uint8_t>(rlf);
      d.rli = static_cast<std::uint8_t>(rli);
      d.rlq = static_cast<std::uint8_t>(rlq);
    } else {
      quote_field(kind, shown, sizeof shown);
      return fail("unknown device kind '%s' (temp28, temp10, counter, climate)", shown);
    }
    sc_.devices[sc_.device_count++] = d;
    return true;
  }

  bool parse_s0(const Fields &f, std::size_t n) {
    if (n != 3 && n != 5) {
      return fail("expected: s0 <count1> <count2> [<increase1> <increase2>]");
    }
    if (sc_.s0.present) return fail("second s0 line");
    S0Channels s0{};
    s0.present = true;
    if (!number_u32(f[1], "count1", UINT32_MAX, s0.count[0])) return false;
    if (!number_u32(f[2], "count2", UINT32_MAX, s0.count[1])) return false;
    if (n == 5) {
      if (!number_u32(f[3], "increase1", UINT32_MAX, s0.increase[0])) return false;
      if (!number_u32(f[4], "increase2", UINT32_MAX, s0.increase[1])) return false;
    }
    sc_.s0 = s0;
    return true;
  }

  Scenario &sc_;
  ScenarioError &err_;
  std::size_t line_no_ = 0;
};

}  // namespace

bool parse_u32(std::string_view text, std::uint32_t &value) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (!is_digit(c)) return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > UINT32_MAX) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool parse_decimal(std::string_view text, double &value) {
  std::array<char, 32> buf{};
  if (text.empty() || text.size() >= buf.size()) return false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') ++i;
  std::size_t digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  }
  if (digits == 0 || i != text.size()) return false;
  std::snprintf(buf.data(), buf.size(), "%.*s", static_cast<int>(text.size()), text.data());
  char *end = nullptr;
  value = std::strtod(buf.data(), &end);
  return end == buf.data() + text.size();
}

bool parse_scenario(std::string_view text, Scenario &scenario, ScenarioError &error) {
  LineParser parser(scenario, error);
  std::size_t line_no = 0;
  while (!text.empty()) {
    ++line_no;
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = (nl == std::string_view::npos) ? std::string_view{} : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!parser.parse(line, line_no)) return false;
  }
  return true;
}

bool add_extra_devices(Scenario &scenario, std::size_t n) {
  if (n > kMaxDevices - scenario.device_count) return false;
  for (std::size_t i = 0; i < n; ++i) {
    Device d{};
    std::snprintf(d.rom.data(), d.rom.size(), "28E%013X", static_cast<unsigned>(i));
    d.kind = DeviceKind::kTemp28;
    temperature_word(kExtraBaseCelsius + static_cast<double>(i) / 16.0, 16, d.temp_word);
    scenario.devices[scenario.device_count++] = d;
  }
  return true;
}

DataBytes encode_device(const Device &device) {
  switch (device.kind) {
    case DeviceKind::kTemp28:
      return encode_temp28(device.temp_word);
    case DeviceKind::kTemp10:
      return encode_temp10(device.temp_word);
    case DeviceKind::kCounter:
      return encode_counter(device.counter, device.consumption, device.output_on);
    case DeviceKind::kClimate:
      return encode_climate(device.temp_word, device.rlf, device.rli, device.rlq,
                            device.output_on);
  }
  return DataBytes{};
}

}  // namespace adaptersim
