// Fuzz target: what each label stands for, from any configuration text.
//
// Input: one header byte, a label, then the configuration text (at most
// 100000 bytes are used, as the logger reads them).
//   byte 0: label length (0-23, cut at the input's end; the label ends at a NUL).
// Every device line found holds a ROM id and a usable label of at most 19
// characters; the S0 names stay in the output directory and never name one
// file. Any label (the input's, each device line's, each S0 name's) resolves
// to a kind that fits its id and model, and a label that resolves to a device
// is where that device is placed: resolve, then place, gives the label back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "bridge/labels.h"
#include "bridge/limits.h"
#include "bridge_fuzz_support.h"
#include "core/file_name.h"

namespace {

using bridge::LabelKind;
using bridge::Resolution;
using bridgefuzz::fail;

constexpr std::size_t kHeader = 1;
constexpr std::size_t kLabelInputMax = 23;

bridge::ConfigModel g_model;  // large: kept out of the stack

bool hex16(const char *s) {
  for (std::size_t i = 0; i < bridge::kIdMax; ++i) {
    if (std::strchr("0123456789ABCDEFabcdef", s[i]) == nullptr || s[i] == '\0') return false;
  }
  return s[bridge::kIdMax] == '\0';
}

template <std::size_t N>
std::size_t terminated(const std::array<char, N> &a, const char *what) {
  const std::size_t len = strnlen(a.data(), N);
  if (len == N) fail(what, "not terminated");
  return len;
}

void check_usable(const std::array<char, bridge::kLabelSize> &label, const char *what) {
  const std::size_t len = terminated(label, what);
  if (len == 0 || len > bridge::kLabelMax || !core::is_usable_label(label.data())) {
    fail(what, label.data());
  }
}

void check_info(const char *label, Resolution res, const bridge::LabelInfo &info) {
  const std::size_t id_len = terminated(info.id, "id");
  terminated(info.model, "model");
  if (res != Resolution::kFound) {
    if (res == Resolution::kUnknown && info.kind != LabelKind::kUnknown) fail("unknown label with a kind", label);
    return;
  }
  const char *id = info.id.data();
  const char *model = info.model.data();
  if (info.has_temperature && info.kind != LabelKind::kClimate) fail("temperature flag off a climate module", label);
  switch (info.kind) {
    case LabelKind::kUnknown: fail("found without a kind", label);
    case LabelKind::kS0:
      if (std::strcmp(id, "S01") != 0 && std::strcmp(id, "S02") != 0) fail("S0 input with another id", id);
      if (std::strcmp(label, g_model.s0_names[id[2] == '1' ? 0 : 1].data()) != 0) {
        fail("S0 input under a label that is not its name", label);
      }
      return;
    case LabelKind::kTemp10:
    case LabelKind::kTemp28:
      if (model[0] != '\0' || std::strncmp(id, info.kind == LabelKind::kTemp10 ? "10" : "28", 2) != 0) {
        fail("sensor kind does not fit its family or has a model", id);
      }
      break;
    case LabelKind::kCounter:
      if (std::strncmp(model, "QV-S0", 5) != 0 && std::strncmp(model, "QV-DK-S0", 8) != 0) {
        fail("counter of another model", model);
      }
      break;
    case LabelKind::kClimate:
      if (std::strncmp(model, "QV-H", 4) != 0) fail("climate module of another model", model);
      if (info.has_temperature != (std::strncmp(id, "10", 2) == 0 || std::strncmp(id, "28", 2) == 0)) {
        fail("temperature flag does not fit the family", id);
      }
      break;
  }
  if (id_len != bridge::kIdMax || !hex16(id)) fail("device kind without a ROM id", id);
  // A model is text of the configuration (its line's third field).
  if (model[0] != '\0' && std::strstr(g_model.text.data(), model) == nullptr) fail("model not in the text", model);
}

// Resolves `label`; a label found for a device or S0 input is where it is placed.
void check_label(const char *label) {
  bridge::LabelInfo info;
  const Resolution res = bridge::resolve_label(g_model, label, info);
  check_info(label, res, info);
  if (res != Resolution::kFound) return;
  std::array<char, bridge::kLabelSize> placed{};
  bridge::LabelInfo again;
  if (!bridge::place_of(g_model, info.id.data(), placed, again) || std::strcmp(placed.data(), label) != 0) {
    fail("a resolved label is not where its device is placed", label);
  }
  if (again.kind != info.kind || std::strcmp(again.id.data(), info.id.data()) != 0) {
    fail("placing gives another kind or id", label);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader || size > kHeader + kLabelInputMax + bridge::kConfigMax + 64) return 0;
  const std::size_t llen = std::min<std::size_t>(data[0] % (kLabelInputMax + 1), size - kHeader);
  const std::string label = bridgefuzz::c_text(data + kHeader, llen, llen);
  const char *text = reinterpret_cast<const char *>(data + kHeader + llen);
  const std::size_t len = size - kHeader - llen;

  bridge::config_set_text(g_model, text, len);
  const std::size_t expected = strnlen(text, std::min(len, bridge::kConfigMax));
  if (g_model.length != expected || std::memcmp(g_model.text.data(), text, expected) != 0 ||
      g_model.text[expected] != '\0') {
    fail("configuration text not kept as read", "");
  }
  if (g_model.device_count > g_model.devices.size()) fail("device table overrun", "");
  if (g_model.devices_dropped > 0 && g_model.device_count != g_model.devices.size()) {
    fail("device lines dropped with room left", "");
  }
  for (std::size_t d = 0; d < g_model.device_count; ++d) {
    const bridge::DeviceLine &line = g_model.devices[d];
    if (!hex16(line.id.data())) fail("device line without a ROM id", line.id.data());
    if (std::strstr(g_model.text.data(), (std::string(line.id.data()) + ";").c_str()) == nullptr) {
      fail("device line not in the text", line.id.data());
    }
    for (std::size_t e = 0; e < d; ++e) {
      if (std::strcmp(g_model.devices[e].id.data(), line.id.data()) == 0) fail("device line twice", line.id.data());
    }
    check_usable(line.label, "device label unusable");
    if (line.refused_name && std::strcmp(line.label.data(), line.id.data()) != 0) {
      fail("refused name not replaced by the id", line.label.data());
    }
    check_label(line.label.data());
  }
  for (const auto &name : g_model.s0_names) {
    const std::size_t len = terminated(name, "S0 name");
    if (len == 0 || !core::stays_in_outdir(name.data())) fail("S0 name unusable", name.data());
    check_label(name.data());
  }
  // Two inputs never share a value file.
  if (std::strcmp(g_model.s0_names[0].data(), g_model.s0_names[1].data()) == 0 ||
      std::strcmp(g_model.s0_names[0].data(), "S02") == 0 || std::strcmp(g_model.s0_names[1].data(), "S01") == 0) {
    fail("S0 inputs share a value file", g_model.s0_names[0].data());
  }
  check_label(label.c_str());
  return 0;
}
