// The record format language: numbers and strings written and read
// through fields, the errors of bad formats and bad data, and random
// amounts written through pictures compared with their decimal text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "run/base/image.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zfmt.h"
#include "run/numeric/zops.h"

namespace {

bcd_num number(const std::string &text) {
  std::string copy = text;
  fsns = copy.data();
  fsnl = unsigned(copy.size());
  zfsn();
  return fsnp;
}

std::string text(const bcd_num &n) {
  char buf[ZFNS_MAX];
  fsns = buf;
  int len = zfns(&n);
  return std::string(buf, size_t(len));
}

struct record {
  std::string format;
  char buf[64];

  void start(const std::string &fmt, const std::string &data = "") {
    format = fmt;
    zrfsp = format.data();
    zrfsc = unsigned(format.size());
    std::memset(buf, '#', sizeof buf);
    std::memcpy(buf, data.data(), data.size());
    zrfdp = buf;
    zrfdc = data.empty() ? 32 : int(data.size());
  }
  std::string written() const { return std::string(buf, size_t(zrfdp - buf)); }
};

// the field written for value, or "E<n>"
std::string write_number(const std::string &fmt, const char *value) {
  record r;
  r.start(fmt);
  bcd_num n = number(value);
  int e = fmtnout(&n);
  if (e) return "E" + std::to_string(e);
  EXPECT_EQ(r.buf[r.written().size()], '#');
  return r.written();
}

// the value read from data, or "E<n>"
std::string read_number(const std::string &fmt, const std::string &data) {
  record r;
  r.start(fmt, data);
  int e = fmtnin();
  if (e) return "E" + std::to_string(e);
  return text(fsnp);
}

TEST(zfmt, numbers_written_through_pictures) {
  struct {
    const char *fmt, *value, *want;
  } cases[] = {
      {"999.99", "12.34", "012.34"},
      {"999", "-1", "-01"},
      {"9", "-1", "E63"},  // no room for the sign
      {"99", "123", "E63"},
      {"99", "99.99", "99"},  // fraction dropped, not rounded
      {"9.999", ".05", "0.050"},
      {".99", ".123", ".12"},
      {".99", "1", "E63"},
      {"99.", "7", "07."},
      {"999", "0", "000"},
      {"99.9", "-.5", "-0.5"},
      {"9999", "1E3", "1000"},
      {"9.99", "1.5E-5", "0.00"},
      {"PPP", "123", "\x12\x30"},  // the odd count ends with a 0 nibble
      {"PPP", "-12", "\xF1\x20"},  // sign nibble, odd count padded
      {"PP.PP", "12.34", "\x12\x34"},
      {"P.P", "-.5", "\xF5"},
      {".P", "-.5", "E63"},
      {".PP", ".25", "\x25"},
      {"XX", "1", "E63"},
      {"", "1", "E63"},
      {"9X", "1", "E63"},
      {"9.9.9", "1", "E63"},
      {".", "1", "E63"},
      {"9P", "1", "E63"},
      {"I", "1", "E63"},
      {"Z99", "1", "E63"},
      {" 99", "1", "E63"},
  };
  for (auto &c : cases) EXPECT_EQ(write_number(c.fmt, c.value), c.want) << c.fmt << " " << c.value;
}

TEST(zfmt, numbers_read_through_pictures) {
  struct {
    const char *fmt;
    std::string data;
    const char *want;
  } cases[] = {
      {"999", "  5", "5"},
      {"999", "12", "E62"},  // the record ends inside the field
      {"999", "-12", "-12"},
      {"999", " -1", "-1"},
      {"999", "000", "0"},
      {"999", "   ", "0"},
      {"999.99", "012.34", "12.34"},
      {"999.99", "  1.05", "1.05"},
      {"99.9", "1.25", "E63"},  // the point before its place
      {"99.9", "123.", "E63"},  // more integer digits than positions
      {"99.9", "12..", "E63"},
      {"999", "1 2", "E62"},
      {"999", "-- 1", "E62"},
      {"999", "1x3", "E62"},
      {"9.9", " .5", ".5"},
      {".9", " 5", "E63"},  // a space past the integer positions
      {"9.9", "1. ", "E62"},
      {".99", ".05", ".05"},
      {"99", "1.", "E63"},
      {"99", "123", "12"},  // the field is two bytes; the rest stays
      {"PPP", std::string("\x12\x30", 2), "123"},
      {"PPP", std::string("\xF1\x20", 2), "-12"},
      {"PP.PP", std::string("\x00\x05", 2), ".05"},
      {"PPP", std::string("\x1A\x00", 2), "E62"},
      {"PPP", std::string("\x12", 1), "E62"},
      {".PP", std::string("\xF5", 1), "E62"},  // no integer position for a sign
      {"IIIIIIII", std::string("\x42\x12\x50\0\0\0\0\0", 8), "12.5"},
      {"III", std::string("\x42\x12\x50", 3), "12.5"},
      {"III", std::string("\x42\x12", 2), "E62"},
      {"XXX", "abc", "E63"},
  };
  for (auto &c : cases) EXPECT_EQ(read_number(c.fmt, c.data), c.want) << c.fmt << " " << c.data;
}

// Internal fields of every width keep the number's bytes.
TEST(zfmt, internal_fields_of_every_width) {
  bcd_num n = number("-1234567.8901234");
  for (int w = 2; w <= 11; w++) {
    std::string fmt(size_t(w), 'I');
    record r;
    r.start(fmt);
    ASSERT_EQ(fmtnout(&n), 0);
    ASSERT_EQ(r.written().size(), size_t(w));
    EXPECT_EQ(uint8_t(r.buf[0]), n.exp);
    std::string data = r.written();
    r.start(fmt, data);
    ASSERT_EQ(fmtnin(), 0);
    for (int i = 0; i < 7; i++) EXPECT_EQ(fsnp.dig[i], i < w - 1 ? n.dig[i] : 0) << w;
    EXPECT_EQ(fsnp.exp, n.exp);
  }
}

// Fields follow one another; a statement with more items than fields gets
// 63 for the first item without one.
TEST(zfmt, fields_in_sequence) {
  record r;
  r.start("99,X(3),PP,XX");
  bcd_num a = number("42"), b = number("7");
  EXPECT_EQ(fmtnout(&a), 0);
  EXPECT_EQ(fmtsout("hello", 5), 0);
  EXPECT_EQ(fmtnout(&b), 0);
  EXPECT_EQ(fmtsout("z", 1), 0);
  EXPECT_EQ(fmtsout("z", 1), ERR_IOFMT);
  EXPECT_EQ(r.written(), std::string("42hel\x07z ", 8));
  zrfsp = nullptr;  // a statement without FMT
  EXPECT_EQ(fmtnout(&a), ERR_IOFMT);
}

// Writing stops at a full record buffer with 62 and writes nothing past it.
TEST(zfmt, full_record_buffer) {
  record r;
  r.start("X(10)");
  zrfdc = 4;
  EXPECT_EQ(fmtsout("abcdefgh", 8), ERR_IODATA);
  EXPECT_EQ(std::string(r.buf, 5), "abcd#");
  r.start("9999");
  zrfdc = 3;
  bcd_num n = number("1234");
  EXPECT_EQ(fmtnout(&n), ERR_IODATA);
  EXPECT_EQ(r.buf[3], '#');
}

// The writer of the file statements can take the bytes instead.
std::string sent;
int collect(int ch) {
  sent += char(ch);
  return sent.size() > 5 ? ERR_IODATA : 0;
}

TEST(zfmt, bytes_go_to_the_installed_writer) {
  record r;
  r.start("X(4),X(4)");
  sent.clear();
  zrfout = collect;
  EXPECT_EQ(fmtsout("ab", 2), 0);
  EXPECT_EQ(fmtsout("cdef", 4), ERR_IODATA);
  zrfout = nullptr;
  EXPECT_EQ(sent, "ab  cd");
  EXPECT_EQ(r.written(), "");
}

struct image : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(zimage_alloc(8, 1, 0), ZALLOC_OK);
    setPcodeVersion(PCODE16BIT);
  }
  void TearDown() override { zimage_free_for_test(); }
  // a string variable of capacity cap at offset 1000, its data at 1100
  uint32_t variable(bool padded, uint32_t cap) {
    uint8_t type = DSC_STR | DSC_ARR | (padded ? DSC_PAD : 0);
    zdesc_put(1000, zdesc{type, 1100, cap, padded ? cap : 0});
    std::memset(zat(1100, 64), '#', 64);
    return 1000;
  }
  std::string value(uint32_t desc) {
    zdesc d = zdesc_get(desc);
    return std::string(reinterpret_cast<char *>(zat(d.addr, zdesc_len(d))), zdesc_len(d));
  }
};

TEST_F(image, strings_read_into_variables) {
  struct {
    const char *fmt;
    std::string data;
    bool padded;
    uint32_t cap;
    int err;
    const char *want;
    const char *rest;
  } cases[] = {
      {"XXX", "abcdef", false, 10, 0, "abc", "def"},
      {"X(5)", "abcdef", true, 8, 0, "abcde   ", "f"},
      {"X(5)", "abcdef", false, 3, 0, "abc", "f"},  // the field is consumed whole
      {"X(*)", "abcdef", false, 10, 0, "abcdef", ""},
      {"X(*)", "abcdef", true, 4, 0, "abcd", ""},
      {"X(7)", "abcdef", false, 10, ERR_IODATA, "", "abcdef"},
      {"X(0)", "ab", false, 10, 0, "", "ab"},
      {"X(", "ab", false, 10, ERR_IOFMT, "", ""},
      {"X(3", "ab", false, 10, ERR_IOFMT, "", ""},
      {"X()", "ab", false, 10, ERR_IOFMT, "", ""},
      {"X(2)X", "ab", false, 10, ERR_IOFMT, "", ""},
      {"X(*", "ab", false, 10, ERR_IOFMT, "", ""},
      {"XX(2)", "ab", false, 10, ERR_IOFMT, "", ""},
      {"X(2a)", "ab", false, 10, ERR_IOFMT, "", ""},
      {"999", "123", false, 10, ERR_IOFMT, "", ""},
  };
  for (auto &c : cases) {
    uint32_t desc = variable(c.padded, c.cap);
    record r;
    r.start(c.fmt, c.data);
    EXPECT_EQ(fmtsin(desc, 1100, c.cap), c.err) << c.fmt;
    if (c.err) continue;
    EXPECT_EQ(value(desc), c.want) << c.fmt;
    EXPECT_EQ(std::string(zrfdp, size_t(zrfdc)), c.rest) << c.fmt;
    EXPECT_EQ(zget1(1100 + c.cap), '#') << c.fmt;  // nothing past the variable
  }
}

TEST_F(image, a_destination_outside_the_image_is_refused) {
  uint32_t desc = variable(false, 10);
  record r;
  r.start("XXX", "abc");
  EXPECT_THROW(fmtsin(desc, zm.size - 2, 10), zerror_jump);
}

TEST(zfmt, strings_written_through_fields) {
  struct {
    const char *fmt, *value, *want;
  } cases[] = {
      {"XXXX", "ab", "ab  "}, {"X(3)", "abcdef", "abc"}, {"X(*)", "abcdef", "abcdef"},
      {"X", "abc", "a"},      {"X(0)", "abc", ""},       {"II", "ab", "E63"},
  };
  for (auto &c : cases) {
    record r;
    r.start(c.fmt);
    int e = fmtsout(c.value, uint32_t(std::strlen(c.value)));
    EXPECT_EQ(e ? "E" + std::to_string(e) : r.written(), c.want) << c.fmt;
  }
}

// Random amounts through display pictures against their own decimal text
// (sign, integer part zero-filled to the positions, the fraction cut),
// through the packed picture of the same shape against the nibbles of the
// display text, and read back from both.
TEST(zfmt, random_amounts_through_pictures) {
  std::mt19937_64 rng(99);
  for (int t = 0; t < 20000; t++) {
    int ip = 1 + int(rng() % 10), fp = int(rng() % 5);
    bool neg = rng() % 3 == 0;
    long long pw = 1;
    for (int i = 0; i < ip - neg && i < 9; i++) pw *= 10;
    long long whole = (long long)(rng() % 1000000000ULL) % pw, frac = (long long)(rng() % 10000);
    char value[40];
    std::snprintf(value, sizeof value, "%s%lld.%04lld", neg ? "-" : "", whole, frac);
    bool zero = whole == 0 && frac == 0;
    std::string want = neg && !zero ? "-" : "";
    std::string digits = std::to_string(whole);
    size_t room = size_t(ip) - want.size();
    if (room > 0) want += std::string(room - digits.size(), '0') + digits;
    if (fp) want += "." + (std::to_string(10000 + frac)).substr(1, size_t(fp));
    std::string pic = std::string(size_t(ip), '9') + (fp ? "." + std::string(size_t(fp), '9') : "");
    ASSERT_EQ(write_number(pic, value), want) << value << " " << pic;

    std::string nibbles;
    for (char c : want)
      if (c != '.') nibbles += char(c == '-' ? 15 : c - '0');
    if (nibbles.size() % 2) nibbles += '\0';
    std::string packed;
    for (size_t i = 0; i < nibbles.size(); i += 2) packed += char(nibbles[i] << 4 | nibbles[i + 1]);
    std::string ppic = pic;
    for (char &c : ppic)
      if (c == '9') c = 'P';
    ASSERT_EQ(write_number(ppic, value), packed) << value << " " << ppic;

    // reading gives the number the field shows
    std::string shown = read_number(pic, want);
    ASSERT_EQ(shown, read_number(ppic, packed)) << value;
    if (shown != "0") {
      ASSERT_EQ(write_number(pic, shown.c_str()), want) << value;
    }
  }
}

}  // namespace
