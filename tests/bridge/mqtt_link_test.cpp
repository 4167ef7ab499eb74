// The broker link against a stand-in broker on the loopback, on a clock the test moves: back-off, keepalive.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "bridge/mqtt_link.h"

namespace {

using bridge::MonoMs;

struct CountingListener final : bridge::LinkListener {
  void link_connected() override { ++connects; }
  void link_disconnected() override { ++disconnects; }
  void link_message(const char *, const void *, std::size_t, bool) override {}
  int connects = 0;
  int disconnects = 0;
};

// A port on 127.0.0.1 that refuses connects (bound, not listening) until
// listen(); then it answers one CONNECT with an accepting CONNACK.
class StandInBroker {
 public:
  StandInBroker() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
      port_ = ntohs(a.sin_port);
    }
  }
  ~StandInBroker() {
    drop();
    close(fd_);
  }
  int port() const { return port_; }
  bool listen() { return ::listen(fd_, 4) == 0; }
  // Closes the client's connection: the broker restarts.
  void drop() {
    if (conn_ >= 0) close(conn_);
    conn_ = -1;
  }
  // The descriptors to poll.
  void add_fds(std::vector<pollfd> &fds) const {
    fds.push_back({fd_, POLLIN, 0});
    if (conn_ >= 0) fds.push_back({conn_, POLLIN, 0});
  }
  // Accepts, and answers the CONNECT (MQTT 5 CONNACK: accepted, no properties).
  void step() {
    if (conn_ < 0) conn_ = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (conn_ < 0) return;
    unsigned char buf[512];
    if (read(conn_, buf, sizeof buf) > 0 && buf[0] == 0x10 && !answered_) {
      const unsigned char connack[] = {0x20, 0x03, 0x00, 0x00, 0x00};
      answered_ = write(conn_, connack, sizeof connack) == static_cast<ssize_t>(sizeof connack);
    }
  }

 private:
  int fd_ = -1;
  int conn_ = -1;
  int port_ = 0;
  bool answered_ = false;
};

class MqttLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { mosquitto_lib_init(); }
  static void TearDownTestSuite() { mosquitto_lib_cleanup(); }
  void SetUp() override {
    std::snprintf(opt.host.data(), opt.host.size(), "127.0.0.1");
    opt.port = broker.port();
    std::snprintf(opt.prefix.data(), opt.prefix.size(), "kelvinlog/vm");
    std::snprintf(opt.client_id.data(), opt.client_id.size(), "kelvinlog-bridge-vm");
    now.mono = 1000000;
    ASSERT_NE(opt.port, 0);
  }
  // Runs the link and the broker until `done`, for at most 5 s of real time;
  // while the link waits for its next connect, the clock jumps there. Every
  // wait the link takes after a failed or lost connection goes into `waits`.
  bool run_until(const std::function<bool()> &done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      const MonoMs next = link.service(now);
      std::vector<pollfd> fds;
      const int sock = link.socket();
      if (sock >= 0) fds.push_back({sock, static_cast<short>(POLLIN | (link.want_write() ? POLLOUT : 0)), 0});
      broker.add_fds(fds);
      if (sock < 0 && next != bridge::kNever && next > now.mono) {
        waits.push_back(next - now.mono);
        now.mono = next;
        continue;
      }
      if (poll(fds.data(), fds.size(), 100) < 0) return false;
      if (sock >= 0 && fds[0].revents != 0) link.on_socket(fds[0].revents, now);
      broker.step();
    }
    return true;
  }

  StandInBroker broker;
  CountingListener listener;
  bridge::BridgeOptions opt;
  bridge::MqttLink link;
  bridge::Now now;
  std::vector<MonoMs> waits;
};

TEST_F(MqttLinkTest, ALaterBrokerRestartIsRetriedFromTheShortestBackOff) {
  ASSERT_TRUE(link.start(opt, nullptr, listener, now));
  // A broker that is away at start-up: the waits double up to the longest.
  ASSERT_TRUE(run_until([&] { return !waits.empty() && waits.back() == bridge::kBackoffMaxMs; }));
  EXPECT_EQ(waits.front(), bridge::kBackoffFirstMs);
  EXPECT_EQ(waits.at(1), 2 * bridge::kBackoffFirstMs);
  EXPECT_EQ(listener.connects, 0);
  ASSERT_TRUE(broker.listen());
  ASSERT_TRUE(run_until([&] { return link.connected(); }));
  EXPECT_EQ(listener.connects, 1);
  // Its ping must leave well before the broker's limit of 1.5 keepalives.
  EXPECT_LE(link.service(now) - now.mono, opt.keepalive * 1000 / 2);
  // The broker restarts: the first retry comes after the shortest wait.
  waits.clear();
  broker.drop();
  ASSERT_TRUE(run_until([&] { return !waits.empty(); }));
  EXPECT_EQ(listener.disconnects, 1);
  EXPECT_EQ(waits.front(), bridge::kBackoffFirstMs);
}

}  // namespace
