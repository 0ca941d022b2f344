// The intrinsic functions, called by small programs that the interpreter
// runs; the results are read back from the program's variables.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <string>

#include "run/base/image.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/files/flock.h"
#include "run/files/iostmt.h"
#include "run/interp/exec.h"
#include "run/interp/zreport.h"
#include "run/intrin/isystem.h"
#include "run/intrin/zsubr.h"
#include "run/startup/startup.h"
#include "run/terminal/keys.h"
#include "run/terminal/kmap.h"
#include "run/terminal/phys.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"
#include "tests/interp/asmrun.h"
#include "tests/interp/vm.h"

#include <term.h>  // last: its capability macros would rename words above

extern char **environ;

namespace {

struct intr : ::testing::TestWithParam<int> {
  asm_program prog;
  void SetUp() override {
    run_hooks();
    nonstop = 1;
  }
  void TearDown() override {
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
  int run(const std::string &body) {
    if (!prog.assemble(GetParam(), body) || !prog.load()) return -1;
    return execute(0, 0, 0);
  }
  // runs "call n, count" on the argument lines and returns the string
  // result, or "E<n>" when the run ends with an error
  std::string str(const std::string &args, int n, int count) {
    std::string body = "  vstr r(300)\n" + args + "  call " + std::to_string(n) + ", " +
                       std::to_string(count) + "\n  sstore r\n  stop\n";
    int e = run(body);
    return e ? "E" + std::to_string(e) : vm_str(0);
  }
  std::string num(const std::string &args, int n, int count) {
    std::string body = "  num r\n" + args + "  call " + std::to_string(n) + ", " +
                       std::to_string(count) + "\n  store r\n  stop\n";
    int e = run(body);
    return e ? "E" + std::to_string(e) : vm_num(0);
  }
};

INSTANTIATE_TEST_SUITE_P(widths, intr, ::testing::Values(129, 130));

TEST_P(intr, strings_and_numbers) {
  EXPECT_EQ(str("  push 1234.5\n  spush 'Z,ZZ9.V99'\n", 1, 2), "1,234.50");
  EXPECT_EQ(str("  push -12.5\n  spush '+ZZ9V9'\n", 1, 2), " -125");
  EXPECT_EQ(str("  push 65\n", 9, 1), "A");
  EXPECT_EQ(str("  push 65345\n", 9, 1), "\xFF\x41");
  EXPECT_EQ(num("  spush 'hello'\n", 14, 1), "5");
  EXPECT_EQ(num("  spush ''\n", 14, 1), "0");
  EXPECT_EQ(num("  spush 'ABCABC'\n  spush 'CA'\n", 18, 2), "3");
  EXPECT_EQ(num("  spush 'ABC'\n  spush ''\n", 18, 2), "0");
  EXPECT_EQ(num("  spush 'AB'\n  spush 'ABC'\n", 18, 2), "0");
  EXPECT_EQ(num("  spush ' 12.5  '\n", 19, 1), "12.5");
  EXPECT_EQ(num("  spush '12x'\n", 19, 1), "0");
  EXPECT_EQ(num("  spush ''\n", 19, 1), "0");
  EXPECT_EQ(str("  push -7.25\n", 20, 1), "-7.25");
  EXPECT_EQ(num("  push -7.75\n", 22, 1), "-7");
  EXPECT_EQ(num("  spush 'A'\n", 24, 1), "65");
  EXPECT_EQ(num("  spush ''\n", 24, 1), "0");
  EXPECT_EQ(num("  spush '\\xE9'\n", 24, 1), "233");
  EXPECT_EQ(num("", 25, 0), "0");
  EXPECT_EQ(num("", 30, 0), "0");
  EXPECT_EQ(str("  spush 'ab'\n  push 3\n", 47, 2), "ababab");
  EXPECT_EQ(str("  push 3\n  spush 'ab'\n", 47, 2), "ababab");  // the count first
  EXPECT_EQ(str("  spush 'ab'\n  push 0\n", 47, 2), "");
  EXPECT_EQ(str("  spush '  a  '\n", 48, 1), "  a");
  EXPECT_EQ(str("  spush '  a b  '\n  push 3\n", 54, 2), "a b");
  EXPECT_EQ(str("  push 3\n  spush '  a b  '\n", 54, 2), "a b");  // the mode first
  EXPECT_EQ(str("  spush '  a b  '\n  push 1\n", 54, 2), "a b  ");
  EXPECT_EQ(str("  spush '  a b  '\n  push 2\n", 54, 2), "  a b");
  EXPECT_EQ(num("  push -3.5\n", 57, 1), "3.5");
  EXPECT_EQ(num("  push 0\n", 57, 1), "0");
}

// String results built from a temporary on the stack must not be damaged
// by the result written over it.
TEST_P(intr, results_from_temporaries) {
  EXPECT_EQ(str("  spush 'xy'\n  scat 'z  '\n", 48, 1), "xyz");
  EXPECT_EQ(str("  spush ' a'\n  scat 'bc '\n  push 3\n", 54, 2), "abc");
  EXPECT_EQ(str("  spush 'ab'\n  scat 'c'\n  push 4\n", 47, 2), "abcabcabcabc");
  EXPECT_EQ(str("  push 7\n  spush '**'\n  scat '9'\n", 1, 2), "**7");
}

TEST_P(intr, pattern_search_sets_the_length) {
  ASSERT_EQ(run(R"(
  num pos
  num len
  num pos2
  num len2
  spush "abbbcd"
  spush "b*c"
  push len
  call 18, 3
  store pos
  spush "abc"
  spush "^b"
  push len2
  call 18, 3
  store pos2
  stop
)"),
            0);
  EXPECT_EQ(vm_num(0), "2");
  EXPECT_EQ(vm_num(1), "4");
  EXPECT_EQ(vm_num(2), "0");
  EXPECT_EQ(vm_num(3), "0");
}

TEST_P(intr, control_strings) {
  struct {
    const char *args;
    int n, count;
    std::string want;
  } cases[] = {
      {"", 2, 0, "\x08"},
      {"  push 0\n", 2, 1, ""},
      {"  push 3\n", 2, 1, "\x08\x08\x08"},
      {"  push 5\n  push 7\n", 3, 2, "\x1b\x09\x05\x1b\x0b\x07"},
      {"  push 7\n", 3, 1, "\x1b\x0b\x07"},
      {"  push 300\n", 3, 1, "\x1b\x0b\xff"},
      {"", 5, 0, "\x0c"},
      {"  push 2\n", 5, 1, "\x1b\x04"},
      {"  push 3\n", 5, 1, "\x1b\x05"},
      {"  push 7\n", 5, 1, "\x1b\x81"},
      {"  push 4\n", 5, 1, "\x1b\x03"},
      {"  push 9\n  push 2\n", 5, 2, "\x1b\x85\x02"},
      {"  push 2\n", 6, 1, "\x0a\x0a"},
      {"", 7, 0, "\x0c"},
      {"  push 12\n", 8, 1, "\x1b\x09\x0c"},
      {"", 10, 0, "\x1b\x1e"},
      {"", 11, 0, "\x1b\x1d"},
      {"  push 2\n", 12, 1, "\x1b\x20\x1b\x20"},
      {"", 13, 0, "\x0d"},
      {"  push 3\n  push 4\n", 26, 2, "\x1b\x0a\x04\x1b\x01\x03"},
      {"  push 3\n  push 0\n", 26, 2, "\x1b\x01\x03"},
      {"  push 0\n  push 0\n", 26, 2, std::string(1, '\0')},
      {"  push -2\n", 49, 1, "\x1b\x11\x02"},
      {"", 49, 0, "\x1b\x10\x01"},
      {"  push 3\n", 50, 1, "\x1b\x12\x03"},
      {"  push -1\n", 50, 1, "\x1b\x13\x01"},
      {"  push 10\n  push 5\n", 51, 2, "\x1b\x40\x0a\x05"},
      {"  push 10\n  push 5\n  push 5\n  push 3\n", 51, 4, "\x1b\x45\x0a\x05\x03"},
      {"  push 10\n  push 5\n  push 1\n  push 3\n", 51, 4, "\x1b\x41\x0a\x05"},
      {"  push 300\n", 55, 1, "\x1b\x15\x7f"},
      {"  push -1\n", 55, 1, "\x1b\x15\xff"},
      {"  push -5\n", 55, 1, "\x1b\x15\x7f"},
      {"  push 20\n", 55, 1, "\x1b\x15\x14"},
      {"  push 258\n", 58, 1, "\x1b\x16\x02\x01"},
      {"", 59, 0, "\x1b\x17\x01"},
      {"  push 2\n", 59, 1, "\x1b\x17\x02"},
      {"  push 1\n  push 2\n  push 30\n  push 4\n", 60, 4, "\x1b\x18\x01\x02\x1e\x04"},
  };
  for (auto &c : cases) EXPECT_EQ(str(c.args, c.n, c.count), c.want) << c.n << " " << c.args;
}

TEST_P(intr, field_attributes_with_eight_bit_codes) {
  int saved = vx_8bit;
  vx_8bit = 1;
  EXPECT_EQ(str("  push 18\n", 4, 1), "\x1b\x14\x02");
  EXPECT_EQ(str("  push -1\n", 4, 1), "\x1b\x14\x0f");
  EXPECT_EQ(str("", 4, 0), std::string("\x1b\x14\0", 3));
  vx_8bit = saved;
}

TEST_P(intr, wrong_arguments_and_unassigned_numbers) {
  struct {
    const char *args;
    int n, count;
    const char *want;
  } cases[] = {
      {"", 35, 0, "E102"},
      {"", 61, 0, "E102"},
      {"", 63, 0, "E102"},
      {"", 0, 0, "E102"},
      {"  push 1\n", 14, 1, "E104"},                  // a number for a string
      {"  spush 'a'\n", 22, 1, "E104"},               // a string for a number
      {"  spush 'a'\n  spush 'b'\n", 14, 2, "E104"},  // two arguments for one
      {"", 1, 0, "E104"},
      {"  push 1\n", 10, 1, "E104"},
      {"  push 0\n", 3, 1, "E104"},  // a zero position
      {"  push 0\n  push 3\n", 3, 2, "E104"},
      {"  push 0\n", 8, 1, "E104"},
      {"  push 1\n  push 1\n  push 8\n", 51, 3, "E104"},  // mode above 7
      {"  push 0\n  push 1\n", 51, 2, "E104"},
      {"  push 3\n", 59, 1, "E104"},
      {"  push -1\n", 58, 1, "E104"},
      {"  push 32768\n", 58, 1, "E104"},
      {"  push 4\n  push 1\n", 5, 2, "E104"},  // only 8 and 9 take a second argument
      {"  spush ''\n  push 3\n", 47, 2, "E104"},
      {"  push 3\n  push 3\n", 47, 2, "E104"},
      {"  spush 'a'\n  spush 'b'\n", 54, 2, "E104"},
      {"  spush 'x'\n  push 0\n", 54, 2, "E104"},
      {"  push -1\n", 9, 1, "E104"},
      {"  push 2\n", 15, 1, "E104"},
      {"  push 12\n  spush 'ZZ9'\n", 1, 2, " 12"},
      {"  push 1234\n  spush 'ZZ9'\n", 1, 2, "E108"},
      {"  spush 'abc'\n  push 30000\n", 47, 2, "E106"},
      {"  spush 'x'\n  spush 'LKPIDX'\n", 62, 1, "E104"},
      {"  spush 'lkpid'\n", 62, 1, "E104"},
      {"  push 1\n  push 2\n  push 3\n", 60, 3, "E104"},
  };
  for (auto &c : cases) EXPECT_EQ(str(c.args, c.n, c.count), c.want) << c.n << " " << c.args;
  EXPECT_EQ(num("  spush 'abc'\n  spush 'a\\\\)'\n  push r\n", 18, 3), "E104");
  EXPECT_EQ(num("  spush 'abc'\n  spush ''\n  push r\n", 18, 3), "E104");
}

TEST_P(intr, dates_from_the_setting_or_the_clock) {
  char **saved = environ;
  char e1[] =
      "VXDTE=030324140509"
      "20240303140509";
  char e2[] = "VXDTE=0303";
  char *env1[] = {e1, nullptr}, *env2[] = {e2, nullptr};
  env_reset_for_test(env1);
  EXPECT_EQ(str("", 15, 0), "030324140509");
  EXPECT_EQ(str("  push 1\n", 15, 1), "20240303140509");
  env_reset_for_test(env2);
  EXPECT_EQ(str("", 15, 0), std::string("0303\0\0\0\0\0\0\0\0", 12));
  EXPECT_EQ(str("  push 1\n", 15, 1), std::string("0303\0\0\0\0\0\0\0\0\0\0", 14));
  env_reset_for_test(saved);
  std::string now = str("  push 1\n", 15, 1);
  ASSERT_EQ(now.size(), 14u);
  char want[16];
  int n = dte(want, 1);
  EXPECT_EQ(now.substr(0, 8), std::string(want, size_t(n)).substr(0, 8));  // the same day
}

TEST_P(intr, the_environment_read_and_written) {
  char **saved = environ;
  char e1[] = "ALPHA=one", e2[] = "BETA=two";
  char *env[] = {e1, e2, nullptr};
  env_reset_for_test(env);
  ASSERT_EQ(run(R"(
  vstr a(20)
  vstr b(20)
  str name(6)
  vstr v2(20)
  vstr v3(20)
  vstr name3(20)
  spush "BETA"
  call 33, 1
  sstore a
  spush "GAMMA"
  spush "three"
  call 43, 2
  spush "GAMMA"
  call 33, 1
  sstore b
  spush name
  push 2
  call 33, 2
  sstore v2
  spush name3
  push 9
  call 33, 2
  sstore v3
  stop
)"),
            0);
  EXPECT_EQ(vm_str(0), "two");
  EXPECT_EQ(vm_str(1), "three");
  EXPECT_EQ(vm_str(2), "BETA  ");  // a padded variable: filled with spaces
  EXPECT_EQ(vm_str(3), "two");
  EXPECT_EQ(vm_str(4), "");  // past the last entry
  const char *g = vx_getenv("GAMMA");
  EXPECT_STREQ(g ? g : "", "three");
  EXPECT_EQ(str("  spush 'x'\n  push 0\n", 33, 2), "E104");
  EXPECT_EQ(str("  spush ''\n  spush 'v'\n", 43, 2), "E104");
  env_reset_for_test(saved);
}

// Setting MORENAME through the program changes the setting, which is
// re-applied from the environment.
TEST_P(intr, environment_changes_reach_the_settings) {
  char **saved = environ;
  char *env[] = {nullptr};
  env_reset_for_test(env);
  const char *old = more_name;
  EXPECT_EQ(
      str("  spush 'MORENAME'\n  spush '/bin/pager'\n  call 43, 2\n  spush 'MORENAME'\n", 33, 1),
      "/bin/pager");
  EXPECT_STREQ(more_name, "/bin/pager");
  more_name = old;
  env_reset_for_test(saved);
}

TEST_P(intr, system_values_into_variables) {
  ASSERT_EQ(run(R"(
  num a
  num b
  num c
  num t
  num pid
  str tty(30)
  num a2
  num b2
  num c2
  push a
  push b
  push c
  push t
  push pid
  call 27, 5
  push a2
  push b2
  push c2
  spush tty
  call 27, 4
  stop
)"),
            0);
  EXPECT_EQ(vm_num(0), std::to_string(zrfeq));
  EXPECT_EQ(vm_num(1), std::to_string(zrmeq));
  EXPECT_EQ(vm_num(2), std::to_string(zrceq));
  EXPECT_EQ(vm_num(3), std::to_string(zrteq));
  EXPECT_EQ(vm_num(4), std::to_string(getpid()));
  const char *t = ttyname(2);
  std::string want = t ? t : "";
  want.resize(30, ' ');
  EXPECT_EQ(vm_str(5), want);
}

TEST_P(intr, error_number_inside_a_handler) {
  ASSERT_EQ(run(R"(
  num before
  num inside
  num v(2)
  call 16, 0
  store before
  trap
  jmp.l body
handler:
  call 16, 0
  store inside
  stop
body:
  push 5
  push v()
  stop
)"),
            0);
  EXPECT_EQ(vm_num(0), "0");
  EXPECT_EQ(vm_num(1), "100");
}

TEST_P(intr, product_user_and_error_information) {
  std::string ident = isys_ident;
  EXPECT_EQ(ident.rfind("Quillon run ", 0), 0u);
  EXPECT_GT(ident.size(), std::string("Quillon run ").size());  // and the version
  EXPECT_EQ(str("", 44, 0), ident);
  EXPECT_EQ(str("  spush 'R'\n", 44, 1), ident);
  EXPECT_EQ(str("  spush 'O'\n", 44, 1), "UNIX");
  EXPECT_EQ(str("  spush 'U'\n", 44, 1), std::to_string(getuid()));
  EXPECT_EQ(str("  spush 'L'\n", 44, 1), getuname(getuid()));
  EXPECT_EQ(str("  spush 'Q'\n", 44, 1), "");
  std::snprintf(err_msg_last, sizeof err_msg_last, "%s", "ERROR 100");
  EXPECT_EQ(str("  spush 'ERRMSG'\n", 62, 1), "ERROR 100");
  EXPECT_EQ(str("  spush 'RCHAIN'\n  push 9\n", 62, 2), "");
}

// A chain to a missing program is trapped; the handler reads the file and
// the address of the error.
TEST_P(intr, file_and_address_of_the_last_error) {
  ASSERT_EQ(run(R"(
  vstr file(100)
  vstr addr(10)
  num err
  trap
  jmp.l body
handler:
  call 46, 0
  sstore file
  call 45, 0
  sstore addr
  call 16, 0
  store err
  stop
body:
  spush "nosuchprogram"
  call 21, 1
  stop
)"),
            0);
  EXPECT_NE(vm_str(0).find("nosuchprogram"), std::string::npos) << vm_str(0);
  char want[8];
  std::snprintf(want, sizeof want, "%04X", unsigned(erraddr));
  EXPECT_EQ(vm_str(1), want);
  EXPECT_NE(erraddr, 0u);
  EXPECT_EQ(vm_num(2), "9");
}

// Through the case table of the character set (start-up builds it).
TEST_P(intr, case_conversion_in_place) {
  kmap_init();
  ASSERT_EQ(run(R"(
  vstr a(10)
  str b(6)
  spush "MiXed 1"
  sstore a
  spush "MiXed"
  sstore b
  spush a
  call 37, 1
  spush b
  call 38, 1
  stop
)"),
            0);
  EXPECT_EQ(vm_str(0), "MIXED 1");
  EXPECT_EQ(vm_str(1), "mixed ");
}

TEST_P(intr, pause_waits_its_milliseconds) {
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(run("  push 120\n  call 39, 1\n  stop\n"), 0);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_GE(ms.count(), 120);
  EXPECT_LT(ms.count(), 2000);
}

// The capability queries against the terminfo entry read directly.
TEST_P(intr, terminal_capabilities) {
  int status = 0;
  ASSERT_EQ(setupterm(const_cast<char *>("vt100"), -1, &status), 0);
  char am[] = "am", cols[] = "cols", el[] = "el";
  std::string flag = tigetflag(am) > 0 ? "1" : "0";
  int ncols = tigetnum(cols);
  std::string to_eol = tigetstr(el) ? tigetstr(el) : "";
  ASSERT_EQ(run(R"(
  vstr f(10)
  vstr n(10)
  vstr s(40)
  vstr cut(2)
  vstr none(10)
  vstr r(40)
  spush "am:"
  spush f
  call 34, 2
  sstore r
  spush "co#"
  spush n
  call 34, 2
  spush "ce="
  spush s
  call 34, 2
  spush "ce"
  spush cut
  call 34, 2
  spush "zz"
  spush none
  call 34, 2
  stop
)"),
            0);
  EXPECT_EQ(vm_str(0), flag);
  EXPECT_EQ(vm_str(5), flag);  // the result is the text stored
  EXPECT_EQ(vm_str(1), std::string(1, char(ncols)));
  EXPECT_EQ(vm_str(2), to_eol);
  EXPECT_EQ(vm_str(3), to_eol.substr(0, 2));  // bounded by the variable
  EXPECT_EQ(vm_str(4), "");
  EXPECT_EQ(str("  spush 'cex'\n  spush r\n", 34, 2), "E104");
  EXPECT_EQ(str("  spush 'c'\n  spush r\n", 34, 2), "E104");
  del_curterm(cur_term);
}

// The I/O error of a file statement that went to its ERR label, and the
// process holding a refused lock.
TEST_P(intr, errors_of_the_file_layer) {
  zrerf = 0;  // what the last statement of an earlier test left
  ASSERT_EQ(run(R"(
  num before
  num e
  num v
  call 17, 0
  store before
  push 1
  pusha bad
  io read, A, B
  push v
  ionum
  ioend
  stop
bad:
  call 17, 0
  store e
  stop
)"),
            0);
  EXPECT_EQ(vm_num(0), "0");
  EXPECT_EQ(vm_num(1), "22");  // the unit is not open
  pid_t saved = lk_pid;
  lk_pid = 4321;
  EXPECT_EQ(str("  spush 'LKPID'\n", 62, 1), "4321");
  lk_pid = saved;
}

// Keys put into the type-ahead buffer come back from the key function.
TEST_P(intr, keys_typed_ahead_by_the_program) {
  kbd_init();
  ASSERT_EQ(run(R"(
  vstr k1(4)
  vstr k2(4)
  vstr k3(4)
  spush "Ab"
  call 41, 1
  spush "\xFF\x05"
  call 41, 1
  spush ""
  call 41, 1
  push 1
  call 23, 1
  sstore k1
  push 1
  call 23, 1
  sstore k2
  push 1
  call 23, 1
  sstore k3
  stop
)"),
            0);
  EXPECT_EQ(vm_str(0), "A");         // the first character only
  EXPECT_EQ(vm_str(1), "\xFF\x05");  // function key 5
  EXPECT_EQ(vm_str(2), "");          // nothing more typed ahead
  kbd_init();
}

// The screen's functions without a screen: a label outside 0..10 is
// empty, and the index status is built (unit 1 is not open).
TEST_P(intr, functions_that_need_no_screen) {
  EXPECT_EQ(str("", 42, 0), "E104");  // no screen to read
  EXPECT_EQ(str("  push 11\n", 53, 1), "");
  EXPECT_EQ(str("  push -1\n", 53, 1), "");
  EXPECT_EQ(str("  push 1\n  push 2\n  push 3\n  push 4\n  push 5\n", 36, 5), "E22");
}

// The screen started as run starts it (xterm-256color, 80 x 24); its
// bytes for the terminal are collected, not sent.
struct intr_screen : intr {
  std::string out;
  const char *terminal = active_terminal;
  void SetUp() override {
    intr::SetUp();
    phys_capture_for_test(&out);
    kmap_init();
    sc_reset_for_test();
    tc_reset_for_test();
    active_terminal = "xterm-256color";
    inicap();
    ASSERT_EQ(sc_init(), 1);
  }
  void TearDown() override {
    sc_reset_for_test();
    tc_reset_for_test();
    phys_capture_for_test(nullptr);
    active_terminal = terminal;
    intr::TearDown();
  }
  void put(const std::string &bytes) { zoutnc(bytes.data(), int(bytes.size())); }
  // row r, column c (1-based) of the screen language
  static std::string at(int r, int c) {
    return std::string("\x1b\x0b") + char(r) + "\x1b\x09" + char(c);
  }
};

INSTANTIATE_TEST_SUITE_P(widths, intr_screen, ::testing::Values(129, 130));

TEST_P(intr_screen, reading_back_the_screen) {
  put(at(3, 5) + "HELLO" + at(24, 78) + "XY");
  std::string att(1, char(sc_cell(2, 4).att));
  EXPECT_EQ(str("  push 3\n  push 5\n  push 5\n", 42, 3), "HELLO");
  EXPECT_EQ(str("  push 3\n  push 5\n  push 2\n  spush 'A'\n", 42, 4), att + "H" + att + "E");
  EXPECT_EQ(str("  push 3\n", 42, 1), "    HELLO" + std::string(71, ' '));
  EXPECT_EQ(num("  call 42, 0\n", 14, 1), "1920");
  EXPECT_EQ(num("  spush 'A'\n  call 42, 1\n", 14, 1), "3840");
  EXPECT_EQ(num("  push 2\n  spush 'A'\n  call 42, 2\n", 14, 1), "160");
  // a request past the end is cut there
  EXPECT_EQ(str("  push 24\n  push 78\n  push 10\n", 42, 3), "XY ");
  struct {
    const char *args;
    int count;
  } bad[] = {
      {"  push 0\n", 1},                       // row 0
      {"  push 25\n", 1},                      // below the screen
      {"  push 1\n  push 0\n  push 3\n", 3},   // column 0
      {"  push 1\n  push 81\n  push 3\n", 3},  // right of the screen
      {"  push 1\n  push 1\n  push 0\n", 3},   // no cells
      {"  push 1\n  push 1\n", 2},             // a column without its length
      {"  push 1\n  spush 'B'\n", 2},          // not "A"
      {"  push 1\n  push 1\n  push 1\n  spush 'AA'\n", 4},
  };
  for (auto &b : bad) EXPECT_EQ(str(b.args, 42, b.count), "E104") << b.args;
}

TEST_P(intr_screen, codes_labels_and_size_of_the_terminal) {
  EXPECT_EQ(str("", 4, 0), "\x8b");  // the normal attribute's code
  EXPECT_EQ(str("  push 4\n", 4, 1), "\x8f");
  EXPECT_EQ(str("  push 20\n", 4, 1), "\x8f");  // modulo 16
  EXPECT_EQ(str("  push 13\n", 4, 1), "\x9b");  // 12-15 repeat 4-7
  EXPECT_EQ(str("  push 3\n", 53, 1), "F3");    // xterm has no labels of its own
  EXPECT_EQ(str("  push 0\n", 53, 1), "F0");
  EXPECT_EQ(str("", 60, 0), "\x1b\x18\x01\x01\x50\x18");  // the whole screen
}

TEST_P(intr_screen, colour_map_set_and_read) {
  ASSERT_EQ(run("  push 20\n  push 8\n  push 1\n  push -1\n  call 56, 4\n"
                "  push 0\n  push 1\n  push 2\n  push 3\n  spush 'S'\n  call 56, 5\n  stop\n"),
            0);
  EXPECT_EQ(camap_size, 32);
  EXPECT_EQ(norm_attribute, CA_NORMAL);
  auto read = [&](int code) {
    std::string body = "  num a\n  num f\n  num b\n  push " + std::to_string(code) +
                       "\n  push a\n  push f\n  push b\n  spush 'G'\n  call 56, 5\n  stop\n";
    if (run(body) != 0) return std::string("error");
    return vm_num(0) + " " + vm_num(1) + " " + vm_num(2);
  };
  EXPECT_EQ(read(20), "8 1 255");
  EXPECT_EQ(read(0), "1 2 3");
  EXPECT_EQ(read(17), "0 0 0");   // grown, never set
  EXPECT_EQ(read(200), "1 2 3");  // past the map: entry 0
  EXPECT_EQ(read(255), "1 2 3");
  EXPECT_EQ(read(254), "0 255 255");  // the normal look
  EXPECT_EQ(str("  push 128\n  push 0\n  push 0\n  push 0\n", 56, 4), "E104");
  EXPECT_EQ(str("  push -1\n  push 0\n  push 0\n  push 0\n", 56, 4), "E104");
  EXPECT_EQ(str("  push 1\n  push 0\n  push 0\n  push 0\n  spush 'X'\n", 56, 5), "E104");
}

}  // namespace
