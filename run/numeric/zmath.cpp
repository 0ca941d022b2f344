// zmath.cpp: decimal arithmetic on bcd_num.
//
// The rules are digit rules (docs/decimal.md): an operand shifted for an
// addition is rounded half up on its first dropped digit before it is
// added; a sum that carries is rounded again on its last digit; a product is
// rounded half up on the 15th digit of the full product; a quotient is cut
// after 15 digits and rounded half up on the 15th.  Exponents outside
// -63..63 saturate or vanish.  This module computes the same results on
// binary integers:
//
//   word      the eight bytes read big-endian: bits 63..8 the 14 digits as
//             nibbles (d1 in bits 63..60), bits 7..0 the exponent byte
//   mantissa  the 14 digits as one integer, 10^13 <= m < 10^14 (0 for zero)
//   xb        the exponent byte without its sign: E + 64, 0 for zero
//
// A canonical number (every nibble 0..9, d1 not 0, or all eight bytes 0)
// goes straight to the integer code.  Anything else (a damaged record, a
// negative zero) is first made canonical with its face value: leading zero
// digits are shifted out, a nibble above 9 counts with its binary value and
// the mantissa is rounded back to 14 digits.  Results are always canonical.
//
// State: none.  Callers: the dispatch loop (zmath, fcom), the conversions
// and intrinsic functions (zmathc, fint, fcom).
#include "run/numeric/zmath.h"

#include <bit>
#include <cstring>

#include "run/interp/interp.h"
#include "run/numeric/zsmsg.h"
#include "run/startup/startup.h"

__extension__ typedef unsigned __int128 zm_u128;

namespace {

constexpr uint64_t P7 = 10000000ULL;
constexpr uint64_t P8 = 100000000ULL;
constexpr uint64_t P13 = 10000000000000ULL;
constexpr uint64_t P14 = 100000000000000ULL;
constexpr uint64_t MAXMANT = P14 - 1;
constexpr uint64_t SIGNBIT = BCD_SIGN;
constexpr uint64_t XMASK = 0x7F;
constexpr uint64_t WMAX = 0x99999999999999FFULL & ~SIGNBIT;  // saturated, positive

constexpr uint64_t POW10[16] = {
    1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL,
    10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL,
    100000000000ULL, 1000000000000ULL, 10000000000000ULL,
    100000000000000ULL, 1000000000000000ULL};

// Division of n < 2^48 by 10^d (1 <= d <= 14) through a multiplier: with
// k = 48 + ceil(log2 10^d) and m = ceil(2^k / 10^d), floor(n * m / 2^k) is
// exact for every n below 2^48.
struct zm_recip {
  uint64_t mul;  // m
  int shift;     // k
};

constexpr zm_recip make_recip(int d) {
  uint64_t div = POW10[d];
  int lg = 0;
  while ((1ULL << lg) < div) lg++;
  int k = 48 + lg;
  zm_u128 one = zm_u128(1) << k;
  return zm_recip{uint64_t((one + div - 1) / div), k};
}

constexpr zm_recip RECIP[15] = {
    {1, 0},         make_recip(1),  make_recip(2),  make_recip(3),
    make_recip(4),  make_recip(5),  make_recip(6),  make_recip(7),
    make_recip(8),  make_recip(9),  make_recip(10), make_recip(11),
    make_recip(12), make_recip(13), make_recip(14)};

inline uint64_t div_pow10(uint64_t n, int d) {
  return uint64_t((zm_u128(n) * RECIP[d].mul) >> RECIP[d].shift);
}

inline uint64_t load_word(const bcd_num *p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  return w;
}

inline void store_word(bcd_num *p, uint64_t w) {
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  std::memcpy(p, &w, 8);
}

// 14 packed digits (bits 55..0, d1 highest) to their value.  A nibble above
// 9 counts with its binary value; the result then stays below 1.7 * 10^14.
inline uint64_t unpack(uint64_t x) {
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) * 10 + (x & 0x0F0F0F0F0F0F0F0FULL);
  x = ((x >> 8) & 0x00FF00FF00FF00FFULL) * 100 + (x & 0x00FF00FF00FF00FFULL);
  x = ((x >> 16) & 0x0000FFFF0000FFFFULL) * 10000 + (x & 0x0000FFFF0000FFFFULL);
  return (x >> 32) * P8 + (x & 0xFFFFFFFFULL);
}

// v < 10^8 to 8 packed digits, most significant in bits 31..28.
inline uint64_t pack8(uint64_t v) {
  uint64_t x = ((v / 10000) << 32) | (v % 10000);      // 2 lanes of 4 digits
  uint64_t q = ((x * 5243) >> 19) & 0x0000007F0000007FULL;
  x = x - q * 100 + (q << 16);                         // 4 lanes of 2 digits
  q = ((x * 103) >> 10) & 0x000F000F000F000FULL;
  x += q * 6;                                          // tens to the high nibble
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
  return (x | (x >> 16)) & 0xFFFFFFFFULL;
}

// Mantissa < 10^14 and exponent byte to a word.
inline uint64_t pack(uint64_t m, uint64_t expbyte) {
  return ((pack8(m / P8) << 32 | pack8(m % P8)) << 8) | expbyte;
}

// Number of decimal digits of 0 < v < 10^15.
inline int ndigits(uint64_t v) {
  int t = ((64 - std::countl_zero(v)) * 1233) >> 12;
  return t - (v < POW10[t]) + 1;
}

// The final step of every computed result: xb is E + 64 before the range
// check, m the 14 result digits (10^13 <= m < 10^14, or 0).
inline uint64_t finish(uint64_t m, int xb, uint64_t sign) {
  if (m == 0 || xb < 1) return 0;
  if (xb > 127) return WMAX | sign;
  return pack(m, uint64_t(xb) | sign);
}

inline bool canonical(uint64_t w) {
  uint64_t x = w >> 8;
  uint64_t carries = (x + 0x0066666666666666ULL) ^ x ^ 0x0066666666666666ULL;
  if (carries & 0x0111111111111110ULL) return false;  // a nibble above 9
  return (x >> 52) != 0 || w == 0;
}

// Brings any eight bytes to the canonical number of the same face value.
[[gnu::noinline, gnu::cold]] uint64_t make_canonical(uint64_t w) {
  uint64_t m = unpack(w >> 8);
  int xb = int(w & XMASK);
  if (m == 0) return 0;
  if (m > MAXMANT) {
    m = (m + 5) / 10;
    xb++;
  } else {
    int shift = BCD_DIGITS - ndigits(m);
    m *= POW10[shift];
    xb -= shift;
  }
  return finish(m, xb, w & SIGNBIT);
}

inline uint64_t get(const bcd_num *p) {
  uint64_t w = load_word(p);
  return canonical(w) ? w : make_canonical(w);
}

// a + b on canonical words; b may carry a flipped sign (a negative zero).
uint64_t w_add(uint64_t wa, uint64_t wb) {
  int xa = int(wa & XMASK), xb = int(wb & XMASK);
  if (xb - xa >= 15) return wb;
  if (xa - xb >= 15) return wa;
  uint64_t wx = wa, wy = wb;  // x: the larger exponent, b when equal
  int d = xa - xb;
  if (d <= 0) {
    wx = wb;
    wy = wa;
    d = -d;
  }
  uint64_t mx = unpack(wx >> 8), my = unpack(wy >> 8);
  int xr = int(wx & XMASK);
  // the shifted operand, rounded half up on its first dropped digit
  uint64_t ys = d ? div_pow10(my + 5 * POW10[d - 1], d) : my;
  uint64_t sx = wx & SIGNBIT, sy = wy & SIGNBIT;
  if (sx == sy) {
    uint64_t s = mx + ys;
    if (s > MAXMANT) {
      s = (s + 5) / 10;
      xr++;
    }
    return finish(s, xr, sx);
  }
  uint64_t mag, sign;
  if (mx >= ys) {
    mag = mx - ys;
    sign = mag ? sx : 0;
  } else {
    mag = ys - mx;
    sign = sy;
  }
  if (mag == 0) return 0;
  int shift = BCD_DIGITS - ndigits(mag);
  return finish(mag * POW10[shift], xr - shift, sign);
}

uint64_t w_mul(uint64_t wa, uint64_t wb) {
  uint64_t sign = (wa ^ wb) & SIGNBIT;
  uint64_t ma = unpack(wa >> 8), mb = unpack(wb >> 8);
  if (ma == 0 || mb == 0) return 0;
  // the 28-digit product as hi * 10^14 + lo, from halves of 7 digits
  uint64_t ah = ma / P7, al = ma % P7, bh = mb / P7, bl = mb % P7;
  uint64_t mid = ah * bl + al * bh;
  uint64_t lo = al * bl + (mid % P7) * P7;
  uint64_t hi = ah * bh + mid / P7;
  if (lo >= P14) {
    lo -= P14;
    hi++;
  }
  int xr = int(wa & XMASK) + int(wb & XMASK) - BCD_BIAS;  // E = Ea + Eb
  if (hi >= P13) return finish(hi + (lo >= 5 * P13), xr, sign);
  uint64_t r = hi * 10 + (lo + 5 * (P13 / 10)) / P13;
  if (r > MAXMANT) return finish(r / 10, xr, sign);
  return finish(r, xr - 1, sign);
}

uint64_t w_div(uint64_t wa, uint64_t wb) {
  uint64_t sign = (wa ^ wb) & SIGNBIT;
  uint64_t ma = unpack(wa >> 8), mb = unpack(wb >> 8);
  int xr = int(wa & XMASK) - int(wb & XMASK) + BCD_BIAS + 1;  // E = Ea - Eb + 1
  if (mb == 0 || xr > 127) return WMAX | sign;
  if (xr < 1 || ma == 0) return 0;
  zm_u128 num = zm_u128(ma) * P14;
  if (ma < mb) {
    num *= 10;
    xr--;
  }
  uint64_t q = uint64_t(num / mb);  // 15 digits, cut
  return finish((q + 5) / 10, xr, sign);
}

uint64_t w_int(uint64_t w) {
  int e = int(w & XMASK) - BCD_BIAS;
  if (e <= 0) return 0;
  if (e >= BCD_DIGITS) return w;
  return w & ((~0ULL << (64 - 4 * e)) | 0xFF);
}

uint64_t w_rem(uint64_t wa, uint64_t wb) {
  uint64_t t = w_int(w_div(wa, wb));
  return w_add(wa, w_mul(t, wb) ^ SIGNBIT);
}

inline int64_t order_key(uint64_t w) {
  int64_t k = int64_t(((w & XMASK) << 56) | (w >> 8));
  return (w & SIGNBIT) ? -k : k;
}

[[noreturn]] void badop() {
  zsmsg("zmath badop\r\n");
  exitrun();
}

}  // namespace

void zm_add(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_add(get(a), get(b)));
}

void zm_sub(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_add(get(a), get(b) ^ SIGNBIT));
}

void zm_mul(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_mul(get(a), get(b)));
}

void zm_div(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_div(get(a), get(b)));
}

void zm_rem(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_rem(get(a), get(b)));
}

void fint(const bcd_num *a, bcd_num *b) { store_word(b, w_int(get(a))); }

int fcom(const bcd_num *a, const bcd_num *b) {
  int64_t ka = order_key(get(a)), kb = order_key(get(b));
  return (ka > kb) - (ka < kb);
}

int zmathc(int opc, const bcd_num *a, const bcd_num *b, bcd_num *c) {
  switch (opc) {
    case FADD: zm_add(a, b, c); return 0;
    case FSUB: zm_sub(a, b, c); return 0;
    case FMUL: zm_mul(a, b, c); return 0;
    case FDIV: zm_div(a, b, c); return 0;
    case FREM: zm_rem(a, b, c); return 0;
    case FCOM: return fcom(a, b);
    case FINT: fint(a, c); return 0;
    default: badop();
  }
}

void zmath(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  switch (zcod & 0x1F) {
    case FADD: zm_add(a, b, c); return;
    case FSUB: zm_sub(a, b, c); return;
    case FMUL: zm_mul(a, b, c); return;
    case FDIV: zm_div(a, b, c); return;
    case FREM: zm_rem(a, b, c); return;
    case FNEG: zm_sub(b, a, c); return;
    default: badop();
  }
}

uint8_t *round(uint8_t *p) {
  if (p[14] <= 4) return p;
  p[14] = 0;
  int i = 13;
  while (i >= 0 && p[i] == 9) p[i--] = 0;
  if (i >= 0) {
    p[i]++;
    return p;
  }
  p[-1] = 1;
  return p - 1;
}
