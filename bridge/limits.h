// Sizes and bounds shared by every part of the bridge.
//
// Everything the bridge keeps about the output directory lives in fixed tables
// of these sizes; what does not fit is refused with one log line.
#pragma once

#include <cstddef>

namespace bridge {

constexpr std::size_t kLabelMax = 19;              // longest label: an S0 name (device labels: 16)
constexpr std::size_t kLabelSize = kLabelMax + 1;  // label + NUL
constexpr std::size_t kIdMax = 16;                 // characters of a ROM id
constexpr std::size_t kIdSize = kIdMax + 1;        // ROM id, or "S01"/"S02", + NUL
constexpr std::size_t kModelSize = 36;             // model text: 35 characters + NUL, as the logger keeps it
constexpr std::size_t kConfigMax = 100000;         // characters of the configuration that count
constexpr std::size_t kMaxLabels = 128;            // labels the bridge follows at once
constexpr std::size_t kMaxDeviceLines = 256;       // device lines of the configuration that are used
constexpr std::size_t kValueFileMax = 127;         // longer value files are malformed (largest shape: 67)
constexpr std::size_t kControlReadMax = 32;        // characters of a control file the logger reads
constexpr std::size_t kFieldTextSize = 24;         // one published value: "4294967295", "-2048.000"
constexpr std::size_t kMaxFields = 5;              // fields of one value file (climate module)
constexpr std::size_t kPrefixMax = 160;            // characters of a topic prefix
constexpr std::size_t kTopicSize = 256;            // prefix + '/' + label + '/' + field + NUL
constexpr std::size_t kPathSize = 512;             // file paths given on the command line
constexpr std::size_t kNameSize = 128;             // host names, board and client ids, user names
constexpr std::size_t kSecretSize = 256;           // the password read from --password-file

}  // namespace bridge
