// zsubr.cpp: digits, dates and the user name (see zsubr.h).  Owns the
// hexadecimal text buffer and the user name read from the password file.
#include "run/intrin/zsubr.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "run/base/zsmsg.h"
#include "run/terminal/screen.h"

namespace {

constexpr int UNAME_MAX = 8;    // characters kept of a login name
constexpr int LINE_BUF = 256;   // the password file is read in blocks of this
constexpr int LINE_KEEP = 256;  // characters kept of each line

struct zsubr_state {
  char hex[5];                // the text of dectohex
  char uname[UNAME_MAX + 1];  // the login name, once read
  bool uname_read;            // uname holds the answer
  const char *passwd;         // the password file
};
zsubr_state zs = {{}, {}, false, "/etc/passwd"};

// the first field of line (len characters) when its third field is uid
bool user_line(const char *line, int len, unsigned uid, char *name) {
  const char *f[3] = {line, nullptr, nullptr};
  int k = 1;
  for (int i = 0; i < len && k < 3; i++)
    if (line[i] == ':') f[k++] = line + i + 1;
  if (k < 3) return false;
  const char *end = line + len, *p = f[2];
  unsigned v = 0;
  int nd = 0;
  for (; p < end && *p >= '0' && *p <= '9' && nd < 10; p++, nd++) v = v * 10 + unsigned(*p - '0');
  if (nd == 0 || (p < end && *p != ':') || v != uid) return false;
  int n = int(f[1] - 1 - line);
  if (n > UNAME_MAX) n = UNAME_MAX;
  std::memcpy(name, line, size_t(n));
  name[n] = 0;
  return true;
}

// reads the password file line by line; false when no line names uid
bool find_user(unsigned uid, char *name) {
  int fd;
  do fd = open(zs.passwd, O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  char buf[LINE_BUF], line[LINE_KEEP];
  int len = 0;
  bool found = false;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n && !found; i++) {
      if (buf[i] == '\n') {
        found = user_line(line, len, uid, name);
        len = 0;
      } else if (len < LINE_KEEP) {
        line[len++] = buf[i];
      }
    }
    if (found) break;
  }
  if (!found && len > 0) found = user_line(line, len, uid, name);  // no final line feed
  close(fd);
  return found;
}

}  // namespace

void outdec(int n) {
  n %= 1000;
  if (n < 0) n += 1000;
  zoutc('0' + n / 100);
  zoutc('0' + n / 10 % 10);
  zoutc('0' + n % 10);
}

const char *dectohex(unsigned n, int l) {
  if (l > 4) l = 4;
  if (l < 0) l = 0;
  for (int i = l - 1; i >= 0; i--, n >>= 4) zs.hex[i] = "0123456789ABCDEF"[n & 15];
  zs.hex[l] = 0;
  return zs.hex;
}

void outhex(unsigned n) {
  zsmsg(dectohex(n, 4));
}

unsigned hexit(const char *str, int maxlen) {
  unsigned v = 0;
  for (int i = 0; i < maxlen; i++) {
    char c = str[i];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) break;
    v = v << 4 | unsigned(d);
  }
  return v;
}

char *dtecvt(int n, char *p) {
  p[0] = char('0' + n / 10 % 10);
  p[1] = char('0' + n % 10);
  return p + 2;
}

int get_dte(char *dst, time_t t, int fmt) {
  tzset();
  struct tm tmv;
  if (!localtime_r(&t, &tmv)) tmv = tm{};
  int year = tmv.tm_year + 1900;
  char *p = dst;
  if (fmt == 0) {
    p = dtecvt(tmv.tm_mon + 1, p);
    p = dtecvt(tmv.tm_mday, p);
    p = dtecvt(year % 100, p);
  } else {
    p = dtecvt(year / 100, p);
    p = dtecvt(year % 100, p);
    p = dtecvt(tmv.tm_mon + 1, p);
    p = dtecvt(tmv.tm_mday, p);
  }
  p = dtecvt(tmv.tm_hour, p);
  p = dtecvt(tmv.tm_min, p);
  p = dtecvt(tmv.tm_sec, p);
  return int(p - dst);
}

int dte(char *p, int fmt) {
  return get_dte(p, time(nullptr), fmt);
}

const char *getuname(unsigned uid) {
  if (!zs.uname_read) {
    if (!find_user(uid, zs.uname)) std::memcpy(zs.uname, "????????", UNAME_MAX + 1);
    zs.uname_read = true;
  }
  return zs.uname;
}

void getuname_reset_for_test(const char *path) {
  zs.passwd = path;
  zs.uname_read = false;
}
