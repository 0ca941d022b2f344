// monitor.cpp: the command monitor.  Owns zmon.  cmd is the main loop of
// run; the dispatch loop calls debug_it before each instruction while the
// monitor is active.
//
// One pass of cmd takes its command from, in this order: the configured
// program P (first pass), the command of the go address just reached, the
// command of the breakpoint just hit, a typed line.  A line whose third
// character is not the end, a blank or a comma names a program; else its
// first two letters select a command:
//   ru run   lo load   go continue   st step   sp step over   sd debug on
//   cd debug off   tr trace   br/cb/db breakpoints   di/dh show a variable
//   dv/dl/dr list variables, labels, routines   ch call hierarchy
//   vx set a variable   sh shell   qu quit
#include "run/monitor/monitor.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/base/image.h"
#include "run/base/zsmsg.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/files/zioc.h"
#include "run/interp/exec.h"
#include "run/loader/debuginfo.h"
#include "run/loader/names.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/numeric/bcd.h"
#include "run/numeric/zconv.h"
#include "run/process/proc.h"
#include "run/terminal/keys.h"
#include "run/terminal/screen.h"
#include "run/terminal/tty.h"
#include "run/terminal/zinlin.h"

zmonitor zmon = {0, 0, 0, 0, {}, {}, 0, 0, 0, 0, 0, {}};

// the instruction at which execution stopped last; the first check after
// continuing there lets it run
static uint32_t resume_at = UINT32_MAX;

static void out(const char *s) {
  zsmsg(s);
}

// ---- line input ----------------------------------------------------------

int get_cmd(char *line) {
  sc_control("\x1b\x14", 3);  // normal attributes
  out(debugging ? "\n\r>" : "\n\r*");
  int len = zinlin(is_RUN ? 0 : ZIN_KEEPCASE);
  if (len < 0) return -1;
  std::memcpy(line, zrlin, size_t(len));
  line[len] = 0;
  out("\r\n");
  return len;
}

// ---- loading and running -------------------------------------------------

// The program the monitor loaded last, loaded again when it is run once
// more: a run leaves its registers and variables where it ended.
struct zlast_load {
  std::string name;  // as handed to zload
  unsigned unit;     // its unit
  int npl;           // its length limit
  bool ran;          // it has run since it was loaded
};
static zlast_load last_load;

// loads name; 0, or -1 after the failure message
static int load_named(const char *name, unsigned unit, int npl) {
  zl.pcodeVersion = PCODE_NONE;
  zrpl = 0;
  int r = zload(name, unit, npl, 0);
  if (r != ZL_OK) {
    nofind(r, errfile[0] ? errfile : name);
    return -1;
  }
  zrpl = 2;
  last_load = {name, unit, npl, false};
  return 0;
}

int loadit(const char *cmdp, int cmdx) {
  std::string text(cmdp, strnlen(cmdp, size_t(cmdx)));
  char *name = text.data();
  unsigned unit = unsigned(progunit);
  int npl = int(std::strlen(name));
  if (fmqxu(name)) {
    if (cmdp != progname) {
      long u = 0;
      if (char *slash = std::strchr(name, '/')) {
        u = std::strtol(slash + 1, nullptr, 10);
        *slash = 0;
      }
      if (u < 0 || u > 32767) {
        nofind(ZL_NOTFOUND, name);
        return -1;
      }
      unit = unsigned(u);
    }
    npl = 255;
  }
  return load_named(name, unit, npl);
}

void go(int mode) {
  if (mode == 0 && zrpl != 1) {
    out("NO BKP HIT YET\r\n");
    return;
  }
  if (mode == 1) {
    resume_at = UINT32_MAX;
    if (last_load.ran) {
      zlast_load again = last_load;
      if (load_named(again.name.c_str(), again.unit, again.npl) != 0) return;
    }
    last_load.ran = true;
  }
  zrpl = 2;
  int r = execute(mode == 1 ? 0 : 1, zmon.stepping, zmon.tracing);
  if (zrpl == 1) return;  // stopped: debug_it said so
  if (vx_exit) {
    out("\r\n ");
    exitr3(0);
  }
  zmon.firsttime = (nonstop && r == 0 && !debugging) ? 0 : 1;
}

// ---- breakpoints ---------------------------------------------------------

static void clear_breakpoints() {
  zmon.znbkp = 0;
  zmon.chain_bkp = 0;
  std::memset(zmon.zbkpt, 0, sizeof zmon.zbkpt);
  std::memset(zmon.zbkp_cmd, 0, sizeof zmon.zbkp_cmd);
}

// copies a breakpoint command, cut to ZBKP_CMD_LEN characters
static void set_command(char *dst, const char *src) {
  while (*src == ' ') src++;
  std::snprintf(dst, ZBKP_CMD_LEN + 1, "%s", src);
}

// parses hexadecimal digits up to the end or a blank; false when there
// are none or something else
static bool parse_hex(const char *s, const char **end, uint32_t *v) {
  uint32_t x = 0;
  const char *p = s;
  for (; std::isxdigit((unsigned char)*p); p++) {
    if (x > 0xFFFFFFu) return false;
    x = x * 16 +
        uint32_t(std::isdigit((unsigned char)*p) ? *p - '0' : (std::tolower(*p) - 'a' + 10));
  }
  if (p == s || (*p && *p != ' ')) return false;
  *end = p;
  *v = x;
  return true;
}

static int find_routine(const char *name, size_t n) {
  return findhead(0, 0, name, n);
}

static const zdebug_symbol *find_symbol(int routine, const char *name, size_t n) {
  return routine < 0 ? nullptr : findsymbol(name, n, routine);
}

// a label named by [routine:]label: its address (offset from zrbas), or -1
// after the message
static long label_address(const char *t, size_t n) {
  int routine = zdebug.hp;
  const char *colon = static_cast<const char *>(std::memchr(t, ':', n));
  if (colon) {
    routine = find_routine(t, size_t(colon - t));
    if (routine < 0) {
      out("UNKNOWN SUB/FUN: ");
      out(std::string(t, size_t(colon - t)).c_str());
      out("\r\n");
      return -1;
    }
    n -= size_t(colon + 1 - t);
    t = colon + 1;
  }
  const zdebug_symbol *s = find_symbol(routine, t, n);
  if (!s) return -2;
  std::string name(t, n);
  if (s->species != ZDEBUG_LABEL) {
    out((name + ": NOT A LABEL\r\n").c_str());
    return -1;
  }
  if (s->loc == ZDEBUG_NOT_ALLOCATED) {
    out((name + ": NOT ALLOCATED\r\n").c_str());
    return -1;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s: %04x\r\n", name.c_str(), unsigned(s->loc));
  out(buf);
  return long(s->loc);
}

void setbkp(const char *target) {
  while (*target == ' ') target++;
  if (!*target) {
    clear_breakpoints();
    return;
  }
  const char *end = target + std::strcspn(target, " ");
  size_t n = size_t(end - target);
  if (n == 5 && strncasecmp(target, "CHAIN", 5) == 0) {
    zmon.chain_bkp = 1;
    debugging = 1;
    return;
  }
  uint32_t addr;
  long label = zdebug.db_info ? label_address(target, n) : -2;
  if (label == -1) return;
  if (label >= 0) {
    addr = uint32_t(label);
  } else if (!parse_hex(target, &end, &addr)) {
    out("ERR\r\n");
    return;
  }
  uint64_t abs = uint64_t(zm.zrbas) + addr;
  int slot = -1;
  for (int i = 0; i < zmon.znbkp; i++)
    if (zmon.zbkpt[i] == abs) slot = i;
  if (slot < 0) {
    if (zmon.znbkp == ZBKP_MAX) {
      out("BKP TBL FULL\r\n");
      return;
    }
    slot = zmon.znbkp++;
  }
  zmon.zbkpt[slot] = uint32_t(abs);
  set_command(zmon.zbkp_cmd[slot], *end ? end + 1 : "");
  debugging = 1;
}

static void clear_one(const char *arg) {
  while (*arg == ' ') arg++;
  if (!*arg) {
    clear_breakpoints();
    out("ALL BKP'S CLEARED\r\n");
    return;
  }
  char *end;
  long n = std::strtol(arg, &end, 10);
  while (*end == ' ') end++;
  if (*end || n < 1 || n > zmon.znbkp) {
    out("ERR\r\n");
    return;
  }
  for (int i = int(n) - 1; i + 1 < zmon.znbkp; i++) {
    zmon.zbkpt[i] = zmon.zbkpt[i + 1];
    std::memcpy(zmon.zbkp_cmd[i], zmon.zbkp_cmd[i + 1], sizeof zmon.zbkp_cmd[i]);
  }
  zmon.znbkp--;
  zmon.zbkpt[zmon.znbkp] = 0;
  zmon.zbkp_cmd[zmon.znbkp][0] = 0;
}

static void list_breakpoints() {
  if (zmon.chain_bkp) out("BKP ON CHAIN\r\n");
  if (zmon.znbkp == 0) {
    out("NO BKP SET YET\r\n");
    return;
  }
  for (int i = 0; i < zmon.znbkp; i++) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%1d %04x %s\r\n", i + 1, unsigned(zmon.zbkpt[i] - zm.zrbas),
                  zmon.zbkp_cmd[i]);
    out(buf);
  }
}

// ---- stopping --------------------------------------------------------------

int muststop() {
  if (zp.stkp != expr_stack) return 0;
  unsigned code = zget1(zp.preg), op = code & 31;
  if (op == 0) return 1;
  static constexpr unsigned control[] = {3, 4, 6, 13, 14, 15, 18, 21, 22, 24, 29, 30, 31};
  static constexpr unsigned operand[] = {6, 7, 15, 16, 17, 31};
  if ((code & 0x60) == 0x60) {
    for (unsigned c : control)
      if (c == op) return 1;
    return 0;
  }
  for (unsigned c : operand)
    if (c == op) return 1;
  return 0;
}

static void trace(int fd) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04x ", unsigned(zp.preg - zm.zrbas) & 0xFFFFFFu);
  if (fd == 1) {
    out(buf);
    zflush(1);
    return;
  }
  if (zmon.tracecount++ == 15) {
    (void)!write(fd, "\n", 1);
    zmon.tracecount = 0;
  }
  (void)!write(fd, buf, 5);
}

// execution stops before the current instruction
static int stop_here() {
  zrpl = 1;
  resume_at = zp.preg;
  return 1;
}

int debug_it(int flag, int fd) {
  if (zp.preg == resume_at) {
    resume_at = UINT32_MAX;  // the instruction we stopped before runs now
    if (fd && muststop()) trace(fd);
    return 0;
  }
  resume_at = UINT32_MAX;
  if ((flag || (debugging && zresc)) && muststop()) {
    zresc = 0;
    return stop_here();
  }
  if (zmon.zbkp_go_flag == 1 && zp.preg == zmon.zbkp_go) {
    zmon.zbkp_go_flag = 255;
    return stop_here();
  }
  for (int i = 0; i < zmon.znbkp; i++)
    if (zp.preg == zmon.zbkpt[i]) {
      zmon.zbkp_flag = i + 1;
      return stop_here();
    }
  if (fd && muststop()) trace(fd);
  return 0;
}

// ---- showing and changing variables --------------------------------------

// The descriptor offset of variable sym of routine r.
static uint32_t variable_descriptor(const zdebug_routine &r, const zdebug_symbol &s) {
  return zm.zrbas + uint32_t(s.loc) * uint32_t(zw.dsc_len) + r.varbg - 2u * uint32_t(zw.dsc_len);
}

static void show_number(uint32_t at) {
  bcd_num x;
  std::memcpy(&x, zspan(at, 8).data(), 8);
  char buf[ZFNS_MAX + 1];
  fsns = buf;
  int n = zfns(&x);
  buf[n] = 0;
  out(buf);
}

static void show_string(uint32_t at, uint32_t len, bool hex) {
  std::span<uint8_t> s = zspan(at, len);
  std::string text = hex ? "" : "\"";
  for (uint8_t c : s) {
    char b[4];
    if (hex)
      std::snprintf(b, sizeof b, "%02x", c);
    else
      b[0] = char(c), b[1] = 0;
    text += b;
  }
  if (!hex) text += "\"";
  out(text.c_str());
}

// Shows a variable: a number, a string, or an array one element a line
// ("(i)" or "(i,j)" before each element).
static void show_value(uint32_t desc, bool hex) {
  uint32_t a = uint32_t(zw.adr_len);
  if (zget1(desc) & DSC_IND) desc = zgeta(desc + 1);
  if (desc == zw.inv_offs) {  // a parameter not bound to an argument
    out("NOT ALLOCATED\r\n");
    return;
  }
  uint8_t type = uint8_t(zget1(desc));
  uint32_t data = zgeta(desc + 1), d1 = zget2(desc + 1 + a), d2 = zget2(desc + 3 + a);
  if (data == zw.inv_offs) {
    out("NOT ALLOCATED\r\n");
    return;
  }
  if (type & DSC_STR) {
    if (!(type & DSC_DIM2)) {
      show_string(data, (type & DSC_PAD) ? d1 : d2, hex);
      out("\r\n");
      return;
    }
    for (uint32_t i = 0; i < d2; i++) {
      out(("(" + std::to_string(i) + ") ").c_str());
      show_string(data + i * d1, d1, hex);
      out("\r\n");
    }
    return;
  }
  if (!(type & DSC_ARR)) {
    show_number(data);
    out("\r\n");
    return;
  }
  uint32_t rows = (type & DSC_DIM2) ? d2 : 1;
  for (uint32_t i = 0; i < d1; i++)
    for (uint32_t j = 0; j < rows; j++) {
      char buf[32];
      if (type & DSC_DIM2)
        std::snprintf(buf, sizeof buf, "(%u,%u) ", i, j);
      else
        std::snprintf(buf, sizeof buf, "(%u) ", i);
      out(buf);
      show_number(data + (i * rows + j) * 8);
      out("\r\n");
    }
}

// finds [routine:]name; false after the message
static bool find_variable(const char *arg, int *routine, const zdebug_symbol **sym) {
  while (*arg == ' ') arg++;
  size_t n = std::strcspn(arg, " ");
  int r = zdebug.hp;
  const char *colon = static_cast<const char *>(std::memchr(arg, ':', n));
  if (colon) {
    r = find_routine(arg, size_t(colon - arg));
    if (r < 0) {
      out(("Unknown SUB/FUN: " + std::string(arg, size_t(colon - arg)) + "\r\n").c_str());
      return false;
    }
    n -= size_t(colon + 1 - arg);
    arg = colon + 1;
  }
  const zdebug_symbol *s = find_symbol(r, arg, n);
  if (!s || s->species == ZDEBUG_LABEL) {
    out("ERR\r\n");
    return false;
  }
  *routine = r;
  *sym = s;
  return true;
}

static void display_variable(const char *arg, bool hex) {
  int r;
  const zdebug_symbol *s;
  if (!find_variable(arg, &r, &s)) return;
  if (s->loc == ZDEBUG_NOT_ALLOCATED) {
    out("NOT ALLOCATED\r\n");
    return;
  }
  show_value(variable_descriptor(zdebug.routines[size_t(r)], *s), hex);
}

// vx name: prompts for a value and stores it
static void set_variable(const char *arg) {
  int r;
  const zdebug_symbol *s;
  if (!find_variable(arg, &r, &s) || s->loc == ZDEBUG_NOT_ALLOCATED) {
    if (s && s->loc == ZDEBUG_NOT_ALLOCATED) out("ERR\r\n");
    return;
  }
  uint32_t desc = variable_descriptor(zdebug.routines[size_t(r)], *s);
  uint32_t a = uint32_t(zw.adr_len);
  if (zget1(desc) & DSC_IND) desc = zgeta(desc + 1);
  if (desc == zw.inv_offs) {
    out("ERR\r\n");
    return;
  }
  uint8_t type = uint8_t(zget1(desc));
  uint32_t data = zgeta(desc + 1), d1 = zget2(desc + 1 + a);
  if (data == zw.inv_offs || ((type & DSC_ARR) && !(type & DSC_STR)) || (type & DSC_DIM2)) {
    out("ERR\r\n");
    return;
  }
  out("Value: ");
  int len = zinlin(ZIN_KEEPCASE);
  out("\r\n");
  if (len < 0) return;
  if (type & DSC_STR) {
    uint32_t n = uint32_t(len) < d1 ? uint32_t(len) : d1;
    std::span<uint8_t> dst = zspan(data, d1);
    std::memcpy(dst.data(), zrlin, n);
    if (type & DSC_PAD)
      std::memset(dst.data() + n, ' ', d1 - n);
    else
      zput2(desc + 3 + a, n);
    return;
  }
  fsns = zrlin;
  fsnl = unsigned(len);
  while (fsnl && *fsns == ' ') fsns++, fsnl--;
  if (zfsn() != 0 || (fsnl && *fsns != ' ')) {
    out("ERR\r\n");
    return;
  }
  std::memcpy(zspan(data, 8).data(), &fsnp, 8);
}

// ---- lists -----------------------------------------------------------------

// Lines of a long list pause after each screenful.
struct pager {
  int lines = 0;  // lines written since the last pause
  bool stop = false;
};

static bool page_line(pager &p, const std::string &line) {
  if (p.stop) return false;
  out(line.c_str());
  if (++p.lines < 23) return true;
  p.lines = 0;
  out(" -- More --\r");
  int c = get_char(0);
  out("           \r");
  if (c == 'q' || c == 'Q') p.stop = true;
  return !p.stop;
}

static bool need_debug_info() {
  if (zdebug.db_info) return true;
  out("NO SYMBOLIC INFORMATION\r\n");
  return false;
}

// dv and dl: variables or labels of the current or the named routine
static void list_symbols(const char *arg, bool labels) {
  if (!need_debug_info()) return;
  while (*arg == ' ') arg++;
  int r = *arg ? find_routine(arg, std::strcspn(arg, " ")) : zdebug.hp;
  if (r < 0) {
    out("ROUTINE NOT FOUND\r\n");
    return;
  }
  const zdebug_routine &rt = zdebug.routines[size_t(r)];
  pager p;
  for (const zdebug_symbol &s : rt.symbols) {
    if ((s.species == ZDEBUG_LABEL) != labels) continue;
    char buf[32];
    if (s.loc == ZDEBUG_NOT_ALLOCATED)
      std::snprintf(buf, sizeof buf, ": NOT ALLOCATED\r\n");
    else if (labels)
      std::snprintf(buf, sizeof buf, ": %04x\r\n", unsigned(s.loc));
    else
      std::snprintf(buf, sizeof buf, ": %04x\r\n", unsigned(variable_descriptor(rt, s) - zm.zrbas));
    if (!page_line(p, s.name + buf)) return;
  }
}

static void list_routines() {
  if (!need_debug_info()) return;
  pager p;
  for (size_t i = 0; i < zdebug.routines.size(); i++)
    if (!page_line(p, (int(i) == zdebug.hp ? "*" : " ") + zdebug.routines[i].name + "\r\n")) return;
}

// ---- call hierarchy --------------------------------------------------------

static void hier_write(int fd, const std::string &s) {
  if (fd <= 2)
    out(s.c_str());
  else
    (void)!write(fd, s.data(), s.size());
}

static std::string hex4(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%04x", v);
  return b;
}

// "(a,b,...)" of the n parameters below the frame whose link word is at link
static std::string frame_params(uint32_t link, int n) {
  if (n <= 0) return "";
  uint32_t a = uint32_t(zw.adr_len);
  std::string s;
  uint32_t l = zgeta(link);
  for (int i = 0; i < n && l; i++) {  // the last argument is on top
    uint32_t d = zgeta(l - a);
    s = (i + 1 < n ? "," : "") + (d >= zm.zrbas && d < zm.size ? hex4(d - zm.zrbas) : "???") + s;
    l = zgeta(l);
  }
  return "(" + s + ")";
}

void display_hierarchy(int outfd) {
  uint32_t a = uint32_t(zw.adr_len);
  const std::string eol = outfd <= 2 ? "\r\n" : "\n";
  uint32_t rcod = zp.rcod;
  std::string pending;
  for (uint32_t link = zp.stkp; link;) {
    uint32_t ptr = zgeta(link - a);
    if (ptr == FRAME_BOTTOM) break;
    std::string line;
    if (ptr == FRAME_SUB) {
      line = ":" + hex4(zgeta(link - 2 * a) - zm.zrbas);
    } else if (ptr == FRAME_PROC) {
      // count, rdt, return address, rcod (adr_len each but the count), zrcod2
      uint32_t base = link - a - 1 - a - a - a - 1;
      int n = int(zget1(base));
      line = hex4(rcod + 6 * a + 1) + frame_params(link, n) + ":" +
             hex4(zgeta(base + 1 + a) - zm.zrbas);
      rcod = zgeta(base + 1 + 2 * a);
    } else if (ptr == FRAME_CALL) {
      int n = int(zget1(link - a - 1));
      line = hex4(rcod + 6 * a + 1) + frame_params(link, n);
    } else {
      link = zgeta(link);
      continue;
    }
    if (!pending.empty()) hier_write(outfd, pending + eol);
    pending = line;
    link = zgeta(link);
  }
  if (!pending.empty()) hier_write(outfd, pending);
}

// ---- commands --------------------------------------------------------------

static void leave_debug_mode() {
  debugging = 0;
  clear_breakpoints();
  cleanupd();
  sc_cleanup();
  zcleanup();
  zioc();
}

static void start_trace(const char *arg) {
  while (*arg == ' ') arg++;
  zmon.tracing = 1;
  if (*arg) {
    int fd;
    do fd = open(arg, O_WRONLY | O_CREAT | O_APPEND, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd > 2) {
      zmon.tracing = fd;
      zmon.tracecount = 0;
    } else if (fd >= 0) {
      close(fd);
    }
  }
  debugging = 1;
  go(0);
}

static void go_command(const char *arg) {
  while (*arg == ' ') arg++;
  if (*arg) {
    const char *end;
    uint32_t addr;
    if (!parse_hex(arg, &end, &addr)) {
      out("ERR\r\n");
      return;
    }
    zmon.zbkp_go = zm.zrbas + addr;
    zmon.zbkp_go_flag = 1;
    set_command(zmon.zbkp_go_cmd, *end ? end + 1 : "");
  }
  go(0);
}

static void shell_command(const char *arg) {
  if (noshell) {
    out("ERR\r\n");
    return;
  }
  while (*arg == ' ') arg++;
  son_settings();
  int slot = forkpipe('4');
  if (slot == 0) {
    // the shell takes the keys that ran itself: interrupt and quit as usual
    vx_signal(SIGINT, SIG_DFL);
    vx_signal(SIGQUIT, SIG_DFL);
    const char *sh = vx_getenv("SHELL");
    if (*arg)
      execl("/bin/sh", "sh", "-c", arg, static_cast<char *>(nullptr));
    else if (sh && *sh)
      execl(sh, sh, static_cast<char *>(nullptr));
    else
      execl("/bin/sh", "sh", "-c", "exec sh", static_cast<char *>(nullptr));
    child_abort(*arg || !sh || !*sh ? "/bin/sh" : sh);
  }
  if (slot > 0) termproc(slot, '1');
  run_settings();
  if (*arg) {
    out("\nPress any key to continue");
    get_char(0);
  }
}

static void load_command(const char *arg) {
  while (*arg == ' ') arg++;
  if (nostart) {
    out("ERR\r\n");
    return;
  }
  debugging = 1;
  if (loadit(arg, int(std::strlen(arg))) != 0) return;
  out("Program is LOADED");
  if (zdebug.db_info) out(" with debug information");
  out("\r\n");
}

// a typed or configured program name
static void program_name(const char *line, bool typed) {
  if (debugging) {
    out("UNKNOWN COMMAND\r\n");
    return;
  }
  if (typed && nostart) {
    out("ERR\r\n");
    return;
  }
  if (loadit(line, int(std::strlen(line))) == 0) go(1);
}

static void run_command(const char *line, bool typed);

void monitor_line(const char *line, bool typed) {
  try {
    run_command(line, typed);
  } catch (const zerror_jump &) {
    // debug information or a descriptor that points outside the image
    out("ERR\r\n");
  }
}

static void run_command(const char *line, bool typed) {
  size_t len = std::strlen(line);
  if (len > 2 && line[2] != ' ' && line[2] != ',') {
    program_name(line, typed);
    return;
  }
  if (zdebug.db_info && zdebug.hp < 0) {
    zdebug.hp = findhead(1, zdebug.hdr.s_routine, nullptr, 0);
    if (zdebug.hp < 0) {
      out("FATAL: Can't find MAIN function\r\n");
      exitr3(255);
    }
  }
  char c2[3] = {char(std::tolower((unsigned char)line[0])),
                char(len > 1 ? std::tolower((unsigned char)line[1]) : 0), 0};
  const char *arg = len > 2 ? line + 3 : "";
  std::string cmd2 = c2;
  if (cmd2 == "ru") {
    if (zrpl == 1)
      out("ERR\r\n");
    else if (zrpl == 0)
      out("NO PROGRAMM LODED\r\n");
    else
      go(1);
  } else if (cmd2 == "lo")
    load_command(arg);
  else if (cmd2 == "go")
    go_command(arg);
  else if (cmd2 == "st" || cmd2 == "sp") {
    zmon.stepping = cmd2 == "st" ? 1 : 2;
    debugging = 1;
    go(0);
  } else if (cmd2 == "sd")
    debugging = 1;
  else if (cmd2 == "cd")
    leave_debug_mode();
  else if (cmd2 == "tr")
    start_trace(arg);
  else if (cmd2 == "br") {
    setbkp(arg);
    if (!*arg) out("ALL BKP'S CLEARED\r\n");
  } else if (cmd2 == "cb")
    clear_one(arg);
  else if (cmd2 == "db")
    list_breakpoints();
  else if (cmd2 == "di" || cmd2 == "dh") {
    if (need_debug_info()) display_variable(arg, cmd2 == "dh");
  } else if (cmd2 == "dv" || cmd2 == "dl")
    list_symbols(arg, cmd2 == "dl");
  else if (cmd2 == "dr")
    list_routines();
  else if (cmd2 == "ch") {
    display_hierarchy(1);
    out("\r\n");
  } else if (cmd2 == "vx") {
    if (need_debug_info()) set_variable(arg);
  } else if (cmd2 == "sh")
    shell_command(arg);
  else if (cmd2 == "qu")
    exitr3(0);
  else
    program_name(line, typed);
}

// the command of the go address or of the breakpoint just hit, or null
static const char *stop_command() {
  if (zmon.zbkp_go_flag == 255) {
    zmon.zbkp_go_flag = 0;
    if (zmon.zbkp_go_cmd[0]) return zmon.zbkp_go_cmd;
  }
  if (zmon.zbkp_flag) {
    int i = zmon.zbkp_flag - 1;
    zmon.zbkp_flag = 0;
    if (zmon.zbkp_cmd[i][0]) return zmon.zbkp_cmd[i];
  }
  return nullptr;
}

void cmd() {
  char line[ZIN_MAX + 1];
  for (;;) {
    zmon.stepping = 0;
    if (zmon.tracing > 2) close(zmon.tracing);
    zmon.tracing = 0;
    if (!zmon.firsttime && progname && *progname) {
      zmon.firsttime = 1;
      monitor_line(progname, false);
      continue;
    }
    if (const char *c = stop_command()) {
      char copy[ZBKP_CMD_LEN + 1];
      std::snprintf(copy, sizeof copy, "%s", c);
      out("\r\n");
      out(copy);
      out("\r\n");
      monitor_line(copy, false);
      continue;
    }
    int n = get_cmd(line);
    if (n < 0) exitr3(0);  // the terminal is gone: end as qu does
    if (n == 0) {
      if (!debugging && progname && *progname) monitor_line(progname, false);
      continue;
    }
    monitor_line(line, true);
  }
}
