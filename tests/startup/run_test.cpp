// run as a whole, in a real pseudo-terminal: start-up messages and exit
// codes, signals, terminal modes, the pause after start-up messages.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/pty/pty.h"

namespace {

std::string run_path() {
  return build_dir() + "/bin/run";
}

// Starts run with the assignments on its command line.
void start_run(pty_session &s, std::vector<std::string> args, std::vector<std::string> env = {},
               bool ignore_sigint = false, std::string name = "") {
  pty_options o;
  o.argv = {run_path()};
  if (!name.empty()) {
    // a link under the wanted invocation name
    std::string dir = "/tmp/quillon-name-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    std::string link = dir + "/" + name;
    unlink(link.c_str());
    ASSERT_EQ(symlink(run_path().c_str(), link.c_str()), 0);
    o.argv = {link};
  }
  for (auto &a : args) o.argv.push_back(a);
  o.env = base_env(env);
  o.ignore_sigint = ignore_sigint;
  ASSERT_TRUE(s.start(o));
}

int exit_code(pty_session &s) {
  int st = 0;
  if (!s.wait_exit(15000, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

bool same_modes(const struct termios &a, const struct termios &b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         a.c_cflag == b.c_cflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

TEST(run, memory_limits_end_with_their_messages) {
  {
    pty_session s;
    start_run(s, {"M=65535", "C=1"});
    EXPECT_EQ(exit_code(s), 255);
    EXPECT_NE(s.transcript().find("M+C= PARAMETER TOO LARGE\r\n"), std::string::npos)
        << s.transcript();
  }
  {
    pty_session s;
    start_run(s, {"M=65534", "C=1"});
    EXPECT_EQ(exit_code(s), 255);
    EXPECT_NE(s.transcript().find("CANNOT ALLOCATE MEMORY NEEDED\r\n"), std::string::npos);
  }
}

TEST(run, comes_up_and_quits_with_modes_restored) {
  pty_session s;
  start_run(s, {"P=menu/3", "X", "M=100"});
  ASSERT_TRUE(s.wait_prompt("*", 0, 5000)) << s.transcript();
  // the configured program of unit 3 is looked for in unit3
  EXPECT_NE(s.transcript().find("unit3/menu: FILE NOT FOUND\r\n"), std::string::npos)
      << s.transcript();
  struct termios prog = s.modes();
  EXPECT_EQ(prog.c_oflag, 0u);
  EXPECT_EQ(prog.c_iflag & (ICRNL | INLCR | IGNCR), 0u);
  EXPECT_EQ(prog.c_lflag, 0u);  // no break key: no signals, no echo
  EXPECT_EQ(prog.c_cc[VMIN], 1);
  EXPECT_EQ(prog.c_cc[VTIME], 0);
  s.type("qu\r");
  EXPECT_EQ(exit_code(s), 0);
  struct termios after = s.modes();
  EXPECT_NE(after.c_lflag & ICANON, 0u);
  EXPECT_NE(after.c_oflag & OPOST, 0u);
}

TEST(run, terminate_and_hangup_exit_255_with_modes_restored) {
  for (int sig : {SIGTERM, SIGHUP}) {
    pty_session s;
    start_run(s, {});
    ASSERT_TRUE(s.wait_prompt("*", 0, 5000));
    // the modes the line had before run: read them from a second session
    s.signal(sig);
    EXPECT_EQ(exit_code(s), 255);
    char msg[64];
    std::snprintf(msg, sizeof msg, "\r\nsignal %d received.\r\n", sig);
    EXPECT_NE(s.transcript().find(msg), std::string::npos) << s.transcript();
    EXPECT_NE(s.output().find('\a'), std::string::npos);  // the bell
    pty_session ref;
    pty_options o;
    o.argv = {"/bin/true"};
    o.env = base_env();
    ASSERT_TRUE(ref.start(o));
    int st;
    ref.wait_exit(5000, &st);
    EXPECT_TRUE(same_modes(s.modes(), ref.modes())) << "signal " << sig;
  }
}

// SigIgn and SigCgt of /proc/PID/status, as bit masks
void signal_masks(pid_t pid, unsigned long long *ign, unsigned long long *cgt) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  *ign = *cgt = 0;
  while (std::getline(f, line)) {
    if (line.rfind("SigIgn:", 0) == 0) *ign = std::stoull(line.substr(7), nullptr, 16);
    if (line.rfind("SigCgt:", 0) == 0) *cgt = std::stoull(line.substr(7), nullptr, 16);
  }
}

TEST(run, signal_dispositions) {
  auto bit = [](int sig) { return 1ULL << (sig - 1); };
  {
    pty_session s;
    start_run(s, {});
    ASSERT_TRUE(s.wait_prompt("*", 0, 5000));
    unsigned long long ign, cgt;
    signal_masks(s.pid(), &ign, &cgt);
    EXPECT_TRUE(cgt & bit(SIGINT));
    EXPECT_TRUE(cgt & bit(SIGTERM));
    EXPECT_TRUE(cgt & bit(SIGHUP));
    EXPECT_TRUE(cgt & bit(SIGALRM));
    EXPECT_TRUE(ign & bit(SIGPIPE));
    EXPECT_TRUE(ign & bit(SIGQUIT));
    s.signal(SIGINT);  // sets the break flag, nothing more
    s.signal(SIGINT);  // the handler is still installed
    s.drain(100);
    signal_masks(s.pid(), &ign, &cgt);
    EXPECT_TRUE(cgt & bit(SIGINT));
    s.type("qu\r");
    EXPECT_EQ(exit_code(s), 0);
  }
  {
    pty_session s;
    start_run(s, {}, {}, true);
    ASSERT_TRUE(s.wait_prompt("*", 0, 5000));
    unsigned long long ign, cgt;
    signal_masks(s.pid(), &ign, &cgt);
    EXPECT_TRUE(ign & bit(SIGINT));
    EXPECT_FALSE(cgt & bit(SIGINT));
    s.signal(SIGINT);
    s.type("qu\r");
    EXPECT_EQ(exit_code(s), 0);
  }
}

TEST(run, break_key_becomes_the_interrupt_character) {
  struct row {
    const char *setting;
    int ch;
  };
  for (row r : {row{"VXBREAK=^C", 3}, row{"VXBREAK=\\177", 127}}) {
    pty_session s;
    start_run(s, {r.setting});
    ASSERT_TRUE(s.wait_prompt("*", 0, 5000));
    struct termios t = s.modes();
    EXPECT_EQ(t.c_cc[VINTR], r.ch) << r.setting;
    EXPECT_EQ(t.c_lflag, tcflag_t(ISIG));
    s.type("qu\r");
    EXPECT_EQ(exit_code(s), 0);
  }
}

TEST(run, invocation_name_RUN_only) {
  struct row {
    const char *name;
    bool as_run;
  };
  for (row r : {row{"RUN", true}, row{"Run", false}, row{"run", false}}) {
    pty_session s;
    start_run(s, {}, {}, false, r.name);
    ASSERT_TRUE(s.wait_prompt("*", 0, 5000)) << s.transcript();
    // typed letters change case only under RUN
    s.type("xYz\r");
    ASSERT_TRUE(s.wait_screen("FILE NOT FOUND", 5000)) << s.transcript();
    EXPECT_EQ(s.transcript().find("unit0/XyZ: FILE NOT FOUND") != std::string::npos, r.as_run)
        << r.name << s.transcript();
    s.type("qu\r");
    EXPECT_EQ(exit_code(s), 0);
  }
}

TEST(run, startup_messages_pause_five_seconds) {
  using clk = std::chrono::steady_clock;
  std::string file = "/tmp/quillon-pause-" + std::to_string(getpid());
  {
    std::ofstream f(file);
    f << "[PRINTER]\n#other\n))\n";
  }
  for (bool with_message : {false, true}) {
    pty_session s;
    std::vector<std::string> env = {"VXDEFAULT=" + file};
    if (with_message) env.push_back("LP1=missing");
    auto t0 = clk::now();
    start_run(s, {}, env);
    ASSERT_TRUE(s.wait_prompt("*", 0, 9000));
    double secs = std::chrono::duration<double>(clk::now() - t0).count();
    if (with_message) {
      EXPECT_NE(s.output().find("LPCAP-entry not found for LP1=missing \r\n"), std::string::npos)
          << s.output();
      EXPECT_GE(secs, 4.9);
    } else {
      EXPECT_LT(secs, 2.0);
    }
    s.type("qu\r");
    EXPECT_EQ(exit_code(s), 0);
  }
  unlink(file.c_str());
}

}  // namespace

namespace {

// run with standard input closed and standard output on a pipe
TEST(run, closed_standard_input_is_a_startup_failure) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    close(0);
    std::string path = run_path();
    char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
    char env0[] = "VXDEFAULT=/nonexistent", env1[] = "TERM=xterm";
    char *envp[] = {env0, env1, nullptr};
    execve(argv[0], argv, envp);
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(out[0]);
  int st;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 255);
  EXPECT_NE(text.find("fcntl error.\r\n"), std::string::npos) << text;
}

}  // namespace
