// Whole-process tests of hostile objects beside the logger: FIFOs, links and
// terminals in place of its files, closed standard streams, names that would
// leave the output directory, and a file system that refuses writes.
//
// Every test checks two things: the logger either keeps cycling or ends with
// status 255 and the path in its message, and nothing outside the output
// directory changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e_test_support.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr char kKitchen[] = "28FF4A1B02170312";
const std::string kOneSensor = std::string("device ") + kKitchen + " temp28 21.5\n";
const std::string kNamedKitchen = std::string(kKitchen) + ";Kitchen\n";
constexpr char kEarlierContent[] = "earlier content, not the logger's\n";

std::vector<std::string> head(const std::vector<std::string> &v, std::size_t n) {
  return std::vector<std::string>(v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

bool searches_logged(const std::vector<std::string> &c, int n) {
  return count_text(c, "$?") >= n;
}

// The target of a symbolic link; empty when `path` is none.
std::string link_target(const std::string &path) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool is_fifo(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// The pieces of the logger's output between consecutive bus searches: piece k
// holds what cycle k printed after its search, up to the next search.
std::vector<std::string> cycles_of(const std::string &out) {
  std::vector<std::string> pieces;
  std::size_t at = out.find(kSearchEcho);
  while (at != std::string::npos) {
    const std::size_t next = out.find(kSearchEcho, at + 1);
    if (next == std::string::npos) break;
    pieces.push_back(out.substr(at, next - at));
    at = next;
  }
  return pieces;
}

// --- hostile objects -----------------------------------------------------------

enum class Kind {
  kFifo,            // a FIFO nobody reads
  kFifoWithReader,  // a FIFO that the test holds open for reading
  kLinkToFile,      // a symbolic link to a file outside the output directory
  kDanglingLink,    // a symbolic link to a name outside that does not exist
  kLinkToTerminal,  // a symbolic link to a terminal (a pty slave)
  kDirectory,       // an empty directory
};

// What another program planted at `path`, and what it leads to outside the
// output directory (in the test's own directory). expect_untouched() checks
// that the logger neither wrote to, replaced, removed nor followed it.
class Planted {
 public:
  Planted(const Scratch &s, const std::string &path, Kind kind,
          const std::string &outside_content = kEarlierContent)
      : path_(path), kind_(kind), content_(outside_content) {
    target_ = s.aux("outside-" + path.substr(path.rfind('/') + 1));
    switch (kind) {
      case Kind::kFifo:
        EXPECT_EQ(mkfifo(path.c_str(), 0666), 0) << path;
        break;
      case Kind::kFifoWithReader:
        EXPECT_EQ(mkfifo(path.c_str(), 0666), 0) << path;
        reader_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(reader_, 0) << path;
        break;
      case Kind::kLinkToFile:
        write_file(target_, content_);
        EXPECT_EQ(symlink(target_.c_str(), path.c_str()), 0) << path;
        break;
      case Kind::kDanglingLink:
        EXPECT_EQ(symlink(target_.c_str(), path.c_str()), 0) << path;
        break;
      case Kind::kLinkToTerminal:
        terminal_ = std::make_unique<PtyAdapter>();
        target_ = terminal_->slave_path();
        EXPECT_EQ(symlink(target_.c_str(), path.c_str()), 0) << path;
        break;
      case Kind::kDirectory:
        EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
        break;
    }
  }
  ~Planted() {
    if (reader_ >= 0) close(reader_);
  }
  Planted(const Planted &) = delete;
  Planted &operator=(const Planted &) = delete;

  void expect_untouched() {
    switch (kind_) {
      case Kind::kFifo:
        EXPECT_TRUE(is_fifo(path_)) << path_;
        break;
      case Kind::kFifoWithReader: {
        EXPECT_TRUE(is_fifo(path_)) << path_;
        char c = 0;
        EXPECT_LE(read(reader_, &c, 1), 0) << "bytes were written into the FIFO";
        break;
      }
      case Kind::kLinkToFile:
        EXPECT_EQ(link_target(path_), target_);
        EXPECT_EQ(read_file(target_), content_) << "the link's target was written";
        break;
      case Kind::kDanglingLink:
        EXPECT_EQ(link_target(path_), target_);
        EXPECT_FALSE(path_exists(target_)) << "the link's target was created";
        break;
      case Kind::kLinkToTerminal:
        EXPECT_EQ(link_target(path_), target_);
        // The logger's cycle is over: anything it wrote is waiting already.
        EXPECT_FALSE(terminal_->wait_lines(1, Ms(100)));
        EXPECT_EQ(terminal_->received(), "") << "bytes were written to the terminal";
        break;
      case Kind::kDirectory:
        EXPECT_TRUE(is_directory(path_)) << path_;
        EXPECT_TRUE(list_dir(path_).empty()) << path_;
        break;
    }
  }

 private:
  std::string path_;
  Kind kind_;
  std::string content_;
  std::string target_;
  int reader_ = -1;
  std::unique_ptr<PtyAdapter> terminal_;
};

// --- control files -------------------------------------------------------------

struct ControlCase {
  const char *name;
  Kind kind;
  std::string outside;  // content of a linked file outside
};

void PrintTo(const ControlCase &c, std::ostream *os) { *os << c.name; }

const ControlCase kControlCases[] = {
    {"fifo", Kind::kFifo, ""},
    {"link_to_a_reset_request", Kind::kLinkToFile, "r\n"},
    {"link_to_a_configuration_string", Kind::kLinkToFile, "1;05;42\n"},
    {"link_to_a_terminal", Kind::kLinkToTerminal, ""},
    {"dangling_link", Kind::kDanglingLink, ""},
    {"directory", Kind::kDirectory, ""},
};

class E2EHostileControl : public ::testing::TestWithParam<ControlCase> {};

// A control file that is not a regular file counts as absent: the device is
// polled bare, cycle after cycle, and the object is left as it was.
TEST_P(E2EHostileControl, IsSkippedLikeAnAbsentFile) {
  const ControlCase &c = GetParam();
  std::unique_ptr<Planted> planted;
  StandInRun run(kOneSensor, kNamedKitchen, {}, "out", "-f", [&](const Scratch &s) {
    planted = std::make_unique<Planted>(s, s.out_file("Kitcheno.txt"), c.kind, c.outside);
  });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.sim->wait_commands([](const auto &v) { return searches_logged(v, 3); },
                                     Ms(15000)))
      << "the logger stopped cycling: " << run.sim->command_texts().size() << " commands";
  EXPECT_TRUE(run.logger->running());
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(head(run.sim->command_texts(), 6),
            (std::vector<std::string>{"$L-", "$?", "$0", "$?", "$0", "$?"}));
  EXPECT_EQ(run.logger->err(), "");
  planted->expect_untouched();
  EXPECT_EQ(read_file(run.s.out_file("Kitchenv.txt")), "21.500\n");
  expect_no_stray_files(run.before, run.s);
}

INSTANTIATE_TEST_SUITE_P(E2EHostileControlTable, E2EHostileControl,
                         ::testing::ValuesIn(kControlCases),
                         [](const ::testing::TestParamInfo<ControlCase> &info) {
                           return std::string(info.param.name);
                         });

// --- output files ----------------------------------------------------------------

struct OutputCase {
  const char *name;
  const char *file;             // name in the output directory, or in the working directory
  bool in_work;                 // the file belongs to the working directory
  Kind kind;
  std::string scenario;
  std::vector<std::string> sim_options;
  const char *options;
  int error;                    // errno whose text the message carries
};

void PrintTo(const OutputCase &c, std::ostream *os) { *os << c.name; }

const std::string kWithS0 = kOneSensor + "s0 10 20\n";
const std::vector<std::string> kBadSums{"--bad-crc-rate", "1"};

const OutputCase kOutputCases[] = {
    {"raw_fifo", "Kitchen.txt", false, Kind::kFifo, kOneSensor, {}, "-f", ENXIO},
    {"raw_fifo_with_reader", "Kitchen.txt", false, Kind::kFifoWithReader, kOneSensor, {}, "-f",
     ENXIO},
    {"raw_link", "Kitchen.txt", false, Kind::kLinkToFile, kOneSensor, {}, "-f", ELOOP},
    {"raw_dangling_link", "Kitchen.txt", false, Kind::kDanglingLink, kOneSensor, {}, "-f", ELOOP},
    {"value_fifo", "Kitchenv.txt", false, Kind::kFifo, kOneSensor, {}, "-f", ENXIO},
    {"value_link", "Kitchenv.txt", false, Kind::kLinkToFile, kOneSensor, {}, "-f", ELOOP},
    {"value_dangling_link", "Kitchenv.txt", false, Kind::kDanglingLink, kOneSensor, {}, "-f",
     ELOOP},
    {"s0_fifo", "S01v.txt", false, Kind::kFifo, kWithS0, {}, "-f", ENXIO},
    {"s0_fifo_with_reader", "S01v.txt", false, Kind::kFifoWithReader, kWithS0, {}, "-f", ENXIO},
    {"s0_link", "S01v.txt", false, Kind::kLinkToFile, kWithS0, {}, "-f", ELOOP},
    {"s0_dangling_link", "S01v.txt", false, Kind::kDanglingLink, kWithS0, {}, "-f", ELOOP},
    {"err_fifo", "err.txt", false, Kind::kFifo, kOneSensor, kBadSums, "-f", ENXIO},
    {"err_link", "err.txt", false, Kind::kLinkToFile, kOneSensor, kBadSums, "-f", ELOOP},
    {"err_dangling_link", "err.txt", false, Kind::kDanglingLink, kOneSensor, kBadSums, "-f",
     ELOOP},
    {"debug_log_fifo", "debug.txt", true, Kind::kFifo, kOneSensor, {}, "-df", ENXIO},
};

class E2EHostileOutput : public ::testing::TestWithParam<OutputCase> {};

// An output file that is a FIFO or a link counts as a file that cannot be
// opened: the logger ends with perror(path) and status 255 and leaves the
// object as it was.
TEST_P(E2EHostileOutput, EndsTheLoggerWithThePathAndLeavesTheObject) {
  const OutputCase &c = GetParam();
  std::unique_ptr<Planted> planted;
  std::string path;
  StandInRun run(c.scenario, kNamedKitchen, c.sim_options, "out", c.options,
                 [&](const Scratch &s) {
                   path = c.in_work ? s.work() + "/" + c.file : s.out_file(c.file);
                   planted = std::make_unique<Planted>(s, path, c.kind);
                 });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.logger->wait_exit(Ms(10000))) << "the logger hangs or goes on";
  EXPECT_EQ(run.logger->exit_code(), 255);
  const std::string shown = c.in_work ? std::string(c.file) : path;
  EXPECT_EQ(run.logger->err(), shown + ": " + std::strerror(c.error) + "\n");
  planted->expect_untouched();
  expect_no_stray_files(run.before, run.s, c.in_work ? std::vector<std::string>{c.file}
                                                     : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(E2EHostileOutputTable, E2EHostileOutput,
                         ::testing::ValuesIn(kOutputCases),
                         [](const ::testing::TestParamInfo<OutputCase> &info) {
                           return std::string(info.param.name);
                         });

// --- the configuration file -------------------------------------------------------

struct ConfigCase {
  const char *name;
  Kind kind;          // what stands at kelvinlog-config.txt
  bool link_to_fifo;  // a link to a FIFO outside instead
  int error;          // 0: the logger runs with the linked configuration
};

void PrintTo(const ConfigCase &c, std::ostream *os) { *os << c.name; }

const ConfigCase kConfigCases[] = {
    {"fifo", Kind::kFifo, false, ENXIO},
    {"link_to_a_fifo", Kind::kLinkToFile, true, ENXIO},
    {"directory", Kind::kDirectory, false, EISDIR},
    {"link_to_a_regular_file", Kind::kLinkToFile, false, 0},
};

class E2EHostileConfig : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(E2EHostileConfig, MustBeARegularFileButMayBeALink) {
  const ConfigCase &c = GetParam();
  const std::string linked = std::string(kKitchen) + ";Linked\n";
  std::unique_ptr<Planted> planted;
  std::string fifo;
  StandInRun run(kOneSensor, "", {}, "out", "-f", [&](const Scratch &s) {
    const std::string config = s.work() + "/kelvinlog-config.txt";
    ASSERT_EQ(unlink(config.c_str()), 0);
    if (c.link_to_fifo) {
      fifo = s.aux("config-fifo");
      ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
      ASSERT_EQ(symlink(fifo.c_str(), config.c_str()), 0);
    } else {
      planted = std::make_unique<Planted>(s, config, c.kind, linked);
    }
  });
  ASSERT_TRUE(run.ok());
  if (c.error == 0) {
    ASSERT_TRUE(run.searches(2, Ms(10000)));
    ASSERT_TRUE(run.logger->terminate());
    EXPECT_NE(run.logger->out().find("idn[0]=Linked\n"), std::string::npos);
    EXPECT_EQ(read_file(run.s.out_file("Linkedv.txt")), "21.500\n");
    EXPECT_EQ(run.logger->err(), "");
  } else {
    ASSERT_TRUE(run.logger->wait_exit(Ms(10000))) << "the load step hangs";
    EXPECT_EQ(run.logger->exit_code(), 255);
    EXPECT_EQ(run.logger->err(), std::string("kelvinlog-config.txt: ") + std::strerror(c.error) +
                                     "\n");
    EXPECT_EQ(run.logger->out(), "start kelvinlog v1.01\r\no$L-\n");
    EXPECT_TRUE(list_dir(run.s.out()).empty());
  }
  if (planted) {
    planted->expect_untouched();
  }
  if (!fifo.empty()) {
    EXPECT_TRUE(is_fifo(fifo));
  }
  expect_no_stray_files(run.before, run.s);
}

INSTANTIATE_TEST_SUITE_P(E2EHostileConfigTable, E2EHostileConfig,
                         ::testing::ValuesIn(kConfigCases),
                         [](const ::testing::TestParamInfo<ConfigCase> &info) {
                           return std::string(info.param.name);
                         });

// --- closed standard streams ------------------------------------------------------

// Starts the logger through /bin/sh with `script`, which ends in an exec of
// "$0" "$@" (the logger and its arguments) with its own redirections.
std::unique_ptr<Process> start_through_shell(const std::string &script,
                                             const std::vector<std::string> &args,
                                             const std::string &cwd) {
  if (args.size() < 3 || args[2].find('f') == std::string::npos) {
    ADD_FAILURE() << "a logger started through the shell needs 'f' in its third argument";
    return nullptr;
  }
  std::vector<std::string> argv{"/bin/sh", "-c", script, logger_bin()};
  argv.insert(argv.end(), args.begin(), args.end());
  auto proc = std::make_unique<Process>(argv, plain_env(), cwd);
  if (!proc->started()) return nullptr;
  return proc;
}

struct StreamCase {
  const char *name;
  const char *script;
  bool missing_outdir;  // the first data line ends the logger with a perror message
};

void PrintTo(const StreamCase &c, std::ostream *os) { *os << c.name; }

const StreamCase kStreamCases[] = {
    {"stdout_closed", "exec \"$0\" \"$@\" >&-", false},
    {"stderr_closed", "exec \"$0\" \"$@\" 2>&-", true},
    {"all_three_closed", "exec \"$0\" \"$@\" <&- >&- 2>&-", false},
};

class E2EClosedStreams : public ::testing::TestWithParam<StreamCase> {};

// Only commands reach the adapter: no echo, no configuration text (whose
// "$res" line would otherwise reset the bus), no error message.
TEST_P(E2EClosedStreams, AdapterReceivesCommandsOnly) {
  const StreamCase &c = GetParam();
  Scratch s;
  s.write_config("$res\n" + std::string(kKitchen) + ";Kitchen\n");
  PtyAdapter adapter;
  const Footprint before = take_footprint(s);
  const std::string outdir = c.missing_outdir ? s.work() + "/missing" : s.out();
  auto logger = start_through_shell(c.script, {adapter.slave_path(), outdir, "-f"}, s.work());
  ASSERT_TRUE(logger);
  ASSERT_TRUE(adapter.wait_for("$?\n", Ms(5000))) << adapter.received();
  adapter.send(std::string("0;o;") + kKitchen + "\n");
  ASSERT_TRUE(adapter.wait_for("$0\n", Ms(5000))) << adapter.received();
  adapter.send("0;o;58 01 4B 46 7F FF 0C 10 1C A0 00\n");
  if (c.missing_outdir) {
    ASSERT_TRUE(logger->wait_exit(Ms(5000)));
    EXPECT_EQ(logger->exit_code(), 255);
    EXPECT_FALSE(adapter.wait_lines(4, Ms(100))) << "more than the three commands";
  } else {
    ASSERT_TRUE(adapter.wait_for("$?\n", Ms(5000), 2)) << adapter.received();
    EXPECT_TRUE(logger->running());
    ASSERT_TRUE(logger->terminate());
    EXPECT_EQ(read_file(s.out_file("Kitchenv.txt")), "21.500\n");
  }
  const auto &lines = adapter.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "$L-");
  EXPECT_EQ(lines[1].text, "$?");
  EXPECT_EQ(lines[2].text, "$0");
  for (std::size_t i = 3; i < lines.size(); ++i) EXPECT_EQ(lines[i].text, "$?") << i;
  EXPECT_EQ(count_of(adapter.received(), "\n"), static_cast<int>(lines.size()))
      << "bytes after the last command: " << adapter.received();
  expect_no_stray_files(before, s);
}

INSTANTIATE_TEST_SUITE_P(E2EClosedStreamsTable, E2EClosedStreams,
                         ::testing::ValuesIn(kStreamCases),
                         [](const ::testing::TestParamInfo<StreamCase> &info) {
                           return std::string(info.param.name);
                         });

// --- names that are no file names ----------------------------------------------

struct NameCase {
  const char *name;
  std::string scenario;
  std::string config;
  std::vector<std::string> status;  // printed once in every cycle
  std::set<std::string> files;      // the output directory afterwards, err.txt aside
  std::map<std::string, std::string> values;
  int names = 0;  // names echoed ("idn[") in every cycle
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

const std::string kIdFiles[] = {std::string(kKitchen) + ".txt", std::string(kKitchen) + "v.txt"};

std::string refused(const std::string &name) {
  return "name \"" + name + "\" of " + kKitchen +
         " refused as a file name, the id is used instead\n";
}
// Two sensors, the Kitchen of the one-sensor scenario first: the second is
// entry 1, named first, and keeps a name that both share.
constexpr char kCellar[] = "28FF4A1B02170313";
const std::string kTwoSensors = kOneSensor + "device " + kCellar + " temp28 19.0\n";
std::string clashes(const std::string &name) {
  return "name \"" + name + "\" of " + kKitchen +
         " refused as a file name, it clashes with the files of " + kCellar +
         ", the id is used instead\n";
}
NameCase clash_case(const char *what, const std::string &first, const std::string &second,
                    const std::string &label) {
  return {what, kTwoSensors, std::string(kKitchen) + ";" + first + "\n" + kCellar + ";" + second + "\n",
          {clashes(label)}, {kIdFiles[0], kIdFiles[1], label + ".txt", label + "v.txt"},
          {{kIdFiles[1], "21.500\n"}, {label + "v.txt", "19.000\n"}}, 1};
}

std::string refused_s0(const std::string &name, const std::string &key) {
  return "S0 name \"" + name + "\" of " + key +
         " refused as a file name, the key is used instead\n";
}

const NameCase kNameCases[] = {
    {"slash_inside", kOneSensor, std::string(kKitchen) + ";Temp in/out\n",
     {refused("Temp in/out")}, {kIdFiles[0], kIdFiles[1]}, {{kIdFiles[1], "21.500\n"}}},
    {"leading_dot_dot", kOneSensor, std::string(kKitchen) + ";../escape\n",
     {refused("../escape")}, {kIdFiles[0], kIdFiles[1]}, {{kIdFiles[1], "21.500\n"}}},
    {"the_error_log", kOneSensor, std::string(kKitchen) + ";err\n",
     {refused("err")}, {kIdFiles[0], kIdFiles[1]}, {{kIdFiles[1], "21.500\n"}}},
    {"s0_names", kWithS0, "S01;../S0up;800\nS02;Heat/pump;1000\n",
     {refused_s0("../S0up", "S01"), refused_s0("Heat/pump", "S02")},
     {kIdFiles[0], kIdFiles[1], "S01v.txt", "S02v.txt"},
     {{"S01v.txt", "12\n"}, {"S02v.txt", "20\n"}}},
    clash_case("the_same_name_twice", "Kitchen", "Kitchen", "Kitchen"),
    clash_case("bytes_from_0x80_end_a_name", "K\xc3\xbc" "che", "K\xc3\xb6" "che", "K"),
    clash_case("sixteen_characters_alike", "Temperature sens1", "Temperature sens2",
               "Temperature sens"),
};

class E2EHostileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(E2EHostileNames, AreRefusedAndTheIdNamesTheFiles) {
  const NameCase &c = GetParam();
  StandInRun run(c.scenario, c.config, {}, "out", "-f",
                 [](const Scratch &s) { write_file(s.out_file("err.txt"), kEarlierContent); });
  ASSERT_TRUE(run.ok());
  ASSERT_TRUE(run.searches(3, Ms(15000))) << run.logger->err();
  EXPECT_TRUE(run.logger->running());
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(run.logger->err(), "");
  const auto cycles = cycles_of(run.logger->out());
  ASSERT_GE(cycles.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) {
    for (const std::string &line : c.status) {
      EXPECT_EQ(count_of(cycles[k], line), 1) << "cycle " << k + 1 << ": " << line;
    }
    EXPECT_EQ(count_of(cycles[k], "idn["), c.names) << cycles[k];
  }
  std::set<std::string> files = c.files;
  files.insert("err.txt");
  const auto listed = list_dir(run.s.out());
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), files);
  EXPECT_EQ(read_file(run.s.out_file("err.txt")), kEarlierContent);
  for (const auto &v : c.values) EXPECT_EQ(read_file(run.s.out_file(v.first)), v.second);
  expect_no_stray_files(run.before, run.s);
}

INSTANTIATE_TEST_SUITE_P(E2EHostileNamesTable, E2EHostileNames, ::testing::ValuesIn(kNameCases),
                         [](const ::testing::TestParamInfo<NameCase> &info) {
                           return std::string(info.param.name);
                         });

// A bus search answer whose ROM id is "err" would make the error log its raw file.
TEST(E2EHostileIds, AnswerWithTheIdErrIsIgnored) {
  Scratch s;
  s.write_config("");
  write_file(s.out_file("err.txt"), kEarlierContent);
  PtyAdapter adapter;
  const Footprint before = take_footprint(s);
  auto logger = start_logger({adapter.slave_path(), s.out(), "-f"}, s.work());
  ASSERT_TRUE(logger);
  ASSERT_TRUE(adapter.wait_for("$?\n", Ms(5000)));
  adapter.send("0;o;err;\n");
  ASSERT_TRUE(logger->wait_for("bus search answer ignored: ROM id is \"err\"\n", Ms(5000)));
  ASSERT_TRUE(adapter.wait_for("$?\n", Ms(5000), 2));
  EXPECT_TRUE(logger->running());
  ASSERT_TRUE(logger->terminate());
  EXPECT_EQ(count_of(adapter.received(), "$0"), 0) << "the entry was polled";
  EXPECT_EQ(list_dir(s.out()), std::vector<std::string>{"err.txt"});
  EXPECT_EQ(read_file(s.out_file("err.txt")), kEarlierContent);
  expect_no_stray_files(before, s);
}

// --- writes that fail -----------------------------------------------------------

struct WriteErrorCase {
  const char *name;
  const char *script;   // sets the file-size limit, then execs the logger
  std::string control;  // control file of the sensor; empty: none
  std::string status;   // "<n> file writes failed ..., first <file>: " in every cycle
  std::set<std::string> files;
};

void PrintTo(const WriteErrorCase &c, std::ostream *os) { *os << c.name; }

const WriteErrorCase kWriteErrorCases[] = {
    // The launcher ignores SIGXFSZ: every write fails with EFBIG.
    {"launcher_ignores_sigxfsz", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"", "",
     "2 file writes failed in this cycle, first OUT/Kitchen.txt: File too large\n",
     {"Kitchen.txt", "Kitchenv.txt"}},
    // The signal's default would end the logger at its first write; the
    // control file's rewrite counts, and a failed one leaves the file whole.
    {"default_sigxfsz_and_a_rewrite", "ulimit -f 0; exec \"$0\" \"$@\"", "1;05;42\n",
     "3 file writes failed in this cycle, first OUT/Kitcheno.txt: File too large\n",
     {"Kitcheno.txt", "Kitchene.txt", "Kitchenv.txt"}},
};

class E2EWriteErrors : public ::testing::TestWithParam<WriteErrorCase> {};

TEST_P(E2EWriteErrors, AreCountedAndReportedOncePerCycle) {
  const WriteErrorCase &c = GetParam();
  StandInRun run(kOneSensor, kNamedKitchen, {}, "", "-f", [&](const Scratch &s) {
    if (!c.control.empty()) write_file(s.out_file("Kitcheno.txt"), c.control);
  });
  ASSERT_TRUE(run.sim && run.sim->ok());
  run.logger = start_through_shell(c.script, {run.sim->link(), run.s.out(), "-f"}, run.s.work());
  ASSERT_TRUE(run.logger);
  ASSERT_TRUE(run.searches(4, Ms(15000))) << run.logger->err();
  EXPECT_TRUE(run.logger->running());
  ASSERT_TRUE(run.logger->terminate());
  EXPECT_EQ(run.logger->err(), "");
  std::string status = c.status;
  status.replace(status.find("OUT"), 3, run.s.out());
  // Cycle k's line is printed as cycle k + 1 begins, before its search.
  const auto cycles = cycles_of(run.logger->out());
  ASSERT_GE(cycles.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(count_of(cycles[k], " file writes failed in this cycle"), 1) << cycles[k];
    EXPECT_EQ(count_of(cycles[k], status), 1) << cycles[k];
  }
  // The files stay as the failed writes left them.
  const auto listed = list_dir(run.s.out());
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), c.files);
  for (const std::string &name : c.files) {
    const std::string expected = name == "Kitcheno.txt" ? c.control : "";
    EXPECT_EQ(read_file(run.s.out_file(name)), expected) << name;
  }
  expect_no_stray_files(run.before, run.s);
}

INSTANTIATE_TEST_SUITE_P(E2EWriteErrorsTable, E2EWriteErrors,
                         ::testing::ValuesIn(kWriteErrorCases),
                         [](const ::testing::TestParamInfo<WriteErrorCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
