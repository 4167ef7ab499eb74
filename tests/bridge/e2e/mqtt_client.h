// Real parts around the bridge in its whole-process tests: a mosquitto broker
// on a free port, an MQTT client that records what arrives, node_exporter,
// and the bridge process itself.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

struct mosquitto;
struct mosquitto_message;

namespace bridgee2e {

using e2e::Ms;
using e2e::SteadyTime;

std::string bridge_bin();
// The broker and exporter found at configure time; a test fails with a
// message naming the package when one is missing.
std::string broker_bin();
std::string exporter_bin();
bool have_broker();
bool have_exporter();

// A TCP port on 127.0.0.1 that was free a moment ago.
int free_port();

// mosquitto on 127.0.0.1 with anonymous access and no persistence: retained
// messages live only as long as the process.
class Broker {
 public:
  explicit Broker(const e2e::Scratch &s);
  bool ok() const { return proc_ != nullptr; }
  int port() const { return port_; }
  // SIGTERM and wait.
  bool stop();
  // Starts it again on the same port.
  bool start();

 private:
  bool launch();
  std::string conf_;                    // its configuration file
  std::string dir_;                     // its working directory
  int port_ = 0;                        // its listener on 127.0.0.1
  std::unique_ptr<e2e::Process> proc_;  // the running broker; nullptr while stopped
};

// One message as a client received it.
struct Message {
  std::string topic;
  std::string payload;
  bool retain = false;
  SteadyTime at;  // arrival
  double real = 0.0;  // arrival, CLOCK_REALTIME seconds (to compare with file times)
};

// A libmosquitto client, run from the test's own thread.
class MqttClient {
 public:
  MqttClient(int port, const std::vector<std::string> &filters, const std::string &id);
  ~MqttClient();
  MqttClient(const MqttClient &) = delete;
  MqttClient &operator=(const MqttClient &) = delete;

  bool ok() const { return ok_; }
  // Runs the client until `pred` holds or the timeout has passed.
  bool wait(const std::function<bool()> &pred, Ms timeout);
  // Publishes one message (QoS 1) and runs the client until it has left.
  bool publish(const std::string &topic, const std::string &payload, bool retain);
  // The last payload seen on `topic`, or "<none>".
  std::string last(const std::string &topic) const;
  // Last payload per topic, empty payloads (cleared retained messages) dropped.
  std::map<std::string, std::string> state() const;
  const std::vector<Message> &messages() const { return messages_; }

 private:
  static void on_message(mosquitto *, void *self, const mosquitto_message *m);
  mosquitto *mosq_ = nullptr;       // the client
  bool ok_ = false;                 // connected and subscribed
  std::vector<Message> messages_;   // everything received, oldest first
};

// prometheus-node-exporter with only the textfile collector, on a free port.
class NodeExporter {
 public:
  NodeExporter(const e2e::Scratch &s, const std::string &textfile_dir);
  bool ok() const { return ok_; }
  // GET /metrics; the body, or "" on failure.
  std::string metrics();

 private:
  int port_ = 0;                        // its web listener on 127.0.0.1
  bool ok_ = false;                     // it said it is listening
  std::unique_ptr<e2e::Process> proc_;  // the running exporter
};

// Starts the bridge on the scratch tree's output directory and configuration,
// talking to the broker at `port`, with `extra` options; waits until it has
// connected.
std::unique_ptr<e2e::Process> start_bridge(const e2e::Scratch &s, int port,
                                           const std::vector<std::string> &extra);

}  // namespace bridgee2e
