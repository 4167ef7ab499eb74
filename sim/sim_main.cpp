// adapter-sim: plays the bus adapter on a pseudo-terminal for kelvinlog and scripts.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim_adapter.h"
#include "sim_loop.h"
#include "sim_options.h"
#include "sim_scenario_file.h"
#include "sim_signals.h"
#include "sim_terminal.h"

namespace {

using adaptersim::Adapter;
using adaptersim::kExitOk;
using adaptersim::kExitSystem;
using adaptersim::kExitUsage;
using adaptersim::Options;
using adaptersim::OptionsResult;
using adaptersim::Scenario;
using adaptersim::Session;

Scenario g_scenario{};   // the simulated bus; large, kept off the stack
Session g_session{};     // holds the splitter's and the queue's buffers

void print_usage(std::FILE *to) {
  const std::string_view usage = adaptersim::usage_text();
  std::fwrite(usage.data(), 1, usage.size(), to);
}

}  // namespace

int main(int argc, char *argv[]) {
  Options options{};
  std::array<char, 256> error{};
  switch (adaptersim::parse_options(argc, argv, options, error.data(), error.size())) {
    case OptionsResult::kHelp:
      print_usage(stdout);
      return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? kExitOk : kExitSystem;
    case OptionsResult::kError:
      std::fprintf(stderr, "adapter-sim: %s\n\n", error.data());
      print_usage(stderr);
      return kExitUsage;
    case OptionsResult::kRun:
      break;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);

  if (!adaptersim::load_scenario(options, g_scenario)) return kExitUsage;

  std::FILE *log = nullptr;
  if (options.log != nullptr) {
    log = std::fopen(options.log, "a");
    if (log == nullptr) {
      std::fprintf(stderr, "adapter-sim: %s: %s\n", options.log, std::strerror(errno));
      return kExitSystem;
    }
  }
  if (!adaptersim::install_stop_signals()) {
    std::perror("adapter-sim: pipe");
    return kExitSystem;
  }
  adaptersim::Terminal term{};
  if (!adaptersim::open_terminal(term)) return kExitSystem;
  if (!adaptersim::create_link(options.link, term.slave_path.data())) return kExitSystem;
  std::printf("adapter-sim: ready %s\n", term.slave_path.data());

  Adapter adapter(g_scenario, options.adapter);
  g_session.options = &options;
  g_session.adapter = &adapter;
  g_session.log = log;
  g_session.master = term.master;
  g_session.slave = term.slave;
  // --exit-after 0: unplugged before the first command.
  if (options.adapter.exit_after == 0) {
    adaptersim::start_unplug(g_session, adaptersim::monotonic_ms());
  }
  const int status = adaptersim::run_loop(g_session, adaptersim::stop_signal_fd());

  close(term.master);
  adaptersim::remove_link(options.link, term.slave_path.data());
  close(term.slave);
  if (log != nullptr) std::fclose(log);
  if (options.verbose) std::printf("adapter-sim: stopped after %llu commands\n",
                                   static_cast<unsigned long long>(adapter.commands()));
  return status;
}
