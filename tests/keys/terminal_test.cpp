// The keyboard reader in a real pseudo-terminal: time-outs, broken
// sequences, the terminfo keys of xterm, VXESC, the refresh key, reads
// that do not wait, type-ahead while the program computes, and concurrent
// runs started with the quit key.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <curses.h>
#include <term.h>

#include "tests/pty/pty.h"

namespace {

using clk = std::chrono::steady_clock;

void start(pty_session &s, const std::string &prog, std::vector<std::string> env,
           std::vector<std::string> args = {}) {
  pty_options o;
  o.argv = {build_dir() + "/bin/" + prog};
  for (auto &a : args) o.argv.push_back(a);
  o.env = base_env(env);
  ASSERT_TRUE(s.start(o));
}

void start_driver(pty_session &s, std::vector<std::string> env = {}) {
  start(s, "keydrv", env);
  ASSERT_TRUE(s.wait_screen("ready", 5000)) << s.output();
}

// what the driver showed after "ready": the screen's lines run together
// (the codes wrap at the end of a row)
std::string keys_seen(pty_session &s) {
  std::string seen;
  bool after = false;
  for (int i = 0; i < s.line_count(); i++) {
    std::string l = s.line(i);
    if (after) seen += l;
    if (l == "ready") after = true;
  }
  return seen;
}

// waits until the driver has shown want after "ready"
bool wait_keys(pty_session &s, const std::string &want, int ms) {
  return s.wait_until([&] { return keys_seen(s).find(want) != std::string::npos; }, ms);
}

int exit_code(pty_session &s) {
  int st = 0;
  if (!s.wait_exit(10000, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

// A capability string of a terminfo entry, loaded in this process.
std::string cap(const char *term, const char *name) {
  int err;
  if (setupterm(term, 2, &err) != 0) return "";
  const char *s = tigetstr(name);
  std::string value = s && s != reinterpret_cast<const char *>(-1) ? s : "";
  del_curterm(cur_term);
  return value;
}

TEST(keys_terminal, lone_escape_waits_for_the_time_out) {
  pty_session s;
  start_driver(s, {"KEYDRV_MAP=5b:7b"});
  auto t0 = clk::now();
  s.type("\x1b");
  ASSERT_TRUE(s.wait_for("<1b>", 2000)) << s.output();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clk::now() - t0).count();
  EXPECT_GE(ms, 80);  // held back for the tenth of a second
  // ESC "[" and a pause: both bytes, in order, through the input map
  s.type("\x1b[");
  ASSERT_TRUE(s.wait_for("<1b><7b>", 2000)) << s.output();
  s.type("\x1bx");  // continues nothing
  ASSERT_TRUE(s.wait_for("<1b><7b><1b><78>", 2000)) << s.output();
  s.type("q");
  EXPECT_EQ(exit_code(s), 0);
}

TEST(keys_terminal, time_out_doubles_at_1200_baud) {
  struct termios slow = {};
  cfmakeraw(&slow);
  cfsetospeed(&slow, B1200);
  cfsetispeed(&slow, B1200);
  pty_session s;
  pty_options o;
  o.argv = {build_dir() + "/bin/keydrv"};
  o.env = base_env();
  o.modes = &slow;
  ASSERT_TRUE(s.start(o));
  ASSERT_TRUE(s.wait_for("ready\r\n", 5000)) << s.output();
  auto t0 = clk::now();
  s.type("\x1b");
  ASSERT_TRUE(s.wait_for("<1b>", 2000)) << s.output();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clk::now() - t0).count();
  EXPECT_GE(ms, 180);  // two tenths of a second
}

TEST(keys_terminal, xterm_keys_give_their_codes_in_order) {
  struct key {
    const char *cap;
    int code;
  };
  const key table[] = {{"kf1", 0xff01},  {"kf2", 0xff02}, {"kf5", 0xff05},  {"kf10", 0xff0a},
                       {"kf12", 0xff0c}, {"kcuu1", 0x0b}, {"kcud1", 0x0a},  {"kcuf1", 0x0c},
                       {"kcub1", 0x08},  {"khome", 0x01}, {"kdch1", 0x7f},  {"kbs", 0x08},
                       {"kpp", 0xff80},  {"knp", 0xff81}, {"kend", 0xff82}, {"kich1", 0xff83},
                       {"ht", 0x09}};
  std::string typed, want;
  for (const key &k : table) {
    std::string s = cap("xterm", k.cap);
    ASSERT_FALSE(s.empty()) << k.cap;
    typed += s + "a";  // a plain key after each, typed all at once
    char text[16];
    std::snprintf(text, sizeof text, "<%x><61>", unsigned(k.code));
    want += text;
  }
  pty_session s;
  start_driver(s);
  s.type(typed);
  EXPECT_TRUE(wait_keys(s, want, 3000)) << keys_seen(s);
  EXPECT_EQ(keys_seen(s), want);
}

TEST(keys_terminal, vxesc_makes_f12_the_escape_key) {
  std::string f12 = cap("xterm", "kf12"), f11 = cap("xterm", "kf11");
  pty_session s;
  start_driver(s, {"VXESC=F12"});
  s.type(f12 + f11);
  EXPECT_TRUE(s.wait_for("<1b><ff0b>", 3000)) << keys_seen(s);
  EXPECT_EQ(keys_seen(s), "<1b><ff0b>");
}

TEST(keys_terminal, refresh_key_is_not_seen_by_the_program) {
  // an xterm with refresh, print and insert-line keys
  std::string dir = "/tmp/quillon-keys-ti-" + std::to_string(getpid());
  mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/src") << "qkeys|xterm with more keys,\n"
                                 "\tkrfr=\\E[99~, kprt=\\E[98~, kil1=\\E[97~, use=xterm,\n";
  std::string tic = "tic -o " + dir + " " + dir + "/src 2>/dev/null";
  ASSERT_EQ(std::system(tic.c_str()), 0);
  pty_session s;
  start_driver(s, {"TERM=qkeys", "TERMINFO=" + dir});
  size_t before = s.output().size();
  s.type("\x1b[99~a\x1b[98~\x1b[97~\x1b[99~b");
  EXPECT_TRUE(wait_keys(s, "<62>", 3000)) << keys_seen(s);
  EXPECT_EQ(keys_seen(s), "<61><ff85><ff84><62>");
  // the refresh key repainted the screen: its lines were sent again
  EXPECT_NE(s.output().find("ready", before), std::string::npos) << s.output().substr(before);
  std::system(("rm -rf " + dir).c_str());
}

TEST(keys_terminal, read_without_waiting_leaves_input_blocking) {
  pty_session s;
  start_driver(s);
  s.type("n");
  ASSERT_TRUE(s.wait_for("<6e>[none=-1 nb=0]", 3000)) << keys_seen(s);
  s.type("z");
  EXPECT_TRUE(s.wait_for("<7a>", 3000)) << keys_seen(s);
}

TEST(keys_terminal, keys_typed_while_computing_arrive_in_order) {
  std::string up = cap("xterm", "kcuu1"), f3 = cap("xterm", "kf3");
  pty_session s;
  start_driver(s);
  s.type("c");
  std::string want = "<63>";
  std::string burst;
  for (int i = 0; i < 12; i++) {
    burst += char('D' + i) + up + f3;
    char text[32];
    std::snprintf(text, sizeof text, "<%x><b><ff03>", unsigned('D' + i));
    want += text;
  }
  s.type(burst);
  ASSERT_TRUE(wait_keys(s, "[done]", 3000)) << keys_seen(s);
  EXPECT_TRUE(wait_keys(s, want.substr(4), 3000)) << keys_seen(s);
  EXPECT_EQ(keys_seen(s), "<63>[done]" + want.substr(4));
}

// ---- concurrent runs -------------------------------------------------------

TEST(keys_terminal, concurrent_run_that_exits_zero) {
  pty_session s;
  start(s, "run", {"CONCURRENT=1", "CONC_KEY=28"});
  ASSERT_TRUE(s.wait_prompt("*", 0, 5000)) << s.transcript();
  s.type("nosuchprogram\r");
  ASSERT_TRUE(s.wait_screen("nosuchprogram: FILE NOT FOUND", 5000)) << s.transcript();
  ASSERT_TRUE(s.wait_prompt("*", 2, 5000)) << s.transcript();
  size_t before = s.output().size();
  s.type("\x1c");  // the quit key: a new run takes the terminal, clears it, prompts
  ASSERT_TRUE(s.wait_until(
      [&] {
        size_t clear = s.output().find("\x1b[2J", before);
        return clear != std::string::npos && s.output().find("*", clear) != std::string::npos;
      },
      5000))
      << s.output();
  ASSERT_TRUE(s.wait_prompt("*", 0, 5000)) << s.transcript();
  EXPECT_EQ(s.transcript().find("nosuchprogram"), std::string::npos) << s.transcript();
  // the nested run has CONCURRENT 0: its quit key does nothing
  s.type("\x1cqu\r");
  s.drain(500);
  EXPECT_EQ(s.transcript().find("Could not start background"), std::string::npos) << s.transcript();
  // the first run is back with its whole screen, and answers
  EXPECT_TRUE(s.wait_screen("nosuchprogram: FILE NOT FOUND", 3000)) << s.transcript();
  s.type("qu\r");
  EXPECT_EQ(exit_code(s), 0) << s.output();
  EXPECT_EQ(s.transcript().find("Could not start background"), std::string::npos) << s.transcript();
}

TEST(keys_terminal, concurrent_run_that_cannot_start) {
  pty_session s;
  start(s, "run", {"CONCURRENT=2", "CONC_KEY=28", "CONC_RUN=/nonexistent/program"});
  ASSERT_TRUE(s.wait_prompt("*", 0, 5000)) << s.transcript();
  s.type("\x1c");
  ASSERT_TRUE(s.wait_screen("2: Could not start background", 5000)) << s.transcript();
  s.type("qu\r");
  EXPECT_EQ(exit_code(s), 0) << s.output();
}

TEST(keys_terminal, quit_key_while_computing_starts_the_run_at_once) {
  pty_session s;
  start_driver(s, {"CONCURRENT=1", "CONC_KEY=28"});
  s.type("c");
  usleep(100000);
  size_t before = s.output().size();
  s.type("\x1c");  // the driver computes: the new run starts from the signal
  ASSERT_TRUE(s.wait_until(
      [&] {
        size_t clear = s.output().find("\x1b[2J", before);
        return clear != std::string::npos && s.output().find("ready", clear) != std::string::npos;
      },
      5000))
      << s.output();
  s.type("x");  // read by the new run only
  ASSERT_TRUE(wait_keys(s, "<78>", 3000)) << s.transcript();
  s.settle(700);  // the first run ends its computing meanwhile, silently
  EXPECT_EQ(s.transcript().find("[done]"), std::string::npos) << s.transcript();
  s.type("q");  // the new run ends: the first takes the terminal back, redrawn
  EXPECT_TRUE(wait_keys(s, "<63>[done]", 3000)) << s.transcript();
  s.type("y");
  EXPECT_TRUE(wait_keys(s, "<63>[done]<79>", 3000)) << s.transcript();
  s.type("q");
  EXPECT_EQ(exit_code(s), 0);
}

}  // namespace
