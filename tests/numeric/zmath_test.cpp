// zmath_test.cpp: decimal arithmetic.  Worked cases, the binary-integer
// code against the digit-level reference (zmath_ref.cpp) on random
// operands, against exact integer arithmetic where the digit rules equal
// exact half-up rounding, algebraic properties, damaged operands and the
// bad operation code.  QUILLON_LONG=1 multiplies the random rounds.
#include "run/numeric/zmath.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "run/base/interp.h"
#include "run/base/zsmsg.h"
#include "tests/numeric/zmath_ref.h"

__extension__ typedef unsigned __int128 u128;

namespace {

constexpr uint64_t P13 = 10000000000000ULL;
constexpr uint64_t P14 = 100000000000000ULL;

u128 pow10(int n) {
  u128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

int ndig(u128 v) {
  int n = 0;
  while (v) {
    v /= 10;
    n++;
  }
  return n;
}

// m: 14-digit mantissa (or 0); e: exponent E; the value is 0.m * 10^E.
bcd_num make(uint64_t m, int e, bool neg) {
  bcd_num n{};
  if (m == 0) return n;
  for (int i = 13; i >= 0; i--, m /= 10) {
    int dgt = int(m % 10);
    n.dig[i / 2] = uint8_t(n.dig[i / 2] | (i % 2 ? dgt : dgt << 4));
  }
  n.exp = uint8_t((neg ? 0x80 : 0) | (e + 64));
  return n;
}

uint64_t mant(const bcd_num &n) {
  uint64_t m = 0;
  for (int i = 0; i < 7; i++) m = m * 100 + (n.dig[i] >> 4) * 10 + (n.dig[i] & 15);
  return m;
}
int expo(const bcd_num &n) {
  return (n.exp & 0x7F) - 64;
}
bool neg(const bcd_num &n) {
  return n.exp & 0x80;
}

// An exact value n * 10^e rounded half up to 14 digits, then brought into
// range: the expected result wherever the rules equal exact rounding.
bcd_num exact(bool negative, u128 n, int e) {
  if (n == 0) return bcd_num{};
  int nd = ndig(n);
  if (nd > 14) {
    u128 q = n / pow10(nd - 14);
    if (n / pow10(nd - 15) % 10 >= 5) q++;
    e += nd - 14;
    n = q;
    if (n == P14) {
      n /= 10;
      e++;
    }
  } else {
    e -= 14 - nd;
    n *= pow10(14 - nd);
  }
  int big_e = e + 14;
  if (big_e < -63) return bcd_num{};
  if (big_e > 63) return make(P14 - 1, 63, negative);
  return make(uint64_t(n), big_e, negative);
}

// "-12.5", "1E20", "0.00000000000005": exact decimal literals for tables.
bcd_num num(const char *s) {
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') s++;
  u128 n = 0;
  int e = 0;
  bool point = false;
  for (; *s && *s != 'E'; s++) {
    if (*s == '.') {
      point = true;
      continue;
    }
    n = n * 10 + u128(*s - '0');
    if (point) e--;
  }
  if (*s == 'E') e += std::atoi(s + 1);
  if (n != 0 && ndig(n) > 14) {
    while (n % 10 == 0) {
      n /= 10;
      e++;
    }
    if (ndig(n) > 14) ADD_FAILURE() << "literal needs more than 14 digits";
  }
  return exact(negative, n, e);
}

std::string hex(const bcd_num &n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X %02X %02X %02X %02X", n.dig[0], n.dig[1],
                n.dig[2], n.dig[3], n.dig[4], n.dig[5], n.dig[6], n.exp);
  return buf;
}

bool same(const bcd_num &x, const bcd_num &y) {
  return std::memcmp(&x, &y, 8) == 0;
}

// Normalised or the eight zero bytes; every nibble a digit.
bool canonical(const bcd_num &n) {
  for (int i = 0; i < 7; i++)
    if ((n.dig[i] >> 4) > 9 || (n.dig[i] & 15) > 9) return false;
  if (mant(n) == 0) return n.exp == 0;
  return (n.dig[0] >> 4) != 0;
}

bcd_num op(int opc, const bcd_num &a, const bcd_num &b) {
  bcd_num c;
  std::memset(&c, 0xEE, 8);
  zmathc(opc, &a, &b, &c);
  return c;
}

bcd_num ref(int opc, const bcd_num &a, const bcd_num &b) {
  bcd_num c{};
  switch (opc) {
    case FADD:
      ref_add(&a, &b, &c);
      break;
    case FSUB:
      ref_sub(&a, &b, &c);
      break;
    case FMUL:
      ref_mul(&a, &b, &c);
      break;
    case FDIV:
      ref_div(&a, &b, &c);
      break;
    case FREM:
      ref_rem(&a, &b, &c);
      break;
    case FINT:
      ref_int(&a, &c);
      break;
    default:
      ADD_FAILURE() << "no reference for " << opc;
  }
  return c;
}

long rounds(long normal) {
  const char *v = std::getenv("QUILLON_LONG");
  return v && std::strcmp(v, "1") == 0 ? normal * 20 : normal;
}

// Operand pairs that reach every branch: amounts with few digits, runs of
// nines, exponents close together, far apart and at the limits, zero, and
// pairs whose product lies just below a power of ten or whose quotient
// lies close to 1.
struct operand_gen {
  std::mt19937_64 r{20261207};

  uint64_t mantissa() {
    switch (r() % 8) {
      case 0: {  // an amount: up to 14 digits, then zeros
        int nd = 1 + int(r() % 14);
        uint64_t v = uint64_t(pow10(nd - 1)) + r() % uint64_t(9 * pow10(nd - 1));
        return v * uint64_t(pow10(14 - nd));
      }
      case 1:
        return P14 - 1 - r() % 3;
      case 2:
        return P13 + r() % 3;
      case 3:
        return P13 * (1 + r() % 9) + (r() % 2 ? 0 : 5 * uint64_t(pow10(int(r() % 13))));
      default:
        return P13 + r() % (P14 - P13);
    }
  }
  int exponent() {
    switch (r() % 4) {
      case 0:
        return r() % 2 ? 63 - int(r() % 4) : -63 + int(r() % 4);
      default:
        return int(r() % 127) - 63;
    }
  }
  bcd_num one(int e) {
    if (r() % 32 == 0) return bcd_num{};
    return make(mantissa(), e, r() % 2);
  }
  void pair(bcd_num *a, bcd_num *b) {
    int ea = exponent();
    *a = one(ea);
    int eb = r() % 4 ? ea + int(r() % 33) - 16 : exponent();
    eb = eb < -63 ? -63 : eb > 63 ? 63 : eb;
    *b = one(eb);
    if (r() % 16 == 0 && mant(*a) != 0) {  // product just below 10^27
      uint64_t ma = P13 + r() % 100000;
      *a = make(ma, ea, r() % 2);
      *b = make(uint64_t((pow10(27) - 1) / ma), eb, r() % 2);
    } else if (r() % 16 == 0 && mant(*a) != 0) {  // quotient close to 1
      uint64_t mb = mant(*a) + (r() % 5) - 2;
      if (mb >= P13 && mb < P14) *b = make(mb, eb, r() % 2);
    }
  }
};

const char *op_name(int opc) {
  static const char *names[] = {"", "+", "-", "*", "/", "rem", "", "", "", "int"};
  return names[opc];
}

}  // namespace

TEST(zmath, worked_cases) {
  struct row {
    int opc;
    const char *a, *b, *want;
  };
  const row rows[] = {
      {FADD, "1", "0.00000000000005", "1.0000000000001"},
      {FADD, "1", "0.000000000000049", "1"},  // only the first dropped digit counts
      {FADD, "99999999999999", "1", "1E14"},
      {FADD, "1E20", "6", "1E20"},
      {FADD, "99999999999999", "5.5", "100000000000010"},  // 5.5 is rounded to 6 first
      {FADD, "-1", "1.5", "0.5"},
      {FADD, "0", "0", "0"},
      {FADD, "-0.00000000000005", "1", "0.9999999999999"},  // exact: 0.99999999999995
      {FSUB, "1", "0.99999999999999", "0"},  // the shifted 0.99999999999999 rounds to 1
      {FSUB, "1.0000000000001", "1", "1E-13"},
      {FSUB, "0", "1E-50", "-1E-50"},
      {FSUB, "5E-63", "4.9E-63", "1E-64"},  // the smallest number
      {FSUB, "5E-64", "4.9E-64", "0"},      // 1E-65 is below the range
      {FMUL, "1E62", "10", "99999999999999E50"},
      {FMUL, "-1E62", "10", "-99999999999999E50"},
      {FMUL, "1E-40", "1E-40", "0"},
      {FMUL, "1.0000000000001", "9.999999999999", "10"},  // rounding carries a digit
      {FMUL, "12.34", "1000", "12340"},
      {FMUL, "1.048576", "9.5367431640625", "10"},  // product exactly 10^27 in digits
      {FMUL, "-1.5", "0", "0"},
      {FDIV, "2", "4", "0.5"},
      {FDIV, "1", "3", "0.33333333333333"},
      {FDIV, "2", "3", "0.66666666666667"},
      {FDIV, "-2", "3", "-0.66666666666667"},
      {FDIV, "7", "0", "99999999999999E49"},
      {FDIV, "-7", "0", "-99999999999999E49"},
      {FDIV, "0", "0", "99999999999999E49"},
      {FDIV, "0", "-5", "0"},
      {FDIV, "1E40", "1E-20", "1E60"},
      {FDIV, "1E40", "2E-23", "99999999999999E49"},  // 5E62 fits, the estimate does not
      {FDIV, "1E-40", "1E30", "0"},
      {FREM, "-7", "2", "-1"},
      {FREM, "7", "-2", "1"},
      {FREM, "7", "0", "7"},
      {FREM, "10.5", "3", "1.5"},
      {FINT, "-2.7", "0", "-2"},
      {FINT, "0.9", "0", "0"},
      {FINT, "12345678901234", "0", "12345678901234"},
      {FINT, "1234567890123.5", "0", "1234567890123"},
      {FINT, "1E40", "0", "1E40"},
  };
  for (const row &t : rows) {
    bcd_num got = op(t.opc, num(t.a), num(t.b));
    EXPECT_EQ(hex(got), hex(num(t.want))) << t.a << " " << op_name(t.opc) << " " << t.b;
  }
}

TEST(zmath, encodings_of_results) {
  EXPECT_EQ(hex(op(FADD, num("99999999999999"), num("1"))), "10 00 00 00 00 00 00 4F");
  EXPECT_EQ(hex(op(FDIV, num("2"), num("4"))), "50 00 00 00 00 00 00 40");
  EXPECT_EQ(hex(op(FSUB, num("-0.5"), num("1"))), "15 00 00 00 00 00 00 C1");
  EXPECT_EQ(hex(op(FDIV, num("1"), num("20"))), "50 00 00 00 00 00 00 3F");
  EXPECT_EQ(hex(op(FMUL, num("1234567.8901234"), num("10000000"))), "12 34 56 78 90 12 34 4E");
  EXPECT_EQ(hex(op(FDIV, num("-1"), num("0"))), "99 99 99 99 99 99 99 FF");
  EXPECT_EQ(hex(op(FDIV, num("1"), num("0"))), "99 99 99 99 99 99 99 7F");
  EXPECT_EQ(hex(op(FADD, num("0.5"), num("0.5"))), "10 00 00 00 00 00 00 41");
  EXPECT_EQ(hex(op(FSUB, num("1"), num("1"))), "00 00 00 00 00 00 00 00");
  EXPECT_EQ(hex(op(FMUL, num("-3"), num("0"))), "00 00 00 00 00 00 00 00");
}

TEST(zmath, comparison_orders_numbers) {
  const char *ascending[] = {"-99999999999999E49",
                             "-1E20",
                             "-1.5",
                             "-1",
                             "-1E-63",
                             "0",
                             "1E-63",
                             "0.5",
                             "0.50000000000001",
                             "1",
                             "1E20",
                             "99999999999999E49"};
  const int n = sizeof ascending / sizeof *ascending;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      bcd_num a = num(ascending[i]), b = num(ascending[j]);
      EXPECT_EQ(fcom(&a, &b), (i > j) - (i < j)) << ascending[i] << " vs " << ascending[j];
      EXPECT_EQ(zmathc(FCOM, &a, &b, &a), (i > j) - (i < j));
      EXPECT_TRUE(same(a, num(ascending[i])));  // FCOM writes nothing
    }
}

// The binary-integer code against the digit-level reference.
TEST(zmath, equals_digit_reference_on_random_operands) {
  operand_gen g;
  const int ops[] = {FADD, FSUB, FMUL, FDIV, FREM, FINT};
  long n = rounds(60000);
  for (long i = 0; i < n; i++) {
    bcd_num a, b;
    g.pair(&a, &b);
    for (int opc : ops) {
      bcd_num got = op(opc, a, b), want = ref(opc, a, b);
      ASSERT_TRUE(same(got, want)) << hex(a) << " " << op_name(opc) << " " << hex(b) << " gives "
                                   << hex(got) << ", reference " << hex(want);
    }
    ASSERT_EQ(fcom(&a, &b), ref_com(&a, &b)) << hex(a) << " vs " << hex(b);
  }
}

// Where the digit rules amount to exact rounding half up: every product,
// integer part and quotient (inside the exponent estimate), and sums whose
// shifted operand loses only zero digits.
TEST(zmath, equals_exact_rounding_where_rules_agree) {
  operand_gen g;
  long n = rounds(60000), sums = 0;
  for (long i = 0; i < n; i++) {
    bcd_num a, b;
    g.pair(&a, &b);
    uint64_t ma = mant(a), mb = mant(b);
    int ea = ma ? expo(a) : -64, eb = mb ? expo(b) : -64;
    bool sign = neg(a) != neg(b);

    ASSERT_EQ(hex(op(FMUL, a, b)), hex(exact(sign, u128(ma) * mb, ea + eb - 28)))
        << hex(a) << " * " << hex(b);

    bcd_num q = exact(sign, mb ? u128(ma) * pow10(16) / mb : 0, ea - eb - 16);
    if (ma == 0 || ea - eb + 1 < -63) q = bcd_num{};
    if (mb == 0 || ea - eb + 1 > 63) q = make(P14 - 1, 63, sign);
    ASSERT_EQ(hex(op(FDIV, a, b)), hex(q)) << hex(a) << " / " << hex(b);

    int e = expo(a);
    u128 whole = e <= 0 ? 0 : e >= 14 ? ma : ma - ma % uint64_t(pow10(14 - e));
    ASSERT_EQ(hex(op(FINT, a, b)), hex(exact(neg(a), whole, e - 14))) << "int " << hex(a);

    int d = ea > eb ? ea - eb : eb - ea;
    uint64_t my = ea > eb ? mb : ma, mx = ea > eb ? ma : mb;
    if (d < 15 && my % uint64_t(pow10(d)) == 0) {
      bool xneg = ea > eb ? neg(a) : neg(b), yneg = ea > eb ? neg(b) : neg(a);
      u128 big = u128(mx) * pow10(d);
      int e0 = (ea > eb ? ea : eb) - 14 - d;
      bcd_num want = xneg == yneg ? exact(xneg, big + my, e0)
                     : big >= my  ? exact(xneg, big - my, e0)
                                  : exact(yneg, my - big, e0);
      ASSERT_EQ(hex(op(FADD, a, b)), hex(want)) << hex(a) << " + " << hex(b);
      sums++;
    }
  }
  EXPECT_GT(sums, n / 8);  // the generator must reach this case often
}

TEST(zmath, results_are_canonical_and_obey_algebra) {
  operand_gen g;
  const bcd_num zero{};
  long n = rounds(40000);
  for (long i = 0; i < n; i++) {
    bcd_num a, b;
    g.pair(&a, &b);
    for (int opc : {FADD, FSUB, FMUL, FDIV, FREM, FINT})
      ASSERT_TRUE(canonical(op(opc, a, b))) << hex(a) << " " << op_name(opc) << " " << hex(b);
    ASSERT_TRUE(same(op(FSUB, a, a), zero)) << hex(a);
    ASSERT_TRUE(same(op(FADD, a, b), op(FADD, b, a))) << hex(a) << " + " << hex(b);
    ASSERT_TRUE(same(op(FMUL, a, b), op(FMUL, b, a))) << hex(a) << " * " << hex(b);
    // a - b = 0 may round away a difference in the last place, but a
    // non-zero difference always has the sign of the comparison
    bcd_num diff = op(FSUB, a, b);
    int c = fcom(&a, &b);
    if (mant(diff) != 0) {
      ASSERT_EQ(c, neg(diff) ? -1 : 1) << hex(a) << " - " << hex(b);
    }
    if (c == 0) {
      ASSERT_TRUE(same(diff, zero));
    }
    ASSERT_EQ(fcom(&b, &a), -c);
  }
}

TEST(zmath, result_may_overwrite_either_operand) {
  operand_gen g;
  for (int i = 0; i < 2000; i++) {
    bcd_num a, b;
    g.pair(&a, &b);
    for (int opc : {FADD, FSUB, FMUL, FDIV, FREM, FINT}) {
      bcd_num want = op(opc, a, b), x = a, y = b;
      zmathc(opc, &x, &y, &x);
      EXPECT_TRUE(same(x, want)) << op_name(opc) << " into a";
      x = a;
      zmathc(opc, &x, &y, &y);
      if (opc != FINT) {
        EXPECT_TRUE(same(y, want)) << op_name(opc) << " into b";
      }
      x = a;
      zmathc(opc, &x, &x, &x);
      EXPECT_TRUE(same(x, op(opc, a, a))) << op_name(opc) << " of a with itself";
    }
  }
}

TEST(zmath, opcode_bits_select_the_operation) {
  const bcd_num a = num("7.5"), b = num("2");
  struct row {
    uint8_t zcod;
    const char *want;
  };
  const row rows[] = {{0x21, "9.5"},  {0x42, "5.5"}, {0xE3, "15"},
                      {0x04, "3.75"}, {0x25, "1.5"}, {0x07, "-5.5"}};
  for (const row &t : rows) {
    zcod = t.zcod;
    bcd_num c;
    zmath(&a, &b, &c);
    EXPECT_EQ(hex(c), hex(num(t.want))) << int(t.zcod);
  }
  zcod = 7;
  bcd_num c, zero{};
  zmath(&a, &zero, &c);
  EXPECT_EQ(hex(c), hex(num("-7.5")));
  zmath(&zero, &zero, &c);
  EXPECT_EQ(hex(c), hex(zero));  // negating zero gives no negative zero
  bcd_num x = num("0.25");
  fint(&x, &x);
  EXPECT_EQ(hex(x), hex(zero));
}

// A number with digits that are not digits, a leading zero digit or a
// negative zero comes from a damaged record; it counts with its face value
// and every result is a proper number again.
TEST(zmath, damaged_operands_count_with_face_value) {
  struct row {
    const char *bytes;
    const char *value;
  };
  const row rows[] = {
      {"00 00 00 00 00 00 00 80", "0"},
      {"00 00 00 00 00 00 00 47", "0"},
      {"01 50 00 00 00 00 00 43", "15"},
      {"00 00 00 00 00 00 01 4E", "1"},
      {"A0 00 00 00 00 00 00 42", "100"},
      {"0F 00 00 00 00 00 00 C3", "-150"},
      {"FF FF FF FF FF FF FF 41", "16.666666666667"},
      {"FF FF FF FF FF FF FF 7F", "99999999999999E49"},
      {"00 10 00 00 00 00 00 01", "0"},
  };
  const bcd_num zero{};
  for (const row &t : rows) {
    bcd_num raw;
    unsigned v[8];
    ASSERT_EQ(std::sscanf(t.bytes, "%x %x %x %x %x %x %x %x", &v[0], &v[1], &v[2], &v[3], &v[4],
                          &v[5], &v[6], &v[7]),
              8);
    for (int k = 0; k < 7; k++) raw.dig[k] = uint8_t(v[k]);
    raw.exp = uint8_t(v[7]);
    EXPECT_EQ(hex(op(FADD, raw, zero)), hex(num(t.value))) << t.bytes;
    EXPECT_EQ(hex(op(FMUL, raw, num("1"))), hex(num(t.value))) << t.bytes;
    bcd_num want = num(t.value);
    EXPECT_EQ(fcom(&raw, &want), 0) << t.bytes;
  }
  std::mt19937_64 r(7);
  for (int i = 0; i < 20000; i++) {
    bcd_num a, b;
    uint64_t x = r(), y = r();
    std::memcpy(&a, &x, 8);
    std::memcpy(&b, &y, 8);
    for (int opc : {FADD, FSUB, FMUL, FDIV, FREM, FINT})
      ASSERT_TRUE(canonical(op(opc, a, b))) << hex(a) << " " << op_name(opc) << " " << hex(b);
  }
}

// A dividend below the range (exponent byte 0, digits not 0) taken by a
// power of ten: the quotient's integer part is 0 and a - 0 vanishes below
// the range, as the general remainder computes it.
TEST(zmath, remainder_of_a_number_below_the_range_by_a_power_of_ten_is_zero) {
  bcd_num a{}, b{}, want;
  a.dig[0] = 0x81;
  b.dig[0] = 0x10;
  b.exp = 0x3C;  // 1E-5
  ref_rem(&a, &b, &want);
  EXPECT_EQ(hex(op(FREM, a, b)), hex(want));
  EXPECT_EQ(hex(op(FREM, a, b)), hex(bcd_zero));
  a.exp = 0x01;  // inside the range: the dividend itself
  EXPECT_EQ(hex(op(FREM, a, b)), hex(a));
}

TEST(zmath, round_carries_into_a_new_leading_digit) {
  struct row {
    const char *in;   // 15 digits after a spare place
    const char *out;  // the row from the returned start, 14 digits
    int start;        // returned start relative to p
  };
  const row rows[] = {
      {"123456789012344", "12345678901234", 0}, {"123456789012345", "12345678901235", 0},
      {"123456789999999", "12345679000000", 0}, {"999999999999995", "10000000000000", -1},
      {"999999999999994", "99999999999999", 0},
  };
  for (const row &t : rows) {
    uint8_t buf[16] = {};
    for (int i = 0; i < 15; i++) buf[1 + i] = uint8_t(t.in[i] - '0');
    uint8_t *got = round(buf + 1);
    EXPECT_EQ(got - (buf + 1), t.start) << t.in;
    std::string s;
    for (int i = 0; i < 14; i++) s += char('0' + got[i]);
    EXPECT_EQ(s, t.out) << t.in;
  }
}

TEST(zmath, bad_operation_code_ends_the_run) {
  const bcd_num a = num("1"), b = num("2");
  auto to_stderr = [](const char *text) { std::fputs(text, stderr); };
  for (uint8_t code : {uint8_t(0), uint8_t(6), uint8_t(8), uint8_t(9), uint8_t(0x1F)}) {
    EXPECT_EXIT(
        {
          zsmsg_screen = to_stderr;
          zcod = code;
          bcd_num c;
          zmath(&a, &b, &c);
        },
        testing::ExitedWithCode(255), "zmath badop\r\n")
        << int(code);
  }
  for (int opc : {0, 6, 7, 10, -1}) {
    EXPECT_EXIT(
        {
          zsmsg_screen = to_stderr;
          bcd_num c;
          zmathc(opc, &a, &b, &c);
        },
        testing::ExitedWithCode(255), "zmath badop\r\n")
        << opc;
  }
}
