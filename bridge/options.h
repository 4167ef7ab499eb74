// Command line of kelvinlog-bridge: what to watch, where to publish, what to allow.
//
// Parsed once at start-up into fixed buffers; every bad or overlong argument
// is refused with a message naming it.
#pragma once

#include <array>
#include <cstdio>

#include "bridge/limits.h"

namespace bridge {

constexpr int kDefaultPort = 1883;           // MQTT over TCP
constexpr int kDefaultKeepalive = 60;        // seconds between pings on a quiet link
constexpr long kDefaultStaleAfter = 300;     // seconds a value stays available without a rewrite
constexpr long kMaxStaleAfter = 31536000;    // one year
constexpr const char *kDefaultHost = "localhost";
constexpr const char *kDefaultDiscoveryPrefix = "homeassistant";

struct BridgeOptions {
  std::array<char, kPathSize> outdir{};         // the logger's output directory
  std::array<char, kPathSize> config{};         // the logger's configuration file
  std::array<char, kNameSize> host{};           // MQTT broker host name or address
  int port = kDefaultPort;                      // MQTT broker TCP port
  int keepalive = kDefaultKeepalive;            // MQTT keepalive, seconds
  std::array<char, kPrefixMax + 1> prefix{};    // topic prefix, default kelvinlog/<hostname>
  std::array<char, kNameSize> board{};          // board name in ids and discovery, default hostname
  std::array<char, kNameSize> client_id{};      // MQTT client id, default kelvinlog-bridge-<board>
  std::array<char, kNameSize> username{};       // MQTT user name; empty: none
  std::array<char, kPathSize> password_file{};  // file whose first line is the password; empty: none
  std::array<char, kPathSize> cafile{};         // TLS: trusted CA certificates (PEM); TLS is on when
  std::array<char, kPathSize> capath{};         // TLS: directory of CA certificates  | one of these
  std::array<char, kPathSize> certfile{};       // TLS: client certificate (PEM)       | two is given
  std::array<char, kPathSize> keyfile{};        // TLS: client key (PEM)
  bool tls_insecure = false;                    // TLS: do not check the broker's host name
  bool ha_discovery = false;                    // publish Home Assistant discovery configs
  std::array<char, kPrefixMax + 1> discovery_prefix{};  // discovery topic prefix
  std::array<char, kPathSize> prom_file{};      // node_exporter textfile; empty: none
  long stale_after = kDefaultStaleAfter;        // seconds until an unrewritten value is unavailable
  bool allow_control = false;                   // accept switch commands over MQTT
};

enum class ParseOutcome {
  kRun,    // options complete: start the bridge
  kExit,   // --help or --version was printed: exit 0
  kError,  // a message was printed: exit 2
};

// Parses argv into `opt`. `hostname` stands in the defaults of the prefix,
// board and client id. Usage and version text go to `out`, errors to `err`.
ParseOutcome parse_options(int argc, char *const argv[], const char *hostname, BridgeOptions &opt,
                           std::FILE *out, std::FILE *err);

// Reads the first line of the password file into `secret` (no line end).
// False, with a message on `err`, when it cannot be read or is too long.
bool read_password(const char *path, std::array<char, kSecretSize> &secret, std::FILE *err);

// True when `prefix` can lead MQTT topics: 1 to kPrefixMax characters,
// printable ASCII, no '+' or '#', not beginning or ending with '/', no "//".
bool valid_topic_prefix(const char *prefix);

}  // namespace bridge
