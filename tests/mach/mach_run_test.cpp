// The process and pipe statement in run itself, in a real terminal: a
// child that sorts what it is sent (both pipes), a foreground child that
// gets the user's terminal modes and leaves program mode behind it, and an
// error while the terminal was handed over.
#include <gtest/gtest.h>

#include <termios.h>
#include <string>

#include "tests/mach/runmon.h"

namespace {

TEST(mach_run, child_echoes_through_both_pipes) {
  run_monitor m;
  ASSERT_TRUE(m.start({}, build_dir())) << m.s.output();
  std::string o = m.run_to_done("./examples/sortpipe");
  EXPECT_TRUE(has(o, "BKP HIT")) << o;
  o = m.command("dh out");
  EXPECT_TRUE(has(o, "\r\n6170706c650a706561720a\r\n")) << o;  // "apple\npear\n"
  o = m.command("dh st");
  EXPECT_TRUE(has(o, "\r\n00\r\n")) << o;
  EXPECT_EQ(m.quit(), 0);
}

// the foreground child writes the terminal's modes as it sees them
const char foreground[] = R"(.pcode 16
.debug
.main FG
  vstr  slot(1)
  vstr  st(1)
  spush "SP4"
  spush slot
  spush "/bin/sh"
  spush "-c"
  spush "stty -a > modes; exit 3"
  call  28, 5
  spush "TP0"
  spush slot
  spush st
  call  28, 3             ; the stored status, without waiting
done:
  stop
)";

TEST(mach_run, foreground_child_gets_the_user_modes_and_returns_program_mode) {
  scratch_dir d("machrun");
  ASSERT_TRUE(d.assemble("fg", foreground));
  run_monitor m;
  ASSERT_TRUE(m.start({}, d.path)) << m.s.output();
  struct termios before = m.s.modes();
  EXPECT_EQ(before.c_lflag & ICANON, 0u);  // program mode
  std::string o = m.run_to_done("./fg");
  EXPECT_TRUE(has(o, "BKP HIT")) << o;
  std::string modes = d.read("modes");
  EXPECT_TRUE(has(modes, " icanon")) << modes;  // the user's modes while it ran
  EXPECT_FALSE(has(modes, "-icanon")) << modes;
  EXPECT_TRUE(has(modes, "\nopost")) << modes;
  struct termios after = m.s.modes();
  EXPECT_EQ(after.c_lflag & ICANON, 0u);  // program mode again
  EXPECT_EQ(after.c_oflag, 0u);
  EXPECT_EQ(after.c_cc[VMIN], 1);
  o = m.command("dh st");
  EXPECT_TRUE(has(o, "\r\n03\r\n")) << o;
  o = m.command("dh slot");
  EXPECT_TRUE(has(o, "\r\n01\r\n")) << o;
  EXPECT_EQ(m.quit(), 0);
}

// an error after the terminal was handed over: not executable
const char refused[] = R"(.pcode 16
.debug
.main REFUSED
  vstr  slot(1)
  spush "SP4"
  spush slot
  spush "/etc/passwd"
  call  28, 3
done:
  stop
)";

TEST(mach_run, error_in_a_foreground_start_restores_program_mode) {
  scratch_dir d("machrun");
  ASSERT_TRUE(d.assemble("refused", refused));
  run_monitor m;
  ASSERT_TRUE(m.start({}, d.path)) << m.s.output();
  std::string o = m.run_to_done("./refused");
  EXPECT_TRUE(has(o, "79")) << o;
  EXPECT_FALSE(has(o, "BKP HIT")) << o;
  struct termios after = m.s.modes();
  EXPECT_EQ(after.c_lflag & ICANON, 0u);
  EXPECT_EQ(after.c_oflag, 0u);
  EXPECT_EQ(m.quit(), 0);
}

}  // namespace
