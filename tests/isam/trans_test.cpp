// trans_test.cpp: transactions: rollback and commit on files closed again
// inside the transaction, locks held to the end, ISTRANS descriptors used
// outside a transaction, the errors of the calls, a process that dies in
// a transaction, replay of the log on a restored backup, and two
// processes in transactions on the same records.
#include "isam/isam.h"
#include "tests/isam/testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr int RL = 16;  // key (4) + alternate key (2, duplicates) + value (10)

struct env {
  scratch_dir dir;
  std::string name = dir.file("t");
  std::string log = dir.file("tx.log");
  env() {
    keydesc k = char_key(0, 4, ISNODUPS);
    int fd = isbuild(name.c_str(), RL, &k, ISINOUT + ISEXCLLOCK);
    EXPECT_GE(fd, 0);
    keydesc a = char_key(4, 2, ISDUPS);
    EXPECT_EQ(isaddindex(fd, &a), 0);
    for (const char *r : {"AAAAxxold-a", "UUUUxxold-u", "DDDDyyold-d"})
      EXPECT_EQ(iswrite(fd, rec_of(r, RL).c_str()), 0);
    EXPECT_EQ(isclose(fd), 0);
  }
  ~env() {
    isrollback();  // a test that failed inside a transaction
    iscleanup();
    islogclose();
  }
};

std::string rec(const std::string &s) {
  return rec_of(s, RL);
}

// Reads key k (4 bytes) through fd: the record, or "#iserrno".
std::string get(int fd, const std::string &k, int mode = ISEQUAL) {
  std::string b = rec(k);
  if (isread(fd, b.data(), mode) != 0) return "#" + std::to_string(iserrno);
  return b;
}

// Every record in primary order, and the number of entries of the
// alternate index (which must match).
std::map<std::string, std::string> contents(const std::string &name, int *alt = nullptr) {
  std::map<std::string, std::string> m;
  int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
  if (fd < 0) return {{"#open", std::to_string(iserrno)}};
  std::string b = rec("");
  while (isread(fd, b.data(), ISNEXT) == 0) m[b.substr(0, 4)] = b;
  keydesc a = char_key(4, 2, ISDUPS);
  int n = 0;
  if (isstart(fd, &a, 0, b.data(), ISFIRST) == 0)
    while (isread(fd, b.data(), ISNEXT) == 0) n++;
  if (alt) *alt = n;
  isclose(fd);
  return m;
}

// A child process: runs body, which returns its exit status.
template <class F>
pid_t child(F body) {
  pid_t p = fork();
  if (p == 0) _exit(body());
  return p;
}

int wait_status(pid_t p) {
  int st;
  waitpid(p, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 100 + WTERMSIG(st);
}

// Ends a child that a failed test left waiting.
struct reaper {
  pid_t pid;
  ~reaper() {
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The transaction of the interface's own example: insert N, rewrite U,
// delete D through an ISTRANS descriptor, close it, then end.
void example(env &e, bool commit) {
  ASSERT_EQ(islogopen(e.log.c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  int fd = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_GE(fd, 0);
  std::string d = get(fd, "DDDD", ISEQUAL + ISLOCK);
  ASSERT_EQ(d.substr(0, 4), "DDDD");
  long drec = isrecnum;
  ASSERT_EQ(iswrite(fd, rec("NNNNxxnew-n").c_str()), 0);
  ASSERT_EQ(get(fd, "UUUU", ISEQUAL + ISLOCK).substr(0, 4), "UUUU");
  ASSERT_EQ(isrewcurr(fd, rec("UUUUzznew-u").c_str()), 0);
  ASSERT_EQ(get(fd, "DDDD", ISEQUAL + ISLOCK).substr(0, 4), "DDDD");
  ASSERT_EQ(isdelcurr(fd), 0);
  ASSERT_EQ(isrelease(fd), 0);  // releases nothing inside the transaction
  ASSERT_EQ(isclose(fd), 0);

  // another process: plain reads see the changes, locks are refused
  pid_t p = child([&] {
    int g = isopen(e.name.c_str(), ISINOUT + ISMANULOCK);
    if (g < 0) return 1;
    if (get(g, "UUUU") != rec("UUUUzznew-u")) return 2;
    if (get(g, "UUUU", ISEQUAL + ISLOCK) != "#107") return 3;
    if (get(g, "NNNN", ISEQUAL + ISLOCK) != "#107") return 4;
    if (iswrite(g, rec("DDDDqqother").c_str()) != 0) return 5;  // a new D is a new record
    if (isdelcurr(g) != -1) return 6;
    if (isdelete(g, rec("DDDDqq").c_str()) != 0) return 7;  // deletes its own again
    std::string b = rec("");
    isrecnum = drec;  // the deleted number is not given to anybody else
    keydesc none;
    std::memset(&none, 0, sizeof none);
    if (isstart(g, &none, 0, b.data(), ISEQUAL) != -1) return 8;
    return 0;
  });
  EXPECT_EQ(wait_status(p), 0);

  if (commit) {
    ASSERT_EQ(iscommit(), 0);
  } else {
    ASSERT_EQ(isrollback(), 0);
  }
  // the locks are gone
  p = child([&] {
    int g = isopen(e.name.c_str(), ISINOUT + ISMANULOCK);
    return g >= 0 && get(g, "UUUU", ISEQUAL + ISLOCK).substr(0, 4) == "UUUU" ? 0 : 1;
  });
  EXPECT_EQ(wait_status(p), 0);
  int alt;
  auto m = contents(e.name, &alt);
  EXPECT_EQ(int(m.size()), alt);
  EXPECT_EQ(m["AAAA"], rec("AAAAxxold-a"));
  if (commit) {
    EXPECT_EQ(m.size(), 3u);
    EXPECT_EQ(m["NNNN"], rec("NNNNxxnew-n"));
    EXPECT_EQ(m["UUUU"], rec("UUUUzznew-u"));
    EXPECT_EQ(m.count("DDDD"), 0u);
  } else {
    EXPECT_EQ(m.size(), 3u);
    EXPECT_EQ(m.count("NNNN"), 0u);
    EXPECT_EQ(m["UUUU"], rec("UUUUxxold-u"));
    EXPECT_EQ(m["DDDD"], rec("DDDDyyold-d"));
    int rd = isopen(e.name.c_str(), ISINPUT + ISMANULOCK);
    EXPECT_EQ(get(rd, "DDDD").substr(0, 4), "DDDD");
    EXPECT_EQ(isrecnum, drec);  // back under its own number
    isclose(rd);
  }
}

TEST(isam_trans, rollback_of_closed_file) {
  env e;
  example(e, false);
}

TEST(isam_trans, commit_of_closed_file) {
  env e;
  example(e, true);
  // the commit record is in the log for good
  std::string log;
  FILE *fp = fopen(e.log.c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, fp)) > 0) log.append(buf, n);
  fclose(fp);
  EXPECT_GT(log.size(), 16384u);
  EXPECT_NE(log.find("UUUUzznew-u"), std::string::npos);
}

TEST(isam_trans, call_errors_and_use_outside_a_transaction) {
  env e;
  EXPECT_EQ(isbegin(), -1);
  EXPECT_EQ(iserrno, ENOLOG);
  EXPECT_EQ(iscommit(), -1);
  EXPECT_EQ(iserrno, ENOTRANS);
  EXPECT_EQ(islogopen(e.dir.file("no/such/dir/log").c_str()), -1);
  EXPECT_EQ(iserrno, ELOGOPEN);
  ASSERT_EQ(islogopen(e.log.c_str()), 0);
  EXPECT_EQ(isrollback(), -1);
  EXPECT_EQ(iserrno, ENOTRANS);
  int fd = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_GE(fd, 0);
  // no transaction: the change is made at once
  ASSERT_EQ(iswrite(fd, rec("EEEExxnow").c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  EXPECT_EQ(isbegin(), -1);
  EXPECT_EQ(iserrno, EBADARG);
  EXPECT_EQ(islogclose(), -1);
  ASSERT_EQ(iswrite(fd, rec("FFFFxxtx").c_str()), 0);
  ASSERT_EQ(isrollback(), 0);
  EXPECT_EQ(get(fd, "EEEE").substr(0, 9), "EEEExxnow");
  EXPECT_EQ(get(fd, "FFFF"), "#111");
  // after the transaction the ISTRANS descriptor writes for good
  ASSERT_EQ(iswrite(fd, rec("GGGGxxafter").c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  ASSERT_EQ(iscommit(), 0);
  EXPECT_EQ(get(fd, "GGGG").substr(0, 4), "GGGG");
  // a descriptor opened ISNOLOG is not in the log
  int nl = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISNOLOG);
  ASSERT_EQ(iswrite(nl, rec("HHHHxxunlogged").c_str()), 0);
  EXPECT_EQ(islogclose(), 0);
  FILE *fp = fopen(e.log.c_str(), "rb");
  std::string log(1 << 16, '\0');
  log.resize(fread(log.data(), 1, log.size(), fp));
  fclose(fp);
  EXPECT_NE(log.find("GGGGxxafter"), std::string::npos);
  EXPECT_EQ(log.find("HHHHxxunlogged"), std::string::npos);
}

// A process that dies inside a transaction: the next process that opens
// the log rolls its changes back.
TEST(isam_trans, dead_process_is_rolled_back) {
  env e;
  auto before = contents(e.name);
  pid_t p = child([&] {
    if (islogopen(e.log.c_str()) != 0 || isbegin() != 0) return 1;
    int fd = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
    if (iswrite(fd, rec("NNNNxxorphan").c_str()) != 0) return 2;
    if (get(fd, "UUUU", ISEQUAL + ISLOCK).substr(0, 4) != "UUUU") return 3;
    if (isrewcurr(fd, rec("UUUUxxorphan").c_str()) != 0) return 4;
    if (isdelete(fd, rec("AAAA").c_str()) != 0) return 5;
    kill(getpid(), SIGKILL);
    return 6;
  });
  EXPECT_EQ(wait_status(p), 100 + SIGKILL);
  EXPECT_NE(contents(e.name), before);  // the changes reached the file
  ASSERT_EQ(islogopen(e.log.c_str()), 0);
  int alt;
  EXPECT_EQ(contents(e.name, &alt), before);
  EXPECT_EQ(alt, 3);
  // its slot is free again: a new transaction works and commits
  ASSERT_EQ(isbegin(), 0);
  ASSERT_EQ(iscommit(), 0);
  EXPECT_EQ(isrecover(), 0);
  EXPECT_EQ(contents(e.name), before);
}

// The log replayed on a backup gives the files as they are now: changes
// outside transactions and committed ones, not the rolled-back ones.
TEST(isam_trans, recover_replays_on_a_backup) {
  env e;
  std::string cp = "cp " + e.name + ".dat " + e.dir.file("b.dat") + " && cp " + e.name + ".idx " +
                   e.dir.file("b.idx");
  ASSERT_EQ(system(cp.c_str()), 0);
  ASSERT_EQ(islogopen(e.log.c_str()), 0);
  int fd = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  for (int i = 0; i < 30; i++) {
    std::string k = "K" + std::to_string(100 + i);
    ASSERT_EQ(iswrite(fd, rec(k + "zzv0").c_str()), 0);
  }
  for (int t = 0; t < 6; t++) {
    ASSERT_EQ(isbegin(), 0);
    for (int i = t; i < 30; i += 3) {
      std::string k = "K" + std::to_string(100 + i);
      std::string got = get(fd, k, ISEQUAL + ISLOCK);
      if (got == "#111") continue;  // deleted by an earlier transaction
      ASSERT_EQ(got.substr(0, 4), k);
      if (i % 5 == 0)
        ASSERT_EQ(isdelcurr(fd), 0);
      else
        ASSERT_EQ(isrewcurr(fd, rec(k + "zzv" + std::to_string(t + 1)).c_str()), 0);
    }
    ASSERT_EQ(t % 2 ? isrollback() : iscommit(), 0);
  }
  ASSERT_EQ(isdelete(fd, rec("UUUU").c_str()), 0);
  ASSERT_EQ(isclose(fd), 0);
  auto now = contents(e.name);
  ASSERT_EQ(islogclose(), 0);
  // restore the backup and replay
  ASSERT_EQ(system(("mv " + e.dir.file("b.dat") + " " + e.name + ".dat; mv " + e.dir.file("b.idx") +
                    " " + e.name + ".idx")
                       .c_str()),
            0);
  EXPECT_NE(contents(e.name), now);
  ASSERT_EQ(islogopen(e.log.c_str()), 0);
  EXPECT_EQ(isrecover(), 0) << iserrno;
  int alt;
  EXPECT_EQ(contents(e.name, &alt), now);
  EXPECT_EQ(alt, int(now.size()));
  EXPECT_EQ(isrecover(), 0);  // twice changes nothing
  EXPECT_EQ(contents(e.name), now);
}

// Two processes in transactions on the same record: the second gets the
// locked error, or waits, and never reads uncommitted data with a lock.
TEST(isam_trans, two_processes_on_the_same_records) {
  env e;
  int go[2], ready[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(ready), 0);
  pid_t p = child([&] {
    char c;
    if (read(go[0], &c, 1) != 1) return 1;  // A holds U now
    if (islogopen(e.log.c_str()) != 0 || isbegin() != 0) return 2;
    int fd = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
    if (get(fd, "UUUU", ISEQUAL + ISLOCK) != "#107") return 3;
    if (isrewrite(fd, rec("UUUUxxfrom-b").c_str()) != -1 || iserrno != ELOCKED) return 4;
    if (write(ready[1], "r", 1) != 1) return 5;
    std::string u = get(fd, "UUUU", ISEQUAL + ISLCKW);  // waits for A's commit
    if (u != rec("UUUUxxfrom-a")) return 6;
    if (isrewcurr(fd, rec("UUUUxxfrom-b").c_str()) != 0) return 7;
    return iscommit() == 0 ? 0 : 8;
  });
  reaper rp{p};
  ASSERT_EQ(islogopen(e.log.c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  int fd = isopen(e.name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_EQ(get(fd, "UUUU", ISEQUAL + ISLOCK).substr(0, 4), "UUUU");
  ASSERT_EQ(isrewcurr(fd, rec("UUUUxxuncommitted").c_str()), 0);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(get(fd, "UUUU", ISEQUAL + ISLOCK).substr(0, 4), "UUUU");
  ASSERT_EQ(isrewcurr(fd, rec("UUUUxxfrom-a").c_str()), 0);
  usleep(50000);  // B is waiting now
  ASSERT_EQ(iscommit(), 0);
  EXPECT_EQ(wait_status(p), 0);
  EXPECT_EQ(get(fd, "UUUU"), rec("UUUUxxfrom-b"));
}

}  // namespace
