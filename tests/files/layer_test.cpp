// The file layer through its requests: names through units and aliases,
// create, open options, the record routines of sequential and relative
// files, close options, rename and date, protection, status, indexed
// opens through the engine, and the errors of failing system calls.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>
#include <cerrno>
#include <cstring>

#include "run/base/interp.h"
#include "run/config/settings.h"
#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/files/iohelp.h"
#include "run/files/iostmt.h"
#include "run/files/txlog.h"
#include "run/loader/fbuf.h"
#include "run/loader/names.h"
#include "tests/files/files_fixture.h"

namespace {

using layer = files_fixture;

TEST(suffix_code, encodes_and_decodes_every_length) {
  struct {
    unsigned n;
    const char *code;
  } known[] = {{0, "aa"}, {80, "dc"}, {935, "9z"}, {936, "a0"}, {1000, "21"}, {1280, "u9"}};
  for (auto &k : known) {
    char c[2];
    encode(k.n, c);
    EXPECT_EQ(std::string(c, 2), k.code) << k.n;
  }
  for (unsigned n = 0; n <= 1295; n++) {
    char c[2];
    encode(n, c);
    ASSERT_EQ(vx_decode(c), int(n)) << n;
  }
  EXPECT_EQ(vx_decode("A1"), -1);
  EXPECT_EQ(vx_decode("a."), -1);
}

// Lines through the 1024-byte block: one split by the block's end, one
// longer than the caller's room, one longer than the block; then writing
// through the block and the position of a reader.
TEST_F(layer, buffered_lines_and_writes) {
  std::string text = std::string(1000, 'a') + "\n" + std::string(60, 'b') + "\n" +
                     std::string(1500, 'c') + "\nend";
  put("lines", text);
  int fd = ::open("lines", O_RDONLY);
  ASSERT_GE(fd, 0);
  fbinit();
  char line[2048];
  EXPECT_EQ(fbgets(fd, line, 2000), 1001);
  EXPECT_EQ(fbtell(fd), 1001);
  EXPECT_EQ(fbgets(fd, line, 40), 40);  // the caller's room splits the line
  EXPECT_EQ(fbgets(fd, line, 2000), 21);
  EXPECT_EQ(std::string(line), std::string(20, 'b') + "\n");
  EXPECT_EQ(fbgets(fd, line, 2000), 1024);  // a block without a line feed
  EXPECT_EQ(fbgets(fd, line, 2000), 477);
  EXPECT_EQ(fbgets(fd, line, 2000), 3);
  EXPECT_STREQ(line, "end");
  EXPECT_EQ(fbgets(fd, line, 2000), 0);
  ::close(fd);
  fd = ::open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  fbinit();
  for (int i = 0; i < 300; i++) ASSERT_EQ(fbwrite(fd, "0123456789", 10), 10);
  EXPECT_EQ(size_of("out"), 2048);  // two whole blocks so far
  EXPECT_EQ(fbterm(fd), 0);
  ::close(fd);
  EXPECT_EQ(size_of("out"), 3000);
  EXPECT_EQ(fbwrite(-1, "x", 1), 1);  // collected only
  EXPECT_LT(fbterm(-1), 0);
  fbend();
  int sys = open_sysfile("sys", 1);
  ASSERT_GE(sys, 0);
  struct stat st;
  ASSERT_EQ(fstat(sys, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);  // the creation mask does not apply
  ::close(sys);
  EXPECT_EQ(open_sysfile("nodir/log", 0), -1);
}

TEST_F(layer, names_go_through_units_aliases_and_paths) {
  EXPECT_EQ(create("cust", 'S', 0, 0, 3), 0);  // unit 3 has an alias
  EXPECT_EQ(size_of("alias3/cust.saa"), 0);
  EXPECT_STREQ(errfile, "cust/3");
  ASSERT_EQ(mkdir("unit2/x", 0755), 0);
  EXPECT_EQ(create("x/y", 'U', 0, 0, 2), 0);  // a slash further in: still the unit's
  EXPECT_EQ(size_of("unit2/x/y"), 0);
  EXPECT_EQ(create("./here", 'U'), 0);  // a path
  EXPECT_EQ(size_of("here"), 0);
  EXPECT_EQ(create(at("unit1/abs"), 'U'), 0);
  EXPECT_STREQ(errfile, at("unit1/abs").c_str());
  EXPECT_EQ(open(1, "abs", 'U', 0), 0);               // the same file by its unit
  EXPECT_EQ(create("cust", 'S', 0, 0, 5), FE_NODIR);  // no unit5
  EXPECT_EQ(create("cust", 'S', 0, 0, -1), FE_NODIR);
  EXPECT_EQ(open(2, "cust", 'S', 0, 1), FE_NOTFOUND);
  EXPECT_EQ(open(2, "cust", 'S', 0, 3), 0);
}

TEST_F(layer, relative_files_are_created_with_their_length_in_the_name) {
  EXPECT_EQ(create("stock", 'R', 80, 1000), 0);
  EXPECT_EQ(size_of("unit1/stock.rdc"), 80000);
  EXPECT_EQ(create("stock", 'R', 80), FE_EXISTS);
  EXPECT_EQ(create("stock", 'S'), FE_EXISTS);  // the base name is taken
  EXPECT_EQ(create("big", 'R', 1280), 0);
  EXPECT_EQ(size_of("unit1/big.ru9"), 0);
  EXPECT_EQ(create("zero", 'R', 0), FE_VALUE);
  EXPECT_EQ(create("huge", 'R', 1281), FE_VALUE);
  EXPECT_EQ(create("neg", 'R', 10, -1), FE_VALUE);
  EXPECT_EQ(create("odd", 'X'), FE_VALUE);
  EXPECT_EQ(open(1, "stock", 'R', 3), 0);
  EXPECT_EQ(oftable[0].prlen, 80u);
  EXPECT_EQ(oftable[0].porg, 'R');
  EXPECT_EQ(open(2, "stock", 'R', 8), FE_OPTION);  // append is not random access
  EXPECT_EQ(oftable[1].inuse, 0);
}

// One row: organisation on disk (by create), organisation asked for,
// option, the result.
TEST_F(layer, open_checks_organisation_and_option) {
  ASSERT_EQ(create("seq", 'S'), 0);
  ASSERT_EQ(create("rel", 'R', 10), 0);
  ASSERT_EQ(create("un", 'U'), 0);
  struct row {
    const char *name;
    char org;
    int opt;
    int result;
  } rows[] = {
      {"seq", ' ', 0, 0},
      {"seq", 'S', 2, 0},
      {"seq", 'U', 0, FE_OPTION},
      {"un", 'S', 0, FE_OPTION},
      {"un", 'U', 8, 0},
      {"seq", 'R', 3, FE_OPTION},
      {"seq", 'I', 0, FE_NOTISAM},
      {"seq", 'Q', 0, FE_VALUE},
      {"seq", 'S', 3, FE_OPTION},
      {"seq", 'S', 99, FE_OPTION},
      {"seq", 'S', 101, FE_OPTION},
      {"rel", 'R', 0, FE_OPTION},
      {"rel", 'S', 0, 0},
      {"rel", 'R', 4, 0},
      {"rel", 'R', 5, 0},
      {"rel", 'S', 1, 0},
      {"rel", 'R', 6, 0},
      {"seq", 'S', -1, FE_OPTION},
  };
  for (auto &r : rows) {
    EXPECT_EQ(open(1, r.name, r.org, r.opt), r.result) << r.name << " " << r.org << " " << r.opt;
    if (r.result == 0) {
      EXPECT_EQ(close(1), 0);
    }
    EXPECT_EQ(oftable[0].inuse, 0);
  }
  vx_compat = 1;
  EXPECT_EQ(open(1, "un", 'S', 0), 0);
  EXPECT_EQ(open(2, "seq", 'U', 0), 0);
  vx_compat = 0;
  // file numbers
  EXPECT_EQ(open(0, "seq", 'S', 0), FE_UNIT);
  EXPECT_EQ(open(9, "seq", 'S', 0), FE_UNIT);
  EXPECT_EQ(open(1, "seq", 'S', 0), FE_UNIT);
  // a record length makes an unstructured file relative, and only it
  EXPECT_EQ(open(3, "rel", 'R', 3, 1, 10), FE_VALUE);
  EXPECT_EQ(open(3, "un", 'R', 3, 1, 12), 0);
  EXPECT_EQ(oftable[2].prlen, 12u);
  EXPECT_EQ(close(3, 7), FE_VALUE);
  EXPECT_EQ(simple(1, 3), FE_BADOP);
  EXPECT_EQ(simple(30, 3), FE_BADOP);
  EXPECT_EQ(simple(FMOP_CLOSE, 5), FE_NOTOPEN);
}

TEST_F(layer, sequential_records_counted_and_lines) {
  ASSERT_EQ(create("c", 'S'), 0);
  ASSERT_EQ(open(1, "c", 'S', 1), 0);
  EXPECT_EQ(write(1, "alpha"), 0);
  EXPECT_EQ(write(1, ""), 0);
  EXPECT_EQ(write(1, std::string(255, 'x')), 0);
  EXPECT_EQ(write(1, std::string(256, 'x')), FE_DATA);
  std::string got;
  EXPECT_EQ(read(1, &got), FE_NOREAD);
  EXPECT_EQ(write(1, "r", 'R', 1), FE_SEQMODE);
  EXPECT_EQ(simple(FMOP_DELETE, 1), FE_NOTIDX);
  EXPECT_EQ(simple(FMOP_UNLOCK, 1), FE_NOTIDX);
  ASSERT_EQ(close(1), 0);
  EXPECT_EQ(contents("unit1/c.saa"), std::string("\5alpha\0", 7) + "\xff" + std::string(255, 'x'));
  ASSERT_EQ(open(1, "c", ' ', 0), 0);
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got, "alpha");
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got, "");
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got.size(), 255u);
  EXPECT_EQ(read(1, &got), FE_EOF);
  EXPECT_EQ(write(1, "no"), FE_NOWRITE);
  EXPECT_EQ(simple(FMOP_REWIND, 1), 0);
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got, "alpha");
  ASSERT_EQ(close(1), 0);
  // a record cut short by the end of the file
  put("unit1/c.saa", std::string("\3ab", 3));
  ASSERT_EQ(open(1, "c", 'S', 0), 0);
  EXPECT_EQ(read(1, &got), FE_IO);
  ASSERT_EQ(close(1), 0);
  // lines: the last may lack its line feed
  put("unit1/t", "one\n\ntwo words\nlast");
  ASSERT_EQ(open(2, "t", 'U', 0), 0);
  for (const char *want : {"one", "", "two words", "last"}) {
    EXPECT_EQ(read(2, &got), 0);
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(read(2, &got), FE_EOF);
  ASSERT_EQ(close(2), 0);
  ASSERT_EQ(open(2, "t", 'U', 2), 0);  // append
  EXPECT_EQ(write(2, "more"), 0);
  ASSERT_EQ(close(2), 0);
  EXPECT_EQ(contents("unit1/t"), "one\n\ntwo words\nlastmore\n");
}

TEST_F(layer, a_line_longer_than_the_record_room_ends_as_end_of_file) {
  put("unit1/long", std::string(FM_RECBUF + 10, 'y') + "\nnext\n");
  ASSERT_EQ(open(1, "long", 'U', 0), 0);
  std::string got;
  zrerf_lock = 0;
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got.size(), size_t(FM_RECBUF));
  EXPECT_EQ(zrerf_lock, FE_EOF);
  zrerf_lock = 0;
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got, std::string(10, 'y'));
  EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got, "next");
}

TEST_F(layer, relative_records_by_number_and_in_sequence) {
  ASSERT_EQ(create("r", 'R', 8), 0);
  ASSERT_EQ(open(1, "r", 'R', 3), 0);
  EXPECT_EQ(write(1, "three", 'R', 3), 0);
  EXPECT_EQ(write(1, "one", 'R', 1), 0);
  EXPECT_EQ(write(1, "two", 'S'), 0);  // the next after record 1
  EXPECT_EQ(write(1, "123456789", 'R', 4), FE_RECLEN);
  EXPECT_EQ(write(1, "x", 'R', 0), FE_NOTIDX);
  EXPECT_EQ(write(1, "x", 'P'), FE_VALUE);
  EXPECT_EQ(write(1, "x", 'R', int64_t(1) << 60), FE_VALUE);
  std::string got;
  EXPECT_EQ(read(1, &got, 'R', 1), 0);
  EXPECT_EQ(got, "one     ");
  EXPECT_EQ(read(1, &got, 'S'), 0);
  EXPECT_EQ(got, "two     ");
  EXPECT_EQ(read(1, &got, 'S'), 0);
  EXPECT_EQ(got, "three   ");
  EXPECT_EQ(read(1, &got, 'S'), FE_EOF);
  EXPECT_EQ(read(1, &got, 'R', 0), FE_NOTIDX);
  EXPECT_EQ(simple(FMOP_REWIND, 1), 0);
  EXPECT_EQ(read(1, &got, 'S'), 0);
  EXPECT_EQ(got, "one     ");
  EXPECT_EQ(simple(FMOP_UNLOCK, 1), 0);
  ASSERT_EQ(close(1), 0);
  EXPECT_EQ(contents("unit1/r.rai"), "one     two     three   ");
  // appends, and a record cut short at the end
  ASSERT_EQ(open(1, "r", 'S', 8), 0);
  EXPECT_EQ(write(1, "four"), 0);
  ASSERT_EQ(close(1), 0);
  EXPECT_EQ(size_of("unit1/r.rai"), 32);
  put("unit1/r.rai", contents("unit1/r.rai") + "half");
  ASSERT_EQ(open(1, "r", 'S', 0), 0);
  for (int i = 0; i < 4; i++) EXPECT_EQ(read(1, &got), 0);
  EXPECT_EQ(got, "four    ");
  EXPECT_EQ(read(1, &got), FE_IO);
  EXPECT_EQ(write(1, "x"), FE_NOWRITE);
  ASSERT_EQ(close(1), 0);
  // an append after a damaged end starts at the next whole record
  ASSERT_EQ(open(1, "r", 'S', 2), 0);
  EXPECT_EQ(write(1, "five"), 0);
  ASSERT_EQ(close(1), 0);
  EXPECT_EQ(size_of("unit1/r.rai"), 48);
  EXPECT_EQ(contents("unit1/r.rai").substr(40), "five    ");
}

TEST_F(layer, truncating_open_and_close_options) {
  ASSERT_EQ(create("s", 'S'), 0);
  ASSERT_EQ(create("e", 'U'), 0);
  ASSERT_EQ(create("r", 'R', 4), 0);
  put("unit1/s.saa", std::string("\2hi", 3));
  ASSERT_EQ(open(1, "s", 'S', 1), 0);  // write, truncate
  EXPECT_EQ(size_of("unit1/s.saa"), 0);
  EXPECT_EQ(write(1, "x"), 0);
  EXPECT_EQ(close(1, 2), 0);  // not empty: kept
  EXPECT_EQ(contents("unit1/s.saa"), std::string("\1x", 2));
  ASSERT_EQ(open(1, "e", 'U', 0), 0);
  EXPECT_EQ(close(1, 2), 0);  // empty: deleted
  EXPECT_EQ(size_of("unit1/e"), -1);
  ASSERT_EQ(open(1, "r", 'R', 3), 0);
  EXPECT_EQ(close(1, 2), 0);  // relative: only closed
  EXPECT_EQ(size_of("unit1/r.rae"), 0);
  ASSERT_EQ(open(1, "s", 'S', 0), 0);
  EXPECT_EQ(close(1, 1), 0);
  EXPECT_EQ(size_of("unit1/s.saa"), -1);
  EXPECT_EQ(oftable[0].inuse, 0);
}

TEST_F(layer, rename_keeps_the_suffix_and_date_stamps_now) {
  ASSERT_EQ(create("old", 'R', 80), 0);
  ASSERT_EQ(create("taken", 'R', 80), 0);
  ASSERT_EQ(open(1, "old", 'R', 3), 0);
  EXPECT_EQ(rename(1, "old"), FE_EXISTS);
  EXPECT_EQ(rename(1, "taken"), FE_EXISTS);
  EXPECT_EQ(rename(1, "new"), 0);
  EXPECT_EQ(size_of("unit1/new.rdc"), 0);
  EXPECT_EQ(size_of("unit1/old.rdc"), -1);
  EXPECT_EQ(std::string(oftable[0].pfname), "unit1/new.rdc");
  EXPECT_EQ(write(1, "still the same file"), 0);  // the descriptor stays
  struct utimbuf past = {1000, 1000};
  ASSERT_EQ(utime("unit1/new.rdc", &past), 0);
  EXPECT_EQ(simple(FMOP_DATE, 1), 0);
  struct stat st;
  ASSERT_EQ(stat("unit1/new.rdc", &st), 0);
  EXPECT_GT(st.st_mtime, time(nullptr) - 100);
  EXPECT_EQ(simple(FMOP_DATE, 2), FE_NOTOPEN);
  EXPECT_EQ(rename(2, "x"), FE_NOTOPEN);
}

// A user who may read a file but not write it: the options that write are
// refused, and it can be neither renamed, dated nor deleted.
TEST_F(layer, protected_files_open_only_for_reading) {
  ASSERT_EQ(create("p", 'S'), 0);
  ASSERT_EQ(chmod("unit1/p.saa", 0444), 0);
  ASSERT_EQ(chmod("unit1", 0777), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  int failures = in_child([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 100;
    int bad = 0;  // one bit per failed check
    bad |= (open(1, "p", 'S', 2) != FE_ACCESS) << 0;
    bad |= (open(1, "p", 'S', 1) != FE_ACCESS) << 1;
    bad |= (open(1, "p", 'S', 0) != 0) << 2;
    bad |= (oftable[0].prtct != 'P') << 3;
    bad |= (rename(1, "q") != FE_NOCHANGE) << 4;
    bad |= (simple(FMOP_DATE, 1) != FE_NOCHANGE) << 5;
    bad |= (close(1, 1) != FE_NOCHANGE) << 6;
    bad |= (open(2, "p", 'S', 7) != FE_LOCKED) << 7;  // unit 1 reads it
    bad |= (close(1) != 0) << 8;
    bad |= (open(2, "p", 'S', 7) != FE_ACCESS) << 9;  // exclusive needs write access
    return bad;
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(size_of("unit1/p.saa"), 0);
}

TEST_F(layer, status_of_files_and_units) {
  ASSERT_EQ(create("r", 'R', 10), 0);
  ASSERT_EQ(open(1, "r", 'R', 3), 0);
  for (int i = 1; i <= 3; i++) ASSERT_EQ(write(1, "x", 'R', i), 0);
  std::string got;
  ASSERT_EQ(read(1, &got, 'R', 2), 0);
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_FSTAT;
  cb.fm_lfn = 1;
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(cb.fm_recfmt, 'F');
  EXPECT_EQ(cb.fm_type, 'R');
  EXPECT_EQ(cb.fm_st[0], 3);
  EXPECT_EQ(cb.fm_st[2], 2);
  put("unit1/u", std::string(1025, 'z'));
  ASSERT_EQ(open(2, "u", 'U', 0), 0);
  cb.fm_lfn = 2;
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(cb.fm_recfmt, 'V');
  EXPECT_EQ(cb.fm_type, 'U');
  EXPECT_EQ(cb.fm_st[0], 3);  // blocks of 512
  cb = {};
  cb.fm_opcode = FMOP_USTAT;
  cb.fm_unit = 3;
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(cb.fm_type, 'U');
  cb.fm_unit = 4;
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(cb.fm_type, ' ');
}

TEST_F(layer, a_transaction_refuses_files_outside_it) {
  ASSERT_EQ(create("s", 'S'), 0);
  ASSERT_EQ(open(1, "s", 'S', 1), 0);
  EXPECT_EQ(simple(FMOP_BEGIN, 0), FE_VALUE);  // no log
  EXPECT_EQ(simple(FMOP_COMMIT, 0), FE_VALUE);
  vx_txflag = 1;
  EXPECT_EQ(open(2, "s", 'S', 0), FE_INTX);
  EXPECT_EQ(write(1, "x"), FE_INTX);
  EXPECT_EQ(close(1), FE_INTX);
  EXPECT_EQ(rename(1, "t"), FE_INTX);
  EXPECT_EQ(create("i", 'I', 10), FE_INTX);
  EXPECT_EQ(simple(FMOP_ROLLBACK, 0), ENOTRANS);  // the engine has none
  vx_txflag = 0;
  EXPECT_EQ(write(1, "x"), 0);
}

// The engine builds and opens indexed files for the option tables (their
// records: tests/idx).
TEST_F(layer, indexed_files_open_through_the_engine) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CREATE;
  cb.fm_filename = strdup("cust");
  cb.fm_unit = 1;
  cb.fm_org = 'I';
  cb.fm_rlen = 20;
  cb.fm_keyd.k_flags = COMPRESS;
  cb.fm_keyd.k_nparts = 1;
  cb.fm_keyd.k_part[0] = keypart{0, 6, CHARTYPE};
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(size_of("unit1/cust.dat"), 0);
  EXPECT_GT(size_of("unit1/cust.idx"), 0);
  EXPECT_EQ(create("cust", 'I'), FE_EXISTS);
  cb.fm_filename = strdup("bad");
  cb.fm_keyd.k_part[0] = keypart{0, 0, CHARTYPE};
  EXPECT_EQ(fm(&cb), FE_KEYDESC);
  std::free(cb.fm_filename);
  EXPECT_EQ(open(1, "cust", 'I', 0), 0);
  EXPECT_EQ(oftable[0].pklen, 6u);
  EXPECT_EQ(oftable[0].prlen, 20u);
  EXPECT_EQ(oftable[0].pkprim, 1);
  EXPECT_EQ(oftable[0].lock_mode, 1);
  std::string got;
  EXPECT_EQ(read(1, &got), FE_VALUE);  // an indexed read needs a key
  EXPECT_EQ(simple(FMOP_ISTAT, 1), 0);
  EXPECT_EQ(open(2, "cust", 'I', 18), FE_LOCKED);
  EXPECT_EQ(open(2, "cust", 'I', 2), FE_LOCKED);  // the first open shares it
  EXPECT_EQ(open(2, "cust", 'S', 0), FE_OPTION);
  EXPECT_EQ(open(2, "cust", 'I', 5), FE_OPTION);
  EXPECT_EQ(close(1), 0);
  EXPECT_EQ(open(2, "cust", 'I', 101), 0);  // without a primary key
  EXPECT_EQ(oftable[1].pklen, 0u);
  EXPECT_EQ(oftable[1].prlen, 26u);
  EXPECT_EQ(close(2), 0);
  EXPECT_EQ(open(2, "cust", 'I', 2), 0);
  EXPECT_EQ(oftable[1].inuse, -1);
  EXPECT_EQ(close(2, 1), 0);  // deleted
  EXPECT_EQ(size_of("unit1/cust.dat"), -1);
  ASSERT_EQ(create("seq", 'S'), 0);
  ASSERT_EQ(open(3, "seq", 'S', 0), 0);
  EXPECT_EQ(simple(FMOP_ISTAT, 3), FE_NOTISAM);
  EXPECT_EQ(simple(FMOP_ADDINDEX, 3), FE_NOTISAM);
}

// system calls that fail with failing::code
struct failing {
  static int open(const char *, int, mode_t) { return errno = code, -1; }
  static DIR *opendir(const char *) { return errno = code, nullptr; }
  static ssize_t pwrite(int, const void *, size_t, off_t) { return errno = code, -1; }
  static ssize_t pread(int, void *, size_t, off_t) { return errno = code, -1; }
  static int unlink(const char *) { return errno = code, -1; }
  static int link(const char *, const char *) { return errno = code, -1; }
  static int touch(const char *) { return errno = code, -1; }
  static inline int code;
};

// The system calls fail one at a time; each failure gives its number and
// leaves the entry free or the file whole.
TEST_F(layer, failing_system_calls_give_their_errors) {
  ASSERT_EQ(create("s", 'S'), 0);
  ASSERT_EQ(create("r", 'R', 4), 0);
  struct row {
    int err;
    int expect;
  };
  for (row r : {row{EMFILE, FE_TOOMANY}, row{ENOMEM, FE_NOMEM}, row{EACCES, FE_ACCESS},
                row{EBUSY, FE_LOCKED}, row{EIO, FE_IO}}) {
    failing::code = r.err;
    fsys.open = failing::open;
    EXPECT_EQ(open(1, "s", 'S', 0), r.expect) << r.err;
    EXPECT_EQ(oftable[0].inuse, 0);
    fsys_reset();
  }
  for (row r : {row{EACCES, FE_ACCESS}, row{EIO, FE_TOOMANY}, row{ENOENT, FE_NODIR}}) {
    failing::code = r.err;
    fsys.opendir = failing::opendir;
    EXPECT_EQ(open(1, "s", 'S', 0), r.expect) << r.err;
    fsys_reset();
  }
  for (row r : {row{EACCES, FE_CREATE}, row{EMFILE, FE_UNIT}, row{ENOENT, FE_NODIR}}) {
    failing::code = r.err;
    fsys.open = failing::open;
    EXPECT_EQ(create("n", 'U'), r.expect) << r.err;
    fsys_reset();
  }
  ASSERT_EQ(open(1, "r", 'R', 3), 0);
  ASSERT_EQ(write(1, "a", 'R', 1), 0);
  for (row r : {row{ENOSPC, FE_EOF}, row{EFBIG, FE_EOF}, row{EIO, FE_IO}}) {
    failing::code = r.err;
    fsys.pwrite = failing::pwrite;
    EXPECT_EQ(write(1, "b", 'R', 2), r.expect) << r.err;
    fsys.pread = failing::pread;
    std::string got;
    EXPECT_EQ(read(1, &got, 'R', 1), r.expect) << r.err;
    fsys_reset();
  }
  EXPECT_EQ(size_of("unit1/r.rae"), 4);
  failing::code = EACCES;
  fsys.touch = failing::touch;
  EXPECT_EQ(simple(FMOP_DATE, 1), FE_NOCHANGE);
  failing::code = ENOENT;
  EXPECT_EQ(simple(FMOP_DATE, 1), FE_NOTFOUND);
  fsys.link = failing::link;
  failing::code = EXDEV;
  EXPECT_EQ(rename(1, "q"), FE_IO);
  failing::code = EROFS;
  EXPECT_EQ(rename(1, "q"), FE_NOTFOUND);
  fsys.unlink = failing::unlink;
  failing::code = EACCES;
  EXPECT_EQ(close(1, 1), FE_NOCHANGE);
  fsys_reset();
  EXPECT_EQ(close(1, 1), 0);
}

// regression: a forked copy of run that closed its files after the parent
// had closed them wrote its stale buffer back and cut the file short
TEST_F(layer, a_forked_process_closing_its_copy_writes_nothing) {
  ASSERT_EQ(create("s", 'S'), 0);
  ASSERT_EQ(open(1, "s", 'S', 1), 0);
  for (int i = 0; i < 3; i++) ASSERT_EQ(write(1, "old"), 0);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    char c;
    if (::read(go[0], &c, 1) != 1) _exit(1);
    fm_callblock cb = {};
    cb.fm_opcode = FMOP_CLOSEALL;
    _exit(fm(&cb));
  }
  for (int i = 0; i < 2; i++) ASSERT_EQ(write(1, "new"), 0);
  ASSERT_EQ(close(1), 0);
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  int st;
  ASSERT_EQ(waitpid(child, &st, 0), child);
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_EQ(contents("unit1/s.saa"), "\3old\3old\3old\3new\3new");
  ::close(go[0]);
  ::close(go[1]);
}

// The file system runs out of space while a sequential file is written
// through its buffer: every record before the failing one is on disk.
TEST_F(layer, no_room_for_the_buffer_writes_each_record_at_once) {
  struct no_reserve {
    static int reserve(int, off_t, off_t) { return errno = ENOSPC, -1; }
    static ssize_t pwrite(int fd, const void *p, size_t n, off_t off) {
      if (off + off_t(n) > 40) {  // the disk holds 40 bytes
        if (off >= 40) return errno = ENOSPC, -1;
        n = size_t(40 - off);
      }
      return ::pwrite(fd, p, n, off);
    }
  };
  ASSERT_EQ(create("s", 'S'), 0);
  ASSERT_EQ(open(1, "s", 'S', 1), 0);
  fsys.reserve = no_reserve::reserve;
  fsys.pwrite = no_reserve::pwrite;
  int written = 0, r;
  while ((r = write(1, "record")) == 0) written++;
  EXPECT_EQ(r, FE_EOF);
  EXPECT_EQ(written, 5);  // 5 * 7 bytes fit in 40
  fsys_reset();
  EXPECT_EQ(close(1), 0);
  EXPECT_EQ(size_of("unit1/s.saa"), 35);
}

}  // namespace
