// Poll command and control file: suffixes, rewrites, configuration writes, timesync, re-poll limit.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine_fixture.h"
#include "engine/poll.h"

namespace enginetest {
namespace {

using testsupport::FakeClock;
using PollTest = EngineTest;

struct ControlCase {
  const char *what;
  bool present;       // the control file exists
  std::string text;   // its content
  int eep_before;
  std::string command;     // command sent for entry 5
  std::string file_after;  // "<missing>" when there is none
  int reset_pending;
  int eep_after;
  std::string write_log;
  bool malformed;  // the status line about a control character is printed
};

TEST_F(PollTest, ControlTextShapesTheCommand) {
  const std::string ignored(40, 'x');
  const ControlCase cases[] = {
      {"reset request", true, "r\n", EEP_NONE, "$5\n", "0\n", 1, EEP_NONE, "", false},
      {"switch on", true, "1\n", EEP_NONE, "$5;11\n", "1\n", 0, EEP_NONE, "", false},
      {"lone 1", true, "1", EEP_NONE, "$5;11\n", "1", 0, EEP_NONE, "", false},
      {"0", true, "0\n", EEP_NONE, "$5;00\n", "0\n", 0, EEP_NONE, "", false},
      {"x", true, "x\n", EEP_NONE, "$5;00\n", "x\n", 0, EEP_NONE, "", false},
      {"blank", true, " \n", EEP_NONE, "$5;00\n", " \n", 0, EEP_NONE, "", false},
      {"upper-case R", true, "R\n", EEP_NONE, "$5;00\n", "R\n", 0, EEP_NONE, "", false},
      {"line end", true, "\n", EEP_NONE, "$5;00\n", "\n", 0, EEP_NONE, "", false},
      {"empty file", true, "", EEP_NONE, "$5;00\n", "", 0, EEP_NONE, "", false},
      {"longer than 32", true, "1" + ignored, EEP_NONE, "$5;11\n", "1" + ignored, 0, EEP_NONE, "",
       false},
      {"configuration write", true, "1;05;42\n", EEP_NONE, "$5;1;05;42\n", "1\n", 0, 5, "1;05;42",
       false},
      {"configuration write with reset", true, "r;05;42\n", EEP_NONE, "$5;r;05;42\n", "r\n", 0, 5,
       "r;05;42", false},
      {"long configuration text", true, "0;12;34" + ignored + "\n", EEP_NONE, "$5;0;12;34\n", "0\n",
       0, 5, "0;12;34", false},
      {"5th character not ';'", true, "1;05,42\n", EEP_NONE, "$5\n", "1;05,42\n", 0, EEP_NONE, "",
       false},
      {"2nd ';' and nothing more", true, "1;\n", EEP_NONE, "$5\n", "1;\n", 0, EEP_NONE, "", false},
      {"write already done this cycle", true, "1;05;42\n", EEP_DONE, "$5\n", "1;05;42\n", 0,
       EEP_DONE, "", false},
      {"too short", true, "1;05;4", EEP_NONE, "$5\n", "1;05;4", 0, EEP_NONE, "", false},
      {"line end inside", true, "1;05;4\n", EEP_NONE, "$5\n", "1;05;4\n", 0, EEP_NONE, "", true},
      {"carriage return inside", true, "1;0\r;42\n", EEP_NONE, "$5\n", "1;0\r;42\n", 0, EEP_NONE, "",
       true},
      {"byte 0x80", true, "1;05;4\x80\n", EEP_NONE, "$5\n", "1;05;4\x80\n", 0, EEP_NONE, "", true},
      {"byte 0xFF", true, "1;\xff" "5;42", EEP_NONE, "$5\n", "1;\xff" "5;42", 0, EEP_NONE, "", true},
      {"no control file", false, "", EEP_NONE, "$5\n", "<missing>", 0, EEP_NONE, "", false},
  };
  const std::string id = sensor_id(5);
  const std::string control = id + "o.txt";
  for (const ControlCase &c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::prepare_context(ctx(), out_.path(), pty_.slave());
    fill_table(8, 6);
    ctx()->eep = c.eep_before;
    std::remove(out_file(control).c_str());
    if (c.present) testsupport::write_file(out_file(control), c.text);
    take_stdout();

    issue_poll(ctx());

    EXPECT_EQ(ctx()->idi, 5);
    EXPECT_EQ(ctx()->rxz, 0);
    EXPECT_EQ(std::string(ctx()->line.data()), c.command);
    EXPECT_EQ(read_out(control), c.file_after);
    EXPECT_EQ(ctx()->reset_pending, c.reset_pending);
    EXPECT_EQ(ctx()->eep, c.eep_after);
    EXPECT_EQ(std::string(ctx()->write_log.data()), c.write_log);
    std::string expected;
    if (c.malformed) {
      expected += "control file " + out_file(control) +
                  ": configuration string holds a control character, not sent\n";
    }
    if (c.eep_after == 5) {
      expected += "o" + c.command + " id=" + id + " eep=5, idi=5, state=2, rxz=0 blingo\n";
    }
    expected += "o" + c.command;
    EXPECT_EQ(take_stdout(), expected);
  }
}

// Another program may put anything at a control file's name: whatever is not a
// regular file counts as absent, is neither read nor written, the poll is
// bare, and it is said once.
struct HostileControlCase {
  const char *name;
  int kind;              // 0 FIFO, 1 link to a file outside, 2 directory
  const char *outside;   // content of the linked file
};

void PrintTo(const HostileControlCase &c, std::ostream *os) { *os << c.name; }

const HostileControlCase kHostileControls[] = {
    {"fifo", 0, ""},
    {"link_to_a_reset_request", 1, "r\n"},
    {"link_to_a_configuration_string", 1, "1;05;42\n"},
    {"link_to_a_switch", 1, "1\n"},
    {"directory", 2, ""},
};

class HostileControl : public PollTest,
                       public ::testing::WithParamInterface<HostileControlCase> {};

TEST_P(HostileControl, CountsAsAbsent) {
  const HostileControlCase &c = GetParam();
  const std::string control = out_file(sensor_id(5) + "o.txt");
  const std::string outside = work_.file("outside.txt");
  switch (c.kind) {
    case 0: ASSERT_EQ(mkfifo(control.c_str(), 0600), 0); break;
    case 1:
      testsupport::write_file(outside, c.outside);
      ASSERT_EQ(symlink(outside.c_str(), control.c_str()), 0);
      break;
    default: ASSERT_EQ(mkdir(control.c_str(), 0700), 0); break;
  }
  take_stdout();
  alarm(10);  // a read that blocks ends the test instead of hanging it
  for (int cycle = 0; cycle < 2; ++cycle) {
    fill_table(8, 6);
    issue_poll(ctx());
  }
  alarm(0);
  EXPECT_EQ(occurrences(take_stdout(), "control file " + control +
                                           ": cannot be read (not a regular file), taken as "
                                           "absent\n"),
            1);
  EXPECT_EQ(std::string(ctx()->line.data()), "$5\n");
  EXPECT_EQ(ctx()->reset_pending, 0);
  EXPECT_EQ(ctx()->eep, EEP_NONE);
  struct stat st {};
  ASSERT_EQ(lstat(control.c_str(), &st), 0);
  EXPECT_EQ(c.kind == 0, S_ISFIFO(st.st_mode));
  EXPECT_EQ(c.kind == 1, S_ISLNK(st.st_mode));
  if (c.kind == 1) {
    EXPECT_EQ(testsupport::read_file(outside), c.outside);
  }
}

INSTANTIATE_TEST_SUITE_P(Objects, HostileControl, ::testing::ValuesIn(kHostileControls),
                         [](const ::testing::TestParamInfo<HostileControlCase> &info) {
                           return std::string(info.param.name);
                         });

// A rewrite that fails leaves the control file as it was and is counted: the
// request then stands, as for a file that cannot be rewritten at all.
TEST_F(PollTest, FailedRewriteLeavesTheFileAndIsCounted) {
  SKIP_UNLESS_FORK_WORKS();
  const struct {
    const char *text;
    const char *command;
  } cases[] = {{"r\n", "$5\n"}, {"1;05;42\n", "$5;1;05;42\n"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    testsupport::prepare_context(ctx(), out_.path(), pty_.slave());
    fill_table(8, 6);
    const std::string control = sensor_id(5) + "o.txt";
    testsupport::write_file(out_file(control), c.text);
    const std::string path = out_file(control);
    EXPECT_EXIT(
        {
          std::signal(SIGXFSZ, SIG_IGN);
          rlimit limit{};
          getrlimit(RLIMIT_FSIZE, &limit);
          const rlim_t before = limit.rlim_cur;
          limit.rlim_cur = 0;  // every write fails with EFBIG
          setrlimit(RLIMIT_FSIZE, &limit);
          issue_poll(ctx());
          limit.rlim_cur = before;
          setrlimit(RLIMIT_FSIZE, &limit);
          const bool right = std::string(ctx()->line.data()) == c.command &&
                             ctx()->write_errors == 1 && ctx()->write_errno == EFBIG &&
                             path == ctx()->write_error_path.data();
          std::fprintf(stderr, "counted %u\n", ctx()->write_errors);
          std::exit(right ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "counted 1");
    EXPECT_EQ(read_out(control), c.text);
  }
}

// Root may open any file for writing. While one of these lives, the process
// has the effective uid of "nobody", as the logger has under its own service
// user, and permissions count; a process that is not root is left as it is.
class AsServiceUser {
 public:
  AsServiceUser() : switched_(geteuid() == 0 && seteuid(kNobody) == 0) {}
  ~AsServiceUser() {
    if (switched_ && seteuid(0) != 0) std::abort();  // the rest would run unprivileged
  }
  AsServiceUser(const AsServiceUser &) = delete;
  AsServiceUser &operator=(const AsServiceUser &) = delete;

  // True when permissions can be made to count here.
  static bool possible() {
    if (geteuid() != 0) return true;
    if (seteuid(kNobody) != 0) return false;
    return seteuid(0) == 0;
  }

 private:
  static constexpr uid_t kNobody = 65534;
  bool switched_;
};

#define SKIP_UNLESS_PERMISSIONS_COUNT()                                                   \
  do {                                                                                  \
    if (!AsServiceUser::possible()) {                                                   \
      GTEST_SKIP() << "cannot leave root (seteuid failed)";                            \
    }                                                                                   \
  } while (0)

// A control file of another user (root's mode 644 file in the logger's
// directory, or one on a read-only file system) may be read but not
// rewritten. A switch is applied. A reset request or a configuration string
// is carried out once, said once, and the file is then read as if rewritten,
// until it changes. A file that cannot be read at all is said once.
struct ReadOnlyCase {
  const char *what;
  const char *text;
  mode_t mode;
  const char *commands[3];  // entry 5 in three cycles
  int resets;               // cycles that request a bus reset
  const char *said;         // the one status line after "control file <path>: "
};

TEST_F(PollTest, ReadOnlyControlFileIsAppliedAndSaidOnce) {
  SKIP_UNLESS_PERMISSIONS_COUNT();
  const ReadOnlyCase cases[] = {
      {"switch on", "1\n", 0444, {"$5;11\n", "$5;11\n", "$5;11\n"}, 0, ""},
      {"switch off", "0\n", 0444, {"$5;00\n", "$5;00\n", "$5;00\n"}, 0, ""},
      {"reset", "r\n", 0444, {"$5\n", "$5;00\n", "$5;00\n"}, 1,
       "cannot be rewritten (Permission denied), taken as \"0\" until it changes"},
      {"configuration string", "1;05;42\n", 0444, {"$5;1;05;42\n", "$5;11\n", "$5;11\n"}, 0,
       "cannot be rewritten (Permission denied), taken as \"1\" until it changes"},
      {"configuration string with reset", "r;05;42\n", 0444, {"$5;r;05;42\n", "$5\n", "$5;00\n"},
       1, "cannot be rewritten (Permission denied), taken as \"r\" until it changes"},
      {"unreadable", "1\n", 0, {"$5\n", "$5\n", "$5\n"}, 0,
       "cannot be read (Permission denied), taken as absent"},
  };
  ASSERT_EQ(chmod(out_.path().c_str(), 0755), 0);
  const std::string control = out_file(sensor_id(5) + "o.txt");
  for (const ReadOnlyCase &c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::prepare_context(ctx(), out_.path(), pty_.slave());
    std::remove(control.c_str());
    testsupport::write_file(control, c.text);
    ASSERT_EQ(chmod(control.c_str(), c.mode), 0);
    take_stdout();
    int resets = 0;
    for (const char *command : c.commands) {
      ctx()->eep = EEP_NONE;  // what the load step of each cycle leaves
      ctx()->reset_pending = 0;
      fill_table(8, 6);
      {
        AsServiceUser user;
        issue_poll(ctx());
      }
      EXPECT_EQ(std::string(ctx()->line.data()), command);
      resets += ctx()->reset_pending;
    }
    EXPECT_EQ(resets, c.resets);
    const std::string out = take_stdout();
    EXPECT_EQ(occurrences(out, "control file"), c.said[0] != '\0' ? 1 : 0) << out;
    if (c.said[0] != '\0') {
      EXPECT_NE(out.find("control file " + control + ": " + c.said + "\n"), std::string::npos)
          << out;
    }
    EXPECT_EQ(testsupport::read_file(control), c.text);
  }
}

// The note of a read-only file belongs to its version: a new text is carried
// out (and said) again, and a file that has become writable is rewritten.
TEST_F(PollTest, ReadOnlyControlFileIsReadAfreshWhenItChanges) {
  SKIP_UNLESS_PERMISSIONS_COUNT();
  ASSERT_EQ(chmod(out_.path().c_str(), 0755), 0);
  const std::string control = out_file(sensor_id(5) + "o.txt");
  const struct {
    const char *text;
    mode_t mode;
    const char *command;
    int said;
  } steps[] = {
      {"1;05;42\n", 0444, "$5;1;05;42\n", 1},
      {nullptr, 0, "$5;11\n", 0},               // unchanged
      {"0;05;43\n", 0444, "$5;0;05;43\n", 1},  // another text
      {nullptr, 0, "$5;00\n", 0},
      {nullptr, 0666, "$5;0;05;43\n", 0},  // writable now: sent and rewritten
      {nullptr, 0, "$5;00\n", 0},
  };
  for (const auto &step : steps) {
    SCOPED_TRACE(step.command);
    if (step.text != nullptr) testsupport::write_file(control, step.text);
    if (step.mode != 0) {
      ASSERT_EQ(chmod(control.c_str(), step.mode), 0);
    }
    ctx()->eep = EEP_NONE;
    fill_table(8, 6);
    take_stdout();
    {
      AsServiceUser user;
      issue_poll(ctx());
    }
    EXPECT_EQ(std::string(ctx()->line.data()), step.command);
    EXPECT_EQ(occurrences(take_stdout(), "cannot be rewritten"), step.said);
  }
  EXPECT_EQ(testsupport::read_file(control), "0\n");
}

// Whole cycles as the service user: the configuration string in root's
// file reaches the bus once, and each file's status line comes once.
TEST_F(PollTest, ReadOnlyControlFilesOverWholeCycles) {
  SKIP_UNLESS_PERMISSIONS_COUNT();
  set_config(sensor_id(1) + ";Kitchen\n");
  ASSERT_EQ(chmod(work_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(work_.file("kelvinlog-config.txt").c_str(), 0666), 0);
  ASSERT_EQ(chmod(out_.path().c_str(), 0777), 0);
  const std::string kitchen = out_file("Kitcheno.txt");
  const std::string other = out_file(sensor_id(2) + "o.txt");
  testsupport::write_file(kitchen, "1;05;42\n");
  testsupport::write_file(other, "1\n");
  ASSERT_EQ(chmod(kitchen.c_str(), 0644), 0);
  ASSERT_EQ(chmod(other.c_str(), 0600), 0);
  std::string out;
  {
    AsServiceUser user;
    for (int i = 0; i < 4; ++i) {
      run_cycle({sensor_id(0), sensor_id(1), sensor_id(2)});
      out += take_stdout();
      if (HasFatalFailure()) break;
    }
  }
  // One poll carries the string: its echo and its "blingo" line.
  EXPECT_EQ(occurrences(out, "o$1;1;05;42\n"), 2);
  EXPECT_EQ(occurrences(out, " blingo\n"), 1);
  EXPECT_EQ(occurrences(out, "o$1;11\n"), 3);  // the later cycles poll with the switch
  EXPECT_EQ(occurrences(out, "control file " + kitchen + ": cannot be rewritten"), 1);
  EXPECT_EQ(occurrences(out, "control file " + other + ": cannot be read"), 1);
  EXPECT_EQ(occurrences(out, "control file"), 2);
  EXPECT_EQ(occurrences(read_out("Kitchene.txt"), "1;05;42"), 1);
  EXPECT_EQ(testsupport::read_file(kitchen), "1;05;42\n");
}

TEST_F(PollTest, AfterAConfigurationWriteTheSameEntryIsPolledWithItsSwitch) {
  fill_table(8, 6);
  testsupport::write_file(out_file(sensor_id(5) + "o.txt"), "1;05;42\n");
  issue_poll(ctx());
  ASSERT_EQ(ctx()->eep, 5);
  take_stdout();
  issue_poll(ctx());
  EXPECT_EQ(ctx()->idi, 5);
  EXPECT_EQ(std::string(ctx()->line.data()), "$5;11\n");
  EXPECT_NE(take_stdout().find(" blingo\n"), std::string::npos);
  expect_sent("$5;1;05;42\n$5;11\n");
}

TEST_F(PollTest, ConfigurationWriteWithResetRequestsTheResetNextPoll) {
  fill_table(8, 6);
  testsupport::write_file(out_file(sensor_id(5) + "o.txt"), "r;05;42\n");
  issue_poll(ctx());
  ASSERT_EQ(ctx()->eep, 5);
  EXPECT_EQ(ctx()->reset_pending, 0);
  issue_poll(ctx());
  EXPECT_EQ(std::string(ctx()->line.data()), "$5\n");
  EXPECT_EQ(ctx()->reset_pending, 1);
  EXPECT_EQ(read_out(sensor_id(5) + "o.txt"), "0\n");
}

TEST_F(PollTest, OnlyThe32FirstCharactersAreRead) {
  ctx()->debug = 1;
  fill_table(8, 6);
  const std::string text = "1;05;42ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefgh\n";
  testsupport::write_file(out_file(sensor_id(5) + "o.txt"), text);
  take_stdout();
  issue_poll(ctx());
  EXPECT_NE(take_stdout().find("c64=" + text.substr(0, 32) + ","), std::string::npos);
  EXPECT_EQ(std::string(ctx()->line.data()), "$5;1;05;42\n");
}

TEST_F(PollTest, TimesyncWindowForModules) {
  const std::string id = "28FF4A1B02170312";
  const struct {
    long t;
    const char *control;
    const char *command;
  } cases[] = {
      {360, "1\n", "$3;11\n"}, {361, "1\n", "$3;33\n"}, {420, "1\n", "$3;33\n"},
      {539, "1\n", "$3;33\n"}, {540, "1\n", "$3;11\n"}, {43200, "1\n", "$3;11\n"},
      {0, "1\n", "$3;11\n"},   {360, "0\n", "$3;00\n"}, {361, "0\n", "$3;22\n"},
      {539, "x\n", "$3;22\n"}, {540, "x\n", "$3;00\n"},
  };
  for (const bool module : {true, false}) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(module ? "module" : "sensor") + " t=" + std::to_string(c.t));
      testsupport::prepare_context(ctx(), out_.path(), pty_.slave(),
                                   id + (module ? ";Boiler;QV-HTX\n" : ";Boiler\n"));
      fill_table(5, 4);
      copy_bounded(ctx()->table.ids[3].data(), kIdSize, id.c_str(), kIdMax);
      testsupport::write_file(out_file(id + "o.txt"), c.control);
      FakeClock::now = 19000 * kDay + c.t;
      issue_poll(ctx());
      std::string expected = c.command;
      if (!module) expected.replace(3, 2, c.control[0] == '1' ? "11" : "00");
      EXPECT_EQ(std::string(ctx()->line.data()), expected);
    }
  }
}

TEST_F(PollTest, TimesyncTraceOnlyForModules) {
  const std::string id = "28FF4A1B02170312";
  for (const bool module : {true, false}) {
    testsupport::prepare_context(ctx(), out_.path(), pty_.slave(),
                                 id + (module ? ";Boiler;QV-HTX\n" : ";Boiler\n"));
    ctx()->debug = 1;
    fill_table(5, 4);
    copy_bounded(ctx()->table.ids[3].data(), kIdSize, id.c_str(), kIdMax);
    testsupport::write_file(out_file(id + "o.txt"), "1\n");
    FakeClock::now = 19000 * kDay + 420;
    take_stdout();
    issue_poll(ctx());
    const std::string out = take_stdout();
    EXPECT_EQ(out.find("timesync 420\n") != std::string::npos, module);
    EXPECT_EQ(out.find("timesync") != std::string::npos, module);
  }
}

TEST_F(PollTest, UnansweredConfigurationWriteIsGivenUpAfter10RepeatedPolls) {
  fill_table(8, 6);
  testsupport::write_file(out_file(sensor_id(5) + "o.txt"), "1;05;42\n");
  issue_poll(ctx());
  ASSERT_EQ(ctx()->eep, 5);
  take_stdout();
  for (int i = 0; i < 10; ++i) {
    issue_poll(ctx());
    EXPECT_EQ(std::string(ctx()->line.data()), "$5;11\n") << i;
    EXPECT_EQ(ctx()->eep, 5);
  }
  EXPECT_EQ(take_stdout().find("no answer"), std::string::npos);

  issue_poll(ctx());
  const std::string out = take_stdout();
  EXPECT_NE(out.find("no answer from " + sensor_id(5) +
                     " after 10 repeated polls, configuration write given up\n"),
            std::string::npos);
  EXPECT_EQ(ctx()->eep, EEP_DONE);
  EXPECT_EQ(ctx()->idi, 4);
  EXPECT_EQ(std::string(ctx()->line.data()), "$4\n");
  issue_poll(ctx());
  EXPECT_EQ(std::string(ctx()->line.data()), "$3\n");
  EXPECT_EQ(take_stdout().find("no answer"), std::string::npos);
}

// The count of repeated polls belongs to one configuration write: a write
// answered after a few repeated polls leaves the next write its full ten.
TEST_F(PollTest, EachConfigurationWriteGetsItsOwnTenRepeatedPolls) {
  fill_table(8, 6);
  testsupport::write_file(out_file(sensor_id(5) + "o.txt"), "1;05;42\n");
  issue_poll(ctx());
  ASSERT_EQ(ctx()->eep, 5);
  for (int i = 0; i < 4; ++i) issue_poll(ctx());
  ctx()->eep = EEP_DONE;  // the answer came and its write log was written
  issue_poll(ctx());
  EXPECT_EQ(ctx()->idi, 4);

  load_step(ctx());  // the next cycle
  fill_table(8, 6);
  testsupport::write_file(out_file(sensor_id(5) + "o.txt"), "1;05;43\n");
  issue_poll(ctx());
  ASSERT_EQ(ctx()->eep, 5);
  take_stdout();
  for (int i = 0; i < 10; ++i) {
    issue_poll(ctx());
    EXPECT_EQ(ctx()->eep, 5) << i;
    EXPECT_EQ(ctx()->idi, 5) << i;
  }
  EXPECT_EQ(take_stdout().find("no answer"), std::string::npos);
  issue_poll(ctx());
  EXPECT_EQ(ctx()->eep, EEP_DONE);
  EXPECT_EQ(ctx()->idi, 4);
}

}  // namespace
}  // namespace enginetest
