// Command line: defaults, required options, refused values; the password file.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/options.h"
#include "bridge_test_support.h"

namespace {

using bridge::ParseOutcome;

// Parses `args` (without the program name); the error text goes to `err`.
ParseOutcome parse(const std::vector<std::string> &args, bridge::BridgeOptions &opt,
                   std::string &err, const char *host = "vm") {
  std::vector<std::string> all{"kelvinlog-bridge"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::FILE *out = std::tmpfile();
  std::FILE *errf = std::tmpfile();
  const ParseOutcome r =
      bridge::parse_options(static_cast<int>(all.size()), argv.data(), host, opt, out, errf);
  std::rewind(errf);
  char buf[4096];
  err.assign(buf, std::fread(buf, 1, sizeof buf, errf));
  std::fclose(out);
  std::fclose(errf);
  return r;
}

const std::vector<std::string> kRequired{"--outdir", "/var/lib/kelvinlog", "--config", "/etc/k.txt"};

std::vector<std::string> with(std::vector<std::string> more) {
  std::vector<std::string> v = kRequired;
  v.insert(v.end(), more.begin(), more.end());
  return v;
}

TEST(BridgeOptions, DefaultsComeFromTheHostName) {
  bridge::BridgeOptions opt;
  std::string err;
  ASSERT_EQ(parse(kRequired, opt, err, "board7"), ParseOutcome::kRun) << err;
  EXPECT_STREQ(opt.outdir.data(), "/var/lib/kelvinlog");
  EXPECT_STREQ(opt.config.data(), "/etc/k.txt");
  EXPECT_STREQ(opt.host.data(), "localhost");
  EXPECT_EQ(opt.port, 1883);
  EXPECT_EQ(opt.keepalive, 60);
  EXPECT_STREQ(opt.prefix.data(), "kelvinlog/board7");
  EXPECT_STREQ(opt.board.data(), "board7");
  EXPECT_STREQ(opt.client_id.data(), "kelvinlog-bridge-board7");
  EXPECT_STREQ(opt.discovery_prefix.data(), "homeassistant");
  EXPECT_EQ(opt.stale_after, 300);
  EXPECT_FALSE(opt.ha_discovery);
  EXPECT_FALSE(opt.allow_control);
  EXPECT_STREQ(opt.prom_file.data(), "");
}

TEST(BridgeOptions, TlsFilesLandWhereLibmosquittoWantsThem) {
  bridge::BridgeOptions opt;
  std::string err;
  ASSERT_EQ(parse(with({"--cafile", "/ca", "--capath", "/cas", "--certfile", "/c", "--keyfile", "/k",
                        "--username", "u", "--password-file", "/p"}),
                  opt, err),
            ParseOutcome::kRun)
      << err;
  EXPECT_STREQ(opt.cafile.data(), "/ca");
  EXPECT_STREQ(opt.capath.data(), "/cas");
  EXPECT_STREQ(opt.certfile.data(), "/c");
  EXPECT_STREQ(opt.keyfile.data(), "/k");
  EXPECT_STREQ(opt.password_file.data(), "/p");
}

struct RefusedCase {
  const char *name;
  std::vector<std::string> args;
  const char *message;  // the error text holds this
};
void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

const RefusedCase kRefused[] = {
    {"NoOutdir", {"--config", "/c"}, "required"},
    {"NoConfig", {"--outdir", "/o"}, "required"},
    {"UnknownOption", with({"--verbose"}), "bad option"},
    {"MissingValue", with({"--port"}), "bad option"},
    {"PositionalArgument", with({"extra"}), "unexpected argument"},
    {"PasswordOnTheCommandLine", with({"--password", "secret"}), "written in full"},
    {"Abbreviation", with({"--allow"}), "written in full"},
    {"AbbreviationWithValue", with({"--stale", "5"}), "written in full"},
    {"AbbreviationWithEquals", with({"--stale=5"}), "written in full"},
    {"PortZero", with({"--port", "0"}), "--port"},
    {"PortTooHigh", with({"--port", "65536"}), "--port"},
    {"PortNotANumber", with({"--port", "18x"}), "--port"},
    {"PortNegative", with({"--port", "-1"}), "--port"},
    {"StaleAfterZero", with({"--stale-after", "0"}), "--stale-after"},
    {"StaleAfterTooLong", with({"--stale-after", "31536001"}), "--stale-after"},
    {"KeepaliveTooShort", with({"--keepalive", "4"}), "--keepalive"},
    {"PrefixWithPlus", with({"--prefix", "a/+/b"}), "--prefix"},
    {"PrefixWithHash", with({"--prefix", "a/#"}), "--prefix"},
    {"PrefixEndingInSlash", with({"--prefix", "a/"}), "--prefix"},
    {"PrefixStartingWithSlash", with({"--prefix", "/a"}), "--prefix"},
    {"PrefixWithEmptyLevel", with({"--prefix", "a//b"}), "--prefix"},
    {"PrefixTooLong", with({"--prefix", std::string(161, 'p')}), "--prefix"},
    {"DiscoveryPrefixWithPlus", with({"--discovery-prefix", "h+a"}), "--discovery-prefix"},
    {"OutdirTooLong", {"--outdir", std::string(600, 'o'), "--config", "/c"}, "--outdir"},
    {"BoardWithBlank", with({"--board", "my board"}), "--board"},
    {"CertWithoutKey", with({"--cafile", "/ca", "--certfile", "/c"}), "--keyfile"},
    {"TlsInsecureWithoutCa", with({"--tls-insecure"}), "TLS"},
    {"PasswordFileWithoutUser", with({"--password-file", "/p"}), "--username"},
};

class BridgeOptionsRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(BridgeOptionsRefused, WithAMessageNamingWhatIsWrong) {
  bridge::BridgeOptions opt;
  std::string err;
  EXPECT_EQ(parse(GetParam().args, opt, err), ParseOutcome::kError);
  EXPECT_NE(err.find(GetParam().message), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Arguments, BridgeOptionsRefused, ::testing::ValuesIn(kRefused),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BridgeOptions, ValuesAfterAnEqualsSign) {
  bridge::BridgeOptions opt;
  std::string err;
  ASSERT_EQ(parse({"--outdir=/o", "--config=/c", "--stale-after=9", "--prefix=x/y"}, opt, err),
            ParseOutcome::kRun)
      << err;
  EXPECT_STREQ(opt.outdir.data(), "/o");
  EXPECT_EQ(opt.stale_after, 9);
  EXPECT_STREQ(opt.prefix.data(), "x/y");
}

TEST(BridgeOptions, HelpAndVersionEndTheRun) {
  bridge::BridgeOptions opt;
  std::string err;
  EXPECT_EQ(parse({"--help"}, opt, err), ParseOutcome::kExit);
  EXPECT_EQ(parse({"--version"}, opt, err), ParseOutcome::kExit);
  EXPECT_EQ(err, "");
}

struct PasswordCase {
  const char *name;
  std::string content;
  bool ok;
  std::string password;
};
void PrintTo(const PasswordCase &c, std::ostream *os) { *os << c.name; }

const PasswordCase kPasswords[] = {
    {"OneLine", "s3cret\n", true, "s3cret"},
    {"NoLineEnd", "s3cret", true, "s3cret"},
    {"CrLf", "s3cret\r\n", true, "s3cret"},
    {"OnlyTheFirstLine", "first\nsecond\n", true, "first"},
    {"Empty", "", true, ""},
    {"LongestAllowed", std::string(255, 'p') + "\n", true, std::string(255, 'p')},
    {"TooLong", std::string(256, 'p') + "\n", false, ""},
};

class BridgePassword : public ::testing::TestWithParam<PasswordCase> {};

TEST_P(BridgePassword, FirstLineWithoutItsEnd) {
  bridgetest::ScratchDir d;
  bridgetest::write_file(d.file("pw"), GetParam().content);
  std::array<char, bridge::kSecretSize> secret{};
  std::FILE *err = std::tmpfile();
  EXPECT_EQ(bridge::read_password(d.file("pw").c_str(), secret, err), GetParam().ok);
  std::fclose(err);
  EXPECT_EQ(std::string(secret.data()), GetParam().password);
}

INSTANTIATE_TEST_SUITE_P(Files, BridgePassword, ::testing::ValuesIn(kPasswords),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BridgePasswordFile, MissingOrFifoIsRefusedWithoutBlocking) {
  bridgetest::ScratchDir d;
  ASSERT_EQ(mkfifo(d.file("fifo").c_str(), 0600), 0);
  std::array<char, bridge::kSecretSize> secret{};
  std::FILE *err = std::tmpfile();
  EXPECT_FALSE(bridge::read_password(d.file("missing").c_str(), secret, err));
  EXPECT_FALSE(bridge::read_password(d.file("fifo").c_str(), secret, err));
  std::fclose(err);
}

}  // namespace
