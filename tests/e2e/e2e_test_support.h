// Shared pieces of the whole-process tests that run the logger against the stand-in.
#pragma once

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

constexpr char kSearchEcho[] = "\no$?\n";  // one per cycle on the logger's stdout

// A logger run against the stand-in in a fresh scratch tree: configuration,
// scenario and stand-in options in, footprint of the tree taken before start.
// The output directory is work/<outdir_name>; work/out exists beforehand; an
// empty name leaves the start to the test.
// `prepare` may put files into the tree before the logger starts.
struct StandInRun {
  StandInRun(const std::string &scenario, const std::string &config,
             const std::vector<std::string> &sim_options, const std::string &outdir_name = "out",
             const std::string &options = "-f",
             const std::function<void(const Scratch &)> &prepare = nullptr) {
    s.write_config(config);
    if (prepare) prepare(s);
    std::vector<std::string> sim_args{"--scenario", write_scenario(s, scenario)};
    sim_args.insert(sim_args.end(), sim_options.begin(), sim_options.end());
    sim = std::make_unique<StandIn>(s, sim_args);
    if (!sim->ok()) return;
    before = take_footprint(s);
    if (!outdir_name.empty()) start(s.work() + "/" + outdir_name, options);
  }
  // Starts the logger on the stand-in's link (done by the constructor unless
  // it was given an empty output directory name).
  void start(const std::string &outdir, const std::string &options) {
    logger = start_logger({sim->link(), outdir, options}, s.work());
  }
  bool ok() const { return sim && sim->ok() && logger != nullptr; }
  // Waits until the logger has sent its `n`-th bus search.
  bool searches(int n, Ms timeout) { return logger->wait_for(kSearchEcho, timeout, n); }

  Scratch s;
  std::unique_ptr<StandIn> sim;
  std::unique_ptr<Process> logger;
  Footprint before;
};

// Value texts the logger writes, computed from what a scenario line gives.

// One number printed with a printf format.
inline std::string fmt(const char *format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}
// Temperature word of a sensor: the value rounded to its steps, as the bus carries it.
inline int temp_word(double celsius, int steps) {
  return static_cast<int>(std::lround(celsius * steps)) & 0xFFFF;
}
// The two's-complement value of a 16-bit word.
inline double signed_word(int word) { return word >= 0x8000 ? word - 0x10000 : word; }
// Value text of a family 28 sensor (1/16 degree steps).
inline std::string temp28_text(double celsius) {
  return fmt("%.3f", signed_word(temp_word(celsius, 16)) / 16.0);
}
// Value text of a family 10 sensor (1/2 degree steps).
inline std::string temp10_text(double celsius) {
  return fmt("%.1f", signed_word(temp_word(celsius, 2)) / 2.0);
}
// Two-line value text of an energy-counter module.
inline std::string counter_text(unsigned counter, unsigned consumption, int led) {
  return std::to_string(counter) + ";" + std::to_string(consumption) + ";" +
         std::to_string(led) + "\ncounter [Wh]; consumption[Wh]; limit/LED";
}
// Two-line value text of a climate module on a family 28 id.
inline std::string climate_text(double celsius, int rlf, int rli, int rlq, int led) {
  return fmt("%7.3f", signed_word(temp_word(celsius, 16)) / 16.0) + ";" + std::to_string(rlf) +
         ";" + std::to_string(rli) + ";" + std::to_string(rlq) + ";" + std::to_string(led) +
         "\nT[\xC2\xB0" "C];rLf[%];rLi[%];rLq[%];limit/LED";
}
// The first two data pairs of a frame for a temperature word ("58 01").
inline std::string word_pairs(int word) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X %02X", word & 0xFF, (word >> 8) & 0xFF);
  return buf;
}

// Frames the logger echoed as data lines of entry `index` ("i<n>;o;<frame>"),
// oldest first; search answers (a 16-character id) are left out.
inline std::vector<std::string> data_frames(const std::string &out, int index) {
  std::vector<std::string> frames;
  const std::string prefix = "i" + std::to_string(index) + ";o;";
  for (const std::string &line : split_lines(out)) {
    if (line.rfind(prefix, 0) != 0) continue;
    const std::string frame = line.substr(prefix.size());
    if (frame.size() > 16) frames.push_back(frame);
  }
  return frames;
}

// True when the checksum pair of a frame text matches its nine data pairs.
inline bool checksum_matches(const std::string &frame) {
  if (frame.size() < 29) return false;
  unsigned sum = 0;
  for (int k = 0; k < 9; ++k) sum += std::stoul(frame.substr(3 * k, 2), nullptr, 16);
  return (sum & 0xFF) == std::stoul(frame.substr(27, 2), nullptr, 16);
}

// How many entries of `v` equal `text`.
inline int count_text(const std::vector<std::string> &v, const std::string &text) {
  int n = 0;
  for (const std::string &s : v) n += s == text ? 1 : 0;
  return n;
}

}  // namespace e2e
