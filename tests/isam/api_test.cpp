// api_test.cpp: the interface as the runtime relies on it, one process:
// positioning rules, writes and indexes, file calls, key types, record
// number order, damaged files and failed writes.
#include "isam/isam.h"
#include "isam/isintern.h"
#include "tests/isam/testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int RL = 12;  // record: key (3) + alternate key (3) + data (6)

struct fixture {
  scratch_dir dir;
  std::string name = dir.file("f");
  int fd = -1;

  // Builds the file with a unique 3-byte primary key and writes records.
  explicit fixture(std::vector<std::string> recs = {}, int mode = ISINOUT + ISEXCLLOCK) {
    keydesc k = char_key(0, 3, ISNODUPS + COMPRESS);
    fd = isbuild(name.c_str(), RL, &k, mode);
    EXPECT_GE(fd, 0) << iserrno;
    for (auto &r : recs) EXPECT_EQ(iswrite(fd, rec_of(r, RL).c_str()), 0) << iserrno;
  }
  ~fixture() { iscleanup(); }
  // Reads in mode m; returns the 3-byte key read, or "#<iserrno>".
  std::string rd(int m, const std::string &key = "") {
    std::string b = rec_of(key, RL);
    if (isread(fd, b.data(), m) != 0) return "#" + std::to_string(iserrno);
    return b.substr(0, 3);
  }
  int start(int m, const std::string &key = "", int len = 0, int part = 0) {
    keydesc k = part ? char_key(3, 3, ISDUPS) : char_key(0, 3, ISNODUPS);
    std::string b = rec_of(key, RL);
    b.replace(size_t(part ? 3 : 0), key.size(), key);
    return isstart(fd, &k, len, b.data(), m) == 0 ? 0 : iserrno;
  }
};

TEST(isam_positioning, empty_file) {
  fixture t;
  EXPECT_EQ(t.start(ISFIRST), 0);
  EXPECT_EQ(t.rd(ISNEXT), "#110");
  EXPECT_EQ(t.rd(ISLAST), "#110");
  EXPECT_EQ(t.rd(ISCURR), "#112");
  EXPECT_EQ(t.start(ISLAST), 0);
  EXPECT_EQ(t.rd(ISPREV), "#110");
  EXPECT_EQ(t.rd(ISEQUAL, "A"), "#111");
}

TEST(isam_positioning, start_point_serves_next_and_prev) {
  fixture t({"A", "C", "E"});
  EXPECT_EQ(t.start(ISGTEQ, "B"), 0);
  EXPECT_EQ(isrecnum, 2);
  EXPECT_EQ(t.rd(ISNEXT), "C  ");
  EXPECT_EQ(t.start(ISGTEQ, "B"), 0);
  EXPECT_EQ(t.rd(ISPREV), "C  ");
  EXPECT_EQ(t.rd(ISNEXT), "E  ");
  EXPECT_EQ(t.rd(ISNEXT), "#110");
  EXPECT_EQ(t.rd(ISNEXT), "#110");
  EXPECT_EQ(t.rd(ISPREV), "C  ");
  EXPECT_EQ(t.start(ISLAST), 0);
  EXPECT_EQ(t.rd(ISPREV), "E  ");
  EXPECT_EQ(t.start(ISLAST), 0);
  EXPECT_EQ(t.rd(ISNEXT), "E  ");
  EXPECT_EQ(t.start(ISFIRST), 0);
  EXPECT_EQ(t.rd(ISCURR), "A  ");
  EXPECT_EQ(t.rd(ISNEXT), "C  ");
  EXPECT_EQ(t.start(ISEQUAL, "B"), 111);
  EXPECT_EQ(t.rd(ISNEXT), "#112");
}

TEST(isam_positioning, failed_keyed_read_keeps_position) {
  fixture t({"A", "C", "E"});
  EXPECT_EQ(t.rd(ISEQUAL, "A"), "A  ");
  EXPECT_EQ(t.rd(ISEQUAL, "B"), "#111");
  EXPECT_EQ(t.rd(ISCURR), "A  ");
  EXPECT_EQ(t.rd(ISGREAT, "B"), "C  ");
  EXPECT_EQ(t.rd(ISPREV), "A  ");
  EXPECT_EQ(t.rd(ISNEXT), "C  ");
  EXPECT_EQ(t.rd(ISGREAT, "E"), "#111");
  EXPECT_EQ(t.rd(ISGTEQ, "F"), "#111");
  EXPECT_EQ(t.rd(ISCURR), "C  ");
  // a failed read leaves the buffer alone
  std::string b = rec_of("B", RL);
  EXPECT_EQ(isread(t.fd, b.data(), ISEQUAL), -1);
  EXPECT_EQ(b, rec_of("B", RL));
}

TEST(isam_positioning, partial_key_governs_keyed_reads) {
  fixture t({"AB1", "AB2", "AC1"});
  EXPECT_EQ(t.start(ISEQUAL, "AB", 2), 0);
  EXPECT_EQ(t.rd(ISNEXT), "AB1");
  EXPECT_EQ(t.rd(ISGREAT, "AB"), "AC1");
  EXPECT_EQ(t.rd(ISEQUAL, "AC"), "AC1");
  EXPECT_EQ(t.start(ISEQUAL, "AB", 4), EBADARG);
  EXPECT_EQ(t.start(ISEQUAL, "AB", 0), 111);
}

TEST(isam_positioning, duplicates_in_insertion_order) {
  fixture t({"X  k", "Y  k", "Z  k", "W  a"});
  keydesc alt = char_key(3, 3, ISDUPS);
  ASSERT_EQ(isaddindex(t.fd, &alt), 0);
  auto walk = [&] {
    std::string s;
    if (t.start(ISEQUAL, "k", 0, 1) != 0) return std::string("#");
    for (std::string k; (k = t.rd(ISNEXT))[0] != '#';) s += k[0];
    return s;
  };
  EXPECT_EQ(walk(), "XYZ");
  EXPECT_EQ(t.rd(ISEQUAL, "Y"), "#111");  // the alternate index is current
  ASSERT_EQ(t.start(ISFIRST), 0);
  ASSERT_EQ(t.rd(ISEQUAL, "Y"), "Y  ");
  ASSERT_EQ(isrewcurr(t.fd, rec_of("Y  k  chang", RL).c_str()), 0);
  EXPECT_EQ(walk(), "XYZ");
  ASSERT_EQ(t.start(ISFIRST), 0);
  ASSERT_EQ(t.rd(ISEQUAL, "X"), "X  ");
  ASSERT_EQ(isrewcurr(t.fd, rec_of("X  b", RL).c_str()), 0);
  ASSERT_EQ(isrewcurr(t.fd, rec_of("X  k", RL).c_str()), 0);
  EXPECT_EQ(walk(), "YZX");
  // the duplicate counter starts again once a key value is gone
  ASSERT_EQ(t.start(ISFIRST), 0);
  for (const char *k : {"X", "Y", "Z"}) {
    ASSERT_EQ(t.rd(ISEQUAL, k), std::string(k) + "  ");
    ASSERT_EQ(isdelcurr(t.fd), 0);
  }
  ASSERT_EQ(iswrite(t.fd, rec_of("V  k", RL).c_str()), 0);
  EXPECT_EQ(walk(), "V");
}

// A run of duplicates whose counter reached its largest value is
// renumbered in place, keeping its order.
TEST(isam_positioning, duplicate_counter_wraps_by_renumbering) {
  fixture t({"A  k", "B  k"});
  keydesc alt = char_key(3, 3, ISDUPS);
  ASSERT_EQ(isaddindex(t.fd, &alt), 0);
  // each new record goes last in the run, the one before it goes
  auto key = [](int i) {
    const char *a = "0123456789abcdefghijklmnopqrstuvwxyz";
    return std::string{'a', a[i / 36 % 36], a[i % 36]} + "k";
  };
  for (int i = 0; i < 65540 % 1296 + 1296 * 50; i++) {
    ASSERT_EQ(iswrite(t.fd, rec_of(key(i), RL).c_str()), 0) << i << " " << iserrno;
    if (i > 0) {
      ASSERT_EQ(isdelete(t.fd, rec_of(key(i - 1), RL).c_str()), 0);
    }
  }
  ASSERT_EQ(iswrite(t.fd, rec_of("D  k", RL).c_str()), 0);
  ASSERT_EQ(t.start(ISEQUAL, "k", 0, 1), 0);
  std::string s;
  for (std::string k; (k = t.rd(ISNEXT))[0] != '#';) s += k[0];
  EXPECT_EQ(s, "ABaD");
}

TEST(isam_positioning, delete_current_leaves_a_hole) {
  fixture t({"A", "C", "E"});
  EXPECT_EQ(t.rd(ISEQUAL, "C"), "C  ");
  ASSERT_EQ(isdelcurr(t.fd), 0);
  EXPECT_EQ(t.rd(ISCURR), "#112");
  EXPECT_EQ(t.rd(ISPREV), "A  ");
  ASSERT_EQ(iswrite(t.fd, rec_of("C", RL).c_str()), 0);
  EXPECT_EQ(t.rd(ISEQUAL, "C"), "C  ");
  ASSERT_EQ(isdelcurr(t.fd), 0);
  EXPECT_EQ(t.rd(ISNEXT), "E  ");
  EXPECT_EQ(isdelcurr(t.fd), 0);
  EXPECT_EQ(isdelcurr(t.fd), -1);
  EXPECT_EQ(iserrno, ENOCURR);
}

TEST(isam_writes, write_keeps_position_and_buffer) {
  fixture t({"A", "C"});
  EXPECT_EQ(t.rd(ISFIRST), "A  ");
  std::string b = rec_of("B  xyz", RL);
  ASSERT_EQ(iswrite(t.fd, b.c_str()), 0);
  EXPECT_EQ(isrecnum, 3);
  EXPECT_EQ(b, rec_of("B  xyz", RL));
  EXPECT_EQ(t.rd(ISNEXT), "B  ");
  ASSERT_EQ(iswrcurr(t.fd, rec_of("D", RL).c_str()), 0);
  EXPECT_EQ(t.rd(ISNEXT), "#110");
  EXPECT_EQ(t.rd(ISPREV), "C  ");
}

TEST(isam_writes, unique_secondary_refuses_without_trace) {
  fixture t({"A  x", "B  y"});
  keydesc alt = char_key(3, 3, ISNODUPS);
  ASSERT_EQ(isaddindex(t.fd, &alt), 0);
  EXPECT_EQ(iswrite(t.fd, rec_of("C  x", RL).c_str()), -1);
  EXPECT_EQ(iserrno, EDUPL);
  EXPECT_EQ(t.rd(ISEQUAL, "C"), "#111");
  EXPECT_EQ(iswrite(t.fd, rec_of("A  z", RL).c_str()), -1);
  EXPECT_EQ(iserrno, EDUPL);
  dictinfo di;
  ASSERT_EQ(isindexinfo(t.fd, &di, 0), 0);
  EXPECT_EQ(di.di_nrecords, 2);
  // a rewrite into a taken key changes nothing either
  EXPECT_EQ(t.rd(ISEQUAL, "B"), "B  ");
  EXPECT_EQ(isrewcurr(t.fd, rec_of("B  x", RL).c_str()), -1);
  EXPECT_EQ(iserrno, EDUPL);
  std::string b = rec_of("B", RL);
  ASSERT_EQ(isread(t.fd, b.data(), ISEQUAL), 0);
  EXPECT_EQ(b, rec_of("B  y", RL));
  EXPECT_EQ(iswrite(t.fd, rec_of("C  z", RL).c_str()), 0);
  EXPECT_EQ(iserrno, 0);
}

TEST(isam_writes, freed_number_is_reused_last_first) {
  fixture t({"A", "B", "C", "D"});
  EXPECT_EQ(t.rd(ISEQUAL, "B"), "B  ");
  ASSERT_EQ(isdelcurr(t.fd), 0);
  EXPECT_EQ(t.rd(ISEQUAL, "D"), "D  ");
  ASSERT_EQ(isdelcurr(t.fd), 0);
  ASSERT_EQ(iswrite(t.fd, rec_of("E", RL).c_str()), 0);
  EXPECT_EQ(isrecnum, 4);
  ASSERT_EQ(iswrite(t.fd, rec_of("F", RL).c_str()), 0);
  EXPECT_EQ(isrecnum, 2);
  ASSERT_EQ(iswrite(t.fd, rec_of("G", RL).c_str()), 0);
  EXPECT_EQ(isrecnum, 5);
}

TEST(isam_writes, calls_by_primary_key_and_by_number) {
  fixture t({"A  1", "B  2"});
  ASSERT_EQ(isrewrite(t.fd, rec_of("B  3", RL).c_str()), 0);
  EXPECT_EQ(isrecnum, 2);
  EXPECT_EQ(isrewrite(t.fd, rec_of("Q  3", RL).c_str()), -1);
  EXPECT_EQ(iserrno, ENOREC);
  ASSERT_EQ(isrewrec(t.fd, 1, rec_of("Z  9", RL).c_str()), 0);
  EXPECT_EQ(t.rd(ISLAST), "Z  ");
  EXPECT_EQ(isrewrec(t.fd, 7, rec_of("Y", RL).c_str()), -1);
  EXPECT_EQ(iserrno, ENOREC);
  ASSERT_EQ(isdelete(t.fd, rec_of("B", RL).c_str()), 0);
  EXPECT_EQ(isrecnum, 2);
  EXPECT_EQ(isdelrec(t.fd, 2), -1);
  EXPECT_EQ(iserrno, ENOREC);
  EXPECT_EQ(t.rd(ISCURR), "Z  ");
  ASSERT_EQ(isdelrec(t.fd, 1), 0);
  EXPECT_EQ(t.rd(ISCURR), "#112");
  dictinfo di;
  ASSERT_EQ(isindexinfo(t.fd, &di, 0), 0);
  EXPECT_EQ(di.di_nrecords, 0);
}

TEST(isam_indexes, add_and_delete_rules) {
  fixture t({"A  x", "B  x"});
  keydesc alt = char_key(3, 3, ISNODUPS);
  EXPECT_EQ(isaddindex(t.fd, &alt), -1);
  EXPECT_EQ(iserrno, EDUPL);
  dictinfo di;
  ASSERT_EQ(isindexinfo(t.fd, &di, 0), 0);
  EXPECT_EQ(di.di_nkeys, 1);
  alt.k_flags = ISDUPS + COMPRESS;
  ASSERT_EQ(isaddindex(t.fd, &alt), 0);
  EXPECT_EQ(isaddindex(t.fd, &alt), -1);
  EXPECT_EQ(iserrno, EKEXISTS);
  keydesc bad = char_key(10, 5, 0);
  EXPECT_EQ(isaddindex(t.fd, &bad), -1);
  EXPECT_EQ(iserrno, EBADKEY);
  keydesc got;
  ASSERT_EQ(isindexinfo(t.fd, &got, 2), 0);
  EXPECT_EQ(got.k_flags, ISDUPS + COMPRESS);
  EXPECT_EQ(got.k_nparts, 1);
  EXPECT_EQ(got.k_part[0].kp_start, 3);
  EXPECT_EQ(got.k_len, 3);
  ASSERT_EQ(isindexinfo(t.fd, &got, 1), 0);
  EXPECT_EQ(got.k_flags, ISNODUPS + COMPRESS);
  EXPECT_EQ(isindexinfo(t.fd, &got, 3), -1);
  EXPECT_EQ(iserrno, EBADARG);
  keydesc prim = char_key(0, 3, 0);
  EXPECT_EQ(isdelindex(t.fd, &prim), -1);
  EXPECT_EQ(iserrno, EPRIMKEY);
  EXPECT_EQ(t.start(ISFIRST, "", 0, 1), 0);
  ASSERT_EQ(isdelindex(t.fd, &alt), 0);
  EXPECT_EQ(isdelindex(t.fd, &alt), -1);
  EXPECT_EQ(iserrno, EBADKEY);
  EXPECT_EQ(t.rd(ISNEXT), "A  ");  // back on the primary
  ASSERT_EQ(isclose(t.fd), 0);
  t.fd = isopen(t.name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_GE(t.fd, 0);
  ASSERT_EQ(isindexinfo(t.fd, &di, 0), 0);
  EXPECT_EQ(di.di_nkeys, 1);
  EXPECT_EQ(isaddindex(t.fd, &alt), -1);
  EXPECT_EQ(iserrno, ENOTEXCL);
  EXPECT_EQ(isdelindex(t.fd, &alt), -1);
  EXPECT_EQ(iserrno, ENOTEXCL);
}

TEST(isam_files, build_rejections) {
  scratch_dir d;
  std::string n = d.file("b");
  keydesc k = char_key(0, 4, ISDUPS + COMPRESS);
  int fd = isbuild(n.c_str(), 10, &k, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(iserrno, 0);
  struct {
    int reclen, start, len, nparts, mode, err;
  } cases[] = {
      {10, 0, 4, 1, ISINOUT + ISEXCLLOCK, EEXIST},      // existing file
      {10, 8, 4, 1, ISINOUT + ISEXCLLOCK, EBADKEY},     // part past the end
      {10, 0, 1, 9, ISINOUT + ISEXCLLOCK, EBADKEY},     // nine parts
      {200, 0, 121, 1, ISINOUT + ISEXCLLOCK, EBADKEY},  // key too long
      {40000, 0, 4, 1, ISINOUT + ISEXCLLOCK, EROWSIZE},
      {10, 0, 4, 1, 3 + ISEXCLLOCK, EBADARG},
      {10, 0, 4, 1, ISINOUT + ISEXCLLOCK + ISMANULOCK, EBADARG},
  };
  for (auto &c : cases) {
    keydesc x = char_key(c.start, c.len, 0);
    x.k_nparts = short(c.nparts);
    for (int i = 1; i < c.nparts && i < NPARTS; i++) x.k_part[i] = x.k_part[0];
    std::string nm = c.err == EEXIST ? n : d.file("c");
    EXPECT_EQ(isbuild(nm.c_str(), c.reclen, &x, c.mode), -1);
    EXPECT_EQ(iserrno, c.err) << c.reclen << " " << c.nparts;
    if (c.err != EEXIST) {
      EXPECT_NE(access((nm + ".dat").c_str(), F_OK), 0);
    }
  }
  EXPECT_EQ(isclose(fd), 0);
  EXPECT_EQ(isclose(fd), -1);
  EXPECT_EQ(iserrno, ENOTOPEN);
}

TEST(isam_files, open_modes_and_limits) {
  fixture t({"A"});
  ASSERT_EQ(isclose(t.fd), 0);
  EXPECT_EQ(isopen(t.dir.file("none").c_str(), ISINOUT + ISMANULOCK), -1);
  EXPECT_EQ(iserrno, ENOENT);
  EXPECT_EQ(isopen(t.name.c_str(), 3), -1);
  EXPECT_EQ(iserrno, EBADARG);
  int in = isopen(t.name.c_str(), ISINPUT + ISMANULOCK + ISNOLOG);
  ASSERT_GE(in, 0);
  EXPECT_EQ(iswrite(in, rec_of("B", RL).c_str()), -1);
  EXPECT_EQ(iserrno, ENOTOPEN);
  int both = isopen(t.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_EQ(both, in + 1);
  ASSERT_EQ(iswrite(both, rec_of("B", RL).c_str()), 0);
  std::string b = rec_of("B", RL);
  ASSERT_EQ(isread(in, b.data(), ISEQUAL), 0);  // sees the other descriptor's write
  ismaxfds = 2;
  EXPECT_EQ(isopen(t.name.c_str(), ISINPUT + ISMANULOCK), -1);
  EXPECT_EQ(iserrno, ETOOMANY);
  ismaxfds = 0;
  ASSERT_EQ(isclose(in), 0);
  EXPECT_EQ(isopen(t.name.c_str(), ISINPUT + ISEXCLLOCK), in);  // lowest free slot
  EXPECT_EQ(isclose(in), 0);
  EXPECT_EQ(isflush(both), 0);
  EXPECT_EQ(isclose(both), 0);
}

TEST(isam_files, rename_and_erase) {
  fixture t({"A", "B"});
  fixture other({"Q"});
  ASSERT_EQ(isclose(other.fd), 0);
  EXPECT_EQ(isrename(t.name.c_str(), other.name.c_str()), -1);
  EXPECT_EQ(iserrno, EEXIST);
  std::string moved = t.dir.file("moved");
  ASSERT_EQ(isrename(t.name.c_str(), moved.c_str()), 0);
  EXPECT_EQ(t.rd(ISEQUAL, "B"), "B  ");
  ASSERT_EQ(iswrite(t.fd, rec_of("C", RL).c_str()), 0);
  ASSERT_EQ(isclose(t.fd), 0);
  EXPECT_NE(access((t.name + ".idx").c_str(), F_OK), 0);
  int fd = isopen(moved.c_str(), ISINPUT + ISMANULOCK);
  ASSERT_GE(fd, 0);
  dictinfo di;
  ASSERT_EQ(isindexinfo(fd, &di, 0), 0);
  EXPECT_EQ(di.di_nrecords, 3);
  EXPECT_EQ(di.di_recsize, RL);
  EXPECT_EQ(di.di_idxsize, 3);
  ASSERT_EQ(isclose(fd), 0);
  ASSERT_EQ(iserase(moved.c_str()), 0);
  EXPECT_NE(access((moved + ".dat").c_str(), F_OK), 0);
  EXPECT_EQ(iserase(moved.c_str()), -1);
  EXPECT_EQ(iserrno, ENOENT);
}

// Numeric and descending parts order by value.
TEST(isam_keys, numeric_types_order_by_value) {
  struct tcase {
    int type, size;
    std::vector<double> vals;
  } cases[] = {
      {INTTYPE, 2, {-32768, -5, -1, 0, 1, 300, 32767}},
      {LONGTYPE, 4, {-2147483648.0, -70000, -1, 0, 2, 65536, 2147483647}},
      {DOUBLETYPE, 8, {-1e300, -2.5, -0.125, 0, 1e-300, 3.75, 1e300}},
      {FLOATTYPE, 4, {-1e30f, -2.5f, 0, 0.5f, 7, 1e30f}},
      {LONGTYPE + ISDESC, 4, {2147483647, 5, 0, -1, -9}},
      {CHARTYPE + ISDESC, 1, {200, 128, 127, 1, 0}},
  };
  for (auto &c : cases) {
    scratch_dir d;
    keydesc k;
    std::memset(&k, 0, sizeof k);
    k.k_nparts = 1;
    k.k_part[0] = {2, short(c.size), short(c.type)};
    int fd = isbuild(d.file("n").c_str(), 16, &k, ISINOUT + ISEXCLLOCK);
    ASSERT_GE(fd, 0) << iserrno;
    for (size_t i = c.vals.size(); i-- > 0;) {  // written in reverse
      unsigned char r[16] = {};
      double v = c.vals[i];
      int t = c.type & ~ISDESC;
      if (t == INTTYPE || t == LONGTYPE) {
        int64_t x = int64_t(v);
        for (int j = 0; j < c.size; j++) r[2 + j] = uint8_t(x >> (8 * (c.size - 1 - j)));
      } else if (t == DOUBLETYPE) {
        std::memcpy(r + 2, &v, 8);
      } else if (t == FLOATTYPE) {
        float f = float(v);
        std::memcpy(r + 2, &f, 4);
      } else {
        r[2] = uint8_t(v);
      }
      r[0] = uint8_t(i);
      ASSERT_EQ(iswrite(fd, reinterpret_cast<char *>(r)), 0) << iserrno;
    }
    char b[16];
    ASSERT_EQ(isstart(fd, &k, 0, b, ISFIRST), 0);
    for (size_t i = 0; i < c.vals.size(); i++) {
      ASSERT_EQ(isread(fd, b, ISNEXT), 0);
      EXPECT_EQ(size_t(uint8_t(b[0])), i) << "type " << c.type;
    }
    EXPECT_EQ(isread(fd, b, ISNEXT), -1);
    isclose(fd);
  }
  keydesc odd;
  std::memset(&odd, 0, sizeof odd);
  odd.k_nparts = 1;
  odd.k_part[0] = {0, 3, LONGTYPE};
  scratch_dir d;
  EXPECT_EQ(isbuild(d.file("o").c_str(), 16, &odd, ISINOUT + ISEXCLLOCK), -1);
  EXPECT_EQ(iserrno, EBADKEY);
}

TEST(isam_keys, record_number_order) {
  fixture t({"C", "A", "B", "D"});
  ASSERT_EQ(t.rd(ISEQUAL, "A"), "A  ");
  ASSERT_EQ(isdelcurr(t.fd), 0);
  keydesc none;
  std::memset(&none, 0, sizeof none);
  char b[RL];
  ASSERT_EQ(isstart(t.fd, &none, 0, b, ISFIRST), 0);
  EXPECT_EQ(t.rd(ISNEXT), "C  ");
  EXPECT_EQ(t.rd(ISNEXT), "B  ");
  EXPECT_EQ(t.rd(ISNEXT), "D  ");
  EXPECT_EQ(t.rd(ISNEXT), "#110");
  isrecnum = 2;
  EXPECT_EQ(t.rd(ISEQUAL), "#111");
  isrecnum = 2;
  EXPECT_EQ(t.rd(ISGTEQ), "B  ");
  EXPECT_EQ(t.rd(ISPREV), "C  ");
  // a file built without a primary key
  scratch_dir d;
  int fd = isbuild(d.file("p").c_str(), 8, &none, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0) << iserrno;
  ASSERT_EQ(iswrite(fd, "record01"), 0);
  ASSERT_EQ(iswrite(fd, "record02"), 0);
  char r[8];
  ASSERT_EQ(isread(fd, r, ISLAST), 0);
  EXPECT_EQ(std::string(r, 8), "record02");
  EXPECT_EQ(isrewrite(fd, "record03"), -1);
  EXPECT_EQ(iserrno, ENOPRIM);
  isclose(fd);
}

TEST(isam_errors, iserrno_cleared_by_each_call) {
  fixture t({"A"});
  EXPECT_EQ(t.rd(ISEQUAL, "Z"), "#111");
  EXPECT_EQ(t.rd(ISEQUAL, "A"), "A  ");
  EXPECT_EQ(iserrno, 0);
  EXPECT_EQ(isread(t.fd, nullptr, 77), -1);
  EXPECT_EQ(iserrno, EBADARG);
  EXPECT_EQ(isflush(t.fd), 0);
  EXPECT_EQ(iserrno, 0);
  EXPECT_EQ(is_nerr, 135);
  EXPECT_STREQ(is_errlist[ELOCKED - 100], "record locked");
}

std::string slurp(const std::string &p) {
  std::string s;
  int fd = open(p.c_str(), O_RDONLY);
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
  close(fd);
  return s;
}

void spit(const std::string &p, const std::string &s) {
  int fd = open(p.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_EQ(write(fd, s.data(), s.size()), ssize_t(s.size()));
  close(fd);
}

// Damaged files end in EBADFILE, never in a crash.
TEST(isam_damage, damaged_files_give_ebadfile) {
  struct dcase {
    const char *what;
    bool dat;      // damage the data file
    size_t off;    // where (for a byte change)
    int byte;      // new value, -1: truncate to off
    bool at_open;  // detected by isopen (else by a full scan)
  } cases[] = {
      {"magic", false, 0, 'X', true},
      {"version", false, 9, 7, true},
      {"node size", false, 14, 0x11, true},
      {"key count", false, 21, 0, true},
      {"key part past record end", false, 128 + 5, 40, true},
      {"root beyond the file", false, 128 + 57, 0x7f, true},
      {"truncated index", false, 4096 + 100, -1, true},
      {"truncated data", true, 100, -1, true},
      {"leaf type", false, 4096 * 1, 9, false},
      {"leaf count", false, 4096 * 1 + 2, 0x7f, false},
      {"record number in a leaf", false, 4096 * 1 + 16 + 3, 0x7f, false},
      {"state byte of a record", true, 12, 0, false},
      {"key of a record", true, 13 * 7, 'Z', false},
  };
  for (auto &c : cases) {
    fixture t;
    for (int i = 0; i < 500; i++)
      ASSERT_EQ(iswrite(t.fd, rec_of(std::to_string(100 + i), RL).c_str()), 0);
    ASSERT_EQ(isclose(t.fd), 0);
    std::string p = t.name + (c.dat ? ".dat" : ".idx");
    std::string s = slurp(p);
    ASSERT_LT(c.off, s.size()) << c.what;
    if (c.byte < 0)
      s.resize(c.off);
    else
      s[c.off] = char(c.byte);
    spit(p, s);
    int fd = isopen(t.name.c_str(), ISINOUT + ISMANULOCK);
    if (c.at_open) {
      EXPECT_EQ(fd, -1) << c.what;
      EXPECT_EQ(iserrno, EBADFILE) << c.what;
      continue;
    }
    ASSERT_GE(fd, 0) << c.what;
    char b[RL];
    int rc;
    while ((rc = isread(fd, b, ISNEXT)) == 0) {
    }
    EXPECT_EQ(iserrno, EBADFILE) << c.what;
    isclose(fd);
  }
  // not an ISAM file at all
  scratch_dir d;
  std::string n = d.file("junk");
  for (const char *sfx : {".dat", ".idx"}) {
    int f = open((n + sfx).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(write(f, "hello, world\n", 13), 13);
    close(f);
  }
  EXPECT_EQ(isopen(n.c_str(), ISINPUT + ISMANULOCK), -1);
  EXPECT_EQ(iserrno, EBADFILE);
}

// Counts the records in primary order; -1 when the scan fails.
int scan_count(int fd) {
  keydesc k = char_key(0, 3, ISNODUPS);
  char b[RL];
  if (isstart(fd, &k, 0, b, ISFIRST) != 0) return -1;
  int n = 0;
  while (isread(fd, b, ISNEXT) == 0) n++;
  return iserrno == EENDFILE ? n : -1;
}

// A write that fails part-way (a full disk) leaves the file as it was:
// the images it overwrote come back from the journal at once.
TEST(isam_damage, disk_full_on_write) {
  fixture t({"A", "B"});
  keydesc alt = char_key(3, 3, ISDUPS);
  ASSERT_EQ(isaddindex(t.fd, &alt), 0);
  ASSERT_EQ(isclose(t.fd), 0);
  t.fd = isopen(t.name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_GE(t.fd, 0);
  int failed = 0;
  for (int nth = 1;; nth++) {
    isam::io_fail_write_for_test(nth, ENOSPC);
    int rc = iswrite(t.fd, rec_of("C  xyz", RL).c_str());
    isam::io_fail_write_for_test(0, 0);
    if (rc == 0) break;
    failed++;
    EXPECT_EQ(iserrno, ENOSPC) << nth;
    EXPECT_EQ(slurp(t.name + ".idx")[11] & 3, 0) << nth;  // neither pending nor damaged
    EXPECT_EQ(t.rd(ISEQUAL, "C"), "#111") << nth;
    EXPECT_EQ(scan_count(t.fd), 2) << nth;
    dictinfo di;
    ASSERT_EQ(isindexinfo(t.fd, &di, 0), 0);
    EXPECT_EQ(di.di_nrecords, 2);
  }
  EXPECT_GE(failed, 3);  // the journal, the data, the nodes
  EXPECT_EQ(t.rd(ISEQUAL, "C"), "C  ");
  EXPECT_EQ(scan_count(t.fd), 3);
  ASSERT_EQ(isclose(t.fd), 0);

  // An exclusive file's flush cut short: the file on disk keeps its old
  // state, the changes stay cached, and the next complete flush writes them.
  fixture x({"A"});
  ASSERT_EQ(isflush(x.fd), 0);
  for (int i = 0; i < 300; i++) ASSERT_EQ(iswrite(x.fd, rec_of(std::to_string(i), RL).c_str()), 0);
  std::string before = slurp(x.name + ".idx");
  for (int nth = 1; nth < 4; nth++) {
    isam::io_fail_write_for_test(nth, ENOSPC);
    EXPECT_EQ(isflush(x.fd), -1);
    EXPECT_EQ(iserrno, ENOSPC);
    isam::io_fail_write_for_test(0, 0);
    std::string now = slurp(x.name + ".idx");
    EXPECT_EQ(now[11] & 3, 0);
    EXPECT_EQ(now.substr(32, 16), before.substr(32, 16)) << "record and record-number counts";
  }
  EXPECT_EQ(isclose(x.fd), 0);
  x.fd = isopen(x.name.c_str(), ISINOUT + ISEXCLLOCK);
  EXPECT_EQ(scan_count(x.fd), 301);

  scratch_dir d;
  keydesc k = char_key(0, 3, 0);
  isam::io_fail_write_for_test(1, ENOSPC);
  EXPECT_EQ(isbuild(d.file("full").c_str(), 10, &k, ISINOUT + ISEXCLLOCK), -1);
  isam::io_fail_write_for_test(0, 0);
  EXPECT_EQ(iserrno, ENOSPC);
  EXPECT_NE(access(d.file("full.dat").c_str(), F_OK), 0);
  EXPECT_NE(access(d.file("full.idx").c_str(), F_OK), 0);
}

// A process killed at any write of a change leaves a file whose next
// opener finds it whole, with the change entirely there or not at all.
TEST(isam_damage, killed_at_every_write) {
  for (int lockmode : {ISMANULOCK, ISEXCLLOCK}) {
    for (int nth = 1;; nth++) {
      fixture t({"A", "B", "D"});
      keydesc alt = char_key(3, 3, ISDUPS);
      ASSERT_EQ(isaddindex(t.fd, &alt), 0);
      auto k3 = [](char c, int i) {
        return std::string{c, char('A' + i / 40), char('A' + i % 40)};
      };
      for (int i = 0; i < 200; i++)
        ASSERT_EQ(iswrite(t.fd, rec_of(k3('K', i) + "abc", RL).c_str()), 0);
      ASSERT_EQ(isclose(t.fd), 0);
      pid_t pid = fork();
      if (pid == 0) {
        int fd = isopen(t.name.c_str(), ISINOUT + lockmode);
        if (fd < 0) _exit(2);
        std::string r = rec_of("B", RL);
        if (isread(fd, r.data(), ISEQUAL + ISLOCK) != 0) _exit(3);
        isam::io_fail_write_for_test(nth, -1);  // dies at that write
        isdelcurr(fd);
        for (int i = 0; i < 40; i++) iswrite(fd, rec_of(k3('N', i) + "zzz", RL).c_str());
        isflush(fd);
        _exit(0);
      }
      int st;
      waitpid(pid, &st, 0);
      ASSERT_TRUE(WIFEXITED(st)) << nth;
      int fd = isopen(t.name.c_str(), ISINOUT + ISMANULOCK);
      ASSERT_GE(fd, 0) << nth << " " << iserrno;
      t.fd = fd;
      // the alternate index holds as many entries as the primary
      std::string b = rec_of("", RL);
      int m = 0;
      ASSERT_EQ(isstart(fd, &alt, 0, b.data(), ISFIRST), 0) << nth << " " << iserrno;
      while (isread(fd, b.data(), ISNEXT) == 0) m++;
      int n = scan_count(fd);
      EXPECT_EQ(m, n) << nth;
      dictinfo di;
      ASSERT_EQ(isindexinfo(fd, &di, 0), 0) << nth << " " << iserrno;
      EXPECT_EQ(n, di.di_nrecords) << nth;
      std::string got = t.rd(ISEQUAL, "B");
      EXPECT_TRUE(got == "B  " || got == "#111") << nth << " " << got;
      if (lockmode == ISMANULOCK && WEXITSTATUS(st) == 137) {
        EXPECT_TRUE(n >= 202 && n <= 243) << nth;  // calls before the failed one are kept
      }
      ASSERT_EQ(iswrite(fd, rec_of("Zzz", RL).c_str()), 0) << nth;
      ASSERT_EQ(isclose(fd), 0);
      t.fd = -1;
      if (WEXITSTATUS(st) == 0) break;  // no write left to die at
      ASSERT_EQ(WEXITSTATUS(st), 137) << nth;
      ASSERT_LT(nth, 400);
    }
  }
}

// A writer killed at the end of a change (its pages and the contents of
// its dictionary written, the count still the journal's number) leaves the
// change to be undone by the next caller; a caller killed at any write of
// that undoing leaves it to the one after, and the file comes back as
// before the change.
TEST(isam_damage, recovery_killed_at_every_write) {
  keydesc alt = char_key(3, 3, ISDUPS);
  auto make = [&](fixture &t) {
    ASSERT_EQ(isaddindex(t.fd, &alt), 0);
    for (int i = 0; i < 200; i++)
      ASSERT_EQ(
          iswrite(t.fd,
                  rec_of({'K', char('A' + i / 40), char('A' + i % 40), 'a', 'b', 'c'}, RL).c_str()),
          0);
    ASSERT_EQ(isclose(t.fd), 0);
    t.fd = -1;
  };
  // a child that deletes B and dies at its nth write; its exit status
  auto deleter = [](const std::string &name, int nth) {
    pid_t pid = fork();
    if (pid == 0) {
      int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
      std::string r = rec_of("B", RL);
      if (fd < 0 || isread(fd, r.data(), ISEQUAL + ISLOCK) != 0) _exit(2);
      isam::io_fail_write_for_test(nth, -1);
      isdelcurr(fd);
      _exit(0);
    }
    int st;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  };
  auto be64 = [](const std::string &s, size_t at) {
    uint64_t v = 0;
    for (size_t i = at; i < at + 8 && i < s.size(); i++) v = v << 8 | uint8_t(s[i]);
    return v;
  };
  int last = 0;  // the last death that leaves a change to undo
  for (int nth = 1;; nth++) {
    fixture t({"A", "B", "D"});
    make(t);
    int st = deleter(t.name, nth);
    if (st == 0) break;
    ASSERT_EQ(st, 137) << nth;
    std::string idx = slurp(t.name + ".idx");
    if ((idx[11] & 2) && be64(idx, 24) == be64(slurp(t.name + ".jnl"), 8)) last = nth;
    ASSERT_LT(nth, 100);
  }
  ASSERT_GT(last, 2);  // after the pages were written
  for (int rn = 1;; rn++) {
    fixture t({"A", "B", "D"});
    make(t);
    ASSERT_EQ(deleter(t.name, last), 137);
    ASSERT_NE(slurp(t.name + ".idx")[11] & 2, 0);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = isopen(t.name.c_str(), ISINOUT + ISMANULOCK);
      if (fd < 0) _exit(2);
      isam::io_fail_write_for_test(rn, -1);  // dies at that write of the undoing
      std::string r = rec_of("A", RL);
      _exit(isread(fd, r.data(), ISEQUAL) == 0 ? 0 : 3);
    }
    int st;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st)) << rn;
    int code = WEXITSTATUS(st);
    ASSERT_TRUE(code == 0 || code == 137) << rn << " " << code;
    t.fd = isopen(t.name.c_str(), ISINOUT + ISMANULOCK);
    ASSERT_GE(t.fd, 0) << rn << " " << iserrno;
    EXPECT_EQ(t.rd(ISEQUAL, "B"), "B  ") << rn;
    std::string b = rec_of("", RL);
    int m = 0;
    ASSERT_EQ(isstart(t.fd, &alt, 0, b.data(), ISFIRST), 0) << rn << " " << iserrno;
    while (isread(t.fd, b.data(), ISNEXT) == 0) m++;
    EXPECT_EQ(m, 203) << rn;
    EXPECT_EQ(scan_count(t.fd), 203) << rn;
    dictinfo di;
    ASSERT_EQ(isindexinfo(t.fd, &di, 0), 0) << rn;
    EXPECT_EQ(di.di_nrecords, 203) << rn;
    if (code == 0) break;  // the undoing ran whole
    ASSERT_LT(rn, 100);
  }
}

// A name longer than the system allows is EFNAME, not the system's error.
TEST(isam_files, name_too_long) {
  scratch_dir d;
  std::string longname = d.file(std::string(300, 'n').c_str());
  keydesc k = char_key(0, 3, 0);
  EXPECT_EQ(isbuild(longname.c_str(), 10, &k, ISINOUT + ISEXCLLOCK), -1);
  EXPECT_EQ(iserrno, EFNAME);
  EXPECT_EQ(isopen(longname.c_str(), ISINOUT + ISMANULOCK), -1);
  EXPECT_EQ(iserrno, EFNAME);
  std::string edge = d.file(std::string(252, 'e').c_str());  // + ".idx" is 256 bytes
  EXPECT_EQ(isbuild(edge.c_str(), 10, &k, ISINOUT + ISEXCLLOCK), -1);
  EXPECT_EQ(iserrno, EFNAME);
  std::string ok = d.file(std::string(251, 'o').c_str());
  int fd = isbuild(ok.c_str(), 10, &k, ISINOUT + ISEXCLLOCK);
  EXPECT_GE(fd, 0) << iserrno;
  isclose(fd);
  std::string deep = d.path + "/" + std::string(300, 'd') + "/f";
  EXPECT_EQ(isopen(deep.c_str(), ISINPUT + ISMANULOCK), -1);
  EXPECT_EQ(iserrno, EFNAME);
}

}  // namespace
