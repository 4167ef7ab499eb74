// The connection to the MQTT broker, driven by the bridge's own poll loop.
//
// libmosquitto runs without a thread of its own: the loop polls its socket
// and calls its read, write and housekeeping steps. Connects are
// non-blocking (only a host-name lookup may block); a lost or refused
// connection is tried again with a back-off from 1 s to 60 s.
#pragma once

#include <array>
#include <cstddef>

#include "bridge/clock.h"
#include "bridge/limits.h"
#include "bridge/options.h"
#include "bridge/sink.h"

struct mosquitto;
struct mosquitto_message;

namespace bridge {

constexpr MonoMs kBackoffFirstMs = 1000;   // first wait after a failed or lost connection
constexpr MonoMs kBackoffMaxMs = 60000;    // longest wait
constexpr MonoMs kConnectTimeoutMs = 30000;  // a connect without CONNACK is given up after this
// Largest packet the broker may send: a command is a few bytes, the largest
// message read back is a discovery config (about 1 KB).
constexpr std::uint32_t kMaxInboundPacket = 4096;

// Who hears about connects, disconnects and messages.
class LinkListener {
 public:
  virtual void link_connected() = 0;
  virtual void link_disconnected() = 0;
  virtual void link_message(const char *topic, const void *payload, std::size_t len,
                            bool retain) = 0;

 protected:
  ~LinkListener() = default;
};

// The next wait after `current` (doubling, capped).
MonoMs next_backoff(MonoMs current);

class MqttLink final : public Sink {
 public:
  MqttLink() = default;
  ~MqttLink();
  MqttLink(const MqttLink &) = delete;
  MqttLink &operator=(const MqttLink &) = delete;

  // Creates the client (id, last will "offline" on <prefix>/status,
  // credentials, TLS) and starts the first connect. False on a setup error.
  bool start(const BridgeOptions &opt, const char *password, LinkListener &listener, Now now);
  // The socket to poll, or -1.
  int socket() const;
  // True when the socket should be polled for writing too.
  bool want_write() const;
  // Handles the poll result of the socket.
  void on_socket(short revents, Now now);
  // Keepalive, connect timeout and reconnects; returns when it wants to run next.
  MonoMs service(Now now);
  // Publishes "offline" on the status topic and disconnects, waiting at
  // most `wait_ms` for the socket to take it.
  void stop(int wait_ms);

  bool publish(const char *topic, const void *payload, std::size_t len, int qos,
               bool retain) override;
  bool subscribe(const char *filter, unsigned flags) override;
  bool connected() const override { return connected_; }

 private:
  // Stores the CONNECT properties for every connect (returns a MOSQ_ERR_ code).
  int set_connect_properties();
  static void on_connect(mosquitto *m, void *self, int rc);
  static void on_disconnect(mosquitto *m, void *self, int rc);
  static void on_message(mosquitto *m, void *self, const mosquitto_message *msg);
  void try_connect(Now now);
  void lost(Now now, const char *why);
  void flush(int wait_ms);

  mosquitto *mosq_ = nullptr;          // the client; nullptr before start
  LinkListener *listener_ = nullptr;   // the bridge state
  std::array<char, kNameSize + 16> where_{};  // "host:port" for log lines
  std::array<char, kTopicSize> status_topic_{};  // <prefix>/status
  const BridgeOptions *opt_ = nullptr;  // options given to start
  bool ever_started_ = false;          // the first connect has been tried
  bool connecting_ = false;            // a connect is under way (no CONNACK yet)
  bool connected_ = false;             // CONNACK accepted
  bool outage_logged_ = false;         // the current outage has been reported
  MonoMs connect_deadline_ = kNever;   // when a connect under way is given up
  MonoMs reconnect_at_ = kNever;       // when the next connect is tried
  MonoMs backoff_ = kBackoffFirstMs;   // wait before the next connect after a failure
  MonoMs misc_at_ = 0;                 // next keepalive housekeeping
};

}  // namespace bridge
