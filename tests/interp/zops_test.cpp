// Operand and string helpers on hand-built images, in both address widths.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "run/base/image.h"
#include "run/numeric/zops.h"
#include "tests/interp/vm.h"

namespace {

template <class F>
int raised(F f) {
  try {
    f();
  } catch (const zerror_jump &e) {
    return e.number;
  }
  return 0;
}

struct zops : ::testing::TestWithParam<int> {
  vm_prog p;
  void SetUp() override { p.pcode = GetParam(); }
  void TearDown() override {
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
  // loads p and points zp.preg at its code
  void load() { vm_load(p); }
  void push(const char *num) { zpush_num(vm_bcd(num)); }
  void push_s(const std::string &s) {
    uint32_t at = zstk_begin(uint32_t(s.size()) + 64);
    std::memcpy(zspan(at, uint32_t(s.size())).data(), s.data(), s.size());
    zpush_str_above(at, uint32_t(s.size()));
  }
  std::string pop_text() {
    bcd_num n;
    zpop_num(&n);
    return vm_text(n);
  }
  std::string pop_s() {
    uint32_t len, data;
    zpopst(&len, &data);
    return vm_bytes(data, len);
  }
};

INSTANTIATE_TEST_SUITE_P(widths, zops, ::testing::Values(129, 130));

TEST_P(zops, operand_numbers_in_every_encoding) {
  for (bool wide : {false, true}) {
    p = vm_prog{};
    p.pcode = GetParam();
    p.wide = wide;
    for (int i = 0; i < 700; i++) p.num();
    const int cases[] = {0, 1, 252, 253, 254, 255, 508, 509, 510, 699};
    std::vector<size_t> starts;
    for (int i : cases) {
      if (!wide && i > 509) continue;
      starts.push_back(p.here());
      p.opnd(i);
    }
    load();
    size_t k = 0;
    for (int i : cases) {
      if (!wide && i > 509) continue;
      ASSERT_EQ(zp.preg, vm_code(starts[k])) << i;
      EXPECT_EQ(gtopr(zfetch(), 1), vm_desc(i)) << "wide " << wide << " index " << i;
      k++;
    }
  }
}

TEST_P(zops, indirect_and_unbound_operands) {
  int target = p.num();
  int ind = p.raw(DSC_IND, 0, 0, 0);
  int unbound = p.raw(0x80, GetParam() == 130 ? 0xFFFFFF : 0xFFFF, 0, 0);
  int ind_unbound = p.raw(DSC_IND, 0, 0, 0);
  p.opnd(ind);
  p.opnd(unbound);
  p.opnd(unbound);
  p.opnd(ind_unbound);
  p.op({0});
  load();
  zputa(vm_desc(ind) + 1, vm_desc(target));
  zputa(vm_desc(ind_unbound) + 1, vm_desc(unbound));
  EXPECT_EQ(gtopr(zfetch(), 1), vm_desc(target));
  EXPECT_EQ(raised([] { gtopr(zfetch(), 1); }), ERR_UNBOUND);
  EXPECT_EQ(gtopr(zfetch(), 0), vm_desc(unbound));
  EXPECT_EQ(raised([] { gtopr(zfetch(), 1); }), ERR_UNBOUND);
  EXPECT_EQ(raised([] { gtopr(zfetch(), 1); }), ERR_BADCODE);  // operand 0
}

// Numeric literals: packed byte, constant 1, inline numbers.  A zero
// literal of any exponent is the true zero.
TEST_P(zops, numeric_literals) {
  struct {
    std::vector<int> bytes;
    const char *text;  // null: error 102
  } cases[] = {
      {{6, 0x25}, "25"},
      {{6, 7}, "7"},
      {{6, 0x10}, "10"},
      {{6, 0}, "0"},
      {{6, 0x1A}, nullptr},
      {{6, 0x0C}, nullptr},
      {{38}, "1"},
      {{70, 0}, "0"},
      {{70, 1, 0x45}, "0"},
      {{70, 3, 0x12, 0x34, 0x44}, "1234"},
      {{70, 2, 0x05, 0x43}, "50"},
      {{70, 3, 0x12, 0x50, 0xC1}, "-1.25"},
      {{70, 8, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x4E}, "12345678901234"},
      {{70, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0}, nullptr},
      {{70, 2, 0x9F, 0x41}, nullptr},
  };
  for (auto &c : cases) {
    p = vm_prog{};
    p.pcode = GetParam();
    for (int b : c.bytes) p.op({b});
    p.op({0xEE});
    load();
    zcod = uint8_t(zfetch());
    if (!c.text) {
      EXPECT_EQ(raised([] { ncom(); }), ERR_BADCODE) << c.bytes[1];
      continue;
    }
    ncom();
    EXPECT_EQ(zget1(zp.preg), 0xEEu) << "operand bytes consumed";
    uint32_t d = ztop_value();
    bcd_num n;
    std::memcpy(&n, zspan(zdesc_get(d).addr, 8).data(), 8);
    EXPECT_EQ(vm_text(n), c.text);
    if (std::strcmp(c.text, "0") == 0) {
      EXPECT_EQ(n.exp, 0) << "zero is eight zero bytes";
    }
  }
}

TEST_P(zops, integers_from_numbers) {
  load();
  struct {
    const char *num;
    int32_t want;
  } cases[] = {{"0", 0},
               {"0.999", 0},
               {"-2.5", -2},
               {"12345", 12345},
               {"1E20", INT_MAX},
               {"-1E20", INT_MAX},
               {"2147483647", INT_MAX},
               {"2147483648", INT_MAX},
               {"-2147483647", -2147483647},
               {"99999999999", INT_MAX},
               {"-7", -7}};
  for (auto &c : cases) {
    push(c.num);
    EXPECT_EQ(zplong(), c.want) << c.num;
  }
  push_s("12");
  EXPECT_EQ(raised([] { zplong(); }), ERR_ARGS);
  push("-1");
  EXPECT_EQ(raised([] { zppos(); }), ERR_ARGS);
  push_s("1");
  EXPECT_EQ(raised([] { zppos(); }), ERR_ARGS);
  push("3.7");
  EXPECT_EQ(zppos(), 3);
}

TEST_P(zops, subscripts_are_one_based_and_checked) {
  int a = p.num_array(3, 4), sa = p.str_array(5, 3);
  load();
  zdesc da = zdesc_get(vm_desc(a));
  push("2");
  push("4");
  EXPECT_EQ(xeq2s(da), da.addr + 10 * 8);
  push("3");
  EXPECT_EQ(xeq1s(da), da.addr + 2 * 8);
  for (auto ij : {std::pair{"0", "1"}, {"4", "1"}, {"1", "5"}, {"-1", "1"}, {"1", "0"}}) {
    push(ij.first);
    push(ij.second);
    EXPECT_EQ(raised([&] { xeq2s(da); }), ERR_RANGE) << ij.first << "," << ij.second;
  }
  zdesc dsa = zdesc_get(vm_desc(sa));
  uint32_t d1;
  push("5");  // position
  push("3");  // element
  EXPECT_EQ(str2s(dsa, &d1), dsa.addr + 2 * 5 + 4);
  EXPECT_EQ(d1, 1u);
  push("6");
  push("1");
  EXPECT_EQ(raised([&] { str2s(dsa, &d1); }), ERR_RANGE);
  push("1");
  push("4");
  EXPECT_EQ(raised([&] { str2s(dsa, &d1); }), ERR_RANGE);
}

// String assignment: whole value, from a position, into an array element,
// and with an explicit length.
TEST_P(zops, string_assignment_rules) {
  struct {
    int opcode;  // 146/178/210 (popstr 0), 147/179/211 (popstr 1)
    bool padded;
    const char *before;                // current value
    std::vector<const char *> pushes;  // numbers pushed before the source
    const char *src;
    const char *after;  // whole storage after (capacity 8), null: error 100
    uint32_t dim2;
  } cases[] = {
      {146, false, "", {}, "ABC", "ABC", 3},
      {146, false, "XYZWV", {}, "AB", "AB", 2},
      {146, false, "", {}, "ABCDEFGHIJ", "ABCDEFGH", 8},
      {146, true, "", {}, "ABC", "ABC     ", 8},
      {178, false, "AB", {"5"}, "XY", "AB  XY  ", 8},
      {178, false, "AB", {"9"}, "XY", nullptr, 0},
      {178, false, "AB", {"0"}, "XY", nullptr, 0},
      {179, false, "AB", {"4", "2"}, "XY", "AB XY", 5},
      {179, false, "AB", {"4", "2"}, "X", "AB X ", 5},
      {179, false, "ABCDEFG", {"2", "2"}, "xyz", "AxyDEFG", 7},
      {179, false, "AB", {"7", "3"}, "X", nullptr, 0},
      {179, false, "AB", {"1", "0"}, "X", nullptr, 0},
      {179, true, "ABCDEFGH", {"3", "2"}, "", "AB  EFGH", 8},
  };
  for (auto &c : cases) {
    p = vm_prog{};
    p.pcode = GetParam();
    int s = p.str(8, c.padded);
    p.at(c.opcode, s);
    load();
    if (c.padded)
      vm_set_str(s, std::string(c.before) + std::string(8 - std::strlen(c.before), ' '));
    else
      vm_set_str(s, c.before);
    for (const char *n : c.pushes) push(n);
    push_s(c.src);
    zcod = uint8_t(zfetch());
    int flag = (c.opcode & 31) - 18;
    if (!c.after) {
      EXPECT_EQ(raised([&] { popstr(flag); }), ERR_RANGE) << c.opcode << " " << c.src;
      continue;
    }
    popstr(flag);
    zdesc d = zdesc_get(vm_desc(s));
    EXPECT_EQ(vm_bytes(d.addr, uint32_t(std::strlen(c.after))), c.after)
        << c.opcode << " " << c.src;
    EXPECT_EQ(d.dim2, c.dim2) << c.opcode << " " << c.src;
  }
}

// An element of a string array has no length of its own: an assignment
// pads it and leaves the element count alone, padded or not.
TEST_P(zops, string_array_element_keeps_the_element_count) {
  for (bool padded : {false, true}) {
    p = vm_prog{};
    p.pcode = GetParam();
    int sa = p.str_array(4, 3, padded);
    p.at(210, sa);
    p.at(211, sa);
    load();
    std::memcpy(zspan(vm_addr(sa), 12).data(), "abcdefghijkl", 12);
    push("2");  // position
    push("2");  // element
    push_s("X");
    zcod = uint8_t(zfetch());
    popstr(0);
    EXPECT_EQ(zdesc_get(vm_desc(sa)).dim2, 3u);
    EXPECT_EQ(vm_bytes(vm_addr(sa), 12), "abcdeX  ijkl");
    push("1");  // position
    push("3");  // element
    push("2");  // length
    push_s("QRS");
    zcod = uint8_t(zfetch());
    popstr(1);
    EXPECT_EQ(vm_bytes(vm_addr(sa), 12), "abcdeX  QRkl");
    push("4");
    push("3");
    push("2");  // only one character left from position 4
    push_s("Z");
    zp.preg = vm_code(2);
    zcod = uint8_t(zfetch());
    EXPECT_EQ(raised([] { popstr(1); }), ERR_RANGE);
  }
}

TEST_P(zops, moves_and_overlapping_copies) {
  int s = p.str(16);
  load();
  uint32_t a = vm_addr(s);
  std::memcpy(zspan(a, 16).data(), "0123456789abcdef", 16);
  movstr(6, a, a + 2);  // upward overlap
  EXPECT_EQ(vm_bytes(a, 16), "0101234589abcdef");
  std::memcpy(zspan(a, 16).data(), "0123456789abcdef", 16);
  EXPECT_EQ(moves(a + 1, a + 4, a + 8, 10, a + 10, 1), 4u);
  EXPECT_EQ(vm_bytes(a, 10), "0   abcd89");
  EXPECT_EQ(moves(a, a, a + 8, 2, a + 14, 1), 2u);
  EXPECT_EQ(vm_bytes(a, 10), "ef      89");
  EXPECT_EQ(raised([&] { movstr(10, a, zm.size - 5); }), ERR_BADCODE);
}

TEST(zops_btofp, integers_to_numbers) {
  struct {
    int64_t n;
    const char *hex;  // 8 bytes
  } cases[] = {
      {0, "0000000000000000"},
      {1, "1000000000000041"},
      {-1234, "12340000000000C4"},
      {9999999999, "999999999900004A"},
      {10000000000, "100000000000004B"},
      {99999999999999, "999999999999994E"},
      {123456789012345, "123456789012354F"},  // 15 digits: rounded half up
      {123456789012344, "123456789012344F"},
      {999999999999999, "1000000000000050"},  // carries into a new digit
      {INT64_MIN, "92233720368548D3"},
      {INT64_MAX, "9223372036854853"},
  };
  for (auto &c : cases) {
    bcd_num b;
    btofp(c.n, &b);
    char hex[17];
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&b);
    for (int i = 0; i < 8; i++) std::snprintf(hex + 2 * i, 3, "%02X", p[i]);
    EXPECT_STREQ(hex, c.hex) << c.n;
  }
}

// A truth value has no pointer word; it must never be taken for a frame
// or a value, and unwinding must drop it, in both widths.
TEST_P(zops, truth_values_unwind_safely) {
  int x = p.num();
  load();
  uint32_t bottom = zp.stkp;
  for (int v : {0, 1}) {
    zp.stkp = bottom;
    zpush_ref(vm_desc(x));
    push("12");
    zstk_push_truth(v);
    EXPECT_TRUE(zstk_is_truth());
    EXPECT_EQ(zstk_truth(), v);
    EXPECT_EQ(raised([] { zpop_value(); }), ERR_BADCODE);
    zstk_push_truth(1 - v);
    zstk_unwind();
    EXPECT_EQ(zp.stkp, bottom) << "truth " << v;
    EXPECT_EQ(zstk_ptr(), FRAME_BOTTOM);
  }
  // a subroutine frame stops the unwinding; values above it go
  uint32_t start = zstk_begin(uint32_t(zw.adr_len));
  zputa(start, 1234);
  zstk_end(uint32_t(zw.adr_len), FRAME_SUB);
  uint32_t frame = zp.stkp;
  zstk_push_truth(0);
  push("1");
  zstk_push_truth(0);
  zstk_unwind();
  EXPECT_EQ(zp.stkp, frame);
  EXPECT_FALSE(zstk_is_truth());
  EXPECT_EQ(raised([] { zstk_truth(); }), ERR_BADCODE);
  push("5");
  EXPECT_EQ(raised([] { zstk_truth(); }), ERR_BADCODE);
}

}  // namespace
