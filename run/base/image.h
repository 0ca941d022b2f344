// image.h: the memory image zu, its regions, the address width of the
// loaded p-code, and the only code that reads or writes image bytes.
//
// Regions, in address order (offsets from zu):
//   0       common area            zrcln = C * 256 bytes
//   zcom    shared buffer image    zcbsiz + 2 bytes
//   zrbas   program area           to the end; the loaded program, then
//                                  the expression stack growing upward
// Stack limits: zrsck24 = size - 512; zrsck16 = 64768 when the image is
// larger than 65280 bytes, else zrsck24.  zrsck is the active one.
//
// Every get, put and span checks off <= size && len <= size - off and
// raises the malformed-program error (102) when it fails: a p-code
// program is untrusted and may name any offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "run/base/interp.h"

struct zimage {
  uint8_t *zu;       // the image, zero-filled; null until allocated
  uint32_t size;     // bytes in the image
  uint32_t zrcln;    // common area length
  uint32_t zcom;     // offset of the shared buffer image
  uint32_t zrbas;    // offset of the program area
  uint32_t zrsck16;  // stack limit for 16-bit p-code
  uint32_t zrsck24;  // stack limit for 24-bit p-code
  uint32_t zrsck;    // active stack limit
};
extern zimage zm;

// The width globals, set together by setPcodeVersion.
struct zwidth {
  int pcode24;        // nonzero for 3-byte addresses
  int adr_len;        // bytes in an address: 2 or 3
  int hdr_len;        // bytes of a program-file record header: 4 or 5
  int dsc_len;        // bytes in a descriptor: 7 or 8
  uint32_t inv_offs;  // the invalid (unbound) address
};
extern zwidth zw;

constexpr uint32_t ZIMAGE_MAX = 16776960;  // largest image (0xFFFF00)

// Results of zimage_alloc.
enum { ZALLOC_OK = 0, ZALLOC_TOO_LARGE = 1, ZALLOC_NO_MEMORY = 2 };

// Sizes and places the image for M = zrmeq and C = zrceq pages and a shared
// buffer of zcbsiz bytes.  ZALLOC_TOO_LARGE when M + C exceeds 65535,
// ZALLOC_NO_MEMORY when the total exceeds ZIMAGE_MAX or cannot be had.
// An image already allocated is released first.
int zimage_alloc(unsigned zrmeq, unsigned zrceq, unsigned zcbsiz);
// Releases the image (tests).
void zimage_free_for_test();

// Sets the width globals for 129 or 130 and selects zrsck; returns 0, or 1
// for any other value, changing nothing.
int setPcodeVersion(int pv);

// true when [off, off+len) lies inside the image
inline bool zin(uint64_t off, uint64_t len) {
  return len <= zm.size && off <= zm.size - len;
}

// The failed-check path of every access: raises 102.
[[noreturn]] void zimage_fault();

// Checked pointer to [off, off+len); the only way to image bytes.  Inline
// so that the dispatch loop pays one compare per access, not a call.
[[gnu::always_inline]] inline uint8_t *zat(uint32_t off, uint32_t len) {
  if (!zin(off, len)) [[unlikely]]
    zimage_fault();
  return zm.zu + off;
}

inline uint32_t zget1(uint32_t off) {
  return *zat(off, 1);
}
inline uint32_t zget2(uint32_t off) {
  const uint8_t *p = zat(off, 2);
  return uint32_t(p[0]) << 8 | p[1];
}
inline uint32_t zget3(uint32_t off) {
  const uint8_t *p = zat(off, 3);
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}
inline uint32_t zget4(uint32_t off) {
  const uint8_t *p = zat(off, 4);
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
// an address of adr_len bytes
inline uint32_t zgeta(uint32_t off) {
  return zw.pcode24 ? zget3(off) : zget2(off);
}

inline void zput1(uint32_t off, uint32_t v) {
  *zat(off, 1) = uint8_t(v);
}
inline void zput2(uint32_t off, uint32_t v) {
  uint8_t *p = zat(off, 2);
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void zput3(uint32_t off, uint32_t v) {
  uint8_t *p = zat(off, 3);
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}
inline void zput4(uint32_t off, uint32_t v) {
  uint8_t *p = zat(off, 4);
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
// an address of adr_len bytes
inline void zputa(uint32_t off, uint32_t v) {
  if (zw.pcode24)
    zput3(off, v);
  else
    zput2(off, v);
}
inline std::span<uint8_t> zspan(uint32_t off, uint32_t len) {
  return {zat(off, len), len};
}

// Raw big-endian address at p, for code that has checked the range of p.
// The hot paths pass the width in, read once: every byte store may alias
// the globals, so they are loaded into locals before the first store.
inline uint32_t zraw_geta(const uint8_t *p, bool w24) {
  return w24 ? uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2] : uint32_t(p[0]) << 8 | p[1];
}
inline uint32_t zraw_geta(const uint8_t *p) {
  return zraw_geta(p, zw.pcode24);
}
inline void zraw_puta(uint8_t *p, uint32_t v, bool w24) {
  if (w24) *p++ = uint8_t(v >> 16);
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void zraw_puta(uint8_t *p, uint32_t v) {
  zraw_puta(p, v, zw.pcode24);
}

// Expression stack primitives.  An entry of body_len bytes is written at
// zstk_begin(body_len) (= stkp + adr_len), then closed by zstk_end, which
// writes the pointer and link words and checks the limit (106 after the
// write).  A body that would not fit in the image at all raises 106 before.
inline uint32_t zstk_begin(uint32_t body_len) {
  uint64_t start = uint64_t(zp.stkp) + uint32_t(zw.adr_len);
  if (!zin(start, uint64_t(body_len) + 2 * uint32_t(zw.adr_len))) zraise(ERR_STACK);
  return uint32_t(start);
}

inline void zstk_end(uint32_t body_len, uint32_t ptrword) {
  const uint32_t a = uint32_t(zw.adr_len), s = zp.stkp, lim = zm.zrsck;
  const bool w = zw.pcode24;
  uint8_t *p = zm.zu + zstk_begin(body_len) + body_len;
  zraw_puta(p, ptrword, w);
  zraw_puta(p + a, s, w);
  uint32_t link = s + a + body_len + a;
  zp.stkp = link;
  if (link > lim) zraise(ERR_STACK);
}

// truth value: 0, v, link word
inline void zstk_push_truth(int v) {
  const uint32_t s = zp.stkp, lim = zm.zrsck;
  const bool w = zw.pcode24;
  uint8_t *p = zm.zu + zstk_begin(2);
  p[0] = 0;
  p[1] = v ? 1 : 0;
  zraw_puta(p + 2, s, w);
  uint32_t link = s + uint32_t(zw.adr_len) + 2;
  zp.stkp = link;
  if (link > lim) zraise(ERR_STACK);
}

// A truth value is the only entry without a pointer word, so it is told
// apart by its shape: the link word lies exactly 2 + adr_len below stkp
// and the two bytes below stkp are 0 and 0 or 1.  (With 2-byte addresses a
// reference entry has the same size, but its pointer word is a descriptor
// offset far above 1; the stack bottom's is 7.)
inline bool zstk_is_truth() {
  uint32_t s = zp.stkp, a = uint32_t(zw.adr_len);
  if (s < 2 + a) return false;
  const uint8_t *p = zat(s - 2, 2 + a);
  return zraw_geta(p + 2) == s - 2 - a && p[0] == 0 && p[1] <= 1;
}

// The truth byte of the top entry; 102 when the top is not a truth value.
inline int zstk_truth() {
  if (!zstk_is_truth()) zraise(ERR_BADCODE);
  return zm.zu[zp.stkp - 1];
}

// pointer word of the top entry
inline uint32_t zstk_ptr() {
  return zgeta(zp.stkp - uint32_t(zw.adr_len));
}
// Drops the top entry.  The stack bottom (the one entry without one
// below it) and a chain that does not run downward are malformed code.
inline void zstk_pop() {
  uint32_t link = zgeta(zp.stkp);
  if (link == 0 || link >= zp.stkp) zraise(ERR_BADCODE);
  zp.stkp = link;
}

// Pops everything above the nearest control frame: truth values and
// entries whose pointer word is above FRAME_MAX.  Stops at the stack
// bottom even when the chain is damaged.
void zstk_unwind();
