// Single-instance guard over the process list.
#include "app/guard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_file.h"
#include "core/poll_context.h"

namespace app {

namespace {

constexpr const char *kName = "kelvinlog";
constexpr std::size_t kNameLen = 9;
constexpr const char *kSkippedName = "kelvinlog-rrd";
constexpr const char *kListFile = "kelvinlog-tmp";

// Drops everything before `cut` from the text starting at `text`.
void drop_front(char *text, const char *cut) {
  std::memmove(text, cut, std::strlen(cut) + 1);
}

void run_shell(const char *command) {
  int ignored = std::system(command);
  (void)ignored;
}

}  // namespace

GuardVerdict judge_process_list(char *text) {
  const char *rrd = std::strstr(text, kSkippedName);
  if (rrd != nullptr) drop_front(text, rrd + kNameLen);
  const char *first = std::strstr(text, kName);
  if (first == nullptr) return GuardVerdict::kNone;
  drop_front(text, first + kNameLen);
  return std::strstr(text, kName) != nullptr ? GuardVerdict::kMultiple : GuardVerdict::kSingle;
}

void check_multiple_running(core::PollContext *ctx) {
  std::puts("check multiple running\r");
  run_shell("ps -A > kelvinlog-tmp");
  std::FILE *file = std::fopen(kListFile, "r+");
  if (file == nullptr) {
    std::perror(kListFile);
    std::puts("err not found: ps -A > kelvinlog-tmp \r");
    std::exit(-1);
  }
  char *text = ctx->config.data();
  config::read_raw_text(file, text, core::kConfigSize);
  std::fclose(file);
  run_shell("rm kelvinlog-tmp");
  switch (judge_process_list(text)) {
    case GuardVerdict::kNone:
      break;
    case GuardVerdict::kSingle:
      std::puts("kelvinlog runs not multiple and will be continued\r");
      break;
    case GuardVerdict::kMultiple:
      std::puts("kelvinlog runs multiple and will be killed\r");
      std::fflush(stdout);
      run_shell("killall kelvinlog");
      run_shell("killall kelvinlog-pi");
      break;
  }
}

}  // namespace app
