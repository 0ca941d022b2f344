// Assembled programs through the loader: random well-formed programs of
// both widths are assembled, loaded and checked against their debug
// information (descriptor tables, relocation, registers), and their
// listings assemble back to the same file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/loader/debuginfo.h"
#include "run/loader/zload.h"
#include "tools/asm.h"
#include "tools/dis.h"
#include "tools/pcode.h"
#include "tools/toolio.h"

namespace {

struct gen {
  std::mt19937 rng;
  std::string src;
  int pick(int n) { return int(rng() % unsigned(n)); }
  void ln(const std::string &l) { src += l + "\n"; }

  struct var {
    std::string name;
    int kind;  // 0 num, 1 num array, 2 num matrix, 3 str, 4 vstr, 5 str array
  };

  std::vector<var> variables(const std::string &prefix, int n) {
    std::vector<var> v;
    for (int i = 0; i < n; i++) {
      var x{prefix + std::to_string(i), pick(6)};
      std::string d;
      switch (x.kind) {
        case 0:
          d = "num " + x.name;
          break;
        case 1:
          d = "num " + x.name + "(" + std::to_string(1 + pick(20)) + ")";
          break;
        case 2:
          d = "num " + x.name + "(" + std::to_string(1 + pick(5)) + "," +
              std::to_string(1 + pick(5)) + ")";
          break;
        case 3:
          d = "str " + x.name + "(" + std::to_string(1 + pick(30)) + ")";
          break;
        case 4:
          d = "vstr " + x.name + "(" + std::to_string(1 + pick(30)) + ")";
          break;
        default:
          d = "str " + x.name + "(" + std::to_string(1 + pick(9)) + "," +
              std::to_string(1 + pick(9)) + ")";
          break;
      }
      int extra = pick(10);
      if (extra == 0) d += " common " + std::to_string(pick(200));
      if (extra == 1) d += " unbound";
      ln("  " + d);
      v.push_back(x);
    }
    return v;
  }

  void code(const std::vector<var> &vars, const std::string &lab, int nlabels, int nprocs) {
    int n = 5 + pick(60);
    for (int i = 0; i < n; i++) {
      if (pick(8) == 0) ln(lab + std::to_string(pick(nlabels)) + "x" + std::to_string(i) + ":");
      const var *v = vars.empty() ? nullptr : &vars[size_t(pick(int(vars.size())))];
      std::string target = lab + "t" + std::to_string(pick(nlabels));
      switch (pick(16)) {
        case 0:
          ln("  push " + std::to_string(pick(200)) + "." + std::to_string(pick(100)));
          break;
        case 1:
          ln("  add " + std::to_string(pick(120)));
          break;
        case 2:
          if (v) ln("  push " + v->name + (v->kind == 1 ? "()" : v->kind == 2 ? "(,)" : ""));
          break;
        case 3:
          ln("  spush \"" + std::string(size_t(pick(90)), 'q') + "\"");
          break;
        case 4:
          ln("  jmp " + target);
          break;
        case 5:
          ln("  jf " + target);
          break;
        case 6:
          ln("  gosub " + target);
          break;
        case 7:
          ln("  jmpc " + target + ", " + target + ", " + target);
          break;
        case 8:
          ln("  .data 1, 25, \"ab\", -3.5, 0");
          break;
        case 9:
          if (v) ln("  store " + v->name);
          break;
        case 10:
          ln("  io write, A, R");
          break;
        case 11:
          ln(nprocs ? "  call P" + std::to_string(pick(nprocs)) + ", 0" : "  call 14, 1");
          break;
        case 12:
          ln("  mach " + std::to_string(pick(5)));
          break;
        case 13:
          ln("  const" + std::to_string(pick(16)));
          break;
        case 14:
          ln("  pusha " + target);
          break;
        default:
          if (v) ln("  loop " + v->name);
          break;
      }
    }
    for (int k = 0; k < nlabels; k++) {
      ln(lab + "t" + std::to_string(k) + ":");
      ln("  rets");
    }
  }

  void program(int version, bool wide) {
    src.clear();
    ln(".pcode " + std::string(version == 130 ? "24" : "16"));
    if (wide) ln(".flags 1");
    ln(".debug");
    int nprocs = pick(4);
    if (pick(3) == 0) ln(".mainblock 4");
    bool callable = pick(4) == 0;
    ln(callable ? ".main CALLED()" : ".main");
    if (callable) ln("  param str s\n  param num v()");
    auto vars = variables("m", wide && pick(2) ? 300 + pick(300) : pick(12));
    code(vars, "M", 1 + pick(4), nprocs);
    ln("  stop");
    for (int p = 0; p < nprocs; p++) {
      ln(".proc P" + std::to_string(p));
      int np = pick(3);
      for (int k = 0; k < np; k++) ln("  param num a" + std::to_string(k));
      auto pv = variables("p", pick(6));
      code(pv, "P" + std::to_string(p) + "_", 1 + pick(3), nprocs);
      ln("  ret");
    }
  }
};

std::string write_file(const std::vector<uint8_t> &data) {
  char tmpl[] = "/tmp/quillon-rt-XXXXXX";
  int fd = mkstemp(tmpl);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, data.data(), data.size()), ssize_t(data.size()));
  ::close(fd);
  return tmpl;
}

// the loaded descriptors and registers against the file and its debug records
void check_loaded(const std::vector<uint8_t> &file, int version) {
  pt_file f = pt_read_file(file);
  ASSERT_TRUE(f.error.empty()) << f.error;
  uint32_t a = version == 130 ? 3 : 2, dsc = a + 5, R = zm.zrbas;
  auto fgeta = [&](uint32_t p) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < a; i++) v = v << 8 | f.image[p + i];
    return v;
  };
  ASSERT_EQ(zdebug.db_info, 1);
  for (const zdebug_routine &r : zdebug.routines) {
    for (const zdebug_symbol &y : r.symbols) {
      if (y.species == '"') continue;
      uint32_t d = r.varbg + uint32_t(y.loc - 2) * dsc;
      ASSERT_EQ(zget1(R + d), f.image[d]) << y.name;
      uint32_t fa = fgeta(d + 1), la = zgeta(R + d + 1);
      if (f.image[d] & 0x80)
        EXPECT_EQ(la, fa) << y.name;
      else if (fa == 0)
        EXPECT_EQ(la, zw.inv_offs) << y.name;
      else
        EXPECT_EQ(la, fa + R) << y.name;
      EXPECT_EQ(zget2(R + d + 1 + a), y.dim1);
      EXPECT_EQ(zget2(R + d + 3 + a), y.dim2);
    }
  }
  const zdebug_routine &m = zdebug.routines.front();
  EXPECT_EQ(zp.rdt, R + m.varbg);
  EXPECT_EQ(zp.rcod + 6 * a + 3 - (6 * a + 4), m.probg);
  EXPECT_EQ(zp.preg, R + zp.rcod + 6 * a + 1);
  EXPECT_EQ(zgeta(zp.stkp), 0u);
  EXPECT_EQ(zgeta(zp.stkp - a), 7u);
  EXPECT_EQ(zp.flags & 2, version == 130 ? 2u : 0u);
}

TEST(roundtrip, random_programs_load_and_list_back_to_the_same_file) {
  ASSERT_EQ(zimage_alloc(2000, 4, 200), ZALLOC_OK);
  zrceq = 4;
  vx_compat = 0;
  gen g;
  g.rng = std::mt19937(12345);  // the same programs every run
  for (int i = 0; i < 60; i++) {
    int version = i % 2 ? 130 : 129;
    bool wide = i % 4 >= 2;
    g.program(version, wide);
    SCOPED_TRACE("program " + std::to_string(i) + ":\n" + g.src);
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(g.src, "gen", out)) << out.errors;
    std::string path = write_file(out.file);
    debugging = 1;
    zl.pcodeVersion = PCODE_NONE;
    ASSERT_EQ(zload(path.c_str(), 0, int(path.size()), 0), ZL_OK);
    check_loaded(out.file, version);
    debugging = 0;
    cleanupd();
    unlink(path.c_str());
    std::string listing = pdis_listing(out.file, false);
    ASSERT_EQ(listing.find("; raw records"), std::string::npos) << listing;
    pasm_output again;
    ASSERT_TRUE(pasm_assemble(listing, "listing", again)) << again.errors << listing;
    ASSERT_EQ(again.file, out.file) << listing;
  }
  zimage_free_for_test();
}

TEST(roundtrip, example_programs_load_with_their_descriptors_relocated) {
  ASSERT_EQ(zimage_alloc(120, 1, 200), ZALLOC_OK);
  zrceq = 1;
  std::string dir = std::string(QUILLON_SOURCE_DIR) + "/examples";
  int n = 0;
  for (const char *name : {"arith", "procs", "chain", "chained", "caller", "callee", "lists24"}) {
    SCOPED_TRACE(name);
    std::string src, err;
    ASSERT_TRUE(tio_read_file(dir + "/" + name + ".pasm", &src, &err)) << err;
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(src, name, out)) << out.errors;
    std::string path = write_file(out.file);
    for (int compat : {0, 1}) {
      vx_compat = compat;
      debugging = 1;
      zl.pcodeVersion = PCODE_NONE;
      ASSERT_EQ(zload(path.c_str(), 0, int(path.size()), 0), ZL_OK);
      if (!compat) check_loaded(out.file, pt_read_file(out.file).version);
      debugging = 0;
      cleanupd();
    }
    unlink(path.c_str());
    n++;
  }
  EXPECT_EQ(n, 7);
  vx_compat = 0;
  zimage_free_for_test();
}

}  // namespace
