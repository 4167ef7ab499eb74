// Whole-process test harness: spawning, output capture, pseudo-terminal, stand-in.
#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kStubMarker = "# e2e-stub";
constexpr std::size_t kReadChunk = 4096;

int ms_left(SteadyTime deadline) {
  const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string test_stem() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string stem = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                     : std::string("e2e");
  for (char &c : stem) {
    if (c == '/') c = '_';
  }
  return stem.substr(0, 60);
}

std::vector<char *> c_strings(const std::vector<std::string> &v) {
  std::vector<char *> out;
  out.reserve(v.size() + 1);
  for (const std::string &s : v) out.push_back(const_cast<char *>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

bool is_stub(const std::string &path) {
  return read_file(path, "").find(kStubMarker) != std::string::npos &&
         access(path.c_str(), X_OK) == 0;
}

// The first directory of the environment's PATH.
std::string first_path_dir(const std::vector<std::string> &env) {
  for (const std::string &e : env) {
    if (e.rfind("PATH=", 0) == 0) return e.substr(5, e.find(':') == std::string::npos
                                                         ? std::string::npos
                                                         : e.find(':') - 5);
  }
  return "";
}

// Reads one chunk from `fd` into `buf`; closes it (fd = -1) at end of file.
void read_into(int &fd, std::string &buf) {
  std::array<char, kReadChunk> chunk{};
  const ssize_t n = read(fd, chunk.data(), chunk.size());
  if (n > 0) {
    buf.append(chunk.data(), static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    close(fd);
    fd = -1;
  }
}

}  // namespace

std::string logger_bin() { return KELVINLOG_BIN; }

std::string sim_bin() {
#ifdef ADAPTER_SIM_BIN
  return ADAPTER_SIM_BIN;
#else
  return "";
#endif
}

std::string scenario_dir() { return E2E_SCENARIO_DIR; }

// --- scratch tree ----------------------------------------------------------

Scratch::Scratch(bool make_outdir) {
  testsupport::make_dirs(E2E_SCRATCH_DIR);
  std::string templ = std::string(E2E_SCRATCH_DIR) + "/" + test_stem() + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp " << templ << ": " << std::strerror(errno);
    return;
  }
  root_ = buf.data();
  mkdir(work().c_str(), 0755);
  mkdir((root_ + "/aux").c_str(), 0755);
  if (make_outdir) mkdir(out().c_str(), 0755);
}

Scratch::~Scratch() {
  if (root_.empty() || getenv("E2E_KEEP") != nullptr) return;
  testsupport::remove_tree(root_);
}

void Scratch::write_config(const std::string &text) const {
  replace_file(work() + "/kelvinlog-config.txt", text);
}

Footprint take_footprint(const Scratch &s) {
  return Footprint{list_dir(s.root()), list_dir(s.root() + "/aux"), list_dir("/tmp")};
}

void expect_no_stray_files(const Footprint &before, const Scratch &s,
                           const std::vector<std::string> &extra_work) {
  const Footprint after = take_footprint(s);
  EXPECT_EQ(before.root, after.root) << "files appeared beside the working directory";
  EXPECT_EQ(before.aux, after.aux) << "files appeared in the test's own directory";
  for (const std::string &name : after.tmp) {
    if (std::binary_search(before.tmp.begin(), before.tmp.end(), name)) continue;
    const bool suspicious =
        name == "kelvinlog-tmp" ||
        (name.size() >= 4 && name.compare(name.size() - 4, 4, ".txt") == 0);
    EXPECT_FALSE(suspicious) << "new file in /tmp: " << name;
  }
  std::vector<std::string> allowed{"kelvinlog-config.txt", "out"};
  allowed.insert(allowed.end(), extra_work.begin(), extra_work.end());
  for (const std::string &name : list_dir(s.work())) {
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end())
        << "unexpected file in the working directory: " << name;
  }
}

// --- child processes -------------------------------------------------------

Process::Process(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                 const std::string &cwd, const char *stdout_path) {
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return;
  }
  std::vector<char *> c_argv = c_strings(argv);
  std::vector<char *> c_env = c_strings(env);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls from here on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    const int out = stdout_path != nullptr ? open(stdout_path, O_WRONLY) : out_pipe[1];
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err_pipe[1], 2) < 0) {
      _exit(127);
    }
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(c_argv[0], c_argv.data(), c_env.data());
    _exit(127);
  }
  pid_ = pid;
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  fcntl(out_fd_, F_SETFL, O_NONBLOCK);
  fcntl(err_fd_, F_SETFL, O_NONBLOCK);
}

Process::~Process() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    reap(true);
  }
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

void Process::reap(bool block) {
  if (pid_ <= 0 || ended_) return;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (r != pid_) return;
  ended_ = true;
  if (WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) term_signal_ = WTERMSIG(status);
}

void Process::pump(Ms timeout) {
  std::array<pollfd, 2> fds{};
  nfds_t n = 0;
  if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
  if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
  const int wait = static_cast<int>(timeout.count());
  if (n == 0) {
    poll(nullptr, 0, std::min(wait, 10));
    return;
  }
  if (poll(fds.data(), n, wait) <= 0) return;
  for (nfds_t i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    if (fds[i].fd == out_fd_) {
      read_into(out_fd_, out_);
    } else {
      read_into(err_fd_, err_);
    }
  }
}

bool Process::wait_for(const std::string &text, Ms timeout, int times, Stream s) {
  const SteadyTime deadline = Clock::now() + timeout;
  const std::string &buf = s == Stream::kOut ? out_ : err_;
  for (;;) {
    if (count_of(buf, text) >= times) return true;
    const int fd = s == Stream::kOut ? out_fd_ : err_fd_;
    if (fd < 0 || Clock::now() >= deadline) return false;
    pump(Ms(std::min(ms_left(deadline), 100)));
  }
}

bool Process::wait_exit(Ms timeout) {
  const SteadyTime deadline = Clock::now() + timeout;
  for (;;) {
    reap(false);
    if (ended_ && !pipes_open()) return true;
    if (Clock::now() >= deadline) return ended_;
    pump(Ms(std::min(ms_left(deadline), 20)));
  }
}

bool Process::running() {
  reap(false);
  return pid_ > 0 && !ended_;
}

void Process::signal(int sig) {
  reap(false);
  if (pid_ > 0 && !ended_) kill(pid_, sig);
}

bool Process::terminate(Ms timeout) {
  signal(SIGTERM);
  return wait_exit(timeout);
}

std::vector<std::string> plain_env() { return {"PATH=/usr/bin:/bin"}; }

std::unique_ptr<Process> start_logger(const std::vector<std::string> &args,
                                      const std::string &cwd,
                                      const std::vector<std::string> &env,
                                      const char *stdout_path) {
  const bool guard_off = args.size() >= 3 && args[2].find('f') != std::string::npos;
  if (!guard_off) {
    const std::string dir = first_path_dir(env);
    if (dir.empty() || !is_stub(dir + "/killall") || !is_stub(dir + "/ps") ||
        !is_stub(dir + "/rm")) {
      ADD_FAILURE() << "refusing to start the logger without 'f' in its third argument "
                       "and without the stub directory first on PATH";
      return nullptr;
    }
  }
  std::vector<std::string> argv{logger_bin()};
  argv.insert(argv.end(), args.begin(), args.end());
  auto proc = std::make_unique<Process>(argv, env, cwd, stdout_path);
  if (!proc->started()) return nullptr;
  return proc;
}

StubBin::StubBin(const Scratch &s)
    : dir_(s.aux("bin")),
      list_(s.aux("ps-list.txt")),
      record_(s.aux("killall-record.txt")),
      calls_(s.aux("stub-calls.txt")) {
  mkdir(dir_.c_str(), 0755);
  set_process_list("");
  write_script(dir_ + "/ps", std::string("#!/bin/sh\n") + kStubMarker +
                                 ": prints the process list the test chose\n"
                                 "echo \"ps $*\" >> '" + calls_ + "'\n"
                                 "cat '" + list_ + "'\n");
  write_script(dir_ + "/killall", std::string("#!/bin/sh\n") + kStubMarker +
                                      ": records its arguments and kills nothing\n"
                                      "echo \"killall $*\" >> '" + calls_ + "'\n"
                                      "echo \"$*\" >> '" + record_ + "'\n");
  write_script(dir_ + "/rm", std::string("#!/bin/sh\n") + kStubMarker +
                                 ": records and removes\n"
                                 "echo \"rm $*\" >> '" + calls_ + "'\n"
                                 "exec /bin/rm \"$@\"\n");
}

void StubBin::set_process_list(const std::string &text) const { write_file(list_, text); }

std::vector<std::string> StubBin::env() const { return {"PATH=" + dir_ + ":/usr/bin:/bin"}; }

// --- the adapter's side of the line ----------------------------------------

PtyAdapter::PtyAdapter() {
  if (!pty_.ok()) return;
  slave_ = open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) ADD_FAILURE() << "open " << pty_.slave_path() << ": " << std::strerror(errno);
}

PtyAdapter::~PtyAdapter() { unplug(); }

void PtyAdapter::unplug() {
  pty_.close_master();
  if (slave_ >= 0) close(slave_);
  slave_ = -1;
}

void PtyAdapter::read_some(Ms timeout) {
  if (pty_.master() < 0) {
    poll(nullptr, 0, static_cast<int>(std::min<long>(timeout.count(), 10)));
    return;
  }
  pollfd p{pty_.master(), POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0 || (p.revents & POLLIN) == 0) {
    if (p.revents != 0) poll(nullptr, 0, 5);  // hang-up or error: do not spin
    return;
  }
  std::array<char, kReadChunk> chunk{};
  const ssize_t n = read(pty_.master(), chunk.data(), chunk.size());
  if (n <= 0) return;
  const SteadyTime now = Clock::now();
  for (ssize_t i = 0; i < n; ++i) {
    const char c = chunk[static_cast<std::size_t>(i)];
    received_ += c;
    if (c == '\n') {
      lines_.push_back(Line{now, partial_});
      partial_.clear();
    } else {
      partial_ += c;
    }
  }
}

bool PtyAdapter::wait_for(const std::string &text, Ms timeout, int times) {
  const SteadyTime deadline = Clock::now() + timeout;
  while (count_of(received_, text) < times) {
    if (Clock::now() >= deadline) return false;
    read_some(Ms(std::min(ms_left(deadline), 100)));
  }
  return true;
}

bool PtyAdapter::wait_lines(std::size_t n, Ms timeout) {
  const SteadyTime deadline = Clock::now() + timeout;
  while (lines_.size() < n) {
    if (Clock::now() >= deadline) return false;
    read_some(Ms(std::min(ms_left(deadline), 100)));
  }
  return true;
}

// --- the stand-in ------------------------------------------------------------

StandIn::StandIn(const Scratch &s, const std::vector<std::string> &options)
    : link_(s.aux("tty")), log_(s.aux("commands.log")) {
  if (sim_bin().empty()) {
    ADD_FAILURE() << "the stand-in is not built";
    return;
  }
  std::vector<std::string> argv{sim_bin(), "--link", link_, "--log", log_};
  argv.insert(argv.end(), options.begin(), options.end());
  proc_ = std::make_unique<Process>(argv, plain_env(), s.root() + "/aux");
  ok_ = proc_->started() && proc_->wait_for("adapter-sim: ready ", Ms(5000));
  if (!ok_) ADD_FAILURE() << "stand-in not ready: " << proc_->out() << proc_->err();
}

std::vector<LoggedCommand> StandIn::commands() const {
  std::vector<LoggedCommand> out;
  for (const std::string &line : split_lines(read_file(log_, ""))) {
    const std::size_t sp = line.find(' ');
    if (sp == std::string::npos) continue;
    LoggedCommand c;
    c.epoch = std::strtod(line.substr(0, sp).c_str(), nullptr);
    c.text = line.substr(sp + 1);
    out.push_back(c);
  }
  return out;
}

std::vector<std::string> StandIn::command_texts() const {
  std::vector<std::string> texts;
  for (const LoggedCommand &c : commands()) texts.push_back(c.text);
  return texts;
}

bool StandIn::wait_commands(const std::function<bool(const std::vector<std::string> &)> &pred,
                            Ms timeout) const {
  const SteadyTime deadline = Clock::now() + timeout;
  for (;;) {
    if (pred(command_texts())) return true;
    if (Clock::now() >= deadline) return false;
    poll(nullptr, 0, 20);
  }
}

std::string write_scenario(const Scratch &s, const std::string &text) {
  const std::string path = s.aux("scenario.txt");
  write_file(path, text);
  return path;
}

}  // namespace e2e
