// asm.cpp: the p-code assembler.  Reads the assembler text line by line
// into items (bytes, expressions, instructions, labels), lays them out in
// the program area, widens short jumps that do not reach until the layout
// is stable, and writes the records of the program file, the debug marker
// and the debug information.
//
// Two ways of writing a program (docs/assembler.md):
//   routine mode   .main / .proc with variables and code; the assembler
//                  builds the block chain:
//                    per routine   type 1 block: block fields, routine
//                                  header, code, descriptors, storage
//                    type 2 block  the routine table, one entry a procedure
//                    type 4/5      the main block with the stack bottom
//   placed mode    .org and the raw directives put every byte where it
//                  stands (the disassembler writes this form)
#include "tools/asm.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "run/base/interp.h"
#include "run/interp/opcodes.h"
#include "tools/asmtext.h"
#include "tools/pcode.h"

namespace {

// a value: k plus or minus labels
struct pa_expr {
  long k = 0;
  std::vector<std::pair<int, std::string>> terms;  // sign, label
};

enum pa_part_kind { PP_BYTES, PP_EXPR, PP_OPND, PP_JUMP };
struct pa_part {
  pa_part_kind kind = PP_BYTES;
  std::vector<uint8_t> bytes;  // PP_BYTES
  pa_expr e;                   // PP_EXPR value, PP_JUMP target
  int width = 0;               // PP_EXPR: 1, 2, 3, or 0 for adr_len
  long opnd = -1;              // PP_OPND: descriptor index, -1 none
  std::string opname;          // PP_OPND: variable still to resolve
};

enum pa_item_kind { PI_CODE, PI_LABEL, PI_ORG, PI_SKIP };
enum pa_jump { PJ_NONE, PJ_AUTO, PJ_LONG, PJ_SHORT };
struct pa_item {
  pa_item_kind kind = PI_CODE;
  int line = 0;                // source line
  std::vector<pa_part> parts;  // PI_CODE
  std::string label;           // PI_LABEL
  uint32_t n = 0;              // PI_ORG position, PI_SKIP length
  pa_jump jump = PJ_NONE;      // jump: parts[0] the opcode, parts[1] the target
  bool is_long = false;        // jump currently in its long form
  uint32_t pos = 0;            // laid-out position
};

struct pa_var {
  std::string name;      // variable name
  uint8_t type = 0;      // descriptor type bits
  pa_expr addr;          // data address before relocation
  uint16_t d1 = 0;       // dim1
  uint16_t d2 = 0;       // dim2
  uint32_t storage = 0;  // bytes of storage in the routine block
  bool param = false;    // formal parameter
};

struct pa_routine {
  std::string name;                 // label of the routine header
  bool is_main = false;             // the main routine
  bool callable = false;            // main routine taking parameters
  std::vector<pa_var> vars;         // descriptor table, parameters first
  std::vector<pa_item> code;        // instructions and labels
  std::vector<std::string> labels;  // user labels, for the debug records
  std::vector<std::string> data;    // DATA block labels in order
  long last_data = -1;              // code index of the last DATA block
  int line = 0;                     // where it starts
};

struct pa_dbgsym {
  std::string name;  // symbol name
  long v[6];         // loc, attr, dim1, dim2, genus, species
};
struct pa_dbgroutine {
  std::string name;             // routine name
  long varbg, probg;            // descriptor table and code address
  std::vector<pa_dbgsym> syms;  // its symbols
};

constexpr int PA_MAX_ERRORS = 30;

struct pa_state {
  std::string srcname;                            // for messages
  int line = 0;                                   // current line
  std::string where;                              // macro context of the line
  std::string errors;                             // collected messages
  int nerrors = 0;                                // their count
  int version = 129;                              // p-code version
  bool version_set = false;                       // .pcode given
  bool wide = false;                              // flags bit 0
  long flags = 0;                                 // main-block flags
  bool flags_set = false;                         // .flags given
  int mainblock = 0;                              // 4 or 5; 0 = by the flags
  long common = -1;                               // .common; -1 = computed
  bool debug = false;                             // .debug: write debug information
  int mode = 0;                                   // 0 undecided, 1 routines, 2 placed
  std::vector<pa_routine> routines;               // routine mode
  int cur = -1;                                   // routine being written
  std::vector<pa_item> items;                     // all items, laid out in order
  std::map<std::string, long> opnds;              // placed mode: .opnd names
  std::map<std::string, uint32_t> labels;         // label positions
  std::set<std::string> defined;                  // labels defined in the source
  bool dbg_header_set = false;                    // .dbgheader given
  long dbg_header[3] = {0, 0, 0};                 // routines, symbols, start value
  std::vector<pa_dbgroutine> dbg;                 // debug routines
  std::vector<std::vector<uint8_t>> raw_records;  // .rawrecord
  std::vector<uint8_t> raw_tail;                  // .rawtail
  int data_count = 0;                             // for DATA block label names
  long common_end = 0;                            // end of the highest common variable
  bool raw = false;                               // the file is given record by record
};

int adr_len(const pa_state &s) {
  return s.version == 130 ? 3 : 2;
}

void error(pa_state &s, const std::string &msg) {
  if (s.nerrors++ < PA_MAX_ERRORS)
    s.errors += s.srcname + ":" + std::to_string(s.line) + ": " + msg + s.where + "\n";
}

// ---- text helpers -----------------------------------------------------

bool is_name(const std::string &t) {
  if (t.empty() || !ptx_is_ident_start(t[0])) return false;
  for (char c : t)
    if (!ptx_is_ident(c)) return false;
  return true;
}

bool parse_long(const std::string &t, long *v) {
  if (t.empty()) return false;
  char *end;
  errno = 0;
  long x = std::strtol(t.c_str(), &end, 0);
  if (*end || errno) return false;
  *v = x;
  return true;
}

// a string literal "..." or '...' with escapes
bool parse_string(const std::string &t, std::vector<uint8_t> *out) {
  if (t.size() < 2 || (t[0] != '"' && t[0] != '\'') || t.back() != t[0]) return false;
  out->clear();
  for (size_t i = 1; i + 1 < t.size(); i++) {
    char c = t[i];
    if (c == t[0]) return false;
    if (c != '\\') {
      out->push_back(uint8_t(c));
      continue;
    }
    if (++i + 1 >= t.size()) return false;
    switch (t[i]) {
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'e':
        out->push_back(27);
        break;
      case '0':
        out->push_back(0);
        break;
      case 'x': {
        if (i + 3 >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(t[i + 2])))
          return false;
        out->push_back(uint8_t(std::strtol(t.substr(i + 1, 2).c_str(), nullptr, 16)));
        i += 2;
        break;
      }
      default:
        out->push_back(uint8_t(t[i]));
        break;
    }
  }
  return true;
}

// raw bytes {12 af 03}
bool parse_braces(const std::string &t, std::vector<uint8_t> *out) {
  if (t.size() < 2 || t[0] != '{' || t.back() != '}') return false;
  out->clear();
  std::string in = t.substr(1, t.size() - 2);
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] == ' ' || in[i] == '\t') {
      i++;
      continue;
    }
    if (i + 1 >= in.size() || !std::isxdigit(static_cast<unsigned char>(in[i])) ||
        !std::isxdigit(static_cast<unsigned char>(in[i + 1])))
      return false;
    out->push_back(uint8_t(std::strtol(in.substr(i, 2).c_str(), nullptr, 16)));
    i += 2;
  }
  return true;
}

// label +/- number ... ; numbers in C notation
bool parse_expr(const std::string &t0, pa_expr *e) {
  std::string t = ptx_trim(t0);
  *e = pa_expr{};
  size_t i = 0;
  int sign = 1;
  bool want_term = true;
  while (i < t.size()) {
    char c = t[i];
    if (c == ' ' || c == '\t') {
      i++;
      continue;
    }
    if (!want_term) {
      if (c != '+' && c != '-') return false;
      sign = c == '-' ? -1 : 1;
      want_term = true;
      i++;
      continue;
    }
    if (c == '-' && i + 1 < t.size() && !std::isdigit(static_cast<unsigned char>(t[i + 1])))
      return false;
    size_t j = i;
    if (ptx_is_ident_start(c)) {
      while (j < t.size() && ptx_is_ident(t[j])) j++;
      e->terms.push_back({sign, t.substr(i, j - i)});
    } else {
      if (c == '-' || c == '+') j++;
      while (j < t.size() && std::isalnum(static_cast<unsigned char>(t[j]))) j++;
      long v;
      if (!parse_long(t.substr(i, j - i), &v)) return false;
      e->k += sign * v;
    }
    i = j;
    want_term = false;
  }
  return !want_term;
}

// ---- instruction building ----------------------------------------------

pa_part bytes_part(std::vector<uint8_t> b) {
  pa_part p;
  p.kind = PP_BYTES;
  p.bytes = std::move(b);
  return p;
}

pa_part expr_part(const pa_expr &e, int width) {
  pa_part p;
  p.kind = PP_EXPR;
  p.e = e;
  p.width = width;
  return p;
}

// an operand naming a variable: name, %N or *, with () or (,) after it;
// *subs receives the number of subscripts (0, 1, 2), -1 when not one
bool parse_var(pa_state &s, const std::string &t0, pa_part *p, int *subs) {
  std::string t = ptx_trim(t0);
  *subs = 0;
  if (t.size() > 2 && t.compare(t.size() - 3, 3, "(,)") == 0) {
    *subs = 2;
    t = ptx_trim(t.substr(0, t.size() - 3));
  } else if (t.size() > 2 && t.compare(t.size() - 2, 2, "()") == 0) {
    *subs = 1;
    t = ptx_trim(t.substr(0, t.size() - 2));
  }
  p->kind = PP_OPND;
  if (t == "*") return p->opnd = -1, true;
  if (t.size() > 1 && t[0] == '%') {
    long v;
    if (!parse_long(t.substr(1), &v) || v < 0 || v > pt_operand_max(s.wide)) return false;
    p->opnd = v;
    return true;
  }
  if (!is_name(t)) return false;
  if (s.mode != 1) {
    auto it = s.opnds.find(t);
    if (it == s.opnds.end()) {
      error(s, "unknown operand name " + t);
      return true;
    }
    p->opnd = it->second;
  } else {
    p->opname = t;
  }
  return true;
}

const char *const NFETCH_OPS[] = {"add", "sub", "mul", "div", "rem", "push", "neg",
                                  "eq",  "ne",  "lt",  "le",  "gt",  "ge"};
const char *const SFETCH_OPS[] = {"spush", "scat", "seq", "sne", "slt", "sle", "sgt", "sge"};
const char *const OPERAND_OPS[] = {"store", "ssub", "sstore", "sstorel", "ssubcat"};

bool in_list(const std::string &m, const char *const *list, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (m == list[i]) return true;
  return false;
}

// the operation number of an operand-group base mnemonic
int base_operation(const std::string &m) {
  for (int b = 0; b < 96; b++) {
    const zopcode &op = zopcodes[b | 0x80];
    if (op.shape != OPS_CONST && m == op.mnemonic) return b & ZOP_OPER;
  }
  return -1;
}

uint8_t opcode_of(int oper, int form, int src) {
  return uint8_t(oper | form << 5 | src << 7);
}

// the operand bytes of a numeric constant in the form of code
bool numeric_constant(pa_state &s, uint8_t code, const std::string &t, pa_item &it) {
  int form = (code & ZOP_FORM) >> 5;
  if (form == 1) {
    if (!t.empty()) error(s, "this form takes no operand");
    return true;
  }
  std::vector<uint8_t> raw;
  uint8_t num[8];
  if (form == 0) {
    long v;
    int val;
    if (t.rfind("0x", 0) == 0 && parse_long(t, &v) && v >= 0 && v <= 255) {
      it.parts.push_back(bytes_part({uint8_t(v)}));
    } else if (pt_parse_number(t, num) && pt_packed_number(num, &raw.emplace_back()) &&
               pt_packed_value(raw[0], &val)) {
      it.parts.push_back(bytes_part(raw));
    } else {
      error(s, "not a packed constant (0 to 99, or a byte 0x..): " + t);
    }
    return true;
  }
  if (parse_braces(t, &raw)) {
    it.parts.push_back(bytes_part(raw));
  } else if (pt_parse_number(t, num)) {
    it.parts.push_back(bytes_part(pt_inline_number(num)));
  } else {
    error(s, "not a number: " + t);
  }
  return true;
}

void string_constant(pa_state &s, uint8_t code, const std::string &t, pa_item &it) {
  int form = (code & ZOP_FORM) >> 5;
  std::vector<uint8_t> str;
  if (form == 1) {
    if (!t.empty()) error(s, "this form takes no operand");
    return;
  }
  long v;
  if (form == 0 && parse_long(t, &v) && v >= 0 && v <= 255) {
    it.parts.push_back(bytes_part({uint8_t(v)}));
    return;
  }
  if (!parse_string(t, &str)) return error(s, "not a string: " + t);
  if (form == 0) {
    if (str.size() != 1) return error(s, "one character expected: " + t);
    it.parts.push_back(bytes_part(str));
    return;
  }
  if (str.size() > 255) return error(s, "string longer than 255 characters");
  str.insert(str.begin(), uint8_t(str.size()));
  it.parts.push_back(bytes_part(str));
}

// operand-group instruction written with its base mnemonic: the operand
// chooses source and form
void auto_fetch(pa_state &s, const std::string &m, int oper, zop_shape shape,
                const std::vector<std::string> &ops, pa_item &it) {
  if (ops.size() != 1) return error(s, m + " takes one operand");
  const std::string &t = ops[0];
  pa_part var;
  int subs;
  bool is_literal = !t.empty() && (t[0] == '"' || t[0] == '\'' || t[0] == '{' ||
                                   std::isdigit(static_cast<unsigned char>(t[0])) ||
                                   ((t[0] == '-' || t[0] == '.') && t.size() > 1));
  if (shape == OPS_OPERAND || !is_literal) {
    if (!parse_var(s, t, &var, &subs)) return error(s, "bad operand: " + t);
    it.parts.push_back(bytes_part({opcode_of(oper, subs, 1)}));
    it.parts.push_back(var);
    return;
  }
  if (shape == OPS_SFETCH) {
    std::vector<uint8_t> str;
    if (!parse_string(t, &str)) return error(s, "not a string: " + t);
    int form = str.empty() ? 1 : str.size() == 1 ? 0 : 2;
    uint8_t code = opcode_of(oper, form, 0);
    it.parts.push_back(bytes_part({code}));
    if (form != 1) string_constant(s, code, t, it);
    return;
  }
  uint8_t num[8], b;
  if (!pt_parse_number(t, num)) return error(s, "not a number: " + t);
  static const uint8_t ONE[8] = {0x10, 0, 0, 0, 0, 0, 0, 0x41};
  int val;
  if (oper == 6 && pt_packed_number(num, &b) && pt_packed_value(b, &val) && val <= 15) {
    it.parts.push_back(bytes_part({uint8_t(val << 4 | 15)}));  // constant opcode
  } else if (std::memcmp(num, ONE, 8) == 0) {
    it.parts.push_back(bytes_part({opcode_of(oper, 1, 0)}));
  } else if (pt_packed_number(num, &b) && pt_packed_value(b, &val)) {
    it.parts.push_back(bytes_part({opcode_of(oper, 0, 0), b}));
  } else {
    it.parts.push_back(bytes_part({opcode_of(oper, 2, 0)}));
    it.parts.push_back(bytes_part(pt_inline_number(num)));
  }
}

void instr_call(pa_state &s, const zopcode &op, const std::vector<std::string> &ops, pa_item &it) {
  if (ops.size() != 2) return error(s, "call takes a function or procedure and a count");
  long n, m;
  if (!parse_long(ops[1], &m) || m < 0 || m > 255) return error(s, "bad argument count: " + ops[1]);
  it.parts.push_back(bytes_part({op.code}));
  if (parse_long(ops[0], &n)) {
    if (n < 0 || n > 255) return error(s, "bad function number: " + ops[0]);
    it.parts.push_back(bytes_part({uint8_t(n), uint8_t(m)}));
    return;
  }
  if (!is_name(ops[0])) return error(s, "bad procedure: " + ops[0]);
  // procedures may be declared later: resolved as an expression
  pa_expr e;
  e.terms.push_back({1, "$proc$" + ops[0]});
  it.parts.push_back(expr_part(e, 1));
  it.parts.push_back(bytes_part({uint8_t(m)}));
}

void instr_io(pa_state &s, const zopcode &op, const std::vector<std::string> &ops, pa_item &it) {
  if (ops.empty()) return error(s, "io needs an operation");
  long v;
  int opn = pt_io_op_number(ops[0]);
  if (opn < 0) {
    if (!parse_long(ops[0], &v) || v < 0 || v > 255)
      return error(s, "unknown I/O operation: " + ops[0]);
    opn = int(v);
  }
  if (ops.size() - 1 > 255) return error(s, "too many options");
  std::vector<uint8_t> b{op.code, uint8_t(opn), uint8_t(ops.size() - 1)};
  for (size_t i = 1; i < ops.size(); i++) {
    const std::string &o = ops[i];
    if (o.size() == 1 && o[0] >= '@' && o[0] <= 'Z') {
      b.push_back(uint8_t(o[0] - '@'));
    } else if (parse_long(o, &v) && v >= 0 && v <= 255) {
      b.push_back(uint8_t(v));
    } else {
      return error(s, "bad option: " + o);
    }
  }
  it.parts.push_back(bytes_part(b));
}

void instr_jump(pa_state &s, const zopcode &op, bool force_short,
                const std::vector<std::string> &ops, pa_item &it) {
  pa_expr e;
  if (ops.size() != 1 || !parse_expr(ops[0], &e))
    return error(s, std::string(op.mnemonic) + " needs a target");
  it.parts.push_back(bytes_part({uint8_t(op.code & 0x7F)}));
  pa_part p;
  p.kind = PP_JUMP;
  p.e = e;
  it.parts.push_back(p);
  it.jump = op.code & 0x80 ? PJ_LONG : force_short ? PJ_SHORT : PJ_AUTO;
  it.is_long = it.jump == PJ_LONG;
}

// an instruction by its table row
void instr_exact(pa_state &s, const zopcode &op, bool force_short,
                 const std::vector<std::string> &ops, pa_item &it) {
  std::string t = ops.empty() ? "" : ops[0];
  pa_part var;
  int subs;
  switch (op.shape) {
    case OPS_BAD:
    case OPS_NONE:
    case OPS_CONST:
      if (!ops.empty()) error(s, std::string(op.mnemonic) + " takes no operand");
      it.parts.push_back(bytes_part({op.code}));
      return;
    case OPS_NFETCH:
    case OPS_SFETCH:
      if (ops.size() > 1) return error(s, "one operand expected");
      it.parts.push_back(bytes_part({op.code}));
      if (op.code & ZOP_SOURCE) {
        if (!parse_var(s, t, &var, &subs) || subs) return error(s, "bad operand: " + t);
        it.parts.push_back(var);
      } else if (op.shape == OPS_NFETCH) {
        numeric_constant(s, op.code, t, it);
      } else {
        string_constant(s, op.code, t, it);
      }
      return;
    case OPS_OPERAND:
      if (ops.size() != 1 || !parse_var(s, t, &var, &subs) || subs)
        return error(s, "bad operand: " + t);
      it.parts.push_back(bytes_part({op.code}));
      it.parts.push_back(var);
      return;
    case OPS_JUMP:
      return instr_jump(s, op, force_short, ops, it);
    case OPS_TABLE: {
      if (ops.empty() || ops.size() > 255) return error(s, "a table of 1 to 255 targets expected");
      it.parts.push_back(bytes_part({op.code, uint8_t(ops.size())}));
      for (const std::string &o : ops) {
        pa_expr e;
        if (!parse_expr(o, &e)) return error(s, "bad target: " + o);
        it.parts.push_back(expr_part(e, 0));
      }
      return;
    }
    case OPS_CALL:
      return instr_call(s, op, ops, it);
    case OPS_MACH: {
      long v;
      if (ops.size() != 1 || !parse_long(t, &v) || v < 0 || v > 255)
        return error(s, "mach needs a command byte");
      it.parts.push_back(bytes_part({op.code, uint8_t(v)}));
      return;
    }
    case OPS_IO:
      return instr_io(s, op, ops, it);
  }
}

// builds one instruction item; false when the mnemonic is unknown
bool instruction(pa_state &s, std::string m, const std::vector<std::string> &ops, pa_item &it) {
  static const std::map<std::string, int> aliases = {{"restore", MACH_RESTORE},
                                                     {"stop", MACH_STOP},
                                                     {"trap", MACH_TRAP},
                                                     {"untrap", MACH_UNTRAP},
                                                     {"raise", MACH_RAISE}};
  auto al = aliases.find(m);
  if (al != aliases.end()) {
    if (!ops.empty()) error(s, m + " takes no operand");
    it.parts.push_back(bytes_part({uint8_t(0x60 | OPC_MACH), uint8_t(al->second)}));
    return true;
  }
  if (in_list(m, NFETCH_OPS, std::size(NFETCH_OPS)) ||
      in_list(m, SFETCH_OPS, std::size(SFETCH_OPS)) ||
      in_list(m, OPERAND_OPS, std::size(OPERAND_OPS))) {
    int oper = base_operation(m);
    auto_fetch(s, m, oper, zopcodes[oper | 0x80].shape, ops, it);
    return true;
  }
  if (m == "ongoto" || m == "ongosub" || m == "ongoto.l" || m == "ongosub.l") {
    // the targets in the order of n: the table lists them from the last
    std::vector<std::string> table(ops.begin(), ops.begin() + (ops.empty() ? 0 : 1));
    for (size_t i = ops.size(); i > 1; i--) table.push_back(ops[i - 1]);
    bool sub = m.compare(0, 7, "ongosub") == 0;
    std::string name = std::string(sub ? "gosubc" : "jmpc") + (m.back() == 'l' ? ".l" : "");
    instr_exact(s, *zop_find(name.c_str()), false, table, it);
    return true;
  }
  bool force_short = false;
  if (m.size() > 2 && m.compare(m.size() - 2, 2, ".s") == 0) {
    const zopcode *j = zop_find(m.substr(0, m.size() - 2).c_str());
    if (j && j->shape == OPS_JUMP && !(j->code & 0x80)) {
      force_short = true;
      m.resize(m.size() - 2);
    }
  }
  const zopcode *op = zop_find(m.c_str());
  if (!op) return false;
  instr_exact(s, *op, force_short, ops, it);
  return true;
}

// true for the words a macro may not take: mnemonics and declarations
bool is_mnemonic(const std::string &m) {
  static const char *const words[] = {"num",  "str",    "vstr",  "param",  "restore", "stop",
                                      "trap", "untrap", "raise", "ongoto", "ongosub"};
  if (in_list(m, words, std::size(words)) || in_list(m, NFETCH_OPS, std::size(NFETCH_OPS)) ||
      in_list(m, SFETCH_OPS, std::size(SFETCH_OPS)) ||
      in_list(m, OPERAND_OPS, std::size(OPERAND_OPS)))
    return true;
  size_t dot = m.find('.');
  return zop_find(m.c_str()) || (dot != std::string::npos && zop_find(m.substr(0, dot).c_str()));
}

// ---- DATA items ------------------------------------------------------------

void data_items(pa_state &s, const std::vector<std::string> &ops, std::vector<uint8_t> &out) {
  for (const std::string &t : ops) {
    std::vector<uint8_t> b;
    uint8_t num[8];
    if (parse_braces(t, &b)) {
      out.insert(out.end(), b.begin(), b.end());
    } else if (parse_string(t, &b)) {
      if (b.size() > 255) return error(s, "DATA string longer than 255 characters");
      out.push_back(uint8_t(b.size()));
      out.insert(out.end(), b.begin(), b.end());
    } else if (pt_parse_number(t, num)) {
      std::vector<uint8_t> in = pt_data_number(num);
      out.insert(out.end(), in.begin(), in.end());
    } else {
      return error(s, "bad DATA item: " + t);
    }
  }
}

// a DATA block: long jump over it, end, link, items
void data_block(pa_state &s, const pa_expr &link, const std::vector<std::string> &ops, pa_item &it,
                const std::string &end_label) {
  std::vector<uint8_t> items;
  data_items(s, ops, items);
  pa_expr end;
  end.terms.push_back({1, end_label});
  it.parts.push_back(bytes_part({uint8_t(0xE0 | OPC_JMP)}));
  it.parts.push_back(expr_part(end, 0));
  it.parts.push_back(expr_part(link, 0));
  it.parts.push_back(bytes_part(items));
}

// ---- routine mode ------------------------------------------------------------

pa_routine *current(pa_state &s) {
  if (s.cur < 0) {
    error(s, "not inside a routine (.main or .proc)");
    return nullptr;
  }
  return &s.routines[size_t(s.cur)];
}

bool want_mode(pa_state &s, int mode) {
  if (s.mode == 0) s.mode = mode;
  if (s.mode == mode) return true;
  error(s, mode == 1 ? "routines cannot be mixed with .org placement"
                     : "placement directives cannot be mixed with routines");
  return false;
}

// num / str / vstr / param declarations
void declare(pa_state &s, const std::string &kw, const std::string &rest) {
  pa_routine *r = current(s);
  if (!r) return;
  std::string t = ptx_trim(rest);
  pa_var v;
  bool param = kw == "param";
  std::string kind = kw;
  if (param) {
    size_t sp = t.find_first_of(" \t");
    kind = t.substr(0, sp);
    t = sp == std::string::npos ? "" : ptx_trim(t.substr(sp));
    if (r->vars.size() > size_t(std::count_if(r->vars.begin(), r->vars.end(),
                                              [](const pa_var &x) { return x.param; })))
      return error(s, "parameters must come before the other variables");
  }
  if (kind != "num" && kind != "str" && kind != "vstr")
    return error(s, "num, str or vstr expected");
  // NAME [(d1 [, d2])] [common ADDR | unbound]
  size_t i = 0;
  while (i < t.size() && ptx_is_ident(t[i])) i++;
  v.name = t.substr(0, i);
  if (!is_name(v.name)) return error(s, "bad variable name");
  for (const pa_var &o : r->vars)
    if (o.name == v.name) return error(s, "variable " + v.name + " declared twice");
  t = ptx_trim(t.substr(i));
  std::vector<long> dims;
  bool has_parens = false;
  if (!t.empty() && t[0] == '(') {
    size_t close = t.find(')');
    if (close == std::string::npos) return error(s, "missing )");
    has_parens = true;
    for (const std::string &d : ptx_split_operands(t.substr(1, close - 1))) {
      long x = 0;
      if (!d.empty() && (!parse_long(d, &x) || x < 0 || x > 65535))
        return error(s, "bad dimension: " + d);
      dims.push_back(x);
    }
    t = ptx_trim(t.substr(close + 1));
  }
  if (dims.size() > 2) return error(s, "at most two dimensions");
  bool common = false, unbound = param;
  long caddr = 0;
  if (t.rfind("common", 0) == 0) {
    common = true;
    if (!parse_long(ptx_trim(t.substr(6)), &caddr) || caddr < 0)
      return error(s, "common needs an address");
  } else if (t == "unbound") {
    unbound = true;
  } else if (!t.empty()) {
    return error(s, "unexpected: " + t);
  }
  uint64_t size;
  if (kind == "num") {
    v.type = dims.empty() && !has_parens ? 0 : dims.size() == 2 ? 0x03 : 0x02;
    v.d1 = uint16_t(dims.size() > 0 ? dims[0] : 0);
    v.d2 = uint16_t(dims.size() > 1 ? dims[1] : 0);
    size = 8ull * (v.type & 2 ? v.d1 : 1) * (v.type & 1 ? v.d2 : 1);
  } else {
    if (!param && dims.empty())
      return error(s, "a string needs its length: " + kind + " NAME(len)");
    v.type = uint8_t((kind == "str" ? 0x62 : 0x22) |
                     (dims.size() == 2 || (param && has_parens) ? 1 : 0));
    v.d1 = uint16_t(dims.size() > 0 ? dims[0] : 0);
    v.d2 = uint16_t(dims.size() > 1 ? dims[1] : kind == "str" ? v.d1 : 0);
    size = uint64_t(v.d1) * (v.type & 1 ? v.d2 : 1);
  }
  if (param) {
    v.type = uint8_t((v.type & DSC_SHAPE) | DSC_IND);
    v.d1 = v.d2 = 0;
  }
  v.param = param;
  if (common) {
    v.type |= DSC_ABS;
    v.addr.k = caddr;
    r->vars.push_back(v);
    s.common_end = std::max(s.common_end, caddr + long(size));
    return;
  }
  if (!unbound) {
    if (size > 0xFFFFFF) return error(s, "variable too large");
    v.storage = uint32_t(size);
  }
  r->vars.push_back(v);
}

void start_routine(pa_state &s, bool is_main, const std::string &rest) {
  if (!want_mode(s, 1)) return;
  pa_routine r;
  r.is_main = is_main;
  r.line = s.line;
  std::string t = ptx_trim(rest);
  if (is_main) {
    for (const pa_routine &o : s.routines)
      if (o.is_main) return error(s, "a second .main");
    if (t.size() >= 2 && t.compare(t.size() - 2, 2, "()") == 0) {
      r.callable = true;
      t = ptx_trim(t.substr(0, t.size() - 2));
    }
    r.name = t.empty() ? "MAIN" : t;
  } else {
    r.name = t;
  }
  if (!is_name(r.name)) return error(s, "bad routine name: " + r.name);
  for (const pa_routine &o : s.routines)
    if (o.name == r.name) return error(s, "routine " + r.name + " defined twice");
  if (!s.defined.insert(r.name).second) return error(s, "name " + r.name + " defined twice");
  s.routines.push_back(r);
  s.cur = int(s.routines.size()) - 1;
}

void add_label(pa_state &s, const std::string &name) {
  if (!is_name(name) || name[0] == '$') return error(s, "bad label: " + name);
  if (!s.defined.insert(name).second) return error(s, "label " + name + " defined twice");
  pa_item it;
  it.kind = PI_LABEL;
  it.line = s.line;
  it.label = name;
  if (s.mode == 1) {
    pa_routine *r = current(s);
    if (!r) return;
    r->code.push_back(it);
    r->labels.push_back(name);
  } else {
    s.mode = 2;
    s.items.push_back(it);
  }
}

void add_code(pa_state &s, pa_item &it) {
  it.line = s.line;
  if (s.mode == 1) {
    pa_routine *r = current(s);
    if (r) r->code.push_back(it);
  } else {
    if (!want_mode(s, 2)) return;
    s.items.push_back(it);
  }
}

// ---- directives --------------------------------------------------------------

void dir_data(pa_state &s, const std::vector<std::string> &ops) {
  pa_routine *r = current(s);
  if (!r) return;
  std::string lab = "$data" + std::to_string(s.data_count++);
  pa_item l;
  l.kind = PI_LABEL;
  l.label = lab;
  l.line = s.line;
  r->code.push_back(l);
  // the link of the previous block points at this block's link field
  pa_expr none;
  if (r->last_data >= 0) {
    pa_expr &link = r->code[size_t(r->last_data)].parts[2].e;
    link.terms = {{1, lab}};
    link.k = 1 + adr_len(s);
  }
  r->data.push_back(lab);
  pa_item it;
  data_block(s, none, ops, it, "$end" + lab);
  it.line = s.line;
  r->last_data = long(r->code.size());
  r->code.push_back(it);
  pa_item e;
  e.kind = PI_LABEL;
  e.label = "$end" + lab;
  e.line = s.line;
  r->code.push_back(e);
}

void dir_placed(pa_state &s, const std::string &d, const std::vector<std::string> &ops) {
  if (!want_mode(s, 2)) return;
  pa_item it;
  it.line = s.line;
  long v;
  pa_expr e;
  if (d == ".org") {
    if (ops.size() != 1 || !parse_long(ops[0], &v) || v < 0 || v > 0xFFFFFF)
      return error(s, ".org needs an offset");
    it.kind = PI_ORG;
    it.n = uint32_t(v);
    s.items.push_back(it);
  } else if (d == ".byte") {
    std::vector<uint8_t> b, str;
    for (const std::string &o : ops) {
      if (parse_string(o, &str))
        b.insert(b.end(), str.begin(), str.end());
      else if (parse_braces(o, &str))
        b.insert(b.end(), str.begin(), str.end());
      else if (parse_long(o, &v) && v >= -128 && v <= 255)
        b.push_back(uint8_t(v));
      else
        return error(s, "bad byte: " + o);
    }
    it.parts.push_back(bytes_part(b));
    s.items.push_back(it);
  } else if (d == ".word" || d == ".addr") {
    for (const std::string &o : ops) {
      if (!parse_expr(o, &e)) return error(s, "bad value: " + o);
      it.parts.push_back(expr_part(e, d == ".word" ? 2 : 0));
    }
    s.items.push_back(it);
  } else if (d == ".desc") {
    long t, d1, d2;
    if (ops.size() != 4 || !parse_long(ops[0], &t) || t < 0 || t > 255 || !parse_expr(ops[1], &e) ||
        !parse_long(ops[2], &d1) || !parse_long(ops[3], &d2) || d1 < 0 || d1 > 65535 || d2 < 0 ||
        d2 > 65535)
      return error(s, ".desc needs type, address, dim1, dim2");
    it.parts.push_back(bytes_part({uint8_t(t)}));
    it.parts.push_back(expr_part(e, 0));
    it.parts.push_back(bytes_part({uint8_t(d1 >> 8), uint8_t(d1), uint8_t(d2 >> 8), uint8_t(d2)}));
    s.items.push_back(it);
  } else if (d == ".datablk") {
    if (ops.empty() || !parse_expr(ops[0], &e)) return error(s, ".datablk needs the link");
    std::string lab = "$end$data" + std::to_string(s.data_count++);
    data_block(s, e, {ops.begin() + 1, ops.end()}, it, lab);
    s.items.push_back(it);
    pa_item l;
    l.kind = PI_LABEL;
    l.label = lab;
    l.line = s.line;
    s.items.push_back(l);
  }
}

void dir_debug(pa_state &s, const std::string &d, const std::vector<std::string> &ops) {
  std::vector<uint8_t> name;
  if (d == ".dbgheader") {
    if (ops.size() != 3) return error(s, ".dbgheader needs routines, symbols, start");
    for (int i = 0; i < 3; i++)
      if (!parse_long(ops[size_t(i)], &s.dbg_header[i]) || s.dbg_header[i] < 0 ||
          s.dbg_header[i] > 65535)
        return error(s, "bad .dbgheader value");
    s.dbg_header_set = true;
  } else if (d == ".dbgroutine") {
    pa_dbgroutine r;
    if (ops.size() != 3 || !parse_string(ops[0], &name) || !parse_long(ops[1], &r.varbg) ||
        !parse_long(ops[2], &r.probg))
      return error(s, ".dbgroutine needs name, varbg, probg");
    r.name.assign(name.begin(), name.end());
    s.dbg.push_back(r);
  } else {
    pa_dbgsym y;
    if (s.dbg.empty()) return error(s, ".dbgsym before any .dbgroutine");
    if (ops.size() != 7 || !parse_string(ops[0], &name))
      return error(s, ".dbgsym needs name and six numbers");
    y.name.assign(name.begin(), name.end());
    for (int i = 0; i < 6; i++) {
      std::vector<uint8_t> ch;
      if (parse_string(ops[size_t(i) + 1], &ch) && ch.size() == 1)
        y.v[i] = ch[0];
      else if (!parse_long(ops[size_t(i) + 1], &y.v[i]))
        return error(s, "bad .dbgsym value");
    }
    s.dbg.back().syms.push_back(y);
  }
  s.debug = true;
}

void directive(pa_state &s, const std::string &d, const std::string &rest) {
  std::vector<std::string> ops = ptx_split_operands(rest);
  long v;
  if (d == ".pcode") {
    if (s.version_set || !s.routines.empty() || !s.items.empty())
      return error(s, ".pcode must come first, once");
    if (rest == "16" || rest == "129")
      s.version = 129;
    else if (rest == "24" || rest == "130")
      s.version = 130;
    else
      return error(s, ".pcode takes 16 or 24");
    s.version_set = true;
  } else if (d == ".flags") {
    if (!parse_long(rest, &v) || v < 0 || v > 65535) return error(s, ".flags needs a number");
    s.flags = v;
    s.flags_set = true;
    s.wide = v & 1;
  } else if (d == ".mainblock") {
    if (rest != "4" && rest != "5") return error(s, ".mainblock takes 4 or 5");
    s.mainblock = rest[0] - '0';
  } else if (d == ".common") {
    if (!parse_long(rest, &v) || v < 0 || v > 65535) return error(s, ".common needs 0 to 65535");
    s.common = v;
  } else if (d == ".debug") {
    s.debug = true;
  } else if (d == ".main" || d == ".proc") {
    start_routine(s, d == ".main", rest);
  } else if (d == ".end") {
    s.cur = -1;
  } else if (d == ".data") {
    dir_data(s, ops);
  } else if (d == ".opnd") {
    std::vector<std::string> w = ptx_split_operands(rest);
    if (w.size() != 2 || !is_name(w[0]) || !parse_long(w[1], &v) || v < 0)
      return error(s, ".opnd needs name, index");
    s.opnds[w[0]] = v;
  } else if (d == ".org" || d == ".byte" || d == ".word" || d == ".addr" || d == ".desc" ||
             d == ".datablk") {
    dir_placed(s, d, ops);
  } else if (d == ".dbgheader" || d == ".dbgroutine" || d == ".dbgsym") {
    dir_debug(s, d, ops);
  } else if (d == ".raw") {
    s.raw = true;
  } else if (d == ".rawrecord" || d == ".rawtail") {
    s.raw = true;
    std::vector<uint8_t> b;
    if (!parse_braces(rest, &b)) return error(s, d + " needs {hex bytes}");
    if (d == ".rawtail")
      s.raw_tail.insert(s.raw_tail.end(), b.begin(), b.end());
    else
      s.raw_records.push_back(b);
  } else {
    error(s, "unknown directive " + d);
  }
}

void parse_line(pa_state &s, const std::string &raw) {
  std::string l = ptx_trim(ptx_strip_comment(raw));
  if (l.empty()) return;
  // labels: NAME: at the start
  size_t i = 0;
  while (i < l.size() && ptx_is_ident(l[i])) i++;
  if (i > 0 && i < l.size() && l[i] == ':') {
    add_label(s, l.substr(0, i));
    l = ptx_trim(l.substr(i + 1));
    if (l.empty()) return;
  }
  size_t sp = l.find_first_of(" \t");
  std::string m = l.substr(0, sp);
  std::string rest = sp == std::string::npos ? "" : ptx_trim(l.substr(sp));
  for (char &c : m) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (m[0] == '.') return directive(s, m, rest);
  if (m == "num" || m == "str" || m == "vstr" || m == "param") {
    if (s.mode != 1) return error(s, "variables belong to a routine");
    return declare(s, m, rest);
  }
  pa_item it;
  if (!instruction(s, m, ptx_split_operands(rest), it)) return error(s, "unknown mnemonic " + m);
  if (!it.parts.empty()) add_code(s, it);
}

// ---- layout of routine mode ------------------------------------------------

pa_expr lab(const std::string &name, long k = 0) {
  pa_expr e;
  e.terms.push_back({1, name});
  e.k = k;
  return e;
}

void push_label(std::vector<pa_item> &v, const std::string &name) {
  pa_item it;
  it.kind = PI_LABEL;
  it.label = name;
  v.push_back(it);
}

void push_parts(std::vector<pa_item> &v, std::vector<pa_part> parts) {
  pa_item it;
  it.parts = std::move(parts);
  v.push_back(it);
}

// resolves variable names of a routine's code to descriptor indexes
void resolve_names(pa_state &s, pa_routine &r) {
  for (pa_item &it : r.code)
    for (pa_part &p : it.parts) {
      if (p.kind != PP_OPND || p.opname.empty()) continue;
      long k = -1;
      for (size_t i = 0; i < r.vars.size(); i++)
        if (r.vars[i].name == p.opname) k = long(i);
      s.line = it.line;
      if (k < 0)
        error(s, "unknown variable " + p.opname + " in " + r.name);
      else if (k > pt_operand_max(s.wide))
        error(s, "too many variables for the operand form; use .flags 1");
      p.opnd = k;
      p.opname.clear();
    }
}

void layout_routine(pa_state &s, size_t ri) {
  pa_routine &r = s.routines[ri];
  std::string p = "$r" + std::to_string(ri);
  int a = adr_len(s);
  resolve_names(s, r);
  push_label(s.items, p + "_block");
  push_parts(s.items, {bytes_part({1}), expr_part(lab(p + "_next"), 0),
                       expr_part(lab(p + "_ds"), 0), expr_part(lab(p + "_de"), 0)});
  push_label(s.items, r.name);
  pa_expr zero;
  pa_expr first_data = r.data.empty() ? zero : lab(r.data[0]);
  std::vector<uint8_t> tail(size_t(3 * a + 1), 0);
  int nparams = 0;
  for (const pa_var &v : r.vars) nparams += v.param;
  if (!r.is_main || r.callable) {
    tail.push_back('w');
    tail.push_back(uint8_t(nparams));
  } else if (nparams) {
    s.line = r.line;
    error(s, "parameters of the main routine need .main NAME()");
  }
  push_parts(s.items, {expr_part(lab(p + "_ds"), 0), expr_part(zero, 0), expr_part(first_data, 0),
                       bytes_part(tail)});
  for (pa_item &it : r.code) s.items.push_back(it);
  push_label(s.items, p + "_ds");
  uint32_t off = 0;
  for (pa_var &v : r.vars) {
    pa_expr addr = v.addr;
    if (!(v.type & DSC_ABS) && v.storage) addr = lab(p + "_de", long(off));
    off += v.storage;
    push_parts(
        s.items,
        {bytes_part({v.type}), expr_part(addr, 0),
         bytes_part({uint8_t(v.d1 >> 8), uint8_t(v.d1), uint8_t(v.d2 >> 8), uint8_t(v.d2)})});
  }
  push_label(s.items, p + "_de");
  pa_item skip;
  skip.kind = PI_SKIP;
  skip.n = off;
  s.items.push_back(skip);
  push_label(s.items, p + "_next");
}

void layout_routines(pa_state &s) {
  size_t main_at = s.routines.size();
  for (size_t i = 0; i < s.routines.size(); i++)
    if (s.routines[i].is_main) main_at = i;
  if (main_at == s.routines.size()) {
    s.line = 0;
    return error(s, "no .main routine");
  }
  for (size_t i = 0; i < s.routines.size(); i++) layout_routine(s, i);
  // the routine table: one entry per procedure
  std::vector<pa_part> table{bytes_part({2}), expr_part(lab("$rtab_end"), 0)};
  int k = 0;
  for (const pa_routine &r : s.routines)
    if (!r.is_main) {
      table.push_back(expr_part(lab(r.name), 0));
      s.labels["$proc$" + r.name] = uint32_t(ZOP_FIRST_PROC + k++);
    }
  if (ZOP_FIRST_PROC + k > 256) error(s, "more than 191 procedures");
  push_parts(s.items, table);
  push_label(s.items, "$rtab_end");
  // the main block, last: the stack grows from its end
  long flags = s.flags | (s.version == 130 ? ZF_24BIT : 0);
  int type = s.mainblock ? s.mainblock : (flags ? 4 : 5);
  if (type == 5 && flags) error(s, "a type 5 main block cannot carry flags");
  std::vector<pa_part> mb{bytes_part({uint8_t(type)})};
  if (type == 4) mb.push_back(bytes_part({uint8_t(flags >> 8), uint8_t(flags)}));
  mb.push_back(expr_part(lab(s.routines[main_at].name), 0));
  long common = s.common;
  if (common < 0) common = s.common_end;
  if (common > 65535) error(s, "common area larger than 65535 bytes");
  mb.push_back(bytes_part({uint8_t(common >> 8), uint8_t(common)}));
  if (s.version == 130)
    mb.push_back(bytes_part({0, 0, 0, 7, 0, 0, 0}));
  else
    mb.push_back(bytes_part({0, 7, 0, 0}));
  push_parts(s.items, mb);
}

// ---- layout, expressions and output ------------------------------------------

bool eval(pa_state &s, const pa_expr &e, long *v) {
  long x = e.k;
  for (const auto &[sign, name] : e.terms) {
    auto it = s.labels.find(name);
    if (it == s.labels.end()) {
      if (name.rfind("$proc$", 0) == 0)
        error(s, "unknown procedure " + name.substr(6));
      else
        error(s, "undefined label " + name);
      return false;
    }
    x += sign * long(it->second);
  }
  *v = x;
  return true;
}

uint32_t part_size(const pa_state &s, const pa_item &it, const pa_part &p) {
  switch (p.kind) {
    case PP_BYTES:
      return uint32_t(p.bytes.size());
    case PP_EXPR:
      return uint32_t(p.width ? p.width : adr_len(s));
    case PP_OPND:
      return uint32_t(pt_operand_bytes(p.opnd, s.wide).size());
    case PP_JUMP:
      return uint32_t(it.is_long ? adr_len(s) : 1);
  }
  return 0;
}

// positions of all items and labels; false when it passes 16 MB
bool assign_positions(pa_state &s) {
  uint64_t pos = 0;
  for (pa_item &it : s.items) {
    if (it.kind == PI_ORG) pos = it.n;
    it.pos = uint32_t(pos);
    if (it.kind == PI_LABEL) {
      if (it.label.rfind("$proc$", 0) != 0) s.labels[it.label] = uint32_t(pos);
    } else if (it.kind == PI_SKIP) {
      pos += it.n;
    } else if (it.kind == PI_CODE) {
      for (const pa_part &p : it.parts) pos += part_size(s, it, p);
    }
    if (pos > 0xFFFFFF) return false;
  }
  return true;
}

// lays out, widening short jumps that do not reach
bool layout(pa_state &s) {
  for (int pass = 0; pass < 1000; pass++) {
    if (!assign_positions(s)) {
      error(s, "program larger than 16 MB");
      return false;
    }
    bool changed = false;
    for (pa_item &it : s.items) {
      if (it.jump != PJ_AUTO || it.is_long) continue;
      long t;
      auto it_lab = true;
      for (const auto &term : it.parts[1].e.terms)
        if (!s.labels.count(term.second)) it_lab = false;
      if (!it_lab) continue;  // reported when written
      eval(s, it.parts[1].e, &t);
      long d = t - long(it.pos);
      if (d < -128 || d > 127) {
        it.is_long = true;
        changed = true;
      }
    }
    if (!changed) return true;
  }
  return true;
}

struct pa_image {
  std::vector<uint8_t> bytes;    // program area
  std::vector<uint8_t> defined;  // 1 where the program places a byte
};

void put(pa_state &s, pa_image &img, uint32_t pos, const std::vector<uint8_t> &b) {
  if (img.bytes.size() < pos + b.size()) {
    img.bytes.resize(pos + b.size());
    img.defined.resize(pos + b.size());
  }
  for (size_t i = 0; i < b.size(); i++) {
    if (img.defined[pos + i]) {
      char m[80];
      std::snprintf(m, sizeof m, "byte at offset 0x%zx placed twice", pos + i);
      error(s, m);
      return;
    }
    img.bytes[pos + i] = b[i];
    img.defined[pos + i] = 1;
  }
}

std::vector<uint8_t> be(long v, int width) {
  std::vector<uint8_t> b;
  for (int i = width - 1; i >= 0; i--) b.push_back(uint8_t(v >> (8 * i)));
  return b;
}

void emit_item(pa_state &s, pa_image &img, const pa_item &it) {
  s.line = it.line;
  uint32_t pos = it.pos;
  for (const pa_part &p : it.parts) {
    std::vector<uint8_t> b;
    long v;
    switch (p.kind) {
      case PP_BYTES:
        b = p.bytes;
        break;
      case PP_OPND:
        b = pt_operand_bytes(p.opnd, s.wide);
        break;
      case PP_EXPR: {
        int w = p.width ? p.width : adr_len(s);
        if (!eval(s, p.e, &v)) return;
        if (v < (w == 1 ? -128 : 0) || v >= (1l << (8 * w))) {
          error(s, "value " + std::to_string(v) + " does not fit " + std::to_string(w) + " bytes");
          return;
        }
        b = be(v, w);
        break;
      }
      case PP_JUMP: {
        if (!eval(s, p.e, &v)) return;
        if (it.is_long) {
          if (v < 0 || v >= (1l << (8 * adr_len(s)))) return error(s, "jump target out of range");
          b = be(v, adr_len(s));
        } else {
          long d = v - long(it.pos);
          if (d < -128 || d > 127) return error(s, "short jump does not reach its target");
          b = {uint8_t(d)};
        }
        break;
      }
    }
    if (&p == &it.parts[0] && it.is_long) b[0] |= 0x80;
    put(s, img, pos, b);
    pos += uint32_t(b.size());
  }
}

std::vector<uint8_t> record(int version, uint32_t off, const uint8_t *p, size_t n) {
  int hdr = version == 130 ? 5 : 4;
  std::vector<uint8_t> r{uint8_t(hdr + n), uint8_t(version), 0, uint8_t(off), uint8_t(off >> 8)};
  if (hdr == 5) r.push_back(uint8_t(off >> 16));
  r.insert(r.end(), p, p + n);
  r[2] = pt_checksum(r);
  return r;
}

// the debug information records and the 10-byte header
void debug_section(pa_state &s, std::vector<uint8_t> &out, long *nr, long *ns, long *start) {
  *nr = long(s.dbg.size());
  *ns = 0;
  *start = 3;
  for (const pa_dbgroutine &r : s.dbg) {
    std::vector<uint8_t> rec = be(r.varbg, 2);
    for (uint8_t c : be(r.probg, 2)) rec.push_back(c);
    for (uint8_t c : be(long(r.syms.size()), 2)) rec.push_back(c);
    rec.insert(rec.end(), r.name.begin(), r.name.end());
    rec.push_back(0);
    if (rec.size() > 255) return error(s, "routine name too long for the debug information");
    out.push_back(255);
    out.push_back(uint8_t(rec.size()));
    out.insert(out.end(), rec.begin(), rec.end());
    for (const pa_dbgsym &y : r.syms) {
      std::vector<uint8_t> sr;
      for (int i = 0; i < 4; i++)
        for (uint8_t c : be(y.v[i], 2)) sr.push_back(c);
      sr.push_back(uint8_t(y.v[4]));
      sr.push_back(uint8_t(y.v[5]));
      sr.insert(sr.end(), y.name.begin(), y.name.end());
      sr.push_back(0);
      if (sr.size() > 255) return error(s, "symbol name too long for the debug information");
      out.push_back(uint8_t(sr.size()));
      out.insert(out.end(), sr.begin(), sr.end());
      ++*ns;
    }
  }
  out.push_back(255);
  out.push_back(0);
  if (!s.dbg.empty()) *start = s.dbg.front().probg + 3;
  if (s.dbg_header_set) {
    *nr = s.dbg_header[0];
    *ns = s.dbg_header[1];
    *start = s.dbg_header[2];
  }
}

// debug routines and symbols of routine mode
void routine_debug(pa_state &s) {
  int a = adr_len(s);
  std::vector<pa_dbgroutine> main_first;
  for (const pa_routine &r : s.routines) {
    pa_dbgroutine d;
    d.name = r.name;
    d.varbg = long(s.labels["$r" + std::to_string(&r - &s.routines[0]) + "_ds"]);
    long rcod = long(s.labels[r.name]);
    // the code address a procedure call finds its routine by: the position
    // after the state and count bytes less the header length of the width
    d.probg = rcod + 6 * a + 3 - (6 * a + 4);
    for (size_t i = 0; i < r.vars.size(); i++) {
      const pa_var &v = r.vars[i];
      d.syms.push_back({v.name, {long(i) + 2, v.type, v.d1, v.d2, 1, v.param ? '!' : ' '}});
    }
    for (const std::string &l : r.labels)
      d.syms.push_back({l, {long(s.labels[l]), 0, 0, 0, 2, '"'}});
    for (long x : {d.varbg, d.probg})
      if (x < 0 || x > 65535)
        error(s, "debug information holds 16-bit addresses; " + r.name + " lies beyond");
    if (r.is_main)
      main_first.insert(main_first.begin(), d);
    else
      main_first.push_back(d);
  }
  s.dbg = main_first;
}

// cuts the placed bytes into records; none may read as the debug marker
void data_records(pa_state &s, const pa_image &img, std::vector<uint8_t> &file) {
  int hdr = s.version == 130 ? 5 : 4;
  uint32_t maxpay = uint32_t(255 - hdr);
  uint32_t marker_at = s.version == 130 ? 0x060000 : 0;
  size_t i = 0, n = img.bytes.size();
  while (i < n) {
    if (!img.defined[i]) {
      i++;
      continue;
    }
    size_t j = i;
    while (j < n && img.defined[j] && j - i < maxpay) j++;
    // a record may not begin where it would read as the marker
    if (s.version == 130 && j == marker_at && j < n && img.defined[j]) j--;
    if (i == marker_at && (s.version == 130 || img.bytes[i] == 6)) {
      s.line = 0;
      error(s, "a record cannot begin at this offset: it would read as the debug marker");
      return;
    }
    if (s.version == 129 && i > 0xFFFF) {
      s.line = 0;
      error(s, "16-bit program beyond offset 0xFFFF");
      return;
    }
    std::vector<uint8_t> r = record(s.version, uint32_t(i), img.bytes.data() + i, j - i);
    file.insert(file.end(), r.begin(), r.end());
    i = j;
  }
}

void write_file(pa_state &s, const pa_image &img, std::vector<uint8_t> &file) {
  if (s.raw) {
    if (!s.items.empty() || !s.routines.empty())
      return error(s, ".rawrecord cannot be mixed with a program");
    for (const auto &r : s.raw_records) file.insert(file.end(), r.begin(), r.end());
    file.insert(file.end(), s.raw_tail.begin(), s.raw_tail.end());
    return;
  }
  size_t marker_pos = 0;
  if (s.debug) {
    std::vector<uint8_t> m(16, 0);
    file.insert(file.end(), m.begin(), m.end());  // filled in below
  }
  data_records(s, img, file);
  std::vector<uint8_t> last = record(s.version, 0, nullptr, 0);
  file.insert(file.end(), last.begin(), last.end());
  if (!s.debug) return;
  long offset = long(file.size()), nr, ns, start;
  std::vector<uint8_t> sect;
  debug_section(s, sect, &nr, &ns, &start);
  file.insert(file.end(), sect.begin(), sect.end());
  std::vector<uint8_t> m{15, uint8_t(s.version), 0, 0, 0, 6};
  for (uint8_t c : be(offset, 4)) m.push_back(c);
  for (long x : {nr, ns, start})
    for (uint8_t c : be(x, 2)) m.push_back(c);
  m[2] = pt_checksum(m);
  std::copy(m.begin(), m.end(), file.begin() + long(marker_pos));
}

}  // namespace

bool pasm_assemble(const std::string &src, const std::string &srcname, pasm_output &out,
                   const std::vector<std::string> &include_dirs) {
  pa_state s;
  s.srcname = srcname;
  ptx_result text = ptx_expand(src, srcname, include_dirs, is_mnemonic);
  for (const ptx_line &l : text.lines) {
    s.srcname = l.file;
    s.line = l.line;
    s.where = l.where;
    parse_line(s, l.text);
  }
  s.srcname = srcname;
  s.where.clear();
  s.nerrors += text.nerrors;
  if (s.mode == 1) layout_routines(s);
  pa_image img;
  if (s.nerrors == 0 && layout(s)) {
    for (const pa_item &it : s.items)
      if (it.kind == PI_CODE) emit_item(s, img, it);
    if (s.mode == 1 && s.debug && s.nerrors == 0) routine_debug(s);
    if (s.nerrors == 0) write_file(s, img, out.file);
  }
  if (s.nerrors > PA_MAX_ERRORS) out.errors += s.srcname + ": too many errors\n";
  out.errors = text.errors + s.errors + out.errors;
  if (s.nerrors) out.file.clear();
  return s.nerrors == 0;
}
