// The bus the stand-in plays: the --scenario file (or the built-in demo bus)
// read, parsed and extended by --extra-devices.
#pragma once

#include "sim_options.h"
#include "sim_scenario.h"

namespace adaptersim {

// Fills `scenario` from options.scenario (the built-in demo bus when null)
// and adds options.extra_devices generated sensors. False, with a message
// naming the file (and the line) on stderr, when the file cannot be read, is
// larger than kMaxScenarioBytes, holds a bad line, or the devices exceed
// kMaxDevices.
bool load_scenario(const Options &options, Scenario &scenario);

}  // namespace adaptersim
