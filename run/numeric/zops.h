// zops.h: operand and string helpers of the interpreter.  Every
// instruction is built from these: resolving an operand number to a
// descriptor, pushing numeric and string operands, popping integers and
// strings, subscripts and substring positions, comparisons, and string
// assignment with the padding rules of the language.
//
// All addresses are offsets from zu; descriptors are read and written
// through zdesc_get/zdesc_put.  The opcode bits come from zcod:
//   bits 0..4 operation, bits 5..6 form (ZFORM), bit 7 source (ZSRC_VAR).
// Errors leave through zraise: 100 range, 102 malformed p-code, 104 type,
// 106 stack, 111 unbound operand.
#pragma once

#include <cstdint>
#include <cstring>

#include "run/base/image.h"
#include "run/numeric/bcd.h"

// A descriptor as read from the image.
struct zdesc {
  uint8_t type;   // DSC_* bits
  uint32_t addr;  // data address (offset from zu)
  uint32_t dim1;  // capacity, element length or first extent
  uint32_t dim2;  // current length, element count or second extent
};

// opcode fields
constexpr uint8_t ZSRC_VAR = 0x80;  // source bit: operand is a variable
inline unsigned zform(uint8_t op) {
  return (op >> 5) & 3;
}

// the next p-code byte; advances zp.preg
inline uint32_t zfetch() {
  return zget1(zp.preg++);
}

[[gnu::always_inline]] inline zdesc zdesc_get(uint32_t off) {
  const uint8_t *p = zat(off, uint32_t(zw.dsc_len));
  zdesc d;
  d.type = p[0];
  d.addr = zraw_geta(p + 1);
  p += 1 + zw.adr_len;
  d.dim1 = uint32_t(p[0]) << 8 | p[1];
  d.dim2 = uint32_t(p[2]) << 8 | p[3];
  return d;
}
void zdesc_put(uint32_t off, const zdesc &d);
// length of a string value: dim1 when padded, else the current length dim2
inline uint32_t zdesc_len(const zdesc &d) {
  return (d.type & DSC_PAD) ? d.dim1 : d.dim2;
}

// --- stack entries ------------------------------------------------------
// The hot ones are inline: each checks its whole range once, then works
// on the bytes.

// Pushes a number temporary: the 8 bytes, then its descriptor (type 0,
// the address of the 8 bytes, dims 0).
[[gnu::always_inline]] inline void zpush_num(const bcd_num &n) {
  const uint32_t a = uint32_t(zw.adr_len), dl = uint32_t(zw.dsc_len), s = zp.stkp;
  const uint32_t lim = zm.zrsck, inv = zw.inv_offs;
  const bool w = zw.pcode24;
  const uint32_t start = zstk_begin(8 + dl), link = start + 8 + dl + a;
  if (uint64_t(start) + 8 > inv) zraise(ERR_BADCODE);
  uint8_t *p = zm.zu + start;
  std::memcpy(p, &n, 8);
  p[8] = 0;
  zraw_puta(p + 9, start, w);
  std::memset(p + 9 + a, 0, 4);
  zraw_puta(p + 8 + dl, start + 8, w);
  zraw_puta(p + 8 + dl + a, s, w);
  zp.stkp = link;
  if (link > lim) zraise(ERR_STACK);
}

// Pushes a string temporary (type 0x62) for len characters at data; no
// characters are copied.
void zpush_str(uint32_t data, uint32_t len);
// Pushes a string temporary for the len characters already placed at
// start (at or above stkp + adr_len); its descriptor follows them.
void zpush_str_above(uint32_t start, uint32_t len);
// Pushes a reference to the descriptor at desc.
void zpush_ref(uint32_t desc);
// The descriptor offset of the top entry, which must be a value (102);
// *link receives its link word.
[[gnu::always_inline]] inline uint32_t ztop_value(uint32_t *link) {
  const uint32_t s = zp.stkp, a = uint32_t(zw.adr_len);
  const bool w = zw.pcode24;
  const uint8_t *p = zat(s - a, 2 * a);
  uint32_t ptr = zraw_geta(p, w);
  *link = zraw_geta(p + a, w);
  if (ptr <= FRAME_MAX || (s - *link == 2 + a && zstk_is_truth())) zraise(ERR_BADCODE);
  return ptr;
}
inline uint32_t ztop_value() {
  uint32_t link;
  return ztop_value(&link);
}
[[gnu::always_inline]] inline uint32_t zpop_value() {
  uint32_t link, ptr = ztop_value(&link);
  zp.stkp = link;
  return ptr;
}
// Pops a number (104 for a string) and copies its 8 bytes to n.
[[gnu::always_inline]] inline void zpop_num(bcd_num *n) {
  const bool w = zw.pcode24;
  const uint8_t *d = zat(zpop_value(), uint32_t(zw.dsc_len));
  if (d[0] & DSC_STR) zraise(ERR_ARGS);
  std::memcpy(n, zat(zraw_geta(d + 1, w), 8), 8);
}

// --- operands -----------------------------------------------------------
// Resolves operand number opr (first byte, further bytes at zp.preg) to
// its descriptor offset, following one indirection; 111 when report_NBS
// is set and the descriptor is unbound.  opr 0 is malformed (102).
uint32_t gtopr_slow(uint32_t opr, int report_NBS);
[[gnu::always_inline]] inline uint32_t gtopr(uint32_t opr, int report_NBS) {
  if ((zp.flags & ZF_WIDE) || opr < 2) return gtopr_slow(opr, report_NBS);
  uint32_t off = zp.rdt + (opr - 2) * uint32_t(zw.dsc_len);
  const uint8_t *p = zat(off, uint32_t(zw.dsc_len));
  if (p[0] & DSC_IND) {
    off = zraw_geta(p + 1);
    p = zat(off, 3);
  }
  if (report_NBS && p[1] == 0xFF && p[2] == 0xFF) zraise(ERR_UNBOUND);
  return off;
}
// The numeric literal of a constant operand (source bit clear) chosen by
// zcod's form, read at zp.preg; 102 for a malformed one.
bcd_num zlit_num();
void ncom();  // pushes the numeric operand chosen by zcod
void scom();  // pushes the string operand chosen by zcod
int test();   // ncom, then fcom(left, right)
int scomp();  // scom, then the byte comparison of left with right

// --- popping ------------------------------------------------------------
int32_t zplong();  // pops a number as an integer, truncated, saturated
int32_t zppos();   // as zplong, 104 for a negative number
// Pops any value; returns its type bits, its length and data address.
uint8_t zpopst(uint32_t *len, uint32_t *data);

// --- subscripts (1-based, 100 when out of range) -------------------------
uint32_t xeq1s(const zdesc &dad);  // pops i; element address
uint32_t xeq2s(const zdesc &dad);  // pops j, then i; element address
// pops a position; *d1 = characters from there to the current end
uint32_t str1s(const zdesc &dad, uint32_t *d1);
// pops an element number, then a position; *d1 = rest of the element
uint32_t str2s(const zdesc &dad, uint32_t *d1);

// --- assignment and copying ---------------------------------------------
// String assignment to the operand at zp.preg: flag 0 whole value (forms
// 00, 01 from a position, 10 array element), flag 1 with explicit length.
void popstr(int flag);
// Fills [pogadr, podadr) with spaces, copies min(poeadr - podadr, poslen)
// characters from posadr to podadr, pads to poeadr when popflg; returns
// the number copied.
uint32_t moves(uint32_t pogadr, uint32_t podadr, uint32_t poeadr, uint32_t poslen, uint32_t posadr,
               int popflg);
// Overlap-safe copy of len bytes.
void movstr(uint32_t len, uint32_t from, uint32_t to);

// Integer to number.  Up to 14 digits exactly; longer magnitudes are
// rounded half up to 14 digits.
void btofp(int64_t nbr, bcd_num *to);
