// Value-file parsers: "%.3f"/"%.1f" sensors, the two module shapes, S0 "%lu".
#include "bridge/values.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace bridge {

namespace {

constexpr std::string_view kCounterHeader = "counter [Wh]; consumption[Wh]; limit/LED";
constexpr std::string_view kClimateHeader = "T[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED";
constexpr int kClimateWidth = 7;  // "%7.3f"

struct Range {
  double lo;  // smallest value the logger can print
  double hi;  // largest
};
constexpr Range kRange10{-16384.0, 16383.5};   // signed word / 2
constexpr Range kRange28{-2048.0, 2047.938};   // signed word / 16, as "%.3f" prints it

// A scanner over the file's bytes; every take_* consumes on success only.
class Scan {
 public:
  explicit Scan(std::string_view s) : s_(s) {}
  bool done() const { return pos_ == s_.size(); }
  bool take(char c) {
    if (pos_ >= s_.size() || s_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool take(std::string_view text) {
    if (s_.substr(pos_, text.size()) != text) return false;
    pos_ += text.size();
    return true;
  }
  std::size_t blanks() {
    std::size_t n = 0;
    while (take(' ')) ++n;
    return n;
  }
  // Decimal digits as printf prints an unsigned number: no sign, no leading
  // zero; at most `max`.
  bool take_unsigned(std::uint64_t max, std::string_view &text, std::uint64_t &value) {
    const std::size_t start = pos_;
    std::uint64_t v = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      const unsigned digit = static_cast<unsigned>(s_[pos_] - '0');
      if (digit > max || v > (max - digit) / 10) {
        pos_ = start;
        return false;
      }
      v = v * 10 + digit;
      ++pos_;
    }
    const std::size_t n = pos_ - start;
    if (n == 0 || (n > 1 && s_[start] == '0')) {
      pos_ = start;
      return false;
    }
    text = s_.substr(start, n);
    value = v;
    return true;
  }
  // A number as "%.<decimals>f" prints it: optional '-', integer part
  // without leading zeros, '.', exactly `decimals` digits.
  bool take_fixed(int decimals, std::string_view &text) {
    const std::size_t start = pos_;
    take('-');
    std::string_view digits;
    std::uint64_t whole = 0;
    bool ok = take_unsigned(100000, digits, whole) && take('.');
    for (int i = 0; ok && i < decimals; ++i) {
      ok = pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9';
      if (ok) ++pos_;
    }
    if (!ok) {
      pos_ = start;
      return false;
    }
    text = s_.substr(start, pos_ - start);
    return true;
  }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

bool set_field(Reading &out, FieldId id, std::string_view text, double number) {
  if (out.count == out.fields.size() || text.size() >= kFieldTextSize) return false;
  FieldValue &f = out.fields[out.count++];
  f.id = id;
  std::memcpy(f.text.data(), text.data(), text.size());
  f.text[text.size()] = '\0';
  f.number = number;
  return true;
}

double to_double(std::string_view text) {
  char buf[kFieldTextSize] = {};
  std::memcpy(buf, text.data(), text.size() < sizeof buf - 1 ? text.size() : sizeof buf - 1);
  return std::strtod(buf, nullptr);
}

const char *parse_temperature(Scan &in, bool family10, Reading &out) {
  std::string_view text;
  if (!in.take_fixed(family10 ? 1 : 3, text)) return "not a temperature as the logger prints it";
  const Range r = family10 ? kRange10 : kRange28;
  const double v = to_double(text);
  if (v < r.lo || v > r.hi) return "temperature out of the sensor's range";
  if (!in.take('\n') || !in.done()) return "not one line";
  set_field(out, FieldId::kTemperature, text, v);
  return nullptr;
}

const char *parse_counter(Scan &in, Reading &out) {
  std::string_view counter, consumption, led;
  std::uint64_t c = 0, w = 0, l = 0;
  if (!in.take_unsigned(UINT32_MAX, counter, c) || !in.take(';') ||
      !in.take_unsigned(UINT16_MAX, consumption, w) || !in.take(';') ||
      !in.take_unsigned(1, led, l) || !in.take('\n')) {
    return "not a counter line";
  }
  if (!in.take(kCounterHeader) || !in.take('\n') || !in.done()) return "wrong counter header";
  set_field(out, FieldId::kCounter, counter, static_cast<double>(c));
  set_field(out, FieldId::kConsumption, consumption, static_cast<double>(w));
  set_field(out, FieldId::kLed, led, static_cast<double>(l));
  return nullptr;
}

const char *parse_climate(Scan &in, const LabelInfo &info, Reading &out) {
  const std::size_t pad = in.blanks();
  std::string_view t;
  if (!in.take_fixed(3, t)) return "not a climate line";
  // "%7.3f": blanks up to seven characters, none beyond.
  const std::size_t width = t.size() < kClimateWidth ? kClimateWidth - t.size() : 0;
  if (pad != width) return "climate temperature not padded as the logger pads it";
  const bool family10 = info.id[0] == '1' && info.id[1] == '0';
  const double tv = to_double(t);
  const Range r = family10 ? kRange10 : kRange28;
  if (info.has_temperature && (tv < r.lo || tv > r.hi)) return "temperature out of range";
  std::array<std::string_view, 4> texts;
  std::array<std::uint64_t, 4> nums{};
  const std::array<std::uint64_t, 4> max{255, 255, 255, 1};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (!in.take(';') || !in.take_unsigned(max[i], texts[i], nums[i])) {
      return "not a climate line";
    }
  }
  if (!in.take('\n')) return "not a climate line";
  if (!in.take(kClimateHeader) || !in.take('\n') || !in.done()) return "wrong climate header";
  // Without a temperature conversion (family neither 10 nor 28) the logger
  // prints 0 for T: not a measurement, so not published.
  if (info.has_temperature) set_field(out, FieldId::kTemperature, t, tv);
  const FieldId ids[4] = {FieldId::kRlf, FieldId::kRli, FieldId::kRlq, FieldId::kLed};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    set_field(out, ids[i], texts[i], static_cast<double>(nums[i]));
  }
  return nullptr;
}

const char *parse_s0(Scan &in, Reading &out) {
  std::string_view text;
  std::uint64_t v = 0;
  if (!in.take_unsigned(UINT64_MAX, text, v)) return "not an energy count";
  if (!in.take('\n') || !in.done()) return "not one line";
  set_field(out, FieldId::kEnergy, text, static_cast<double>(v));
  return nullptr;
}

}  // namespace

const char *parse_value_file(const LabelInfo &info, const char *data, std::size_t len,
                             Reading &out) {
  out = Reading{};
  if (len == 0) return "empty";
  if (len > kValueFileMax) return "longer than any value file";
  if (std::memchr(data, '\0', len) != nullptr) return "holds a NUL byte";
  if (data[len - 1] != '\n') return "no line end at its end";
  Scan in(std::string_view(data, len));
  const char *why = "no value file for this kind";
  switch (info.kind) {
    case LabelKind::kTemp10: why = parse_temperature(in, true, out); break;
    case LabelKind::kTemp28: why = parse_temperature(in, false, out); break;
    case LabelKind::kCounter: why = parse_counter(in, out); break;
    case LabelKind::kClimate: why = parse_climate(in, info, out); break;
    case LabelKind::kS0: why = parse_s0(in, out); break;
    case LabelKind::kUnknown: break;
  }
  if (why != nullptr) out = Reading{};
  return why;
}

const char *field_name(FieldId id) {
  switch (id) {
    case FieldId::kTemperature: return "temperature";
    case FieldId::kCounter: return "counter";
    case FieldId::kConsumption: return "consumption";
    case FieldId::kLed: return "led";
    case FieldId::kRlf: return "rlf";
    case FieldId::kRli: return "rli";
    case FieldId::kRlq: return "rlq";
    case FieldId::kEnergy: return "energy";
  }
  return "value";
}

}  // namespace bridge
