// The harness itself: what a program writes reaches the emulated screen
// with its attributes and cursor, typed keys reach the program, and the
// line's modes and the exit status are seen.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "tests/pty/pty.h"

namespace {

TEST(pty_harness, screen_cells_cursor_keys_and_status) {
  pty_session s;
  pty_options o;
  o.argv = {"/bin/sh", "-c",
            "printf 'plain \\033[1mbold\\033[0m \\033[7mrev\\033[0m\\033[3;5Hx'; "
            "stty -echo; read line; printf '\\033[5;1Hgot:%s' \"$line\"; exit 3"};
  o.env = base_env();
  ASSERT_TRUE(s.start(o));
  ASSERT_TRUE(s.wait_for("x", 5000));
  EXPECT_EQ(s.row(0), "plain bold rev");
  EXPECT_FALSE(s.cell(0, 0).bold);
  EXPECT_TRUE(s.cell(0, 6).bold);
  EXPECT_TRUE(s.cell(0, 11).reverse);
  EXPECT_EQ(s.cell(2, 4).text, "x");
  int r, c;
  s.cursor(&r, &c);
  EXPECT_EQ(r, 2);
  EXPECT_EQ(c, 5);
  s.drain(200);
  EXPECT_EQ(s.modes().c_lflag & ECHO, 0u);
  s.type("hello\r");
  ASSERT_TRUE(s.wait_for("got:hello", 5000)) << s.output();
  int st = 0;
  ASSERT_TRUE(s.wait_exit(5000, &st));
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 3);
}

TEST(pty_harness, environment_directory_and_size) {
  pty_session s;
  pty_options o;
  o.argv = {"/bin/sh", "-c", "printf '%s %s %s' \"$FOO\" \"$(pwd)\" \"$(stty size)\""};
  o.env = base_env({"FOO=bar", "TERM=vt100"});
  o.cwd = "/tmp";
  o.rows = 30;
  o.cols = 100;
  ASSERT_TRUE(s.start(o));
  int st;
  ASSERT_TRUE(s.wait_exit(5000, &st));
  EXPECT_EQ(s.row(0), "bar /tmp 30 100");
}

}  // namespace
