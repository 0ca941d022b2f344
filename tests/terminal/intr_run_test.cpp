// The screen intrinsics through the real run on a pseudo-terminal: what a
// program reads back from the screen is what it wrote there, the
// field-attribute intrinsic gives the terminal's configured codes, a
// change of the colour/attribute map repaints the screen, and function-key
// labels come from the terminal's entry.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/pty/pty.h"
#include "tools/asm.h"

namespace {

// Writes HELLO and a reversed REV on row 3, reads cells back with 42 and
// prints them on rows 6 and 7, turns map entry 4 (the reverse field) into
// underline and reads the entry back, shows the labels of keys 1 and 2;
// then waits for a key.
const char *SCREEN_PROGRAM = R"(
.main SCR
  vstr a(100)
  vstr b(100)
  num at
  num fg
  num bg
  push 0
  io print, C
  call 5, 0
  iostr
  push 5
  push 3
  call 3, 2
  iostr
  spush "HELLO "
  iostr
  push 4
  call 4, 1
  iostr
  spush "REV"
  iostr
  push 0
  call 4, 1
  iostr
  spush " N"
  iostr
  ioend
  push 3
  push 5
  push 5
  call 42, 3
  sstore a
  push 3
  call 42, 1
  sstore b
  push 0
  io print, C
  push 1
  push 6
  call 3, 2
  iostr
  spush "["
  iostr
  push a
  iostr
  spush "]"
  iostr
  push 1
  push 7
  call 3, 2
  iostr
  push b
  iostr
  ioend
  call 23, 0
  sstore a
  push 4
  push 8
  push -1
  push -1
  call 56, 4
  push 4
  push at
  push fg
  push bg
  spush "G"
  call 56, 5
  push 0
  io print, C
  push 1
  push 10
  call 3, 2
  iostr
  spush "map"
  iostr
  push at
  ionum
  push fg
  ionum
  push bg
  ionum
  spush " ["
  iostr
  push 1
  call 53, 1
  iostr
  spush "]["
  iostr
  push 2
  call 53, 1
  iostr
  spush "]"
  iostr
  ioend
  call 23, 0
  sstore a
  stop
)";

struct screen_intrinsics : ::testing::Test {
  std::string dir;

  void SetUp() override {
    char tmpl[] = "/tmp/quillon-scintr-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    // an xterm whose function key 1 carries a label
    std::ofstream(dir + "/src") << "qlabel|xterm with a key label,\n\tlf1=Help, use=xterm,\n";
    std::string tic = "tic -o " + dir + " " + dir + "/src 2>/dev/null";
    ASSERT_EQ(std::system(tic.c_str()), 0);
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(std::string(".pcode 16\n") + SCREEN_PROGRAM, "scr", out))
        << out.errors;
    std::ofstream f(dir + "/scr", std::ios::binary);
    f.write(reinterpret_cast<const char *>(out.file.data()), std::streamsize(out.file.size()));
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  void start(pty_session &s, std::vector<std::string> env = {}) {
    env.push_back("TERM=qlabel");
    env.push_back("TERMINFO=" + dir);
    pty_options o;
    o.argv = {build_dir() + "/bin/run", "P=./scr", "VXEXIT=1"};
    o.env = base_env(env);
    o.cwd = dir;
    ASSERT_TRUE(s.start(o));
  }
  static int exit_code(pty_session &s) {
    int st = 0;
    if (!s.wait_exit(10000, &st)) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
  }
};

// The cells of row 3 as the terminal shows them: HELLO from column 5, the
// reverse field's code cell, REV, the normal field's code cell, " N".
void expect_row_3_copy(pty_session &s, int r, bool underline) {
  EXPECT_EQ(s.row(r), "    HELLO  REV  N");
  for (int c = 11; c < 14; c++) {
    pty_cell cell = s.cell(r, c);
    EXPECT_EQ(cell.reverse, !underline) << r << "," << c;
    EXPECT_EQ(cell.underline, underline) << r << "," << c;
  }
  EXPECT_FALSE(s.cell(r, 4).reverse);
  EXPECT_FALSE(s.cell(r, 16).reverse);
  EXPECT_FALSE(s.cell(r, 16).underline);
}

TEST_F(screen_intrinsics, what_is_read_back_is_what_was_written) {
  pty_session s;
  start(s);
  ASSERT_TRUE(s.wait_until([&] { return s.row(6).find("N") != std::string::npos; }, 10000))
      << s.transcript();
  s.settle(200);
  expect_row_3_copy(s, 2, false);
  EXPECT_EQ(s.row(5), "[HELLO]");
  // the whole row, codes included, written again: the same cells and looks
  expect_row_3_copy(s, 6, false);
  s.type("x");
  // map entry 4 now underlines: every cell of that field is repainted
  ASSERT_TRUE(s.wait_screen("[F2]", 10000)) << s.transcript();
  s.settle(200);
  EXPECT_EQ(s.row(9), "map 8 255 255 [Help][F2]");
  expect_row_3_copy(s, 2, true);
  expect_row_3_copy(s, 6, true);
  s.type("x");
  EXPECT_EQ(exit_code(s), 0);
}

// CF moves the codes of attributes 0-4: the field-attribute intrinsic
// gives the configured bytes (a default 8F would now be attribute 12,
// reverse and underline; a default 8B an ordinary character).
TEST_F(screen_intrinsics, field_attributes_use_the_configured_codes) {
  pty_session s;
  start(s, {"CF=200,201,202,203,204"});
  ASSERT_TRUE(s.wait_until([&] { return s.row(6).find("N") != std::string::npos; }, 10000))
      << s.transcript();
  s.settle(200);
  expect_row_3_copy(s, 2, false);
  expect_row_3_copy(s, 6, false);
  s.type("xx");
  EXPECT_EQ(exit_code(s), 0);
}

}  // namespace
