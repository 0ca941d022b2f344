// lcap.cpp: the parser of printer capability entries and of the terminal's
// "MAP=" lines.  Lines come from the defaults file reader (deflt_getline),
// so messages carry the file's true line numbers.  Owns the records of the
// printer table (lp_list) and the parser's state.
//
// Scanner states and what moves between them:
//
//   between items --keyword "INIT=" "DEINIT=" "FL=" "CS=" "LPI="--> list (sep 1)
//                 --letter "x="---------------------------------> list (sep 0)
//                 --"MAP="----------------------> list (sep 2 printer, 3 terminal)
//                 --"INITFILE=" "DEINITFILE="------------------> file name
//                 --"))" line end---------------------------------> end of entry
//   list          --item (number, 'text', $) followed by "-" "," or line end
//                 --","  sep 0: on text stored, sep 1;  sep 2: mapped char, sep 1;
//                        sep 3: next map char (two at most);  sep 1: unexpected
//                 --"-" at the line end---------------> list on the next line
//                 --line end: the list is stored------------> between items
//   file name     --printable characters without blanks, line end-> between items
//
// A part of a list holds at most LCAP_ITEM_MAX bytes (it becomes one pool
// item); a longer one, a number above 255 and a pool past 64 KiB are
// refused with "unexpected", so nothing wraps or overruns.  After an error
// the rest of the entry, up to its "))", is passed over.
#include "run/terminal/lcap.h"

#include <unistd.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/config/defaults.h"
#include "run/config/lptab.h"
#include "run/config/settings.h"
#include "run/terminal/kmap.h"
#include "run/terminal/tcap.h"

namespace {

enum scan_result { SCAN_OK, SCAN_MORE, SCAN_END, SCAN_ERR };
enum sep_state { SEP_NONE = -1, SEP_ON, SEP_LAST, SEP_PMAP, SEP_TMAP };

struct lcap_parse {
  int route;                // printer slot, -1 for the terminal map
  lp_info *rec;             // record being built (null in terminal mode)
  int txt_cap;              // allocated bytes of rec->txt
  uint8_t line[LCAP_LINE];  // bytes of the current part of a list
  int cnt;                  // bytes in line
  int effno;                // effect being defined, -1 for a map
  int sep;                  // separator state (sep_state)
  int mapc;                 // character mapped by a printer "MAP="
  uint8_t mapch[2];         // map characters before the last part
  int nmap;                 // count of mapch
  char tok[80];             // text of the token for a message
  int err_fd = 2;           // where messages go: standard error
};
lcap_parse ps;

lp_info dumb_rec;
uint8_t dumb_map[256];
uint16_t dumb_eff[LCAP_FIXED];
uint8_t dumb_txt[2];
char dumb_list[1];

[[noreturn]] void no_memory() {
  static const char text[] = "RUN Fatal error: no memory for LCAP.\n";
  ssize_t w = write(2, text, sizeof text - 1);
  (void)w;
  msg_count++;
  exitrun();
}

void *must_alloc(size_t n) {
  void *p = std::calloc(n ? n : 1, 1);
  if (!p) no_memory();
  return p;
}

// keeps the token's text for a message; control bytes shown as "?"
void set_token(const char *p, size_t n) {
  if (n >= sizeof ps.tok) n = sizeof ps.tok - 1;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    ps.tok[i] = std::isprint(c) ? char(c) : '?';
  }
  ps.tok[n] = 0;
}

// the token at p: up to the next separator, at least one byte
void token_at(const char *p) {
  if (!*p) {
    set_token("(line end)", 10);
    return;
  }
  size_t n = std::strcspn(p, "-,");
  set_token(p, n ? n : 1);
}

// Reports an error of the entry: "file, line n: token message".
void lpcaperror(const char *msg) {
  char text[200];
  int n = std::snprintf(text, sizeof text, "%s, line %d: %s %s", def_name ? def_name : "?",
                        deflt_lineno, ps.tok, msg);
  if (n > 79) n = 79;
  if (n < 0) n = 0;
  text[n++] = '\n';
  text[n++] = '\r';
  ssize_t w = write(ps.err_fd, text, size_t(n));
  (void)w;
  msg_count++;
}

bool unexpected_at(const char *p) {
  token_at(p);
  lpcaperror("unexpected");
  return false;
}

scan_result fail_at(const char *p) {
  unexpected_at(p);
  return SCAN_ERR;
}

// Appends an item to the pool; its offset, or 0 when it does not fit.
unsigned txt_add(const uint8_t *bytes, int n) {
  lp_info *r = ps.rec;
  if (n > LCAP_ITEM_MAX || r->txt_len + 1 + n > LCAP_POOL_MAX) return 0;
  while (r->txt_len + 1 + n > ps.txt_cap) {
    auto *grown = static_cast<uint8_t *>(std::realloc(r->txt, size_t(ps.txt_cap + 1024)));
    if (!grown) no_memory();
    r->txt = grown;
    ps.txt_cap += 1024;
  }
  unsigned off = unsigned(r->txt_len);
  r->txt[off] = uint8_t(n);
  if (n) std::memcpy(r->txt + off + 1, bytes, size_t(n));
  r->txt_len += 1 + n;
  return off;
}

// stores the collected part as an item; false (reported) when it does not fit
bool store_part(unsigned *off) {
  *off = txt_add(ps.line, ps.cnt);
  if (*off) return true;
  set_token(reinterpret_cast<const char *>(ps.line), size_t(ps.cnt));
  lpcaperror("unexpected");
  return false;
}

void free_record(lp_info *r) {
  if (!r || r == &dumb_rec) return;
  if (r->own_map1) std::free(r->map1);
  std::free(r->map2);
  std::free(r->eff);
  std::free(r->eff_list);
  std::free(r->txt);
  std::free(r);
}

// drops slot's reference; the record goes when no other slot holds it
void release(int slot) {
  lp_info *r = lp_list[slot];
  if (!r) return;
  lp_list[slot] = nullptr;
  for (int i = 0; i < lp_max; i++)
    if (lp_list[i] == r) return;
  free_record(r);
}

// Starts the record of slot: map1 from the output map, zeroed map2 and
// effects, the pool with its empty item at offset 1.
void rec_new(int slot) {
  release(slot);
  auto *r = static_cast<lp_info *>(must_alloc(sizeof(lp_info)));
  r->map1 = static_cast<uint8_t *>(must_alloc(256));
  std::memcpy(r->map1, table_out_p, 256);
  r->own_map1 = 1;
  r->map2 = static_cast<uint16_t *>(must_alloc(256 * sizeof(uint16_t)));
  r->eff = static_cast<uint16_t *>(must_alloc(LCAP_EFF_MAX * sizeof(uint16_t)));
  r->eff_list = static_cast<char *>(must_alloc(257));
  r->txt = static_cast<uint8_t *>(must_alloc(1024));
  ps.txt_cap = 1024;
  r->txt_len = 1;  // offset 0 stays unused, so 0 means "none"
  lp_list[slot] = r;
  ps.rec = r;
  txt_add(nullptr, 0);
}

// Line-drawing codes of the screen language (both sets) whose map1 entry
// is 0 print as the screen draws lines without a line-drawing set: "-"
// and "!" for the lines, "+" elsewhere.  The printer entries are read
// before the terminal's capabilities: the codes are built from the
// settings until those are loaded.
void grf_defaults(lp_info *r) {
  if (!tc.loaded) tc_build_codes();
  for (int k = 0; k < LCAP_GRF_CODES; k++) {
    int code = cf_code[CF_LINE1 + k];
    if (r->map1[code] != 0) continue;
    int element = k % 11;  // 8 horizontal, 9 vertical
    r->map1[code] = element == 8 ? '-' : element == 9 ? '!' : '+';
  }
}

// Cuts the record to its used sizes and shares what it left unchanged.
void rec_finish(lp_info *r) {
  r->dumbflg = 0;
  for (int i = 0; i < 5; i++)
    if (lcap_attr(r, 'A' + i) < 0) r->dumbflg |= 1 << i;
  grf_defaults(r);
  if (std::memcmp(r->map1, table_out_p, 256) == 0) {
    std::free(r->map1);
    r->map1 = table_out_p;
    r->own_map1 = 0;
  }
  bool any = false;
  for (int i = 0; i < 256 && !any; i++) any = r->map2[i] != 0;
  if (!any) {
    std::free(r->map2);
    r->map2 = nullptr;
  }
  size_t neff = size_t(LCAP_FIXED + r->eff_cnt) * sizeof(uint16_t);
  if (auto *e = static_cast<uint16_t *>(std::realloc(r->eff, neff))) r->eff = e;
  if (auto *l = static_cast<char *>(std::realloc(r->eff_list, size_t(r->eff_cnt) + 1)))
    r->eff_list = l;
  if (auto *t = static_cast<uint8_t *>(std::realloc(r->txt, size_t(r->txt_len)))) r->txt = t;
}

// adds bytes to the current part of a list
bool collect(const char *at, const uint8_t *bytes, int n) {
  if (ps.cnt + n > LCAP_LINE || ps.cnt + n > LCAP_ITEM_MAX) return unexpected_at(at);
  std::memcpy(ps.line + ps.cnt, bytes, size_t(n));
  ps.cnt += n;
  return true;
}

// a "," inside a list, by separator state
bool comma(const char *at) {
  unsigned off;
  switch (ps.sep) {
    case SEP_ON:
      if (!store_part(&off)) return false;
      ps.rec->eff[ps.effno] = uint16_t(off);
      ps.sep = SEP_LAST;
      break;
    case SEP_PMAP:
      if (ps.cnt == 0) return unexpected_at(at);
      ps.mapc = ps.line[0];
      ps.sep = SEP_LAST;
      break;
    case SEP_TMAP:
      if (ps.cnt == 0 || ps.nmap >= 2) return unexpected_at(at);
      ps.mapch[ps.nmap++] = ps.line[0];
      break;
    default:
      return unexpected_at(at);
  }
  ps.cnt = 0;
  return true;
}

bool expected_comma() {
  set_token(",", 1);
  lpcaperror("expected");
  return false;
}

// the line end of a list: stores the last part
bool end_list() {
  unsigned off;
  if (ps.sep == SEP_ON || ps.sep == SEP_PMAP || (ps.sep == SEP_TMAP && ps.nmap == 0))
    return expected_comma();
  if (ps.sep == SEP_TMAP) {
    if (ps.cnt == 0) return unexpected_at("");
    int a = ps.mapch[0], b = ps.nmap == 1 ? ps.line[0] : ps.mapch[1];
    int c = ps.nmap == 1 ? b : ps.line[0];
    table_in[a] = uint8_t(b);
    table_out_p[b] = uint8_t(c);
    return true;
  }
  if (ps.effno < 0) {  // a printer map
    if (ps.cnt == 0) return unexpected_at("");
    ps.rec->map1[ps.mapc] = ps.line[0];
    ps.rec->map2[ps.mapc] = 0;
    if (ps.cnt > 1) {
      off = txt_add(ps.line + 1, ps.cnt - 1);
      if (!off) return unexpected_at("");
      ps.rec->map2[ps.mapc] = uint16_t(off);
    }
    return true;
  }
  if (!store_part(&off)) return false;
  if (ps.effno < LCAP_FIXED) ps.rec->eff[ps.effno] = uint16_t(off);
  return true;  // an attribute's "off" text lies right after its "on" text
}

// one item of a list at *pp, which moves past it
bool item(const char **pp) {
  const char *p = *pp;
  uint8_t buf[LCAP_ITEM_MAX + 1];
  int n = 0;
  if (std::isdigit(static_cast<unsigned char>(*p))) {
    int v = 0;
    const char *q = p;
    while (std::isdigit(static_cast<unsigned char>(*q))) {
      v = v * 10 + (*q++ - '0');
      if (v > 255) return unexpected_at(p);
    }
    buf[n++] = uint8_t(v);
    *pp = q;
  } else if (*p == '\'') {
    const char *end = std::strchr(p + 1, '\'');
    if (!end || end == p + 1 || end - p - 1 > LCAP_ITEM_MAX) return unexpected_at(p);
    n = int(end - p - 1);
    std::memcpy(buf, p + 1, size_t(n));
    *pp = end + 1;
  } else if (*p == '$') {
    buf[n++] = 27;
    *pp = p + 1;
  } else {
    return unexpected_at(p);
  }
  char after = **pp;
  if (after != '-' && after != ',' && after != 0) return unexpected_at(*pp);
  return collect(p, buf, n);
}

// the rest of a line inside a value list
scan_result list_line(const char *p) {
  while (*p) {
    if (*p == '-') {
      if (!*++p) return SCAN_MORE;
    } else if (*p == ',') {
      if (!comma(p++)) return SCAN_ERR;
    } else if (!item(&p)) {
      return SCAN_ERR;
    }
  }
  return end_list() ? SCAN_OK : SCAN_ERR;
}

scan_result start_list(const char *p, int effno, int sep) {
  ps.effno = effno;
  ps.sep = sep;
  ps.cnt = 0;
  ps.nmap = 0;
  return list_line(p);
}

// a file name after "INITFILE=" or "DEINITFILE="
scan_result file_name(const char *p, int effno) {
  size_t n = std::strlen(p);
  for (size_t i = 0; i < n; i++)
    if (!std::isgraph(static_cast<unsigned char>(p[i]))) return fail_at(p + i);
  if (n == 0 || n + 1 > size_t(LCAP_ITEM_MAX)) return fail_at(p);
  if (access(p, R_OK) != 0) {
    set_token(p, n);
    lpcaperror("cannot be read.");
    return SCAN_ERR;
  }
  unsigned off = txt_add(reinterpret_cast<const uint8_t *>(p), int(n + 1));
  if (!off) return fail_at(p);
  ps.rec->eff[effno] = uint16_t(off);
  return SCAN_OK;
}

// an attribute letter: its effect number, entering it when new
int letter_effect(int letter) {
  lp_info *r = ps.rec;
  for (int i = 0; i < r->eff_cnt; i++)
    if (static_cast<unsigned char>(r->eff_list[i]) == letter) return LCAP_FIXED + i;
  if (r->eff_cnt >= LCAP_EFF_MAX - LCAP_FIXED) return -1;
  r->eff_list[r->eff_cnt++] = char(letter);
  r->eff_list[r->eff_cnt] = 0;
  return LCAP_FIXED + r->eff_cnt - 1;
}

bool is_letter(const char *p) {
  unsigned char c = static_cast<unsigned char>(p[0]);
  return std::isgraph(c) && !std::isdigit(c) && c != '\'' && c != ',' && c != '-' && p[1] == '=';
}

bool blank_line(const char *p) {
  while (*p == ' ' || *p == '\t') p++;
  return *p == 0;
}

struct keyword {
  const char *text;  // the keyword with its "="
  int effno;         // fixed effect
  bool file;         // followed by a file name
};
const keyword keywords[] = {
    {"INITFILE=", EFF_INITFILE, true},
    {"DEINITFILE=", EFF_DEINITFILE, true},
    {"INIT=", EFF_INIT, false},
    {"DEINIT=", EFF_DEINIT, false},
    {"FL=", EFF_FL, false},
    {"CS=", EFF_CS, false},
    {"LPI=", EFF_LPI, false},
};

// a line that begins between items
scan_result item_line(const char *p) {
  ps.sep = SEP_NONE;
  if (p[0] == '#' || p[0] == ':' || blank_line(p)) return SCAN_OK;
  if (p[0] == ')' && p[1] == ')') return p[2] ? fail_at(p + 2) : SCAN_END;
  if (std::strncmp(p, "MAP=", 4) == 0)
    return start_list(p + 4, -1, ps.route < 0 ? SEP_TMAP : SEP_PMAP);
  if (ps.route < 0) return fail_at(p);
  for (const keyword &k : keywords) {
    size_t n = std::strlen(k.text);
    if (std::strncmp(p, k.text, n) != 0) continue;
    return k.file ? file_name(p + n, k.effno) : start_list(p + n, k.effno, SEP_LAST);
  }
  if (is_letter(p)) {
    int e = letter_effect(static_cast<unsigned char>(p[0]));
    if (e >= 0) return start_list(p + 2, e, SEP_ON);
  }
  return fail_at(p);
}

// an attribute whose "off" text was not stored is left undefined, so that
// no reader looks for it past its "on" text
void drop_half_attribute() {
  if (ps.rec && ps.sep == SEP_LAST && ps.effno >= LCAP_FIXED) ps.rec->eff[ps.effno] = 0;
}

// passes over the rest of a broken entry; its "))" line, or null
const char *skip_entry() {
  while (const char *line = deflt_getline())
    if (line[0] == ')' && line[1] == ')') return line;
  return nullptr;
}

}  // namespace

const char *lcap_init(int slot) {
  ps.route = slot;
  ps.rec = nullptr;
  if (slot >= 0) {
    if (!lp_list || slot < 1 || slot >= lp_max) return skip_entry();
    rec_new(slot);
  }
  const char *stop = nullptr;
  scan_result r = SCAN_OK;
  while (const char *line = deflt_getline()) {
    r = r == SCAN_MORE ? list_line(line) : item_line(line);
    if (r == SCAN_END) stop = line;
    if (r == SCAN_ERR) stop = skip_entry();
    if (r == SCAN_END || r == SCAN_ERR) break;
  }
  if (r == SCAN_MORE && !end_list()) r = SCAN_ERR;  // "-" on the file's last line
  if (r == SCAN_ERR) drop_half_attribute();
  if (ps.rec) rec_finish(ps.rec);
  ps.rec = nullptr;
  return stop;
}

void lcap_copy(int from, int to) {
  if (!lp_list || from == to) return;
  lp_info *r = lp_list[from];
  release(to);
  lp_list[to] = r;
}

void lcap_errfd_for_test(int fd) {
  ps.err_fd = fd;
}

int lcap_ok(int slot) {
  return lp_list && slot >= 0 && slot < lp_max && lp_list[slot] ? 1 : 0;
}

void lcap_reset() {
  if (!lp_list) return;
  for (int i = 0; i < lp_max; i++) release(i);
}

const lp_info *lcap_dumb() {
  if (!dumb_rec.map1) {
    for (int i = 0; i < 256; i++) dumb_map[i] = uint8_t(i);
    dumb_rec.map1 = dumb_map;
    dumb_rec.eff = dumb_eff;
    dumb_rec.eff_list = dumb_list;
    dumb_rec.txt = dumb_txt;
    dumb_rec.txt_len = 2;
    dumb_rec.dumbflg = 0x1f;
  }
  return &dumb_rec;
}

const uint8_t *lcap_text(const lp_info *r, unsigned off, int *len) {
  *len = 0;
  if (!off || !r || off >= unsigned(r->txt_len)) return nullptr;
  if (off + 1 + r->txt[off] > unsigned(r->txt_len)) return nullptr;
  *len = r->txt[off];
  return r->txt + off + 1;
}

unsigned lcap_off_text(const lp_info *r, int idx) {
  if (!r || idx < LCAP_FIXED || idx >= LCAP_FIXED + r->eff_cnt || !r->eff[idx]) return 0;
  unsigned on = r->eff[idx];
  unsigned off = on + 1 + r->txt[on];
  return off < unsigned(r->txt_len) ? off : 0;
}

int lcap_attr(const lp_info *r, int letter) {
  if (!r || letter <= 0) return -1;
  for (int i = 0; i < r->eff_cnt; i++)
    if (static_cast<unsigned char>(r->eff_list[i]) == letter)
      return r->eff[LCAP_FIXED + i] ? LCAP_FIXED + i : -1;
  return -1;
}

const char *lcap_map_block() {
  if (table_out_p == table_out) {
    auto *copy = new (std::nothrow) uint8_t[257];
    if (!copy) {
      zsmsg("OUT OF MEMORY\r\n");
      msg_count++;
      exitrun();
    }
    std::memcpy(copy, table_out, 257);
    table_out_p = copy;
  }
  return lcap_init(-1);
}
