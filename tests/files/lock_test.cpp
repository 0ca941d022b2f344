// Record locks between real processes (a forked peer working on the same
// files through its own copy of the file layer), and locks between the
// entries of one process.  The file lock modes between two runs are in
// run_test.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <functional>
#include <vector>

#include "run/files/flock.h"
#include "run/files/fm.h"
#include "tests/files/files_fixture.h"

namespace {

// A forked process that runs one step at a time when told to, and says
// when each is done.  Its steps see the fixture as it was at the fork.
struct peer {
  pid_t pid = -1;
  int go = -1, done = -1;

  void start(std::vector<std::function<int()>> steps) {
    int a[2], b[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    fflush(nullptr);
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(a[1]);
      ::close(b[0]);
      // a process of its own: none of the parent's files is open here
      for (int i = 0; i < oftable_len; i++) oftable[i] = oftentry{};
      fl_reset_for_test();
      for (auto &s : steps) {
        char r = char(s());
        if (::write(b[1], &r, 1) != 1) _exit(1);
        char c;
        if (::read(a[0], &c, 1) != 1) break;
      }
      _exit(0);
    }
    ::close(a[0]);
    ::close(b[1]);
    go = a[1];
    done = b[0];
  }
  // waits for the current step; its result
  int result() {
    char r = -1;
    if (::read(done, &r, 1) != 1) return -1;
    return r;
  }
  // runs the next step; its result
  int next() {
    char c = 'n';
    if (::write(go, &c, 1) != 1) return -1;
    return result();
  }
  ~peer() {
    if (pid > 0) {
      ::close(go);
      int st;
      waitpid(pid, &st, 0);
      ::close(done);
    }
  }
};

struct locks : files_fixture {
  void SetUp() override {
    files_fixture::SetUp();
    ASSERT_EQ(create("r", 'R', 4), 0);
    put("unit1/r.rae", "rec1rec2rec3rec4rec5rec6");
  }
};

TEST_F(locks, record_lock_refused_names_its_holder_and_moves_with_the_reader) {
  peer p;
  p.start({[&] { return open(1, "r", 'R', 3) || read(1, nullptr, 'R', 5); },
           [&] { return read(1, nullptr, 'R', 6); }});
  ASSERT_EQ(p.result(), 0);
  ASSERT_EQ(open(1, "r", 'R', 3), 0);
  std::string got;
  EXPECT_EQ(read(1, &got, 'R', 5), FE_RECLOCK);
  EXPECT_EQ(lk_pid, p.pid);
  EXPECT_EQ(got, "rec5");                  // the data still comes
  EXPECT_EQ(read(1, &got, 'R', 5, 0), 0);  // without the lock option
  EXPECT_EQ(lk_pid, -1);
  EXPECT_EQ(write(1, "XXXX", 'R', 5), FE_RECLOCK);  // refused: nothing written
  EXPECT_EQ(contents("unit1/r.rae").substr(16, 4), "rec5");
  EXPECT_EQ(read(1, &got, 'R', 4), 0);  // another record is free
  EXPECT_EQ(p.next(), 0);               // the peer moves to record 6 and lets 5 go
  EXPECT_EQ(read(1, &got, 'R', 5), 0);
  EXPECT_EQ(write(1, "new5", 'R', 5, 0), 0);
  EXPECT_EQ(contents("unit1/r.rae").substr(16, 4), "new5");
}

// A record this process holds is held against the process's other units
// too, and closing one unit of a file keeps the locks the others hold.
TEST_F(locks, one_process_opening_a_file_twice_keeps_its_locks) {
  ASSERT_EQ(open(1, "r", 'R', 3), 0);
  ASSERT_EQ(open(2, "r", 'R', 3), 0);
  EXPECT_EQ(oftable[0].pfdis, oftable[1].pfdis);  // one descriptor
  EXPECT_EQ(read(1, nullptr, 'R', 2), 0);
  EXPECT_EQ(read(2, nullptr, 'R', 2), FE_RECLOCK);
  EXPECT_EQ(lk_pid, getpid());
  EXPECT_EQ(open(3, "r", 'R', 5), FE_LOCKED);  // single writer beside shared update
  EXPECT_EQ(open(3, "r", 'R', 4), 0);
  EXPECT_EQ(close(3), 0);
  EXPECT_EQ(close(2), 0);
  peer p;
  p.start({[&] { return open(1, "r", 'R', 6); }, [&] { return read(1, nullptr, 'R', 2); }});
  EXPECT_EQ(p.result(), FE_LOCKED);  // unit 1's shared lock survived
  peer q;
  q.start({[&] { return open(1, "r", 'R', 4) || read(1, nullptr, 'R', 2); }});
  EXPECT_EQ(q.result(), 0);  // a reader without write access takes no lock
  peer w;
  w.start({[&] { return open(1, "r", 'R', 3) ? 99 : read(1, nullptr, 'R', 2); }});
  EXPECT_EQ(w.result(), FE_RECLOCK);  // unit 1's record lock survived too
}

// regression: an open with option 1 emptied the file before it found that
// another process had it open
TEST_F(locks, a_refused_truncating_open_leaves_the_data) {
  ASSERT_EQ(create("s", 'S'), 0);
  put("unit1/s.saa", std::string("\3abc", 4));
  peer p;
  p.start({[&] { return open(1, "s", 'S', 0); }});
  ASSERT_EQ(p.result(), 0);
  EXPECT_EQ(open(1, "s", 'S', 1), FE_LOCKED);
  EXPECT_EQ(contents("unit1/s.saa"), std::string("\3abc", 4));
}

TEST_F(locks, engine_locks_go_through_the_layer) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CREATE;
  cb.fm_filename = strdup("ix");
  cb.fm_unit = 1;
  cb.fm_org = 'I';
  cb.fm_rlen = 10;
  cb.fm_keyd.k_nparts = 1;
  cb.fm_keyd.k_part[0] = keypart{0, 4, CHARTYPE};
  ASSERT_EQ(fm(&cb), 0);
  peer p;
  p.start({[&] { return open(1, "ix", 'I', 2); }});
  ASSERT_EQ(p.result(), 0);
  lk_pid = -1;
  EXPECT_EQ(open(1, "ix", 'I', 0), FE_LOCKED);
  EXPECT_EQ(lk_pid, p.pid);
}

TEST(region_locks, modes_and_halves) {
  char name[] = "/tmp/quillon-rglock-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(rglock(fd, 0, 0, 1, 0, 5), -1);
  EXPECT_EQ(rglock(fd, 0xFFFFFFFE, 0x3FFFFFFF, 2, 0, LK_EXCL), 0);  // both lock bytes
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = LK_WBYTE;
  probe.l_len = 1;
  pid_t child = fork();
  if (child == 0) {
    int f2 = ::open(name, O_RDWR);
    _exit(fcntL(f2, F_SETLK, &probe) == -1 && lk_pid == getppid() ? 0 : 1);
  }
  int st;
  ASSERT_EQ(waitpid(child, &st, 0), child);
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_EQ(rgunlck(fd, 0xFFFFFFFE, 0x3FFFFFFF, 2, 0), 0);
  ::close(fd);
  unlink(name);
}

}  // namespace
