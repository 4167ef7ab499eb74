// Failure reports, label infos and the label-value reader of the bridge's fuzz targets.
#include "bridge_fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bridgefuzz {

void fail(const char *what, const std::string &detail) {
  std::string shown;
  for (const char c : detail) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      shown += c;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", u);
      shown += esc;
    }
  }
  std::fprintf(stderr, "\n*** kelvinlog-bridge fuzz: %s: %s\n", what, shown.c_str());
  std::fflush(stderr);
  std::abort();
}

bridge::LabelInfo label_info(unsigned selector) {
  using bridge::LabelKind;
  struct Pick {
    LabelKind kind;
    const char *id;
    const char *model;
    bool has_temperature;
  };
  static constexpr Pick kPicks[8] = {
      {LabelKind::kUnknown, "", "", false},
      {LabelKind::kTemp10, "10A1B2C3D4E5F607", "", false},
      {LabelKind::kTemp28, "28FF4A1B02170312", "", false},
      {LabelKind::kCounter, "28C0FFEE00000001", "QV-S0", false},
      {LabelKind::kClimate, "28C0FFEE00000002", "QV-HTX", true},
      {LabelKind::kS0, "S01", "", false},
      {LabelKind::kClimate, "26C0FFEE00000003", "QV-H", false},
      {LabelKind::kClimate, "10C0FFEE00000004", "QV-HTX", true},
  };
  const Pick &p = kPicks[selector % 8];
  bridge::LabelInfo info;
  info.kind = p.kind;
  std::snprintf(info.id.data(), info.id.size(), "%s", p.id);
  std::snprintf(info.model.data(), info.model.size(), "%s", p.model);
  info.has_temperature = p.has_temperature;
  return info;
}

std::string c_text(const std::uint8_t *data, std::size_t size, std::size_t max) {
  std::size_t n = 0;
  while (n < size && n < max && data[n] != 0) ++n;
  return std::string(reinterpret_cast<const char *>(data), n);
}

bool unescape_label_value(const std::string &s, std::size_t start, std::string &out,
                          std::size_t &end) {
  out.clear();
  for (std::size_t i = start; i < s.size(); ++i) {
    if (s[i] == '"') {
      end = i;
      return true;
    }
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return false;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      default: return false;
    }
  }
  return false;
}

}  // namespace bridgefuzz
