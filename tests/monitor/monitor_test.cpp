// The command monitor through a real terminal: loading with debug
// information, the lists, breakpoints, variables, the settings that change
// its behaviour, and quitting.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <string>

#include "tests/pty/pty.h"

namespace {

struct monitor_session {
  pty_session s;

  void start(std::vector<std::string> args, std::vector<std::string> env = {}) {
    pty_options o;
    o.argv = {build_dir() + "/bin/run"};
    for (auto &a : args) o.argv.push_back(a);
    o.env = base_env(env);
    o.cwd = build_dir();
    ASSERT_TRUE(s.start(o));
  }
  // types a command and returns what came back up to the next prompt
  std::string command(const std::string &line) {
    size_t from = s.output().size();
    s.type(line + "\r");
    EXPECT_TRUE(wait_prompt(from)) << s.output().substr(from);
    return s.output().substr(from);
  }
  bool wait_prompt(size_t from) {
    for (int i = 0; i < 100; i++) {
      std::string o = s.output().substr(from);
      if (o.find("\n\r>") != std::string::npos || o.find("\n\r*") != std::string::npos) return true;
      s.drain(50);
    }
    return false;
  }
  int quit() {
    s.type("qu\r");
    int st = 0;
    if (!s.wait_exit(5000, &st)) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

bool has(const std::string &text, const std::string &what) {
  return text.find(what) != std::string::npos;
}

TEST(monitor, load_lists_and_variables) {
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  std::string o = m.command("lo ./examples/procs");
  EXPECT_TRUE(has(o, "Program is LOADED with debug information\r\n")) << o;
  EXPECT_TRUE(has(o, "\n\r>"));  // debug mode
  o = m.command("dr");
  EXPECT_TRUE(has(o, "*PROCS\r\n AREA\r\n SCALE\r\n")) << o;
  o = m.command("dl");
  EXPECT_TRUE(has(o, "fill: ")) << o;
  o = m.command("dv");
  EXPECT_TRUE(has(o, "w: ")) << o;
  EXPECT_TRUE(has(o, "v: ")) << o;
  o = m.command("dv nosuch");
  EXPECT_TRUE(has(o, "ROUTINE NOT FOUND")) << o;
  o = m.command("di w");
  EXPECT_TRUE(has(o, "0\r\n")) << o;
  m.s.type("vx w\r");
  ASSERT_TRUE(m.s.wait_for("Value: ", 3000)) << m.s.output();
  o = m.command("-12.5");
  o = m.command("di w");
  EXPECT_TRUE(has(o, "-12.5\r\n")) << o;
  m.s.type("vx w\r");
  ASSERT_TRUE(m.s.wait_for("Value: ", 3000));
  o = m.command("12x");
  EXPECT_TRUE(has(o, "ERR")) << o;
  o = m.command("di v");
  EXPECT_TRUE(has(o, "(0) 0\r\n(1) 0\r\n(2) 0\r\n")) << o;
  o = m.command("di area:x");
  EXPECT_TRUE(has(o, "NOT ALLOCATED")) << o;  // a parameter not bound yet
  o = m.command("di nosub:x");
  EXPECT_TRUE(has(o, "Unknown SUB/FUN: nosub")) << o;
  EXPECT_EQ(m.quit(), 0);
}

TEST(monitor, breakpoint_table) {
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  m.command("lo ./examples/procs");
  std::string o = m.command("db");
  EXPECT_TRUE(has(o, "NO BKP SET YET")) << o;
  o = m.command("br fill di i");
  EXPECT_TRUE(has(o, "fill: ")) << o;
  for (const char *a : {"10", "20", "30", "40", "50", "60", "70"})
    m.command(std::string("br ") + a);
  o = m.command("br 80");
  EXPECT_TRUE(has(o, "BKP TBL FULL")) << o;
  o = m.command("br 20 a-very-long-command");  // the same address: replaced in place
  EXPECT_FALSE(has(o, "FULL")) << o;
  o = m.command("db");
  EXPECT_TRUE(has(o, "3 0020 a-very-lo\r\n")) << o;  // cut to 9 characters
  o = m.command("cb 2");
  o = m.command("db");
  EXPECT_TRUE(has(o, "2 0020 a-very-lo\r\n")) << o;  // the third moved up
  EXPECT_TRUE(has(o, "7 0070 \r\n")) << o;
  EXPECT_FALSE(has(o, "8 ")) << o;
  o = m.command("cb 9");
  EXPECT_TRUE(has(o, "ERR")) << o;
  o = m.command("br xyz");
  EXPECT_TRUE(has(o, "ERR")) << o;
  o = m.command("br chain");
  o = m.command("db");
  EXPECT_TRUE(has(o, "BKP ON CHAIN\r\n")) << o;
  o = m.command("cb");
  EXPECT_TRUE(has(o, "ALL BKP'S CLEARED")) << o;
  o = m.command("db");
  EXPECT_TRUE(has(o, "NO BKP SET YET")) << o;
  EXPECT_FALSE(has(o, "CHAIN")) << o;
  o = m.command("go");
  EXPECT_TRUE(has(o, "NO BKP HIT YET")) << o;
  EXPECT_EQ(m.quit(), 0);
}

TEST(monitor, settings_and_program_names) {
  {
    monitor_session m;  // P=ru is the command ru
    m.start({"P=ru"});
    ASSERT_TRUE(m.wait_prompt(0));
    EXPECT_TRUE(has(m.s.output(), "NO PROGRAMM LODED")) << m.s.output();
    EXPECT_EQ(m.quit(), 0);
  }
  {
    monitor_session m;  // NOSTART refuses typed names, not P
    m.start({"P=./examples/nosuch", "NOSTART=1"});
    ASSERT_TRUE(m.wait_prompt(0));
    EXPECT_TRUE(has(m.s.output(), "./examples/nosuch: FILE NOT FOUND\r\n")) << m.s.output();
    std::string o = m.command("./examples/procs");
    EXPECT_TRUE(has(o, "ERR")) << o;
    o = m.command("lo ./examples/procs");
    EXPECT_TRUE(has(o, "ERR")) << o;
    size_t from = m.s.output().size();
    m.s.type("sh true\r");
    ASSERT_TRUE(m.s.wait_for("\nPress any key to continue", 5000)) << m.s.output();
    m.s.type("x");
    EXPECT_TRUE(m.wait_prompt(from + 1));
    EXPECT_FALSE(has(m.s.output().substr(from), "ERR"));
    EXPECT_EQ(m.quit(), 0);
  }
  {
    monitor_session m;
    m.start({"NOSHELL=1"});
    ASSERT_TRUE(m.wait_prompt(0));
    std::string o = m.command("sh true");
    EXPECT_TRUE(has(o, "ERR")) << o;
    o = m.command("di x");
    EXPECT_TRUE(has(o, "NO SYMBOLIC INFORMATION")) << o;
    o = m.command("nosuchprogram/70000");
    EXPECT_TRUE(has(o, "FILE NOT FOUND")) << o;
    EXPECT_EQ(m.quit(), 0);
  }
}

}  // namespace
