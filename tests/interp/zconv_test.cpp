// Number to text and text to number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "run/config/settings.h"
#include "run/numeric/zconv.h"

namespace {

bcd_num from_hex(const char *hex) {
  bcd_num n;
  auto *p = reinterpret_cast<uint8_t *>(&n);
  for (int i = 0; i < 8; i++) p[i] = uint8_t(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
  return n;
}

std::string text(const bcd_num &n) {
  char buf[ZFNS_MAX + 8];
  fsns = buf;
  int len = zfns(&n);
  EXPECT_EQ(fsns, buf + len);
  EXPECT_LE(len, int(ZFNS_MAX));
  return std::string(buf, size_t(len));
}

struct parsed {
  int result;
  std::string value, rest;
};

parsed parse(const std::string &s) {
  std::string copy = s;
  fsns = copy.data();
  fsnl = unsigned(copy.size());
  int r = zfsn();
  EXPECT_EQ(fsns + fsnl, copy.data() + copy.size());
  std::string rest(fsns, fsnl);
  return {r, text(fsnp), rest};
}

TEST(zconv, numbers_to_text) {
  struct {
    const char *hex, *want;
  } cases[] = {
      {"0000000000000000", "0"},
      {"5000000000000040", ".5"},
      {"1234500000000043", "123.45"},
      {"70000000000000C1", "-7"},
      {"15000000000000C1", "-1.5"},
      {"1000000000000043", "100"},
      {"123456789012344E", "12345678901234"},
      {"5000000000000000", "0"},  // exponent byte 0 is zero
      {"5000000000000040", ".5"},
      {"500000000000003F", ".05"},
      {"50000000000000C0", "-.5"},
      {"1000000000000054", "10000000000000000000"},  // 10^19
      {"1000000000000055", ".1E21"},                 // 10^20
      {"10000000000000D4", "-.1E20"},                // -10^19: no room for the sign
      {"100000000000005A", ".1E26"},
      {"1500000000000023", ".15E-29"},
      {"100000000000002E", ".0000000000000000001"},  // 10^-19: 19 places
      {"100000000000002D", ".1E-19"},
      {"0000000000000041", "?????????"},  // digits lost, exponent kept
      {"99999999999999FF", "-.99999999999999E63"},
      {"123456789012347F", ".12345678901234E63"},
  };
  for (auto &c : cases) EXPECT_EQ(text(from_hex(c.hex)), c.want) << c.hex;
}

TEST(zconv, text_to_numbers) {
  struct {
    const char *in;
    int result;
    const char *value, *rest;
  } cases[] = {
      {"  -12.50xyz", 0, "-12.5", "xyz"},
      {"1E3", 0, "1000", ""},
      {"1e3", 0, "1", "e3"},
      {".5", 0, ".5", ""},
      {"1E999", 0, ".99999999999999E63", "9"},
      {"-1E99", 0, ".99999999999999E63", ""},
      {"123456789012345678", 0, "123456789012340000", ""},
      {"00012.5000", 0, "12.5", ""},
      {"0.0012", 0, ".0012", ""},
      {"1.5E+2", 0, "150", ""},
      {"2E-3", 0, ".002", ""},
      {"1E0005x", 0, "100000", "x"},
      {"1Ex", 0, "1", "x"},
      {"1E123", 0, "1000000000000", "3"},
      {"1E-70", 0, "0", ""},
      {"+7 ", 0, "7", " "},
      {"-0", 0, "0", ""},
      {"0.000", 0, "0", ""},
      {"", 1, "0", ""},
      {"   ", 1, "0", ""},
      {"-", 1, "0", ""},
      {".", 1, "0", ""},
      {"E5", 1, "0", "E5"},
      {"abc", 1, "0", "abc"},
      {"- 5", 1, "0", " 5"},
  };
  for (auto &c : cases) {
    parsed r = parse(c.in);
    EXPECT_EQ(r.result, c.result) << '"' << c.in << '"';
    EXPECT_EQ(r.value, c.value) << '"' << c.in << '"';
    EXPECT_EQ(r.rest, c.rest) << '"' << c.in << '"';
  }
  // the text ends where fsnl says, not at a zero byte
  std::string s = "12345";
  fsns = s.data();
  fsnl = 3;
  EXPECT_EQ(zfsn(), 0);
  EXPECT_EQ(text(fsnp), "123");
}

TEST(zconv, decimal_point_follows_the_setting) {
  const char *saved = vx_decpt;
  vx_decpt = ",.";
  EXPECT_EQ(text(from_hex("1500000000000041")), "1,5");
  EXPECT_EQ(parse("2,25").value, "2,25");
  EXPECT_EQ(parse("2.25").value, "2,25");
  vx_decpt = ",";
  EXPECT_EQ(parse("2.25").rest, ".25");
  vx_decpt = saved;
}

TEST(zconv, digits_after_the_fourteenth_are_dropped) {
  fsnp = bcd_num{};
  fsnpc = 0;
  for (const char *d = "123456789012345"; *d; d++) fsndig(*d);
  EXPECT_EQ(fsnpc, 14u);
  fsnp.exp = 0x4F;
  EXPECT_EQ(text(fsnp), "123456789012340");
}

}  // namespace
