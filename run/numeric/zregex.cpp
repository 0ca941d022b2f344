// zregex.cpp: the pattern compiler and the backtracking matcher (see
// zregex.h).  Owns zre, the compiled program and the positions of the
// last match, and the memory of failed attempts.
//
// A repeated element takes as many characters as it can, then gives them
// back one at a time, trying the rest of the program after each.  Whether
// a rest matches depends only on where it starts and on the captures of
// the groups it refers to that opened before it; so failed tries are
// remembered with exactly that and not made again:
//   rest refers to no outer group     one bit per (rest, position), and
//                                     the span of positions where a
//                                     repetition's give-back failed
//   to one or two outer groups        that span, in a table keyed by
//                                     (rest, their captures), emptied
//                                     when half full
//   to more                           not remembered
// A search without back-references thus costs at most one try of each
// rest at each position, whatever the nesting of repetitions, and a
// give-back passes over the positions already known to fail at once.
// With back-references a search can still take long; it looks at the
// break key now and then and gives up (no match) when it was pressed,
// which the dispatch loop then reports.
#include "run/numeric/zregex.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "run/base/runstate.h"

zre_state zre;

namespace {

enum : uint8_t {
  CBRA = 2,
  CCHR = 4,
  CDOT = 8,
  CCL = 12,
  CDOL = 20,
  CCEOF = 22,
  CKET = 24,
  CBACK = 36,
  STAR = 1,
  RNGE = 3,
};

constexpr int MAP_BYTES = 16;  // bit map of a class: 128 bits

// The pattern being compiled.
struct pattern_in {
  const char *s;  // the pattern
  int len;        // its length
  int pos;        // next character
  int seof;       // the delimiter

  int peek() const { return pos < len ? static_cast<unsigned char>(s[pos]) : 0; }
  int get() { return pos < len ? static_cast<unsigned char>(s[pos++]) : (pos++, 0); }
  bool at_end(int c) const { return c == seof || c == '\n'; }
};

constexpr uint32_t BREAK_POLL = 1 << 16;  // advance calls between looks at the break key
constexpr uint32_t SPAN_MIN = 8;          // the shortest give-back remembered as a span
constexpr int DEP_MAX = 2;                // outer groups a remembered rest may refer to
constexpr int TABLE_SIZE = 1 << 12;       // entries of the table of dependent rests

// the outer groups a rest refers to
struct rest_deps {
  uint32_t search;         // the search it was computed for
  int8_t n;                // how many; -1 for more than DEP_MAX
  uint8_t g[DEP_MAX];      // their numbers
  bool with_end[DEP_MAX];  // the group ends before the rest: its end counts too
};

// the positions where a rest that refers to outer groups failed, for
// one set of their captures
struct dep_entry {
  uint32_t gen;                // the search it belongs to; 0 empty
  uint32_t rest;               // program offset
  uint32_t lo, hi;             // the failed positions lo..hi
  uintptr_t cap[2 * DEP_MAX];  // start and end of each group it refers to
};

// positions lo..hi of the subject where a rest is known to fail
struct fail_span {
  uint32_t search;  // the search it belongs to (rests without outer groups)
  bool valid;       // the span holds positions
  uint32_t lo, hi;  // the positions
};

// the last run of characters a repeated element was found to match: every
// character from lo up to hi matches it, the one at hi (or the end) not
struct match_run {
  uint32_t search;      // the search it belongs to
  const char *lo, *hi;  // the run
};

// Failed tries of the rest of the program.
struct zre_memo {
  std::vector<uint64_t> bits;    // (rest, position) of rests without outer groups
  bool live;                     // bits cleared for the current search
  int positions;                 // subject length + 1
  const char *subject;           // start of the subject
  const char *prog;              // start of the program
  rest_deps deps[ZRE_ESIZE];     // per program offset
  fail_span spans[ZRE_ESIZE];    // per program offset, rests without outer groups
  match_run runs[ZRE_ESIZE];     // per program offset of a repeated element
  uint32_t search;               // number of the current search
  bool refs;                     // the program has back-references
  std::vector<dep_entry> table;  // open addressing, by hash
  uint32_t gen;                  // generation of the current search's entries
  uint32_t used;                 // entries of this generation
  bool table_live;               // gen was advanced for the current search
  uint32_t calls;                // advance calls since the break key was last looked at
  bool broken;                   // the break key ended the search
};
zre_memo memo;

// ---- compiling ------------------------------------------------------------

bool room(const char *ep, const char *endbuf, int n) {
  return endbuf - ep >= n;
}

void set_member(char *map, int c) {
  c &= 0x7F;
  map[c >> 3] = char(map[c >> 3] | 1 << (c & 7));
}

// A class after "["; ep points at the bit map.  0 or an error.
int compile_class(pattern_in &in, char *map) {
  int c = in.get();
  bool negate = c == '^';
  if (negate) c = in.get();
  int prev = -1;  // the last member, for a range
  do {
    if (c == 0 || c == '\n') return ZRE_NOBRACKET;
    if (c == '-' && prev >= 0 && in.peek() != ']') {
      c = in.get();
      if (c == 0 || c == '\n') return ZRE_NOBRACKET;
      if (c == '\\') c = in.peek() == 'n' ? (in.get(), '\n') : in.get();
      if (c == 0) return ZRE_NOBRACKET;
      for (int k = prev + 1; k <= c; k++) set_member(map, k);
      prev = -1;
      continue;
    }
    if (c == '\\') {
      c = in.get();
      if (c == 'n') c = '\n';
      if (c == 0) return ZRE_NOBRACKET;
    }
    set_member(map, c);
    prev = c;
  } while ((c = in.get()) != ']');
  if (negate) {
    for (int i = 0; i < MAP_BYTES; i++) map[i] = char(~map[i]);
    map[0] = char(map[0] & ~1);  // never NUL
  }
  return 0;
}

// A bound of an interval: decimal digits up to 254.
int interval_number(pattern_in &in, int *v) {
  int c = in.peek();
  if (c < '0' || c > '9') return ZRE_NONUM;
  int n = 0;
  while ((c = in.peek()) >= '0' && c <= '9') {
    in.get();
    n = n * 10 + (c - '0');
    if (n > 254) return ZRE_BIGNUM;
  }
  *v = n;
  return 0;
}

// The bounds after "\{": m, "m,", or "m,n", then "\}".
int compile_interval(pattern_in &in, int *m, int *n) {
  if (int e = interval_number(in, m)) return e;
  *n = *m;
  if (in.peek() == ',') {
    in.get();
    if (in.peek() == '\\') {
      *n = 255;
    } else if (int e = interval_number(in, n)) {
      return e;
    }
  }
  int c = in.get();
  if (c == ',') return ZRE_COMMAS;
  if (c != '\\' || in.get() != '}') return ZRE_NOBRACE;
  if (*n < *m) return ZRE_ORDER;
  return 0;
}

// whether "*" (intervals false) or "\{" may repeat the element at lastep:
// "*" a character, ".", a class or a back-reference, also when starred
// already; "\{" the first three, not yet repeated
bool repeatable(const char *lastep, bool intervals) {
  if (!lastep) return false;
  int op = static_cast<unsigned char>(*lastep);
  if (op == CCHR || op == CDOT || op == CCL) return true;
  if (intervals) return false;
  return op == CBACK || op == (CCHR | STAR) || op == (CDOT | STAR) || op == (CCL | STAR) ||
         op == (CBACK | STAR);
}

}  // namespace

int compile(const char *instring, char *ep, const char *endbuf, int seof, int lg) {
  pattern_in in{instring, lg, 0, seof};
  std::memset(ep, 0, size_t(endbuf - ep));
  zre.nbra = zre.ebra = zre.circf = 0;
  int c = in.peek();
  if (in.at_end(c)) return ZRE_EMPTY;
  if (c == '^') {
    zre.circf = 1;
    in.get();
  }
  int open[ZRE_NBRA], nopen = 0;
  unsigned closed = 0;
  char *lastep = nullptr;
  for (;;) {
    if (!room(ep, endbuf, 1)) return ZRE_OVERFLOW;
    c = in.get();
    if (in.at_end(c)) {
      *ep = char(CCEOF);
      return 0;
    }
    switch (c) {
      case '.':
        lastep = ep;
        *ep++ = char(CDOT);
        continue;
      case '*':
        if (!repeatable(lastep, false)) break;
        *lastep = char(*lastep | STAR);  // a second "*" changes nothing
        continue;
      case '$':
        if (!in.at_end(in.peek())) break;
        lastep = nullptr;
        *ep++ = char(CDOL);
        continue;
      case '[':
        if (!room(ep, endbuf, 1 + MAP_BYTES)) return ZRE_OVERFLOW;
        lastep = ep;
        *ep++ = char(CCL);
        if (int e = compile_class(in, ep)) return e;
        ep += MAP_BYTES;
        continue;
      case '\\': {
        c = in.get();
        if (c == '\n' || c == 0) return ZRE_BADESC;
        if (c == '(') {
          if (zre.nbra >= ZRE_NBRA) return ZRE_NGROUPS;
          if (!room(ep, endbuf, 2)) return ZRE_OVERFLOW;
          lastep = ep;
          *ep++ = char(CBRA);
          *ep++ = char(zre.nbra);
          open[nopen++] = zre.nbra++;
          continue;
        }
        if (c == ')') {
          if (nopen == 0) return ZRE_UNOPENED;
          if (!room(ep, endbuf, 2)) return ZRE_OVERFLOW;
          int g = open[--nopen];
          lastep = ep;
          *ep++ = char(CKET);
          *ep++ = char(g);
          closed |= 1u << g;
          zre.ebra++;
          continue;
        }
        if (c == '{' && repeatable(lastep, true)) {
          int m, n;
          if (int e = compile_interval(in, &m, &n)) return e;
          if (!room(ep, endbuf, 2)) return ZRE_OVERFLOW;
          *lastep = char(*lastep | RNGE);
          *ep++ = char(m);
          *ep++ = char(n);
          lastep = nullptr;
          continue;
        }
        if (c >= '1' && c <= '9') {
          int g = c - '1';
          if (!(closed >> g & 1)) return ZRE_BADREF;
          if (!room(ep, endbuf, 2)) return ZRE_OVERFLOW;
          lastep = ep;
          *ep++ = char(CBACK);
          *ep++ = char(g);
          continue;
        }
        if (c == 'n') c = '\n';
        break;
      }
      default:
        break;
    }
    if (!room(ep, endbuf, 2)) return ZRE_OVERFLOW;  // an ordinary character
    lastep = ep;
    *ep++ = char(CCHR);
    *ep++ = char(c);
  }
}

void getrnge(const char *str) {
  zre.low = static_cast<unsigned char>(str[0]);
  int high = static_cast<unsigned char>(str[1]);
  zre.size = (high == 255 ? ZRE_UNBOUND : high) - zre.low;
}

int ecmp(const char *a, const char *b, int count) {
  return std::memcmp(a, b, size_t(count)) == 0;
}

namespace {

inline bool in_class(const char *map, unsigned char c) {
  c &= 0x7F;
  return map[c >> 3] >> (c & 7) & 1;
}

// whether the single element at ep (without its repetition) matches at lp
[[gnu::always_inline]] inline bool one(const char *ep, const char *lp, const char *end) {
  if (lp >= end) return false;
  switch (static_cast<unsigned char>(*ep) & ~RNGE) {
    case CCHR:
      return *lp == ep[1];
    case CDOT:
      return *lp != 0;
    default:
      return in_class(ep + 1, static_cast<unsigned char>(*lp));
  }
}

int element_size(int op) {
  op &= ~RNGE;
  return op == CCHR ? 2 : op == CDOT ? 1 : 1 + MAP_BYTES;
}

// bytes of the element at ep; 0 at the end of the program
int element_length(const char *ep) {
  int op = static_cast<unsigned char>(*ep);
  switch (op) {
    case CBRA:
    case CKET:
    case CBACK:
    case CBACK | STAR:
      return 2;
    case CDOL:
      return 1;
    case CCHR:
    case CDOT:
    case CCL:
    case CCHR | STAR:
    case CDOT | STAR:
    case CCL | STAR:
      return element_size(op);
    case CCHR | RNGE:
    case CDOT | RNGE:
    case CCL | RNGE:
      return element_size(op) + 2;
    default:  // the end, or a program this compiler never writes
      return 0;
  }
}

// The outer groups the rest refers to: opened before it, referred to
// after their end.  A group that ends inside the rest counts by its start
// only (its end is set anew before the reference).
const rest_deps &deps_of(const char *rest) {
  rest_deps &d = memo.deps[rest - memo.prog];
  if (d.search == memo.search) return d;
  d = rest_deps{memo.search, 0, {}, {}};
  unsigned opened = 0, closed = 0;
  const char *end = memo.prog + ZRE_ESIZE;
  for (const char *ep = rest; ep < end && d.n >= 0;) {
    int op = static_cast<unsigned char>(*ep), len = element_length(ep);
    if (len == 0 || ep + len > end) break;
    int g = static_cast<unsigned char>(ep[1]) % ZRE_NBRA;
    if (op == CBRA) opened |= 1u << g;
    if (op == CKET) closed |= 1u << g;
    bool known = (d.n > 0 && d.g[0] == g) || (d.n > 1 && d.g[1] == g);
    if ((op == CBACK || op == (CBACK | STAR)) && !(opened >> g & 1) && !known) {
      if (d.n == DEP_MAX) {
        d.n = -1;
      } else {
        d.with_end[d.n] = !(closed >> g & 1);
        d.g[d.n++] = uint8_t(g);
      }
    }
    ep += len;
  }
  return d;
}

size_t memo_bit(const char *rest, const char *lp) {
  return size_t(rest - memo.prog) * size_t(memo.positions) + size_t(lp - memo.subject);
}

const rest_deps &deps_or_none(const char *rest) {
  static constexpr rest_deps none{};
  return memo.refs ? deps_of(rest) : none;
}

// the table entry for rest and the captures it depends on: the matching
// one, or the empty slot where it belongs
dep_entry *dep_slot(const rest_deps &d, const char *rest, dep_entry *key) {
  *key = dep_entry{memo.gen, uint32_t(rest - memo.prog), 0, 0, {}};
  uint64_t h = key->rest * 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < d.n; i++) {
    key->cap[2 * i] = reinterpret_cast<uintptr_t>(zre.braslist[d.g[i]]);
    key->cap[2 * i + 1] = d.with_end[i] ? reinterpret_cast<uintptr_t>(zre.braelist[d.g[i]]) : 0;
    h = (h ^ key->cap[2 * i]) * 0x100000001B3ULL ^ key->cap[2 * i + 1];
  }
  h ^= h >> 29;
  for (size_t i = size_t(h) & (TABLE_SIZE - 1);; i = (i + 1) & (TABLE_SIZE - 1)) {
    dep_entry &e = memo.table[i];
    if (e.gen != memo.gen) return &e;
    if (e.rest == key->rest && std::memcmp(e.cap, key->cap, sizeof key->cap) == 0) return &e;
  }
}

// a new generation of the table: every entry of the older ones is empty
void table_next_generation() {
  if (memo.table.empty()) memo.table.resize(TABLE_SIZE);
  if (++memo.gen == 0) {  // wrapped: clear for real
    std::fill(memo.table.begin(), memo.table.end(), dep_entry{});
    memo.gen = 1;
  }
  memo.used = 0;
  memo.table_live = true;
}

// the table entry to fill for rest, made current
dep_entry *dep_store(const rest_deps &d, const char *rest) {
  if (!memo.table_live || memo.used >= TABLE_SIZE / 2) table_next_generation();
  dep_entry key;
  dep_entry *e = dep_slot(d, rest, &key);
  if (e->gen != memo.gen) memo.used++;
  *e = key;
  return e;
}

// whether rest (without outer groups) failed at lp before
bool tried(const char *rest, const char *lp) {
  if (!memo.live || deps_or_none(rest).n != 0) return false;
  size_t b = memo_bit(rest, lp);
  return memo.bits[b >> 6] >> (b & 63) & 1;
}

// Notes a failed try of a rest without outer groups; the others are
// remembered by spans only.
void note_failed(const char *rest, const char *lp) {
  if (deps_or_none(rest).n != 0) return;
  if (!memo.live) {
    size_t n = (size_t(ZRE_ESIZE) * size_t(memo.positions) + 63) / 64;
    if (memo.bits.size() < n) memo.bits.resize(n);
    std::memset(memo.bits.data(), 0, n * sizeof(uint64_t));
    memo.live = true;
  }
  size_t b = memo_bit(rest, lp);
  memo.bits[b >> 6] |= uint64_t(1) << (b & 63);
}

// the span of positions where rest is known to fail
fail_span span_of(const char *rest) {
  const rest_deps &d = deps_or_none(rest);
  if (d.n == 0) {
    const fail_span &f = memo.spans[rest - memo.prog];
    return f.search == memo.search ? f : fail_span{};
  }
  if (d.n < 0 || !memo.table_live) return fail_span{};
  dep_entry key;
  const dep_entry *e = dep_slot(d, rest, &key);
  return e->gen == memo.gen ? fail_span{memo.search, true, e->lo, e->hi} : fail_span{};
}

// Notes that rest fails at every position from lo to hi, joined to the
// span known so far when the two meet.
void note_span(const char *rest, uint32_t lo, uint32_t hi) {
  fail_span f = span_of(rest);
  if (f.valid && lo <= f.hi + 1 && f.lo <= hi + 1) {
    lo = lo < f.lo ? lo : f.lo;
    hi = hi > f.hi ? hi : f.hi;
  }
  const rest_deps &d = deps_or_none(rest);
  if (d.n == 0) {
    memo.spans[rest - memo.prog] = fail_span{memo.search, true, lo, hi};
  } else if (d.n > 0) {
    dep_entry *e = dep_store(d, rest);
    e->lo = lo;
    e->hi = hi;
  }
}

// The end of the run of characters from lp that the single element at ep
// matches; a run found before is not scanned again.
const char *run_end(const char *ep, const char *lp, const char *end) {
  match_run &r = memo.runs[ep - memo.prog];
  bool known = r.search == memo.search;
  if (known && r.lo <= lp && lp <= r.hi) return r.hi;
  const char *p = lp;
  while (one(ep, p, end)) {
    if (++p == r.lo && known) {  // met the known run: it goes on to its end
      p = r.hi;
      break;
    }
  }
  r = match_run{memo.search, lp, p};
  return p;
}

// Tries the rest at lp unless it failed there before.
int try_rest(const char *rest, const char *lp, const char *end) {
  if (tried(rest, lp)) return 0;
  if (advance(lp, int(end - lp), rest)) return 1;
  note_failed(rest, lp);
  return 0;
}

// Tries the rest of the program at each position from hi down to lo;
// when the rest starts with a plain character, only where it stands.
// Positions inside the span where the rest is known to fail are passed
// over at once, and a fruitless pass of SPAN_MIN positions or more joins
// that span (shorter ones cost less to try than to look up).
int back_off(const char *rest, const char *lo, const char *hi, const char *end) {
  bool plain = static_cast<unsigned char>(*rest) == CCHR;
  char c = rest[1];
  uint32_t l = uint32_t(lo - memo.subject), h = uint32_t(hi - memo.subject);
  bool wide = h - l >= SPAN_MIN;
  fail_span known = wide ? span_of(rest) : fail_span{};
  for (uint32_t p = h;;) {
    if (known.valid && p >= known.lo && p <= known.hi) {
      if (known.lo <= l) break;
      p = known.lo - 1;
      continue;
    }
    const char *q = memo.subject + p;
    if ((!plain || (q < end && *q == c)) && try_rest(rest, q, end)) return 1;
    if (p == l) break;
    p--;
  }
  if (wide) note_span(rest, l, h);
  return 0;
}

// A repeated back-reference: whole copies, given back one at a time.
int back_reference_star(const char *lp, const char *end, const char *rest, int g) {
  const char *s = zre.braslist[g];
  int n = int(zre.braelist[g] - s);
  if (n < 0) return 0;
  const char *start = lp;
  if (n > 0)
    while (end - lp >= n && ecmp(s, lp, n)) lp += n;
  for (;;) {
    if (try_rest(rest, lp, end)) return 1;
    if (lp == start) return 0;
    lp -= n;
  }
}

}  // namespace

int advance(const char *lp, int lg, const char *ep) {
  if (++memo.calls >= BREAK_POLL) {  // a long search gives way to the break key
    memo.calls = 0;
    if (zresc) memo.broken = true;
  }
  if (memo.broken) return 0;
  const char *end = lp + lg;
  for (;;) {
    int op = static_cast<unsigned char>(*ep);
    switch (op) {
      case CCHR:
      case CDOT:
      case CCL:
        if (!one(ep, lp, end)) return 0;
        lp++;
        ep += element_size(op);
        continue;
      case CDOL:
        if (lp < end && *lp != 0) return 0;
        ep++;
        continue;
      case CCEOF:
        zre.loc2 = lp;
        return 1;
      case CBRA:
        zre.braslist[static_cast<unsigned char>(ep[1])] = lp;
        ep += 2;
        continue;
      case CKET:
        zre.braelist[static_cast<unsigned char>(ep[1])] = lp;
        ep += 2;
        continue;
      case CBACK: {
        int g = static_cast<unsigned char>(ep[1]);
        int n = int(zre.braelist[g] - zre.braslist[g]);
        if (n < 0 || end - lp < n || !ecmp(zre.braslist[g], lp, n)) return 0;
        lp += n;
        ep += 2;
        continue;
      }
      case CBACK | STAR:
        return back_reference_star(lp, end, ep + 2, static_cast<unsigned char>(ep[1]));
      case CCHR | STAR:
      case CDOT | STAR:
      case CCL | STAR: {
        return back_off(ep + element_size(op), lp, run_end(ep, lp, end), end);
      }
      case CCHR | RNGE:
      case CDOT | RNGE:
      case CCL | RNGE: {
        int sz = element_size(op);
        getrnge(ep + sz);
        int low = zre.low, size = zre.size;
        for (int i = 0; i < low; i++, lp++)
          if (!one(ep, lp, end)) return 0;
        const char *hi = run_end(ep, lp, end);
        if (hi - lp > size) hi = lp + size;
        return back_off(ep + sz + 2, lp, hi, end);
      }
      default:  // a program this compiler never writes
        return 0;
    }
  }
}

namespace {

// whether the program at ep uses a back-reference
bool has_back_reference(const char *ep) {
  for (const char *end = ep + ZRE_ESIZE; ep < end;) {
    int op = static_cast<unsigned char>(*ep), len = element_length(ep);
    if (op == CBACK || op == (CBACK | STAR)) return true;
    if (len == 0) return false;
    ep += len;
  }
  return false;
}

// The positions where the first element can match, when it must: a plain
// character by memchr, a class or "." by their test; null past the end.
const char *next_start(const char *p2, const char *p, const char *end) {
  int op = static_cast<unsigned char>(*p2);
  bool ranged = op == (CCHR | RNGE) || op == (CDOT | RNGE) || op == (CCL | RNGE);
  bool needed = op == CCHR || op == CDOT || op == CCL || (ranged && p2[element_size(op)] != 0);
  if (!needed) return p <= end ? p : nullptr;
  if ((op & ~RNGE) == CCHR) {
    const void *hit = p < end ? std::memchr(p, p2[1], size_t(end - p)) : nullptr;
    return static_cast<const char *>(hit);
  }
  while (p < end && !one(p2, p, end)) p++;
  return p < end ? p : nullptr;
}

}  // namespace

int step(const char *p1, int l1, const char *p2) {
  const char *end = p1 + l1;
  memo.live = false;
  memo.positions = l1 + 1;
  memo.subject = p1;
  memo.prog = p2;
  memo.table_live = false;
  memo.search++;
  memo.refs = has_back_reference(p2);
  memo.broken = false;
  if (zre.circf) {
    zre.loc1 = p1;
    return advance(p1, l1, p2);
  }
  for (const char *p = next_start(p2, p1, end); p; p = next_start(p2, p + 1, end)) {
    if (advance(p, int(end - p), p2)) {
      zre.loc1 = p;
      return 1;
    }
  }
  return 0;
}

int match(const char *s1, int l1, const char *s2, int l2) {
  if (int e = compile(s2, zre.expbuf, zre.expbuf + ZRE_ESIZE, 0, l2)) return -e;
  if (!step(s1, l1, zre.expbuf)) return 0;
  return int(zre.loc1 - s1) + 1;
}
