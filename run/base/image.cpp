// image.cpp: allocation of the memory image, the width globals and the
// checked byte access.  Owns zm and zw; every module reaches the image
// through these functions.
#include "run/base/image.h"

#include <cstdlib>

zimage zm;
zinfo zp;
zwidth zw = {0, 2, 4, 7, 0xFFFF};

int zimage_alloc(unsigned zrmeq, unsigned zrceq, unsigned zcbsiz) {
  zimage_free_for_test();
  if (zrmeq + zrceq > 65535) return ZALLOC_TOO_LARGE;
  uint64_t zrcln = uint64_t(zrceq) * 256;
  uint64_t total = uint64_t(zrmeq) * 256 + zrcln + zcbsiz + 2;
  if (total > ZIMAGE_MAX || total < 512 + zrcln + zcbsiz + 2) return ZALLOC_NO_MEMORY;
  auto *p = static_cast<uint8_t *>(std::calloc(total, 1));
  if (!p) return ZALLOC_NO_MEMORY;
  zm.zu = p;
  zm.size = uint32_t(total);
  zm.zrcln = uint32_t(zrcln);
  zm.zcom = zm.zrcln;
  zm.zrbas = zm.zcom + zcbsiz + 2;
  zm.zrsck24 = zm.size - 512;
  zm.zrsck16 = total > 0xFF00 ? 0xFD00 : zm.zrsck24;
  zm.zrsck = zw.pcode24 ? zm.zrsck24 : zm.zrsck16;
  return ZALLOC_OK;
}

void zimage_free_for_test() {
  std::free(zm.zu);
  zm = zimage{};
}

int setPcodeVersion(int pv) {
  if (pv == PCODE16BIT)
    zw = {0, 2, 4, 7, 0xFFFF};
  else if (pv == PCODE24BIT)
    zw = {1, 3, 5, 8, 0xFFFFFF};
  else
    return 1;
  zm.zrsck = zw.pcode24 ? zm.zrsck24 : zm.zrsck16;
  return 0;
}

void zimage_fault() {
  zraise(ERR_BADCODE);
}

void zstk_unwind() {
  for (;;) {
    uint32_t s = zp.stkp;
    if (!zstk_is_truth() && zstk_ptr() <= FRAME_MAX) return;
    uint32_t link = zgeta(s);
    if (link >= s) zraise(ERR_BADCODE);  // a chain must run downward
    zp.stkp = link;
  }
}
