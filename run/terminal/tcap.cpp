// tcap.cpp: reads the active terminal's terminfo entry through ncurses (at
// the terminfo level only) into the tables of tcap.h.  Owns cf_code,
// ctrl_type, ztcvec, ztc, keylabel, the string block and tc.  Called once
// by start-up (inicap); the screen and the keyboard read the tables, the
// refresh sends the strings through tc_put.
//
// inicap, in this order:
//   1 output buffer reset              10 set_attrib_grf, character set
//   2 CF, LINE_DRAW1 into cf_code         switches, grf_state
//   3 VX8BIT: one attribute code, set  11 key strings
//     2 = set 1; else LINE_DRAW2; the  12 function-key labels
//     classes of the codes             13 printer switches, margins, size,
//   4 ARROWS                              pad character
//   5 string block, setupterm          14 the key-sequence tree (keyboard)
//   6 line-drawing source              15 CONC_KEY, CS80, CS132
//   7 attribute sequences 0-15         16 cursor-motion costs
//   8 cookie glitch                    17 default colour/attribute map
//   9 line-drawing characters          18 initialisation strings sent
#include "run/terminal/tcap.h"

#include <term.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/base/zsmsg.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/terminal/keys.h"
#include "run/terminal/phys.h"
#include "run/terminal/tty.h"

unsigned ztc_ospeed;
uint8_t cf_code[CF_SIZE];
uint8_t ctrl_type[256];
const char *ztcvec[ZV_SIZE];
const char *ztc[ZTC_SIZE];
const char cap_list[] = "krRKklLKkdDKkuUKk0DLTBLDkhkbcmcvchcdcendicdcaldlcl";
const char *keylabel[11];
char *ztcptr;
tc_state tc;

static const uint8_t cf_default[CF_SIZE] = {
    0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xA6, 0xAC, 0x8F, 0x9B,
    0x9C, 0x9D, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x90,
    0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x0C, 0x08, 0x0A, 0x0B};

// the VT100 names of the line-drawing elements, in cf_code's order, and the
// characters used when the terminal names none
static const char acs_names[] = "lkmjwutvqxn";
static const char acs_fallback[] = "l+k+m+j+w+u+t+v+q-x!n+";

// ---- failures ----------------------------------------------------------------

[[noreturn]] static void tc_fail(const char *text) {
  zsmsg(text);
  msg_count++;
  exitrun();
}

[[noreturn]] static void out_of_memory() {
  tc_fail("OUT OF MEMORY for terminfo\r\n");
}

// ---- the string block ------------------------------------------------------------

static char *block_end() {
  return tc.block + TC_BLOCK;
}

// copies s (n bytes) into the block with its zero byte; null when full
static const char *keep(const char *s, size_t n) {
  if (!tc.block || size_t(block_end() - ztcptr) < n + 1) return nullptr;
  char *at = ztcptr;
  std::memcpy(at, s, n);
  at[n] = 0;
  ztcptr += n + 1;
  return at;
}

static const char *keep(const char *s) {
  return keep(s, std::strlen(s));
}

// ---- terminfo lookups -------------------------------------------------------------

// a string capability, null when absent, cancelled or empty
static const char *cap(const char *name) {
  const char *s = tigetstr(name);
  if (s == reinterpret_cast<const char *>(-1) || !s || !*s) return nullptr;
  return s;
}

static int num(const char *name) {
  return tigetnum(name);
}

static bool flag(const char *name) {
  return tigetflag(name) > 0;
}

const char *tc_parm(const char *s, int p1, int p2) {
  if (!s) return nullptr;
  return tiparm(s, p1, p2);
}

const char *tc_sgr(int a, int acs) {
  if (!tc.cap.sgr) return nullptr;
  return tiparm(tc.cap.sgr, (a & DA_STANDOUT) != 0, (a & DA_UNDERLINE) != 0, (a & DA_REVERSE) != 0,
                (a & DA_BLINK) != 0, (a & DA_DIM) != 0, (a & DA_BOLD) != 0, (a & DA_INVIS) != 0,
                (a & DA_PROTECT) != 0, acs != 0);
}

const char *get_attr_sequence(int k) {
  return tc_sgr(k & (DA_STANDOUT | DA_BLINK | DA_REVERSE | DA_UNDERLINE), 0);
}

static int put_byte(int c) {
  outchr(c);
  return c;
}

void tc_put(const char *s) {
  if (s && *s) tputs(s, 1, put_byte);
}

// ---- the configuration lists ----------------------------------------------------------

// reads one decimal number at *p; false when there is none or it is past 255
static bool byte_at(const char **p, int *value) {
  const char *s = *p;
  while (*s == ' ') s++;
  if (*s < '0' || *s > '9') return false;
  long v = 0;
  while (*s >= '0' && *s <= '9' && v < 1000) v = v * 10 + (*s++ - '0');
  while (*s >= '0' && *s <= '9') s++;
  while (*s == ' ') s++;
  *p = s;
  *value = int(v);
  return v <= 255;
}

// an entry that is not a number from 0 to 255 keeps its default
void set_codes(const char *list, int start, int end) {
  if (!list) return;
  const char *p = list;
  for (int i = start; i < end && *p; i++) {
    int v;
    if (byte_at(&p, &v)) cf_code[i] = uint8_t(v);
    while (*p && *p != ',') p++;
    if (*p == ',') p++;
  }
}

// Without a block (tests) the string is written at *next unbounded by it.
const char *set_cs(const char *list, char **next) {
  char *start = *next;
  char *end = tc.block ? block_end() : nullptr;
  if (end && start >= end) {
    *next = end + 1;  // already full: the caller sees the overflow
    return "";
  }
  char *w = start;
  for (const char *p = list ? list : ""; *p;) {
    int v;
    if (byte_at(&p, &v)) {
      if (end && w == end - 1) {
        *start = 0;
        *next = end + 1;
        return start;
      }
      *w++ = char(v);
    }
    while (*p && *p != '-') p++;
    if (*p == '-') p++;
  }
  *w++ = 0;
  *next = w;
  return start;
}

// ---- the steps of inicap ------------------------------------------------------------------

static void mark(int code, int cls) {
  ctrl_type[code] = uint8_t((ctrl_type[code] & ~CT_CLASS) | cls);
}

void tc_build_codes() {
  std::memcpy(cf_code, cf_default, sizeof cf_code);
  for (int c = 0; c < 256; c++) mark(c, c < 32 ? CT_CONTROL : CT_ORDINARY);
  set_codes(cf_list, CF_ATTR, CF_LINE1);
  set_codes(line_draw1, CF_LINE1, CF_LINE2);
  if (vx_8bit) {
    std::memcpy(cf_code + CF_LINE2, cf_code + CF_LINE1, LINE_ELEMENTS);
    for (int e = 0; e < LINE_ELEMENTS; e++) mark(cf_code[CF_LINE1 + e], CT_LINE1 + e);
    for (int i = 1; i < 16; i++) cf_code[i] = cf_code[0];
    mark(cf_code[0], CT_ATTR);
  } else {
    set_codes(line_draw2, CF_LINE2, CF_ARROWS);
    for (int i = 15; i >= 0; i--) mark(cf_code[i], CT_ATTR + i);
    for (int i = CF_LINE1; i < CF_ARROWS; i++) mark(cf_code[i], i + 2);
  }
  set_codes(arrow_list, CF_ARROWS, CF_SIZE);
}

static void load_entry() {
  if (!tc.block) tc.block = static_cast<char *>(std::malloc(TC_BLOCK));
  if (!tc.block) out_of_memory();
  ztcptr = tc.block;
  int err = 0;
  if (tc.loaded && cur_term) del_curterm(cur_term);
  tc.loaded = false;
  if (setupterm(active_terminal ? active_terminal : "", 0, &err) != 0 || err != 1)
    tc_fail("terminfo problem.\r\n");
  tc.loaded = true;
}

static void read_caps() {
  tc_caps &c = tc.cap;
  c.cup = cap("cup");
  c.hpa = cap("hpa");
  c.vpa = cap("vpa");
  c.clear = cap("clear");
  c.el = cap("el");
  c.ed = cap("ed");
  c.il = cap("il");
  c.il1 = cap("il1");
  c.dl = cap("dl");
  c.dl1 = cap("dl1");
  c.ind = cap("ind");
  c.indn = cap("indn");
  c.civis = cap("civis");
  c.cnorm = cap("cnorm");
  c.cvvis = cap("cvvis");
  c.sgr = cap("sgr");
  c.setaf = cap("setaf");
  c.setab = cap("setab");
  c.op = cap("op");
  c.smacs = cap("smacs");
  c.rmacs = cap("rmacs");
  c.bce = flag("bce");
  c.xenl = flag("xenl");
}

static void attribute_sequences() {
  for (int k = 0; k < 16; k++) {
    const char *s = get_attr_sequence(k);
    ztcvec[k] = keep(s ? s : "");
    if (!ztcvec[k]) out_of_memory();
  }
  int xmc = num("xmc");
  tc.attr_mode = xmc != -1 && xmc != -2 ? xmc : 0;
}

// steps 6 and 9: the terminal's character for each line-drawing element
static void line_characters() {
  const char *src = cap("acsc");
  if (!src && graph_chars && *graph_chars) src = graph_chars;
  if (!src) src = acs_fallback;
  size_t n = std::strlen(src);
  for (int e = 0; e < LINE_ELEMENTS; e++) {
    char name = acs_names[e], ch = name;
    for (size_t i = 0; i + 1 < n; i += 2)
      if (src[i] == name) {
        ch = src[i + 1];
        break;
      }
    ztcvec[ZV_LINE1 + e] = keep(&ch, 1);
    if (!ztcvec[ZV_LINE1 + e]) out_of_memory();
    ztcvec[ZV_LINE2 + e] = ztcvec[ZV_LINE1 + e];
  }
}

static void charset_switches() {
  tc.set_attrib_grf = 0;
  if (tc.cap.sgr) {
    std::string plain = tiparm(tc.cap.sgr, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    std::string acs = tiparm(tc.cap.sgr, 0, 0, 0, 0, 0, 0, 0, 0, 1);
    tc.set_attrib_grf = plain != acs;
  }
  ztcvec[ZV_SMACS] = tc.cap.smacs;
  ztcvec[ZV_RMACS] = tc.cap.rmacs;
  tc.grf_state = tc.set_attrib_grf || tc.cap.smacs;
}

static void key_strings() {
  for (auto &k : ztc) k = nullptr;
  ztc[ZTC_KR] = cap("kcuf1");
  ztc[ZTC_KL] = cap("kcub1");
  ztc[ZTC_KD] = cap("kcud1");
  ztc[ZTC_KU] = cap("kcuu1");
  ztc[ZTC_DL] = cap("kdch1");
  ztc[ZTC_TB] = cap("ht");
  ztc[ZTC_LD] = cap("kdl1");
  ztc[ZTC_KH] = cap("khome");
  ztc[ZTC_KB] = cap("kbs");
}

static void key_labels() {
  for (int i = 0; i <= 10; i++) {
    char name[8], text[8];
    std::snprintf(name, sizeof name, "lf%d", i);
    keylabel[i] = cap(name);
    if (keylabel[i]) continue;
    std::snprintf(text, sizeof text, "F%d", i);
    keylabel[i] = keep(text);
    if (!keylabel[i]) out_of_memory();
  }
  if (ztcptr - tc.block > TC_BLOCK - 4) out_of_memory();
}

static void screen_facts() {
  ztcvec[ZV_PRTR_ON] = cap("mc5");
  ztcvec[ZV_PRTR_OFF] = cap("mc4");
  tc.am_flag = flag("am");
  int r = num("lines"), c = num("cols");
  tc.rows = short(r > 0 && r < 1000 ? r : 25);
  tc.cols = short(c > 0 && c < 1000 ? c : 80);
  const char *pad = cap("pad");
  tc.pad = pad ? pad[0] : 0;
}

static void byte_lists() {
  if (conc_key) conc_key = set_cs(conc_key, &ztcptr);
  if (ztc_cs80) ztcvec[ZV_CS80] = set_cs(ztc_cs80, &ztcptr);
  if (ztc_cs132) ztcvec[ZV_CS132] = set_cs(ztc_cs132, &ztcptr);
  if (ztcptr > block_end()) out_of_memory();
}

static size_t cost_of(const char *s) {
  return s ? std::strlen(s) : 32767;
}

void set_cx_costs() {
  const tc_caps &c = tc.cap;
  tc.cm_cost = short(c.cup ? cost_of(tiparm(c.cup, 11, 11)) : 32767);
  tc.cv_cost = c.vpa ? short(cost_of(tiparm(c.vpa, 11))) : tc.cm_cost;
  tc.ch_cost = c.hpa ? short(cost_of(tiparm(c.hpa, 11))) : tc.cm_cost;
  tc.ce_cost = short(cost_of(c.el));
}

static void send_init_strings() {
  for (const char *name : {"is1", "is2", "is3", "enacs", "oc", "op"}) tc_put(cap(name));
  zbuf_flush();
}

void inicap() {
  phys_buffer_init();
  tc_build_codes();
  load_entry();
  read_caps();
  attribute_sequences();
  line_characters();
  charset_switches();
  key_strings();
  key_labels();
  screen_facts();
  if (fill_ctrl_keys() == 0) out_of_memory();
  byte_lists();
  set_cx_costs();
  for (int k = 0; k < 16; k++)
    if (set_camap(k, k, -1, -1) < 0) out_of_memory();
  send_init_strings();
}

void tc_reset_for_test() {
  kbd_init();
  if (tc.loaded && cur_term) del_curterm(cur_term);
  std::free(tc.block);
  tc = tc_state{};
  ztcptr = nullptr;
  for (auto &s : ztcvec) s = nullptr;
  camap_reset_for_test();
}
