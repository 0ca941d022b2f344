// kmap.cpp: the keyboard map and the character tables.  Owns table_in,
// table_out (and the private copy table_out_p), the output strings, the
// case table and the character classes.  The configuration reader calls
// readmap and readctype once at start-up, before the terminal's keys are
// entered, so that compose and dead keys win where they collide; the
// refresh, the printer and the keyboard reader use the tables.
//
// The map file, one line at a time:
//
//   (empty) | "#" ...           skipped
//   input | output | compose K | dead K   a section starts (K: its key)
//   beep ...                    ignored
//   v v ...                     a data line of the current section
//
//   section   data line          effect
//   input     from to            table_in[from] = to
//   output    c b                table_out[c] = b (b != 0)
//   output    c b1 b2 ...        table_out[c] = 0, c's string is b1 b2 ...
//   compose   c1 c2 r            keys K c1 c2 deliver r
//   dead      c r                keys K c deliver r
//
// Output strings live in three growing arrays, kept closed (a zero byte
// after the characters, the end offset after the offsets) after every
// change, so a file that ends inside its output section leaves them whole:
//
//   out2  c0 c1 ... cn-1 0        characters with a string
//   out3  s0 s1 ... sn-1 end      16-bit start offsets into out4
//   out4  bytes of every string, one after the other (at most 65535)
#include "run/terminal/kmap.h"

#include <locale.h>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/base/zsmsg.h"
#include "run/terminal/keys.h"
#include "run/terminal/tty.h"

static constexpr std::array<uint8_t, 256> identity() {
  std::array<uint8_t, 256> t = {};
  for (int i = 0; i < 256; i++) t[std::size_t(i)] = uint8_t(i);
  return t;
}

std::array<uint8_t, 256> table_in = identity();
uint8_t table_out[257];
uint8_t *table_out_p = table_out;
const uint8_t *tab_out_2;
const uint16_t *tab_out_3;
const uint8_t *tab_out_4;
uint8_t vx_uclc[257];
uint8_t vx_ctype[257];

namespace {

constexpr unsigned OUT_STEP = 256;      // growth of the string arrays
constexpr unsigned OUT_BYTES = 0xFFFF;  // string bytes that 16-bit offsets reach
constexpr uint8_t CASE_LOWER = 1, CASE_UPPER = 2;

// the output strings while they are built (published through tab_out_*)
struct out_strings {
  uint8_t *c;       // out2: the characters, closed by a zero byte
  uint16_t *start;  // out3: their start offsets, closed by the end offset
  uint8_t *bytes;   // out4: the strings
  unsigned n;       // characters with a string
  unsigned cap;     // room in c and start (entries, the closing one included)
  unsigned used;    // bytes in bytes
  unsigned room;    // room in bytes
};
out_strings outs;
uint8_t case_class[256];  // CASE_LOWER, CASE_UPPER by the C library

enum section { SEC_NONE, SEC_INPUT, SEC_OUTPUT, SEC_COMPOSE, SEC_DEAD };

// the reader of one map file
struct map_reader {
  const char *name;  // the file name, for messages
  int line;          // number of the line being read
  section sec;       // the current section
  int compose_key;   // -1 none
  int dead_key;      // -1 none
  bool seen_input, seen_output, seen_compose;
  int errors;  // messages written
};

void publish() {
  tab_out_2 = outs.c;
  tab_out_3 = outs.start;
  tab_out_4 = outs.bytes;
}

void free_outs() {
  std::free(outs.c);
  std::free(outs.start);
  std::free(outs.bytes);
  outs = out_strings{};
  publish();
}

[[noreturn]] void out_of_memory(const map_reader &r) {
  char text[600];
  std::snprintf(text, sizeof text, "OUT OF MEMORY FOR VXMAP=%.500s\r\n", r.name);
  zsmsg(text);
  msg_count++;
  exitrun();
}

void report_error(map_reader &r, const char *msg) {
  char text[700];
  std::snprintf(text, sizeof text, "error in VXMAP=%.500s, line %d: %s\r\n", r.name, r.line, msg);
  zsmsg(text);
  msg_count++;
  r.errors++;
}

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

const char *skip_space(const char *p) {
  while (is_space((unsigned char)*p)) p++;
  return p;
}

int digit_value(int c, int base) {
  int d = c >= '0' && c <= '9'   ? c - '0'
          : c >= 'a' && c <= 'f' ? c - 'a' + 10
          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                 : 99;
  return d < base ? d : -1;
}

// digits in base at p, taken modulo 256; the end of them, null for none
const char *digits(const char *p, int base, int *v) {
  if (digit_value((unsigned char)*p, base) < 0) return nullptr;
  int x = 0;
  for (int d; (d = digit_value((unsigned char)*p, base)) >= 0; p++) x = (x * base + d) & 0xFF;
  *v = x;
  return p;
}

// a quoted character at p (p[0] is the quote); the end of it, null when
// illegal.  A missing closing quote leaves the end at the character.
const char *quoted(const char *p, int *v) {
  const char *q;
  if (!p[1]) return nullptr;
  if (p[1] != '\\' || !p[2]) {
    *v = (unsigned char)p[1];
    q = p + 2;
  } else if (p[2] == '0') {
    q = digits(p + 2, 8, v);
  } else if (p[2] == 'x' && digit_value((unsigned char)p[3], 16) >= 0) {
    q = digits(p + 3, 16, v);
  } else {
    *v = (unsigned char)p[2];
    q = p + 3;
  }
  return *q == '\'' ? q + 1 : q;
}

}  // namespace

int read_value(const char **pp) {
  const char *p = *pp, *q = nullptr;
  int v = -1;
  if (p[0] == '0' && p[1] == 'x')
    q = digits(p + 2, 16, &v);
  else if (p[0] == '0' && digit_value((unsigned char)p[1], 8) >= 0)
    q = digits(p + 1, 8, &v);
  else if (p[0] >= '0' && p[0] <= '9')
    q = digits(p, 10, &v);  // a plain 0 or a number beginning with 1-9
  else if (p[0] == '\'')
    q = quoted(p, &v);
  if (!q) {
    *pp = p + std::strlen(p);
    return -1;
  }
  // text that does not fit the form: the value counts, the rest is skipped
  *pp = *q && !is_space((unsigned char)*q) ? q + std::strlen(q) : skip_space(q);
  return v;
}

namespace {

// ---- output strings -------------------------------------------------------

void grow_outs(const map_reader &r, unsigned len) {
  if (outs.n + 2 > outs.cap) {
    unsigned cap = outs.cap + OUT_STEP;
    auto *c = static_cast<uint8_t *>(std::realloc(outs.c, cap));
    if (c) outs.c = c;
    auto *s = static_cast<uint16_t *>(std::realloc(outs.start, cap * sizeof(uint16_t)));
    if (s) outs.start = s;
    if (!c || !s) out_of_memory(r);
    outs.cap = cap;
  }
  if (outs.used + len > outs.room) {
    unsigned room = (outs.used + len + OUT_STEP - 1) / OUT_STEP * OUT_STEP;
    auto *b = static_cast<uint8_t *>(std::realloc(outs.bytes, room));
    if (!b) out_of_memory(r);
    outs.bytes = b;
    outs.room = room;
  }
}

// removes the string of entry i: its bytes and its entry
void drop_string(unsigned i) {
  unsigned from = outs.start[i], to = outs.start[i + 1], len = to - from;
  std::memmove(outs.bytes + from, outs.bytes + to, outs.used - to);
  outs.used -= len;
  for (unsigned k = i; k < outs.n; k++) {
    outs.c[k] = outs.c[k + 1];
    outs.start[k] = uint16_t(outs.start[k + 1] - len);
  }
  outs.n--;
}

// c has no output string any more
void forget_string(uint8_t c) {
  for (unsigned i = 0; i < outs.n; i++)
    if (outs.c[i] == c) {
      drop_string(i);
      publish();
      return;
    }
}

// c's output string becomes the len bytes at s (a later one replaces an
// earlier one); false when the strings would pass 65535 bytes
bool add_string(const map_reader &r, uint8_t c, const uint8_t *s, unsigned len) {
  forget_string(c);
  if (outs.used + len > OUT_BYTES) return false;
  grow_outs(r, len);
  outs.c[outs.n] = c;
  outs.start[outs.n] = uint16_t(outs.used);
  if (len) std::memcpy(outs.bytes + outs.used, s, len);
  outs.used += len;
  outs.n++;
  outs.c[outs.n] = 0;
  outs.start[outs.n] = uint16_t(outs.used);
  publish();
  return true;
}

// cuts the arrays to their used size (at the end of an output section)
void shrink_outs() {
  if (!outs.c) return;
  if (auto *c = static_cast<uint8_t *>(std::realloc(outs.c, outs.n + 1))) outs.c = c;
  if (auto *s = static_cast<uint16_t *>(std::realloc(outs.start, (outs.n + 1) * sizeof(uint16_t))))
    outs.start = s;
  if (outs.used)
    if (auto *b = static_cast<uint8_t *>(std::realloc(outs.bytes, outs.used))) outs.bytes = b;
  outs.cap = outs.n + 1;
  outs.room = outs.used ? outs.used : outs.room;
  publish();
}

// ---- sections -------------------------------------------------------------

void private_output_table(const map_reader &r) {
  if (table_out_p != table_out) return;  // the defaults file made one already
  auto *copy = new (std::nothrow) uint8_t[257];
  if (!copy) out_of_memory(r);
  std::memcpy(copy, table_out, 257);
  table_out_p = copy;
}

void beg_section(map_reader &r, const char *rest) {
  const char *p = skip_space(rest);
  switch (r.sec) {
    case SEC_INPUT:
      if (r.seen_input) report_error(r, "input already seen");
      r.seen_input = true;
      break;
    case SEC_OUTPUT:
      if (r.seen_output) report_error(r, "output already seen");
      r.seen_output = true;
      private_output_table(r);
      break;
    case SEC_COMPOSE:
      if (r.seen_compose) {
        report_error(r, "compose already seen");
        break;
      }
      r.seen_compose = true;
      if (int k = read_value(&p); k >= 0)
        r.compose_key = k;
      else
        report_error(r, "illegal character value");
      break;
    case SEC_DEAD:
      if (int k = read_value(&p); k >= 0)
        r.dead_key = k;
      else
        report_error(r, "illegal character value");
      break;
    case SEC_NONE:
      break;
  }
}

void end_section(map_reader &r) {
  if (r.sec == SEC_OUTPUT) shrink_outs();
}

// enters a compose or dead-key sequence; its result goes through table_in
void add_sequence(map_reader &r, const uint8_t *seq, int len, int result) {
  int e = add_fkey(seq, len, result, KBD_MAP);
  if (e < 0)
    report_error(r, "keymap table full");
  else if (e == 0)
    report_error(r, "logic error");
}

void output_line(map_reader &r, const uint8_t *v, int n) {
  if (n == 2 && v[1] != 0) {
    table_out_p[v[0]] = v[1];
    forget_string(v[0]);
    return;
  }
  if (v[0] == 0) {  // the zero byte closes the list: it cannot have a string
    report_error(r, "illegal character value");
    return;
  }
  if (!add_string(r, v[0], v + 1, unsigned(n - 1))) {
    report_error(r, "keymap table full");
    return;
  }
  table_out_p[v[0]] = 0;
}

void proc_section(map_reader &r, const char *line) {
  if (r.sec == SEC_NONE) {
    report_error(r, "no section keyword seen");
    return;
  }
  static_assert(KMAP_LINE_MAX / 2 + 1 < 0x4000);
  uint8_t v[KMAP_LINE_MAX / 2 + 1];  // a value takes at least two bytes of the line
  int need = r.sec == SEC_COMPOSE ? 3 : 2, n = 0, x = 0;
  const char *p = skip_space(line);
  while (*p && (x = read_value(&p)) >= 0) v[n++] = uint8_t(x);
  if (x < 0 || n < need) {  // an illegal value (the rest is ignored), or too few
    report_error(r, "illegal character value");
    return;
  }
  switch (r.sec) {
    case SEC_INPUT:
      table_in[v[0]] = v[1];
      break;
    case SEC_OUTPUT:
      output_line(r, v, n);
      break;
    case SEC_COMPOSE:
      if (r.compose_key >= 0) {
        uint8_t seq[3] = {uint8_t(r.compose_key), v[0], v[1]};
        add_sequence(r, seq, 3, v[2]);
      }
      break;
    case SEC_DEAD:
      if (r.dead_key >= 0) {
        uint8_t seq[2] = {uint8_t(r.dead_key), v[0]};
        add_sequence(r, seq, 2, v[1]);
      }
      break;
    case SEC_NONE:
      break;
  }
}

// the first word of line: its length, *word pointing at it
int first_word(const char *line, const char **word) {
  const char *p = skip_space(line), *q = p;
  while (*q && !is_space((unsigned char)*q)) q++;
  *word = p;
  return int(q - p);
}

bool word_is(const char *w, int len, const char *key) {
  return int(std::strlen(key)) == len && std::strncmp(w, key, size_t(len)) == 0;
}

// One line of the file (line end cut off).
void map_line(map_reader &r, const char *line) {
  const char *w;
  int len = first_word(line, &w);
  if (len == 0 || word_is(w, len, "#")) return;
  static const struct {
    const char *word;
    section sec;
  } keywords[] = {
      {"input", SEC_INPUT}, {"output", SEC_OUTPUT}, {"compose", SEC_COMPOSE}, {"dead", SEC_DEAD}};
  for (const auto &k : keywords)
    if (word_is(w, len, k.word)) {
      end_section(r);
      r.sec = k.sec;
      beg_section(r, w + len);
      return;
    }
  if (word_is(w, len, "beep")) return;
  proc_section(r, line);
}

// Reads the lines of f, each cut at its line end (and at a zero byte);
// calls fn(line) for each, or too_long() for a line past KMAP_LINE_MAX.
template <typename Line, typename TooLong>
void each_line(FILE *f, int *number, Line fn, TooLong too_long) {
  char *buf = nullptr;
  size_t cap = 0;
  ssize_t n;
  while ((n = getline(&buf, &cap, f)) >= 0) {
    ++*number;
    if (n > 0 && buf[n - 1] == '\n') buf[--n] = 0;
    if (std::strlen(buf) > size_t(KMAP_LINE_MAX))
      too_long();
    else
      fn(buf);
  }
  std::free(buf);
}

// ---- case table -----------------------------------------------------------

void build_case_table() {
  std::memset(vx_uclc, 0, sizeof vx_uclc);
  std::memset(case_class, 0, sizeof case_class);
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  for (int c = 0; c < 256; c++) {
    bool lower = loc ? islower_l(c, loc) : std::islower(c);
    bool upper = loc ? isupper_l(c, loc) : std::isupper(c);
    int partner = lower   ? (loc ? toupper_l(c, loc) : std::toupper(c))
                  : upper ? (loc ? tolower_l(c, loc) : std::tolower(c))
                          : c;
    if (partner == c || partner < 0 || partner > 255) continue;  // no partner in one byte
    vx_uclc[c + 1] = uint8_t(partner);
    case_class[c] = lower ? CASE_LOWER : CASE_UPPER;
  }
  if (loc) freelocale(loc);
}

// marks of the character-type letters
int class_mark(int letter, int previous) {
  switch (letter) {
    case 'B':
      return VXC_B;
    case 'C':
      return VXC_C;
    case 'P':
      return VXC_P;
    case 'D':
    case 'L':
    case 'S':
    case 'U':
    case 'X':
      return 0;
    default:
      return previous;
  }
}

void ctype_line(const char *line) {
  const char *w;
  int len = first_word(line, &w);
  if (len == 0 || word_is(w, len, "#")) return;
  const char *p = w;
  int c = read_value(&p);
  if (c < 0) return;
  int mark = 0;
  for (; *p && !is_space((unsigned char)*p); p++) {
    mark = class_mark((unsigned char)*p, mark);
    vx_ctype[c + 1] |= uint8_t(mark);
  }
}

}  // namespace

void kmap_init() {
  if (table_out_p != table_out) delete[] table_out_p;  // a private copy (new[])
  table_in = identity();
  for (int i = 0; i < 256; i++) table_out[i] = uint8_t(i);
  table_out[256] = 0;
  table_out_p = table_out;
  free_outs();
  std::memset(vx_ctype, 0, sizeof vx_ctype);
  build_case_table();
}

int readmap(const char *file) {
  if (!file || !*file) return 0;
  FILE *f = std::fopen(file, "r");
  if (!f) return 0;
  map_reader r = {file, 0, SEC_NONE, -1, -1, false, false, false, 0};
  each_line(
      f, &r.line, [&r](const char *line) { map_line(r, line); },
      [&r]() { report_error(r, "line too long"); });
  end_section(r);
  std::fclose(f);
  return r.errors;
}

int readctype(const char *file) {
  build_case_table();
  if (!file || !*file) return 0;
  FILE *f = std::fopen(file, "r");
  if (!f) return -1;
  int line = 0;
  each_line(f, &line, ctype_line, []() {});
  std::fclose(f);
  return 0;
}

int kmap_outstr(int c, const uint8_t **bytes) {
  for (unsigned i = 0; i < outs.n; i++)
    if (outs.c[i] == c) {
      *bytes = outs.bytes + outs.start[i];
      return outs.start[i + 1] - outs.start[i];
    }
  return -1;
}

int vx_toupper(int c) {
  if (c < 0 || c > 255 || !(case_class[c] & CASE_LOWER)) return c;
  return vx_uclc[c + 1];
}

int vx_tolower(int c) {
  if (c < 0 || c > 255 || !(case_class[c] & CASE_UPPER)) return c;
  return vx_uclc[c + 1];
}

char *vx_strupr(char *s) {
  for (char *p = s; *p; p++) *p = char(vx_toupper((unsigned char)*p));
  return s;
}

char *vx_strlwr(char *s) {
  for (char *p = s; *p; p++) *p = char(vx_tolower((unsigned char)*p));
  return s;
}
