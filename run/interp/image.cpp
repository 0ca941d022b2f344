// image.cpp: allocation of the memory image, the width globals and the
// checked byte access.  Owns zm and zw; every module reaches the image
// through these functions.
#include "run/interp/image.h"

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

static inline const uint8_t *at(uint32_t off, uint32_t len) {
  if (!zin(off, len)) zraise(ERR_BADCODE);
  return zm.zu + off;
}

uint32_t zget1(uint32_t off) { return *at(off, 1); }

uint32_t zget2(uint32_t off) {
  const uint8_t *p = at(off, 2);
  return uint32_t(p[0]) << 8 | p[1];
}

uint32_t zget3(uint32_t off) {
  const uint8_t *p = at(off, 3);
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

uint32_t zget4(uint32_t off) {
  const uint8_t *p = at(off, 4);
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t zgeta(uint32_t off) { return zw.pcode24 ? zget3(off) : zget2(off); }

static inline uint8_t *wat(uint32_t off, uint32_t len) {
  if (!zin(off, len)) zraise(ERR_BADCODE);
  return zm.zu + off;
}

void zput1(uint32_t off, uint32_t v) { *wat(off, 1) = uint8_t(v); }

void zput2(uint32_t off, uint32_t v) {
  uint8_t *p = wat(off, 2);
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

void zput3(uint32_t off, uint32_t v) {
  uint8_t *p = wat(off, 3);
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}

void zput4(uint32_t off, uint32_t v) {
  uint8_t *p = wat(off, 4);
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

void zputa(uint32_t off, uint32_t v) {
  if (zw.pcode24)
    zput3(off, v);
  else
    zput2(off, v);
}

std::span<uint8_t> zspan(uint32_t off, uint32_t len) { return {wat(off, len), len}; }

uint32_t zstk_begin(uint32_t body_len) {
  uint64_t start = uint64_t(zp.stkp) + uint32_t(zw.adr_len);
  if (!zin(start, uint64_t(body_len) + 2 * uint32_t(zw.adr_len))) zraise(ERR_STACK);
  return uint32_t(start);
}

void zstk_end(uint32_t body_len, uint32_t ptrword) {
  uint32_t a = uint32_t(zw.adr_len);
  uint32_t start = zstk_begin(body_len);
  uint32_t link = start + body_len + a;
  zputa(link - a, ptrword);
  zputa(link, zp.stkp);
  zp.stkp = link;
  if (link > zm.zrsck) zraise(ERR_STACK);
}

void zstk_push_truth(int v) {
  uint32_t start = zstk_begin(2);
  zput1(start, 0);
  zput1(start + 1, v ? 1 : 0);
  uint32_t link = start + 2;
  zputa(link, zp.stkp);
  zp.stkp = link;
  if (link > zm.zrsck) zraise(ERR_STACK);
}

int zstk_truth() { return int(zget1(zp.stkp - 1)); }

uint32_t zstk_ptr() { return zgeta(zp.stkp - uint32_t(zw.adr_len)); }

void zstk_pop() { zp.stkp = zgeta(zp.stkp); }
