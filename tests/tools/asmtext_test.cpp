// The assembler's source conveniences: macros (arguments, defaults, labels
// of their own, calls inside macros), include files (beside the includer,
// then the -I folders, nested, cycles), named values, and the messages
// that name the place of a fault in an include file or a macro.  A program
// written with them must give the same file as the one written out by hand.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/asm.h"
#include "tools/dis.h"
#include "tools/toolio.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes assemble(const std::string &src, const std::string &name = "t",
               const std::vector<std::string> &dirs = {}) {
  pasm_output out;
  EXPECT_TRUE(pasm_assemble(src, name, out, dirs)) << out.errors;
  return out.file;
}

std::string errors_of(const std::string &src, const std::string &name = "e",
                      const std::vector<std::string> &dirs = {}) {
  pasm_output out;
  EXPECT_FALSE(pasm_assemble(src, name, out, dirs)) << src;
  EXPECT_TRUE(out.file.empty());
  return out.errors;
}

struct folder {
  std::string dir;
  folder() {
    char tmpl[] = "/tmp/quillon-asmtext-XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
  }
  ~folder() {
    std::string cmd = "rm -rf " + dir;
    if (!dir.empty()) {
      EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
  }
  std::string put(const std::string &name, const std::string &text) {
    std::string path = dir + "/" + name;
    size_t slash = path.rfind('/');
    mkdir(path.substr(0, slash).c_str(), 0755);
    std::ofstream(path) << text;
    return path;
  }
};

TEST(asmtext, macros_give_the_program_written_out_by_hand) {
  const char *with = R"(
.macro say text, ends=1        ; a PRINT of one string
  push \ends
  io   print, C
  spush \text
  iostr
  ioend
.endm
.macro count_to var, limit     ; a loop with labels of its own
  push 0
  store \var
again\@:
  push \var
  add  1
  store \var
  push \var
  lt   \limit
  jt   again\@
.endm
.macro twice var, limit
  count_to \var, \limit
  count_to \var, \limit        ; the labels differ from the first call's
.endm
.main M
  num i
start: say "a;b", 0            ; the label stands before the macro's lines
  say "it's \\ here"
  twice i, 3
  jmp start
)";
  const char *by_hand = R"(
.main M
  num i
start:
  push 0
  io   print, C
  spush "a;b"
  iostr
  ioend
  push 1
  io   print, C
  spush "it's \\ here"
  iostr
  ioend
  push 0
  store i
l1:
  push i
  add 1
  store i
  push i
  lt 3
  jt l1
  push 0
  store i
l2:
  push i
  add 1
  store i
  push i
  lt 3
  jt l2
  jmp start
)";
  EXPECT_EQ(assemble(with), assemble(by_hand));
}

TEST(asmtext, named_values_replace_whole_words_outside_strings) {
  const char *with = R"(
.equ UNIT, 7
.equ NEXT, UNIT                ; a value may use an earlier one
.equ TITLE, "Total"
.equ LEN, 12
.equ e3, 4
.main M
  str  UNITS(LEN)              ; a longer word is not replaced
  push UNIT
  add  NEXT
  add  1e3                     ; nor the letters of a number
  spush TITLE
  spush "UNIT"
  sstore UNITS
)";
  const char *by_hand = R"(
.main M
  str  UNITS(12)
  push 7
  add  7
  add  1000
  spush "Total"
  spush "UNIT"
  sstore UNITS
)";
  EXPECT_EQ(assemble(with), assemble(by_hand));
}

TEST(asmtext, include_files_beside_the_includer_then_in_the_folders) {
  folder f;
  ASSERT_FALSE(f.dir.empty());
  f.put("lib/screen.inc", ".include \"keys.inc\"\n.macro cls\n  spush \"\\x0c\"\n.endm\n");
  f.put("lib/keys.inc", ".equ KEY_F1, 65281\n");
  f.put("src/keys.inc", ".equ KEY_F1, 999\n");  // beside main.pasm, not beside screen.inc
  std::string main =
      f.put("src/main.pasm", ".include \"screen.inc\"\n.main M\n  cls\n  push KEY_F1\n");
  std::string src, err;
  ASSERT_TRUE(tio_read_file(main, &src, &err));
  bytes got = assemble(src, main, {f.dir + "/lib"});
  EXPECT_EQ(got, assemble(".main M\n  spush \"\\x0c\"\n  push 65281\n"));

  // without the folder the include is not found; the message names the line
  EXPECT_EQ(errors_of(src, main).find(main + ":1: include file screen.inc not found\n"), 0u);

  // the pasm program takes the folder with -I
  std::string cmd = std::string(std::getenv("QUILLON_BUILD") ? std::getenv("QUILLON_BUILD") : ".") +
                    "/bin/pasm -I " + f.dir + "/lib -o " + f.dir + "/prog " + main;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::string prog;
  ASSERT_TRUE(tio_read_file(f.dir + "/prog", &prog, &err)) << err;
  EXPECT_EQ(bytes(prog.begin(), prog.end()), got);
}

TEST(asmtext, faults_are_reported_where_they_stand) {
  folder f;
  ASSERT_FALSE(f.dir.empty());
  std::string a = f.put("a.inc", "; a\n.include \"b.inc\"\n");
  std::string b = f.put("b.inc", "\n.include \"a.inc\"\n");
  std::string bad = f.put("bad.inc", ".main M\n  frob 1\n");
  std::string open = f.put("open.inc", ".macro m\n  push 1\n");
  std::string top = f.dir + "/top.pasm";
  struct row {
    std::string src, msg;
  };
  const row rows[] = {
      {".include \"a.inc\"\n", b + ":2: include file a.inc includes itself"},
      {".include \"bad.inc\"\n", bad + ":2: unknown mnemonic frob"},
      {".include \"open.inc\"\n.main M\n", open + ":1: .macro m without .endm"},
      {".include bad.inc\n", top + ":1: .include needs a file name in quotes"},
      {".macro m a\n  push \\a\n  frob\n.endm\n.main M\n  m 1\n",
       top + ":6: unknown mnemonic frob (macro m, line 3)"},
      {".macro m a, b\n.endm\n.main M\n  m 1, 2, 3\n", top + ":4: too many arguments for macro m"},
      {".macro m a, b\n.endm\n.main M\n  m 1\n", top + ":4: macro m needs its argument b"},
      {".macro m a\n  push \\b\n.endm\n.main M\n  m 1\n", top + ":5: macro m has no parameter \\b"},
      {".macro push\n.endm\n", top + ":1: macro push would hide a mnemonic"},
      {".macro jmp\n.endm\n", top + ":1: macro jmp would hide a mnemonic"},
      {".macro str\n.endm\n", top + ":1: macro str would hide a mnemonic"},
      {".macro m\n.endm\n.macro M\n.endm\n", top + ":3: macro M defined twice"},
      {".macro m a, a\n.endm\n", top + ":1: macro parameter a given twice"},
      {".macro m\n.macro n\n.endm\n", top + ":2: a .macro inside a .macro"},
      {".endm\n", top + ":1: .endm without .macro"},
      {".macro m\n  m\n.endm\n.main M\n  m\n", "macro calls nested too deep (macro m, line 2)"},
      {"x: .macro m\n.endm\n", top + ":1: a label cannot stand before .macro"},
      {".equ A, 1\n.equ A, 2\n", top + ":2: value A defined twice"},
      {".equ A\n", top + ":1: .equ needs a name, a comma and a value"},
  };
  for (const row &r : rows)
    EXPECT_NE(errors_of(r.src, top).find(r.msg), std::string::npos)
        << r.src << "gave: " << errors_of(r.src, top);
}

}  // namespace
