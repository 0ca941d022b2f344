// The cached stack top and the joined instructions against the plain
// cycle, in which every entry is written onto the image and every
// instruction runs alone.  Random well-formed programs must leave the same
// variables, the same result and, when a budget stops them, the same stack
// bytes in both; and the stack limit must stop the same instruction.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/interp/exec.h"
#include "run/numeric/zops.h"
#include "run/startup/startup.h"
#include "tests/interp/asmrun.h"
#include "tests/interp/vm.h"

namespace {

// What a run leaves behind.
struct outcome {
  int result;
  uint32_t preg, stkp;
  std::vector<uint8_t> below;  // the image under the stack bottom
  std::vector<uint8_t> stack;  // the stack entries
  bool operator==(const outcome &) const = default;
};

struct cache : ::testing::TestWithParam<int> {
  asm_program prog;
  void SetUp() override {
    run_hooks();
    nonstop = 1;
  }
  void TearDown() override {
    zx_budget_for_test(0);
    zx_plain_for_test(false);
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
  bool assemble(const std::string &body) { return prog.assemble(GetParam(), body); }
  // loads the assembled program afresh; returns the stack bottom
  uint32_t load() { return prog.load(); }
  // runs the loaded program in the plain or the ordinary cycle
  int execute_as(bool plain, uint64_t budget) {
    zx_plain_for_test(plain);
    zx_budget_for_test(budget);
    return execute(0, 0, 0);
  }
  outcome run(bool plain, uint64_t budget) {
    uint32_t bottom = load();
    outcome o;
    o.result = execute_as(plain, budget);
    o.preg = zp.preg;
    o.stkp = zp.stkp;
    o.below.assign(zm.zu, zm.zu + bottom);
    // an untrapped error leaves the entries of its expression behind on
    // the plain stack only; stopped by the budget, both must agree
    if (o.result == 0 || o.result == ERR_BREAK) {
      if (o.stkp >= bottom) o.stack.assign(zm.zu + bottom, zm.zu + o.stkp);
    } else {
      o.stkp = 0;
    }
    return o;
  }
};

INSTANTIATE_TEST_SUITE_P(widths, cache, ::testing::Values(129, 130));

// Random programs over a few numbers, an array and a string: expressions
// of every operand form, stores, comparisons joined to jumps (or kept for
// not/and/or), counting loops with constant and variable limits and
// steps, conversions that write the cache out mid-expression, and the odd
// error, which the program's handler counts before it stops.
struct gen {
  std::mt19937 r;
  std::string out;
  int label = 0;
  explicit gen(unsigned start) : r(start) {}

  int pick(int n) { return int(r() % unsigned(n)); }
  std::string var() { return std::string(1, char('a' + pick(4))); }
  std::string constant() {
    static const char *lits[] = {
        "0", "1", "7", "12.34", "-3", "0.005", "1000", "99999999999999", "0.01", "-0.5"};
    return lits[pick(10)];
  }
  std::string operand() {
    switch (pick(4)) {
      case 0:
        return constant();
      case 1:  // an array element: the subscript first (now and then out of range)
        line("push " + std::to_string(pick(40) == 0 ? 6 : 1 + pick(5)));
        return "v()";
      default:
        return var();
    }
  }
  void line(const std::string &s) { out += "  " + s + "\n"; }
  std::string fresh() { return "L" + std::to_string(label++); }

  void expr(int depth) {
    if (depth == 0 || pick(3) == 0) {
      line("push " + operand());
      return;
    }
    static const char *ops[] = {"add", "sub", "mul", "div", "rem"};
    expr(depth - 1);
    switch (pick(6)) {
      case 0:  // the right operand computed on the stack
        expr(depth - 1);
        line(std::string(ops[pick(5)]) + " *");
        break;
      case 1:  // through a string and back: the cache is written out
        line("push " + var());
        line("ntos");
        line("ston");
        line(std::string(ops[pick(5)]) + " *");
        break;
      case 2:
        line("neg " + operand());
        line(std::string(ops[pick(2)]) + " *");
        break;
      default: {
        std::string o = operand();
        line(std::string(ops[pick(5)]) + " " + o);
      }
    }
  }

  void condition() {
    static const char *rels[] = {"eq", "ne", "lt", "le", "gt", "ge"};
    expr(2);
    if (pick(2)) {
      expr(1);
      line(std::string(rels[pick(6)]) + " *");
    } else {
      line(std::string(rels[pick(6)]) + " " + operand());
    }
    if (pick(4) == 0) line("not");
    if (pick(4) == 0) {
      expr(1);
      line(std::string(rels[pick(6)]) + " " + var());
      line(pick(2) ? "and" : "or");
    }
  }

  void statement(int depth) {
    switch (pick(depth > 0 ? 7 : 5)) {
      case 0:
      case 1:
        expr(3);
        line("store " + var());
        break;
      case 2:
        line("push " + std::to_string(pick(40) == 0 ? 0 : 1 + pick(5)));
        expr(2);
        line("store v()");
        break;
      case 3:  // string work between numbers
        line("push " + var());
        line("spush \"n=\"");
        line("push " + var());
        line("ntos");
        line("scat *");
        line("sstore s");
        line("store " + var());
        break;
      case 4:
        if (pick(30) == 0) {  // a string where a number belongs: 104
          line("push a");
          line("add s");
          line("store a");
        } else {
          line("push " + var());
          line("add 1");
          line("store " + var());
        }
        break;
      case 5: {
        std::string skip = fresh();
        condition();
        line(std::string(pick(2) ? "jt" : "jf") + (pick(3) == 0 ? ".l " : " ") + skip);
        statement(depth - 1);
        out += skip + ":\n";
        break;
      }
      default: {  // for i (j inside) = start to limit step s
        std::string body = fresh(), done = fresh(), cv = depth == 2 ? "i" : "j";
        // now and then the variable itself is its limit
        std::string limit = pick(8) == 0 ? "push " + cv
                            : pick(2)    ? "push " + var()
                                         : "push " + std::to_string(pick(16));
        std::string step = pick(3) == 0 ? "push -1" : pick(2) ? "push 1" : "push " + var();
        line("push " + std::to_string(pick(5)));
        line("store " + cv);
        line("push 1");
        line(limit);
        line(step);
        line("loop " + cv);
        line("jf.l " + done);
        out += body + ":\n";
        if (pick(5)) statement(depth - 1);  // else an empty body
        line("push 0");
        line(limit);
        line(step);
        line("loop " + cv);
        line(std::string("jt") + (pick(2) ? ".l " : " ") + body);
        out += done + ":\n";
      }
    }
  }

  std::string program() {
    out =
        "  num a\n  num b\n  num c\n  num d\n  num i\n  num j\n  num errs\n  num v(5)\n  vstr "
        "s(40)\n";
    line("trap");
    line("jmp.l body");
    out += "handler:\n";
    line("push errs");
    line("add 1");
    line("store errs");
    line("stop");
    out += "body:\n";
    for (const char *v : {"a", "b", "c", "d"}) {
      line("push " + constant());
      line(std::string("store ") + v);
    }
    int n = 4 + pick(12);
    for (int k = 0; k < n; k++) statement(2);
    line("stop");
    return out;
  }
};

TEST_P(cache, random_programs_run_as_in_the_plain_cycle) {
  const char *env = std::getenv("QUILLON_LONG");
  int programs = env && std::string(env) == "1" ? 3000 : 250;
  for (int k = 0; k < programs; k++) {
    gen g(unsigned(k * 7919 + GetParam()));
    std::string src = g.program();
    ASSERT_TRUE(assemble(src));
    outcome plain = run(true, 20000), cached = run(false, 20000);
    ASSERT_TRUE(plain == cached) << "program " << k << ": result " << plain.result << " / "
                                 << cached.result << ", preg " << plain.preg << " / " << cached.preg
                                 << "\n"
                                 << src;
    // stopped by the budget anywhere on the way, the stacks agree too
    for (int b = 0; b < 4; b++) {
      uint64_t budget = 1 + g.r() % 600;
      plain = run(true, budget);
      cached = run(false, budget);
      ASSERT_TRUE(plain == cached)
          << "program " << k << " with budget " << budget << ": result " << plain.result << " / "
          << cached.result << ", preg " << plain.preg << " / " << cached.preg << ", stack "
          << plain.stkp << " / " << cached.stkp << "\n"
          << src;
    }
  }
}

// Pushes that the cache holds meet the stack limit at the same push as on
// the image: numbers, references and a truth value, with the limit set
// exactly at the last byte they need and one byte below it.
TEST_P(cache, stack_limit_stops_the_same_push) {
  ASSERT_TRUE(assemble(R"(
  num x
  num y
  push 3
  push x
  push 2.5
  lt y
  push 7
  stop
)"));
  uint32_t a = GetParam() == 130 ? 3 : 2, dl = a + 5;
  uint32_t num = 2 * a + 8 + dl, ref = 2 * a, truth = a + 2;
  // the most is needed at "lt y", whose operand is checked as if pushed
  uint32_t need = std::max(2 * num + 2 * ref, 2 * num + ref + truth);
  for (bool plain : {true, false}) {
    for (uint32_t short_by : {0u, 1u}) {
      uint32_t bottom = load();
      zm.zrsck = bottom + need - short_by;
      EXPECT_EQ(execute_as(plain, 100), short_by ? ERR_STACK : 0)
          << "plain " << plain << ", short by " << short_by;
    }
  }
}

}  // namespace

namespace {

// A block that reads a variable through a descriptor which the program
// binds to another variable between two runs of the block must read the
// new one: the block is checked against the descriptor bytes it decoded.
TEST_P(cache, block_follows_a_rebound_descriptor) {
  ASSERT_TRUE(assemble(R"(
  num a
  num b
  num p
  num sum
  num i
  push 1
  store a
  push 100
  store b
  push a
  bind p
  push 1
  store i
  push 1
  push 4
  push 1
  loop i
  jf.l done
body:
  push sum
  add p
  store sum
  push i
  ne 2
  jt next
  push b
  bind p
next:
  push 0
  push 4
  push 1
  loop i
  jt body
done:
  stop
)"));
  for (bool plain : {true, false}) {
    load();
    ASSERT_EQ(execute_as(plain, 10000), 0);
    EXPECT_EQ(vm_num(3), "202") << "plain " << plain;
  }
}

}  // namespace

namespace {

// A variable holding damaged bytes (a leading zero digit, a nibble above 9)
// counts with its face value in a block as in the plain cycle; a number the
// block stored itself is canonical and is read as it lies.
TEST_P(cache, blocks_read_damaged_numbers_at_face_value) {
  ASSERT_TRUE(assemble(R"(
  num a
  num b
  num c
  num i
  push 1
  store i
  push 1
  push 3
  push 1
  loop i
  jf.l done
body:
  push b
  add a
  store b
  push b
  mul 2
  store c
  push a
  push a
  add *
  add c
  store c
  push 0
  push 3
  push 1
  loop i
  jt body
done:
  stop
)"));
  const uint8_t damaged[][8] = {{0x01, 0x23, 0, 0, 0, 0, 0, 0x43},
                                {0x1A, 0x00, 0, 0, 0, 0, 0, 0x42},
                                {0x00, 0x00, 0, 0, 0, 0, 0, 0xC1}};
  for (const auto &bytes : damaged) {
    std::string got[2];
    for (bool plain : {true, false}) {
      load();
      std::memcpy(zm.zu + vm_addr(0), bytes, 8);
      ASSERT_EQ(execute_as(plain, 10000), 0);
      got[plain] = vm_num(1) + " " + vm_num(2);
    }
    EXPECT_EQ(got[0], got[1]);
  }
}

}  // namespace
