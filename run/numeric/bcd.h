// bcd.h: the decimal number as it lies in the memory image and on the
// expression stack.  Chief header of run/numeric.
//
//   byte 0..6  dig   14 decimal digits, two per byte, high nibble first,
//                    most significant digit first
//   byte 7     exp   bit 7: sign (set = negative); bits 0..6: exponent + 64
//
// The value is 0.d1 d2 ... d14 * 10^(exp - 64).  Zero is eight zero bytes.
#pragma once

#include <cstdint>

struct bcd_num {
  uint8_t dig[7];  // packed digits, most significant first
  uint8_t exp;     // sign bit and biased exponent
};
static_assert(sizeof(bcd_num) == 8, "bcd_num is 8 bytes in the image");

constexpr uint8_t BCD_SIGN = 0x80;  // sign bit of exp
constexpr int BCD_BIAS = 64;        // exponent bias
constexpr int BCD_DIGITS = 14;      // digits of the mantissa

constexpr bcd_num bcd_zero = {{0, 0, 0, 0, 0, 0, 0}, 0};  // the number 0
