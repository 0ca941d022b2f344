// The program loader: records and checksums, limits of the program area,
// the block chain, relocation, registers, the debug marker, names and
// units, and the buffered reader under it.  Files are built byte by byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "run/base/image.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/loader/debuginfo.h"
#include "run/loader/fbuf.h"
#include "run/loader/names.h"
#include "run/loader/zload.h"
#include "run/startup/startup.h"

extern char **environ;

namespace {

using bytes = std::vector<uint8_t>;

// A program area laid out for address width a, with what the loader must
// make of it.
struct sample {
  int a;                       // adr_len
  bytes area;                  // program area as the file places it
  uint32_t desc[3];            // offsets of the three descriptors
  uint32_t storage, next1;     // storage [storage, next1) of the block
  uint32_t table, main, code;  // routine table, main block, main routine
  uint32_t stack;              // offset of the stack-bottom bytes
};

void put_be(bytes &b, uint32_t at, uint32_t v, int n) {
  for (int i = 0; i < n; i++) b[at + uint32_t(i)] = uint8_t(v >> (8 * (n - 1 - i)));
}

// type 1 block with three descriptors (relocated, absolute, unbound),
// type 2 block with one routine, type 4 main block with flags, routine
sample make_sample(int a, uint32_t flags = 1, uint32_t common = 16) {
  sample s{};
  s.a = a;
  uint32_t ua = uint32_t(a), dsc = 5 + ua;
  uint32_t ds = 1 + 3 * ua, de = ds + 3 * dsc;
  s.storage = de;
  s.next1 = de + 16;
  s.table = s.next1 + 1 + ua;
  s.main = s.table + ua;
  uint32_t h = s.main + 3;
  s.stack = h + ua + 2 + (a == 3 ? 1 : 0);
  s.code = s.stack + (a == 3 ? 6 : 4);
  s.area.assign(s.code + 6 * ua + 1 + 2, 0);
  bytes &b = s.area;
  b[0] = 1;
  put_be(b, 1, s.next1, a);
  put_be(b, 1 + ua, ds, a);
  put_be(b, 1 + 2 * ua, de, a);
  for (int i = 0; i < 3; i++) s.desc[i] = ds + uint32_t(i) * dsc;
  b[s.desc[0]] = 0x62;  // a padded string of 8 in the storage
  put_be(b, s.desc[0] + 1, s.storage, a);
  put_be(b, s.desc[0] + 1 + ua, 8, 2);
  put_be(b, s.desc[0] + 3 + ua, 8, 2);
  b[s.desc[1]] = 0x80;  // common variable at 16
  put_be(b, s.desc[1] + 1, 16, a);
  b[s.desc[2]] = 0x08;  // unbound parameter
  for (uint32_t i = s.storage; i < s.next1; i++) b[i] = 0xAA;
  b[s.next1] = 2;
  put_be(b, s.next1 + 1, s.main, a);
  put_be(b, s.table, s.code, a);
  b[s.main] = 4;
  put_be(b, s.main + 1, flags, 2);
  put_be(b, h, s.code, a);
  put_be(b, h + ua, common, 2);
  for (uint32_t i = s.stack; i < s.code; i++) b[i] = 0x55;
  put_be(b, s.code, ds, a);
  b[s.code + 6 * ua + 1] = 0x78;  // stop
  b[s.code + 6 * ua + 2] = 0x01;
  return s;
}

uint8_t checksum(const bytes &r) {
  for (unsigned c = 0; c < 256; c++) {
    unsigned s = c;
    for (size_t i = 0; i < r.size(); i++)
      if (i != 2) s += r[i];
    s = (s & 255) + (s >> 8);
    s = (s & 255) + (s >> 8);
    if (s == 255) return uint8_t(c);
  }
  return 0;
}

// one record: count, version, checksum, offset (low byte first), payload
bytes record(int version, uint32_t off, const bytes &payload) {
  int hdr = version == 130 ? 5 : 4;
  bytes r{uint8_t(hdr + int(payload.size())), uint8_t(version), 0, uint8_t(off), uint8_t(off >> 8)};
  if (hdr == 5) r.push_back(uint8_t(off >> 16));
  r.insert(r.end(), payload.begin(), payload.end());
  r[2] = checksum(r);
  return r;
}

// the area cut into records of at most chunk bytes, and the closing record
bytes file_of(const bytes &area, int version, size_t chunk = 40) {
  bytes f;
  for (size_t at = 0; at < area.size(); at += chunk) {
    bytes part(area.begin() + long(at), area.begin() + long(std::min(area.size(), at + chunk)));
    bytes r = record(version, uint32_t(at), part);
    f.insert(f.end(), r.begin(), r.end());
  }
  bytes last = record(version, 0, {});
  f.insert(f.end(), last.begin(), last.end());
  return f;
}

int version_of(int a) {
  return a == 3 ? 130 : 129;
}

struct loader_fixture : ::testing::Test {
  std::string dir;
  char **saved_env = environ;
  std::vector<std::string> env_text;
  std::vector<char *> env_ptrs;

  void SetUp() override {
    char tmpl[] = "/tmp/quillon-loader-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_EQ(zimage_alloc(120, 1, 200), ZALLOC_OK);
    zrceq = 1;
    vx_compat = 0;
    debugging = 0;
    rchain_unit = nullptr;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    zimage_free_for_test();
    fb_sys_read = ::read;
    debugging = 0;
    cleanupd();
    env_reset_for_test(saved_env);
  }

  std::string write(const std::string &name, const bytes &data) {
    std::string path = dir + "/" + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, data.data(), data.size()), ssize_t(data.size()));
    ::close(fd);
    return path;
  }

  int load_path(const std::string &path) {
    zl.pcodeVersion = PCODE_NONE;
    return zload(path.c_str(), 0, int(path.size()), 0);
  }
  int load(const bytes &data) { return load_path(write("prog", data)); }

  uint32_t at(uint32_t rel) { return zm.zrbas + rel; }
};

TEST_F(loader_fixture, relocates_descriptors_and_sets_registers_in_both_widths) {
  for (int a : {2, 3}) {
    for (int compat : {0, 1}) {
      SCOPED_TRACE("adr_len " + std::to_string(a) + " compat " + std::to_string(compat));
      vx_compat = compat;
      zrcod2 = RC2_ARMED;  // left over from a program before
      sample s = make_sample(a);
      ASSERT_EQ(load(file_of(s.area, version_of(a))), ZL_OK);
      EXPECT_EQ(zw.adr_len, a);
      EXPECT_EQ(zgeta(at(s.desc[0] + 1)), zm.zrbas + s.storage);  // relocated
      EXPECT_EQ(zgeta(at(s.desc[1] + 1)), 16u);                   // absolute: kept
      uint32_t null_addr = compat ? zm.zrbas : (a == 3 ? 0xFFFFFFu : 0xFFFFu);
      EXPECT_EQ(zgeta(at(s.desc[2] + 1)), null_addr);
      for (uint32_t i = s.storage; i < s.next1; i++) ASSERT_EQ(zget1(at(i)), 0u) << "storage " << i;
      EXPECT_EQ(zp.rst, at(s.table));
      EXPECT_EQ(zl.rst_count, 1u);
      EXPECT_EQ(zp.rcod, s.code);
      EXPECT_EQ(zp.rdt, at(1 + 3 * uint32_t(a)));
      EXPECT_EQ(zp.preg, at(s.code + 6 * uint32_t(a) + 1));
      EXPECT_EQ(zget1(zp.preg), 0x78u);
      EXPECT_EQ(zp.flags, a == 3 ? 3u : 1u);  // the width bit follows the file
      EXPECT_EQ(zp.riss, 0u);
      EXPECT_EQ(zrcod2, 0u);
      // stack bottom: pointer word 7, link word 0, stkp at the link word
      EXPECT_EQ(zp.stkp, at(s.stack) + (a == 3 ? 3u : 2u));
      EXPECT_EQ(zgeta(zp.stkp), 0u);
      EXPECT_EQ(zgeta(zp.stkp - uint32_t(a)), 7u);
      if (a == 3) {
        EXPECT_EQ(zget1(at(s.stack - 1)), 0u);  // the spare byte as filed
      }
      EXPECT_EQ(std::string(zp.chnm1), (dir + "/prog").substr(0, 69));
      EXPECT_STREQ(errfile, "");
    }
  }
}

TEST_F(loader_fixture, every_changed_record_byte_fails) {
  sample s = make_sample(2);
  bytes good = file_of(s.area, 129);
  size_t pos = 0;
  while (pos < good.size()) {
    size_t n = good[pos];
    for (size_t i = pos + 1; i <= pos + n; i++) {
      if (i == pos + 2) continue;  // the checksum byte itself: also a change
      bytes bad = good;
      bad[i] ^= 0x01;
      ASSERT_EQ(load(bad), ZL_BADFILE) << "byte " << i;
    }
    bytes bad = good;
    bad[pos + 2] ^= 0x10;
    ASSERT_EQ(load(bad), ZL_BADFILE) << "checksum of record at " << pos;
    pos += n + 1;
  }
}

TEST_F(loader_fixture, truncated_and_malformed_files_fail) {
  sample s = make_sample(3);
  bytes good = file_of(s.area, 130);
  for (size_t n = 0; n < good.size(); n++)
    ASSERT_EQ(load(bytes(good.begin(), good.begin() + long(n))), ZL_BADFILE) << "cut at " << n;
  bytes no_end(good.begin(), good.end() - 6);  // full records, no closing one
  EXPECT_EQ(load(no_end), ZL_BADFILE);
  bytes small = record(129, 0, {});
  small[0] = 3;
  EXPECT_EQ(load(small), ZL_BADFILE);
  bytes unknown = record(131, 0, {1, 2});
  EXPECT_EQ(load(unknown), ZL_BADFILE);
  bytes mixed = record(129, 0, {5});
  bytes r2 = record(130, 0, {});
  mixed.insert(mixed.end(), r2.begin(), r2.end());
  EXPECT_EQ(load(mixed), ZL_BADFILE);
  bytes short24 = {4, 130, 0, 0, 0};  // count 4 < the 24-bit header
  short24[2] = checksum(short24);
  EXPECT_EQ(load(short24), ZL_BADFILE);
}

TEST_F(loader_fixture, block_chain_faults_give_their_results) {
  struct fault {
    const char *what;
    void (*change)(sample &);
    int expect;
  };
  const fault faults[] = {
      {"no main block", [](sample &s) { s.area[s.main] = 6; }, ZL_NOMAIN},
      {"chain loops back", [](sample &s) { put_be(s.area, 1, 0, s.a); }, ZL_NOMAIN},
      {"next beyond the area", [](sample &s) { put_be(s.area, 1, 0xF000, s.a); }, ZL_NOMAIN},
      {"descriptors not a multiple",
       [](sample &s) { put_be(s.area, 1 + 2 * uint32_t(s.a), s.storage - 1, s.a); }, ZL_BADFILE},
      {"descriptor end past next",
       [](sample &s) { put_be(s.area, 1 + 2 * uint32_t(s.a), s.next1 + 7, s.a); }, ZL_BADFILE},
      {"descriptors over the block fields",
       [](sample &s) { put_be(s.area, 1 + uint32_t(s.a), 1, s.a); }, ZL_BADFILE},
      {"flags above 3", [](sample &s) { put_be(s.area, s.main + 1, 4, 2); }, ZL_FLAGS},
      {"flags high byte", [](sample &s) { put_be(s.area, s.main + 1, 0x100, 2); }, ZL_FLAGS},
      {"common above C", [](sample &s) { put_be(s.area, s.main + 3 + uint32_t(s.a), 300, 2); },
       ZL_COMMON},
      {"main routine outside", [](sample &s) { put_be(s.area, s.main + 3, 0xFFF0, s.a); },
       ZL_BADFILE},
  };
  for (int a : {2, 3})
    for (const fault &f : faults) {
      SCOPED_TRACE(std::string(f.what) + " adr_len " + std::to_string(a));
      sample s = make_sample(a);
      f.change(s);
      EXPECT_EQ(load(file_of(s.area, version_of(a))), f.expect);
      EXPECT_EQ(zrpl, 0);
    }
}

TEST_F(loader_fixture, common_demand_is_met_by_a_larger_c) {
  sample s = make_sample(2, 1, 300);
  bytes f = file_of(s.area, 129);
  EXPECT_EQ(load(f), ZL_COMMON);
  ASSERT_EQ(zimage_alloc(120, 2, 200), ZALLOC_OK);
  EXPECT_EQ(load(f), ZL_OK);
}

TEST_F(loader_fixture, flags_of_main_blocks) {
  sample s = make_sample(2, 3);
  ASSERT_EQ(load(file_of(s.area, 129)), ZL_OK);
  EXPECT_EQ(zp.flags, 1u);  // a 16-bit file cannot claim 24-bit addresses
  // type 5: flags 0, and the header follows the type byte directly
  sample t = make_sample(3);
  t.area[t.main] = 5;
  t.area[t.main + 1] = 0;  // shift: rebuild the header two bytes earlier
  bytes &b = t.area;
  put_be(b, t.main + 1, t.code, 3);
  put_be(b, t.main + 4, 0, 2);
  b[t.main + 6] = 0;
  ASSERT_EQ(load(file_of(t.area, 130)), ZL_OK);
  EXPECT_EQ(zp.flags, 2u);
  EXPECT_EQ(zp.stkp, at(t.main + 7 + 3));
  EXPECT_EQ(zgeta(zp.stkp - 3), 7u);
}

// a filler record ending exactly at the limit loads, one byte more is 152
TEST_F(loader_fixture, records_end_at_the_limit_of_their_width) {
  ASSERT_EQ(zimage_alloc(1000, 1, 200), ZALLOC_OK);
  ASSERT_GT(zm.size, 65280u);
  for (int a : {2, 3}) {
    SCOPED_TRACE(a);
    sample s = make_sample(a);
    uint32_t limit = (a == 2 ? 64512u : zm.size - 768);
    int hdr = a == 3 ? 5 : 4;
    uint32_t n = uint32_t(hdr) + 10;
    for (uint32_t extra : {0u, 1u}) {
      bytes f = file_of(s.area, version_of(a));
      bytes fill = record(version_of(a), limit - n - zm.zrbas + extra, bytes(10, 0));
      f.insert(f.begin(), fill.begin(), fill.end());
      testing::internal::CaptureStdout();
      int r = load(f);
      std::string out = testing::internal::GetCapturedStdout();
      if (extra == 0) {
        EXPECT_EQ(r, ZL_OK);
      } else {
        EXPECT_EQ(r, ZL_BOUND);
        EXPECT_NE(out.find("bound=" + std::to_string(limit + 1)), std::string::npos) << out;
      }
    }
  }
}

// the marker's bytes 0, 0, 6 would read as offset 0x060000 in 24-bit
TEST_F(loader_fixture, debug_marker_is_taken_and_not_placed) {
  for (int a : {2, 3}) {
    SCOPED_TRACE(a);
    sample s = make_sample(a);
    bytes f = file_of(s.area, version_of(a));
    // debug information behind the closing record: one routine, one symbol
    bytes dbg = {255, 11, 0, 9, 0, 7, 0, 1, 'M', 'A', 'I', 'N', 0,   13, 0,
                 2,   0,  0, 0, 0, 0, 0, 1, ' ', 'X', 0,   0,   255, 0};
    uint32_t off = uint32_t(f.size()) + 16;
    bytes marker = {15,
                    uint8_t(version_of(a)),
                    0,
                    0,
                    0,
                    6,
                    uint8_t(off >> 24),
                    uint8_t(off >> 16),
                    uint8_t(off >> 8),
                    uint8_t(off),
                    0,
                    1,
                    0,
                    1,
                    0,
                    10};
    marker[2] = checksum(marker);
    bytes file = marker;
    file.insert(file.end(), f.begin(), f.end());
    file.insert(file.end(), dbg.begin(), dbg.end());
    debugging = 1;
    ASSERT_EQ(load(file), ZL_OK);
    EXPECT_EQ(zget1(at(0)), 1u);  // the block type, not the marker's 6
    EXPECT_EQ(zdebug.db_info, 1);
    EXPECT_EQ(zdebug.hdr.s_routine, 7);
    ASSERT_EQ(zdebug.routines.size(), 1u);
    EXPECT_EQ(zdebug.routines[0].name, "MAIN");
    ASSERT_EQ(zdebug.routines[0].symbols.size(), 1u);
    EXPECT_EQ(zdebug.routines[0].symbols[0].name, "X");
    // damaged debug information: the program still loads, with a message
    file.resize(file.size() - 5);
    testing::internal::CaptureStdout();
    EXPECT_EQ(load(file), ZL_OK);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("CAN'T LOAD DEBUG INFORMATION"),
              std::string::npos);
    EXPECT_EQ(zdebug.db_info, 0);
    debugging = 0;
    EXPECT_EQ(load(file), ZL_OK);  // outside debug mode the marker is passed over
    EXPECT_EQ(zdebug.announced, 0);
    bytes cut = marker;
    cut[0] = 14;
    cut.pop_back();
    cut[2] = checksum(cut);
    cut.insert(cut.end(), f.begin(), f.end());
    EXPECT_EQ(load(cut), ZL_BADFILE);  // a marker without its header
  }
}

TEST_F(loader_fixture, names_are_cut_and_trailing_blanks_ignored) {
  sample s = make_sample(2);
  std::string path = write("p", file_of(s.area, 129));
  std::string padded = path + "     ";
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload(padded.c_str(), 0, int(padded.size()), 0), ZL_OK);
  std::string with_zero = path + std::string(1, '\0') + "junk";
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload(with_zero.c_str(), 0, int(with_zero.size()), 0), ZL_OK);
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload(path.c_str(), 0, int(path.size()) - 1, 0), ZL_NOTFOUND);  // npl cuts: a directory
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload((dir + "/fifo").c_str(), 0, 600, 0), ZL_NOTFOUND);  // never blocks
  std::string longname = "/" + std::string(599, 'x');
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload(longname.c_str(), 0, 600, 0), ZL_NOTFOUND);
  EXPECT_EQ(std::string(errfile), longname.substr(0, 511));
}

TEST_F(loader_fixture, unit_relative_names_aliases_and_return_chain_directory) {
  sample s = make_sample(2);
  bytes f = file_of(s.area, 129);
  ASSERT_EQ(mkdir((dir + "/unit7").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/alias").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/rchain").c_str(), 0755), 0);
  write("unit7/menu", f);
  write("alias/menu", f);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload("menu", 7, 255, 0), ZL_OK);
  EXPECT_STREQ(zp.chnm1, "menu/7");
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload("menu", 8, 255, 0), ZL_NOTFOUND);
  EXPECT_STREQ(errfile, "unit8/menu");
  // an alias from the environment gives unit 8 a directory
  env_text = {"unit8=" + dir + "/alias", "VXDEFAULT=/nonexistent"};
  env_ptrs = {env_text[0].data(), env_text[1].data(), nullptr};
  env_reset_for_test(env_ptrs.data());
  char arg0[] = "run";
  char *args[] = {arg0, nullptr};
  run_hooks();
  ASSERT_EQ(env_init(1, args), 0);
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload("menu", 8, 255, 0), ZL_OK);
  EXPECT_STREQ(zp.chnm1, "menu/8");
  // the return-chain directory is tried first, then the unit's own
  rchain_unit = "rchain";
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload("menu", 7, 255, 1), ZL_OK);  // not in rchain: unit7
  EXPECT_EQ(zp.flags, 1u);
  write("rchain/menu", file_of(make_sample(2, 0).area, 129));  // flags 0
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload("menu", 7, 255, 1), ZL_OK);  // found in rchain
  EXPECT_EQ(zp.flags, 0u);
  zl.pcodeVersion = PCODE_NONE;
  EXPECT_EQ(zload("menu", 7, 255, 0), ZL_OK);  // plain loads ignore it
  EXPECT_EQ(zp.flags, 1u);
  rchain_unit = nullptr;
  ASSERT_EQ(chdir(cwd), 0);
}

// regression: a file placing nothing relocated the previous program again
// and reported it as loaded
TEST_F(loader_fixture, a_file_without_a_program_does_not_reuse_the_last_one) {
  sample s = make_sample(2);
  ASSERT_EQ(load(file_of(s.area, 129)), ZL_OK);
  EXPECT_EQ(load(record(129, 0, {})), ZL_NOMAIN);
  ASSERT_EQ(load(file_of(s.area, 129)), ZL_OK);
  EXPECT_EQ(zgeta(at(s.desc[0] + 1)), zm.zrbas + s.storage);  // relocated once
}

// regression: the closing record at the very end of the file was tested
// for the marker with a byte that lies past it (left over in the reader)
TEST_F(loader_fixture, closing_record_does_not_read_past_the_file) {
  sample s = make_sample(2);
  bytes f = file_of(s.area, 129);
  std::memset(fb.gather, 6, sizeof fb.gather);
  std::memset(fb.fblock, 6, sizeof fb.fblock);
  EXPECT_EQ(load(f), ZL_OK);
}

TEST(names, unit_relative_names_and_paths) {
  struct row {
    const char *name;
    unsigned unit;
    const char *dir, *base, *full;
  };
  const row rows[] = {
      {"menu", 3, "unit3", "menu", "unit3/menu"},
      {"sub/prog", 2, "unit2", "sub/prog", "unit2/sub/prog"},  // a slash further in
      {"./prog", 0, ".", "prog", "./prog"},
      {"/abs/dir/prog", 9, "/abs/dir", "prog", "/abs/dir/prog"},
      {"", 1, "unit1", "", "unit1/"},
  };
  rchain_unit = nullptr;
  for (const row &r : rows) {
    EXPECT_EQ(fmbuildnm(r.name, r.unit, 0), int(std::strlen(r.base))) << r.name;
    EXPECT_STREQ(vxdirname, r.dir);
    EXPECT_STREQ(vxbasename, r.base);
    EXPECT_EQ(fmfulnm(r.name), int(std::strlen(r.full)));
    EXPECT_STREQ(fullname, r.full);
  }
  std::string longbase(300, 'b');
  EXPECT_EQ(fmbuildnm(longbase.c_str(), 1, 0), 255);
  EXPECT_EQ(fmfulnm(longbase.c_str()), 5 + 1 + 255);
  std::string longdir(256, 'd');
  rchain_unit = longdir.c_str();  // too long: the unit's own directory
  fmbuildnm("p", 4, 1);
  EXPECT_STREQ(vxdirname, "unit4");
  rchain_unit = "";
  fmbuildnm("p", 4, 1);
  EXPECT_STREQ(vxdirname, "unit4");
  rchain_unit = "rdir";
  fmbuildnm("p", 4, 1);
  EXPECT_STREQ(vxdirname, "rdir");
  rchain_unit = nullptr;
}

// the reader hands out records that straddle its 1024-byte blocks
TEST_F(loader_fixture, buffered_reader_gathers_across_blocks_and_reports_errors) {
  sample s = make_sample(3);
  bytes big = s.area;
  big.resize(3000, 0);
  bytes filler = file_of(big, 130, 250);
  EXPECT_EQ(load(filler), ZL_OK);
  EXPECT_GT(filler.size(), 2048u);
  static int calls, fail_at;
  fb_sys_read = [](int fd, void *buf, size_t n) -> ssize_t {
    if (++calls == fail_at) {
      errno = EIO;
      return -1;
    }
    return ::read(fd, buf, n < 300 ? n : 300);  // short reads too
  };
  for (fail_at = 1; fail_at <= 4; fail_at++) {
    calls = 0;
    EXPECT_EQ(load(filler), ZL_BADFILE) << "read " << fail_at << " fails";
  }
  fail_at = 0;
  calls = 0;
  EXPECT_EQ(load(filler), ZL_OK);  // short reads alone are fine
}

}  // namespace
