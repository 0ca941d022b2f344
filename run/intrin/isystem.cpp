// isystem.cpp: the system intrinsics (see isystem.h).  Owns the buffer
// that the terminal-capability query hands to the terminfo library.
#include "run/intrin/isystem.h"

#include <termcap.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "run/base/image.h"
#include "run/base/interp.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/files/flock.h"
#include "run/files/fstat.h"
#include "run/files/iostmt.h"
#include "run/interp/zreport.h"
#include "run/intrin/iarg.h"
#include "run/intrin/mach.h"
#include "run/intrin/wiz.h"
#include "run/intrin/zsubr.h"
#include "run/loader/zcall.h"
#include "run/numeric/zops.h"
#include "run/terminal/conc.h"
#include "run/terminal/keys.h"
#include "run/terminal/tty.h"

extern char **environ;

const char isys_ident[] = "Quillon run " QUILLON_VERSION;

namespace {

constexpr uint32_t ENV_NAME_MAX = 49;  // characters of a name that are looked up
constexpr int TC_AREA = 32768;         // the longest capability string, and more

struct isys_state {
  char tc_area[TC_AREA + 1];  // where tgetstr copies a capability
};
isys_state ys;

const char *chars(const ia_text &t) {
  return reinterpret_cast<const char *>(zat(t.addr, t.len));
}

bool is(const ia_text &t, const char *word) {
  return t.len == std::strlen(word) && std::memcmp(chars(t), word, t.len) == 0;
}

void push_str(const char *s) {
  ia_push_bytes(s, uint32_t(std::strlen(s)));
}

// The VXDTE setting as the date text of fmt: the first 12 characters, or
// the 14 after them (from the start when the value is not longer than 12),
// completed with NUL bytes.
int fixed_date(const char *v, int fmt, char *out) {
  int want = fmt ? DTE_LONG : DTE_SHORT;
  const char *from = fmt && std::strlen(v) > DTE_SHORT ? v + DTE_SHORT : v;
  std::memset(out, 0, size_t(want));
  std::strncpy(out, from, size_t(want));
  return want;
}

}  // namespace

int isys_date(int count) {
  int32_t fmt = count ? zppos() : 0;
  if (fmt > 1) zraise(ERR_ARGS);
  char buf[DTE_LONG];
  const char *fixed = vx_getenv("VXDTE");
  int n = fixed ? fixed_date(fixed, fmt, buf) : dte(buf, fmt);
  ia_push_bytes(buf, uint32_t(n));
  return 0;
}

int isys_error(int) {
  uint32_t hdr = zm.zrbas + zp.rcod + 6 * uint32_t(zw.adr_len);
  ia_push_int((zrcod2 & RC2_RUNNING) ? zget1(hdr) : 0);
  return 0;
}

int isys_ioerror(int) {
  ia_push_int(zrerf);
  return 0;
}

int isys_key(int count) {
  int32_t mode = count ? zppos() : 0;
  if (mode > 1) zraise(ERR_ARGS);
  int c = get_char(mode);
  if (c == KBD_EPAGER) zrerf = FE_PAGER;  // no key while the pager owns the terminal
  uint8_t b[2] = {uint8_t(c >> 8), uint8_t(c)};
  if (c < 0)
    ia_push_bytes(b, 0);
  else if (c > 255)
    ia_push_bytes(b, 2);
  else
    ia_push_bytes(b + 1, 1);
  return 0;
}

int isys_values(int count) {
  uint32_t pid = count == 5 ? ia_pop_var() : 0;
  uint32_t term = ia_pop_var(), c = ia_pop_var(), b = ia_pop_var(), a = ia_pop_var();
  ia_set_num(a, zrfeq);
  ia_set_num(b, zrmeq);
  ia_set_num(c, zrceq);
  if (zdesc_get(term).type & DSC_STR) {
    const char *name = ttyname(2);
    if (!name) name = "";
    ia_set_text(term, reinterpret_cast<const uint8_t *>(name), uint32_t(std::strlen(name)));
  } else {
    ia_set_num(term, zrteq);
  }
  if (pid) ia_set_num(pid, getpid());
  return 0;
}

int isys_machine(int count) {
  mach(count);
  return 0;
}

int isys_shared(int count) {
  wizard(count);
  return 0;
}

int isys_fstat(int count) {
  zfstat(count);
  return 0;
}

int isys_ustat(int count) {
  zustat(count);
  return 0;
}

int isys_istat(int count) {
  zistat(count);
  return 0;
}

int isys_getenv(int count) {
  if (count == 1) {
    ia_text t = ia_pop_text();
    std::string name(chars(t), t.len < ENV_NAME_MAX ? t.len : ENV_NAME_MAX);
    const char *v = name.find('\0') == std::string::npos ? vx_getenv(name.c_str()) : nullptr;
    push_str(v ? v : "");
    return 0;
  }
  int32_t index = zppos();
  uint32_t var = ia_pop_var();
  if (index == 0) zraise(ERR_ARGS);
  const char *entry = nullptr;
  for (int32_t i = 0; environ && environ[i]; i++)
    if (i == index - 1) {
      entry = environ[i];
      break;
    }
  if (!entry) entry = "";
  const char *eq = std::strchr(entry, '=');
  size_t n = eq ? size_t(eq - entry) : std::strlen(entry);
  ia_set_text(var, reinterpret_cast<const uint8_t *>(entry), uint32_t(n));
  push_str(eq ? eq + 1 : "");
  return 0;
}

int isys_termcap(int) {
  uint32_t buf = ia_pop_var();
  ia_text t = ia_pop_text();
  uint32_t cap = ia_capacity(buf);
  const char *s = chars(t);
  if ((t.len != 2 && t.len != 3) || std::memchr(s, 0, t.len)) zraise(ERR_ARGS);
  char type = t.len == 3 ? s[2] : '=';
  if (type != ':' && type != '#' && type != '=') zraise(ERR_ARGS);
  char id[3] = {s[0], s[1], 0};
  char out[2];
  const char *result = out;
  uint32_t len = 1;
  if (type == ':') {
    out[0] = tgetflag(id) > 0 ? '1' : '0';
  } else if (type == '#') {
    int v = tgetnum(id);
    out[0] = char(v);
    len = v >= 0 ? 1 : 0;
  } else {
    char *area = ys.tc_area;
    const char *str = tgetstr(id, &area);
    result = str ? str : "";
    len = uint32_t(std::strlen(result));
  }
  if (len > cap) len = cap;
  ia_set_text(buf, reinterpret_cast<const uint8_t *>(result), len);
  ia_push_bytes(result, len);
  return 0;
}

int isys_pause(int) {
  int32_t ms = zppos();
  struct timespec left = {ms / 1000, long(ms % 1000) * 1000000L};
  while (!zresc && nanosleep(&left, &left) < 0 && errno == EINTR) {
  }
  return 0;
}

int isys_errno(int) {
  ia_push_int(errno);
  return 0;
}

int isys_stuff(int) {
  ia_text t = ia_pop_text();
  const uint8_t *p = zat(t.addr, t.len);
  if (t.len == 0) return 0;
  int code = p[0] == 0xFF && t.len >= 2 ? 0xFF00 + p[1] : p[0];
  put_kbd_buf(code);  // a full ring drops the key, as typing ahead would
  return 0;
}

int isys_putenv(int) {
  ia_text value = ia_pop_text(), name = ia_pop_text();
  const char *n = chars(name);
  if (name.len == 0 || std::memchr(n, '=', name.len) || std::memchr(n, 0, name.len))
    zraise(ERR_ARGS);
  std::string assignment = std::string(n, name.len) + "=" + std::string(chars(value), value.len);
  char *entry = env_keep(assignment.c_str());
  bool wanted = conc_wanted != nullptr;
  if (!entry || vx_putenv(entry) < 0) zraise(ERR_STACK);
  if (env_upd(entry) < 0) zraise(ERR_STACK);
  if ((conc_wanted != nullptr) != wanted) start_concurrent();
  return 0;
}

int isys_info(int count) {
  char letter = 'R';
  if (count) {
    ia_text t = ia_pop_text();
    letter = t.len ? chars(t)[0] : 0;
  }
  std::string uid = std::to_string(getuid());
  switch (letter) {
    case 'L':
      push_str(getuname(getuid()));
      break;
    case 'O':
      push_str("UNIX");
      break;
    case 'U':
      push_str(uid.c_str());
      break;
    case 'R':
      push_str(isys_ident);
      break;
    default:
      push_str("");
  }
  return 0;
}

int isys_erraddr(int) {
  push_str(dectohex(erraddr, 4));
  return 0;
}

int isys_errfile(int) {
  push_str(errfile);
  return 0;
}

int isys_query(int count) {
  int32_t level = count == 2 ? zppos() : 0;
  ia_text what = ia_pop_text();
  if (count == 2 && is(what, "RCHAIN")) {
    char name[ZPROGNAME_LEN];
    int len = 0;
    if (fOnerror)
      zinfo_saved(int(level), name, &len);
    else
      zinfo_get(int(level), name, &len);
    ia_push_bytes(name, uint32_t(len));
    return 0;
  }
  if (count == 1 && is(what, "ERRMSG")) {
    push_str(err_msg_last);
    return 0;
  }
  if (count == 1 && is(what, "LKPID")) {
    push_str(std::to_string(lk_pid).c_str());
    return 0;
  }
  zraise(ERR_ARGS);
}
