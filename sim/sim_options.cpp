// Command-line option parsing of adapter-sim.
#include "sim_options.h"

#include <cstdio>
#include <cstring>

namespace adaptersim {

namespace {

constexpr char kUsage[] =
    "usage: adapter-sim [options]\n"
    "\n"
    "Plays the 1-Wire bus master adapter of kelvinlog on a pseudo-terminal.\n"
    "Prints 'adapter-sim: ready <slave path>' once the link exists, then answers\n"
    "the logger's commands until SIGINT or SIGTERM.\n"
    "\n"
    "options:\n"
    "  --link PATH          symlink to the terminal (default /tmp/kelvinlog-tty);\n"
    "                       an existing symlink is replaced, any other file is not\n"
    "  --scenario FILE      bus scenario (default: the built-in demo scenario)\n"
    "  --log FILE           append every command received, one line each:\n"
    "                       '<epoch seconds.microseconds> <escaped command>'\n"
    "  --verbose            echo commands, answers and faults on stdout\n"
    "  --seed N             seed of the fault generator (default 1)\n"
    "  --retry-rate P       answer replaced by '<n>;??;' (real answer sent on the\n"
    "                       next empty line)\n"
    "  --bad-crc-rate P     data line with a wrong checksum\n"
    "  --garbage-rate P     line of 1-80 random bytes (0x80-0xFF, control\n"
    "                       characters) before the answer\n"
    "  --long-rate P        line of 300 characters before the answer\n"
    "  --missing-rate P     poll answer dropped\n"
    "  --delay-ms N         delay every answer by N ms (at most 60000)\n"
    "  --stop-after N       answer the first N commands only, then stay silent\n"
    "  --exit-after N       after N commands close the terminal and exit\n"
    "  --extra-devices N    add N family 28 sensors 28E0000000000000 + i\n"
    "                       at 20.0 + i/16 degrees C\n"
    "  --help               this text\n"
    "Rates P are probabilities from 0 to 1. Empty lines count as commands.\n"
    "\n"
    "scenario file: one item per line, '#' starts a comment, blank lines ignored.\n"
    "  device <ROM id> temp28 <celsius>          family 28 sensor, 1/16 degree\n"
    "  device <ROM id> temp10 <celsius>          family 10 sensor, 1/2 degree\n"
    "  device <ROM id> counter <counter> <consumption> [<increase per poll>]\n"
    "  device <ROM id> climate <celsius> <rLf> <rLi> <rLq>    (family 28)\n"
    "  s0 <count1> <count2> [<increase1> <increase2>]   S0 counts, grown per search\n"
    "ROM ids are 16 upper-case hex digits; the first two are the family code.\n"
    "At most 200 devices.\n"
    "\n"
    "exit status: 0 after a signal or --exit-after, 1 on a system error,\n"
    "2 on a bad option or scenario.\n";

bool set_error(char *error, std::size_t cap, const char *what, const char *name) {
  if (error != nullptr && cap > 0) std::snprintf(error, cap, "%s: %s", name, what);
  return false;
}

// "--seed x: expects a whole number"
bool bad_value(char *error, std::size_t cap, std::string_view name, const char *value,
               const char *what) {
  if (error != nullptr && cap > 0) {
    std::snprintf(error, cap, "%.*s '%s': %s", static_cast<int>(name.size()), name.data(),
                  value != nullptr ? value : "", what);
  }
  return false;
}

bool parse_u64(std::string_view text, std::uint64_t &value) {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  value = v;
  return true;
}

bool parse_rate(std::string_view text, double &value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  double v = 0.0;
  if (!parse_decimal(text, v) || v < 0.0 || v > 1.0) return false;
  value = v;
  return true;
}

enum class Kind : std::uint8_t { kFlag, kPath, kRate, kCount };

struct OptionDef {
  const char *name;
  Kind kind;
};

constexpr std::array<OptionDef, 15> kOptionDefs{{
    {"--help", Kind::kFlag},
    {"--verbose", Kind::kFlag},
    {"--link", Kind::kPath},
    {"--scenario", Kind::kPath},
    {"--log", Kind::kPath},
    {"--seed", Kind::kCount},
    {"--retry-rate", Kind::kRate},
    {"--bad-crc-rate", Kind::kRate},
    {"--garbage-rate", Kind::kRate},
    {"--long-rate", Kind::kRate},
    {"--missing-rate", Kind::kRate},
    {"--delay-ms", Kind::kCount},
    {"--stop-after", Kind::kCount},
    {"--exit-after", Kind::kCount},
    {"--extra-devices", Kind::kCount},
}};

bool apply(std::string_view name, const char *value, Options &o, char *error, std::size_t cap) {
  const std::string_view v = value != nullptr ? std::string_view(value) : std::string_view();
  double rate = 0.0;
  std::uint64_t count = 0;
  const bool is_rate = name.size() > 5 && name.substr(name.size() - 5) == "-rate";
  if (is_rate) {
    if (!parse_rate(v, rate)) return bad_value(error, cap, name, value, "expects a probability from 0 to 1");
    if (name == "--retry-rate") o.adapter.rates.retry = rate;
    if (name == "--bad-crc-rate") o.adapter.rates.bad_crc = rate;
    if (name == "--garbage-rate") o.adapter.rates.garbage = rate;
    if (name == "--long-rate") o.adapter.rates.long_line = rate;
    if (name == "--missing-rate") o.adapter.rates.missing = rate;
    return true;
  }
  if (name == "--link" || name == "--scenario" || name == "--log") {
    if (v.empty()) return bad_value(error, cap, name, value, "expects a non-empty path");
    if (name == "--link") o.link = value;
    if (name == "--scenario") o.scenario = value;
    if (name == "--log") o.log = value;
    return true;
  }
  if (!parse_u64(v, count)) return bad_value(error, cap, name, value, "expects a whole number");
  if (name == "--seed") {
    o.adapter.seed = count;
  } else if (name == "--delay-ms") {
    if (count > kMaxDelayMs) return bad_value(error, cap, name, value, "at most 60000");
    o.delay_ms = static_cast<std::uint32_t>(count);
  } else if (name == "--stop-after") {
    o.adapter.stop_after = count;
  } else if (name == "--exit-after") {
    o.adapter.exit_after = count;
  } else if (name == "--extra-devices") {
    if (count > kMaxDevices) return bad_value(error, cap, name, value, "at most 200");
    o.extra_devices = static_cast<std::uint32_t>(count);
  }
  return true;
}

}  // namespace

OptionsResult parse_options(int argc, char *const argv[], Options &options, char *error,
                            std::size_t error_cap) {
  if (error != nullptr && error_cap > 0) error[0] = '\0';
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    std::string_view name(arg);
    const char *value = nullptr;
    const std::size_t eq = name.find('=');
    if (eq != std::string_view::npos) {
      value = arg + eq + 1;
      name = name.substr(0, eq);
    }
    const OptionDef *def = nullptr;
    for (const OptionDef &s : kOptionDefs) {
      if (name == s.name) def = &s;
    }
    if (def == nullptr && name == "-h") def = &kOptionDefs[0];
    if (def == nullptr) {
      set_error(error, error_cap, "unknown option", arg);
      return OptionsResult::kError;
    }
    if (def->kind == Kind::kFlag) {
      if (value != nullptr) {
        set_error(error, error_cap, "takes no value", def->name);
        return OptionsResult::kError;
      }
      if (def == &kOptionDefs[0]) help = true;
      if (name == "--verbose") options.verbose = true;
      continue;
    }
    if (value == nullptr) {
      if (i + 1 >= argc) {
        set_error(error, error_cap, "needs a value", def->name);
        return OptionsResult::kError;
      }
      value = argv[++i];
    }
    if (!apply(def->name, value, options, error, error_cap)) return OptionsResult::kError;
  }
  return help ? OptionsResult::kHelp : OptionsResult::kRun;
}

std::string_view usage_text() { return std::string_view(kUsage, sizeof(kUsage) - 1); }

}  // namespace adaptersim
