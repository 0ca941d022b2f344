// dis.cpp: the p-code disassembler.  Takes a program file apart into its
// records, places them as the loader would, follows the block chain, the
// routine table, the routine headers and the DATA lists, and lists the
// program in the placed form of the assembler: block fields, descriptors,
// routine headers, instructions with labels and, where debug information
// exists, variable and label names.  The listing is assembled again in
// process; when that does not give the file back byte for byte (a file
// that pasm would record differently), the raw record listing is written.
#include "tools/dis.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "run/interp/opcodes.h"
#include "tools/asm.h"
#include "tools/pcode.h"

namespace {

enum pd_kind { RK_BLOCK1, RK_DESC, RK_BLOCK2, RK_MAIN, RK_RHDR, RK_DATA };

struct pd_region {
  uint32_t start = 0, end = 0;  // [start, end) in the program area
  pd_kind kind = RK_BLOCK1;     // what lies there
  int routine = -1;             // routine it belongs to
  bool code_after = false;      // code follows it
};

struct pd_routine {
  uint32_t header = 0;                    // offset of the routine header
  bool proc = false;                      // has state and parameter count
  std::string name;                       // label name
  std::map<long, std::string> var_names;  // descriptor index -> name
};

struct pd_state {
  const pt_file *f = nullptr;
  int a = 2;                                    // adr_len
  int dsc = 7;                                  // descriptor length
  bool wide = false;                            // flags bit 0
  long flags = -1;                              // main block flags when found
  std::map<uint32_t, pd_region> regions;        // structures by start
  std::vector<pd_routine> routines;             // routines found
  std::map<uint32_t, std::string> code_labels;  // debug label names
  std::set<uint32_t> starts;                    // instruction starts
  std::set<uint32_t> targets;                   // jump targets seen
  std::string out;                              // the listing
  bool emit = false;                            // second pass: write
};

bool def(const pd_state &s, uint64_t pos, uint64_t len) {
  const pt_file &f = *s.f;
  if (pos + len > f.image.size()) return false;
  for (uint64_t i = pos; i < pos + len; i++)
    if (!f.defined[i]) return false;
  return true;
}

uint32_t geta(const pd_state &s, uint32_t pos) {
  uint32_t v = 0;
  for (int i = 0; i < s.a; i++) v = v << 8 | s.f->image[pos + uint32_t(i)];
  return v;
}

uint32_t get2(const pd_state &s, uint32_t pos) {
  return uint32_t(s.f->image[pos]) << 8 | s.f->image[pos + 1];
}

std::string hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%04x", v);
  return b;
}

// adds a structure unless it overlaps one already known
bool add_region(pd_state &s, pd_region r) {
  if (r.end <= r.start || !def(s, r.start, r.end - r.start)) return false;
  auto next = s.regions.lower_bound(r.start);
  if (next != s.regions.end() && next->first < r.end) return false;
  if (next != s.regions.begin() && std::prev(next)->second.end > r.start) return false;
  s.regions[r.start] = r;
  return true;
}

void find_data_blocks(pd_state &s, uint32_t first, int routine) {
  uint32_t at = first;
  for (int n = 0; at && n < 10000; n++) {
    if (!def(s, at, 1 + 2 * uint32_t(s.a)) || s.f->image[at] != 0xF2) return;
    uint32_t end = geta(s, at + 1), link = geta(s, at + 1 + uint32_t(s.a));
    pd_region r;
    r.start = at;
    r.end = end;
    r.kind = RK_DATA;
    r.routine = routine;
    r.code_after = true;
    if (end < at + 1 + 2 * uint32_t(s.a) || !add_region(s, r)) return;
    if (link == 0 || link < 1 + uint32_t(s.a)) return;
    at = link - 1 - uint32_t(s.a);
  }
}

void add_routine(pd_state &s, uint32_t h, bool proc) {
  for (const pd_routine &r : s.routines)
    if (r.header == h) return;
  uint32_t len = 6 * uint32_t(s.a) + 1;
  if (!proc && def(s, h + len, 2) && s.f->image[h + len] == 'w') proc = true;
  pd_region r;
  r.start = h;
  r.end = h + len + (proc ? 2 : 0);
  r.kind = RK_RHDR;
  r.routine = int(s.routines.size());
  r.code_after = true;
  if (!add_region(s, r)) return;
  pd_routine pr;
  pr.header = h;
  pr.proc = proc;
  s.routines.push_back(pr);
  find_data_blocks(s, geta(s, h + 2 * uint32_t(s.a)), r.routine);
}

// follows the block chain and the routine table
void find_structures(pd_state &s) {
  uint32_t pos = 0, a = uint32_t(s.a);
  std::vector<uint32_t> procs;
  for (int n = 0; n < 100000 && def(s, pos, 1) && s.f->image[pos] == 1 && def(s, pos, 1 + 3 * a);
       n++) {
    uint32_t nx = geta(s, pos + 1), ds = geta(s, pos + 1 + a), de = geta(s, pos + 1 + 2 * a);
    add_region(s, {pos, pos + 1 + 3 * a, RK_BLOCK1, -1, false});
    if (ds <= de && (de - ds) % uint32_t(s.dsc) == 0) add_region(s, {ds, de, RK_DESC, -1, false});
    if (nx <= pos) return;
    pos = nx;
  }
  if (def(s, pos, 1 + a) && (s.f->image[pos] == 2 || s.f->image[pos] == 3)) {
    uint32_t nx = geta(s, pos + 1);
    if (nx >= pos + 1 + a && add_region(s, {pos, nx, RK_BLOCK2, -1, false}))
      for (uint32_t t = pos + 1 + a; t + a <= nx; t += a) procs.push_back(geta(s, t));
    if (nx > pos) pos = nx;
  }
  if (def(s, pos, 1) && (s.f->image[pos] == 4 || s.f->image[pos] == 5)) {
    bool t4 = s.f->image[pos] == 4;
    uint32_t h = pos + (t4 ? 3 : 1), len = (s.a == 3 ? 12 : 8);
    if (def(s, pos, (t4 ? 3 : 1) + len)) {
      s.flags = t4 ? long(get2(s, pos + 1)) : 0;
      s.wide = s.flags & 1;
      add_region(s, {pos, h + len, RK_MAIN, -1, false});
      add_routine(s, geta(s, h), false);
    }
  }
  for (uint32_t p : procs) add_routine(s, p, true);
}

bool good_name(const std::string &n) {
  if (n.empty() || !(std::isalpha(static_cast<unsigned char>(n[0])) || n[0] == '_')) return false;
  for (char c : n)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

// names from the debug information, when it can be read
struct pd_debug {
  bool ok = false;
  std::vector<std::string> lines;  // .dbgroutine / .dbgsym lines
};

pd_debug read_debug(pd_state &s) {
  pd_debug d;
  const pt_file &f = *s.f;
  if (!f.has_marker) return d;
  uint32_t off = uint32_t(f.marker[0]) << 24 | uint32_t(f.marker[1]) << 16 |
                 uint32_t(f.marker[2]) << 8 | f.marker[3];
  if (off < f.tail_pos || off - f.tail_pos > f.tail.size()) return d;
  const std::vector<uint8_t> &t = f.tail;
  size_t p = off - f.tail_pos;
  std::set<std::string> used;
  for (;;) {
    if (p + 2 > t.size() || t[p] != 255) return d;
    size_t L = t[p + 1];
    p += 2;
    if (L == 0) break;
    if (L < 7 || p + L > t.size() || t[p + L - 1] != 0) return d;
    std::string name(reinterpret_cast<const char *>(&t[p + 6]));
    unsigned varbg = unsigned(t[p]) << 8 | t[p + 1], probg = unsigned(t[p + 2]) << 8 | t[p + 3];
    unsigned cnt = unsigned(t[p + 4]) << 8 | t[p + 5];
    d.lines.push_back(".dbgroutine " + pt_quote(&t[p + 6], name.size()) + ", " +
                      std::to_string(varbg) + ", " + std::to_string(probg));
    p += L;
    pd_routine *rt = nullptr;
    for (pd_routine &r : s.routines)
      if (long(r.header) + 6 * s.a + 3 - 16 == long(probg)) rt = &r;
    if (rt && good_name(name) && used.insert(name).second) rt->name = name;
    for (unsigned i = 0; i < cnt; i++) {
      if (p >= t.size()) return d;
      size_t A = t[p++];
      if (A < 11 || p + A > t.size() || t[p + A - 1] != 0) return d;
      std::string sn(reinterpret_cast<const char *>(&t[p + 10]));
      std::string l = ".dbgsym " + pt_quote(&t[p + 10], sn.size());
      long v[6];
      for (int k = 0; k < 4; k++) v[k] = long(t[p + 2 * size_t(k)]) << 8 | t[p + 2 * size_t(k) + 1];
      v[4] = t[p + 8];
      v[5] = t[p + 9];
      for (long x : v) l += ", " + std::to_string(x);
      d.lines.push_back(l);
      if (good_name(sn) && v[5] == '"' && !s.code_labels.count(uint32_t(v[0])) &&
          used.insert(sn).second)
        s.code_labels[uint32_t(v[0])] = sn;
      else if (rt && good_name(sn) && (v[5] == ' ' || v[5] == '!') && v[0] >= 2)
        rt->var_names[v[0] - 2] = sn;
      p += A;
    }
  }
  d.ok = true;
  return d;
}

void line(pd_state &s, const std::string &l) {
  if (s.emit) s.out += l + "\n";
}

std::string target_text(pd_state &s, uint32_t t) {
  s.targets.insert(t);
  if (s.emit && s.starts.count(t)) {
    auto it = s.code_labels.find(t);
    if (it != s.code_labels.end()) return it->second;
    char b[16];
    std::snprintf(b, sizeof b, "L%04x", t);
    return b;
  }
  return std::to_string(t);
}

std::string operand_text(pd_state &s, int routine, long idx) {
  if (idx < 0) return "*";
  if (routine >= 0) {
    auto it = s.routines[size_t(routine)].var_names.find(idx);
    if (it != s.routines[size_t(routine)].var_names.end()) return it->second;
  }
  return "%" + std::to_string(idx);
}

std::string bytes_text(const uint8_t *p, size_t n) {
  std::string t = "{";
  for (size_t i = 0; i < n; i++) {
    char b[4];
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", p[i]);
    t += b;
  }
  return t + "}";
}

// one instruction at pos (limit end); its length, 0 when it does not fit
uint32_t instruction(pd_state &s, uint32_t pos, uint32_t end, int routine) {
  const uint8_t *p = s.f->image.data() + pos;
  size_t avail = end - pos;
  const zopcode &op = zopcodes[p[0]];
  std::string t = op.mnemonic;
  size_t len = 1;
  long idx;
  int form = (p[0] & ZOP_FORM) >> 5;
  bool src = p[0] & ZOP_SOURCE;
  switch (op.shape) {
    case OPS_BAD:
    case OPS_NONE:
    case OPS_CONST:
      break;
    case OPS_OPERAND:
    fetch_operand : {
      int n = pt_operand_decode(p + 1, avail - 1, s.wide, &idx);
      if (!n) return 0;
      len += size_t(n);
      t += " " + operand_text(s, routine, idx);
      break;
    }
    case OPS_NFETCH:
    case OPS_SFETCH: {
      if (src) goto fetch_operand;
      if (form == 1) break;
      if (avail < 2) return 0;
      if (form == 0) {
        int v;
        len = 2;
        char b[8];
        std::snprintf(b, sizeof b, "0x%02x", p[1]);
        if (op.shape == OPS_SFETCH)
          t += " " + pt_quote(p + 1, 1);
        else if (pt_packed_value(p[1], &v))
          t += " " + std::to_string(v);
        else
          t += std::string(" ") + b;
        break;
      }
      if (op.shape == OPS_SFETCH) {
        if (avail < size_t(2) + p[1]) return 0;
        len = 2 + size_t(p[1]);
        t += " " + pt_quote(p + 2, p[1]);
        break;
      }
      size_t n = p[1] == 0 ? 1 : size_t(p[1]) + 1;
      if (p[1] > ZOP_INLINE_MAX || avail < 1 + n) return 0;
      len = 1 + n;
      uint8_t num[8] = {};
      if (p[1] >= 2) {
        std::memcpy(num, p + 2, size_t(p[1]) - 1);
        num[7] = p[1 + p[1]];
      }
      std::vector<uint8_t> again = pt_inline_number(num);
      if (p[1] != 1 && again.size() == n && std::memcmp(again.data(), p + 1, n) == 0)
        t += " " + pt_format_number(num);
      else
        t += " " + bytes_text(p + 1, n);
      break;
    }
    case OPS_JUMP: {
      bool lng = p[0] & 0x80;
      len = lng ? 1 + size_t(s.a) : 2;
      if (avail < len) return 0;
      uint32_t tg = lng ? geta(s, pos + 1) : uint32_t(long(pos) + int8_t(p[1]));
      if (!lng && long(pos) + int8_t(p[1]) < 0)
        t += " " + std::to_string(long(pos) + int8_t(p[1]));
      else
        t += " " + target_text(s, tg);
      break;
    }
    case OPS_TABLE: {
      if (avail < 2 || p[1] == 0) return 0;
      len = 2 + size_t(p[1]) * size_t(s.a);
      if (avail < len) return 0;
      for (uint32_t i = 0; i < p[1]; i++)
        t += std::string(i ? ", " : " ") + target_text(s, geta(s, pos + 2 + i * uint32_t(s.a)));
      break;
    }
    case OPS_CALL: {
      if (avail < 3) return 0;
      len = 3;
      t += " " + std::to_string(p[1]) + ", " + std::to_string(p[2]);
      break;
    }
    case OPS_MACH: {
      if (avail < 2) return 0;
      len = 2;
      t += " " + std::to_string(p[1]);
      break;
    }
    case OPS_IO: {
      if (avail < 3 || avail < size_t(3) + p[2]) return 0;
      len = 3 + size_t(p[2]);
      const char *name = pt_io_op_name(p[1]);
      t += " " + (name ? std::string(name) : std::to_string(p[1]));
      for (size_t i = 0; i < p[2]; i++) {
        uint8_t o = p[3 + i];
        t += ", " + (o <= 26 ? std::string(1, char('@' + o)) : std::to_string(o));
      }
      break;
    }
  }
  if (!s.emit) s.starts.insert(pos);
  std::string lab;
  if (s.emit && (s.targets.count(pos) || s.code_labels.count(pos))) lab = target_text(s, pos) + ":";
  if (!lab.empty()) line(s, lab);
  char addr[16];
  std::snprintf(addr, sizeof addr, "%04x", pos);
  line(s, "  " + t + std::string(t.size() < 30 ? 30 - t.size() : 1, ' ') + "; " + addr);
  return uint32_t(len);
}

void raw_bytes(pd_state &s, uint32_t pos, uint32_t end) {
  while (pos < end) {
    uint32_t n = std::min<uint32_t>(16, end - pos);
    std::string l = "  .byte ";
    for (uint32_t i = 0; i < n; i++) {
      char b[8];
      std::snprintf(b, sizeof b, i ? ", 0x%02x" : "0x%02x", s.f->image[pos + i]);
      l += b;
    }
    line(s, l);
    pos += n;
  }
}

void code(pd_state &s, uint32_t pos, uint32_t end, int routine) {
  while (pos < end) {
    uint32_t n = instruction(s, pos, end, routine);
    if (!n) return raw_bytes(s, pos, end);
    pos += n;
  }
}

// a DATA item: a number or a string, told apart by what they spell
std::string data_item(const uint8_t *p, size_t n) {
  // p[0] is the length byte, n = 1 + p[0]
  bool printable = n > 1;
  for (size_t i = 1; i < n; i++)
    if (p[i] < 32 || p[i] > 126) printable = false;
  std::string num_text;
  if (n <= 9) {
    uint8_t num[8] = {};
    int v;
    if (n == 2 && pt_packed_value(p[1], &v)) {
      pt_parse_number(std::to_string(v), num);
    } else if (n >= 3) {
      std::memcpy(num, p + 1, n - 2);
      num[7] = p[n - 1];
    }
    std::vector<uint8_t> again = pt_data_number(num);
    if (again.size() == n && std::memcmp(again.data(), p, n) == 0) num_text = pt_format_number(num);
    long e = long(num[7] & 0x7F) - 64;
    if (!num_text.empty() && (!printable || (e >= -16 && e <= 16))) return num_text;
  }
  if (printable) return pt_quote(p + 1, n - 1);
  return num_text.empty() ? bytes_text(p, n) : num_text;
}

void data_block(pd_state &s, const pd_region &r) {
  uint32_t a = uint32_t(s.a), pos = r.start + 1 + 2 * a;
  std::vector<std::string> items;
  while (pos < r.end) {
    uint32_t n = 1 + s.f->image[pos];
    if (pos + n > r.end) return raw_bytes(s, r.start, r.end);
    items.push_back(data_item(s.f->image.data() + pos, n));
    pos += n;
  }
  if (s.emit && s.targets.count(r.start)) line(s, target_text(s, r.start) + ":");
  if (!s.emit) s.starts.insert(r.start);
  std::string l = "  .datablk " + std::to_string(geta(s, r.start + 1 + a));
  for (const std::string &i : items) l += ", " + i;
  line(s, l);
}

void structure(pd_state &s, const pd_region &r) {
  uint32_t a = uint32_t(s.a);
  const std::vector<uint8_t> &im = s.f->image;
  switch (r.kind) {
    case RK_BLOCK1:
      line(s, "; type 1 block: variables");
      line(s, "  .byte 1");
      line(s, "  .addr " + hex(geta(s, r.start + 1)) + ", " + hex(geta(s, r.start + 1 + a)) + ", " +
                  hex(geta(s, r.start + 1 + 2 * a)) + "   ; next, descriptors, end");
      break;
    case RK_DESC:
      line(s, "; descriptors");
      for (uint32_t d = r.start; d < r.end; d += uint32_t(s.dsc)) {
        char b[16];
        std::snprintf(b, sizeof b, "0x%02x", im[d]);
        line(s, std::string("  .desc ") + b + ", " + hex(geta(s, d + 1)) + ", " +
                    std::to_string(get2(s, d + 1 + a)) + ", " + std::to_string(get2(s, d + 3 + a)));
      }
      break;
    case RK_BLOCK2: {
      line(s, "; type " + std::to_string(im[r.start]) + " block: routine table");
      line(s, "  .byte " + std::to_string(im[r.start]));
      std::string l = "  .addr " + hex(geta(s, r.start + 1));
      for (uint32_t t = r.start + 1 + a; t + a <= r.end; t += a) l += ", " + hex(geta(s, t));
      line(s, l);
      if ((r.end - r.start - 1 - a) % a) raw_bytes(s, r.end - (r.end - r.start - 1 - a) % a, r.end);
      break;
    }
    case RK_MAIN: {
      bool t4 = im[r.start] == 4;
      line(s, std::string("; type ") + (t4 ? "4" : "5") + " block: main");
      line(s, std::string("  .byte ") + (t4 ? "4" : "5"));
      uint32_t h = r.start + 1;
      if (t4) {
        line(s, "  .word " + std::to_string(get2(s, h)) + "   ; flags");
        h += 2;
      }
      line(s, "  .addr " + hex(geta(s, h)) + "   ; main routine");
      line(s, "  .word " + std::to_string(get2(s, h + a)) + "   ; common needed");
      raw_bytes(s, h + a + 2, r.end);
      break;
    }
    case RK_RHDR: {
      pd_routine &rt = s.routines[size_t(r.routine)];
      if (rt.name.empty()) {
        char b[16];
        std::snprintf(b, sizeof b, "R%04x", rt.header);
        rt.name = b;
      }
      line(s, "; routine " + rt.name);
      for (const auto &[idx, name] : rt.var_names)
        line(s, "  .opnd " + name + ", " + std::to_string(idx));
      line(s, rt.name + ":");
      std::string l = "  .addr ";
      for (uint32_t i = 0; i < 6; i++) l += (i ? ", " : "") + hex(geta(s, r.start + i * a));
      line(s, l);
      raw_bytes(s, r.start + 6 * a, r.end);
      break;
    }
    case RK_DATA:
      data_block(s, r);
      break;
  }
}

void walk(pd_state &s) {
  const pt_file &f = *s.f;
  uint32_t pos = 0, n = uint32_t(f.image.size());
  int routine = -1;
  bool code_ok = false, need_org = true;
  while (pos < n) {
    if (!f.defined[pos]) {
      pos++;
      need_org = true;
      code_ok = false;
      continue;
    }
    if (need_org) line(s, ".org " + hex(pos));
    need_org = false;
    auto it = s.regions.find(pos);
    if (it != s.regions.end()) {
      structure(s, it->second);
      code_ok = it->second.code_after;
      if (it->second.routine >= 0) routine = it->second.routine;
      pos = it->second.end;
      continue;
    }
    uint32_t e = pos;
    auto nx = s.regions.upper_bound(pos);
    uint32_t lim = nx == s.regions.end() ? n : nx->first;
    while (e < lim && f.defined[e]) e++;
    if (code_ok)
      code(s, pos, e, routine);
    else
      raw_bytes(s, pos, e);
    code_ok = false;
    pos = e;
  }
}

std::string raw_listing(const std::vector<uint8_t> &file, const std::string &why) {
  std::string out = "; raw records" + (why.empty() ? "" : ": " + why) + "\n.raw\n";
  pt_file f = pt_read_file(file);
  size_t used = 0;
  for (const pt_record &r : f.records) {
    out += ".rawrecord " + bytes_text(r.bytes.data(), r.bytes.size()) + "\n";
    used = r.file_pos + r.bytes.size();
  }
  for (size_t p = used; p < file.size(); p += 32)
    out += ".rawtail " + bytes_text(file.data() + p, std::min<size_t>(32, file.size() - p)) + "\n";
  return out;
}

}  // namespace

std::string pdis_listing(const std::vector<uint8_t> &file, bool raw) {
  if (raw) return raw_listing(file, "");
  pt_file f = pt_read_file(file);
  if (!f.error.empty()) return raw_listing(file, f.error);
  pd_state s;
  s.f = &f;
  s.a = f.version == PT_V24 ? 3 : 2;
  s.dsc = f.version == PT_V24 ? 8 : 7;
  find_structures(s);
  pd_debug dbg = read_debug(s);
  s.emit = false;
  walk(s);
  s.emit = true;
  line(s, "; program file: " + std::to_string(f.records.size()) + " records, " +
              std::string(f.version == PT_V24 ? "24" : "16") + "-bit p-code");
  line(s, std::string(".pcode ") + (f.version == PT_V24 ? "24" : "16"));
  if (s.flags >= 0) line(s, ".flags " + std::to_string(s.flags));
  int hdr = f.version == PT_V24 ? 5 : 4;
  for (const pt_record &r : f.records) {
    const uint8_t *b = r.bytes.data();
    char t[96];
    uint32_t off = b[3] | uint32_t(b[4]) << 8 | (hdr == 5 ? uint32_t(b[5]) << 16 : 0);
    if (r.bytes[0] >= PT_MARKER_N && b[3] == 0 && b[4] == 0 && b[5] == 6)
      std::snprintf(t, sizeof t, "; record at file 0x%04x: debug marker", r.file_pos);
    else if (r.bytes[0] == hdr)
      std::snprintf(t, sizeof t, "; record at file 0x%04x: end", r.file_pos);
    else
      std::snprintf(t, sizeof t, "; record at file 0x%04x: %u bytes at 0x%04x", r.file_pos,
                    unsigned(r.bytes[0]) - unsigned(hdr), off);
    line(s, t);
  }
  walk(s);
  if (f.has_marker && dbg.ok) {
    char b[80];
    std::snprintf(b, sizeof b, ".dbgheader %u, %u, %u", unsigned(f.marker[4]) << 8 | f.marker[5],
                  unsigned(f.marker[6]) << 8 | f.marker[7],
                  unsigned(f.marker[8]) << 8 | f.marker[9]);
    line(s, "; debug information");
    line(s, b);
    for (const std::string &l : dbg.lines) line(s, l);
  }
  pasm_output again;
  if (!pasm_assemble(s.out, "listing", again) || again.file != file)
    return raw_listing(file, "the file is not laid out as pasm writes it") +
           (again.errors.empty() ? ""
                                 : "; " + again.errors.substr(0, again.errors.find('\n')) + "\n");
  return s.out;
}
