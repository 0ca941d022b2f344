// zmath_fuzz.cpp (target numeric_zmath_fuzz): decimal arithmetic on 17
// bytes (two numbers and an operation; its top bit first turns both into
// proper numbers).  Proper numbers must give the digit-level reference's
// result; any bytes must give a proper number.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "run/numeric/zmath.h"
#include "tests/numeric/zmath_ref.h"

static bool proper(const bcd_num &n) {
  bool zero = true;
  for (uint8_t d : n.dig) {
    if ((d >> 4) > 9 || (d & 15) > 9) return false;
    if (d) zero = false;
  }
  return zero ? n.exp == 0 : (n.dig[0] >> 4) != 0;
}

// Digits taken modulo 10, a leading 0 made 1; exponent byte 0 or 0x80
// makes the number zero.
static void make_proper(bcd_num *n) {
  for (uint8_t &d : n->dig) d = uint8_t((d >> 4) % 10 << 4 | (d & 15) % 10);
  if ((n->exp & 0x7F) == 0) {
    *n = bcd_num{};
    return;
  }
  if ((n->dig[0] >> 4) == 0) n->dig[0] |= 0x10;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 17) return 0;
  bcd_num a, b, got, want{};
  std::memcpy(&a, data, 8);
  std::memcpy(&b, data + 8, 8);
  if (data[16] & 0x80) {  // half the inputs: proper numbers
    make_proper(&a);
    make_proper(&b);
  }
  static const int ops[] = {FADD, FSUB, FMUL, FDIV, FREM, FINT, FCOM};
  int opc = ops[(data[16] & 0x7F) % 7];
  if (opc == FCOM) {
    int c = zmathc(FCOM, &a, &b, &got);
    if (proper(a) && proper(b) && c != ref_com(&a, &b)) std::abort();
    return 0;
  }
  zmathc(opc, &a, &b, &got);
  if (!proper(got)) std::abort();
  if (!proper(a) || !proper(b)) return 0;
  switch (opc) {
    case FADD:
      ref_add(&a, &b, &want);
      break;
    case FSUB:
      ref_sub(&a, &b, &want);
      break;
    case FMUL:
      ref_mul(&a, &b, &want);
      break;
    case FDIV:
      ref_div(&a, &b, &want);
      break;
    case FREM:
      ref_rem(&a, &b, &want);
      break;
    default:
      ref_int(&a, &want);
      break;
  }
  if (std::memcmp(&got, &want, 8) != 0) std::abort();
  return 0;
}
