// Reads the stand-in's scenario file and reports its errors by file and line.
#include "sim_scenario_file.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace adaptersim {

namespace {

// One more byte than the largest file, to tell an oversized one.
std::array<char, kMaxScenarioBytes + 1> g_scenario_text{};

}  // namespace

bool load_scenario(const Options &options, Scenario &scenario) {
  std::string_view text = default_scenario_text();
  const char *name = "built-in demo scenario";
  if (options.scenario != nullptr) {
    name = options.scenario;
    std::FILE *f = std::fopen(options.scenario, "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "adapter-sim: %s: %s\n", options.scenario, std::strerror(errno));
      return false;
    }
    const std::size_t n = std::fread(g_scenario_text.data(), 1, g_scenario_text.size(), f);
    const bool read_error = std::ferror(f) != 0;
    std::fclose(f);
    if (read_error) {
      std::fprintf(stderr, "adapter-sim: %s: read error\n", options.scenario);
      return false;
    }
    if (n > kMaxScenarioBytes) {
      std::fprintf(stderr, "adapter-sim: %s: larger than %zu bytes\n", options.scenario,
                   kMaxScenarioBytes);
      return false;
    }
    text = std::string_view(g_scenario_text.data(), n);
  }
  ScenarioError err{};
  if (!parse_scenario(text, scenario, err)) {
    std::fprintf(stderr, "adapter-sim: %s:%zu: %s\n", name, err.line, err.message.data());
    return false;
  }
  if (!add_extra_devices(scenario, options.extra_devices)) {
    std::fprintf(stderr, "adapter-sim: %s: %zu devices plus %u extra devices exceed %zu\n", name,
                 scenario.device_count, static_cast<unsigned>(options.extra_devices),
                 kMaxDevices);
    return false;
  }
  return true;
}

}  // namespace adaptersim
