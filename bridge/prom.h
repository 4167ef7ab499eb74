// The node_exporter textfile: every value with its age, in Prometheus text format.
#pragma once

#include <cstddef>
#include <string>

#include "bridge/values.h"

namespace bridge {

// One label's values for the textfile.
struct PromSample {
  const char *label = "";            // file stem of the label (metric label "label")
  const char *id = "";               // ROM id or S0 key (metric label "id")
  const Reading *reading = nullptr;  // its values
  double age = 0.0;                  // seconds since the logger last rewrote its file
  double timestamp = 0.0;            // Unix time of that rewrite
  bool stale = false;                // not rewritten within --stale-after
};

// Formats the textfile into `out` (replaced): per metric family one HELP and
// one TYPE line, then its samples; label values escaped.
void format_textfile(const PromSample *samples, std::size_t count, bool mqtt_connected,
                     std::string &out);

constexpr std::size_t kJoulesTextSize = 32;  // 20 digits of Wh times 3600: 24 digits + NUL

// The decimal Wh count `wh` (digits only, at most 20) times 3600 as decimal
// text into `out`: joules, exact, without floating point. False for any other
// text or when `size` is too small.
bool joules_text(const char *wh, char *out, std::size_t size);

// Appends `text` escaped as a label value (backslash, double quote, line feed).
void append_label_value(std::string &out, const char *text);

}  // namespace bridge
