// The dispatch loop: programs built with the test builder, run in
// process, their variables read back from the image.  Every test runs in
// both address widths.
#include <gtest/gtest.h>

#include <sys/time.h>
#include <csignal>
#include <cstring>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/interp/exec.h"
#include "run/interp/opcodes.h"
#include "run/numeric/zops.h"
#include "run/startup/startup.h"
#include "tests/interp/vm.h"

namespace {

// operand-group opcodes: operation | form << 5 | source
constexpr int VAR = 0x80, F1 = 0x20, F2 = 0x40;
enum { ADD = 1, SUB, MUL, DIV, REM, PUSH, NEG, STORE, EQ, NE, LT, LE, GT, GE };
enum { SPUSH = 16, SSUB, SSTORE, SSTOREL, SCAT, SSUBCAT, SEQ, SNE, SLT, SLE, SGT, SGE };
enum { JT = 112, JF, JMP, JMPC, GOSUBC, GOSUB, CALL, MACH = 120, LOOP = 122, PUSHA, BIND = 125 };

struct exec : ::testing::TestWithParam<int> {
  vm_prog p;
  void SetUp() override {
    p.pcode = GetParam();
    nonstop = 1;
    zx_budget_for_test(1000000);
  }
  void TearDown() override {
    zx_budget_for_test(0);
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
  int run(int stepping = 0) {
    vm_load(p);
    return execute(0, stepping, 0);
  }
  // short jump from here to target (a code offset)
  void jump(int opc, size_t target) { p.op({opc, int(int8_t(int(target) - int(p.here())))}); }
  // forward short jump; returns the place to patch with land()
  size_t jump_fwd(int opc) {
    p.op({opc, 0});
    return p.here() - 2;
  }
  void land(size_t j) { p.code[j + 1] = uint8_t(p.here() - j); }
};

INSTANTIATE_TEST_SUITE_P(widths, exec, ::testing::Values(129, 130));

// Each relation on each of three pairs, through both conditional jumps.
TEST_P(exec, numeric_and_string_relations) {
  const char *pairs[][2] = {{"1", "2"}, {"2", "2"}, {"3", "-2"}};
  const char *spairs[][2] = {{"AB", "AB "}, {"AB", "AB"}, {"B", "AB"}};
  int cmp[3] = {-1, 0, 1};
  int f[2][6][3];
  for (auto &g : f)
    for (auto &rel : g)
      for (int &v : rel) v = p.num();
  for (int s = 0; s < 2; s++)
    for (int rel = 0; rel < 6; rel++)
      for (int k = 0; k < 3; k++) {
        if (s == 0) {
          p.lit(pairs[k][0]);
          p.lit(pairs[k][1]);
          p.op({VAR | (EQ + rel), 0});
        } else {
          p.slit(spairs[k][0]);
          p.op({F2 | (SEQ + rel), int(std::strlen(spairs[k][1]))});
          for (const char *c = spairs[k][1]; *c; c++) p.op({*c});
        }
        size_t j = jump_fwd(rel % 2 ? JT : JF);
        p.op({31});
        p.at(VAR | STORE, f[s][rel][k]);
        land(j);
      }
  p.stop();
  ASSERT_EQ(run(), 0);
  for (int s = 0; s < 2; s++)
    for (int rel = 0; rel < 6; rel++)
      for (int k = 0; k < 3; k++) {
        int c = cmp[k];
        bool t = rel == 0   ? c == 0
                 : rel == 1 ? c != 0
                 : rel == 2 ? c < 0
                 : rel == 3 ? c <= 0
                 : rel == 4 ? c > 0
                            : c >= 0;
        // JF skips the store when false, JT skips it when true
        bool stored = rel % 2 ? !t : t;
        EXPECT_EQ(vm_num(f[s][rel][k]), stored ? "1" : "0") << s << " rel " << rel << " pair " << k;
      }
}

TEST_P(exec, truth_operations_and_jumps) {
  int r[4];
  for (int &v : r) v = p.num();
  auto t = [&] { p.op({31, F1 | EQ}); };  // 1 = 1
  auto f = [&] { p.op({31, EQ, 2}); };    // 1 = 2
  auto result = [&](int to) {             // to = 1 when the truth is 1
    size_t j = jump_fwd(JF);
    p.op({31});
    p.at(VAR | STORE, to);
    land(j);
  };
  t(), f(), p.op({96}), result(r[0]);
  t(), f(), p.op({225}), result(r[1]);
  f(), p.op({98}), result(r[2]);
  auto over_bad = [&](int opc) {  // a long jump over an illegal opcode
    size_t l = p.here();
    p.jump_long(opc, 0);
    p.op({0});
    p.patch_long(l, p.here());
  };
  over_bad(242);
  t(), over_bad(240);
  f(), over_bad(241);
  f();
  size_t l = p.here();
  p.jump_long(240, 0);  // not taken: falls through to the store
  p.op({31});
  p.at(VAR | STORE, r[3]);
  p.patch_long(l, p.here());
  p.stop();
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(vm_num(r[0]), "0");
  EXPECT_EQ(vm_num(r[1]), "1");
  EXPECT_EQ(vm_num(r[2]), "1");
  EXPECT_EQ(vm_num(r[3]), "1");
  EXPECT_EQ(zstk_ptr(), FRAME_BOTTOM);  // every truth value was consumed
}

TEST_P(exec, concatenation_appends_to_a_temporary_in_place) {
  int s = p.str(10);
  p.op({SPUSH | F2, 3, 'a', 'b', 'c'});  // a literal in the code
  p.lit("12");
  p.op({107});  // "12": its characters are on the stack
  p.op({SCAT | F2, 2, 'x', 'y'});
  p.op({SCAT | F2, 1, 'z'});
  p.op({SCAT | VAR, 0});  // joins "abc" (a literal) and "12xyz"
  p.at(VAR | SSTORE, s);
  p.stop();
  vm_load(p);
  uint32_t bottom = zp.stkp, a = uint32_t(zw.adr_len);
  // run up to the second concatenation and look at where "12xy" lies
  zx_budget_for_test(5);
  EXPECT_EQ(execute(0, 0, 0), ERR_BREAK);
  zdesc top = zdesc_get(ztop_value());
  uint32_t first = bottom + a + uint32_t(zw.dsc_len) + 2 * a;  // after the literal's entry
  EXPECT_EQ(top.addr, first);
  EXPECT_EQ(vm_bytes(top.addr, top.dim1), "12xy");
  zx_budget_for_test(1000);
  vm_load(p);
  ASSERT_EQ(execute(0, 0, 0), 0);
  EXPECT_EQ(vm_str(s), "abc12xyz");
}

TEST_P(exec, errors_of_the_loop) {
  struct {
    const char *what;
    std::vector<int> code;
    int want;
  } cases[] = {
      {"operation 0", {0}, ERR_BADCODE},
      {"operation 28", {28 + 128}, ERR_BADCODE},
      {"opcode 101", {101}, ERR_BADCODE},
      {"opcode 252", {252}, ERR_BADCODE},
      {"machine command 5", {120, 5}, ERR_BADCODE},
      {"inline number of 9 bytes", {70, 9}, ERR_BADCODE},
      {"AND without truth values", {31, 47, 96}, ERR_BADCODE},
      {"add with an empty stack", {ADD | VAR, 0}, ERR_BADCODE},
      {"jump outside the image", {242, 0xFF, 0xFF, 0xFF}, ERR_BADCODE},
      {"number to string of a string", {SPUSH, 'x', 107}, ERR_ARGS},
      {"string where a number is popped", {SPUSH, 'x', 31, ADD | VAR, 0}, ERR_ARGS},
      {"raise a negative number", {31, NEG | VAR, 0, 120, 4}, ERR_ARGS},
      {"string to number of text", {SPUSH | F2, 2, '1', 'x', 108}, ERR_NUMBER},
      {"string to number of nothing", {SPUSH | F1, 108}, ERR_NUMBER},
      {"string to number of a number", {31, 108}, ERR_ARGS},
      {"raise 300", {70, 2, 0x30, 0x43, 120, 4}, 44},
      {"raise 0", {15, 120, 4}, 256},
      {"raise 256", {70, 3, 0x25, 0x60, 0x43, 120, 4}, 256},
      {"subroutine return without a frame", {99}, 103},
      {"subroutine return on a truth value 0", {15, 31, EQ | VAR, 0, 99}, 103},
      {"subroutine return on a truth value 1", {15, 15, EQ | VAR, 0, 99}, 103},
      {"stack overflow", {15, 114, 0xFF}, ERR_STACK},
      {"endless loop", {114, 0}, ERR_BREAK},
  };
  for (auto &c : cases) {
    p = vm_prog{};
    p.pcode = GetParam();
    for (int b : c.code) p.op({b});
    p.stop();
    zx_budget_for_test(100000);
    EXPECT_EQ(run(), c.want) << c.what;
  }
}

TEST_P(exec, range_and_unbound_errors) {
  int v = p.num_array(3), s = p.str(4), un = p.raw(0x80, 0xFFFF, 0, 0);
  if (GetParam() == 130) p.descs[size_t(un)].addr = 0xFFFFFF;
  struct {
    std::vector<int> pre;
    int opcode, operand;
    int want;
  } cases[] = {
      {{63 + 16}, VAR | F1 | PUSH, v, ERR_RANGE},  // v(4)
      {{15}, VAR | F1 | PUSH, v, ERR_RANGE},       // v(0)
      {{47}, VAR | F1 | SPUSH, s, ERR_RANGE},      // s from 2, length 1
      {{31, 79}, VAR | SSUB, s, ERR_RANGE},        // s(1) length 4, length 1
      {{}, VAR | PUSH, un, ERR_UNBOUND},          {{}, VAR | SPUSH, un, ERR_UNBOUND},
      {{31}, VAR | STORE, un, ERR_UNBOUND},
  };
  for (auto &c : cases) {
    p.code.clear();
    for (int b : c.pre) p.op({b});
    p.at(c.opcode, c.operand);
    p.stop();
    vm_load(p);
    vm_set_str(s, "A");
    EXPECT_EQ(execute(0, 0, 0), c.want) << c.opcode;
  }
  // binding takes an unbound operand: it is how storage gets attached
  p.code.clear();
  p.at(VAR | PUSH, v);
  p.at(BIND, un);
  p.lit("8");
  p.at(VAR | STORE, un);
  p.stop();
  vm_load(p);
  ASSERT_EQ(execute(0, 0, 0), 0);
  EXPECT_EQ(vm_num(v, 0), "8");
}

TEST_P(exec, statement_level_follows_subroutines_unless_stepping_over) {
  size_t g = p.here();
  p.jump_long(245, 0);
  p.stop();
  size_t sub = p.here();
  p.op({123, 0});  // a code-address entry: pointer word is the target
  p.stop();
  p.patch_long(g, sub);
  for (int stepping : {0, 2}) {
    vm_load(p);
    uint32_t bottom = zp.stkp;
    ASSERT_EQ(execute(0, stepping, 0), 0);
    uint32_t frame = zgeta(zp.stkp);
    EXPECT_EQ(zstk_ptr(), vm_code(sub) - zm.zrbas);
    EXPECT_EQ(expr_stack, stepping == 2 ? bottom : frame) << stepping;
  }
}

// Machine commands 2 and 3: arming records where the handler starts (one
// long jump after the command) and sets bit 2; disarming clears 2 and 4.
TEST_P(exec, error_handler_arm_and_disarm) {
  int a = GetParam() == 130 ? 3 : 2;
  p.op({120, 2});
  size_t after = p.here();
  p.stop();
  vm_load(p);
  zrcod2 = 0;
  ASSERT_EQ(execute(0, 0, 0), 0);
  EXPECT_EQ(zrcod2, unsigned(RC2_ARMED));
  EXPECT_EQ(zgeta(zm.zrbas + zp.rcod + 5 * uint32_t(a)),
            vm_code(after) - zm.zrbas + uint32_t(a) + 1);
  p.code.clear();
  p.op({248, 3});
  p.stop();
  vm_load(p);
  zrcod2 = RC2_ARMED | RC2_RUNNING | RC2_DATAPOS;
  ASSERT_EQ(execute(0, 0, 0), 0);
  EXPECT_EQ(zrcod2, unsigned(RC2_DATAPOS));
}

TEST_P(exec, stop_writes_its_message_unless_nonstop) {
  p.stop();
  nonstop = 0;
  testing::internal::CaptureStdout();
  int r = run();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, 0);
  EXPECT_EQ(out, "\r\nSTOP\r\n");
}

TEST_P(exec, wide_operand_numbers) {
  p.wide = true;
  int v[600];
  for (int &x : v) x = p.num();
  p.at(VAR | PUSH, v[599]);
  p.at(VAR | ADD, v[300]);
  p.at(VAR | STORE, v[2]);
  p.stop();
  vm_load(p);
  vm_set_num(v[599], "5");
  vm_set_num(v[300], "0.25");
  ASSERT_EQ(execute(0, 0, 0), 0);
  EXPECT_EQ(vm_num(v[2]), "5.25");
}

// The handler table agrees with the opcode table: opcodes without an
// operation raise 102 at once, constants push their value.
TEST_P(exec, handler_table_follows_the_opcode_table) {
  int x = p.num();
  for (int b = 0; b < 256; b++) {
    ASSERT_EQ(zopcodes[b].code, b);
    if (zopcodes[b].shape != OPS_BAD && zopcodes[b].shape != OPS_CONST) continue;
    p.code.clear();
    p.op({b});
    p.at(VAR | STORE, x);
    p.stop();
    vm_load(p);
    int r = execute(0, 0, 0);
    if (zopcodes[b].shape == OPS_BAD) {
      EXPECT_EQ(r, ERR_BADCODE) << b;
      EXPECT_EQ(zp.preg, vm_code(1)) << b;
    } else {
      EXPECT_EQ(r, 0) << b;
      EXPECT_EQ(vm_num(x), std::to_string(b >> 4)) << b;
    }
  }
}

// An I/O statement of the unassigned operation 14, and a return or a
// procedure call without the frames and tables they need, are malformed.
TEST_P(exec, unbuilt_and_malformed_calls_end_the_run_cleanly) {
  for (std::vector<int> code :
       std::vector<std::vector<int>>{{102, 14, 0}, {103}, {104}, {105}, {100}, {118, 70, 0}}) {
    p.code.clear();
    for (int b : code) p.op({b});
    p.stop();
    EXPECT_EQ(run(), ERR_BADCODE) << code[0];
  }
}

// The error path unwinds the stack for a handler; a chain the program has
// damaged must end the run with 102, not escape the recovery point.
TEST_P(exec, error_path_on_a_damaged_stack_reports_102) {
  int x = p.num();
  p.op({120, 2});  // arm the handler
  size_t j = p.here();
  p.jump_long(242, 0);
  p.stop();  // the handler
  p.patch_long(j, p.here());
  p.op({SPUSH, 'x', 107});  // error 104
  p.stop();
  vm_load(p);
  zpush_ref(vm_desc(x));
  zputa(zp.stkp, zp.stkp + 100);  // its link word now points upward
  EXPECT_EQ(execute(0, 0, 0), ERR_BADCODE);
}

volatile sig_atomic_t *break_flag = &zresc;
void press_break(int) {
  *break_flag = 1;
}

TEST_P(exec, break_key_ends_the_run_with_105) {
  p.op({114, 0});  // loops on itself
  vm_load(p);
  zx_budget_for_test(0);
  struct sigaction sa = {}, old = {};
  sa.sa_handler = press_break;
  ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
  itimerval t = {{0, 0}, {0, 20000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &t, nullptr), 0);
  EXPECT_EQ(execute(0, 0, 0), ERR_BREAK);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(zresc, 0);
}

}  // namespace
