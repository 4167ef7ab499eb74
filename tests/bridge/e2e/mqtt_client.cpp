// Broker, client, exporter and bridge processes for the bridge's whole-process tests.
#include "mqtt_client.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <cstring>

namespace bridgee2e {

namespace {

using Clock = std::chrono::steady_clock;

bool executable(const std::string &path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

// libmosquitto's global set-up, once per process.
void mqtt_library() {
  static const bool done = [] {
    mosquitto_lib_init();
    return true;
  }();
  (void)done;
}

}  // namespace

std::string bridge_bin() { return BRIDGE_BIN; }
std::string broker_bin() { return MOSQUITTO_BROKER_BIN; }
std::string exporter_bin() { return NODE_EXPORTER_BIN; }

bool have_broker() {
  if (executable(broker_bin())) return true;
  ADD_FAILURE() << "mosquitto is not installed (apt-get install mosquitto): the bridge's "
                   "whole-process tests need a real broker";
  return false;
}

bool have_exporter() {
  if (executable(exporter_bin())) return true;
  ADD_FAILURE() << "prometheus-node-exporter is not installed (apt-get install "
                   "prometheus-node-exporter): the textfile test needs it";
  return false;
}

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

// --- broker ------------------------------------------------------------------

Broker::Broker(const e2e::Scratch &s) : conf_(s.aux("mosquitto.conf")), dir_(s.root() + "/aux") {
  if (!have_broker()) return;
  // A port taken between the probe and the broker's bind is tried again.
  for (int attempt = 0; attempt < 5 && proc_ == nullptr; ++attempt) {
    port_ = free_port();
    e2e::write_file(conf_, "listener " + std::to_string(port_) +
                               " 127.0.0.1\nallow_anonymous true\npersistence false\n"
                               "log_dest stderr\nlog_type error\nlog_type warning\n"
                               "log_type notice\nlog_type information\n");
    launch();
  }
  if (proc_ == nullptr) ADD_FAILURE() << "mosquitto did not start";
}

bool Broker::launch() {
  auto proc = std::make_unique<e2e::Process>(
      std::vector<std::string>{broker_bin(), "-c", conf_}, e2e::plain_env(), dir_);
  if (!proc->started() ||
      !proc->wait_for(" running", Ms(10000), 1, e2e::Stream::kErr)) {
    return false;
  }
  proc_ = std::move(proc);
  return true;
}

bool Broker::stop() {
  if (proc_ == nullptr) return true;
  const bool ended = proc_->terminate(Ms(5000));
  proc_.reset();
  return ended;
}

bool Broker::start() { return launch(); }

// --- client ------------------------------------------------------------------

MqttClient::MqttClient(int port, const std::vector<std::string> &filters, const std::string &id) {
  mqtt_library();
  mosq_ = mosquitto_new(id.c_str(), true, this);
  if (mosq_ == nullptr) return;
  mosquitto_message_callback_set(mosq_, &MqttClient::on_message);
  if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return;
  for (const std::string &f : filters) {
    if (mosquitto_subscribe(mosq_, nullptr, f.c_str(), 1) != MOSQ_ERR_SUCCESS) return;
  }
  ok_ = true;
}

MqttClient::~MqttClient() {
  if (mosq_ == nullptr) return;
  mosquitto_disconnect(mosq_);
  mosquitto_destroy(mosq_);
}

void MqttClient::on_message(mosquitto *, void *self, const mosquitto_message *m) {
  auto *c = static_cast<MqttClient *>(self);
  Message msg;
  msg.topic = m->topic;
  msg.payload.assign(static_cast<const char *>(m->payload), static_cast<std::size_t>(m->payloadlen));
  msg.retain = m->retain;
  msg.at = Clock::now();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  msg.real = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  c->messages_.push_back(std::move(msg));
}

bool MqttClient::wait(const std::function<bool()> &pred, Ms timeout) {
  const SteadyTime deadline = Clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (!ok_ || Clock::now() >= deadline) return false;
    if (mosquitto_loop(mosq_, 50, 1) != MOSQ_ERR_SUCCESS) poll(nullptr, 0, 50);
  }
}

bool MqttClient::publish(const std::string &topic, const std::string &payload, bool retain) {
  int mid = 0;
  if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, retain) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  // Sent once the library has nothing left to write.
  return wait([this] { return !mosquitto_want_write(mosq_); }, Ms(2000));
}

std::string MqttClient::last(const std::string &topic) const {
  for (auto it = messages_.rbegin(); it != messages_.rend(); ++it) {
    if (it->topic == topic) return it->payload;
  }
  return "<none>";
}

std::map<std::string, std::string> MqttClient::state() const {
  std::map<std::string, std::string> s;
  for (const Message &m : messages_) s[m.topic] = m.payload;
  for (auto it = s.begin(); it != s.end();) it = it->second.empty() ? s.erase(it) : std::next(it);
  return s;
}

// --- node_exporter -------------------------------------------------------------

NodeExporter::NodeExporter(const e2e::Scratch &s, const std::string &textfile_dir) {
  if (!have_exporter()) return;
  for (int attempt = 0; attempt < 5 && !ok_; ++attempt) {
    port_ = free_port();
    proc_ = std::make_unique<e2e::Process>(
        std::vector<std::string>{exporter_bin(),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port_),
                                 "--collector.disable-defaults", "--collector.textfile",
                                 "--collector.textfile.directory=" + textfile_dir},
        e2e::plain_env(), s.root() + "/aux");
    ok_ = proc_->started() && proc_->wait_for("Listening on", Ms(10000), 1, e2e::Stream::kErr);
  }
  if (!ok_) ADD_FAILURE() << "node_exporter did not start: " << (proc_ ? proc_->err() : "");
}

std::string NodeExporter::metrics() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port_));
  std::string reply;
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
    const std::string req = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(fd, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
      const SteadyTime deadline = Clock::now() + Ms(5000);
      char buf[8192];
      for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (Clock::now() >= deadline || poll(&p, 1, 100) < 0) break;
        if (p.revents == 0) continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        reply.append(buf, static_cast<std::size_t>(n));
      }
    }
  }
  if (fd >= 0) close(fd);
  const std::size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

// --- the bridge ------------------------------------------------------------------

std::unique_ptr<e2e::Process> start_bridge(const e2e::Scratch &s, int port,
                                           const std::vector<std::string> &extra) {
  std::vector<std::string> argv{bridge_bin(), "--outdir", s.out(), "--config",
                                s.work() + "/kelvinlog-config.txt", "--host", "127.0.0.1",
                                "--port", std::to_string(port), "--prefix", "kelvinlog/test",
                                "--board", "test"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  auto proc = std::make_unique<e2e::Process>(argv, e2e::plain_env(), s.work());
  if (!proc->started() || !proc->wait_for("connected to", Ms(10000), 1, e2e::Stream::kErr)) {
    ADD_FAILURE() << "the bridge did not connect: " << proc->err();
  }
  return proc;
}

}  // namespace bridgee2e
