// zops.cpp: operand and string helpers.  Owns no state; works on the
// registers, the descriptors and the expression stack of the image.
// Called by the dispatch loop, the intrinsics and the file statements.
#include "run/numeric/zops.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "run/numeric/zmath.h"

void zdesc_put(uint32_t off, const zdesc &d) {
  const uint32_t a = uint32_t(zw.adr_len);
  const bool w = zw.pcode24;
  uint8_t *p = zat(off, uint32_t(zw.dsc_len));
  p[0] = d.type;
  zraw_puta(p + 1, d.addr, w);
  p += 1 + a;
  p[0] = uint8_t(d.dim1 >> 8);
  p[1] = uint8_t(d.dim1);
  p[2] = uint8_t(d.dim2 >> 8);
  p[3] = uint8_t(d.dim2);
}

// A data address written into a descriptor must be representable in an
// address field and must not be the unbound marker.
static void check_data(uint32_t addr, uint64_t len) {
  if (uint64_t(addr) + len > zw.inv_offs || !zin(addr, len)) zraise(ERR_BADCODE);
}

// Pushes a descriptor of the given shape as the body of a new entry.
static void push_desc(uint8_t type, uint32_t addr, uint32_t dim1, uint32_t dim2) {
  uint32_t body = uint32_t(zw.dsc_len);
  uint32_t start = zstk_begin(body);
  zdesc_put(start, zdesc{type, addr, dim1, dim2});
  zstk_end(body, start);
}

void zpush_str(uint32_t data, uint32_t len) {
  if (len > 0xFFFF) zraise(ERR_STACK);  // longer than a descriptor can say
  check_data(data, len);
  push_desc(DSC_PAD | DSC_STR | DSC_ARR, data, len, len);
}

void zpush_str_above(uint32_t start, uint32_t len) {
  if (len > 0xFFFF) zraise(ERR_STACK);
  uint32_t base = zp.stkp + uint32_t(zw.adr_len);
  if (start < base) zraise(ERR_BADCODE);
  check_data(start, len);
  uint32_t body = start - base + len + uint32_t(zw.dsc_len);
  zstk_begin(body);
  zdesc_put(start + len, zdesc{DSC_PAD | DSC_STR | DSC_ARR, start, len, len});
  zstk_end(body, start + len);
}

void zpush_ref(uint32_t desc) {
  zstk_end(0, desc);
}

// pushes the descriptor of a numeric array element
static void push_elem(uint32_t addr) {
  check_data(addr, 8);
  push_desc(0, addr, 0, 0);
}

uint32_t gtopr_slow(uint32_t opr, int report_NBS) {
  if (opr == 0) zraise(ERR_BADCODE);
  opr -= 1;
  if (opr == 0) opr = zfetch() + 255;
  if (zp.flags & ZF_WIDE) {
    opr -= 1;
    if (opr == 0) {
      uint32_t hi = zfetch();
      opr = hi * 256 + zfetch() + 510;
    }
  }
  uint64_t desc = uint64_t(zp.rdt) + uint64_t(opr - 1) * uint32_t(zw.dsc_len);
  if (desc > UINT32_MAX) zraise(ERR_BADCODE);
  uint32_t off = uint32_t(desc);
  if (zget1(off) & DSC_IND) off = zgeta(off + 1);
  if (report_NBS && zget1(off + 1) == 0xFF && zget1(off + 2) == 0xFF) zraise(ERR_UNBOUND);
  return off;
}

// Digit nibbles above 9 never come from a sound compiler.
static void check_digits(const uint8_t *p, int n) {
  for (int i = 0; i < n; i++)
    if ((p[i] >> 4) > 9 || (p[i] & 15) > 9) zraise(ERR_BADCODE);
}

// Brings a literal into normal form: no leading zero digit, and a zero
// of any exponent becomes the true zero (eight zero bytes), so that it
// compares equal to zero and prints as "0".
static void normalise(bcd_num *n) {
  int lead = 0;
  while (lead < BCD_DIGITS && ((n->dig[lead / 2] >> (lead % 2 ? 0 : 4)) & 15) == 0) lead++;
  int e = n->exp & 0x7F;
  if (lead == BCD_DIGITS || e - lead < 1) {
    *n = bcd_num{};
    return;
  }
  if (lead == 0) return;
  uint8_t d[BCD_DIGITS] = {};
  for (int i = lead; i < BCD_DIGITS; i++) d[i - lead] = (n->dig[i / 2] >> (i % 2 ? 0 : 4)) & 15;
  for (int i = 0; i < 7; i++) n->dig[i] = uint8_t(d[2 * i] << 4 | d[2 * i + 1]);
  n->exp = uint8_t((n->exp & BCD_SIGN) | (e - lead));
}

bcd_num zlit_num() {
  bcd_num n = {};
  switch (zform(zcod)) {
    case 0: {
      uint8_t b = uint8_t(zfetch());
      check_digits(&b, 1);
      if (b > 15) {
        n.dig[0] = b;
        n.exp = 0x42;
      } else if (b != 0) {
        n.dig[0] = uint8_t(b << 4);
        n.exp = 0x41;
      }
      break;
    }
    case 1:
      n.dig[0] = 0x10;
      n.exp = 0x41;
      break;
    case 2: {
      uint32_t cnt = zfetch();
      if (cnt > 8) zraise(ERR_BADCODE);
      if (cnt == 0) break;
      const uint8_t *p = zat(zp.preg, cnt);
      check_digits(p, int(cnt - 1));
      std::memcpy(n.dig, p, cnt - 1);
      n.exp = p[cnt - 1];
      zp.preg += cnt;
      normalise(&n);
      break;
    }
    default:
      zraise(ERR_BADCODE);
  }
  return n;
}

void ncom() {
  if (!(zcod & ZSRC_VAR)) {
    zpush_num(zlit_num());
    return;
  }
  uint32_t b = zfetch();
  if (b == 0) return;
  uint32_t desc = gtopr(b, 1);
  switch (zform(zcod)) {
    case 0:
      zpush_ref(desc);
      break;
    case 1:
      push_elem(xeq1s(zdesc_get(desc)));
      break;
    case 2:
      push_elem(xeq2s(zdesc_get(desc)));
      break;
    default:
      zraise(ERR_BADCODE);
  }
}

void scom() {
  unsigned form = zform(zcod);
  if (!(zcod & ZSRC_VAR)) {
    uint32_t len = form == 0 ? 1 : form == 2 ? zfetch() : 0;
    if (form == 3) zraise(ERR_BADCODE);
    uint32_t at = len ? zp.preg : 0;
    if (!zin(at, len)) zraise(ERR_BADCODE);
    zpush_str(at, len);
    zp.preg += len;
    return;
  }
  uint32_t b = zfetch();
  if (b == 0) return;
  uint32_t desc = gtopr(b, 1);
  uint32_t d1 = 0, at = 0;
  if (form == 0) {
    zpush_ref(desc);
    return;
  }
  if (form == 1)
    at = str1s(zdesc_get(desc), &d1);
  else if (form == 2)
    at = str2s(zdesc_get(desc), &d1);
  else
    zraise(ERR_BADCODE);
  zpush_str(at, d1);
}

int test() {
  ncom();
  bcd_num l, r;
  zpop_num(&r);
  zpop_num(&l);
  return fcom(&l, &r);
}

int scomp() {
  scom();
  uint32_t rl, ra, ll, la;
  zpopst(&rl, &ra);
  zpopst(&ll, &la);
  int pre = ll < rl ? -1 : ll > rl ? 1 : 0;
  uint32_t n = std::min(ll, rl);
  if (n == 0) return pre;
  int c = std::memcmp(zat(la, n), zat(ra, n), n);
  return c < 0 ? -1 : c > 0 ? 1 : pre;
}

// integer part of the 8 bytes at addr, truncated and saturated
static int32_t num_to_int(uint32_t addr) {
  const uint8_t *p = zat(addr, 8);
  int e = (p[7] & 0x7F) - BCD_BIAS;
  if (e < 1) return 0;
  if (e > 11) return INT32_MAX;
  int64_t v = 0;
  for (int i = 0; i < e; i++) v = v * 10 + ((p[i / 2] >> (i % 2 ? 0 : 4)) & 15);
  if (v > INT32_MAX) return INT32_MAX;
  return int32_t((p[7] & BCD_SIGN) ? -v : v);
}

int32_t zplong() {
  zdesc d = zdesc_get(zpop_value());
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  return num_to_int(d.addr);
}

int32_t zppos() {
  zdesc d = zdesc_get(zpop_value());
  if ((d.type & DSC_STR) || (zget1(d.addr + 7) & BCD_SIGN)) zraise(ERR_ARGS);
  return num_to_int(d.addr);
}

uint8_t zpopst(uint32_t *len, uint32_t *data) {
  zdesc d = zdesc_get(zpop_value());
  *len = zdesc_len(d);
  *data = d.addr;
  return d.type;
}

// pops a 1-based index and checks it against 1..max
static uint32_t pop_index(uint32_t max) {
  int32_t i = zplong();
  if (i < 1 || uint32_t(i) > max) zraise(ERR_RANGE);
  return uint32_t(i);
}

// data + off as an address inside the image
static uint32_t offset_addr(uint32_t data, uint64_t off) {
  uint64_t a = uint64_t(data) + off;
  if (a > zm.size) zraise(ERR_BADCODE);
  return uint32_t(a);
}

uint32_t xeq1s(const zdesc &dad) {
  uint32_t i = pop_index(dad.dim1);
  return offset_addr(dad.addr, uint64_t(i - 1) * 8);
}

uint32_t xeq2s(const zdesc &dad) {
  uint32_t j = pop_index(dad.dim2);
  uint32_t i = pop_index(dad.dim1);
  return offset_addr(dad.addr, (uint64_t(j - 1) * dad.dim1 + (i - 1)) * 8);
}

uint32_t str1s(const zdesc &dad, uint32_t *d1) {
  uint32_t p = pop_index(dad.dim2);
  *d1 = dad.dim2 - (p - 1);
  return offset_addr(dad.addr, p - 1);
}

uint32_t str2s(const zdesc &dad, uint32_t *d1) {
  uint32_t e = pop_index(dad.dim2);
  uint32_t p = pop_index(dad.dim1);
  *d1 = dad.dim1 - (p - 1);
  return offset_addr(dad.addr, uint64_t(e - 1) * dad.dim1 + p - 1);
}

void movstr(uint32_t len, uint32_t from, uint32_t to) {
  if (len == 0) return;
  const uint8_t *src = zat(from, len);
  std::memmove(zat(to, len), src, len);
}

static void fill_spaces(uint32_t from, uint32_t to) {
  if (from < to) std::memset(zat(from, to - from), ' ', to - from);
}

uint32_t moves(uint32_t pogadr, uint32_t podadr, uint32_t poeadr, uint32_t poslen, uint32_t posadr,
               int popflg) {
  fill_spaces(pogadr, podadr);
  uint32_t room = poeadr > podadr ? poeadr - podadr : 0;
  uint32_t n = std::min(room, poslen);
  movstr(n, posadr, podadr);
  if (popflg) fill_spaces(podadr + n, poeadr);
  return n;
}

// Whole-value assignment.  Form 00 fills the string; form 01 stores from a
// position, the string then holding its full capacity; form 10 stores into
// an element of a string array, which has no length of its own and is
// therefore always padded (its dim2 is the element count and stays).
static void assign_whole(uint32_t dsc, zdesc d, uint32_t slen, uint32_t src) {
  bool padded = d.type & DSC_PAD;
  uint32_t end = offset_addr(d.addr, d.dim1);
  switch (zform(zcod)) {
    case 0: {
      uint32_t n = moves(d.addr, d.addr, end, slen, src, padded);
      if (!padded) d.dim2 = n;
      break;
    }
    case 1: {
      uint32_t p = pop_index(d.dim1);
      uint32_t old = padded ? d.dim1 : std::min(d.dim2, d.dim1);
      moves(d.addr + old, d.addr + p - 1, end, slen, src, 1);
      if (!padded) d.dim2 = d.dim1;
      break;
    }
    case 2: {
      uint32_t d1;
      uint32_t pos = str2s(d, &d1);
      moves(pos, pos, pos + d1, slen, src, 1);
      return;
    }
    default:
      zraise(ERR_BADCODE);
  }
  zdesc_put(dsc, d);
}

// Assignment of exactly L characters (padded with spaces) at a position.
static void assign_part(uint32_t dsc, zdesc d, uint32_t slen, uint32_t src) {
  int32_t l = zplong();
  if (l < 1) zraise(ERR_RANGE);
  uint32_t len = uint32_t(l);
  if (zform(zcod) == 2) {
    uint32_t d1;
    uint32_t pos = str2s(d, &d1);
    if (d1 < len) zraise(ERR_RANGE);
    moves(pos, pos, pos + len, slen, src, 1);
    return;
  }
  uint32_t p = pop_index(d.dim1);
  if (uint64_t(p) - 1 + len > d.dim1) zraise(ERR_RANGE);
  uint32_t pos = d.addr + p - 1, gap = pos;
  if (!(d.type & DSC_PAD) && d.dim2 < p - 1 + len) {
    gap = d.addr + d.dim2;
    d.dim2 = p - 1 + len;
    zdesc_put(dsc, d);
  }
  moves(gap, pos, pos + len, slen, src, 1);
}

void popstr(int flag) {
  uint32_t dsc = gtopr(zfetch(), 1);
  zdesc d = zdesc_get(dsc);
  uint32_t slen, src;
  zpopst(&slen, &src);
  if (flag == 0)
    assign_whole(dsc, d, slen, src);
  else
    assign_part(dsc, d, slen, src);
}

void btofp(int64_t nbr, bcd_num *to) {
  *to = bcd_num{};
  if (nbr == 0) return;
  uint64_t m = nbr < 0 ? uint64_t(0) - uint64_t(nbr) : uint64_t(nbr);
  uint8_t d[20];
  int nd = 0;
  for (uint64_t t = m; t; t /= 10) nd++;
  for (int i = nd - 1; i >= 0; i--, m /= 10) d[i] = uint8_t(m % 10);
  int exp = nd;
  if (nd > BCD_DIGITS) {  // round half up at the 15th digit
    bool up = d[BCD_DIGITS] >= 5;
    for (int i = BCD_DIGITS - 1; up && i >= 0; i--) {
      up = d[i] == 9;
      d[i] = up ? 0 : uint8_t(d[i] + 1);
    }
    if (up) {  // 99...9 carried into a new leading digit
      std::memset(d, 0, sizeof d);
      d[0] = 1;
      exp++;
    }
    nd = BCD_DIGITS;
  }
  for (int i = 0; i < nd; i++) to->dig[i / 2] |= uint8_t(d[i] << (i % 2 ? 0 : 4));
  to->exp = uint8_t((nbr < 0 ? BCD_SIGN : 0) | (BCD_BIAS + exp));
}
