// Notify datagrams: the socket address from NOTIFY_SOCKET, the status text, and sending.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "output/notify.h"
#include "support/test_support.h"

namespace {

using namespace core;
using namespace output;

using testsupport::NotifySink;

constexpr std::size_t kSunPath = sizeof(sockaddr_un{}.sun_path);  // 108 on Linux
constexpr socklen_t kBase = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path));

// --- address -----------------------------------------------------------------

struct AddressCase {
  const char *name;      // test name
  std::string value;     // NOTIFY_SOCKET
  bool usable;
  std::string sun_path;  // expected leading bytes of sun_path (with the abstract NUL)
};

void PrintTo(const AddressCase &c, std::ostream *os) { *os << c.name; }

std::string abstract(const std::string &name) { return std::string(1, '\0') + name; }

const AddressCase kAddressCases[] = {
    {"path", "/run/systemd/notify", true, "/run/systemd/notify"},
    {"abstract", "@kelvinlog/notify", true, abstract("kelvinlog/notify")},
    {"one_character_abstract", "@x", true, abstract("x")},
    {"longest_path", "/" + std::string(kSunPath - 2, 'p'), true,
     "/" + std::string(kSunPath - 2, 'p')},
    {"longest_abstract", "@" + std::string(kSunPath - 1, 'a'), true,
     abstract(std::string(kSunPath - 1, 'a'))},
    {"path_without_room_for_its_nul", "/" + std::string(kSunPath - 1, 'p'), false, ""},
    {"abstract_one_too_long", "@" + std::string(kSunPath, 'a'), false, ""},
    {"very_long_path", "/" + std::string(5000, 'p'), false, ""},
    {"empty", "", false, ""},
    {"bare_at", "@", false, ""},
    {"relative_path", "run/notify", false, ""},
    {"vsock_form", "vsock:2:1234", false, ""},
};

class NotifyAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(NotifyAddress, NamesTheSocketOrRefusesIt) {
  const AddressCase &c = GetParam();
  sockaddr_un addr;
  std::memset(&addr, 0x5A, sizeof addr);
  const socklen_t len = notify_address(c.value.c_str(), &addr);
  if (!c.usable) {
    EXPECT_EQ(len, 0u);
    return;
  }
  EXPECT_EQ(addr.sun_family, AF_UNIX);
  // A path is sent with its NUL, an abstract name without one.
  const std::size_t expected_bytes = c.value[0] == '/' ? c.sun_path.size() + 1 : c.sun_path.size();
  ASSERT_EQ(len, kBase + expected_bytes);
  EXPECT_EQ(std::string(addr.sun_path, c.sun_path.size()), c.sun_path);
  if (c.value[0] == '/') {
    EXPECT_EQ(addr.sun_path[c.sun_path.size()], '\0');
  }
}

INSTANTIATE_TEST_SUITE_P(Table, NotifyAddress, ::testing::ValuesIn(kAddressCases),
                         [](const ::testing::TestParamInfo<AddressCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(NotifyAddressNull, NoValueIsNoAddress) {
  sockaddr_un addr;
  EXPECT_EQ(notify_address(nullptr, &addr), 0u);
}

// --- status text ---------------------------------------------------------------

TEST(CycleStatus, NamesEveryFigure) {
  char buf[kNotifyMessageSize];
  const CycleFigures f{12, 7, 9, 2, 2734};
  const std::string expected =
      "WATCHDOG=1\nSTATUS=cycle 12: 7 devices, 9 answers, 2 bad checksums, last cycle 2734 ms";
  EXPECT_EQ(format_cycle_status(buf, sizeof buf, f), expected.size());
  EXPECT_EQ(std::string(buf), expected);
}

TEST(CycleStatus, LargestFiguresFitTheMessageBuffer) {
  char buf[kNotifyMessageSize];
  const CycleFigures f{ULONG_MAX, INT_MIN, UINT_MAX, UINT_MAX, INT64_MIN};
  const std::size_t n = format_cycle_status(buf, sizeof buf, f);
  EXPECT_EQ(n, std::strlen(buf));
  EXPECT_LT(n, sizeof buf - 1) << "the longest status must not be cut";
  EXPECT_NE(std::string(buf).find(std::to_string(ULONG_MAX)), std::string::npos);
}

TEST(CycleStatus, IsCutToASmallBufferAndStaysTerminated) {
  for (std::size_t size : {1u, 2u, 11u, 20u}) {
    SCOPED_TRACE(size);
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    const std::size_t n = format_cycle_status(buf, size, CycleFigures{1, 1, 1, 0, 5});
    EXPECT_EQ(n, size - 1);
    EXPECT_EQ(buf[size - 1], '\0');
    EXPECT_EQ(buf[size], '#') << "written past the buffer";
    EXPECT_EQ(std::string(buf), std::string("WATCHDOG=1\nSTATUS=cycle").substr(0, size - 1));
  }
}

// A buffer that holds the whole text, and one a single byte too small.
TEST(CycleStatus, ExactFitAndOneByteShort) {
  const std::string full =
      "WATCHDOG=1\nSTATUS=cycle 1: 1 devices, 1 answers, 0 bad checksums, last cycle 5 ms";
  char buf[kNotifyMessageSize];
  EXPECT_EQ(format_cycle_status(buf, full.size() + 1, CycleFigures{1, 1, 1, 0, 5}), full.size());
  EXPECT_EQ(std::string(buf), full);
  EXPECT_EQ(format_cycle_status(buf, full.size(), CycleFigures{1, 1, 1, 0, 5}), full.size() - 1);
  EXPECT_EQ(std::string(buf), full.substr(0, full.size() - 1));
}

// --- sending -------------------------------------------------------------------

// NOTIFY_SOCKET unset for the life of the object; the old value is put back.
class EnvUnset {
 public:
  EnvUnset() {
    if (const char *old = std::getenv("NOTIFY_SOCKET")) {
      had_ = true;
      old_ = old;
    }
    unsetenv("NOTIFY_SOCKET");
  }
  ~EnvUnset() {
    if (had_) setenv("NOTIFY_SOCKET", old_.c_str(), 1);
  }

 private:
  bool had_ = false;
  std::string old_;
};

std::string unique_abstract() {
  return "@kelvinlog-test-" + std::to_string(getpid()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

TEST(Notify, NothingWithoutTheVariable) {
  EnvUnset unset;
  EXPECT_EQ(notify("READY=1"), NotifyResult::kNoSocket);
  setenv("NOTIFY_SOCKET", "", 1);
  EXPECT_EQ(notify("READY=1"), NotifyResult::kNoSocket);
}

TEST(Notify, UnusableNameIsRefused) {
  EnvUnset unset;
  setenv("NOTIFY_SOCKET", "relative/notify", 1);
  EXPECT_EQ(notify("READY=1"), NotifyResult::kBadAddress);
}

TEST(Notify, OneDatagramToAPathSocket) {
  testsupport::TempDir dir;
  NotifySink sink(dir.file("notify"));
  ASSERT_TRUE(sink.ok());
  EXPECT_EQ(notify(kNotifyReady), NotifyResult::kSent);
  EXPECT_EQ(sink.take(), std::vector<std::string>{kNotifyReady});
}

TEST(Notify, OneDatagramToAnAbstractSocket) {
  NotifySink sink(unique_abstract());
  ASSERT_TRUE(sink.ok());
  EXPECT_EQ(notify("WATCHDOG=1"), NotifyResult::kSent);
  EXPECT_EQ(sink.take(), std::vector<std::string>{"WATCHDOG=1"});
}

TEST(Notify, NobodyListeningIsNotFatal) {
  testsupport::TempDir dir;
  EnvUnset unset;
  setenv("NOTIFY_SOCKET", dir.file("nobody").c_str(), 1);
  EXPECT_EQ(notify("READY=1"), NotifyResult::kNotSent);
  // A plain file where the socket should be.
  testsupport::write_file(dir.file("plain"), "x");
  setenv("NOTIFY_SOCKET", dir.file("plain").c_str(), 1);
  EXPECT_EQ(notify("READY=1"), NotifyResult::kNotSent);
}

TEST(Notify, FullReceiverQueueNeverBlocks) {
  NotifySink sink(unique_abstract());
  ASSERT_TRUE(sink.ok());
  // Fill the receiver's queue from a socket of the test's own until it refuses more.
  int filler = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(filler, 0);
  sockaddr_un addr;
  const socklen_t len = notify_address(std::getenv("NOTIFY_SOCKET"), &addr);
  ASSERT_GT(len, 0u);
  int queued = 0;
  while (sendto(filler, "x", 1, 0, reinterpret_cast<const sockaddr *>(&addr), len) == 1) {
    ASSERT_LT(++queued, 100000) << "the queue never filled";
  }
  close(filler);
  // A blocking send would hang here until the test times out.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(notify("WATCHDOG=1"), NotifyResult::kNotSent);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
