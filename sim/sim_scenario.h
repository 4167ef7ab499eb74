// Scenario of the simulated bus: devices, their values and the S0 counts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim_frame.h"

namespace adaptersim {

constexpr std::size_t kMaxDevices = 200;        // devices on the simulated bus
constexpr std::size_t kRomIdLen = 16;           // hex characters of a ROM id
constexpr std::size_t kMaxScenarioLine = 255;   // characters of one scenario line
constexpr std::size_t kMaxScenarioBytes = 256 * 1024;  // size of a scenario file

enum class DeviceKind : std::uint8_t { kTemp28, kTemp10, kCounter, kClimate };

struct Device {
  std::array<char, kRomIdLen + 1> rom{};  // upper-case hex, NUL-terminated
  DeviceKind kind = DeviceKind::kTemp28;
  std::uint16_t temp_word = 0;            // temp28, temp10, climate
  std::uint32_t counter = 0;              // counter module
  std::uint32_t counter_increase = 0;     // added after every poll
  std::uint16_t consumption = 0;
  std::uint8_t rlf = 0;                   // climate module percentages
  std::uint8_t rli = 0;
  std::uint8_t rlq = 0;
  bool output_on = false;                 // switched by the poll suffixes
};

struct S0Channels {
  bool present = false;
  std::array<std::uint32_t, 2> count{};
  std::array<std::uint32_t, 2> increase{};  // added after every bus search
};

struct Scenario {
  std::array<Device, kMaxDevices> devices{};
  std::size_t device_count = 0;
  S0Channels s0{};
};

struct ScenarioError {
  std::size_t line = 0;                 // 1-based; 0 when not tied to a line
  std::array<char, 160> message{};
};

// Parses a scenario text (lines of "device ..." and "s0 ..." items, '#'
// comments, blank lines). On failure `error` names the first bad line and the
// scenario is left partly filled.
bool parse_scenario(std::string_view text, Scenario &scenario, ScenarioError &error);

// Appends `n` generated family 28 sensors 28E0000000000000 + i at 20.0 + i/16
// degrees. False (and nothing appended) when the bus would exceed kMaxDevices.
bool add_extra_devices(Scenario &scenario, std::size_t n);

// Frame bytes of a device in its present state.
DataBytes encode_device(const Device &device);

// The built-in scenario, the same text as scenarios/demo.txt.
std::string_view default_scenario_text();

// Parsing helpers shared with the option parser.
// Unsigned decimal that fits 32 bits; no sign, no blanks.
bool parse_u32(std::string_view text, std::uint32_t &value);
// Decimal number such as -10.125: optional sign, digits, optional fraction.
bool parse_decimal(std::string_view text, double &value);

}  // namespace adaptersim
