// iarg.cpp: arguments and results of the intrinsics (see iarg.h).  Owns no
// state; works on the expression stack and the descriptors of the image.
#include "run/intrin/iarg.h"

#include <cstring>

#include "run/base/image.h"
#include "run/numeric/zops.h"

uint32_t ia_area() {
  return zp.stkp + uint32_t(zw.adr_len);
}

uint8_t *ia_room(uint32_t at, uint32_t len) {
  uint64_t end = uint64_t(at) + len + uint32_t(zw.dsc_len) + 2 * uint32_t(zw.adr_len);
  if (len > 0xFFFF || end > zm.zrsck) zraise(ERR_STACK);
  return zat(at, len);
}

void ia_push_text(uint32_t at, uint32_t len) {
  zpush_str_above(at, len);
}

void ia_push_bytes(const void *p, uint32_t len) {
  uint32_t at = ia_area();
  uint8_t *to = ia_room(at, len);
  if (len) std::memmove(to, p, len);
  zpush_str_above(at, len);
}

void ia_push_num(const bcd_num &n) {
  zpush_num(n);
}

void ia_push_int(int64_t v) {
  bcd_num n;
  btofp(v, &n);
  zpush_num(n);
}

ia_text ia_pop_text() {
  ia_text t;
  if (!(zpopst(&t.len, &t.addr) & DSC_STR)) zraise(ERR_ARGS);
  zat(t.addr, t.len);
  return t;
}

bcd_num ia_pop_num() {
  bcd_num n;
  zpop_num(&n);
  return n;
}

uint32_t ia_pop_var() {
  uint32_t desc = zpop_value();
  if (zdesc_get(desc).addr == zw.inv_offs) zraise(ERR_UNBOUND);
  return desc;
}

uint8_t ia_pop_byte() {
  int32_t v = zppos();
  return uint8_t(v > 255 ? 255 : v);
}

void ia_set_num(uint32_t desc, int64_t v) {
  zdesc d = zdesc_get(desc);
  if (d.type & (DSC_STR | DSC_ARR)) zraise(ERR_ARGS);
  bcd_num n;
  btofp(v, &n);
  std::memcpy(zat(d.addr, 8), &n, 8);
}

// the descriptor of a string variable that is not an array of strings
static zdesc string_var(uint32_t desc) {
  zdesc d = zdesc_get(desc);
  if (!(d.type & DSC_STR) || (d.type & DSC_DIM2)) zraise(ERR_ARGS);
  return d;
}

void ia_set_text(uint32_t desc, const uint8_t *p, uint32_t len) {
  zdesc d = string_var(desc);
  uint32_t n = len < d.dim1 ? len : d.dim1;
  uint8_t *to = zat(d.addr, d.dim1);
  if (n) std::memmove(to, p, n);
  if (d.type & DSC_PAD) {
    std::memset(to + n, ' ', d.dim1 - n);
  } else {
    d.dim2 = n;
    zdesc_put(desc, d);
  }
}

uint32_t ia_capacity(uint32_t desc) {
  return string_var(desc).dim1;
}
