// zmath_bench: nanoseconds per decimal operation of run's arithmetic beside
// GCC's IEEE decimal type (_Decimal64, here through mode(DD)) on the same
// values, in the same program; then the decimal business loop computed
// with both.  Usage: zmath_bench [N of the loop, default 10000000].
//
// Each operation runs over 4096 operand pairs (they stay in the cache) many
// times; the figure is the best of several trials, so that other load on
// the machine shows as little as possible.  Compare the ratios: the
// absolute figures move with the machine.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

#include "run/numeric/zmath.h"

typedef float dec64 __attribute__((mode(DD)));

// Results of the timed passes; external, so that no store is dropped.
bcd_num zb_out[4096];
dec64 zb_dout[4096];

namespace {

constexpr int NPAIR = 4096;
constexpr int TRIALS = 15;

struct operand_set {
  const char *name;  // shown in the table
  bcd_num a[NPAIR], b[NPAIR];
  dec64 da[NPAIR], db[NPAIR];
  bool whole_fits;  // |a| and |a / b| fit an integer: _Decimal64 can truncate
};

bcd_num make(uint64_t m, int e, bool neg) {
  bcd_num n{};
  if (m == 0) return n;
  int nd = 0;
  for (uint64_t t = m; t; t /= 10) nd++;
  for (; nd < 14; nd++) m *= 10;
  for (int i = 13; i >= 0; i--, m /= 10) {
    int dgt = int(m % 10);
    n.dig[i / 2] = uint8_t(n.dig[i / 2] | (i % 2 ? dgt : dgt << 4));
  }
  n.exp = uint8_t((neg ? 0x80 : 0) | (e + 64));
  return n;
}

// v * 10^-scale, as both types: the bcd_num exponent is the digit count
// of v minus scale.
void put(operand_set *s, bool first, int i, uint64_t v, int scale, bool neg) {
  int nd = 0;
  for (uint64_t t = v; t; t /= 10) nd++;
  bcd_num n = make(v, nd - scale, neg);
  dec64 d = dec64((long long)v);
  for (int k = 0; k < scale; k++) d /= dec64(10LL);
  for (int k = 0; k > scale; k--) d *= dec64(10LL);
  if (neg) d = -d;
  (first ? s->a : s->b)[i] = n;
  (first ? s->da : s->db)[i] = d;
}

std::mt19937_64 rng(12345);
uint64_t between(uint64_t lo, uint64_t hi) {
  return lo + rng() % (hi - lo + 1);
}

void fill(operand_set *s, const char *name, int kind) {
  s->name = name;
  s->whole_fits = kind != 4;
  for (int i = 0; i < NPAIR; i++) {
    switch (kind) {
      case 0:  // amounts with 2 decimals, both signs
        put(s, true, i, between(1, 9999999999ULL), 2, rng() % 8 == 0);
        put(s, false, i, between(1, 9999999999ULL), 2, rng() % 8 == 0);
        break;
      case 1:  // amount and quantity
        put(s, true, i, between(1, 9999999999ULL), 2, false);
        put(s, false, i, between(1, 1000), 0, false);
        break;
      case 2:  // amount and rate with 4 decimals
        put(s, true, i, between(1, 9999999999ULL), 2, false);
        put(s, false, i, between(1, 99999), 4, false);
        break;
      case 3: {  // 14 digits, ordinary exponents
        int ea = int(rng() % 11) - 5, eb = int(rng() % 11) - 5;
        put(s, true, i, between(10000000000000ULL, 99999999999999ULL), 14 - ea, rng() % 2);
        put(s, false, i, between(10000000000000ULL, 99999999999999ULL), 14 - eb, rng() % 2);
        break;
      }
      default: {  // 14 digits near the ends of the range
        int ea = rng() % 2 ? 60 : -60, eb = ea + int(rng() % 7) - 3;
        put(s, true, i, between(10000000000000ULL, 99999999999999ULL), 14 - ea, rng() % 2);
        put(s, false, i, between(10000000000000ULL, 99999999999999ULL), 14 - eb, rng() % 2);
        break;
      }
    }
  }
}

double now_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

volatile int sink;

enum bench_op { B_ADD, B_SUB, B_MUL, B_DIV, B_REM, B_COM, B_INT };

[[gnu::noinline]] void run_ours(bench_op op, const operand_set &s) {
  int acc = 0;
  switch (op) {
    case B_ADD:
      for (int i = 0; i < NPAIR; i++) zm_add(&s.a[i], &s.b[i], &zb_out[i]);
      break;
    case B_SUB:
      for (int i = 0; i < NPAIR; i++) zm_sub(&s.a[i], &s.b[i], &zb_out[i]);
      break;
    case B_MUL:
      for (int i = 0; i < NPAIR; i++) zm_mul(&s.a[i], &s.b[i], &zb_out[i]);
      break;
    case B_DIV:
      for (int i = 0; i < NPAIR; i++) zm_div(&s.a[i], &s.b[i], &zb_out[i]);
      break;
    case B_REM:
      for (int i = 0; i < NPAIR; i++) zm_rem(&s.a[i], &s.b[i], &zb_out[i]);
      break;
    case B_COM:
      for (int i = 0; i < NPAIR; i++) acc += fcom(&s.a[i], &s.b[i]);
      break;
    case B_INT:
      for (int i = 0; i < NPAIR; i++) fint(&s.a[i], &zb_out[i]);
      break;
  }
  sink = acc;
}

dec64 dtrunc(dec64 x) {
  return dec64((long long)x);
}

[[gnu::noinline]] void run_dec(bench_op op, const operand_set &s) {
  int acc = 0;
  switch (op) {
    case B_ADD:
      for (int i = 0; i < NPAIR; i++) zb_dout[i] = s.da[i] + s.db[i];
      break;
    case B_SUB:
      for (int i = 0; i < NPAIR; i++) zb_dout[i] = s.da[i] - s.db[i];
      break;
    case B_MUL:
      for (int i = 0; i < NPAIR; i++) zb_dout[i] = s.da[i] * s.db[i];
      break;
    case B_DIV:
      for (int i = 0; i < NPAIR; i++) zb_dout[i] = s.da[i] / s.db[i];
      break;
    case B_REM:
      for (int i = 0; i < NPAIR; i++) zb_dout[i] = s.da[i] - dtrunc(s.da[i] / s.db[i]) * s.db[i];
      break;
    case B_COM:
      for (int i = 0; i < NPAIR; i++) acc += (s.da[i] > s.db[i]) - (s.da[i] < s.db[i]);
      break;
    case B_INT:
      for (int i = 0; i < NPAIR; i++) zb_dout[i] = dtrunc(s.da[i]);
      break;
  }
  sink = acc;
}

double pass_ns(void (*pass)(bench_op, const operand_set &), bench_op op, const operand_set &s,
               int reps) {
  double t0 = now_ns();
  for (int r = 0; r < reps; r++) pass(op, s);
  return (now_ns() - t0) / (double(reps) * NPAIR);
}

// Best time per operation of each side; the trials of the two sides
// alternate, so that a busy moment of the machine hits both alike.
void row(const char *opname, bench_op op, const operand_set &s) {
  const int reps = 40;
  bool both = s.whole_fits || (op != B_REM && op != B_INT);
  double ours = 1e30, dec = 1e30;
  for (int t = 0; t < TRIALS; t++) {
    double o = pass_ns(run_ours, op, s, reps);
    if (o < ours) ours = o;
    if (!both) continue;
    double d = pass_ns(run_dec, op, s, reps);
    if (d < dec) dec = d;
  }
  if (!both) {
    std::printf("%-8s %-18s %8.1f %11s %8s\n", opname, s.name, ours, "-", "-");
    return;
  }
  std::printf("%-8s %-18s %8.1f %11.1f %8.2f\n", opname, s.name, ours, dec, ours / dec);
}

operand_set amounts, amount_qty, amount_rate, full, limits;

// The decimal business loop on the bare
// arithmetic: AVG is rounded to 2 decimals as int(TOTAL / I * 100 + 0.5)
// / 100, all values being positive.
void business_loop(long n) {
  bcd_num price = make(1234, 2, false), qty{}, total{}, avg{}, sumavg{}, i{};
  const bcd_num one = make(1, 1, false), thousand = make(1, 4, false), hundred = make(1, 3, false),
                half = make(5, 0, false);
  int nd = 0;
  for (long v = n; v; v /= 10) nd++;
  bcd_num t, limit = make(uint64_t(n), nd, false);
  double t0 = now_ns();
  for (zm_add(&i, &one, &i); fcom(&i, &limit) <= 0; zm_add(&i, &one, &i)) {
    zm_add(&qty, &one, &qty);
    if (fcom(&qty, &thousand) > 0) qty = one;
    zm_mul(&price, &qty, &t);
    zm_add(&total, &t, &total);
    zm_div(&total, &i, &t);
    zm_mul(&t, &hundred, &t);
    zm_add(&t, &half, &t);
    fint(&t, &t);
    zm_div(&t, &hundred, &avg);
    zm_add(&sumavg, &avg, &sumavg);
  }
  double ours = (now_ns() - t0) / double(n);

  dec64 dprice = dec64(1234LL) / dec64(100LL), dqty = dec64(0LL), dtotal = dec64(0LL),
        davg = dec64(0LL), dsum = dec64(0LL);
  const dec64 d1 = dec64(1LL), d1000 = dec64(1000LL), d100 = dec64(100LL),
              dhalf = dec64(5LL) / dec64(10LL);
  t0 = now_ns();
  for (long k = 1; k <= n; k++) {
    dec64 dk = dec64((long long)k);
    dqty = dqty + d1;
    if (dqty > d1000) dqty = d1;
    dtotal = dtotal + dprice * dqty;
    davg = dec64((long long)(dtotal / dk * d100 + dhalf)) / d100;
    dsum = dsum + davg;
  }
  double dec = (now_ns() - t0) / double(n);

  auto show = [](const bcd_num &x) {
    static char buf[4][40];
    static int k;
    char *b = buf[k++ % 4];
    // the value as an integer number of cents
    uint64_t m = 0;
    for (int j = 0; j < 7; j++) m = m * 100 + uint64_t((x.dig[j] >> 4) * 10 + (x.dig[j] & 15));
    int e = (x.exp & 0x7F) - 64;
    for (int j = 14; j > e + 2; j--) m /= 10;
    std::snprintf(b, 40, "%" PRIu64 ".%02" PRIu64, m / 100, m % 100);
    return b;
  };
  long long dc_total = (long long)(dtotal * d100), dc_avg = (long long)(davg * d100),
            dc_sum = (long long)(dsum * d100);
  std::printf("\nbusiness loop, N = %ld\n", n);
  std::printf("  run arithmetic  %6.1f ns/iteration  total=%s avg=%s sumavg=%s\n", ours,
              show(total), show(avg), show(sumavg));
  std::printf(
      "  _Decimal64      %6.1f ns/iteration  total=%lld.%02lld avg=%lld.%02lld "
      "sumavg=%lld.%02lld\n",
      dec, dc_total / 100, dc_total % 100, dc_avg / 100, dc_avg % 100, dc_sum / 100, dc_sum % 100);
  std::printf("  ratio           %6.2f\n", ours / dec);
}

}  // namespace

int main(int argc, char **argv) {
  long n = argc > 1 ? std::atol(argv[1]) : 10000000;
  fill(&amounts, "amounts", 0);
  fill(&amount_qty, "amount, quantity", 1);
  fill(&amount_rate, "amount, rate", 2);
  fill(&full, "14 digits", 3);
  fill(&limits, "near the limits", 4);
  std::printf("%-8s %-18s %8s %11s %8s\n", "op", "operands", "run ns", "_Decimal64", "ratio");
  row("add", B_ADD, amounts);
  row("add", B_ADD, full);
  row("add", B_ADD, limits);
  row("sub", B_SUB, amounts);
  row("sub", B_SUB, limits);
  row("mul", B_MUL, amount_qty);
  row("mul", B_MUL, amount_rate);
  row("mul", B_MUL, full);
  row("mul", B_MUL, limits);
  row("div", B_DIV, amount_qty);
  row("div", B_DIV, amount_rate);
  row("div", B_DIV, full);
  row("div", B_DIV, limits);
  row("rem", B_REM, amount_qty);
  row("rem", B_REM, limits);
  row("compare", B_COM, amounts);
  row("compare", B_COM, limits);
  row("int", B_INT, amount_rate);
  row("int", B_INT, limits);
  if (n > 0) business_loop(n);
  return 0;
}
