// Prometheus text format: families, escaping, values.
#include "bridge/prom.h"

#include <cstdio>

namespace bridge {

namespace {

struct Family {
  const char *name;  // metric name
  const char *type;  // "gauge" or "counter"
  const char *help;  // HELP text
};

constexpr Family kTemperature{"kelvinlog_temperature_celsius", "gauge",
                              "Temperature of a sensor or climate module."};
constexpr Family kEnergy{"kelvinlog_energy_joules_total", "counter",
                         "Energy counted by an S0 input or an energy-counter module, in joules (Wh x 3600)."};
constexpr Family kConsumption{"kelvinlog_consumption_joules", "gauge",
                              "Consumption reported by an energy-counter module, in joules (Wh x 3600)."};
constexpr Family kHumidity{"kelvinlog_humidity_ratio", "gauge",
                           "rLf, rLi and rLq of a climate module, as a ratio (percent / 100)."};
constexpr Family kLed{"kelvinlog_led", "gauge", "limit/LED flag of a module (1 = set)."};
constexpr Family kAge{"kelvinlog_value_age_seconds", "gauge",
                      "Seconds since the logger last rewrote the value file, when this file was written."};
constexpr Family kTimestamp{"kelvinlog_value_timestamp_seconds", "gauge",
                            "Unix time at which the logger last rewrote the value file."};
constexpr Family kStale{"kelvinlog_value_stale", "gauge",
                        "1 when the value file was not rewritten within --stale-after seconds."};
constexpr Family kConnected{"kelvinlog_bridge_mqtt_connected", "gauge",
                            "1 while the bridge is connected to the MQTT broker."};

const Family &family_of(FieldId id) {
  switch (id) {
    case FieldId::kTemperature: return kTemperature;
    case FieldId::kCounter:
    case FieldId::kEnergy: return kEnergy;
    case FieldId::kConsumption: return kConsumption;
    case FieldId::kRlf:
    case FieldId::kRli:
    case FieldId::kRlq: return kHumidity;
    case FieldId::kLed: return kLed;
  }
  return kTemperature;
}

void header(std::string &out, const Family &f) {
  out += "# HELP ";
  out += f.name;
  out += ' ';
  out += f.help;
  out += "\n# TYPE ";
  out += f.name;
  out += ' ';
  out += f.type;
  out += '\n';
}

void sample_start(std::string &out, const Family &f, const PromSample &s) {
  out += f.name;
  out += "{label=\"";
  append_label_value(out, s.label);
  out += "\",id=\"";
  append_label_value(out, s.id);
  out += '"';
}

void append_number(std::string &out, const char *format, double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, format, v);
  out += buf;
}

// All samples of one field family.
void field_family(std::string &out, const Family &f, const PromSample *samples, std::size_t count) {
  bool any = false;
  for (std::size_t i = 0; i < count; ++i) {
    const Reading &r = *samples[i].reading;
    for (std::size_t k = 0; k < r.count; ++k) {
      const FieldValue &v = r.fields[k];
      if (&family_of(v.id) != &f) continue;
      char joules[kJoulesTextSize];
      const bool energy = &f == &kEnergy || &f == &kConsumption;
      if (energy && !joules_text(v.text.data(), joules, sizeof joules)) continue;
      if (!any) header(out, f);
      any = true;
      sample_start(out, f, samples[i]);
      if (&f == &kHumidity) {
        out += ",field=\"";
        out += field_name(v.id);
        out += "\"} ";
        append_number(out, "%.2f", v.number / 100.0);
      } else {
        out += "} ";
        out += energy ? joules : v.text.data();
      }
      out += '\n';
    }
  }
}

void per_label_family(std::string &out, const Family &f, const PromSample *samples,
                      std::size_t count) {
  if (count == 0) return;
  header(out, f);
  for (std::size_t i = 0; i < count; ++i) {
    const PromSample &s = samples[i];
    sample_start(out, f, s);
    out += "} ";
    if (&f == &kAge) append_number(out, "%.3f", s.age);
    if (&f == &kTimestamp) append_number(out, "%.3f", s.timestamp);
    if (&f == &kStale) out += s.stale ? '1' : '0';
    out += '\n';
  }
}

}  // namespace

bool joules_text(const char *wh, char *out, std::size_t size) {
  // Decimal digits times 36, then two zeros: exact for any count, no floating
  // point and no integer that could overflow.
  std::size_t n = 0;
  while (wh[n] >= '0' && wh[n] <= '9') ++n;
  if (n == 0 || n > 20 || wh[n] != '\0') return false;
  char digits[kJoulesTextSize];
  std::size_t k = 0;  // digits of the product, least significant first
  unsigned carry = 0;
  for (std::size_t i = n; i-- > 0;) {
    const unsigned p = static_cast<unsigned>(wh[i] - '0') * 36 + carry;
    digits[k++] = static_cast<char>('0' + p % 10);
    carry = p / 10;
  }
  for (; carry != 0; carry /= 10) digits[k++] = static_cast<char>('0' + carry % 10);
  while (k > 1 && digits[k - 1] == '0') --k;  // "0" times 36 is "0"
  const bool zero = k == 1 && digits[0] == '0';
  const std::size_t len = k + (zero ? 0 : 2);
  if (len + 1 > size) return false;
  for (std::size_t i = 0; i < k; ++i) out[i] = digits[k - 1 - i];
  if (!zero) {
    out[k] = '0';
    out[k + 1] = '0';
  }
  out[len] = '\0';
  return true;
}

void append_label_value(std::string &out, const char *text) {
  for (const char *p = text; *p != '\0'; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      default: out += *p; break;
    }
  }
}

void format_textfile(const PromSample *samples, std::size_t count, bool mqtt_connected,
                     std::string &out) {
  out.clear();
  for (const Family *f : {&kTemperature, &kEnergy, &kConsumption, &kHumidity, &kLed}) {
    field_family(out, *f, samples, count);
  }
  for (const Family *f : {&kAge, &kTimestamp, &kStale}) per_label_family(out, *f, samples, count);
  header(out, kConnected);
  out += kConnected.name;
  out += mqtt_connected ? " 1\n" : " 0\n";
}

}  // namespace bridge
