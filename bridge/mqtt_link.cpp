// libmosquitto without its thread: connect, back-off, publish, subscribe, stop.
#include "bridge/mqtt_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bridge/log.h"
#include "bridge/topics.h"

namespace bridge {

namespace {

constexpr int kReadPackets = 64;  // packets taken per readable socket (TLS may hold several)

const char *error_text(int rc) {
  return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
}

}  // namespace

MonoMs next_backoff(MonoMs current) {
  if (current < kBackoffFirstMs) return kBackoffFirstMs;
  return current >= kBackoffMaxMs / 2 ? kBackoffMaxMs : current * 2;
}

MqttLink::~MqttLink() {
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

bool MqttLink::start(const BridgeOptions &opt, const char *password, LinkListener &listener,
                     Now now) {
  opt_ = &opt;
  listener_ = &listener;
  std::snprintf(where_.data(), where_.size(), "%s:%d", opt.host.data(), opt.port);
  if (!status_topic(status_topic_.data(), status_topic_.size(), opt.prefix.data())) return false;
  mosq_ = mosquitto_new(opt.client_id.data(), true, this);
  if (mosq_ == nullptr) {
    log_line("cannot create the MQTT client: %s", std::strerror(errno));
    return false;
  }
  // MQTT 5: the broker sends nothing larger than kMaxInboundPacket (a bigger
  // message is dropped for this client, never held here), and commands keep
  // their retain flag.
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  int rc = set_connect_properties();
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_will_set(mosq_, status_topic_.data(), static_cast<int>(std::strlen(kOffline)),
                              kOffline, 1, true);
  if (rc == MOSQ_ERR_SUCCESS && opt.username[0] != '\0') {
    rc = mosquitto_username_pw_set(mosq_, opt.username.data(),
                                   password != nullptr && password[0] != '\0' ? password : nullptr);
  }
  if (rc == MOSQ_ERR_SUCCESS && (opt.cafile[0] != '\0' || opt.capath[0] != '\0')) {
    const auto arg = [](const std::array<char, kPathSize> &a) {
      return a[0] != '\0' ? a.data() : nullptr;
    };
    rc = mosquitto_tls_set(mosq_, arg(opt.cafile), arg(opt.capath), arg(opt.certfile),
                           arg(opt.keyfile), nullptr);
    if (rc == MOSQ_ERR_SUCCESS && opt.tls_insecure) rc = mosquitto_tls_insecure_set(mosq_, true);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    log_line("MQTT client setup: %s", error_text(rc));
    return false;
  }
  mosquitto_connect_callback_set(mosq_, &MqttLink::on_connect);
  mosquitto_disconnect_callback_set(mosq_, &MqttLink::on_disconnect);
  mosquitto_message_callback_set(mosq_, &MqttLink::on_message);
  try_connect(now);
  return true;
}

int MqttLink::set_connect_properties() {
  mosquitto_property *props = nullptr;
  int rc = mosquitto_property_add_int32(&props, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxInboundPacket);
  if (rc != MOSQ_ERR_SUCCESS) return rc;
  // libmosquitto 2.0 has no asynchronous connect that takes properties, but
  // it keeps those given to mosquitto_connect_bind_v5 for every later
  // connect, asynchronous ones included. It stores them before it checks the
  // port, so port -1 stores them without connecting.
  rc = mosquitto_connect_bind_v5(mosq_, "localhost", -1, opt_->keepalive, nullptr, props);
  mosquitto_property_free_all(&props);
  return rc == MOSQ_ERR_INVAL ? MOSQ_ERR_SUCCESS : rc;
}

int MqttLink::socket() const {
  // A socket given up on stays open inside the library until the next
  // connect closes it; it is not polled meanwhile.
  if (mosq_ == nullptr || (!connected_ && !connecting_)) return -1;
  return mosquitto_socket(mosq_);
}

bool MqttLink::want_write() const { return mosq_ != nullptr && mosquitto_want_write(mosq_); }

void MqttLink::try_connect(Now now) {
  reconnect_at_ = kNever;
  const int rc = mosquitto_connect_async(mosq_, opt_->host.data(), opt_->port, opt_->keepalive);
  if (rc != MOSQ_ERR_SUCCESS) {
    lost(now, error_text(rc));
    return;
  }
  connecting_ = true;
  connect_deadline_ = now.mono + kConnectTimeoutMs;
  misc_at_ = now.mono;
}

void MqttLink::lost(Now now, const char *why) {
  const bool was_connected = connected_;
  connected_ = false;
  connecting_ = false;
  connect_deadline_ = kNever;
  if (was_connected) {
    log_line("connection to %s lost: %s; reconnecting", where_.data(), why);
    outage_logged_ = true;
    backoff_ = kBackoffFirstMs;
    listener_->link_disconnected();
  } else if (!outage_logged_) {
    log_line("cannot connect to %s: %s; trying again with a back-off of up to %lld s",
             where_.data(), why, static_cast<long long>(kBackoffMaxMs / 1000));
    outage_logged_ = true;
  }
  reconnect_at_ = now.mono + backoff_;
  backoff_ = next_backoff(backoff_);
}

void MqttLink::on_socket(short revents, Now now) {
  if (socket() < 0) return;
  if ((revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
    const int rc = mosquitto_loop_read(mosq_, kReadPackets);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
      lost(now, error_text(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc));
      return;
    }
  }
  if ((revents & POLLOUT) != 0 || mosquitto_want_write(mosq_)) {
    const int rc = mosquitto_loop_write(mosq_, kReadPackets);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
      lost(now, error_text(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc));
    }
  }
}

MonoMs MqttLink::service(Now now) {
  if (mosq_ == nullptr) return kNever;
  if ((connected_ || connecting_) && mosquitto_socket(mosq_) < 0) lost(now, "connection closed");
  if (!connected_ && !connecting_ && reconnect_at_ == kNever) {
    reconnect_at_ = now.mono + backoff_;  // after a refused connect
    backoff_ = next_backoff(backoff_);
  }
  if (!connected_ && !connecting_) {
    if (now.mono >= reconnect_at_) try_connect(now);
    if (!connecting_) return reconnect_at_;
  }
  if (connecting_ && now.mono >= connect_deadline_) {
    lost(now, "no answer to the connect");
    return reconnect_at_;
  }
  if (now.mono >= misc_at_) {
    const int rc = mosquitto_loop_misc(mosq_);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
      lost(now, rc == MOSQ_ERR_SUCCESS ? "keepalive timed out" : error_text(rc));
      return reconnect_at_;
    }
    // A quarter of the keepalive: the ping leaves well before the broker's
    // limit of one and a half keepalives.
    misc_at_ = now.mono + static_cast<MonoMs>(opt_->keepalive) * 1000 / 4;
  }
  const MonoMs next = connecting_ && connect_deadline_ < misc_at_ ? connect_deadline_ : misc_at_;
  return next;
}

bool MqttLink::publish(const char *topic, const void *payload, std::size_t len, int qos,
                       bool retain) {
  if (!connected_) return false;
  return mosquitto_publish(mosq_, nullptr, topic, static_cast<int>(len), payload, qos, retain) ==
         MOSQ_ERR_SUCCESS;
}

bool MqttLink::subscribe(const char *filter, unsigned flags) {
  if (!connected_) return false;
  int options = 0;
  if ((flags & kKeepRetain) != 0) options |= MQTT_SUB_OPT_RETAIN_AS_PUBLISHED;
  if ((flags & kNoLocal) != 0) options |= MQTT_SUB_OPT_NO_LOCAL;
  return mosquitto_subscribe_v5(mosq_, nullptr, filter, 1, options, nullptr) == MOSQ_ERR_SUCCESS;
}

void MqttLink::flush(int wait_ms) {
  for (int waited = 0; waited < wait_ms && mosquitto_want_write(mosq_);) {
    const int fd = mosquitto_socket(mosq_);
    if (fd < 0) return;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 50) < 0 && errno != EINTR) return;
    waited += 50;
    if (mosquitto_loop_write(mosq_, kReadPackets) != MOSQ_ERR_SUCCESS) return;
  }
}

void MqttLink::stop(int wait_ms) {
  if (mosq_ == nullptr) return;
  if (connected_) {
    publish(status_topic_.data(), kOffline, std::strlen(kOffline), 1, true);
    flush(wait_ms);
    connected_ = false;
  }
  connecting_ = false;
  if (mosquitto_socket(mosq_) >= 0) {
    mosquitto_disconnect(mosq_);
    flush(wait_ms);
  }
}

void MqttLink::on_connect(mosquitto *, void *self, int rc) {
  auto *link = static_cast<MqttLink *>(self);
  link->connecting_ = false;
  link->connect_deadline_ = kNever;
  if (rc != 0) {
    // Not connecting and not connected: service() schedules the retry.
    if (!link->outage_logged_) {
      log_line("broker at %s refused the connection: %s; trying again with a back-off of up to "
               "%lld s", link->where_.data(), mosquitto_reason_string(rc),
               static_cast<long long>(kBackoffMaxMs / 1000));
    }
    link->outage_logged_ = true;
    return;
  }
  link->connected_ = true;
  link->backoff_ = kBackoffFirstMs;
  link->outage_logged_ = false;
  log_line("connected to %s", link->where_.data());
  link->listener_->link_connected();
}

void MqttLink::on_disconnect(mosquitto *, void *self, int) {
  auto *link = static_cast<MqttLink *>(self);
  if (!link->connected_) return;
  // Reported here when the library itself closes the socket; the caller's
  // check of the socket then schedules the reconnect.
  link->connected_ = false;
  link->listener_->link_disconnected();
  log_line("connection to %s closed; reconnecting", link->where_.data());
  link->outage_logged_ = true;
}

void MqttLink::on_message(mosquitto *, void *self, const mosquitto_message *msg) {
  auto *link = static_cast<MqttLink *>(self);
  if (msg == nullptr || msg->topic == nullptr || msg->payloadlen < 0) return;
  // The broker should not have sent it; a broker that ignores the limit
  // still gets nothing larger acted on.
  if (static_cast<std::size_t>(msg->payloadlen) > kMaxInboundPacket) {
    log_line("message on %s dropped: %d bytes", shown(msg->topic).data(), msg->payloadlen);
    return;
  }
  link->listener_->link_message(msg->topic, msg->payload, static_cast<std::size_t>(msg->payloadlen),
                                msg->retain);
}

}  // namespace bridge
