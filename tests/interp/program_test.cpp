// Programs written in the assembler, loaded by the loader and run by the
// dispatch loop, in both address widths; the variables are read back from
// the image by their declaration order.
#include <gtest/gtest.h>

#include <string>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/interp/exec.h"
#include "run/startup/startup.h"
#include "tests/interp/asmrun.h"
#include "tests/interp/vm.h"

namespace {

struct program : ::testing::TestWithParam<int> {
  asm_program prog;
  void SetUp() override {
    run_hooks();
    nonstop = 1;
  }
  void TearDown() override {
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
  // assembles the main routine body, loads it and runs it
  int run(const std::string &body) {
    if (!prog.assemble(GetParam(), body) || !prog.load()) return -1;
    return execute(0, 0, 0);
  }
};

INSTANTIATE_TEST_SUITE_P(widths, program, ::testing::Values(129, 130));

TEST_P(program, arithmetic_in_every_operand_form) {
  ASSERT_EQ(run(R"(
  num a
  num b
  num v(4)
  num m(2, 3)
  num r0
  num r1
  num r2
  num r3
  num r4
  num r5
  num r6
  num r7
  num r8
  push 17.5
  store a
  push 4
  store b
  push 2
  push 3
  store v()        ; v(2) = 3
  push 1
  push 2
  push -2
  store m(,)       ; m(1, 2) = -2
  push a
  add b
  store r0
  push a
  sub 12           ; a packed byte
  store r1
  push a
  mul 1
  store r2
  push a
  div 2.5          ; an inline number
  store r3
  push a
  rem b
  store r4
  neg a
  store r5
  push 2
  push v()
  push 1
  push 2
  mul m(,)
  store r6
  push a
  push b
  sub *            ; both operands on the stack
  store r7
  push 7
  neg *
  store r8
  stop
)"),
            0);
  const char *want[] = {"21.5", "5.5", "17.5", "7", "1.5", "-17.5", "-6", "13.5", "-7"};
  for (int i = 0; i < 9; i++) EXPECT_EQ(vm_num(4 + i), want[i]) << "r" << i;
  EXPECT_EQ(vm_num(2, 1), "3");
  EXPECT_EQ(vm_num(3, 2), "-2");
}

TEST_P(program, strings_concatenate_cut_and_assign) {
  ASSERT_EQ(run(R"(
  vstr s(20)
  str t(6)
  vstr u(20)
  str arr(3, 2)
  vstr w(10)
  num flag
  spush "XYZ"
  sstore t         ; padded: "XYZ   "
  push 1           ; position
  push 2           ; element
  spush "456"
  sstore arr(,)
  spush "ab"
  scat t
  scat 'c'
  sstore s         ; "abXYZ   c"
  push 2           ; position
  push 3           ; length
  ssub s
  push 1           ; position
  push 2           ; element
  push 1           ; length
  ssubcat arr(,)
  push 9
  scat s()         ; from position 9 to the end
  sstore u
  push 2           ; position
  push 2           ; element
  spush arr(,)
  sstore w         ; "56"
  push 1
  spush s()        ; all of s
  sge t            ; "abXYZ   c" >= "XYZ   ": "a" follows "X"
  jf no
  push 1
  store flag
no:
  stop
)"),
            0);
  EXPECT_EQ(vm_str(0), "abXYZ   c");
  EXPECT_EQ(vm_str(1), "XYZ   ");
  EXPECT_EQ(vm_str(2), "bXY4c");
  EXPECT_EQ(vm_str(4), "56");
  EXPECT_EQ(vm_num(5), "1");
}

TEST_P(program, number_string_conversions) {
  ASSERT_EQ(run(R"(
  vstr s(20)
  num n
  num n2
  num n3
  num n4
  push -12.5
  ntos.l
  sstore s
  spush " 4.2  "
  ston
  store n
  push n
  chs              ; on a reference: the variable itself changes
  store n2
  push 0
  chs              ; zero stays zero
  store n3
  push 3
  chs.l
  store n4
  stop
)"),
            0);
  EXPECT_EQ(vm_str(0), "-12.5");
  EXPECT_EQ(vm_num(1), "-4.2");
  EXPECT_EQ(vm_num(2), "-4.2");
  EXPECT_EQ(vm_bytes(vm_addr(3), 8), std::string(8, '\0'));
  EXPECT_EQ(vm_num(4), "-3");
}

TEST_P(program, subroutines_computed_branches_and_loops) {
  ASSERT_EQ(run(R"(
  num x
  num i
  num hits
  num down
  gosub sub1
  push 2
  gosubc after, t2, sub1   ; 2 of 3 takes entry 1
after:
  push 5
  jmpc cont, never         ; out of range: entry 0, no frame
never:
  bad00
cont:
  push 1
  store i
  push 1                   ; for i = 1 to 5
  push 5
  push 1
  loop i
  jf out
body:
  push hits
  add 1
  store hits
  push 0
  push 5
  push 1
  loop i
  jt body
out:
  push 3
  store down
  push 1                   ; for down = 3 to 1 step -1
  push 1
  push -1
  loop down
  jf.l out2
body2:
  push hits
  add 1
  store hits
  push 0
  push 1
  push -1
  loop down
  jt.l body2
out2:
  stop
sub1:
  push x
  add 1
  store x
  rets
t2:
  push x
  add 10
  store x
  rets.l
)"),
            0);
  EXPECT_EQ(vm_num(0), "11");
  EXPECT_EQ(vm_num(1), "6");
  EXPECT_EQ(vm_num(2), "8");
  EXPECT_EQ(vm_num(3), "0");
}

TEST_P(program, errors_end_the_run_with_their_number) {
  struct {
    const char *body;
    int want;
  } cases[] = {
      {"num v(3)\n push 4\n push v()\n stop\n", 100},
      {"bad1c\n", 102},
      {"spush 'x'\n ntos\n stop\n", 104},
      {"top: push 1\n jmp top\n", 106},
      {"spush \"12x\"\n ston\n stop\n", 107},
      {"num z unbound\n push z\n stop\n", 111},
      {"push 300\n raise\n", 44},
      {"push 0\n raise\n", 256},
  };
  for (auto &c : cases) EXPECT_EQ(run(c.body), c.want) << c.body;
}

// An error in a routine that armed a handler continues there, with the
// stack unwound to the routine's frame, even when a truth value lay on top.
TEST_P(program, trapped_error_unwinds_a_truth_value) {
  ASSERT_EQ(run(R"(
  num v(3)
  num x
  trap
  jmp.l body
handler:
  push 5
  store x
  stop
body:
  push 1
  eq 1             ; a truth value
  push 0
  push v()         ; subscript 0: error 100 with the truth value on top
  stop
)"),
            0);
  EXPECT_EQ(vm_num(1), "5");
  EXPECT_EQ(zstk_ptr(), FRAME_BOTTOM);
  EXPECT_FALSE(zstk_is_truth());
}

// A used-up instruction budget must end the run even when the program's
// handler traps the first break.
TEST_P(program, exhausted_budget_is_not_resumed_by_a_handler) {
  zx_budget_for_test(10000);
  EXPECT_EQ(run("  trap\n  jmp.l body\nhandler:\n  jmp handler\nbody:\n  jmp body\n"), ERR_BREAK);
  zx_budget_for_test(0);
}

}  // namespace

namespace {

// A data-list restore or a dropped argument with nothing above the stack
// bottom once popped the bottom itself, and the next push then wrote over
// the common area.
TEST_P(program, popping_the_stack_bottom_is_malformed_and_spares_the_common_area) {
  EXPECT_EQ(run("  num c common 16\n  restore\n  push 15\n  push 15\n  stop\n"), ERR_BADCODE);
  for (uint32_t i = 0; i < 64; i++) ASSERT_EQ(zm.zu[i], 0) << "common byte " << i;
}

}  // namespace
