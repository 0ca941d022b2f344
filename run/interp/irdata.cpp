// irdata.cpp: reading the routine's DATA lists.
//
// A DATA block lies in the code, at its label (a code offset):
//   label        1    a long jump over the block (execution passes it)
//   label+1      adr  end offset: code offset just past the last item
//   label+1+adr  adr  link: offset of the next block's link field, 0 last
//   label+1+2adr      items: a length byte and that many bytes
// The routine header keeps the first block's label (2 adr), the current
// block as the offset of its link field (3 adr) and the read position
// (4 adr); bit RC2_DATAPOS of zrcod2 says whether they are set.
//
// Numbers: L = 0 zero; L = 1 one packed byte of one or two digits, the
// integer it spells; L >= 2 L - 1 digit bytes (7 kept) and the exponent
// byte.  A nibble above 9 is error 62.
#include "run/interp/irdata.h"

#include <cstring>

#include "run/base/image.h"
#include "run/numeric/bcd.h"
#include "run/numeric/zops.h"

static uint32_t header(int field) {
  return zm.zrbas + zp.rcod + uint32_t(field) * uint32_t(zw.adr_len);
}

void irrst(uint32_t label) {
  uint32_t a = uint32_t(zw.adr_len);
  if (label == 0) label = zgeta(header(2));
  if (label == 0) zraise(ERR_NODATA);
  zputa(header(3), label + 1 + a);
  zputa(header(4), label + 1 + 2 * a);
  zrcod2 |= RC2_DATAPOS;
}

uint32_t irget() {
  uint32_t a = uint32_t(zw.adr_len);
  uint32_t block = zgeta(header(3)), pos = zgeta(header(4));
  if (pos >= zgeta(zm.zrbas + block - a)) {
    uint32_t next = zgeta(zm.zrbas + block);
    if (next == 0) zraise(ERR_NODATA);
    zputa(header(3), next);
    pos = next + a;
    if (pos >= zgeta(zm.zrbas + next - a)) zraise(ERR_NODATA);  // an empty block
  }
  uint32_t b = zget1(zm.zrbas + pos);
  zputa(header(4), pos + 1);
  return b;
}

static uint32_t digit_byte() {
  uint32_t b = irget();
  if ((b >> 4) > 9 || (b & 15) > 9) zraise(ERR_DATA);
  return b;
}

// brings a number read from a list into normal form: leading zero digits
// shifted out, an all-zero value the true zero
static void normalise(bcd_num *x) {
  uint64_t m = 0;
  for (uint8_t d : x->dig) m = m << 8 | d;
  if (m == 0) {
    *x = bcd_num{};
    return;
  }
  int exp = x->exp & 0x7F;
  while (!(m >> 52 & 15)) {
    m <<= 4;
    exp--;
  }
  if (exp < 0) {
    *x = bcd_num{};
    return;
  }
  for (int i = 6; i >= 0; i--, m >>= 8) x->dig[i] = uint8_t(m);
  x->exp = uint8_t((x->exp & BCD_SIGN) | exp);
}

static bcd_num read_number() {
  if (!(zrcod2 & RC2_DATAPOS)) irrst(0);
  bcd_num x{};
  uint32_t len = irget();
  if (len == 1) {
    uint32_t b = digit_byte();
    x.dig[0] = uint8_t(b > 15 ? b : b << 4);
    x.exp = uint8_t(BCD_BIAS + (b > 15 ? 2 : 1));
  } else if (len >= 2) {
    for (uint32_t i = 0; i + 1 < len; i++) {
      uint32_t b = digit_byte();
      if (i < 7) x.dig[i] = uint8_t(b);
    }
    x.exp = uint8_t(irget());
  }
  normalise(&x);
  return x;
}

void irdnbr() {
  bcd_num x = read_number();
  zdesc d = zdesc_get(zpop_value());
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  if (d.addr == zw.inv_offs) zraise(ERR_UNBOUND);
  std::memcpy(zat(d.addr, 8), &x, 8);
}

void irdstr() {
  if (!(zrcod2 & RC2_DATAPOS)) irrst(0);
  uint32_t desc = zpop_value();
  zdesc d = zdesc_get(desc);
  if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
  if (d.addr == zw.inv_offs) zraise(ERR_UNBOUND);
  uint32_t len = irget(), room = d.dim1, n = 0;
  uint8_t *dst = zat(d.addr, room);
  for (uint32_t i = 0; i < len; i++) {
    uint32_t c = irget();
    if (n < room) dst[n++] = uint8_t(c);
  }
  if (d.type & DSC_PAD) {
    std::memset(dst + n, ' ', room - n);
  } else {
    d.dim2 = n;
    zdesc_put(desc, d);
  }
}

void irrestore_top() {
  uint32_t label = zstk_ptr();
  zstk_pop();
  irrst(label);
}
