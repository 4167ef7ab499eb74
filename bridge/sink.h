// Where the bridge's messages go: the MQTT link, or a recorder in tests.
#pragma once

#include <cstddef>

namespace bridge {

// Subscription options.
constexpr unsigned kKeepRetain = 1;  // a message published retained arrives retained, also live
constexpr unsigned kNoLocal = 2;     // the bridge's own messages do not come back

class Sink {
 public:
  // Publishes one message; false when it could not be queued (not connected:
  // the whole state is published again on the next connect).
  virtual bool publish(const char *topic, const void *payload, std::size_t len, int qos,
                       bool retain) = 0;
  // Subscribes to `filter` (QoS 1) with kKeepRetain and kNoLocal as asked;
  // false when it could not be sent.
  virtual bool subscribe(const char *filter, unsigned flags) = 0;
  // True while the broker has accepted the connection.
  virtual bool connected() const = 0;

 protected:
  ~Sink() = default;
};

}  // namespace bridge
