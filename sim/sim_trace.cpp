// The stand-in's command log and its --verbose traces.
#include "sim_trace.h"

#include <ctime>

namespace adaptersim {

namespace {

std::array<char, kEscapedCommandCap> g_escaped{};  // one escaped command or answer line

}  // namespace

void log_command(std::FILE *log, std::string_view cmd, std::size_t dropped) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  escape_bytes(cmd, g_escaped.data(), g_escaped.size());
  std::fprintf(log, "%lld.%06ld %s", static_cast<long long>(ts.tv_sec), ts.tv_nsec / 1000,
               g_escaped.data());
  if (dropped > 0) std::fprintf(log, " [+%zu bytes dropped]", dropped);
  std::fputc('\n', log);
  std::fflush(log);
}

void trace_line(const char *prefix, std::string_view line) {
  escape_bytes(line, g_escaped.data(), g_escaped.size());
  std::printf("%s%s\n", prefix, g_escaped.data());
}

void trace_reaction(const Reaction &r, const Command &cmd, const Batch &out) {
  struct Named {
    unsigned bit;
    const char *text;
  };
  constexpr std::array<Named, 8> kNames{{
      {kFaultMissing, "answer dropped"},
      {kFaultGarbage, "garbage line"},
      {kFaultLong, "over-long line"},
      {kFaultRetry, "retry request instead of the answer"},
      {kFaultBadCrc, "wrong checksum"},
      {kResent, "held-back answer sent again"},
      {kSilent, "stopped: no answer"},
      {kConfigWrite, "configuration write"},
  }};
  for (const Named &n : kNames) {
    if ((r.events & n.bit) == 0) continue;
    if (n.bit == kConfigWrite) {
      std::array<char, 4 * kConfigStringLen + 1> config{};
      escape_bytes(cmd.config.data(), config.data(), config.size());
      std::printf("# %s %s to device %lu\n", n.text, config.data(),
                  static_cast<unsigned long>(cmd.index));
    } else {
      std::printf("# %s\n", n.text);
    }
  }
  std::string_view rest = out.bytes();
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    trace_line("< ", rest.substr(0, nl));
    rest = (nl == std::string_view::npos) ? std::string_view{} : rest.substr(nl + 1);
  }
}

}  // namespace adaptersim
