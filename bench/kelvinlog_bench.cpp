// Micro-benchmarks of the logger's hot paths: the three configuration lookups on
// a full-size configuration, the load step, and the handling of one data line.
//
// Every file the benchmarks write goes to a scratch directory on /dev/shm (or
// /tmp where there is none); the engine runs on a fake clock that never sleeps.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_file.h"
#include "config/lookup.h"
#include "engine/device_table.h"
#include "engine/main_loop.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "support/test_support.h"

namespace {

using namespace core;
using namespace config;
using namespace engine;

constexpr const char *kRomId = "28FF4A1B02170312";
constexpr const char *kDeviceLine = "28FF4A1B02170312;Kitchen;QV-S0";
constexpr const char *kS0Line = "S01;Garage;800";
constexpr const char *kGoodFrameLine = "0;o;50 05 4B 46 7F FF 0C 10 1C 9C 00\n";
constexpr const char *kBadFrameLine = "0;o;FF FF FF FF FF FF FF FF FF 9D 00\n";
constexpr const char *kCounterFrameLine = "0;o;10 27 00 00 64 00 00 80 00 1B 00\n";

PollContext g_ctx;  // one context for every benchmark, as the logger has

// A configuration of exactly 100000 characters whose last line is `last`.
// The lines before it name other sensors whose ids share the key's first 12
// characters, so the search meets a near match on every line.
std::string full_config(const std::string &last) {
  std::string text;
  text.reserve(kConfigMax);
  char line[64];
  for (unsigned n = 0;; ++n) {
    int len = std::snprintf(line, sizeof line, "28FF4A1B0217%04X;Sensor %u;QV-HTX\n",
                            (n * 7u + 1u) & 0x0FFFu, n);
    if (text.size() + static_cast<std::size_t>(len) + last.size() + 3 > kConfigMax) break;
    text += line;
  }
  std::size_t pad = kConfigMax - text.size() - last.size();
  text += '#';
  text.append(pad - 2, '-');
  text += '\n';
  text += last;
  return text;
}

// A fresh directory on /dev/shm (or /tmp); its files are removed with it.
class ScratchDir {
 public:
  ScratchDir() {
    struct stat st;
    bool shm = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode);
    std::string tmpl = std::string(shm ? "/dev/shm" : "/tmp") + "/kelvinlog-bench-XXXXXX";
    if (mkdtemp(&tmpl[0]) != nullptr) path_ = tmpl;
  }
  ~ScratchDir() {
    if (path_.empty()) return;
    if (DIR *d = opendir(path_.c_str())) {
      while (dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
          unlink((path_ + "/" + e->d_name).c_str());
        }
      }
      closedir(d);
    }
    rmdir(path_.c_str());
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

// Sends standard output to /dev/null while it lives (the load step echoes the
// whole configuration, decoders print their values).
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
      dup2(null_fd, STDOUT_FILENO);
      close(null_fd);
    }
  }
  ~QuietStdout() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  QuietStdout(const QuietStdout &) = delete;
  QuietStdout &operator=(const QuietStdout &) = delete;

 private:
  int saved_ = -1;
};

// A pipe standing in for the serial line: the logger writes its commands into
// it, the benchmark empties it now and then.
class SerialPipe {
 public:
  SerialPipe() {
    if (pipe(fds_) == 0) {
      fcntl(fds_[0], F_SETFL, O_NONBLOCK);
      fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    }
  }
  ~SerialPipe() {
    if (fds_[0] >= 0) close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  SerialPipe(const SerialPipe &) = delete;
  SerialPipe &operator=(const SerialPipe &) = delete;
  bool ok() const { return fds_[0] >= 0; }
  int logger_end() const { return fds_[1]; }
  void drain() const {
    char buf[4096];
    while (read(fds_[0], buf, sizeof buf) > 0) {
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

void BM_LookupName(benchmark::State &state) {
  const std::string text = full_config(kDeviceLine);
  std::array<char, kIdSize> name{};
  NameResult found = NameResult::kAbsent;
  for (auto _ : state) {
    found = lookup_name(text.c_str(), kRomId, name.data(), kIdSize, false);
    benchmark::DoNotOptimize(found);
    benchmark::ClobberMemory();
  }
  if (found != NameResult::kFound || std::strcmp(name.data(), "Kitchen") != 0) {
    state.SkipWithError("name not found at the end of the configuration");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LookupName);

void BM_LookupModel(benchmark::State &state) {
  const std::string text = full_config(kDeviceLine);
  testsupport::prepare_context(&g_ctx, "/tmp", -1, text);
  for (auto _ : state) {
    lookup_model(&g_ctx, kRomId);
    benchmark::DoNotOptimize(g_ctx.qvm);
    benchmark::ClobberMemory();
  }
  if (std::strcmp(g_ctx.qvm.data(), "QV-S0") != 0) {
    state.SkipWithError("model not found at the end of the configuration");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LookupModel);

void BM_ExtractField(benchmark::State &state) {
  const std::string text = full_config(kS0Line);
  FieldBuffer field{};
  const char *result = nullptr;
  for (auto _ : state) {
    result = extract_field(text.c_str(), "S01", ';', 2, field);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  if (result == nullptr || std::strcmp(result, "800") != 0) {
    state.SkipWithError("rate not found at the end of the configuration");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ExtractField);

// STATE_LOAD: read and echo the 100000-byte configuration, clear the table,
// send the bus search.
void BM_LoadStep(benchmark::State &state) {
  ScratchDir dir;
  SerialPipe serial;
  if (!dir.ok() || !serial.ok()) {
    state.SkipWithError("no scratch directory or pipe");
    return;
  }
  testsupport::write_file(dir.path() + "/" + kConfigFileName, full_config(kDeviceLine));
  testsupport::ChdirGuard cwd(dir.path());
  testsupport::FakeClock::install(1700000000);
  testsupport::prepare_context(&g_ctx, dir.path(), serial.logger_end());
  {
    QuietStdout quiet;
    std::size_t n = 0;
    for (auto _ : state) {
      load_step(&g_ctx);
      if (++n % 1024 == 0) serial.drain();
    }
  }
  testsupport::FakeClock::uninstall();
  if (g_ctx.state != STATE_ENUMERATE || std::strlen(g_ctx.config.data()) != kConfigMax) {
    state.SkipWithError("configuration not loaded");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kConfigMax));
}
BENCHMARK(BM_LoadStep);

// One data line in STATE_POLL through dispatch_line: split, frame check, raw
// file, decoder, value file (or error log).
void run_data_line(benchmark::State &state, const char *line, const char *model,
                   const char *expect_value) {
  ScratchDir dir;
  if (!dir.ok()) {
    state.SkipWithError("no scratch directory");
    return;
  }
  testsupport::FakeClock::install(1700000000);
  testsupport::prepare_context(&g_ctx, dir.path(), -1);
  clear_table(&g_ctx);
  add_named_entry(&g_ctx, kRomId);
  g_ctx.state = STATE_POLL;
  g_ctx.idi = 0;
  copy_bounded(g_ctx.qvm.data(), kQvmSize, model, kQvmSize - 1);
  const std::size_t len = std::strlen(line);
  {
    QuietStdout quiet;
    for (auto _ : state) {
      std::memcpy(g_ctx.line.data(), line, len + 1);
      dispatch_line(&g_ctx);
    }
  }
  testsupport::FakeClock::uninstall();
  std::string written = testsupport::read_file(dir.path() + "/" + kRomId + "v.txt");
  if (expect_value[0] != '\0' && written != std::string(expect_value) + "\n") {
    state.SkipWithError("unexpected value file");
  }
}

void BM_DataLineTemperature(benchmark::State &state) {
  run_data_line(state, kGoodFrameLine, "", "85.000");
}
BENCHMARK(BM_DataLineTemperature);

void BM_DataLineCounter(benchmark::State &state) {
  run_data_line(state, kCounterFrameLine, "QV-S0",
                "10000;100;1\ncounter [Wh]; consumption[Wh]; limit/LED");
}
BENCHMARK(BM_DataLineCounter);

void BM_DataLineBadChecksum(benchmark::State &state) {
  run_data_line(state, kBadFrameLine, "", "");
}
BENCHMARK(BM_DataLineBadChecksum);

}  // namespace

int main(int argc, char **argv) {
  // As in the logger: standard output line-buffered wherever it goes.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
