// What the indexed files of the language need of the engine, called
// directly: reproducers for the engine's developer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "isam/isam.h"
#include "tests/isam/crashutil.h"

namespace {

struct engine : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/quillon-ieng-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    islogclose();
    std::string cmd = "rm -rf " + dir;
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
};

// A rollback puts a rewritten record back under its old key in an index
// with duplicates in its old place: X, added first, still comes first.
TEST_F(engine, a_rollback_keeps_the_order_of_duplicates) {
  std::string name = dir + "/d";
  keydesc pk = {}, dk = {};
  pk.k_nparts = 1;
  pk.k_part[0] = keypart{0, 1, CHARTYPE};
  dk.k_flags = ISDUPS;
  dk.k_nparts = 1;
  dk.k_part[0] = keypart{1, 1, CHARTYPE};
  int fd = isbuild(name.c_str(), 2, &pk, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(isaddindex(fd, &dk), 0);
  ASSERT_EQ(iswrite(fd, "Xk"), 0);
  ASSERT_EQ(iswrite(fd, "Yk"), 0);
  ASSERT_EQ(isclose(fd), 0);
  ASSERT_EQ(islogopen((dir + "/log").c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  fd = isopen(name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_GE(fd, 0);
  char r[3] = "X ";
  ASSERT_EQ(isread(fd, r, ISEQUAL), 0);
  ASSERT_EQ(isrewcurr(fd, "Xz"), 0);
  ASSERT_EQ(isrollback(), 0);
  std::memcpy(r, "?k", 2);
  ASSERT_EQ(isstart(fd, &dk, 0, r, ISEQUAL), 0);
  ASSERT_EQ(isread(fd, r, ISNEXT), 0);
  EXPECT_EQ(r[0], 'X');
  ASSERT_EQ(isread(fd, r, ISNEXT), 0);
  EXPECT_EQ(r[0], 'Y');
  isclose(fd);
}

// Records of two bytes: a unique primary key, then a key with duplicates.
struct dups : engine {
  std::string name, log;
  keydesc pk = {}, dk = {};
  void SetUp() override {
    engine::SetUp();
    name = dir + "/d";
    log = dir + "/log";
    pk.k_nparts = 1;
    pk.k_part[0] = keypart{0, 1, CHARTYPE};
    dk.k_flags = ISDUPS;
    dk.k_nparts = 1;
    dk.k_part[0] = keypart{1, 1, CHARTYPE};
  }
  // builds the file with the records, in this order
  void build(const std::vector<std::string> &recs) {
    int fd = isbuild(name.c_str(), 2, &pk, ISINOUT + ISEXCLLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(isaddindex(fd, &dk), 0);
    for (const std::string &r : recs) ASSERT_EQ(iswrite(fd, r.c_str()), 0) << r;
    ASSERT_EQ(isclose(fd), 0);
  }
  // the primary keys of the records with key k, in the order of the index
  std::string run(char k) {
    int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
    if (fd < 0) return "#open " + std::to_string(iserrno);
    char r[3] = {'?', k, 0};
    std::string out;
    if (isstart(fd, &dk, 0, r, ISEQUAL) == 0)
      while (isread(fd, r, ISNEXT) == 0 && r[1] == k) out += r[0];
    isclose(fd);
    return out;
  }
  // changes of a transaction: "-P" deletes P, "P>z" gives P the key z,
  // "+Pk" adds Pk; false at the first that fails
  static bool apply(int fd, const std::vector<std::string> &steps) {
    for (const std::string &s : steps) {
      char r[3] = {s[1], 0, 0};
      bool ok = s[0] == '-'   ? isdelete(fd, r) == 0
                : s[0] == '+' ? iswrite(fd, s.c_str() + 1) == 0
                              : (r[0] = s[0], r[1] = s[2], isrewrite(fd, r) == 0);
      if (!ok) return false;
    }
    return true;
  }
};

// Whatever a transaction did to a run of duplicates -- deleting its first,
// middle and last records, moving records to another key and back, adding
// one -- its rollback gives the run back in its order, and the other run
// the records moved into keeps its own.
TEST_F(dups, a_rollback_gives_back_every_run_in_its_order) {
  build({"Ak", "Bk", "Ck", "Dk", "Ek", "Pz", "Qz"});
  ASSERT_EQ(islogopen(log.c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(apply(fd, {"-C", "B>z", "-A", "+Fk", "E>z", "-E", "D>z", "D>k", "P>k", "-Q"}));
  EXPECT_EQ(run('k'), "FDP");
  ASSERT_EQ(isrollback(), 0);
  EXPECT_EQ(run('k'), "ABCDE");
  EXPECT_EQ(run('z'), "PQ");
  ASSERT_EQ(isclose(fd), 0);
  EXPECT_TRUE(crash_audit(name));
}

// Another descriptor, outside the transaction, adds a duplicate while the
// transaction has deleted the last one: the new record takes the deleted
// one's place in the order, and the rollback puts the deleted one back
// before it, since it was there first.
TEST_F(dups, a_record_added_meanwhile_stays_behind_the_one_brought_back) {
  build({"Ak", "Bk", "Ck"});
  ASSERT_EQ(islogopen(log.c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  int tfd = isopen(name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  int ofd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_GE(tfd, 0);
  ASSERT_GE(ofd, 0);
  ASSERT_TRUE(apply(tfd, {"-C", "-B"}));
  ASSERT_TRUE(apply(ofd, {"+Gk"}));
  EXPECT_EQ(run('k'), "AG");
  ASSERT_EQ(isrollback(), 0);
  EXPECT_EQ(run('k'), "ABCG");
  ASSERT_TRUE(apply(ofd, {"+Hk"}));  // the run grows at its end again
  EXPECT_EQ(run('k'), "ABCGH");
  isclose(tfd);
  isclose(ofd);
  EXPECT_TRUE(crash_audit(name));
}

// A process killed in its transaction: the next process that opens the
// log rolls it back from the log alone, and the runs keep their order.
TEST_F(dups, the_rollback_of_a_killed_process_keeps_the_order) {
  build({"Ak", "Bk", "Ck", "Dk", "Pz"});
  pid_t p = fork();
  ASSERT_GE(p, 0);
  if (p == 0) {
    if (islogopen(log.c_str()) != 0 || isbegin() != 0) _exit(1);
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
    if (fd < 0 || !apply(fd, {"-A", "C>z", "+Ek", "-B", "P>k"})) _exit(2);
    kill(getpid(), SIGKILL);
    _exit(3);
  }
  int st = 0;
  ASSERT_EQ(waitpid(p, &st, 0), p);
  ASSERT_TRUE(WIFSIGNALED(st)) << WEXITSTATUS(st);
  EXPECT_EQ(run('k'), "DEP");  // the changes reached the file
  ASSERT_EQ(islogopen(log.c_str()), 0);
  EXPECT_EQ(run('k'), "ABCD");
  EXPECT_EQ(run('z'), "P");
  EXPECT_EQ(isrecover(), 0);
  EXPECT_EQ(run('k'), "ABCD");
  EXPECT_TRUE(crash_audit(name));
}

// A writer killed at the very end of a change, when the file shows the
// change whole and its count but still the mark of a change in progress:
// the next caller clears the mark and keeps the change.
TEST_F(dups, a_change_killed_before_its_mark_is_cleared_stands) {
  build({"Ak", "Bk"});
  pid_t p = fork();
  ASSERT_GE(p, 0);
  if (p == 0) {
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    if (fd < 0 || !apply(fd, {"+Ck", "-A", "+Dk"})) _exit(1);
    int ifd = ::open((name + ".idx").c_str(), O_RDWR);
    unsigned char st[2];
    if (ifd < 0 || pread(ifd, st, 2, 10) != 2) _exit(2);
    st[1] |= 2;  // the pending bit, as the last flush found it
    if (pwrite(ifd, st, 2, 10) != 2) _exit(3);
    kill(getpid(), SIGKILL);
    _exit(4);
  }
  int st = 0;
  ASSERT_EQ(waitpid(p, &st, 0), p);
  ASSERT_TRUE(WIFSIGNALED(st)) << WEXITSTATUS(st);
  EXPECT_EQ(run('k'), "BCD");
  EXPECT_TRUE(crash_audit(name));
}

}  // namespace
