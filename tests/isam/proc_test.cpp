// proc_test.cpp: several processes on the same files: record locks and the
// 0x200 read-through, exclusive opens, automatic locks, locks surviving the
// close of another descriptor, the file lock, writers that must lose no
// update, readers while a writer splits nodes.
//
// Children are forked before the parent opens anything, so nothing of the
// engine's state is inherited; each child runs a script in steps that the
// parent releases one at a time.
#include "isam/isam.h"
#include "tests/isam/testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <functional>

namespace {

constexpr int RL = 20;  // key (4) + counter (8) + data (8)

struct peer_ctx {
  int go_r, res_w;
  bool wait() {
    char c;
    return read(go_r, &c, 1) == 1;
  }
  void report(int r) {
    if (write(res_w, &r, sizeof r) != sizeof r) _exit(3);
  }
};

// A step that fails reports its line and ends the child.
#define CK(ctx, cond)         \
  do {                        \
    if (!(cond)) {            \
      (ctx).report(__LINE__); \
      _exit(1);               \
    }                         \
  } while (0)

struct peer {
  pid_t pid = -1;
  int go_w = -1, res_r = -1;

  // Releases the child's next step; its result: 0, or the failing line.
  int step() {
    char c = 1;
    if (write(go_w, &c, 1) != 1) return -1;
    int r;
    return read(res_r, &r, sizeof r) == sizeof r ? r : -2;
  }
  // Waits for the child; true when it ended normally.
  bool finish() {
    close(go_w);
    close(res_r);
    int st;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
  }
};

peer spawn(const std::function<void(peer_ctx &)> &body) {
  int go[2], res[2];
  if (pipe(go) != 0 || pipe(res) != 0) abort();
  peer p;
  p.pid = fork();
  if (p.pid == 0) {
    close(go[1]);
    close(res[0]);
    peer_ctx ctx{go[0], res[1]};
    body(ctx);
    _exit(0);
  }
  close(go[0]);
  close(res[1]);
  p.go_w = go[1];
  p.res_r = res[0];
  return p;
}

std::string rec(int key, long counter = 0) {
  char b[64];
  snprintf(b, sizeof b, "%04d%08ld%-8s", key % 10000, counter % 100000000, "data");
  return std::string(b, RL);
}

void build(const std::string &name, int n) {
  keydesc k = char_key(0, 4, ISNODUPS);
  int fd = isbuild(name.c_str(), RL, &k, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0) << iserrno;
  for (int i = 1; i <= n; i++) ASSERT_EQ(iswrite(fd, rec(i).c_str()), 0);
  ASSERT_EQ(isclose(fd), 0);
}

int read_key(int fd, int key, int mode, std::string *out = nullptr) {
  std::string b = rec(key);
  int rc = isread(fd, b.data(), mode);
  if (out) *out = b;
  return rc;
}

TEST(isam_processes, record_lock_conflicts) {
  scratch_dir d;
  std::string name = d.file("locks");
  peer b = spawn([&](peer_ctx &c) {
    c.wait();
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    CK(c, fd >= 0);
    std::string got;
    // a plain read ignores the lock
    CK(c, read_key(fd, 1, ISEQUAL) == 0 && iserrno == 0);
    // a locked read fails and leaves the position on record 1
    CK(c, read_key(fd, 5, ISEQUAL + ISLOCK) == -1 && iserrno == ELOCKED);
    CK(c, read_key(fd, 0, ISCURR, &got) == 0 && got.substr(0, 4) == "0001");
    CK(c, read_key(fd, 4, ISEQUAL) == 0);
    CK(c, read_key(fd, 0, ISNEXT + ISLOCK) == -1 && iserrno == ELOCKED);
    CK(c, read_key(fd, 0, ISCURR, &got) == 0 && got.substr(0, 4) == "0004");
    CK(c, read_key(fd, 5, ISEQUAL) == 0);
    CK(c, read_key(fd, 0, ISCURR + ISLOCK) == -1 && iserrno == ELOCKED);
    CK(c, read_key(fd, 0, ISCURR, &got) == 0 && got == rec(5));
    // 0x200 returns the record with the warning and takes no lock
    CK(c, read_key(fd, 5, ISEQUAL + ISSKIPLOCK, &got) == 0 && iserrno == ELOCKED);
    CK(c, got == rec(5) && isrecnum == 5);
    CK(c, read_key(fd, 6, ISEQUAL + ISSKIPLOCK + ISLOCK) == 0 && iserrno == 0);
    // changes of the locked record are refused
    CK(c, read_key(fd, 5, ISEQUAL) == 0);
    CK(c, isrewcurr(fd, rec(5, 9).c_str()) == -1 && iserrno == ELOCKED);
    CK(c, isdelcurr(fd) == -1 && iserrno == ELOCKED);
    CK(c, isrewrite(fd, rec(5, 9).c_str()) == -1 && iserrno == ELOCKED);
    CK(c, isdelrec(fd, 5) == -1 && iserrno == ELOCKED);
    c.report(0);
    c.wait();  // A released its locks
    CK(c, read_key(fd, 5, ISEQUAL + ISLOCK) == 0 && iserrno == 0);
    CK(c, isrewcurr(fd, rec(5, 7).c_str()) == 0);
    c.report(0);
    c.wait();  // A tries record 6 that B holds
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  build(name, 8);
  int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(read_key(fd, 5, ISEQUAL), 0);
  ASSERT_EQ(read_key(fd, 0, ISCURR + ISLOCK), 0);
  ASSERT_EQ(b.step(), 0) << "B: conflicts";
  ASSERT_EQ(read_key(fd, 6, ISEQUAL + ISLOCK), -1);
  EXPECT_EQ(iserrno, ELOCKED);
  ASSERT_EQ(isrelease(fd), 0);
  ASSERT_EQ(b.step(), 0) << "B: after release";
  std::string got;
  ASSERT_EQ(read_key(fd, 5, ISEQUAL, &got), 0);
  EXPECT_EQ(got, rec(5, 7));
  ASSERT_EQ(b.step(), 0) << "B: close";
  ASSERT_EQ(read_key(fd, 6, ISEQUAL + ISLOCK), 0);  // B's close freed it
  EXPECT_TRUE(b.finish());
  isclose(fd);
}

TEST(isam_processes, waiting_read_gets_the_lock_when_released) {
  scratch_dir d;
  std::string name = d.file("wait");
  peer b = spawn([&](peer_ctx &c) {
    c.wait();
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    CK(c, fd >= 0);
    std::string got;
    CK(c, read_key(fd, 3, ISEQUAL + ISLCKW, &got) == 0 && got == rec(3));
    c.report(0);
    c.wait();
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  build(name, 4);
  int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_EQ(read_key(fd, 3, ISEQUAL + ISLOCK), 0);
  char go = 1;
  ASSERT_EQ(write(b.go_w, &go, 1), 1);
  usleep(200000);  // B waits for record 3
  ASSERT_EQ(isrelrec(fd, 3), 0);
  int r = -1;
  ASSERT_EQ(read(b.res_r, &r, sizeof r), ssize_t(sizeof r));
  EXPECT_EQ(r, 0);
  EXPECT_EQ(read_key(fd, 3, ISEQUAL + ISLOCK), -1);  // B holds it now
  EXPECT_EQ(iserrno, ELOCKED);
  ASSERT_EQ(b.step(), 0);
  EXPECT_TRUE(b.finish());
  isclose(fd);
}

// A rewrite of a current record that another process deleted, whose
// number a new record took meanwhile, must not overwrite the new record.
TEST(isam_processes, stale_current_record_is_not_rewritten) {
  scratch_dir d;
  std::string name = d.file("stale");
  peer b = spawn([&](peer_ctx &c) {
    c.wait();
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    CK(c, fd >= 0);
    CK(c, isdelrec(fd, 2) == 0);
    CK(c, iswrite(fd, rec(77).c_str()) == 0 && isrecnum == 2);
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  build(name, 3);
  int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_EQ(read_key(fd, 2, ISEQUAL), 0);
  ASSERT_EQ(b.step(), 0);
  EXPECT_EQ(isrewcurr(fd, rec(2, 5).c_str()), -1);
  EXPECT_EQ(iserrno, ENOREC);
  EXPECT_EQ(isdelcurr(fd), -1);
  std::string got;
  ASSERT_EQ(read_key(fd, 77, ISEQUAL, &got), 0);
  EXPECT_EQ(got, rec(77));
  EXPECT_TRUE(b.finish());
  isclose(fd);
}

TEST(isam_processes, exclusive_open_excludes) {
  scratch_dir d;
  std::string name = d.file("excl");
  peer b = spawn([&](peer_ctx &c) {
    c.wait();  // A holds it exclusively
    CK(c, isopen(name.c_str(), ISINPUT + ISMANULOCK) == -1 && iserrno == EFLOCKED);
    CK(c, isopen(name.c_str(), ISINOUT + ISEXCLLOCK) == -1 && iserrno == EFLOCKED);
    CK(c, iserase(name.c_str()) == -1 && iserrno == EFLOCKED);
    c.report(0);
    c.wait();  // A closed
    int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
    CK(c, fd >= 0);
    c.report(0);
    c.wait();
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  build(name, 3);
  int fd = isopen(name.c_str(), ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(b.step(), 0);
  ASSERT_EQ(isclose(fd), 0);
  ASSERT_EQ(b.step(), 0);
  EXPECT_EQ(isopen(name.c_str(), ISINOUT + ISEXCLLOCK), -1);
  EXPECT_EQ(iserrno, EFLOCKED);
  EXPECT_EQ(isrename(name.c_str(), d.file("other").c_str()), -1);
  EXPECT_EQ(iserrno, EFLOCKED);
  int sh = isopen(name.c_str(), ISINOUT + ISMANULOCK);  // sharing is fine
  EXPECT_GE(sh, 0);
  ASSERT_EQ(b.step(), 0);
  EXPECT_TRUE(b.finish());
  isclose(sh);
  fd = isopen(name.c_str(), ISINOUT + ISEXCLLOCK);
  EXPECT_GE(fd, 0);
  isclose(fd);
}

TEST(isam_processes, locks_outlive_close_of_another_descriptor_and_autolock) {
  scratch_dir d;
  std::string name = d.file("two");
  peer b = spawn([&](peer_ctx &c) {
    c.wait();
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    CK(c, fd >= 0);
    CK(c, read_key(fd, 2, ISEQUAL + ISLOCK) == -1 && iserrno == ELOCKED);
    c.report(0);
    c.wait();  // A's automatic lock moved from 3 to 4
    CK(c, read_key(fd, 3, ISEQUAL + ISLOCK) == 0);
    CK(c, read_key(fd, 4, ISEQUAL + ISLOCK) == -1 && iserrno == ELOCKED);
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  build(name, 5);
  int f1 = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  int f2 = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_GE(f2, 0);
  ASSERT_EQ(read_key(f1, 2, ISEQUAL + ISLOCK), 0);
  // another descriptor of this process does not get the lock either
  EXPECT_EQ(read_key(f2, 2, ISEQUAL + ISLOCK), -1);
  EXPECT_EQ(iserrno, ELOCKED);
  ASSERT_EQ(isrelrec(f2, 2), 0);  // and cannot release it
  ASSERT_EQ(isclose(f2), 0);
  ASSERT_EQ(b.step(), 0);
  int au = isopen(name.c_str(), ISINOUT + ISAUTOLOCK);
  ASSERT_GE(au, 0);
  ASSERT_EQ(read_key(au, 3, ISEQUAL), 0);
  ASSERT_EQ(read_key(au, 0, ISNEXT), 0);
  ASSERT_EQ(b.step(), 0);
  EXPECT_TRUE(b.finish());
  isclose(au);
  isclose(f1);
}

TEST(isam_processes, file_lock_stops_other_writers) {
  scratch_dir d;
  std::string name = d.file("flock");
  peer b = spawn([&](peer_ctx &c) {
    c.wait();
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    CK(c, fd >= 0);
    CK(c, read_key(fd, 1, ISEQUAL) == 0);
    CK(c, iswrite(fd, rec(9).c_str()) == -1 && iserrno == EFLOCKED);
    c.report(0);
    c.wait();
    CK(c, iswrite(fd, rec(9).c_str()) == 0);
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  build(name, 2);
  int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_EQ(islock(fd), 0);
  ASSERT_EQ(iswrite(fd, rec(8).c_str()), 0);
  ASSERT_EQ(b.step(), 0);
  ASSERT_EQ(isunlock(fd), 0);
  ASSERT_EQ(b.step(), 0);
  EXPECT_TRUE(b.finish());
  isclose(fd);
}

// Every lock request goes through islockfn.
int counted_calls;
int counting_lock(int fd, int cmd, struct flock *fl) {
  counted_calls++;
  return fcntl(fd, cmd, fl);
}

TEST(isam_processes, lock_requests_go_through_the_hook) {
  scratch_dir d;
  std::string name = d.file("hook");
  build(name, 2);
  islockfn = counting_lock;
  counted_calls = 0;
  int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
  ASSERT_GE(fd, 0);
  int after_open = counted_calls;
  EXPECT_GT(after_open, 0);
  ASSERT_EQ(read_key(fd, 1, ISEQUAL + ISLOCK), 0);
  EXPECT_GE(counted_calls, after_open + 1);  // the record lock (the read needs no call lock)
  int after_read = counted_calls;
  ASSERT_EQ(isrelease(fd), 0);
  EXPECT_GE(counted_calls, after_read + 1);
  char r[RL];
  std::memset(r, 'x', RL);
  std::memcpy(r, "zzzz", 4);
  int before_write = counted_calls;
  ASSERT_EQ(iswrite(fd, r), 0);
  EXPECT_GE(counted_calls, before_write + 2);  // call lock, unlock
  isclose(fd);
  islockfn = [](int f, int cmd, struct flock *fl) { return fcntl(f, cmd, fl); };
}

// Writers on their own records, and all of them on one shared counter
// record under its lock: no update may be lost.
TEST(isam_processes, concurrent_writers_lose_no_update) {
  scratch_dir d;
  std::string name = d.file("writers");
  constexpr int NW = 3, ROUNDS = 150;
  std::vector<peer> ws;
  for (int w = 0; w < NW; w++) {
    ws.push_back(spawn([&, w](peer_ctx &c) {
      c.wait();
      int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
      CK(c, fd >= 0);
      for (int i = 0; i < ROUNDS; i++) {
        std::string got;
        // the shared counter, record 1: retry while another holds it
        int rc;
        while ((rc = read_key(fd, 1, ISEQUAL + ISLOCK, &got)) != 0) {
          CK(c, iserrno == ELOCKED);
          usleep(100);
        }
        long v = std::atol(got.substr(4, 8).c_str());
        CK(c, isrewcurr(fd, rec(1, v + 1).c_str()) == 0);
        CK(c, isrelease(fd) == 0);
        // an own record per round, inserted and rewritten
        int key = 1000 + w * 1000 + i;
        CK(c, iswrite(fd, rec(key).c_str()) == 0);
        CK(c, read_key(fd, key, ISEQUAL + ISLOCK) == 0);
        CK(c, isrewcurr(fd, rec(key, i).c_str()) == 0);
        CK(c, isrelease(fd) == 0);
      }
      CK(c, isclose(fd) == 0);
      c.report(0);
    }));
  }
  build(name, 1);
  for (peer &p : ws) {
    char go = 1;
    ASSERT_EQ(write(p.go_w, &go, 1), 1);
  }
  for (peer &p : ws) {
    int r;
    ASSERT_EQ(read(p.res_r, &r, sizeof r), ssize_t(sizeof r));
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(p.finish());
  }
  int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
  std::string got;
  ASSERT_EQ(read_key(fd, 1, ISEQUAL, &got), 0);
  EXPECT_EQ(got, rec(1, NW * ROUNDS));
  int n = 0;
  ASSERT_EQ(read_key(fd, 0, ISFIRST), 0);
  while (read_key(fd, 0, ISNEXT, &got) == 0) {
    int key = std::atoi(got.substr(0, 4).c_str());
    EXPECT_EQ(got, rec(key, (key % 1000)));
    n++;
  }
  EXPECT_EQ(n, NW * ROUNDS);
  dictinfo di;
  ASSERT_EQ(isindexinfo(fd, &di, 0), 0);
  EXPECT_EQ(di.di_nrecords, NW * ROUNDS + 1);
  isclose(fd);
}

// Readers scan while a writer grows the tree (splits) and deletes: every
// scan is in key order and sees a consistent file.
TEST(isam_processes, readers_during_splits) {
  scratch_dir d;
  std::string name = d.file("splits");
  peer wr = spawn([&](peer_ctx &c) {
    c.wait();
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK);
    CK(c, fd >= 0);
    for (int i = 0; i < 3000; i++) {
      int key = (i * 7919) % 9000 + 1;
      CK(c, iswrite(fd, rec(key).c_str()) == 0 || iserrno == EDUPL);
      if (i % 5 == 4) CK(c, isdelrec(fd, 1 + i / 10) == 0 || iserrno == ENOREC);
    }
    CK(c, isclose(fd) == 0);
    c.report(0);
  });
  std::vector<peer> rs;
  for (int r = 0; r < 2; r++) {
    rs.push_back(spawn([&](peer_ctx &c) {
      c.wait();
      int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
      CK(c, fd >= 0);
      for (int pass = 0; pass < 25; pass++) {
        std::string got;
        CK(c, read_key(fd, 0, ISFIRST, &got) == 0);
        int prev = std::atoi(got.substr(0, 4).c_str());
        while (read_key(fd, 0, ISNEXT, &got) == 0) {
          int k = std::atoi(got.substr(0, 4).c_str());
          CK(c, k > prev);
          prev = k;
        }
        CK(c, iserrno == EENDFILE);
      }
      CK(c, isclose(fd) == 0);
      c.report(0);
    }));
  }
  build(name, 1);
  std::vector<peer *> all{&wr};
  for (peer &p : rs) all.push_back(&p);
  for (peer *p : all) {
    char go = 1;
    ASSERT_EQ(write(p->go_w, &go, 1), 1);
  }
  for (peer *p : all) {
    int r;
    ASSERT_EQ(read(p->res_r, &r, sizeof r), ssize_t(sizeof r));
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(p->finish());
  }
}

}  // namespace

namespace {

// Processes that open and close the same file over and over: an open
// never fails because another process is closing (the last closer removes
// the journal without taking the open lock for itself).
TEST(isam_processes, opens_while_others_close) {
  scratch_dir d;
  std::string name = d.file("openclose");
  build(name, 3);
  std::vector<pid_t> kids;
  for (int k = 0; k < 3; k++) {
    pid_t p = fork();
    if (p == 0) {
      for (int i = 0; i < 150; i++) {
        int fd = isopen(name.c_str(), (k == 0 ? ISINOUT : ISINPUT) + ISMANULOCK);
        if (fd < 0) _exit(10 + iserrno % 100);
        std::string got;
        if (read_key(fd, 1, ISEQUAL, &got) != 0) _exit(2);
        if (k == 0) {
          char r[RL];
          std::memset(r, 'x', RL);
          std::memcpy(r, "zzz", 3);
          r[3] = char('a' + i % 26);
          iswrite(fd, r);
          isdelete(fd, r);
        }
        if (isclose(fd) != 0) _exit(3);
      }
      _exit(0);
    }
    kids.push_back(p);
  }
  for (pid_t p : kids) {
    int st;
    waitpid(p, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << WEXITSTATUS(st);
  }
}

}  // namespace
