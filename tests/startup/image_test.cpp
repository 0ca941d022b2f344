// Memory image sizing, regions, widths and the checked access.
#include <gtest/gtest.h>

#include "run/base/image.h"

namespace {

struct image_test : ::testing::Test {
  void TearDown() override {
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
};

TEST_F(image_test, limits_and_regions) {
  EXPECT_EQ(zimage_alloc(65535, 1, 200), ZALLOC_TOO_LARGE);
  EXPECT_EQ(zimage_alloc(65534, 1, 200), ZALLOC_NO_MEMORY);
  EXPECT_EQ(zm.zu, nullptr);

  // 253 * 256 + 256 + 254 + 2 = 65280: both limits are the same
  ASSERT_EQ(zimage_alloc(253, 1, 254), ZALLOC_OK);
  EXPECT_EQ(zm.size, 65280u);
  EXPECT_EQ(zm.zrsck16, zm.zrsck24);
  EXPECT_EQ(zm.zrsck24, 65280u - 512);
  EXPECT_EQ(zm.zcom, 256u);
  EXPECT_EQ(zm.zrbas, 256u + 254 + 2);

  ASSERT_EQ(zimage_alloc(253, 1, 255), ZALLOC_OK);
  EXPECT_EQ(zm.size, 65281u);
  EXPECT_EQ(zm.zrsck16, 64768u);
  EXPECT_EQ(zm.zrsck24, 65281u - 512);
  for (uint32_t i = 0; i < zm.size; i++) ASSERT_EQ(zm.zu[i], 0) << i;
}

TEST_F(image_test, widths_follow_the_pcode_version) {
  ASSERT_EQ(zimage_alloc(600, 1, 200), ZALLOC_OK);
  EXPECT_EQ(setPcodeVersion(PCODE24BIT), 0);
  EXPECT_EQ(zw.adr_len, 3);
  EXPECT_EQ(zw.dsc_len, 8);
  EXPECT_EQ(zw.hdr_len, 5);
  EXPECT_EQ(zw.inv_offs, 0xFFFFFFu);
  EXPECT_EQ(zm.zrsck, zm.zrsck24);
  EXPECT_EQ(setPcodeVersion(131), 1);
  EXPECT_EQ(zw.adr_len, 3);  // unchanged
  EXPECT_EQ(setPcodeVersion(PCODE16BIT), 0);
  EXPECT_EQ(zw.inv_offs, 0xFFFFu);
  EXPECT_EQ(zm.zrsck, 0xFD00u);
}

TEST_F(image_test, access_is_big_endian_and_checked) {
  ASSERT_EQ(zimage_alloc(1, 0, 0), ZALLOC_NO_MEMORY);  // no room for the stack reserve
  ASSERT_EQ(zimage_alloc(4, 0, 0), ZALLOC_OK);
  setPcodeVersion(PCODE24BIT);
  zput3(10, 0x123456);
  EXPECT_EQ(zm.zu[10], 0x12);
  EXPECT_EQ(zm.zu[12], 0x56);
  EXPECT_EQ(zgeta(10), 0x123456u);
  EXPECT_EQ(zget2(11), 0x3456u);
  uint32_t end = zm.size;
  EXPECT_EQ(zget1(end - 1), 0u);
  auto raises = [](auto f) {
    try {
      f();
    } catch (const zerror_jump &e) {
      return e.number;
    }
    return -1;
  };
  EXPECT_EQ(raises([&] { zget1(end); }), ERR_BADCODE);
  EXPECT_EQ(raises([&] { zget4(end - 3); }), ERR_BADCODE);
  EXPECT_EQ(raises([&] { zput2(0xFFFFFFFFu, 1); }), ERR_BADCODE);
  EXPECT_EQ(raises([&] { zspan(end - 4, 5); }), ERR_BADCODE);
  EXPECT_EQ(raises([&] { zspan(5, 0xFFFFFFFFu); }), ERR_BADCODE);
  EXPECT_EQ(zspan(end, 0).size(), 0u);
}

TEST_F(image_test, stack_push_checks_the_limit_after_writing) {
  ASSERT_EQ(zimage_alloc(8, 0, 0), ZALLOC_OK);  // 2050 bytes, limit 1538
  setPcodeVersion(PCODE16BIT);
  zp.stkp = 100;
  uint32_t b = zstk_begin(8);
  EXPECT_EQ(b, 102u);
  zstk_end(8, 0x0400);
  EXPECT_EQ(zp.stkp, 102u + 8 + 2);
  EXPECT_EQ(zstk_ptr(), 0x0400u);
  zstk_push_truth(1);
  EXPECT_EQ(zstk_truth(), 1);
  zstk_pop();
  zstk_pop();
  EXPECT_EQ(zp.stkp, 100u);

  // an entry whose link word lands above the limit is written, then refused
  zp.stkp = zm.zrsck - 10;
  uint32_t before = zp.stkp;
  try {
    zstk_end(20, 0x0500);
    FAIL() << "no stack error";
  } catch (const zerror_jump &e) {
    EXPECT_EQ(e.number, ERR_STACK);
  }
  EXPECT_EQ(zget2(before + 2 + 20 + 2), before);  // the link word was written
  // a body that cannot fit in the image at all is refused before writing
  zp.stkp = zm.size - 8;
  try {
    zstk_begin(100);
    FAIL() << "no stack error";
  } catch (const zerror_jump &e) {
    EXPECT_EQ(e.number, ERR_STACK);
  }
}

}  // namespace
