// bridge-measure: figures of the bridge against the real logger, the stand-in
// and a local mosquitto.
//
//   build/tests/bridge/e2e/bridge-measure [values] [idle seconds]
//
// Latency: an inotify watch of this program notes the moment each value file
// is closed after writing (IN_CLOSE_WRITE, read at once in a poll loop), a
// subscriber in the same loop notes the arrival of the file's first field;
// both on CLOCK_MONOTONIC. Then the logger is stopped and the bridge's
// resident memory, CPU time (utime + stime) and voluntary context switches
// (its wakeups) are read from /proc over the idle period.
#include <mosquitto.h>
#include <poll.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_test_support.h"
#include "harness.h"
#include "mqtt_client.h"

namespace {

double mono_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Probe {
  std::map<std::string, std::deque<double>> closed;  // label -> close times not yet matched
  std::vector<double> latencies;                     // seconds
};

void on_message(mosquitto *, void *self, const mosquitto_message *m) {
  const double at = mono_now();
  auto *probe = static_cast<Probe *>(self);
  const std::string topic = m->topic;
  const std::string prefix = "kelvinlog/measure/";
  if (topic.rfind(prefix, 0) != 0) return;
  const std::string rest = topic.substr(prefix.size());
  const std::size_t slash = rest.find('/');
  const std::string label = rest.substr(0, slash);
  const std::string field = rest.substr(slash + 1);
  if (field != "temperature" && field != "counter" && field != "energy") return;
  auto &q = probe->closed[label];
  if (q.empty()) return;
  probe->latencies.push_back(at - q.front());
  q.pop_front();
}

// utime + stime in seconds, and voluntary context switches, of `pid`.
void usage_of(pid_t pid, double &cpu, long &switches, long &rss_kb, long &hwm_kb, long &anon_kb) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream rest(all.substr(all.rfind(')') + 2));
  std::vector<std::string> f;
  for (std::string x; rest >> x;) f.push_back(x);
  // Fields 14 and 15 of the file: after the name they are the 12th and 13th.
  cpu = (std::stod(f.at(11)) + std::stod(f.at(12))) / static_cast<double>(sysconf(_SC_CLK_TCK));
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) switches = std::stol(line.substr(24));
    if (line.rfind("VmRSS:", 0) == 0) rss_kb = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) hwm_kb = std::stol(line.substr(6));
    if (line.rfind("RssAnon:", 0) == 0) anon_kb = std::stol(line.substr(8));
  }
}

}  // namespace

int main(int argc, char **argv) {
  const std::size_t wanted = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 300;
  const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 60;
  using e2e::Ms;
  e2e::StandInRun run(e2e::read_file(e2e::scenario_dir() + "/demo.txt"),
                      e2e::read_file(e2e::scenario_dir() + "/demo-config.txt"), {}, "");
  if (!run.sim || !run.sim->ok()) return 1;
  bridgee2e::Broker broker(run.s);
  if (!broker.ok()) return 1;
  std::vector<std::string> argv_bridge{bridgee2e::bridge_bin(), "--outdir", run.s.out(),
                                       "--config", run.s.work() + "/kelvinlog-config.txt",
                                       "--host", "127.0.0.1", "--port", std::to_string(broker.port()),
                                       "--prefix", "kelvinlog/measure"};
  e2e::Process bridge(argv_bridge, e2e::plain_env(), run.s.work());
  if (!bridge.wait_for("connected to", Ms(10000), 1, e2e::Stream::kErr)) return 1;

  mosquitto_lib_init();
  Probe probe;
  mosquitto *sub = mosquitto_new("measure", true, &probe);
  mosquitto_message_callback_set(sub, on_message);
  if (mosquitto_connect(sub, "127.0.0.1", broker.port(), 60) != MOSQ_ERR_SUCCESS) return 1;
  mosquitto_subscribe(sub, nullptr, "kelvinlog/measure/#", 0);
  for (int i = 0; i < 20; ++i) mosquitto_loop(sub, 10, 1);  // SUBACK; retained messages drain
  const int ifd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(ifd, run.s.out().c_str(), IN_CLOSE_WRITE);

  run.start(run.s.out(), "-f");
  const double deadline = mono_now() + 600;
  alignas(inotify_event) char buf[8192];
  while (probe.latencies.size() < wanted && mono_now() < deadline) {
    pollfd fds[2] = {{ifd, POLLIN, 0}, {mosquitto_socket(sub), POLLIN, 0}};
    if (poll(fds, 2, 1000) < 0) break;
    if (fds[0].revents != 0) {
      const double at = mono_now();
      for (ssize_t n = read(ifd, buf, sizeof buf); n > 0; n = read(ifd, buf, sizeof buf)) {
        for (ssize_t off = 0; off < n;) {
          const auto *e = reinterpret_cast<const inotify_event *>(buf + off);
          off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
          const std::string name = e->len > 0 ? e->name : "";
          if (name.size() > 5 && name.compare(name.size() - 5, 5, "v.txt") == 0) {
            probe.closed[name.substr(0, name.size() - 5)].push_back(at);
          }
        }
      }
    }
    if (fds[1].revents != 0) mosquitto_loop_read(sub, 16);
    mosquitto_loop_misc(sub);
  }
  std::vector<double> l = probe.latencies;
  std::sort(l.begin(), l.end());
  if (l.empty()) return 1;
  const auto pct = [&](double p) { return l[std::min(l.size() - 1, static_cast<std::size_t>(p * l.size()))]; };
  std::printf("latency over %zu values: median %.3f ms, p99 %.3f ms, max %.3f ms\n", l.size(),
              pct(0.5) * 1e3, pct(0.99) * 1e3, l.back() * 1e3);

  double cpu_active = 0;
  long sw_active = 0, rss = 0, hwm = 0, anon = 0;
  usage_of(bridge.pid(), cpu_active, sw_active, rss, hwm, anon);
  std::printf("after the run: VmRSS %ld kB (RssAnon %ld kB), VmHWM %ld kB, CPU %.2f s\n", rss, anon,
              hwm, cpu_active);

  run.logger->terminate();
  // The bridge's own work for the last files ends within a moment; measure after.
  bridge.pump(Ms(1000));
  double cpu0 = 0, cpu1 = 0;
  long sw0 = 0, sw1 = 0;
  usage_of(bridge.pid(), cpu0, sw0, rss, hwm, anon);
  const double t0 = mono_now();
  while (mono_now() - t0 < idle_seconds) {
    bridge.pump(Ms(500));
    mosquitto_loop(sub, 500, 1);
  }
  usage_of(bridge.pid(), cpu1, sw1, rss, hwm, anon);
  const double span = mono_now() - t0;
  std::printf("idle %.0f s (logger stopped): CPU %.3f s (%.4f %%), %ld wakeups (%.3f per second), "
              "VmRSS %ld kB\n",
              span, cpu1 - cpu0, 100.0 * (cpu1 - cpu0) / span, sw1 - sw0,
              static_cast<double>(sw1 - sw0) / span, rss);
  mosquitto_destroy(sub);
  mosquitto_lib_cleanup();
  bridge.terminate();
  return 0;
}
