// Label kinds from the configuration, through the logger's name, model and field lookups.
#include "bridge/labels.h"

#include <cstring>

#include "config/lookup.h"
#include "core/file_name.h"

namespace bridge {

using config::extract_field;
using config::FieldBuffer;
using config::lookup_model_in;
using config::lookup_name;
using config::NameResult;

namespace {

constexpr const char *kS0Keys[2] = {"S01", "S02"};

// ROM ids are hexadecimal: the adapter reports 16 hexadecimal digits.
bool hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// A label that is itself a ROM id: 16 hexadecimal digits.
bool looks_like_id(const char *label) {
  for (std::size_t i = 0; i < kIdMax; ++i) {
    if (!hex_digit(label[i])) return false;
  }
  return label[kIdMax] == '\0';
}

template <std::size_t N>
void copy_text(std::array<char, N> &dst, const char *src, std::size_t max) {
  std::size_t len = strnlen(src, max < N - 1 ? max : N - 1);
  std::memcpy(dst.data(), src, len);
  dst[len] = '\0';
}

// The label the logger gives the device `id`: its usable name, else the id.
void device_label_of(const char *text, const char *id, DeviceLine &line) {
  char name[kIdSize] = {};
  copy_text(line.id, id, kIdMax);
  const bool named = lookup_name(text, id, name, sizeof name, false) == NameResult::kFound;
  line.refused_name = named && !core::is_usable_label(name);
  copy_text(line.label, named && !line.refused_name ? name : id, kLabelMax);
}

void find_device_lines(ConfigModel &m) {
  m.device_count = 0;
  m.devices_dropped = 0;
  const char *text = m.text.data();
  // The logger finds an id anywhere in the text (its first occurrence), so
  // any 16 hexadecimal digits before a ';' may be a device: at the start of
  // a line as usual, but also after a '#', a blank or other text.
  for (std::size_t pos = 0; pos + kIdMax < m.length; ++pos) {
    bool is_id = text[pos + kIdMax] == ';';
    for (std::size_t i = 0; is_id && i < kIdMax; ++i) is_id = hex_digit(text[pos + i]);
    if (!is_id) continue;
    char id[kIdSize];
    std::memcpy(id, text + pos, kIdMax);
    id[kIdMax] = '\0';
    bool seen = false;
    for (std::size_t d = 0; d < m.device_count && !seen; ++d) {
      seen = std::strcmp(m.devices[d].id.data(), id) == 0;
    }
    if (seen) continue;
    if (m.device_count == m.devices.size()) {
      ++m.devices_dropped;
      continue;
    }
    device_label_of(text, id, m.devices[m.device_count++]);
  }
}

// The S0 name of one input: field 1 of its configuration line, cut to 19
// characters; the key when that is empty or holds a '/'.
void find_s0_name(const char *text, int channel, std::array<char, kLabelSize> &name) {
  FieldBuffer field;
  const char *f = extract_field(text, kS0Keys[channel], ';', 1, field);
  copy_text(name, f, kLabelMax);
  if (name[0] == '\0' || std::strchr(name.data(), '/') != nullptr) {
    copy_text(name, kS0Keys[channel], kLabelMax);
  }
}

// Kind of a device from its model, else from its family code.
Resolution classify(const ConfigModel &m, LabelInfo &info) {
  const char *id = info.id.data();
  lookup_model_in(m.text.data(), id, info.model.data(), info.model.size(), false);
  const char *model = info.model.data();
  const bool family10 = id[0] == '1' && id[1] == '0';
  const bool family28 = id[0] == '2' && id[1] == '8';
  if (model[0] != '\0') {
    if (std::strncmp(model, "QV-S0", 5) == 0 || std::strncmp(model, "QV-DK-S0", 8) == 0) {
      info.kind = LabelKind::kCounter;
    } else if (std::strncmp(model, "QV-HTX", 6) == 0 || std::strncmp(model, "QV-H", 4) == 0) {
      info.kind = LabelKind::kClimate;
      info.has_temperature = family10 || family28;
    } else {
      return Resolution::kNoDecoder;
    }
    return Resolution::kFound;
  }
  if (family10) {
    info.kind = LabelKind::kTemp10;
  } else if (family28) {
    info.kind = LabelKind::kTemp28;
  } else {
    return Resolution::kNoDecoder;
  }
  return Resolution::kFound;
}

}  // namespace

void config_set_text(ConfigModel &m, const char *text, std::size_t len) {
  if (len > kConfigMax) len = kConfigMax;
  len = strnlen(text, len);
  std::memcpy(m.text.data(), text, len);
  std::memset(m.text.data() + len, 0, m.text.size() - len);
  m.length = len;
  find_device_lines(m);
  for (int ch = 0; ch < 2; ++ch) find_s0_name(m.text.data(), ch, m.s0_names[static_cast<std::size_t>(ch)]);
  // A name that is the other input's file keeps the key, as the logger
  // decides it: S01 named "S02", and S02 named "S01" or as S01 is.
  if (std::strcmp(m.s0_names[0].data(), kS0Keys[1]) == 0) copy_text(m.s0_names[0], kS0Keys[0], kLabelMax);
  if (std::strcmp(m.s0_names[1].data(), kS0Keys[0]) == 0 ||
      std::strcmp(m.s0_names[1].data(), m.s0_names[0].data()) == 0) {
    copy_text(m.s0_names[1], kS0Keys[1], kLabelMax);
  }
}

Resolution resolve_label(const ConfigModel &m, const char *label, LabelInfo &info) {
  info = LabelInfo{};
  for (int ch = 0; ch < 2; ++ch) {
    if (std::strcmp(m.s0_names[static_cast<std::size_t>(ch)].data(), label) == 0) {
      info.kind = LabelKind::kS0;
      copy_text(info.id, kS0Keys[ch], kIdMax);
      return Resolution::kFound;
    }
  }
  for (std::size_t d = 0; d < m.device_count; ++d) {
    if (std::strcmp(m.devices[d].label.data(), label) == 0) {
      info.id = m.devices[d].id;
      return classify(m, info);
    }
  }
  if (!looks_like_id(label)) return Resolution::kUnknown;
  char name[kIdSize] = {};
  if (lookup_name(m.text.data(), label, name, sizeof name, false) == NameResult::kFound &&
      core::is_usable_label(name)) {
    return Resolution::kRenamed;
  }
  copy_text(info.id, label, kIdMax);
  return classify(m, info);
}

bool is_device_label(const ConfigModel &m, const char *label) {
  for (std::size_t d = 0; d < m.device_count; ++d) {
    if (std::strcmp(m.devices[d].label.data(), label) == 0) return true;
  }
  return looks_like_id(label);
}

bool place_of(const ConfigModel &m, const char *id, std::array<char, kLabelSize> &label,
              LabelInfo &info) {
  const char *where = id;
  for (std::size_t k = 0; k < 2; ++k) {
    if (std::strcmp(id, kS0Keys[k]) == 0) where = m.s0_names[k].data();
  }
  if (where == id) {
    for (std::size_t d = 0; d < m.device_count; ++d) {
      if (std::strcmp(m.devices[d].id.data(), id) == 0) {
        where = m.devices[d].label.data();
        break;
      }
    }
  }
  copy_text(label, where, kLabelMax);
  return resolve_label(m, label.data(), info) == Resolution::kFound &&
         std::strcmp(info.id.data(), id) == 0;
}

const char *kind_name(LabelKind k) {
  switch (k) {
    case LabelKind::kUnknown: return "unknown";
    case LabelKind::kTemp10: return "temperature sensor (family 10)";
    case LabelKind::kTemp28: return "temperature sensor (family 28)";
    case LabelKind::kCounter: return "energy-counter module";
    case LabelKind::kClimate: return "climate module";
    case LabelKind::kS0: return "S0 input";
  }
  return "unknown";
}

}  // namespace bridge
