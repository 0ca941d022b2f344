// zmathw.h: the decimal arithmetic on words, for callers that chain
// several operations (the dispatch loop keeps the values of an expression
// as words between its instructions) and for zmath itself.
//
//   word      the eight bytes of a bcd_num read big-endian: bits 63..8 the
//             14 digits as nibbles (d1 in bits 63..60), bits 7..0 the
//             exponent byte
//   mantissa  the 14 digits as one integer, 10^13 <= m < 10^14 (0 for zero)
//   xb        the exponent byte without its sign: E + 64, 0 for zero
//
// The operations take canonical words (every nibble 0..9, d1 not 0, or all
// eight bytes 0); zmw_get makes any eight bytes canonical with their face
// value.  Results are always canonical.  See zmath.cpp for the rules.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "run/numeric/bcd.h"

__extension__ typedef unsigned __int128 zm_u128;

namespace zmw {

constexpr uint64_t P8 = 100000000ULL;
constexpr uint64_t P13 = 10000000000000ULL;
constexpr uint64_t P14 = 100000000000000ULL;
constexpr uint64_t MAXMANT = P14 - 1;
constexpr uint64_t SIGNBIT = BCD_SIGN;
constexpr uint64_t XMASK = 0x7F;
constexpr uint64_t WMAX = 0x99999999999999FFULL & ~SIGNBIT;  // saturated, positive

// Packed digits (the word without its exponent byte): 14 nibbles in bits
// 55..0; nibble 14 (bit 56) takes the carry of a digit addition.
constexpr uint64_t DIGITS = 0x00FFFFFFFFFFFFFFULL;
constexpr uint64_t SIXES = 0x0066666666666666ULL;
constexpr uint64_t NINES = 0x0099999999999999ULL;
constexpr uint64_t NIBBLE_CARRY = 0x0111111111111110ULL;  // bit 0 of nibbles 1..14

// Exact division of n < 2^48 by a constant D: with k >= 48 + log2 D and
// m = ceil(2^k / D), floor(n * m / 2^k) = floor(n / D).  k is at least 64,
// so the quotient is the high half of one multiplication, shifted.
struct zm_recip {
  uint64_t mul;  // m
  int shift;     // k - 64
};

constexpr zm_recip make_recip(uint64_t div) {
  int lg = 0;
  while ((1ULL << lg) < div) lg++;
  int k = 48 + lg < 64 ? 64 : 48 + lg;
  zm_u128 one = zm_u128(1) << k;
  return zm_recip{uint64_t((one + div - 1) / div), k - 64};
}

template <uint64_t D>
inline uint64_t div_by(uint64_t n) {
  constexpr zm_recip r = make_recip(D);
  return uint64_t((zm_u128(n) * r.mul) >> 64) >> r.shift;
}

// 0..9999 as four packed digits (20 KB; the lines a program touches stay
// in the cache).
struct zm_bcd4 {
  uint16_t v[10000];  // packed digits of the index
};

constexpr zm_bcd4 make_bcd4() {
  zm_bcd4 t{};
  for (int i = 0; i < 10000; i++)
    t.v[i] = uint16_t((i / 1000) << 12 | (i / 100 % 10) << 8 | (i / 10 % 10) << 4 | i % 10);
  return t;
}

inline constexpr zm_bcd4 BCD4 = make_bcd4();

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

// 14 packed digits to their value.  A nibble above 9 counts with its
// binary value; the result then stays below 1.7 * 10^14.
inline uint64_t unpack(uint64_t x) {
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) * 10 + (x & 0x0F0F0F0F0F0F0F0FULL);
  x = ((x >> 8) & 0x00FF00FF00FF00FFULL) * 100 + (x & 0x00FF00FF00FF00FFULL);
  x = ((x >> 16) & 0x0000FFFF0000FFFFULL) * 10000 + (x & 0x0000FFFF0000FFFFULL);
  return (x >> 32) * P8 + (x & 0xFFFFFFFFULL);
}

// unpack of two proper numbers at once: the same four steps on the two
// words side by side in one vector register where the machine has one.
inline void unpack2(uint64_t x, uint64_t y, uint64_t *mx, uint64_t *my) {
#if defined(__SSE2__)
  __m128i v = _mm_set_epi64x((long long)y, (long long)x);
  __m128i hi = _mm_and_si128(_mm_srli_epi64(v, 4), _mm_set1_epi8(0x0F));
  v = _mm_sub_epi8(v, _mm_add_epi8(_mm_slli_epi64(hi, 1), _mm_slli_epi64(hi, 2)));
  v = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(v, 8), _mm_set1_epi16(100)),
                    _mm_and_si128(v, _mm_set1_epi16(0xFF)));
  v = _mm_madd_epi16(v, _mm_set1_epi32(10000 << 16 | 1));
  v = _mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(v, 32), _mm_set1_epi32(100000000)),
                    _mm_and_si128(v, _mm_set1_epi64x(0xFFFFFFFF)));
  *mx = uint64_t(_mm_cvtsi128_si64(v));
  *my = uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
#else
  *mx = unpack(x);
  *my = unpack(y);
#endif
}

// m < 10^14 to 14 packed digits, four at a time.
inline uint64_t pack(uint64_t m) {
  uint64_t q4 = div_by<10000>(m), q8 = div_by<100000000>(m), q12 = div_by<1000000000000>(m);
  return uint64_t(BCD4.v[q12]) << 48 | uint64_t(BCD4.v[q8 - 10000 * q12]) << 32 |
         uint64_t(BCD4.v[q4 - 10000 * q8]) << 16 | BCD4.v[m - 10000 * q4];
}

inline constexpr uint64_t POW10[16] = {1ULL,
                                       10ULL,
                                       100ULL,
                                       1000ULL,
                                       10000ULL,
                                       100000ULL,
                                       1000000ULL,
                                       10000000ULL,
                                       100000000ULL,
                                       1000000000ULL,
                                       10000000000ULL,
                                       100000000000ULL,
                                       1000000000000ULL,
                                       10000000000000ULL,
                                       100000000000000ULL,
                                       1000000000000000ULL};

// Number of decimal digits of 0 < v < 10^15.
inline int ndigits(uint64_t v) {
  int t = ((64 - std::countl_zero(v)) * 1233) >> 12;
  return t - (v < POW10[t]) + 1;
}

// The final step of every computed result, on packed digits: xb is E + 64
// before the range check, dig the 14 result digits (d1 not 0, or all 0).
inline uint64_t finish_digits(uint64_t dig, int xb, uint64_t sign) {
  if (dig == 0 || xb < 1) return 0;
  if (xb > 127) return WMAX | sign;
  return dig << 8 | uint64_t(xb) | sign;
}

// The same for a binary mantissa (10^13 <= m < 10^14, or 0).
inline uint64_t finish(uint64_t m, int xb, uint64_t sign) {
  if (m == 0 || xb < 1) return 0;
  if (xb > 127) return WMAX | sign;
  return pack(m) << 8 | uint64_t(xb) | sign;
}

[[gnu::always_inline]] inline bool canonical(uint64_t w) {
  uint64_t x = w >> 8;
  uint64_t carries = (x + SIXES) ^ x ^ SIXES;
  if (carries & NIBBLE_CARRY) return false;  // a nibble above 9
  return (x >> 52) != 0 || w == 0;
}

// Brings any eight bytes to the canonical number of the same face value.
[[gnu::cold]] uint64_t make_canonical(uint64_t w);

// any word made canonical
[[gnu::always_inline]] inline uint64_t canon(uint64_t w) {
  return canonical(w) ? w : make_canonical(w);
}

// any eight bytes as a canonical word
inline uint64_t get(const bcd_num *p) {
  return canon(load_word(p));
}

// The digits of a power of ten: d1 = 1, the rest 0.
constexpr uint64_t ONE_DIGITS = 1ULL << 52;

// Decimal addition of packed digits plus cin (0..2), digit by digit: every
// digit is biased by 6 so that a decimal carry is a binary one, and the bias
// is taken back from the digits that did not carry.
inline uint64_t bcd_add(uint64_t a, uint64_t b, uint64_t cin) {
  uint64_t t1 = a + SIXES;
  uint64_t t2 = t1 + b + cin;
  uint64_t nocarry = ~(t2 ^ t1 ^ b) & NIBBLE_CARRY;
  return t2 - ((nocarry >> 2) | (nocarry >> 3));
}

// a + b on canonical words; b may carry a flipped sign (a negative zero).
// The digit rules applied directly to the packed digits.
[[gnu::always_inline]] inline uint64_t w_add(uint64_t wa, uint64_t wb) {
  int xa = int(wa & XMASK), xb = int(wb & XMASK);
  if (xb - xa >= 15) return wb;
  if (xa - xb >= 15) return wa;
  bool a_first = xa > xb;  // x: the larger exponent, b when equal
  uint64_t wx = a_first ? wa : wb, wy = a_first ? wb : wa;
  int d = a_first ? xa - xb : xb - xa;
  uint64_t x = wx >> 8, y = wy >> 8;
  uint64_t ys = y >> (4 * d);                       // aligned with x
  uint64_t up = (((y << 4) >> (4 * d)) & 15) >= 5;  // its first dropped digit
  int xr = int(wx & XMASK);
  uint64_t sx = wx & SIGNBIT, sy = wy & SIGNBIT;
  if (sx == sy) {
    uint64_t s = bcd_add(x, ys, up);
    if (s > DIGITS) {  // 15 digits: round again on the last
      s = bcd_add(s >> 4, 0, (s & 15) >= 5);
      xr++;
    }
    return finish_digits(s, xr, sx);
  }
  // the larger magnitude less the smaller, ten's complement style
  bool x_big = x > ys || (x == ys && !up);
  uint64_t mag = x_big ? bcd_add(x, NINES - ys, 1 - up) : bcd_add(ys, NINES - x, 1 + up);
  mag &= DIGITS;
  if (mag == 0) return 0;
  int lead = (std::countl_zero(mag) - 8) >> 2;  // leading zero digits
  return finish_digits(mag << (4 * lead), xr - lead, x_big ? sx : sy);
}

// floor(n / d) for a quotient that fits 64 bits (n >> 64 < d).
inline uint64_t div_wide(zm_u128 n, uint64_t d) {
#if defined(__x86_64__)
  uint64_t q, r;
  asm("divq %4" : "=a"(q), "=d"(r) : "a"(uint64_t(n)), "d"(uint64_t(n >> 64)), "rm"(d));
  return q;
#else
  return uint64_t(n / d);
#endif
}

// The product of up to 28 digits is rounded half up on its 15th digit.
// When the significant digits of both operands number 14 or fewer, the
// product is exact and needs no rounding: the usual case of an amount times
// a quantity or a rate.
[[gnu::always_inline]] inline uint64_t w_mul(uint64_t wa, uint64_t wb) {
  uint64_t sign = (wa ^ wb) & SIGNBIT;
  uint64_t x = wa >> 8, y = wb >> 8;
  if (x == 0 || y == 0) return 0;
  // times a power of ten (0.01, 100): the digits stay, E = Ea + Eb - 1
  if (y == ONE_DIGITS)
    return finish_digits(x, int(wa & XMASK) + int(wb & XMASK) - BCD_BIAS - 1, sign);
  if (x == ONE_DIGITS)
    return finish_digits(y, int(wa & XMASK) + int(wb & XMASK) - BCD_BIAS - 1, sign);
  int tza = std::countr_zero(x) >> 2, tzb = std::countr_zero(y) >> 2;  // trailing zero digits
  if (tza + tzb >= BCD_DIGITS) {
    uint64_t ua, ub;
    unpack2(x >> (4 * tza), y >> (4 * tzb), &ua, &ub);
    uint64_t dig = pack(ua * ub);
    int lead = (std::countl_zero(dig) - 8) >> 2;
    int xr = int(wa & XMASK) + int(wb & XMASK) - BCD_BIAS + tza + tzb - BCD_DIGITS - lead;
    return finish_digits(dig << (4 * lead), xr, sign);
  }
  uint64_t ma, mb;
  unpack2(x, y, &ma, &mb);
  zm_u128 p = zm_u128(ma) * mb;
  int xr = int(wa & XMASK) + int(wb & XMASK) - BCD_BIAS;  // E = Ea + Eb
  bool full = p >= zm_u128(P14) * P13;                    // 28 digits, else 27 and E one less
  uint64_t unit = full ? P14 : P13;
  uint64_t r = div_wide(p + unit / 2, unit);
  xr -= !full;
  if (r > MAXMANT) {  // the rounding carried into a new digit
    r = P13;
    xr++;
  }
  return finish(r, xr, sign);
}

// The quotient is cut after 15 digits and rounded half up on the 15th:
// floor((floor(n / mb) + 5) / 10) = floor((n + 5 mb) / (10 mb)).
[[gnu::always_inline]] inline uint64_t w_div(uint64_t wa, uint64_t wb) {
  uint64_t sign = (wa ^ wb) & SIGNBIT;
  // by a power of ten: the digits stay, E = Ea - Eb + 1
  if ((wb >> 8) == ONE_DIGITS && (wa >> 8) != 0)
    return finish_digits(wa >> 8, int(wa & XMASK) - int(wb & XMASK) + BCD_BIAS + 1, sign);
  uint64_t ma, mb;
  unpack2(wa >> 8, wb >> 8, &ma, &mb);
  int xr = int(wa & XMASK) - int(wb & XMASK) + BCD_BIAS + 1;  // E = Ea - Eb + 1
  if (mb == 0 || xr > 127) return WMAX | sign;
  if (xr < 1 || ma == 0) return 0;
  zm_u128 num = zm_u128(ma) * P14;
  if (ma < mb) {
    num *= 10;
    xr--;
  }
  return finish(div_wide(num + 5 * mb, 10 * mb), xr, sign);
}

// w_add, not inlined where it is rarely needed
[[gnu::noinline]] inline uint64_t w_add_apart(uint64_t wa, uint64_t wb) {
  return w_add(wa, wb);
}

// a + b, quicker when b is 1 and a a positive number with its units digit
// among its 14 (the step of a counting loop)
inline uint64_t w_inc(uint64_t wa, uint64_t wb) {
  int e = int(wa & XMASK) - BCD_BIAS;  // digits before the point
  if (wb == (ONE_DIGITS << 8 | 0x41) && !(wa & SIGNBIT) && e >= 1 && e <= BCD_DIGITS) {
    uint64_t s = bcd_add(wa >> 8, ONE_DIGITS >> (4 * (e - 1)), 0);
    if (s <= DIGITS) return s << 8 | (wa & 0xFF);
  }
  return w_add_apart(wa, wb);
}

inline uint64_t w_int(uint64_t w) {
  int e = int(w & XMASK) - BCD_BIAS;
  if (e <= 0) return 0;
  if (e >= BCD_DIGITS) return w;
  return w & ((~0ULL << (64 - 4 * e)) | 0xFF);
}

inline uint64_t w_rem(uint64_t wa, uint64_t wb) {
  // by a power of ten every step is exact: the digits of a past its
  // first e, where e is the exponent of the quotient
  if ((wb >> 8) == ONE_DIGITS && (wa >> 8) != 0) {
    int xq = int(wa & XMASK) - int(wb & XMASK) + BCD_BIAS + 1;
    if (xq >= 1 && xq <= 127) {
      int e = xq - BCD_BIAS;
      // a - 0: a itself, or zero when a lies below the range (E = -64)
      if (e <= 0) return finish_digits(wa >> 8, int(wa & XMASK), wa & SIGNBIT);
      if (e >= BCD_DIGITS) return 0;
      uint64_t low = (wa >> 8) & ((uint64_t(1) << (4 * (BCD_DIGITS - e))) - 1);
      if (low == 0) return 0;
      int lead = (std::countl_zero(low) - 8) >> 2;
      return finish_digits(low << (4 * lead), int(wa & XMASK) - lead, wa & SIGNBIT);
    }
  }
  uint64_t t = w_int(w_div(wa, wb));
  return w_add(wa, w_mul(t, wb) ^ SIGNBIT);
}

inline int64_t order_key(uint64_t w) {
  int64_t k = int64_t(((w & XMASK) << 56) | (w >> 8));
  return (w & SIGNBIT) ? -k : k;
}

}  // namespace zmw
