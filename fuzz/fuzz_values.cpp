// Fuzz target: the bridge's value-file parsers on any file content.
//
// Input: one header byte, then the file (0-130 bytes, NULs included).
//   byte 0: bits 0-2 the label kind (see bridgefuzz::label_info).
// A file is either refused with a reason and no values, or it yields exactly
// the fields of its kind, each a bounded number text whose number is the
// text's; and printing those texts in the logger's shape for the kind gives
// back the very bytes read (the parsers take only what the logger writes).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge/topics.h"
#include "bridge/values.h"
#include "bridge_fuzz_support.h"

namespace {

using bridge::FieldId;
using bridge::LabelKind;
using bridgefuzz::fail;

constexpr std::size_t kHeader = 1;
constexpr const char *kCounterHeader = "counter [Wh]; consumption[Wh]; limit/LED\n";
constexpr const char *kClimateHeader = "T[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED\n";

std::string printed(const char *format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The field texts of `r` as the logger lays them out for `info`. For a
// climate module without a temperature the T column is left out (the caller
// compares from the first ';').
std::string layout(const bridge::LabelInfo &info, const bridge::Reading &r) {
  const auto t = [&](std::size_t i) { return std::string(r.fields[i].text.data()); };
  switch (info.kind) {
    case LabelKind::kTemp10:
    case LabelKind::kTemp28:
    case LabelKind::kS0: return t(0) + "\n";
    case LabelKind::kCounter: return t(0) + ";" + t(1) + ";" + t(2) + "\n" + kCounterHeader;
    case LabelKind::kClimate: {
      std::size_t k = 0;
      std::string s;
      if (info.has_temperature) {
        const std::string temp = t(k++);
        s = std::string(temp.size() < 7 ? 7 - temp.size() : 0, ' ') + temp;
      }
      for (int i = 0; i < 4; ++i) s += ";" + t(k++);
      return s + "\n" + kClimateHeader;
    }
    case LabelKind::kUnknown: break;
  }
  return "";
}

void check_field(const bridge::FieldValue &f, const bridge::LabelInfo &info) {
  const char *text = f.text.data();
  const std::size_t len = strnlen(text, f.text.size());
  if (len == f.text.size()) fail("field text not terminated", "");
  if (len == 0) fail("empty field text", bridge::field_name(f.id));
  if (std::strspn(text, "-0123456789.") != len) fail("field text holds other characters", text);
  char *end = nullptr;
  const double v = std::strtod(text, &end);
  if (end != text + len || v != f.number) fail("number differs from its text", text);
  std::uint64_t max = 0;
  switch (f.id) {
    case FieldId::kTemperature: {
      const bool family10 = info.id[0] == '1' && info.id[1] == '0';
      const bool one_decimal = info.kind == LabelKind::kTemp10;
      if (printed(one_decimal ? "%.1f" : "%.3f", v) != text) fail("temperature printed otherwise", text);
      if (family10 ? (v < -16384.0 || v > 16383.5) : (v < -2048.0 || v > 2047.938)) {
        fail("temperature out of the sensor's range", text);
      }
      return;
    }
    case FieldId::kCounter: max = UINT32_MAX; break;
    case FieldId::kConsumption: max = UINT16_MAX; break;
    case FieldId::kLed: max = 1; break;
    case FieldId::kRlf:
    case FieldId::kRli:
    case FieldId::kRlq: max = 255; break;
    case FieldId::kEnergy: max = UINT64_MAX; break;
  }
  // A count as "%u"/"%lu" prints it: digits, no leading zero, within its type.
  if (std::strspn(text, "0123456789") != len || (len > 1 && text[0] == '0') || len > 20) {
    fail("count not printed as the logger prints it", text);
  }
  unsigned __int128 value = 0;
  for (std::size_t i = 0; i < len; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
  if (value > max) fail("count beyond its type", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader || size > kHeader + 130) return 0;
  const bridge::LabelInfo info = bridgefuzz::label_info(data[0] & 7u);
  const char *file = reinterpret_cast<const char *>(data + kHeader);
  const std::size_t len = size - kHeader;

  bridge::Reading r;
  r.count = 3;  // the parser must reset what it is given
  const char *why = bridge::parse_value_file(info, file, len, r);
  if (why != nullptr) {
    if (why[0] == '\0') fail("empty reason", "");
    if (r.count != 0) fail("refused file left values", why);
    return 0;
  }
  std::array<FieldId, bridge::kMaxFields> fields{};
  const std::size_t n = bridge::kind_fields(info, fields);
  if (r.count != n) fail("field count is not the kind's", std::string(file, len));
  for (std::size_t i = 0; i < n; ++i) {
    if (r.fields[i].id != fields[i]) fail("fields out of order", std::string(file, len));
    check_field(r.fields[i], info);
  }
  // Parse, then print in the logger's shape: the same bytes.
  const std::string again = layout(info, r);
  const std::string read(file, len);
  if (info.kind == LabelKind::kClimate && !info.has_temperature) {
    if (read.find(';') == std::string::npos || again.substr(again.find(';')) != read.substr(read.find(';'))) {
      fail("climate values print back otherwise", read);
    }
  } else if (again != read) {
    fail("values print back otherwise", read);
  }
  return 0;
}
