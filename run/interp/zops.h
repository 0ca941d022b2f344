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

#include "run/interp/image.h"
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
inline unsigned zform(uint8_t op) { return (op >> 5) & 3; }

// the next p-code byte; advances zp.preg
inline uint32_t zfetch() { return zget1(zp.preg++); }

zdesc zdesc_get(uint32_t off);
void zdesc_put(uint32_t off, const zdesc &d);
// length of a string value: dim1 when padded, else the current length dim2
inline uint32_t zdesc_len(const zdesc &d) { return (d.type & DSC_PAD) ? d.dim1 : d.dim2; }

// --- stack entries ------------------------------------------------------
// Pushes a number temporary: the 8 bytes, then its descriptor.
void zpush_num(const bcd_num &n);
// Pushes a string temporary (type 0x62) for len characters at data; no
// characters are copied.
void zpush_str(uint32_t data, uint32_t len);
// Pushes a string temporary for the len characters already placed at
// start (at or above stkp + adr_len); its descriptor follows them.
void zpush_str_above(uint32_t start, uint32_t len);
// Pushes a reference to the descriptor at desc.
void zpush_ref(uint32_t desc);
// Pops a value entry and returns the offset of its descriptor; 102 when
// the top is a truth value or a control frame.
uint32_t zpop_value();
// The descriptor offset of the top entry, which must be a value (102).
uint32_t ztop_value();
// Pops a number (104 for a string) and copies its 8 bytes to n.
void zpop_num(bcd_num *n);

// --- operands -----------------------------------------------------------
// Resolves operand number opr (first byte, further bytes at zp.preg) to
// its descriptor offset, following one indirection; 111 when report_NBS
// is set and the descriptor is unbound.  opr 0 is malformed (102).
uint32_t gtopr(uint32_t opr, int report_NBS);
void ncom();   // pushes the numeric operand chosen by zcod
void scom();   // pushes the string operand chosen by zcod
int test();    // ncom, then fcom(left, right)
int scomp();   // scom, then the byte comparison of left with right

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
uint32_t moves(uint32_t pogadr, uint32_t podadr, uint32_t poeadr, uint32_t poslen,
               uint32_t posadr, int popflg);
// Overlap-safe copy of len bytes.
void movstr(uint32_t len, uint32_t from, uint32_t to);

// Integer to number.  Up to 14 digits exactly; longer magnitudes are
// rounded half up to 14 digits.
void btofp(int64_t nbr, bcd_num *to);
