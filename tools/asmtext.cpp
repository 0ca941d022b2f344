// asmtext.cpp: the assembler's source text before assembly.  Reads the
// program line by line and hands the assembler plain lines:
//
//   .include "file"         the file's lines in its place; looked for beside
//                           the including file, then in the -I folders
//   .macro NAME a, b=dflt   lines up to .endm form the macro NAME; a line
//   ...  \a  \b  \@         "NAME x, y" is replaced by them, \a and \b by
//   .endm                   the arguments (outside quotes), \@ by a number
//                           that is new for every call (for labels)
//   .equ NAME, text         NAME, standing as a word in later operands
//                           (outside quotes), is replaced by text
//
// Every line keeps the file and line it came from, so that messages name
// the place in the source; a macro's lines name the line of the call and
// the macro's own line.  State lives in one record for one expansion.
#include "tools/asmtext.h"

#include <sys/stat.h>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>

#include "tools/toolio.h"

namespace {

constexpr int PTX_MAX_DEPTH = 32;   // includes and macro calls inside each other
constexpr int PTX_MAX_ERRORS = 30;  // messages kept

struct ptx_body_line {
  std::string text;  // the raw line
  int line;          // its line in the defining file
};

struct ptx_macro {
  std::string name;                 // as written at its definition
  std::vector<std::string> params;  // parameter names
  std::vector<std::string> dflt;    // default texts
  std::vector<bool> has_dflt;       // a default was given
  std::vector<ptx_body_line> body;  // lines up to .endm
  std::string file;                 // where it was defined
  int line = 0;                     // line of its .macro
};

struct ptx_state {
  ptx_result res;                            // lines and messages
  std::vector<std::string> include_dirs;     // -I folders
  bool (*is_mnemonic)(const std::string &);  // names a macro may not take
  std::map<std::string, ptx_macro> macros;   // by lower-case name
  std::map<std::string, std::string> equs;   // named values
  std::string defining;                      // key of the macro being defined, or ""
  std::vector<std::string> open_files;       // include chain, for cycles
  std::string file;                          // current file
  int line = 0;                              // current line in it
  std::string where;                         // macro context of the line
  int calls = 0;                             // macro calls so far (\@)
  int depth = 0;                             // current nesting
};

void error(ptx_state &s, const std::string &msg) {
  if (s.res.nerrors++ < PTX_MAX_ERRORS)
    s.res.errors += s.file + ":" + std::to_string(s.line) + ": " + msg + s.where + "\n";
}

void emit(ptx_state &s, const std::string &text) {
  s.res.lines.push_back({s.file, s.line, text, s.where});
}

std::string lower(std::string t) {
  for (char &c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
  return t;
}

bool is_word(const std::string &t) {
  if (t.empty() || !ptx_is_ident_start(t[0])) return false;
  for (char c : t)
    if (!ptx_is_ident(c)) return false;
  return true;
}

// Copies a quoted string starting at t[i] into out; i ends behind it.
void copy_quoted(const std::string &t, size_t &i, std::string &out) {
  char q = t[i];
  out += t[i++];
  while (i < t.size()) {
    char c = t[i++];
    out += c;
    if (c == '\\' && i < t.size())
      out += t[i++];
    else if (c == q)
      return;
  }
}

// The operand text with the named values replaced.
std::string substitute_equs(const ptx_state &s, const std::string &t) {
  if (s.equs.empty()) return t;
  std::string out;
  size_t i = 0;
  while (i < t.size()) {
    char c = t[i];
    if (c == '"' || c == '\'') {
      copy_quoted(t, i, out);
    } else if (ptx_is_ident_start(c) || std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < t.size() && ptx_is_ident(t[j])) j++;
      std::string word = t.substr(i, j - i);
      auto e = std::isdigit(static_cast<unsigned char>(c)) ? s.equs.end() : s.equs.find(word);
      out += e == s.equs.end() ? word : e->second;
      i = j;
    } else {
      out += c;
      i++;
    }
  }
  return out;
}

// A body line with \param and \@ replaced (outside quotes).
std::string substitute_params(ptx_state &s, const ptx_macro &m, const std::string &t,
                              const std::vector<std::string> &args, int call) {
  std::string out;
  size_t i = 0;
  while (i < t.size()) {
    char c = t[i];
    if (c == '"' || c == '\'') {
      copy_quoted(t, i, out);
      continue;
    }
    if (c == ';') {  // the comment stays as it is
      out += t.substr(i);
      break;
    }
    if (c != '\\' || i + 1 >= t.size()) {
      out += c;
      i++;
      continue;
    }
    if (t[i + 1] == '@') {
      out += std::to_string(call);
      i += 2;
      continue;
    }
    size_t j = i + 1;
    while (j < t.size() && ptx_is_ident(t[j])) j++;
    std::string name = t.substr(i + 1, j - i - 1);
    size_t k = 0;
    while (k < m.params.size() && m.params[k] != name) k++;
    if (k == m.params.size()) {
      error(s, "macro " + m.name + " has no parameter \\" + name);
      out += c;
      i++;
      continue;
    }
    out += args[k];
    i = j;
  }
  return out;
}

void process_line(ptx_state &s, const std::string &raw);

void feed(ptx_state &s, const std::string &text) {
  size_t at = 0;
  while (at <= text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    s.line++;
    process_line(s, text.substr(at, nl - at));
    at = nl + 1;
  }
}

// Ends the text of one file: a macro still open there is an error.
void end_of_file(ptx_state &s) {
  if (s.defining.empty()) return;
  ptx_macro &m = s.macros[s.defining];
  if (m.file != s.file) return;
  int at = s.line;
  s.line = m.line;
  error(s, ".macro " + m.name + " without .endm");
  s.line = at;
  s.macros.erase(s.defining);
  s.defining.clear();
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The include file's path: beside the including file, then in the folders.
std::string find_include(const ptx_state &s, const std::string &name) {
  if (name[0] == '/') return file_exists(name) ? name : "";
  size_t slash = s.file.rfind('/');
  std::string here = slash == std::string::npos ? "" : s.file.substr(0, slash + 1);
  if (file_exists(here + name)) return here + name;
  for (const std::string &d : s.include_dirs)
    if (file_exists(d + "/" + name)) return d + "/" + name;
  return "";
}

void include(ptx_state &s, const std::string &rest) {
  std::string t = ptx_trim(rest);
  if (t.size() < 3 || (t[0] != '"' && t[0] != '\'') || t.back() != t[0])
    return error(s, ".include needs a file name in quotes");
  std::string name = t.substr(1, t.size() - 2);
  std::string path = find_include(s, name);
  if (path.empty()) return error(s, "include file " + name + " not found");
  char canon[PATH_MAX];
  std::string key = realpath(path.c_str(), canon) ? canon : path;
  for (const std::string &f : s.open_files)
    if (f == key) return error(s, "include file " + name + " includes itself");
  if (s.depth >= PTX_MAX_DEPTH) return error(s, "includes nested too deep");
  std::string text, err;
  if (!tio_read_file(path, &text, &err)) return error(s, err);
  std::string file = s.file, where = s.where;
  int line = s.line;
  s.open_files.push_back(key);
  s.depth++;
  s.file = path;
  s.line = 0;
  s.where.clear();
  feed(s, text);
  end_of_file(s);
  s.depth--;
  s.open_files.pop_back();
  s.file = file;
  s.line = line;
  s.where = where;
}

// .macro NAME p1, p2=default
void define_macro(ptx_state &s, const std::string &rest) {
  size_t end = rest.find_first_of(" \t,");
  std::string name = rest.substr(0, end);
  std::string params = end == std::string::npos ? "" : ptx_trim(rest.substr(end));
  if (!params.empty() && params[0] == ',') params = ptx_trim(params.substr(1));
  std::string key = lower(name);
  if (!is_word(name)) return error(s, "bad macro name: " + name);
  if (s.is_mnemonic(key)) return error(s, "macro " + name + " would hide a mnemonic");
  if (s.macros.count(key)) return error(s, "macro " + name + " defined twice");
  ptx_macro m;
  m.name = name;
  m.file = s.file;
  m.line = s.line;
  for (const std::string &p : ptx_split_operands(params)) {
    size_t eq = p.find('=');
    std::string pn = ptx_trim(p.substr(0, eq));
    if (!is_word(pn)) return error(s, "bad macro parameter: " + p);
    for (const std::string &o : m.params)
      if (o == pn) return error(s, "macro parameter " + pn + " given twice");
    m.params.push_back(pn);
    m.has_dflt.push_back(eq != std::string::npos);
    m.dflt.push_back(eq == std::string::npos ? "" : ptx_trim(p.substr(eq + 1)));
  }
  s.macros[key] = m;
  s.defining = key;
}

// a line while a macro is being defined
void body_line(ptx_state &s, const std::string &raw) {
  std::string l = ptx_trim(ptx_strip_comment(raw));
  std::string w = lower(l.substr(0, l.find_first_of(" \t")));
  if (w == ".endm") {
    if (ptx_trim(l.substr(5)) != "") error(s, ".endm takes nothing");
    s.defining.clear();
  } else if (w == ".macro") {
    error(s, "a .macro inside a .macro");
  } else {
    s.macros[s.defining].body.push_back({raw, s.line});
  }
}

void call_macro(ptx_state &s, const ptx_macro &m, const std::string &rest) {
  if (s.depth >= PTX_MAX_DEPTH) return error(s, "macro calls nested too deep");
  std::vector<std::string> args = ptx_split_operands(rest);
  if (args.size() > m.params.size()) return error(s, "too many arguments for macro " + m.name);
  args.resize(m.params.size());
  for (size_t k = 0; k < args.size(); k++) {
    if (!args[k].empty()) continue;
    if (!m.has_dflt[k]) return error(s, "macro " + m.name + " needs its argument " + m.params[k]);
    args[k] = m.dflt[k];
  }
  int call = ++s.calls;
  std::string where = s.where;
  s.depth++;
  for (const ptx_body_line &b : m.body) {
    s.where = " (macro " + m.name + ", line " + std::to_string(b.line) + ")";
    process_line(s, substitute_params(s, m, b.text, args, call));
  }
  s.depth--;
  s.where = where;
}

// .equ NAME, text
void define_equ(ptx_state &s, const std::string &rest) {
  size_t comma = rest.find(',');
  std::string name = ptx_trim(rest.substr(0, comma));
  std::string value = comma == std::string::npos ? "" : ptx_trim(rest.substr(comma + 1));
  if (!is_word(name) || value.empty()) return error(s, ".equ needs a name, a comma and a value");
  if (s.equs.count(name)) return error(s, "value " + name + " defined twice");
  s.equs[name] = substitute_equs(s, value);
}

void process_line(ptx_state &s, const std::string &raw) {
  if (!s.defining.empty()) return body_line(s, raw);
  std::string l = ptx_trim(ptx_strip_comment(raw));
  if (l.empty()) return;
  std::string label;
  size_t i = 0;
  while (i < l.size() && ptx_is_ident(l[i])) i++;
  if (i > 0 && i < l.size() && l[i] == ':') {
    label = l.substr(0, i + 1);
    l = ptx_trim(l.substr(i + 1));
    if (l.empty()) return emit(s, label);
  }
  size_t sp = l.find_first_of(" \t");
  std::string m = l.substr(0, sp);
  std::string rest = sp == std::string::npos ? "" : ptx_trim(l.substr(sp));
  std::string key = lower(m);
  if (key == ".macro" || key == ".equ") {
    if (!label.empty()) return error(s, "a label cannot stand before " + key);
    return key == ".macro" ? define_macro(s, rest) : define_equ(s, rest);
  }
  if (key == ".endm") return error(s, ".endm without .macro");
  if (!label.empty() && (key == ".include" || s.macros.count(key))) {
    emit(s, label);  // the label names the place where the lines begin
    label.clear();
  }
  if (key == ".include") return include(s, rest);
  rest = substitute_equs(s, rest);
  auto mac = s.macros.find(key);
  if (mac != s.macros.end()) return call_macro(s, mac->second, rest);
  emit(s, (label.empty() ? "" : label + " ") + m + (rest.empty() ? "" : " " + rest));
}

}  // namespace

ptx_result ptx_expand(const std::string &src, const std::string &srcname,
                      const std::vector<std::string> &include_dirs,
                      bool (*is_mnemonic)(const std::string &lower)) {
  ptx_state s;
  s.include_dirs = include_dirs;
  s.is_mnemonic = is_mnemonic;
  s.file = srcname;
  char canon[PATH_MAX];
  if (realpath(srcname.c_str(), canon)) s.open_files.push_back(canon);
  feed(s, src);
  end_of_file(s);
  if (s.res.nerrors > PTX_MAX_ERRORS) s.res.errors += srcname + ": too many errors\n";
  return std::move(s.res);
}

std::string ptx_trim(const std::string &t) {
  size_t a = t.find_first_not_of(" \t\r"), b = t.find_last_not_of(" \t\r");
  return a == std::string::npos ? "" : t.substr(a, b - a + 1);
}

bool ptx_is_ident_start(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

bool ptx_is_ident(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

std::string ptx_strip_comment(const std::string &l) {
  char q = 0;
  for (size_t i = 0; i < l.size(); i++) {
    char c = l[i];
    if (q) {
      if (c == '\\')
        i++;
      else if (c == q)
        q = 0;
    } else if (c == '"' || c == '\'') {
      q = c;
    } else if (c == ';') {
      return l.substr(0, i);
    }
  }
  return l;
}

std::vector<std::string> ptx_split_operands(const std::string &t) {
  std::vector<std::string> out;
  std::string cur;
  char q = 0;
  int depth = 0;
  for (size_t i = 0; i < t.size(); i++) {
    char c = t[i];
    if (q) {
      cur += c;
      if (c == '\\' && i + 1 < t.size())
        cur += t[++i];
      else if (c == q)
        q = 0;
      continue;
    }
    if (c == '"' || c == '\'') q = c;
    if (c == '(' || c == '{') depth++;
    if (c == ')' || c == '}') depth--;
    if (c == ',' && depth == 0) {
      out.push_back(ptx_trim(cur));
      cur.clear();
      continue;
    }
    cur += c;
  }
  if (!ptx_trim(cur).empty() || !out.empty()) out.push_back(ptx_trim(cur));
  return out;
}
