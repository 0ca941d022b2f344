// Edit masks: the rules by example, errors, and masks of the common shapes
// checked against the C library's integer formatting on random amounts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "run/base/interp.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zedit.h"

namespace {

bcd_num number(const std::string &text) {
  std::string copy = text;
  fsns = copy.data();
  fsnl = unsigned(copy.size());
  EXPECT_EQ(zfsn(), 0) << text;
  return fsnp;
}

// the edited text, or "E<n>" for a raised error
std::string edit(const bcd_num &n, const std::string &mask) {
  std::string m = mask;
  char out[300];
  std::memset(out, '#', sizeof out);
  fsns = m.data();
  fsnl = unsigned(m.size());
  try {
    int len = zedit(&n, out);
    EXPECT_EQ(out[len], '#') << "wrote past its length";
    return std::string(out, size_t(len));
  } catch (const zerror_jump &e) {
    return "E" + std::to_string(e.number);
  }
}

std::string edit(const char *value, const std::string &mask) {
  return edit(number(value), mask);
}

TEST(zedit, masks_by_example) {
  struct {
    const char *value, *mask, *want;
  } cases[] = {
      {"12", "ZZZ9", "  12"},
      {".5", "ZZZ9", "   0"},
      {"1234.5", "Z,ZZ9V99", "1,23450"},
      {"1234.5", "Z,ZZ9.V99", "1,234.50"},
      {"-5", "---9", "  -5"},
      {"-12.5", "+ZZ9V9", " -125"},
      {"12.5", "+ZZ9V9", " +125"},
      {"0", "ZZZ", "   "},
      {"7", "**9", "**7"},
      {"5", "+999", "+005"},   // the symbol goes before the first "9"
      {".5", "+ZZ9", "  +0"},  // no significant digit: before the "9"
      {"-5", "ZZ9-", "  5-"},  // trailing sign
      {"5", "ZZ9-", "  5 "},   //   of a positive number: a space
      {"5", "ZZ9+", "  5+"},   // "+" always shows the sign
      {"1234567", "$$,$$$,$$9", "$1,234,567"},
      {"12", "$$,$$$,$$9", "       $12"},  // commas before the digits fill
      {"12", "**,**9", "****12"},
      {"12", "99,999", "00,012"},  // after a "9" insertions print
      {"0", "ZZ9", "  0"},
      {".05", "ZZ9V999", "  0050"},  // fraction below 1: leading zeros
      {".05", "ZZZVZZ", "   05"},    // digits start right after the "V"
      {"-.05", "-ZZVZZ", "  -05"},
      {"1.999", "9V9", "19"},  // no rounding
      {"12345678901234", "Z99999999999999V99", " 1234567890123400"},
      {"99", "$$9", "$99"},   // the symbol takes the freed place
      {"0", "++++", "    "},  // never printed: a fill at the front
      {"123", "ZZZ", "123"},
      {"1", "9VV9", "10"},  // a second "V" changes nothing
      {"3", "*ZZ", "**3"},
      {"-3", "*ZZ-", "**3-"},
      {"-3", "**9+", "**3-"},
      {"12", "9", "E108"},
      {"1234", "ZZ9", "E108"},
      {"1", "+", "E108"},  // only the floating symbol
      {"5", "", "E108"},
      {"12", "$$9", "$12"},  // the symbol takes the first place
      {"123", "$$9", "E108"},
      {"5", "VZZ", "E108"},  // no integer position
      {".5", "VZZ", "50"},
  };
  for (auto &c : cases) EXPECT_EQ(edit(c.value, c.mask), c.want) << c.value << " " << c.mask;
}

// A damaged number is edited at its face value, never as raw nibbles.
TEST(zedit, damaged_numbers_edit_as_their_value) {
  bcd_num n = {{0x0A, 0xBC, 0, 0, 0, 0, 0}, 0x43};
  std::string s = edit(n, "ZZZZ9V99");
  ASSERT_EQ(s.size(), 7u);
  for (char c : s) EXPECT_TRUE(c == ' ' || (c >= '0' && c <= '9')) << s;
}

// The usual amount masks against snprintf of the truncated amount.
TEST(zedit, amount_masks_agree_with_integer_formatting) {
  std::mt19937_64 rng(1234);
  for (int t = 0; t < 20000; t++) {
    int ip = 1 + int(rng() % 12), fp = int(rng() % 5), neg = int(rng() % 2);
    long long whole = (long long)(rng() % 10000000000ULL);  // 10 + 4 digits: exact
    long long pw = 1;
    for (int i = 0; i < ip; i++) pw *= 10;
    whole %= pw;
    long long frac = (long long)(rng() % 10000);
    char text[64];
    std::snprintf(text, sizeof text, "%s%lld.%04lld", neg ? "-" : "", whole, frac);
    std::string mask = std::string(size_t(ip - 1), 'Z') + "9" + (fp ? "V" : "");
    mask += std::string(size_t(fp), '9') + "-";
    char want[64];
    long long f = frac;
    for (int i = fp; i < 4; i++) f /= 10;
    std::snprintf(want, sizeof want, "%*lld", ip, whole);
    std::string w = want;
    if (fp) {
      char fr[8];
      std::snprintf(fr, sizeof fr, "%0*lld", fp, f);
      w += fr;
    }
    bool is_zero = whole == 0 && frac == 0;
    w += neg && !is_zero ? "-" : " ";
    ASSERT_EQ(edit(text, mask), w) << text << " " << mask;
  }
}

}  // namespace
