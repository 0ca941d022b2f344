// Number to text and back against the reference arithmetic: a text is
// read by a plain digit loop that multiplies, adds and divides by ten with
// the reference operations, so the conversions are checked by a route
// that shares none of their code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "run/numeric/zconv.h"
#include "tests/numeric/zmath_ref.h"

namespace {

bcd_num small(int v) {  // 0..10 as a number, built by hand
  bcd_num n{};
  if (v == 10) {
    n.dig[0] = 0x10;
    n.exp = 0x42;
  } else if (v) {
    n.dig[0] = uint8_t(v << 4);
    n.exp = 0x41;
  }
  return n;
}

// The value of a text of the forms zfns writes ([-][digits][.digits]
// [E[-]dd]) with at most 14 significant digits: the digits as an integer,
// then scaled by ten once per fraction digit and per exponent step.
bcd_num reference_value(const std::string &s) {
  size_t i = 0;
  bool neg = s[i] == '-';
  i += neg;
  bcd_num n{}, ten = small(10);
  int scale = 0;
  bool frac = false;
  for (; i < s.size() && s[i] != 'E'; i++) {
    if (s[i] == '.') {
      frac = true;
      continue;
    }
    bcd_num d = small(s[i] - '0'), t;
    ref_mul(&n, &ten, &t);
    ref_add(&t, &d, &n);
    scale -= frac;
  }
  if (i < s.size()) scale += std::atoi(s.c_str() + i + 1);
  for (; scale > 0; scale--) ref_mul(&n, &ten, &n);
  for (; scale < 0; scale++) ref_div(&n, &ten, &n);
  if (neg && n.exp) n.exp |= BCD_SIGN;
  return n;
}

std::string text(const bcd_num &n) {
  char buf[ZFNS_MAX];
  fsns = buf;
  int len = zfns(&n);
  return std::string(buf, size_t(len));
}

bcd_num parse(const std::string &s) {
  fsns = const_cast<char *>(s.data());
  fsnl = unsigned(s.size());
  EXPECT_EQ(zfsn(), 0) << s;
  EXPECT_EQ(fsnl, 0u) << s;
  return fsnp;
}

std::string hex(const bcd_num &n) {
  char b[17];
  const uint8_t *p = reinterpret_cast<const uint8_t *>(&n);
  for (int i = 0; i < 8; i++) std::snprintf(b + 2 * i, 3, "%02X", p[i]);
  return b;
}

// a canonical number: d1 not 0, nd significant digits, any exponent
bcd_num random_number(std::mt19937_64 &rng, int nd) {
  bcd_num n{};
  for (int i = 0; i < nd; i++) {
    int d = int(rng() % 10);
    if (i == 0 && d == 0) d = 1 + int(rng() % 9);
    if (i == nd - 1 && d == 0) d = 7;
    n.dig[i / 2] |= uint8_t(i % 2 ? d : d << 4);
  }
  n.exp = uint8_t(1 + rng() % 127) | (rng() % 2 ? BCD_SIGN : 0);
  return n;
}

// Text -> number -> text is the identity on canonical numbers, and the
// text has the number's exact value.
TEST(zconv_ref, text_round_trip_and_exact_value) {
  std::mt19937_64 rng(2024);
  int rounds = std::getenv("QUILLON_LONG") ? 2000000 : 100000;
  for (int t = 0; t < rounds; t++) {
    bcd_num n = random_number(rng, 1 + int(rng() % 14));
    std::string s = text(n);
    ASSERT_EQ(hex(parse(s)), hex(n)) << s;
    ASSERT_EQ(hex(reference_value(s)), hex(n)) << s;
  }
}

// Every 14-digit value prints with its 14 digits, in order, nothing lost.
TEST(zconv_ref, fourteen_digits_print_exactly) {
  std::mt19937_64 rng(14);
  for (int t = 0; t < 50000; t++) {
    bcd_num n = random_number(rng, 14);
    std::string s = text(n), digits;
    for (char c : s.substr(0, s.find('E')))
      if (c >= '0' && c <= '9') digits += c;
    digits.erase(0, digits.find_first_not_of('0'));
    std::string want;
    for (int i = 0; i < 14; i++) want += char('0' + (n.dig[i / 2] >> (i % 2 ? 0 : 4) & 15));
    ASSERT_EQ(digits.substr(0, 14), want) << s;
    ASSERT_EQ(digits.find_first_not_of('0', 14), std::string::npos) << s;
  }
}

// Texts written by hand in every shape zfsn reads, against the reference.
TEST(zconv_ref, random_texts_read_as_their_value) {
  std::mt19937_64 rng(7);
  for (int t = 0; t < 100000; t++) {
    std::string s = rng() % 2 ? "-" : "";
    int lead = int(rng() % 3), nd = 1 + int(rng() % 14), point = int(rng() % (nd + 2)) - 1;
    s += std::string(size_t(lead), '0');
    std::string digits;
    for (int i = 0; i < nd; i++) digits += char('0' + rng() % 10);
    if (point >= 0) digits.insert(size_t(point), ".");
    s += digits;
    int e = int(rng() % 40) - 20;
    if (rng() % 2) s += "E" + std::to_string(e);
    bcd_num got = parse(s), want = reference_value(s);
    ASSERT_EQ(hex(got), hex(want)) << s;
  }
}

}  // namespace
