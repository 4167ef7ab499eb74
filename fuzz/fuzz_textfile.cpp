// Fuzz target: the textfile, its label values escaped, and energy counts in joules.
//
// Input: two header bytes, a label, then a value file.
//   byte 0: bits 0-2 the label kind (see bridgefuzz::label_info), bit 3 MQTT
//           connected, bit 4 stale;
//   byte 1: label length (0-63, cut at the input's end; the label ends at a NUL).
// The label is the sample's label and id; the value file, parsed for the
// kind, its reading (none when it is refused). The escaped label reads back
// as the label and never holds a raw line feed; the textfile is lines of
// comments and samples whose label values read back as given and whose
// values are numbers, bounded in size; an energy count is its Wh times 3600,
// exactly, whatever its digits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge/prom.h"
#include "bridge/values.h"
#include "bridge_fuzz_support.h"

namespace {

using bridgefuzz::fail;

constexpr std::size_t kHeader = 2;
constexpr std::size_t kMaxInput = 256;

std::string joules_of(const std::string &digits) {
  unsigned __int128 v = 0;
  for (const char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  v *= 3600;
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return out;
}

void check_joules(const std::string &text) {
  char out[bridge::kJoulesTextSize];
  const bool ok = bridge::joules_text(text.c_str(), out, sizeof out);
  const bool digits = !text.empty() && text.size() <= 20 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  if (ok != digits) fail(ok ? "joules of a non-count" : "count refused in joules", text);
  if (ok && joules_of(text) != out) fail("joules are not Wh times 3600", text + " -> " + out);
  // Too small a buffer is refused, never overrun.
  if (ok) {
    char tight[bridge::kJoulesTextSize];
    const std::size_t need = std::strlen(out) + 1;
    if (bridge::joules_text(text.c_str(), tight, need - 1)) fail("joules written past the buffer", text);
  }
}

void check_escape(const std::string &label) {
  std::string out = "x";
  bridge::append_label_value(out, label.c_str());
  if (out.compare(0, 1, "x") != 0) fail("escaping replaced what was there", label);
  const std::string escaped = out.substr(1);
  if (escaped.find('\n') != std::string::npos) fail("raw line feed in a label value", label);
  if (escaped.size() > 2 * label.size()) fail("escaped label too long", label);
  std::string back;
  std::size_t end = 0;
  if (!bridgefuzz::unescape_label_value(escaped + "\"", 0, back, end) || end != escaped.size() ||
      back != label) {
    fail("escaped label does not read back", label);
  }
}

// One sample line: name{label="…",id="…"[,field="…"]} value
void check_sample(const std::string &line, const std::string &label) {
  const std::size_t brace = line.find('{');
  if (brace == std::string::npos) {
    if (line != "kelvinlog_bridge_mqtt_connected 0" && line != "kelvinlog_bridge_mqtt_connected 1") {
      fail("sample without labels", line);
    }
    return;
  }
  if (line.compare(brace, 8, "{label=\"") != 0) fail("sample without a label value", line);
  std::string value;
  std::size_t end = 0;
  if (!bridgefuzz::unescape_label_value(line, brace + 8, value, end) || value != label) {
    fail("label value does not read back", line);
  }
  if (line.compare(end, 6, "\",id=\"") != 0) fail("sample without an id", line);
  if (!bridgefuzz::unescape_label_value(line, end + 6, value, end) || value != label) {
    fail("id does not read back", line);
  }
  const std::size_t close = line.find("} ", end);
  if (close == std::string::npos) fail("sample without a value", line);
  const std::string number = line.substr(close + 2);
  char *stop = nullptr;
  std::strtod(number.c_str(), &stop);
  if (number.empty() || *stop != '\0' || number.find_first_of(" \t") != std::string::npos) {
    fail("sample value is not a number", line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader || size > kMaxInput) return 0;
  const bridge::LabelInfo info = bridgefuzz::label_info(data[0] & 7u);
  const std::size_t llen = std::min<std::size_t>(data[1] & 63u, size - kHeader);
  const std::string label = bridgefuzz::c_text(data + kHeader, llen, llen);
  const char *file = reinterpret_cast<const char *>(data + kHeader + llen);
  const std::size_t len = size - kHeader - llen;

  check_escape(label);
  check_joules(bridgefuzz::c_text(data + kHeader + llen, len, len));

  bridge::Reading reading;
  if (bridge::parse_value_file(info, file, len, reading) != nullptr) reading = bridge::Reading{};
  for (std::size_t i = 0; i < reading.count; ++i) check_joules(reading.fields[i].text.data());
  bridge::PromSample sample;
  sample.label = label.c_str();
  sample.id = label.c_str();
  sample.reading = &reading;
  sample.age = 12.5;
  sample.timestamp = 1700000000.25;
  sample.stale = (data[0] & 16u) != 0;
  std::string text;
  bridge::format_textfile(&sample, 1, (data[0] & 8u) != 0, text);

  // Bounded: the families' comments, and per field or per-label family one
  // line with the label twice.
  if (text.size() > 4096 + 12 * 4 * label.size()) fail("textfile too long", text);
  if (text.empty() || text.back() != '\n') fail("textfile does not end in a line end", text);
  std::size_t samples = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t nl = text.find('\n', start);
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    if (line.compare(0, 7, "# HELP ") == 0 || line.compare(0, 7, "# TYPE ") == 0) continue;
    check_sample(line, label);
    ++samples;
  }
  // Every field but energy counts that cannot be put in joules, the age,
  // the timestamp and the stale flag, and the connection.
  if (samples != reading.count + 3 + 1) fail("textfile has other samples", text);
  return 0;
}
