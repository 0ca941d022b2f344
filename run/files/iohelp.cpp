// iohelp.cpp: helpers of the file statements (iohelp.h).  Owns the text
// buffer of utoa.
#include "run/files/iohelp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/base/image.h"
#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/files/fsys.h"
#include "run/numeric/zops.h"

static char utoa_text[8];  // utoa's result

uint32_t pda() {
  uint32_t desc = zpop_value();
  if (zdesc_get(desc).addr == zw.inv_offs) zraise(ERR_UNBOUND);
  return desc;
}

void rnv(uint32_t p, int64_t n) {
  zdesc d = zdesc_get(p);
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  bcd_num x;
  btofp(n, &x);
  std::memcpy(zat(d.addr, 8), &x, 8);
}

void rsv(uint32_t p, int c) {
  zdesc d = zdesc_get(p);
  if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
  if (d.dim1 == 0) return;
  uint8_t *s = zat(d.addr, d.dim1);
  s[0] = uint8_t(c);
  if (d.type & DSC_PAD) {
    std::memset(s + 1, ' ', d.dim1 - 1);
  } else {
    d.dim2 = 1;
    zdesc_put(p, d);
  }
}

char *xpopst(size_t max) {
  uint32_t len, data;
  if (!(zpopst(&len, &data) & DSC_STR)) zraise(ERR_ARGS);
  const uint8_t *s = zat(data, len);
  while (len > 0 && s[len - 1] == ' ') len--;
  if (len > max) len = uint32_t(max);
  auto *copy = static_cast<char *>(std::malloc(len + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, s, len);
  copy[len] = 0;
  return copy;
}

void padmove(uint8_t *to, size_t width, const uint8_t *from, size_t len, int pad) {
  size_t n = len < width ? len : width;
  std::memmove(to, from, n);
  std::memset(to + n, pad, width - n);
}

const char *utoa(unsigned n) {
  std::snprintf(utoa_text, sizeof utoa_text, "%u", n % 1000000);
  return utoa_text;
}

static char code_char(unsigned v) {
  return char(v < 26 ? 'a' + v : '0' + (v - 26));
}

static int code_value(char c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= '0' && c <= '9') return c - '0' + 26;
  return -1;
}

void encode(unsigned n, char out[2]) {
  if (n <= 935) {
    out[0] = code_char(n / 26);
    out[1] = code_char(n % 26);
  } else {
    out[0] = code_char(n % 36);
    out[1] = code_char(n / 36 % 36);
  }
}

int vx_decode(const char *s) {
  int a = code_value(s[0]), b = code_value(s[1]);
  if (a < 0 || b < 0) return -1;
  return b > 25 ? a + b * 36 : a * 26 + b;
}

int open_sysfile(const char *name, int not_log) {
  mode_t old = umask(0);
  int fd = vopen(name,
                 not_log ? O_RDWR | O_CREAT | O_CLOEXEC : O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                 0666);
  umask(old);
  if (fd >= 0) return fd;
  std::string msg = std::string("\n\rCANNOT ACCESS \"") + name + "\"\r\n";
  zsmsg(msg.c_str());
  if (not_log) exitr2(-1);
  return -1;
}

int vopen(const char *file, int flags, mode_t mode) {
  return fs_open(file, flags, mode);
}
