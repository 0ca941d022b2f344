// The assembler and disassembler: the encoding of every operand form,
// every opcode by its own mnemonic, automatic jump widths, DATA lists,
// the record cutting around the marker offset, messages for bad input,
// and the round trip of the example programs through pdis.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run/interp/opcodes.h"
#include "tools/asm.h"
#include "tools/dis.h"
#include "tools/pcode.h"
#include "tools/toolio.h"

namespace {

using bytes = std::vector<uint8_t>;

// the bytes that a placed program puts at offset 16
bytes code_of(const std::string &prelude, const std::string &line, std::string *err = nullptr) {
  pasm_output out;
  std::string src = prelude + "\n.opnd x, 0\n.opnd big, 300\n.org 16\nL0:\n" + line + "\n";
  if (!pasm_assemble(src, "t", out)) {
    if (err) *err = out.errors;
    return {};
  }
  pt_file f = pt_read_file(out.file);
  EXPECT_TRUE(f.error.empty()) << f.error;
  return bytes(f.image.begin() + 16, f.image.end());
}

TEST(asm, operand_forms_encode_as_the_interpreter_reads_them) {
  struct row {
    const char *pre, *line;
    bytes want;
  };
  const row rows[] = {
      {"", "add 1", {0x21}},
      {"", "add 7", {0x01, 0x07}},
      {"", "add 25", {0x01, 0x25}},
      {"", "add 12.5", {0x41, 0x03, 0x12, 0x50, 0x42}},
      {"", "add -0.05", {0x41, 0x02, 0x50, 0xBF}},
      {"", "add 0", {0x01, 0x00}},
      {"", "add.n 0", {0x41, 0x00}},
      {"", "add.b 0x0c", {0x01, 0x0C}},
      {"", "add.n {03 12 50 42}", {0x41, 0x03, 0x12, 0x50, 0x42}},
      {"", "add x", {0x81, 0x02}},
      {"", "add x()", {0xA1, 0x02}},
      {"", "add x(,)", {0xC1, 0x02}},
      {"", "add *", {0x81, 0x00}},
      {"", "add big", {0x81, 0x01, 46}},
      {".flags 1", "add x", {0x81, 0x03}},
      {".flags 1", "add %253", {0x81, 0x01, 0x00}},
      {".flags 1", "add %509", {0x81, 0x02, 0x00, 0x00}},
      {".flags 1", "add %1000", {0x81, 0x02, 0x01, 0xEB}},
      {"", "push 7", {0x7F}},
      {"", "push 15", {0xFF}},
      {"", "push 16", {0x06, 0x16}},
      {"", "neg x", {0x87, 0x02}},
      {"", "spush \"\"", {0x30}},
      {"", "spush 'a'", {0x10, 'a'}},
      {"", "spush \"a\\x01\"", {0x50, 0x02, 'a', 0x01}},
      {"", "spush x()", {0xB0, 0x02}},
      {"", "scat \"xy\"", {0x54, 0x02, 'x', 'y'}},
      {"", "store x", {0x88, 0x02}},
      {"", "store x(,)", {0xC8, 0x02}},
      {"", "store0 x", {0x08, 0x02}},
      {"", "ssub x()", {0xB1, 0x02}},
      {"", "sstorel x", {0x93, 0x02}},
      {"", "L1: jmp L1", {0x72, 0x00}},
      {"", "jmp.l L0", {0xF2, 0x00, 0x10}},
      {".pcode 24", "jmp.l L0", {0xF2, 0x00, 0x00, 0x10}},
      {"", "jt 300", {0xF0, 0x01, 0x2C}},
      {"", "jmpc L0, 2, 3", {0x73, 0x03, 0, 16, 0, 2, 0, 3}},
      {"", "gosubc.l L0", {0xF4, 0x01, 0, 16}},
      {"", "call 14, 1", {0x76, 0x0E, 0x01}},
      {"", "call.l 70, 2", {0xF6, 70, 2}},
      {"", "stop", {0x78, 0x01}},
      {"", "trap", {0x78, 0x02}},
      {"", "mach.l 4", {0xF8, 0x04}},
      {"", "io write, A, R", {0x66, 0x03, 0x02, 0x01, 0x12}},
      {"", "io 20, 27", {0x66, 20, 0x01, 27}},
      {"", "loop x", {0x7A, 0x02}},
      {"", "bind2 x", {0x7E, 0x02}},
      {"", "bind.l x", {0xFD, 0x02}},
      {"", "pusha L0", {0x7B, 0x00}},
      {"", "const0", {0x0F}},
      {"", "bad00", {0x00}},
      {"", "and.l", {0xE0}},
  };
  for (const row &r : rows) {
    std::string err;
    EXPECT_EQ(code_of(r.pre, r.line, &err), r.want) << r.line << " " << err;
  }
}

// every opcode byte by its own mnemonic, and pdis gives it back
TEST(asm, every_opcode_assembles_by_its_mnemonic_and_lists_back) {
  std::string src = ".pcode 16\n.opnd v, 5\n.org 16\nL0:\n";
  for (const zopcode &op : zopcodes) {
    std::string operand;
    int form = (op.code & ZOP_FORM) >> 5;
    switch (op.shape) {
      case OPS_NFETCH:
        operand = op.code & 0x80 ? "v" : form == 0 ? "42" : form == 2 ? "3.25" : "";
        break;
      case OPS_SFETCH:
        operand = op.code & 0x80 ? "v" : form == 0 ? "'z'" : form == 2 ? "\"str\"" : "";
        break;
      case OPS_OPERAND:
        operand = "v";
        break;
      case OPS_JUMP:
        operand = "L0";
        break;
      case OPS_TABLE:
        operand = "L0, L0";
        break;
      case OPS_CALL:
        operand = "66, 2";
        break;
      case OPS_MACH:
        operand = "3";
        break;
      case OPS_IO:
        operand = "open, A, L";
        break;
      default:
        break;
    }
    bytes one = code_of(".opnd v, 5", std::string(op.mnemonic) + " " + operand);
    ASSERT_FALSE(one.empty()) << op.mnemonic;
    EXPECT_EQ(one[0], op.code) << op.mnemonic;
    src += "  " + std::string(op.mnemonic) + " " + operand + "\n";
  }
  pasm_output out;
  ASSERT_TRUE(pasm_assemble(src, "all", out)) << out.errors;
  std::string listing = pdis_listing(out.file, false);
  pasm_output again;
  ASSERT_TRUE(pasm_assemble(listing, "listing", again)) << again.errors;
  EXPECT_EQ(again.file, out.file);
  EXPECT_EQ(listing.find("; raw records"), std::string::npos);
}

TEST(asm, jumps_widen_only_when_they_do_not_reach) {
  // forward over 120 bytes fits; over 200 it needs the long form
  for (int pad : {120, 200}) {
    std::string src = ".org 0\n  jmp far\n";
    for (int i = 0; i < pad; i++) src += "  and\n";
    src += "far:\n  jmp 0\n";
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(src, "j", out)) << out.errors;
    pt_file f = pt_read_file(out.file);
    if (pad == 120) {
      EXPECT_EQ(f.image[0], 0x72);
      EXPECT_EQ(f.image[1], 122);
      EXPECT_EQ(f.image[2 + 120], 0x72);  // backward to 0: -122 fits
      EXPECT_EQ(int8_t(f.image[123]), -122);
    } else {
      EXPECT_EQ(f.image[0], 0xF2);
      EXPECT_EQ(f.image[2], 203);
      EXPECT_EQ(f.image[203], 0xF2);  // back to 0 is 203 bytes away
    }
  }
}

TEST(asm, data_lists_chain_their_blocks) {
  const char *src = ".main\n  num n\n  .data 1, 25, 0\n  stop\n  .data \"ab\", -3.5\n";
  pasm_output out;
  ASSERT_TRUE(pasm_assemble(src, "d", out)) << out.errors;
  pt_file f = pt_read_file(out.file);
  // main routine header at 7; its field 2 names the first block
  uint32_t first = uint32_t(f.image[7 + 4]) << 8 | f.image[7 + 5];
  ASSERT_EQ(f.image[first], 0xF2);
  uint32_t end = uint32_t(f.image[first + 1]) << 8 | f.image[first + 2];
  uint32_t link = uint32_t(f.image[first + 3]) << 8 | f.image[first + 4];
  EXPECT_EQ(bytes(f.image.begin() + first + 5, f.image.begin() + end), (bytes{1, 1, 1, 0x25, 0}));
  uint32_t second = link - 3;
  EXPECT_EQ(f.image[second], 0xF2);
  EXPECT_EQ(f.image[end], 0x78);  // execution jumps over the block to stop
  EXPECT_EQ(uint32_t(f.image[second + 3]) << 8 | f.image[second + 4], 0u);  // last link
  EXPECT_EQ(bytes(f.image.begin() + second + 5, f.image.begin() + second + 5 + 7),
            (bytes{2, 'a', 'b', 2, 0x35, 0xC1, 0}));
}

// a 24-bit record starting at 0x060000 would read as the debug marker
TEST(asm, records_never_start_at_the_marker_offset) {
  pasm_output out;
  std::string src = ".pcode 24\n.org 0x05ff00\n";
  for (int i = 0; i < 512; i++) src += "  and\n";
  ASSERT_TRUE(pasm_assemble(src, "m", out)) << out.errors;
  pt_file f = pt_read_file(out.file);
  EXPECT_FALSE(f.has_marker);
  for (const pt_record &r : f.records)
    EXPECT_FALSE(r.bytes[3] == 0 && r.bytes[4] == 0 && r.bytes[5] == 6);
  EXPECT_EQ(f.image.size(), 0x05ff00u + 512);
  EXPECT_FALSE(pasm_assemble(".pcode 24\n.org 0x060000\n  and\n", "m", out));
  EXPECT_NE(out.errors.find("debug marker"), std::string::npos);
  EXPECT_FALSE(pasm_assemble(".org 0\n  .byte 6\n", "m", out));
}

TEST(asm, bad_input_is_reported_with_its_line) {
  struct row {
    const char *src, *msg;
  };
  const row rows[] = {
      {".main\n  frob 1\n", "e:2: unknown mnemonic frob"},
      {".main\n  jmp nowhere\n", "e:2: undefined label nowhere"},
      {".main\n  push y\n", "e:2: unknown variable y in MAIN"},
      {".main\n  num a\n  num a\n", "e:3: variable a declared twice"},
      {".main\nL:\nL:\n", "e:3: label L defined twice"},
      {".main\n  add.b 123\n", "e:2: not a packed constant"},
      {".main\n  add 1e99\n", "e:2: not a number"},
      {".main\n  spush.c \"ab\"\n", "e:2: one character expected"},
      {".main\n  call nothere, 1\n", "unknown procedure nothere"},
      {".main\n  io frobnicate\n", "e:2: unknown I/O operation"},
      {".main\n  str s\n", "e:2: a string needs its length"},
      {".proc p\n  stop\n", "no .main routine"},
      {".main\n  stop\n.org 0\n", "e:3: placement directives cannot be mixed"},
      {".main\n  .flags 7\n  .mainblock 5\n", "type 5 main block cannot carry flags"},
      {"  num x\n", "e:1: variables belong to a routine"},
      {".main\n  push %600\n", "e:2: bad operand"},
      {".main\n  num q\n  push q\n  .pcode 24\n", "e:4: .pcode must come first"},
      {".org 0\n  .byte 1\n.org 0\n  .byte 2\n", "placed twice"},
  };
  for (const row &r : rows) {
    pasm_output out;
    EXPECT_FALSE(pasm_assemble(r.src, "e", out)) << r.src;
    EXPECT_NE(out.errors.find(r.msg), std::string::npos) << r.src << " gave: " << out.errors;
    EXPECT_TRUE(out.file.empty());
  }
}

// damaged files list as raw records that give the same bytes back
TEST(asm, files_pasm_would_not_write_list_as_raw_records) {
  pasm_output out;
  ASSERT_TRUE(pasm_assemble(".main\n  stop\n", "s", out));
  bytes damaged = out.file;
  damaged[3] ^= 0xFF;  // payload changed: checksum wrong, framing intact
  bytes truncated(out.file.begin(), out.file.end() - 2);
  for (const bytes &f : {damaged, truncated, bytes{}, bytes{0x7F}}) {
    std::string l = pdis_listing(f, false);
    pasm_output again;
    ASSERT_TRUE(pasm_assemble(l, "raw", again)) << again.errors << l;
    EXPECT_EQ(again.file, f) << l;
  }
  EXPECT_NE(pdis_listing(out.file, true).find(".rawrecord"), std::string::npos);
}

TEST(asm, example_programs_list_back_to_the_same_file) {
  std::string dir = std::string(QUILLON_SOURCE_DIR) + "/examples";
  DIR *d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  int n = 0;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() < 6 || name.compare(name.size() - 5, 5, ".pasm") != 0) continue;
    std::string src, err;
    ASSERT_TRUE(tio_read_file(dir + "/" + name, &src, &err)) << err;
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(src, name, out)) << out.errors;
    std::string listing = pdis_listing(out.file, false);
    EXPECT_EQ(listing.find("; raw records"), std::string::npos) << name;
    pasm_output again;
    ASSERT_TRUE(pasm_assemble(listing, name + ".lst", again)) << again.errors;
    EXPECT_EQ(again.file, out.file) << name;
    n++;
  }
  closedir(d);
  EXPECT_GE(n, 4);
}

}  // namespace
