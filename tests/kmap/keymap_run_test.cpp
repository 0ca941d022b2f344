// Keyboard maps in run itself, in a real pseudo-terminal: the example
// maps typed through the monitor's line input (dead keys, compose, the
// input map), and a malformed map file reported line by line at start-up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/pty/pty.h"

namespace {

struct keymap_run : ::testing::Test {
  std::string dir = "/tmp/quillon-keymap-" + std::to_string(getpid());
  pty_session s;

  void SetUp() override {
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/keys.pasm") << ".pcode 16\n.debug\n.main KEYS\n  vstr s(20)\n  stop\n";
    std::string cmd = build_dir() + "/bin/pasm -o " + dir + "/keys " + dir + "/keys.pasm";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  void start(const std::string &map) {
    pty_options o;
    o.argv = {build_dir() + "/bin/run", "P=lo " + dir + "/keys", "VXMAP=" + map};
    o.env = base_env();
    ASSERT_TRUE(s.start(o));
  }
  // types keys as the value of s, then shows it in hexadecimal: what the
  // monitor answers
  std::string typed_value(const std::string &keys) {
    s.type("vx s\r");
    EXPECT_TRUE(s.wait_screen("Value:", 5000)) << s.transcript();
    s.type(keys + "\r");
    s.drain(200);
    int from = s.cursor_line();
    s.type("dh s\r");
    EXPECT_TRUE(s.wait_prompt(">", from + 1, 5000)) << s.transcript();
    return s.transcript(from, s.cursor_line());
  }
  int quit() {
    s.type("qu\r");
    int st = 0;
    if (!s.wait_exit(10000, &st)) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

TEST_F(keymap_run, german_map_typed_with_dead_keys_and_compose) {
  start(std::string(QUILLON_SOURCE) + "/examples/german.kmap");
  ASSERT_TRUE(s.wait_prompt(">", 0, 5000)) << s.transcript();
  // { is a-umlaut on this keyboard; Ctrl-] o " composes o-umlaut; ` a and
  // ' e are dead keys, ` blank the accent itself; x is an ordinary key
  std::string hex = typed_value("{\x1do\"`a` 'ex");
  EXPECT_NE(hex.find("\r\ne4f6e060e978\r\n"), std::string::npos) << s.transcript();
  // a broken compose sequence gives what was typed: ^] (which line input
  // passes over as a control character), a, then the key that broke it
  hex = typed_value(
      "\x1d"
      "az");
  EXPECT_NE(hex.find("\r\n617a\r\n"), std::string::npos) << s.transcript();
  EXPECT_EQ(quit(), 0);
}

TEST_F(keymap_run, french_map_typed) {
  start(std::string(QUILLON_SOURCE) + "/examples/french.kmap");
  ASSERT_TRUE(s.wait_prompt(">", 0, 5000)) << s.transcript();
  std::string hex = typed_value("{^e\"i^ \x1d<<@");
  EXPECT_NE(hex.find("\r\ne9eaef5eabe0\r\n"), std::string::npos) << s.transcript();
  EXPECT_EQ(quit(), 0);
}

// Regression: with a keyboard map the key tree existed before the
// terminal's keys were due, and they were never entered.
TEST_F(keymap_run, terminal_keys_still_work_beside_the_map) {
  std::ofstream(dir + "/fkeys.pasm") << R"(.pcode 16
.debug
.main FKEYS
  vstr  s(20)
  vstr  k(2)
again:
  call  23, 0
  sstore k
  spush s
  scat  k
  sstore s
  spush k
  seq   "\xff\x01"
  jf    again
done:
  stop
)";
  std::string cmd = build_dir() + "/bin/pasm -o " + dir + "/fkeys " + dir + "/fkeys.pasm";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  start(std::string(QUILLON_SOURCE) + "/examples/german.kmap");
  ASSERT_TRUE(s.wait_prompt(">", 0, 5000)) << s.transcript();
  s.type("lo " + dir + "/fkeys\r");
  s.type("br done\r");
  s.type("ru\r");
  s.drain(300);
  s.type("`a\x1bOA{\x1bOP");  // a dead key, the up arrow, a-umlaut, F1
  s.drain(300);
  int from = s.cursor_line();
  s.type("dh s\r");
  ASSERT_TRUE(s.wait_prompt(">", from + 1, 5000)) << s.transcript();
  EXPECT_NE(s.transcript(from).find("\r\ne00be4ff01\r\n"), std::string::npos) << s.transcript();
  EXPECT_EQ(quit(), 0);
}

TEST_F(keymap_run, malformed_map_is_reported_with_line_numbers) {
  std::string map = dir + "/bad.kmap";
  std::ofstream(map) << "0x41 0x42\n"
                        "input\n"
                        "0x41 'b\n"
                        "0x43 nonsense\n"
                        "dead\n"
                        "dead '^'\n"
                        "'a' 0xE2\n"
                        "'a' 0xE3\n"
                        "compose 0x1d\n"
                        "compose 0x1e\n"
                     << std::string(40000, 'x') << "\n"
                     << "input\n\x01\x02\xff garbage\n";
  start(map);
  ASSERT_TRUE(s.wait_prompt(">", 0, 15000)) << s.transcript();  // after the pause for messages
  const std::string head = "error in VXMAP=" + map + ", line ";
  for (const char *m :
       {"1: no section keyword seen", "4: illegal character value", "5: illegal character value",
        "8: logic error", "10: compose already seen", "11: line too long", "12: input already seen",
        "13: illegal character value"})
    EXPECT_NE(s.output().find(head + m + "\r\n"), std::string::npos) << m << "\n" << s.output();
  // the lines that were right still count
  std::string hex = typed_value("A^a");
  EXPECT_NE(hex.find("\r\n62e2\r\n"), std::string::npos) << s.transcript();
  EXPECT_EQ(quit(), 0);
}

}  // namespace
