// istring.cpp: the intrinsic functions on strings and numbers (see
// istring.h).  Owns no state.
#include "run/intrin/istring.h"

#include <cstring>

#include "run/base/image.h"
#include "run/intrin/iarg.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zedit.h"
#include "run/numeric/zmath.h"
#include "run/numeric/zops.h"
#include "run/numeric/zregex.h"
#include "run/terminal/kmap.h"

namespace {

const uint8_t *bytes(const ia_text &t) {
  return zat(t.addr, t.len);
}

// pushes the n characters from p (inside the arguments) as the result,
// built at the result area at
void push_slice(uint32_t at, const uint8_t *p, uint32_t n) {
  uint8_t *to = ia_room(at, n);
  if (n) std::memmove(to, p, n);
  ia_push_text(at, n);
}

// The string and the number of a function that takes both, in either
// order (the string first, or the number first); the number as zppos
// (non_negative) or zplong takes it.
ia_text pop_text_and_number(int32_t *n, bool non_negative) {
  if (zdesc_get(ztop_value()).type & DSC_STR) {
    ia_text t = ia_pop_text();
    *n = non_negative ? zppos() : zplong();
    return t;
  }
  *n = non_negative ? zppos() : zplong();
  return ia_pop_text();
}

int change_case(bool upper) {
  uint32_t desc = ia_pop_var();
  zdesc d = zdesc_get(desc);
  if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
  uint32_t len = zdesc_len(d);
  uint8_t *p = zat(d.addr, len);
  for (uint32_t i = 0; i < len; i++) p[i] = uint8_t(upper ? vx_toupper(p[i]) : vx_tolower(p[i]));
  return 0;
}

}  // namespace

int istr_edit(int) {
  uint32_t at = ia_area();
  ia_text mask = ia_pop_text();
  bcd_num n = ia_pop_num();
  char *out = reinterpret_cast<char *>(ia_room(at, mask.len));
  fsns = reinterpret_cast<char *>(zat(mask.addr, mask.len));
  fsnl = mask.len;
  int len = zedit(&n, out);
  ia_push_text(at, uint32_t(len));
  return 0;
}

int istr_char(int) {
  int32_t code = zplong();
  if (code < 0 || code > 0xFFFF) zraise(ERR_ARGS);
  uint8_t b[2] = {uint8_t(code >> 8), uint8_t(code)};
  if (code > 255)
    ia_push_bytes(b, 2);
  else
    ia_push_bytes(b + 1, 1);
  return 0;
}

int istr_len(int) {
  ia_push_int(ia_pop_text().len);
  return 0;
}

int istr_find(int count) {
  uint32_t var = count == 3 ? ia_pop_var() : 0;
  ia_text what = ia_pop_text(), in = ia_pop_text();
  const char *s = reinterpret_cast<const char *>(bytes(in));
  const char *w = reinterpret_cast<const char *>(bytes(what));
  if (count == 3) {
    int r = match(s, int(in.len), w, int(what.len));
    if (r < 0) zraise(ERR_ARGS);
    ia_set_num(var, r > 0 ? zre.loc2 - zre.loc1 : 0);
    ia_push_int(r);
    return 0;
  }
  const void *hit = nullptr;
  if (in.len && what.len) hit = memmem(s, in.len, w, what.len);
  ia_push_int(hit ? static_cast<const char *>(hit) - s + 1 : 0);
  return 0;
}

int istr_value(int) {
  ia_text t = ia_pop_text();
  fsns = const_cast<char *>(reinterpret_cast<const char *>(bytes(t)));
  fsnl = t.len;
  bool ok = zfsn() == 0;
  for (; ok && fsnl; fsnl--, fsns++) ok = *fsns == ' ';
  ia_push_num(ok ? fsnp : bcd_zero);
  return 0;
}

int istr_text(int) {
  return -1;
}

int istr_int(int) {
  bcd_num n = ia_pop_num(), r;
  fint(&n, &r);
  ia_push_num(r);
  return 0;
}

int istr_code(int) {
  ia_text t = ia_pop_text();
  ia_push_int(t.len ? bytes(t)[0] : 0);
  return 0;
}

int istr_upper(int) {
  return change_case(true);
}

int istr_lower(int) {
  return change_case(false);
}

int istr_repeat(int) {
  uint32_t at = ia_area();
  int32_t n;
  ia_text t = pop_text_and_number(&n, true);
  if (t.len == 0) zraise(ERR_ARGS);
  uint64_t total = uint64_t(t.len) * uint32_t(n);
  if (total > 0xFFFF) zraise(ERR_STACK);
  uint8_t *to = ia_room(at, uint32_t(total));
  if (total) std::memmove(to, bytes(t), t.len);
  for (uint64_t done = t.len; done < total;) {  // double what is there
    uint64_t k = done < total - done ? done : total - done;
    std::memcpy(to + done, to, size_t(k));
    done += k;
  }
  ia_push_text(at, uint32_t(total));
  return 0;
}

int istr_rtrim(int) {
  uint32_t at = ia_area();
  ia_text t = ia_pop_text();
  const uint8_t *p = bytes(t);
  uint32_t n = t.len;
  while (n && p[n - 1] == ' ') n--;
  push_slice(at, p, n);
  return 0;
}

int istr_trim(int) {
  uint32_t at = ia_area();
  int32_t mode;
  ia_text t = pop_text_and_number(&mode, false);
  if (mode < 1 || mode > 3) zraise(ERR_ARGS);
  const uint8_t *p = bytes(t);
  uint32_t b = 0, e = t.len;
  if (mode & 1)
    while (b < e && p[b] == ' ') b++;
  if (mode & 2)
    while (e > b && p[e - 1] == ' ') e--;
  push_slice(at, p + b, e - b);
  return 0;
}

int istr_abs(int) {
  bcd_num n = ia_pop_num();
  n.exp &= uint8_t(~BCD_SIGN);
  ia_push_num(n);
  return 0;
}
