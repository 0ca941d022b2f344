// The stack of saved programs: parameters passed by value and by
// reference, copied back on return, and the refusals that restore the
// caller.
#include <gtest/gtest.h>

#include <cstring>

#include "run/base/image.h"
#include "run/loader/zcall.h"

namespace {

constexpr uint8_t NUM = 0;                  // a number
constexpr uint8_t STR = DSC_STR | DSC_ARR;  // a string, not padded
constexpr uint8_t NARR = DSC_ARR;           // a numeric array

// A caller and a called program laid out by hand in one image, in either
// address width.
struct call_fixture : ::testing::TestWithParam<int> {
  uint32_t a = 0, dl = 0;
  uint32_t cdesc = 0;     // caller's descriptor table
  uint32_t cdata = 0;     // caller's variable storage
  uint32_t ccommon = 16;  // a common variable
  int nargs = 0;

  void SetUp() override {
    ASSERT_EQ(zimage_alloc(200, 1, 200), ZALLOC_OK);
    setPcodeVersion(GetParam());
    a = uint32_t(zw.adr_len);
    dl = uint32_t(zw.dsc_len);
    cdesc = zm.zrbas + 100;
    cdata = zm.zrbas + 400;
    zcleanup();
    zp = zinfo{};
    zp.flags = zw.pcode24 ? ZF_24BIT : 0;
    std::strcpy(zp.chnm1, "menu/3");
    zp.preg = zm.zrbas + 50;
    zp.stkp = zm.zrbas + 1000;  // the caller's stack bottom link
    zputa(zp.stkp - a, FRAME_BOTTOM);
    zputa(zp.stkp, 0);
  }
  void TearDown() override {
    zcleanup();
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }

  void descriptor(uint32_t at, uint8_t type, uint32_t data, uint32_t d1, uint32_t d2) {
    zput1(at, type);
    zputa(at + 1, data);
    zput2(at + 1 + a, d1);
    zput2(at + 3 + a, d2);
  }
  // pushes a reference to the caller's descriptor d as the next argument
  void argument(uint32_t d) {
    uint32_t start = zstk_begin(0);
    (void)start;
    zstk_end(0, d);
    nargs++;
  }
  // the call: byte count + 2 before the program counter, then zpush
  void call() {
    zput1(zp.preg - 1, uint32_t(nargs + 2));
    zpush(zp.stkp - zm.zrbas + a);
  }
  // the called program: header state and count, formals of the given types
  void callee(std::initializer_list<uint8_t> formals, uint8_t state = 'w', int count = -1) {
    uint32_t hdr = zm.zrbas + 20;
    zp.preg = hdr + 6 * a + 1;
    zput1(zp.preg, state);
    zput1(zp.preg + 1, uint32_t(count >= 0 ? count : int(formals.size())));
    zp.rdt = zm.zrbas + 300;
    uint32_t i = 0;
    for (uint8_t t : formals) descriptor(zp.rdt + dl * i++, t | DSC_IND, zw.inv_offs, 0, 0);
    zp.stkp = zm.zrbas + 2000;
    zputa(zp.stkp, 0);
  }
  // binds formal i to the parameter entry built i-th from the bottom
  void bind_all(int n) {
    uint32_t link = zp.stkp;
    for (int i = n - 1; i >= 0; i--) {
      zputa(zp.rdt + dl * uint32_t(i) + 1, zgeta(link - a));
      link = zgeta(link);
    }
  }
  uint32_t formal_data(int i) { return zgeta(zgeta(zp.rdt + dl * uint32_t(i) + 1) + 1); }
  int raised(void (*f)()) {
    try {
      f();
    } catch (const zerror_jump &e) {
      return e.number;
    }
    return -1;
  }
};

TEST_P(call_fixture, values_by_copy_common_by_reference_and_back) {
  descriptor(cdesc, NUM, cdata, 0, 0);                // x, in the program area
  descriptor(cdesc + dl, NUM, ccommon, 0, 0);         // c, in the common area
  descriptor(cdesc + 2 * dl, STR, cdata + 8, 10, 6);  // s$, 6 of 10 characters
  zput1(cdata, 0x42);
  std::memcpy(zspan(cdata + 8, 6).data(), "abcdef", 6);
  argument(cdesc);
  argument(cdesc + dl);
  argument(cdesc + 2 * dl);
  zinfo saved = zp;
  call();
  EXPECT_EQ(zc.zstk_cnt, 1);

  std::memset(zspan(zm.zrbas, 1000).data(), 0xEE, 1000);  // the new program's bytes
  callee({NUM, NUM, STR});
  zpush_param(3);
  bind_all(3);
  EXPECT_NE(formal_data(0), cdata);  // a copy on the new stack
  EXPECT_EQ(zget1(formal_data(0)), 0x42u);
  EXPECT_EQ(formal_data(1), ccommon);  // the common variable itself
  EXPECT_EQ(std::string(reinterpret_cast<char *>(zspan(formal_data(2), 6).data()), 6), "abcdef");

  // the called program changes x and c and shortens s$
  zput1(formal_data(0), 0x99);
  zput1(formal_data(1), 0x77);  // common: changed during the call
  EXPECT_EQ(zget1(ccommon), 0x77u);
  uint32_t s_built = zgeta(zp.rdt + 2 * dl + 1);
  zput2(s_built + 3 + a, 2);
  std::memcpy(zspan(formal_data(2), 2).data(), "XY", 2);

  zpop_param();
  zpop();
  EXPECT_EQ(zc.zstk_cnt, 0);
  EXPECT_EQ(zp.stkp, saved.stkp);
  EXPECT_EQ(zp.preg, saved.preg);
  EXPECT_EQ(zget1(cdata), 0x99u);                // copied back
  EXPECT_EQ(zget2(cdesc + 2 * dl + 3 + a), 2u);  // the shorter length
  EXPECT_EQ(zget1(cdata + 8), uint32_t('X'));
  EXPECT_EQ(zget1(ccommon), 0x77u);
}

TEST_P(call_fixture, refusals_restore_the_caller) {
  descriptor(cdesc, NUM, cdata, 0, 0);
  descriptor(cdesc + dl, NARR, cdata + 8, 5, 0);
  argument(cdesc);
  argument(cdesc + dl);
  uint32_t stkp = zp.stkp;
  call();
  struct row {
    std::initializer_list<uint8_t> formals;
    uint8_t state;
    int count;
    int n;
    int err;
  };
  const row rows[] = {
      {{NUM, NARR}, 'y', 2, 2, ERR_BADCODE},          // not an idle procedure
      {{NUM, NARR}, 'w', 2, 3, ERR_ARGS},             // three given, two declared
      {{NUM, NUM}, 'w', 2, 2, ERR_ARGS},              // an array for a number
      {{NUM, NARR | DSC_DIM2}, 'w', 2, 2, ERR_ARGS},  // one dimension for two
  };
  for (const row &r : rows) {
    callee(r.formals, r.state, r.count);
    static int n;
    n = r.n;
    EXPECT_EQ(raised([] { zpush_param(n); }), r.err);
    EXPECT_EQ(zc.zstk_cnt, 0);
    EXPECT_EQ(zp.stkp, stkp);  // the caller is back
    EXPECT_STREQ(zp.chnm1, "menu/3");
    call();
  }
  // parameters that do not fit below the stack limit
  callee({NUM, NARR});
  zp.stkp = zm.zrsck - 20;
  EXPECT_EQ(raised([] { zpush_param(2); }), ERR_STACK);
  EXPECT_EQ(zp.stkp, stkp);
  EXPECT_EQ(raised([] { zpop(); }), 103);  // nothing saved any more
}

TEST_P(call_fixture, names_of_the_saved_programs) {
  call();
  std::strcpy(zp.chnm1, "sub/1");
  call();
  std::strcpy(zp.chnm1, "inner");
  char name[ZPROGNAME_LEN];
  int len;
  zinfo_get(1, name, &len);
  EXPECT_EQ(std::string(name, size_t(len)), "sub/1");
  zinfo_get(2, name, &len);
  EXPECT_EQ(std::string(name, size_t(len)), "menu/3");
  zinfo_get(3, name, &len);
  EXPECT_EQ(len, 0);
  zinfo_save();
  zcleanup();
  EXPECT_EQ(zc.zstk_cnt, 0);
  zinfo_saved(2, name, &len);
  EXPECT_EQ(std::string(name, size_t(len)), "menu/3");
  zinfo_saved(16, name, &len);
  EXPECT_EQ(len, 0);
}

TEST(value_length, shapes) {
  const uint8_t num[] = {0, 0, 0, 0, 0, 0, 0};
  const uint8_t str24[] = {STR | DSC_DIM2, 0, 0, 0, 0, 12, 0, 3};  // 3 strings of 12
  const uint8_t arr[] = {NARR | DSC_DIM2, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(value_length(num, 0), 8u);
  EXPECT_EQ(value_length(str24, 1), 36u);
  EXPECT_EQ(value_length(arr, 0), 65535ull * 8 * 65535);  // no overflow
}

INSTANTIATE_TEST_SUITE_P(widths, call_fixture, ::testing::Values(PCODE16BIT, PCODE24BIT));

}  // namespace
