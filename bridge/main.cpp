// kelvinlog-bridge: the logger's output directory on MQTT and in a Prometheus textfile.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "bridge/event_loop.h"
#include "bridge/options.h"

int main(int argc, char **argv) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  if (char *dot = std::strchr(host, '.')) *dot = '\0';  // the short name
  static bridge::BridgeOptions opt;
  switch (bridge::parse_options(argc, argv, host, opt, stdout, stderr)) {
    case bridge::ParseOutcome::kRun: break;
    case bridge::ParseOutcome::kExit:  // --help or --version: 1 when it could not be written
      return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    case bridge::ParseOutcome::kError: return 2;
  }
  std::array<char, bridge::kSecretSize> password{};
  if (opt.password_file[0] != '\0' && !bridge::read_password(opt.password_file.data(), password, stderr)) {
    return 2;
  }
  const int status = bridge::run_bridge(opt, password.data());
  explicit_bzero(password.data(), password.size());
  return status;
}
