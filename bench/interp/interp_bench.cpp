// interp_bench.cpp: times three p-code loops in the interpreter.
//   interp_bench count N      FOR I = 1 TO N : NEXT I
//   interp_bench business N   the decimal business loop (running total of
//                             price x quantity, one rounded division)
//   interp_bench string N     concatenate, take a substring, compare
// Prints the nanoseconds per iteration and the loop's results.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/interp/exec.h"
#include "tests/interp/vm.h"

namespace {

constexpr int VAR = 0x80;
enum { ADD = 1, SUB, MUL, DIV, REM, PUSH, NEG, STORE, EQ, NE, LT, LE, GT, GE };

// FOR I = 1 TO N ... NEXT I around body(); the variable of N is given
struct for_loop {
  vm_prog &p;
  int i, n;
  size_t exit_jump = 0, body = 0;
  void begin() {
    p.op({31}), p.at(VAR | STORE, i);
    p.op({31}), p.at(VAR | PUSH, n), p.op({31});  // flag 1: test only
    p.at(122, i);
    exit_jump = p.here();
    p.jump_long(241, 0);
    body = p.here();
  }
  void end() {
    p.op({15}), p.at(VAR | PUSH, n), p.op({31});  // flag 0: step, then test
    p.at(122, i);
    p.jump_long(240, body);
    p.patch_long(exit_jump, p.here());
  }
};

double now() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

void run(const vm_prog &p, void (*init)(const vm_prog &), long n, const char *name) {
  vm_load(p);
  init(p);
  double t0 = now();
  int r = execute(0, 0, 0);
  double t1 = now();
  if (r != 0) {
    std::fprintf(stderr, "%s: execute returned %d\n", name, r);
    std::exit(1);
  }
  std::printf("%s %.1f ns/iteration\n", name, (t1 - t0) / double(n));
}

// a number's text with exactly two decimals, as the workload prints it
std::string cents(const std::string &t) {
  size_t dot = t.find('.');
  std::string whole = t.substr(0, dot), frac = dot == std::string::npos ? "" : t.substr(dot + 1);
  if (whole.empty() || whole == "-") whole += "0";
  return whole + "." + (frac + "00").substr(0, 2);
}

long n_iter;
int v_n, v_total, v_avg, v_sumavg, v_price, v_half, v_cent, v_count, v_a, v_b, v_t;

void init_n(const vm_prog &) {
  vm_set_num(v_n, std::to_string(n_iter).c_str());
}

void init_business(const vm_prog &p) {
  init_n(p);
  vm_set_num(v_price, "12.34");
  vm_set_num(v_half, "0.005");
  vm_set_num(v_cent, "0.01");
}

void init_string(const vm_prog &p) {
  init_n(p);
  vm_set_str(v_a, "HELLO");
  vm_set_str(v_b, "WORLD");
}

void count() {
  vm_prog p;
  int i = p.num();
  v_n = p.num();
  for_loop f{p, i, v_n};
  f.begin();
  f.end();
  p.stop();
  run(p, init_n, n_iter, "count");
  std::printf("i=%s\n", vm_num(i).c_str());
}

void business() {
  vm_prog p;
  int i = p.num(), qty = p.num(), y = p.num();
  v_n = p.num(), v_total = p.num(), v_avg = p.num(), v_sumavg = p.num();
  v_price = p.num(), v_half = p.num(), v_cent = p.num();
  for_loop f{p, i, v_n};
  f.begin();
  // QTY = QTY + 1 : IF QTY > 1000 THEN QTY = 1
  p.at(VAR | PUSH, qty), p.op({0x20 | ADD}), p.at(VAR | STORE, qty);
  p.at(VAR | PUSH, qty), p.op({0x40 | GT, 3, 0x10, 0x00, 0x44});
  size_t skip = p.here();
  p.op({113, 0});
  p.op({31}), p.at(VAR | STORE, qty);
  p.code[skip + 1] = uint8_t(p.here() - skip);
  // TOTAL = TOTAL + PRICE * QTY
  p.at(VAR | PUSH, v_total), p.at(VAR | PUSH, v_price), p.at(VAR | MUL, qty);
  p.op({VAR | ADD, 0}), p.at(VAR | STORE, v_total);
  // AVG = TOTAL / I rounded half up to cents: Y = TOTAL / I + 0.005,
  // AVG = Y - (Y REM 0.01)
  p.at(VAR | PUSH, v_total), p.at(VAR | DIV, i), p.at(VAR | ADD, v_half);
  p.at(VAR | STORE, y);
  p.at(VAR | PUSH, y), p.at(VAR | PUSH, y), p.at(VAR | REM, v_cent);
  p.op({VAR | SUB, 0}), p.at(VAR | STORE, v_avg);
  // SUMAVG = SUMAVG + AVG
  p.at(VAR | PUSH, v_sumavg), p.at(VAR | ADD, v_avg), p.at(VAR | STORE, v_sumavg);
  f.end();
  p.stop();
  run(p, init_business, n_iter, "business");
  std::printf("total=%s avg=%s sumavg=%s\n", cents(vm_num(v_total)).c_str(),
              cents(vm_num(v_avg)).c_str(), cents(vm_num(v_sumavg)).c_str());
}

void string() {
  vm_prog p;
  int i = p.num();
  v_n = p.num(), v_count = p.num();
  v_a = p.str(5, true), v_b = p.str(5), v_t = p.str(20);
  int u = p.str(20);
  for_loop f{p, i, v_n};
  f.begin();
  // T = A + "-" + B : U = T(7 for 5) : IF U = B THEN COUNT = COUNT + 1
  p.at(VAR | 16, v_a), p.op({20, '-'}), p.at(VAR | 20, v_b), p.at(VAR | 18, v_t);
  p.op({6, 7, 6, 5}), p.at(VAR | 17, v_t), p.at(VAR | 18, u);
  p.at(VAR | 16, u), p.at(VAR | 22, v_b);
  size_t skip = p.here();
  p.op({113, 0});
  p.at(VAR | PUSH, v_count), p.op({0x20 | ADD}), p.at(VAR | STORE, v_count);
  p.code[skip + 1] = uint8_t(p.here() - skip);
  f.end();
  p.stop();
  run(p, init_string, n_iter, "string");
  std::printf("t=%s count=%s\n", vm_str(v_t).c_str(), vm_num(v_count).c_str());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: interp_bench count|business|string N\n");
    return 2;
  }
  n_iter = std::atol(argv[2]);
  nonstop = 1;
  if (!std::strcmp(argv[1], "count"))
    count();
  else if (!std::strcmp(argv[1], "business"))
    business();
  else if (!std::strcmp(argv[1], "string"))
    string();
  else
    return 2;
  return 0;
}
