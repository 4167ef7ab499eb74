// Answers, device state and fault injection of the simulated adapter.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim_adapter.h"

namespace adaptersim {
namespace {

constexpr char kBus[] =
    "device 28FF4A1B02170312 temp28 85\n"
    "device 10A1B2C3D4E5F607 temp10 24.5\n"
    "device 28C0FFEE00000001 counter 10000 100 5\n"
    "device 28C0FFEE00000002 climate 85 50 45 10\n"
    "s0 1234 5678 10 20\n";

std::vector<std::string> lines_of(const Batch &b) {
  std::vector<std::string> out;
  std::string_view rest = b.bytes();
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    EXPECT_NE(nl, std::string_view::npos) << "answer not ended by a line feed";
    out.emplace_back(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
  }
  return out;
}

struct Sim {
  explicit Sim(AdapterSettings settings = {}, const char *text = kBus)
      : scenario(std::make_unique<Scenario>()) {
    ScenarioError err{};
    EXPECT_TRUE(parse_scenario(text, *scenario, err)) << err.message.data();
    adapter = std::make_unique<Adapter>(*scenario, settings);
  }
  std::vector<std::string> send(std::string_view cmd, Reaction *r = nullptr) {
    Batch b;
    const Reaction got = adapter->handle(cmd, b);
    if (r != nullptr) *r = got;
    return lines_of(b);
  }
  std::unique_ptr<Scenario> scenario;
  std::unique_ptr<Adapter> adapter;
};

using Lines = std::vector<std::string>;

TEST(SimAdapter, AnswersLikeTheAdapter) {
  Sim sim;
  EXPECT_EQ(sim.send("$L+"), Lines{"$L+;ok"});
  EXPECT_EQ(sim.send("$L-"), Lines{"$L-;ok"});
  EXPECT_EQ(sim.send("$res"), Lines{"$res;ok"});
  EXPECT_EQ(sim.send("$?"), (Lines{"0;o;28FF4A1B02170312", "1;o;10A1B2C3D4E5F607",
                                   "2;o;28C0FFEE00000001", "3;o;28C0FFEE00000002",
                                   "$S0;1234;5678"}));
  EXPECT_EQ(sim.send("$0"), Lines{"0;o;50 05 4B 46 7F FF 0C 10 1C 9C 00"});
  EXPECT_EQ(sim.send("$1"), Lines{"1;o;31 00 4B 46 FF FF 0C 10 87 63 00"});
  EXPECT_EQ(sim.send("$3"), Lines{"3;o;50 05 32 00 2D 00 0A 00 00 BE 00"});
  EXPECT_EQ(sim.send("$4"), Lines{"4;e;no device"});
  EXPECT_EQ(sim.send("$hello"), Lines{"$hello;e;unknown"});
  EXPECT_EQ(sim.send(""), Lines{});
  EXPECT_EQ(sim.adapter->commands(), 10u);
}

TEST(SimAdapter, CountersGrowPerPollAndSearch) {
  Sim sim;
  EXPECT_EQ(sim.send("$2"), Lines{"2;o;10 27 00 00 64 00 00 00 00 9B 00"});
  EXPECT_EQ(sim.send("$2"), Lines{"2;o;15 27 00 00 64 00 00 00 00 A0 00"});
  sim.send("$?");
  EXPECT_EQ(sim.send("$?").back(), "$S0;1244;5698");
  EXPECT_EQ(sim.send("$?").back(), "$S0;1254;5718");
}

TEST(SimAdapter, OutputSuffixesSwitchTheLedBit) {
  Sim sim;
  auto led = [&](std::string_view cmd) {
    const Lines l = sim.send(cmd);
    EXPECT_EQ(l.size(), 1u);
    return l.empty() ? std::string() : l[0].substr(4 + 21, 2);  // data byte 7
  };
  EXPECT_EQ(led("$3"), "00");
  EXPECT_EQ(led("$3;11"), "80");
  EXPECT_EQ(led("$3"), "80");  // stays on without a suffix
  EXPECT_EQ(led("$3;22"), "00");
  EXPECT_EQ(led("$3;33"), "80");
  EXPECT_EQ(led("$3;00"), "00");
  EXPECT_EQ(led("$2;11"), "80");
  Reaction r{};
  EXPECT_EQ(sim.send("$2;1;05;42", &r).size(), 1u);
  EXPECT_NE(r.events & kConfigWrite, 0u);
  EXPECT_EQ(led("$0;11"), "10");  // a sensor's filler does not change
}

TEST(SimAdapter, RetryHoldsTheAnswerForTheEmptyLine) {
  AdapterSettings s;
  s.rates.retry = 1.0;
  Sim sim(s);
  Reaction r{};
  EXPECT_EQ(sim.send("$0", &r), Lines{"0;??;"});
  EXPECT_NE(r.events & kFaultRetry, 0u);
  EXPECT_EQ(sim.send(""), Lines{"0;o;50 05 4B 46 7F FF 0C 10 1C 9C 00"});
  EXPECT_EQ(sim.send(""), Lines{});  // only once
  EXPECT_EQ(sim.send("$7"), Lines{"7;??;"});
  EXPECT_EQ(sim.send(""), Lines{"7;e;no device"});

  const Lines search = sim.send("$?");
  ASSERT_EQ(search.size(), 5u);
  int replaced = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    if (search[k] == std::to_string(k) + ";??;") {
      ++replaced;
      EXPECT_EQ(sim.send("")[0].substr(0, 4), std::to_string(k) + ";o;");
    }
  }
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(sim.send("$res"), Lines{"$res;ok"});  // only device answers are retried
}

TEST(SimAdapter, BadChecksumOnlyTouchesTheChecksum) {
  AdapterSettings s;
  s.rates.bad_crc = 1.0;
  Sim sim(s);
  EXPECT_EQ(sim.send("$0"), Lines{"0;o;50 05 4B 46 7F FF 0C 10 1C 9D 00"});
  EXPECT_EQ(sim.send("$4"), Lines{"4;e;no device"});
}

TEST(SimAdapter, MissingDropsPollAnswersButStillCounts) {
  AdapterSettings s;
  s.rates.missing = 1.0;
  Sim sim(s);
  Reaction r{};
  EXPECT_EQ(sim.send("$2", &r), Lines{});
  EXPECT_NE(r.events & kFaultMissing, 0u);
  EXPECT_EQ(sim.send("$9"), Lines{});
  EXPECT_EQ(sim.send("$?").size(), 5u);
  sim.scenario->devices[2].counter_increase = 0;
  EXPECT_EQ(sim.scenario->devices[2].counter, 10005u);
}

TEST(SimAdapter, NoiseLinesComeBeforeTheAnswer) {
  AdapterSettings s;
  s.rates.garbage = 1.0;
  s.rates.long_line = 1.0;
  Sim sim(s);
  for (const char *cmd : {"$0", "$?", "$res", "$L-", "$x"}) {
    const Lines l = sim.send(cmd);
    ASSERT_GE(l.size(), 3u) << cmd;
    const std::string &garbage = l[0];
    EXPECT_GE(garbage.size(), 1u);
    EXPECT_LE(garbage.size(), kMaxGarbageLen);
    for (char c : garbage) {
      const auto u = static_cast<unsigned char>(c);
      EXPECT_TRUE(u >= 0x80 || (u >= 0x01 && u <= 0x1F && u != 0x0A)) << static_cast<int>(u);
    }
    ASSERT_EQ(l[1].size(), kLongLineLen);
    for (char c : l[1]) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << cmd;
  }
  EXPECT_EQ(sim.send("$0").back(), "0;o;50 05 4B 46 7F FF 0C 10 1C 9C 00");
}

TEST(SimAdapter, FaultsAreDeterministicPerSeed) {
  AdapterSettings s;
  s.rates = {0.3, 0.3, 0.3, 0.3, 0.3};
  s.seed = 42;
  auto run = [](const AdapterSettings &settings) {
    Sim sim(settings);
    std::string all;
    for (int i = 0; i < 200; ++i) {
      for (const std::string &l : sim.send(i % 5 == 0 ? "$?" : "$" + std::to_string(i % 5 - 1))) {
        all += l + "\n";
      }
    }
    return all;
  };
  const std::string a = run(s);
  EXPECT_EQ(a, run(s));
  s.seed = 43;
  EXPECT_NE(a, run(s));
}

TEST(SimAdapter, FaultRatesAreRoughlyHonoured) {
  AdapterSettings s;
  s.rates.missing = 0.25;
  Sim sim(s);
  int dropped = 0;
  for (int i = 0; i < 4000; ++i) {
    if (sim.send("$0").empty()) ++dropped;
  }
  EXPECT_GT(dropped, 800);
  EXPECT_LT(dropped, 1200);
}

TEST(SimAdapter, StopAfterFallsSilentAndExitAfterUnplugs) {
  AdapterSettings s;
  s.stop_after = 2;
  s.exit_after = 4;
  Sim sim(s);
  Reaction r{};
  EXPECT_EQ(sim.send("$L-", &r).size(), 1u);
  EXPECT_FALSE(r.unplug);
  EXPECT_EQ(sim.send("$0", &r).size(), 1u);
  EXPECT_EQ(sim.send("$0", &r), Lines{});
  EXPECT_NE(r.events & kSilent, 0u);
  EXPECT_FALSE(r.unplug);
  EXPECT_EQ(sim.send("$?", &r), Lines{});
  EXPECT_TRUE(r.unplug);
  EXPECT_EQ(sim.adapter->commands(), 4u);
}

TEST(SimAdapter, FullBusSearchFitsOneBatch) {
  AdapterSettings s;
  s.rates.garbage = 1.0;
  s.rates.long_line = 1.0;
  Sim sim(s, "s0 4294967295 4294967295\n");
  ASSERT_TRUE(add_extra_devices(*sim.scenario, kMaxDevices));
  const Lines l = sim.send("$?");
  ASSERT_EQ(l.size(), kMaxDevices + 3);
  EXPECT_EQ(l[2 + 199], "199;o;28E00000000000C7");
  EXPECT_EQ(l.back(), "$S0;4294967295;4294967295");
}

TEST(SimAdapter, UnknownCommandEchoIsBounded) {
  Sim sim;
  const std::string big(kMaxCommandLen, 'z');
  const Lines l = sim.send(big);
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0], std::string(kMaxEchoedCommand, 'z') + ";e;unknown");
}

}  // namespace
}  // namespace adaptersim
