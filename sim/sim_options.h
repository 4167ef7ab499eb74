// Command-line options of adapter-sim and its usage text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim_adapter.h"

namespace adaptersim {

constexpr const char *kDefaultLink = "/tmp/kelvinlog-tty";
constexpr std::uint32_t kMaxDelayMs = 60000;

struct Options {
  const char *link = kDefaultLink;  // symlink to the pty slave
  const char *scenario = nullptr;   // scenario file; built-in demo when null
  const char *log = nullptr;        // command log, appended
  bool verbose = false;
  std::uint32_t delay_ms = 0;
  std::uint32_t extra_devices = 0;
  AdapterSettings adapter{};
};

enum class OptionsResult : std::uint8_t { kRun, kHelp, kError };

// Parses argv[1..argc-1]. Options take their value as the next argument or
// after '=' (--seed 7, --seed=7). On kError `error` holds a one-line reason.
// The strings in `options` point into argv.
OptionsResult parse_options(int argc, char *const argv[], Options &options, char *error,
                            std::size_t error_cap);

// The usage text printed by --help and after an option error.
std::string_view usage_text();

}  // namespace adaptersim
