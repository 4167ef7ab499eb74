// Command-line parsing, defaults and the password file.
#include "bridge/options.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifndef KELVINLOG_BRIDGE_VERSION
#define KELVINLOG_BRIDGE_VERSION "0"
#endif

namespace bridge {

namespace {

constexpr const char *kUsage =
    "usage: kelvinlog-bridge --outdir DIR --config FILE [--host H] [--port P] [--prefix P]\n"
    "                        [--ha-discovery] [--prom-file PATH] [--stale-after SECONDS]\n"
    "                        [--allow-control] [--help] [--version]\n"
    "\n"
    "Publishes the value files that kelvinlog writes into DIR on an MQTT broker,\n"
    "and optionally as a node_exporter textfile.\n"
    "\n"
    "  --outdir DIR            the logger's output directory (required)\n"
    "  --config FILE           the logger's kelvinlog-config.txt (required)\n"
    "  --host H                MQTT broker (default localhost)\n"
    "  --port P                MQTT port (default 1883)\n"
    "  --prefix P              topic prefix (default kelvinlog/<hostname>)\n"
    "  --board NAME            board name in unique ids and discovery (default <hostname>)\n"
    "  --client-id ID          MQTT client id (default kelvinlog-bridge-<board>)\n"
    "  --keepalive SECONDS     MQTT keepalive (default 60)\n"
    "  --username U            MQTT user name\n"
    "  --password-file FILE    MQTT password: the first line of FILE\n"
    "  --cafile FILE           TLS: CA certificates (PEM); turns TLS on\n"
    "  --capath DIR            TLS: directory of CA certificates; turns TLS on\n"
    "  --certfile FILE         TLS: client certificate (PEM)\n"
    "  --keyfile FILE          TLS: client key (PEM)\n"
    "  --tls-insecure          TLS: do not check the broker's host name\n"
    "  --ha-discovery          publish Home Assistant MQTT discovery configs\n"
    "  --discovery-prefix P    discovery topic prefix (default homeassistant)\n"
    "  --prom-file PATH        write a node_exporter textfile (atomically)\n"
    "  --stale-after SECONDS   a value not rewritten for this long is unavailable (default 300)\n"
    "  --allow-control         accept <prefix>/<label>/switch/set with payload 0 or 1\n"
    "  --help                  this text\n"
    "  --version               the version\n";

enum OptionId {
  kOutdir = 256, kConfig, kHost, kPort, kPrefix, kBoard, kClientId, kKeepalive, kUsername,
  kPasswordFile, kCafile, kCapath, kCertfile, kKeyfile, kTlsInsecure, kHaDiscovery,
  kDiscoveryPrefix, kPromFile, kStaleAfter, kAllowControl, kHelp, kVersion,
};

const option kLongOptions[] = {
    {"outdir", required_argument, nullptr, kOutdir},
    {"config", required_argument, nullptr, kConfig},
    {"host", required_argument, nullptr, kHost},
    {"port", required_argument, nullptr, kPort},
    {"prefix", required_argument, nullptr, kPrefix},
    {"board", required_argument, nullptr, kBoard},
    {"client-id", required_argument, nullptr, kClientId},
    {"keepalive", required_argument, nullptr, kKeepalive},
    {"username", required_argument, nullptr, kUsername},
    {"password-file", required_argument, nullptr, kPasswordFile},
    {"cafile", required_argument, nullptr, kCafile},
    {"capath", required_argument, nullptr, kCapath},
    {"certfile", required_argument, nullptr, kCertfile},
    {"keyfile", required_argument, nullptr, kKeyfile},
    {"tls-insecure", no_argument, nullptr, kTlsInsecure},
    {"ha-discovery", no_argument, nullptr, kHaDiscovery},
    {"discovery-prefix", required_argument, nullptr, kDiscoveryPrefix},
    {"prom-file", required_argument, nullptr, kPromFile},
    {"stale-after", required_argument, nullptr, kStaleAfter},
    {"allow-control", no_argument, nullptr, kAllowControl},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// Copies an argument that must fit whole into `dst`; false with a message otherwise.
template <std::size_t N>
bool take(std::array<char, N> &dst, const char *value, const char *name, std::FILE *err) {
  const std::size_t len = strnlen(value, N);
  if (len >= N) {
    std::fprintf(err, "kelvinlog-bridge: --%s: longer than %zu characters\n", name, N - 1);
    return false;
  }
  std::memcpy(dst.data(), value, len);
  dst[len] = '\0';
  return true;
}

// A whole decimal number from `lo` to `hi`; false with a message otherwise.
bool take_number(long &dst, const char *value, long lo, long hi, const char *name,
                 std::FILE *err) {
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(value, &end, 10);
  if (value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 || v < lo || v > hi) {
    std::fprintf(err, "kelvinlog-bridge: --%s: expected a whole number from %ld to %ld\n", name,
                 lo, hi);
    return false;
  }
  dst = v;
  return true;
}

// Host names and the like: printable ASCII, no blanks, not empty.
bool printable_word(const char *s) {
  if (s[0] == '\0') return false;
  for (const char *p = s; *p != '\0'; ++p) {
    if (*p <= ' ' || *p > '~') return false;
  }
  return true;
}

// True when the option just parsed was written as "--<name>" or "--<name>=...".
bool spelled_out(int argc, char *const argv[], const char *name) {
  int at = optind - 1;
  if (optarg != nullptr && at >= 1 && optarg == argv[at]) --at;  // value in its own argument
  if (at < 1 || at >= argc) return false;
  const char *token = argv[at];
  const std::size_t len = std::strlen(name);
  return std::strncmp(token, "--", 2) == 0 && std::strncmp(token + 2, name, len) == 0 &&
         (token[2 + len] == '\0' || token[2 + len] == '=');
}

bool fill_defaults(const char *hostname, BridgeOptions &opt, std::FILE *err) {
  const char *host = printable_word(hostname) ? hostname : "localhost";
  if (opt.host[0] == '\0') std::snprintf(opt.host.data(), opt.host.size(), "%s", kDefaultHost);
  if (opt.board[0] == '\0' &&
      std::snprintf(opt.board.data(), opt.board.size(), "%s", host) >=
          static_cast<int>(opt.board.size())) {
    std::fprintf(err, "kelvinlog-bridge: the host name is too long for a board name: give --board\n");
    return false;
  }
  if (opt.prefix[0] == '\0' &&
      std::snprintf(opt.prefix.data(), opt.prefix.size(), "kelvinlog/%s", opt.board.data()) >=
          static_cast<int>(opt.prefix.size())) {
    std::fprintf(err, "kelvinlog-bridge: the board name is too long for a prefix: give --prefix\n");
    return false;
  }
  if (opt.client_id[0] == '\0' &&
      std::snprintf(opt.client_id.data(), opt.client_id.size(), "kelvinlog-bridge-%s",
                    opt.board.data()) >= static_cast<int>(opt.client_id.size())) {
    std::fprintf(err, "kelvinlog-bridge: the board name is too long for a client id: give --client-id\n");
    return false;
  }
  if (opt.discovery_prefix[0] == '\0') {
    std::snprintf(opt.discovery_prefix.data(), opt.discovery_prefix.size(), "%s",
                  kDefaultDiscoveryPrefix);
  }
  return true;
}

bool check_complete(const BridgeOptions &opt, std::FILE *err) {
  if (opt.outdir[0] == '\0' || opt.config[0] == '\0') {
    std::fprintf(err, "kelvinlog-bridge: --outdir and --config are required\n%s", kUsage);
    return false;
  }
  if (!valid_topic_prefix(opt.prefix.data())) {
    std::fprintf(err, "kelvinlog-bridge: --prefix '%s': not a usable topic prefix\n",
                 opt.prefix.data());
    return false;
  }
  if (!valid_topic_prefix(opt.discovery_prefix.data())) {
    std::fprintf(err, "kelvinlog-bridge: --discovery-prefix '%s': not a usable topic prefix\n",
                 opt.discovery_prefix.data());
    return false;
  }
  if (!printable_word(opt.board.data()) || !printable_word(opt.client_id.data()) ||
      !printable_word(opt.host.data())) {
    std::fprintf(err, "kelvinlog-bridge: --host, --board and --client-id take printable text "
                      "without blanks\n");
    return false;
  }
  if ((opt.certfile[0] == '\0') != (opt.keyfile[0] == '\0')) {
    std::fprintf(err, "kelvinlog-bridge: --certfile and --keyfile go together\n");
    return false;
  }
  const bool tls = opt.cafile[0] != '\0' || opt.capath[0] != '\0';
  if (!tls && (opt.certfile[0] != '\0' || opt.tls_insecure)) {
    std::fprintf(err, "kelvinlog-bridge: TLS options need --cafile or --capath\n");
    return false;
  }
  if (opt.password_file[0] != '\0' && opt.username[0] == '\0') {
    std::fprintf(err, "kelvinlog-bridge: --password-file needs --username\n");
    return false;
  }
  return true;
}

}  // namespace

bool valid_topic_prefix(const char *prefix) {
  const std::size_t len = strnlen(prefix, kPrefixMax + 1);
  if (len == 0 || len > kPrefixMax) return false;
  if (prefix[0] == '/' || prefix[len - 1] == '/') return false;
  for (std::size_t i = 0; i < len; ++i) {
    const char c = prefix[i];
    if (c < ' ' || c > '~' || c == '+' || c == '#') return false;
    if (c == '/' && prefix[i + 1] == '/') return false;
  }
  return true;
}

ParseOutcome parse_options(int argc, char *const argv[], const char *hostname, BridgeOptions &opt,
                           std::FILE *out, std::FILE *err) {
  opt = BridgeOptions{};
  optind = 0;  // GNU: start a fresh scan, so a second parse in one process works
  opterr = 0;
  for (;;) {
    int index = -1;
    const int c = getopt_long(argc, argv, "", kLongOptions, &index);
    if (c == -1) break;
    if (index >= 0 && !spelled_out(argc, argv, kLongOptions[index].name)) {
      // getopt_long takes any unique prefix: "--pass secret" would become a
      // password file named "secret", and a later message would show it.
      std::fprintf(err, "kelvinlog-bridge: options must be written in full (--%s)\n",
                   kLongOptions[index].name);
      return ParseOutcome::kError;
    }
    long n = 0;
    bool ok = true;
    switch (c) {
      case kOutdir: ok = take(opt.outdir, optarg, "outdir", err); break;
      case kConfig: ok = take(opt.config, optarg, "config", err); break;
      case kHost: ok = take(opt.host, optarg, "host", err); break;
      case kPort:
        ok = take_number(n, optarg, 1, 65535, "port", err);
        opt.port = static_cast<int>(n);
        break;
      case kPrefix: ok = take(opt.prefix, optarg, "prefix", err); break;
      case kBoard: ok = take(opt.board, optarg, "board", err); break;
      case kClientId: ok = take(opt.client_id, optarg, "client-id", err); break;
      case kKeepalive:
        ok = take_number(n, optarg, 5, 65535, "keepalive", err);
        opt.keepalive = static_cast<int>(n);
        break;
      case kUsername: ok = take(opt.username, optarg, "username", err); break;
      case kPasswordFile: ok = take(opt.password_file, optarg, "password-file", err); break;
      case kCafile: ok = take(opt.cafile, optarg, "cafile", err); break;
      case kCapath: ok = take(opt.capath, optarg, "capath", err); break;
      case kCertfile: ok = take(opt.certfile, optarg, "certfile", err); break;
      case kKeyfile: ok = take(opt.keyfile, optarg, "keyfile", err); break;
      case kTlsInsecure: opt.tls_insecure = true; break;
      case kHaDiscovery: opt.ha_discovery = true; break;
      case kDiscoveryPrefix: ok = take(opt.discovery_prefix, optarg, "discovery-prefix", err); break;
      case kPromFile: ok = take(opt.prom_file, optarg, "prom-file", err); break;
      case kStaleAfter:
        ok = take_number(opt.stale_after, optarg, 1, kMaxStaleAfter, "stale-after", err);
        break;
      case kAllowControl: opt.allow_control = true; break;
      case kHelp: std::fputs(kUsage, out); return ParseOutcome::kExit;
      case kVersion:
        std::fprintf(out, "kelvinlog-bridge %s\n", KELVINLOG_BRIDGE_VERSION);
        return ParseOutcome::kExit;
      default: {
        const char *arg = optind >= 1 && optind <= argc ? argv[optind - 1] : "?";
        std::fprintf(err, "kelvinlog-bridge: bad option or missing value: %s\n%s", arg, kUsage);
        return ParseOutcome::kError;
      }
    }
    if (!ok) return ParseOutcome::kError;
  }
  if (optind < argc) {
    std::fprintf(err, "kelvinlog-bridge: unexpected argument: %s\n%s", argv[optind], kUsage);
    return ParseOutcome::kError;
  }
  if (!fill_defaults(hostname, opt, err) || !check_complete(opt, err)) return ParseOutcome::kError;
  return ParseOutcome::kRun;
}

bool read_password(const char *path, std::array<char, kSecretSize> &secret, std::FILE *err) {
  secret.fill('\0');
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(err, "kelvinlog-bridge: %s: %s\n", path, std::strerror(errno));
    return false;
  }
  struct stat st {};
  ssize_t n = -1;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = read(fd, secret.data(), secret.size());
  close(fd);
  if (n < 0) {
    std::fprintf(err, "kelvinlog-bridge: %s: not a readable regular file\n", path);
    secret.fill('\0');
    return false;
  }
  std::size_t len = 0;
  while (len < static_cast<std::size_t>(n) && secret[len] != '\n' && secret[len] != '\0') ++len;
  if (len == secret.size()) {
    std::fprintf(err, "kelvinlog-bridge: %s: the password is longer than %zu characters\n", path,
                 secret.size() - 1);
    secret.fill('\0');
    return false;
  }
  if (len > 0 && secret[len - 1] == '\r') --len;
  std::memset(secret.data() + len, 0, secret.size() - len);
  return true;
}

}  // namespace bridge
