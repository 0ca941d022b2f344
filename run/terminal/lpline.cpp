// lpline.cpp: the print job: collecting print bytes into lines, parameter
// lines, attribute lines, and the translation of characters and print
// attributes through the printer's capability record.  Owns the job's
// state; writes through lp_put.  Called by char_to_lp's callers (the
// printer unit) and by lp.cpp at open, flush and close.
//
// Job states and lines:
//   1 nothing printed  --ESC "P" line (over 4 bytes)--> params(1), druckinit, 2
//                      --other line--> params(0), druckinit, then as in 2
//   2 printing         --ESC "P" line--> params(2), druckinit
//                      --line ending in the LPST marker--> held, 3
//                      --other line--> lineout
//   3 attribute line   --the next line--> alineout of the held line with it, 2
//
// Parameter line: ESC "P" then up to 255 bytes split at "," CR LF:
//   A...     translation off          C<x>   global attribute x
//   L<n>     form length n            N...   form feeds become line feeds
//   route=<name>, or one digit 1-9: the printer variable LP<name> selects the
//   printer; everything not listed (route= too) goes on to the spooler.
#include <unistd.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/config/lptab.h"
#include "run/config/settings.h"
#include "run/terminal/kmap.h"
#include "run/terminal/lcap.h"
#include "run/terminal/lp.h"
#include "run/terminal/tcap.h"

namespace {

constexpr int LP_PARAMS = 29;      // parameters of one parameter line
constexpr int LP_PARAM_MAX = 255;  // bytes of a parameter line read
constexpr int DR_INIT = 1, DR_FL = 2, DR_GLOBAL = 4;

struct lpl_state {
  uint8_t line[LP_LINE];    // the collected (or held) print line
  int cc;                   // its length
  uint8_t aline[LP_LINE];   // the attribute line of the held line
  int acc;                  // bytes collected into aline
  int state;                // 1 nothing printed, 2 printing, 3 attribute line due
  const lp_info *info;      // the record in use
  int route;                // printer slot of the record, -1 until chosen
  std::string start_route;  // the route the job starts with (device lpN)
  int attrflg;              // 1 translate through the record
  int translate;            // translation wanted (no "A" parameter)
  int globattr;             // global attribute letter, 'a' none
  int length;               // form length in lines
  int ffeed;                // 1 send form feeds, 0 line feeds instead
  int dr_flag;              // DR_INIT, DR_FL due; DR_GLOBAL active
  int lplineno;             // line on the page, from 1
  int esc;                  // the last byte sent was ESC
};
lpl_state lpl;

void put_text(unsigned off) {
  int n = 0;
  if (const uint8_t *p = lcap_text(lpl.info, off, &n)) lp_put(p, n);
}

void put_byte(int b) {
  uint8_t c = uint8_t(b);
  lp_put(&c, 1);
}

// one byte through the record's maps, counting lines and pages
void out(int ch) {
  if (ch == '\n') lpl.lplineno++;
  if (ch == '\f') {
    if (!lpl.ffeed) {
      for (; lpl.lplineno <= lpl.length; lpl.lplineno++) put_byte('\n');
      lpl.lplineno = 1;
      return;
    }
    lpl.lplineno = 1;
  }
  if (lpl.esc) {
    lpl.esc = 0;
    put_byte(ch);
    return;
  }
  lpl.esc = ch == 27;
  if (!lpl.attrflg) {
    put_byte(table_out_p[ch]);
    return;
  }
  put_byte(lpl.info->map1[ch]);
  if (lpl.info->map2 && lpl.info->map2[ch]) put_text(lpl.info->map2[ch]);
}

// an attribute's "on" (begin 1) or "off" sequence; only with translation
void putattr(int letter, int begin) {
  if (letter == ' ' || letter == 0 || !lpl.attrflg) return;
  int idx = lcap_attr(lpl.info, letter);
  if (idx < 0) return;
  if (begin) {
    put_text(lpl.info->eff[idx]);
    return;
  }
  put_text(lcap_off_text(lpl.info, idx));
  if (lpl.dr_flag & DR_GLOBAL) putattr(lpl.globattr, 1);
}

bool line_end(int c) {
  return c == '\n' || c == '\f' || c == '\r';
}

// removes the blanks before the line end of buf; its new length
int linespace(uint8_t *buf, int n) {
  int e = n;
  while (e > 0 && line_end(buf[e - 1])) e--;
  if (e == n) return n;  // no line end: a piece of a longer line
  int b = e;
  while (b > 0 && buf[b - 1] == ' ') b--;
  std::memmove(buf + b, buf + e, size_t(n - e));
  return n - (e - b);
}

void lineout() {
  int n = linespace(lpl.line, lpl.cc);
  for (int i = 0; i < n; i++) out(lpl.line[i]);
  lpl.cc = 0;
}

// the held line with its attribute line
void alineout() {
  int n = linespace(lpl.line, lpl.cc);
  bool has_d = lcap_attr(lpl.info, 'D') >= 0;
  for (int i = 0; i < LP_LINE; i++) {
    uint8_t &a = lpl.aline[i];
    if (line_end(a)) a = ' ';
    if (a == 'D' && (i >= n || lpl.line[i] == ' ')) a = ' ';
    if (a == 'D' && !has_d) a = 'C';
  }
  int cur = ' ';
  for (int i = 0; i < n; i++) {
    int c = lpl.line[i];
    int att = line_end(c) ? ' ' : lpl.aline[i];
    if (att != cur) {
      putattr(cur, 0);
      putattr(att, 1);
      cur = att;
    }
    if (c != '\n' && c != '\f') out(c);
  }
  putattr(cur, 0);
  if (n > 0 && (lpl.line[n - 1] == '\n' || lpl.line[n - 1] == '\f')) out(lpl.line[n - 1]);
  lpl.cc = 0;
}

// the form-length sequence for the current length
void formlength() {
  int fl = lpl.info->eff[EFF_FL];
  if (!lpl.attrflg || !lpl.ffeed || lpl.length <= 0 || !fl) return;
  int n = 0;
  const uint8_t *p = lcap_text(lpl.info, unsigned(fl), &n);
  if (!p) return;
  std::string s(reinterpret_cast<const char *>(p), size_t(n < 125 ? n : 125));
  s.resize(std::strlen(s.c_str()));
  size_t pct = s.find('%');
  if (pct == std::string::npos)
    s += "%.";
  else if (pct == s.size() - 1)
    s += 'd';
  const char *up = vx_up, *bc = vx_bc;
  vx_up = vx_bc = nullptr;  // no cursor-motion fix-ups in a printer sequence
  const char *e = vx_tgoto(s.c_str(), lpl.length, lpl.length);
  vx_up = up;
  vx_bc = bc;
  lp_put(reinterpret_cast<const uint8_t *>(e), tgoto_len);
}

void sendfile_effect(int idx) {
  int n = 0;
  const uint8_t *p = lcap_text(lpl.info, lpl.info->eff[idx], &n);
  if (p && n > 0 && p[n - 1] == 0) lp_sendfile(reinterpret_cast<const char *>(p));
}

void druckinit() {
  if (lpl.dr_flag & DR_INIT) put_text(lpl.info->eff[EFF_INIT]);
  if (lpl.dr_flag & DR_FL) formlength();
  lpl.dr_flag &= ~(DR_INIT | DR_FL | DR_GLOBAL);
  if (lpl.globattr != 'a') {
    putattr(lpl.globattr, 1);
    if (lpl.attrflg && lcap_attr(lpl.info, lpl.globattr) >= 0) lpl.dr_flag |= DR_GLOBAL;
  }
  sendfile_effect(EFF_INITFILE);
}

void druckdeinit() {
  if (lpl.state == 1) return;
  sendfile_effect(EFF_DEINITFILE);
  lpl.dr_flag &= ~DR_GLOBAL;
  if (lpl.globattr != 'a') putattr(lpl.globattr, 0);
  put_text(lpl.info->eff[EFF_DEINIT]);
}

bool param_line(const uint8_t *p, int n) {
  return n > 4 && p[0] == 27 && p[1] == 'P';
}

// the parameters of a job start (pline 0), of its first line (1) or of a
// line in mid-job (2)
void params(int pline) {
  if (pline < 2) {
    lpl.length = vx_fl;
    lpl.ffeed = 1;
    lpl.translate = 1;
    lpl.globattr = 'a';
  }
  std::string name, passed;
  bool named = false;
  if (pline) {
    int n = lpl.cc - 2 < LP_PARAM_MAX ? lpl.cc - 2 : LP_PARAM_MAX;
    std::string text(reinterpret_cast<const char *>(lpl.line + 2), size_t(n));
    size_t pos = 0;
    for (int count = 0; pos <= text.size() && count < LP_PARAMS; count++) {
      size_t end = text.find_first_of(",\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string p = text.substr(pos, end - pos);
      pos = end + 1;
      if (p.empty()) continue;
      if (p[0] == 'A') {
        lpl.translate = 0;
      } else if (p[0] == 'C') {
        lpl.globattr = p.size() > 1 && std::isprint(static_cast<unsigned char>(p[1])) ? p[1] : 'a';
      } else if (p[0] == 'L') {
        lpl.length = std::atoi(p.c_str() + 1);
        lpl.dr_flag |= DR_FL;
      } else if (p[0] == 'N') {
        lpl.ffeed = 0;
      } else if (p.size() == 1 && p[0] >= '1' && p[0] <= '9') {
        name = p;
        named = true;
      } else {
        if (p.compare(0, 6, "route=") == 0) {
          name = p.substr(6);
          named = true;
        }
        passed += passed.empty() ? p : "," + p;
      }
    }
  }
  if (zrrmp == 2 && pline == 1 && !passed.empty()) {
    std::string spool = "\x1bP" + passed + "\n";
    lp_put(reinterpret_cast<const uint8_t *>(spool.data()), int(spool.size()));
  }
  if (!named && pline < 2) name = lpl.start_route;
  int slot = lpl.route;  // a line in mid-job keeps the printer it does not name
  if (named || pline < 2) slot = name.empty() ? 0 : getlcapidx(name.c_str());
  if (slot < 1 || slot >= lp_max) slot = 0;
  bool changed = slot != lpl.route;
  if (pline == 2 && changed) druckdeinit();
  lpl.route = slot;
  bool record = slot && lcap_ok(slot) && zrrmp != 3;
  lpl.info = record ? lp_list[slot] : lcap_dumb();
  lpl.attrflg = record && lpl.translate;
  if (pline < 2 || changed) lpl.dr_flag |= DR_INIT | DR_FL;
}

// a line that ends in the marker before its line end loses the marker
bool take_marker() {
  const char *m = lpst;
  if (!m || std::strlen(m) < 2 || lpl.cc < 1 || lpl.line[lpl.cc - 1] != '\n') return false;
  int e = lpl.cc - 1;
  if (e > 0 && lpl.line[e - 1] == '\r') e--;
  if (e < 2 || lpl.line[e - 2] != uint8_t(m[0]) || lpl.line[e - 1] != uint8_t(m[1])) return false;
  std::memmove(lpl.line + e - 2, lpl.line + e, size_t(lpl.cc - e));
  lpl.cc -= 2;
  return true;
}

}  // namespace

void lcap_route(const char *digits) {
  lpl.start_route = digits ? digits : "";
}

void lcap_open() {
  lpl.state = 1;
  lpl.cc = lpl.acc = 0;
  lpl.route = -1;
  lpl.lplineno = 1;
  lpl.esc = 0;
  lpl.dr_flag = 0;
  lpl.info = lcap_dumb();
  lpl.attrflg = 0;
  lpl.globattr = 'a';
  lpl.start_route.clear();
}

void lcap_print(int n) {
  lpl.cc = n;
  if (lp_debug) {
    lp_put(lpl.line, n);
    lpl.cc = 0;
    return;
  }
  if (lpl.state == 3) {
    lpl.state = 2;
    alineout();
    return;
  }
  bool param = param_line(lpl.line, n);
  if (lpl.state == 1) {
    lpl.state = 2;
    params(param ? 1 : 0);
    druckinit();
    if (param) {
      lpl.cc = 0;
      return;
    }
  } else if (param) {
    params(2);
    druckinit();
    lpl.cc = 0;
    return;
  }
  if (take_marker()) {
    lpl.state = 3;
    std::memset(lpl.aline, ' ', sizeof lpl.aline);
    lpl.acc = 0;
    return;
  }
  lineout();
}

void lcap_close() {
  druckdeinit();
}

void lcap_flushline(int uncond) {
  if (lpl.state == 3) {
    if (!uncond) return;
    lpl.state = 2;
    alineout();
    return;
  }
  if (lpl.cc > 0 && (uncond || lpl.line[lpl.cc - 1] == '\n' || lpl.line[lpl.cc - 1] == '\f'))
    lcap_print(lpl.cc);
}

void char_to_lp(int ch) {
  if (!zprlck) return;
  uint8_t c = uint8_t(ch);
  bool end = c == '\n' || c == '\f';
  if (lpl.state == 3) {  // the attribute line: cut at the buffer's end
    if (lpl.acc < LP_LINE) lpl.aline[lpl.acc++] = c;
    if (end) lcap_print(lpl.cc);
  } else {
    lpl.line[lpl.cc++] = c;
    if (end || lpl.cc == LP_LINE) lcap_print(lpl.cc);
  }
  if (!lp_buffered && end) lpflush(0);
}
