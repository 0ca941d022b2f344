// crash_test.cpp: a writer killed with SIGKILL at random moments, again and
// again on the same file, with plain calls and with transactions.  After
// each kill the file must hold exactly the completed calls (and, for the
// one call in flight, all of it or nothing), every committed transaction
// and no uncommitted one, with every index whole.  QUILLON_LONG=1 runs
// the long loops.
#include "isam/isam.h"
#include "tests/isam/crashutil.h"
#include "tests/isam/testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int RL = 20;  // key (8) + alternate key (2, duplicates) + value (10)

// One line of the writer's journal of what it did; written with one write
// each, so a kill never leaves half a line.
struct note {
  char what;  // 'S' call started, 'D' call done, 'B' begin, 'C' commit started,
              // 'c' commit done, 'R' rolled back
  char op;    // 'w' write, 'r' rewrite, 'd' delete
  char key[8];
  char val[10];
  char pad[12];
};
static_assert(sizeof(note) == 32);

using model = std::map<std::string, std::string>;  // key -> value

std::string make_rec(const std::string &k, const std::string &v) {
  std::string r = k + k.substr(6, 2) + v;
  r.resize(RL, ' ');
  return r;
}

void apply_note(model &m, const note &n) {
  std::string k(n.key, 8), v(n.val, 10);
  if (n.op == 'd')
    m.erase(k);
  else
    m[k] = v;
}

// What the file holds, checked index by index: -> key -> value.  Sets ok
// false when an index disagrees with the primary; why tells a call that
// failed.
model file_model(const std::string &name, bool *ok, std::string *why) {
  model m;
  *ok = true;
  int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
  if (fd < 0) {
    *ok = false;
    *why = "open: error " + std::to_string(iserrno);
    return m;
  }
  std::string b(RL, ' ');
  while (isread(fd, b.data(), ISNEXT) == 0) m[b.substr(0, 8)] = b.substr(10, 10);
  *ok = iserrno == EENDFILE;
  if (!*ok) *why = "read: error " + std::to_string(iserrno) + " after " + std::to_string(m.size());
  keydesc a = char_key(8, 2, ISDUPS);
  size_t n = 0;
  std::string prev;
  if (isstart(fd, &a, 0, b.data(), ISFIRST) != 0) *ok = false;
  while (isread(fd, b.data(), ISNEXT) == 0) {
    n++;
    std::string alt = b.substr(8, 2);
    auto it = m.find(b.substr(0, 8));
    if (alt < prev || it == m.end() || it->second != b.substr(10, 10)) *ok = false;
    prev = alt;
  }
  dictinfo di;
  if (n != m.size() || isindexinfo(fd, &di, 0) != 0 || size_t(di.di_nrecords) != m.size())
    *ok = false;
  isclose(fd);
  return m;
}

struct loop {
  scratch_dir dir;
  std::string name = dir.file("crash");
  std::string notes = dir.file("notes");
  std::string log = dir.file("tx.log");
  bool trans;
  model committed;  // what the file must hold
  std::mt19937 rng{20261207};
  int kills = 0, inflight_kept = 0, inflight_lost = 0, mid_tx = 0;

  explicit loop(bool t) : trans(t) {
    keydesc k = char_key(0, 8, ISNODUPS);
    int fd = isbuild(name.c_str(), RL, &k, ISINOUT + ISEXCLLOCK);
    EXPECT_GE(fd, 0);
    keydesc a = char_key(8, 2, ISDUPS);
    EXPECT_EQ(isaddindex(fd, &a), 0);
    isclose(fd);
  }

  // The writer: random calls (in transactions of one to five calls) until
  // it is killed.
  [[noreturn]] void writer(unsigned start, int ready) {
    int nf = open(notes.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (trans && islogopen(log.c_str()) != 0) _exit(2);
    int fd = isopen(name.c_str(), ISINOUT + ISMANULOCK + (trans ? ISTRANS : 0));
    if (fd < 0 || nf < 0) _exit(3);
    std::mt19937 g(start);
    std::vector<std::string> keys;
    for (auto &p : committed) keys.push_back(p.first);
    auto put = [&](char what, char op, const std::string &k, const std::string &v) {
      note n;
      std::memset(&n, ' ', sizeof n);
      n.what = what;
      n.op = op;
      std::memcpy(n.key, k.data(), std::min<size_t>(8, k.size()));
      std::memcpy(n.val, v.data(), std::min<size_t>(10, v.size()));
      if (write(nf, &n, sizeof n) != sizeof n) _exit(4);
    };
    if (write(ready, "r", 1) != 1) _exit(5);
    for (int t = 0;; t++) {
      int calls = trans ? 1 + int(g() % 150) : 1;
      if (trans) {
        if (isbegin() != 0) _exit(6);
        put('B', ' ', "", "");
      }
      for (int c = 0; c < calls; c++) {
        char op = keys.size() < 50 ? 'w' : "wwrrd"[g() % 5];
        std::string k, v = "v" + std::to_string(g() % 100000000);
        if (op == 'w') {
          k = std::to_string(10000000 + g() % 90000000);
        } else {
          k = keys[g() % keys.size()];
        }
        std::string r = make_rec(k, v);
        put('S', op, k, v);
        int rc;
        if (op == 'w') {
          rc = iswrite(fd, r.c_str());
          if (rc != 0 && iserrno == EDUPL) continue;  // nothing happened: not noted done
          keys.push_back(k);
        } else if (op == 'r') {
          rc = isrewrite(fd, r.c_str());
        } else {
          rc = isdelete(fd, r.c_str());
          if (rc == 0)
            for (auto &x : keys)
              if (x == k) {
                x = keys.back();
                keys.pop_back();
                break;
              }
        }
        if (rc != 0) _exit(10 + iserrno % 100);
        put('D', op, k, v);
      }
      if (trans) {
        if (g() % 4 == 0) {
          if (isrollback() != 0) _exit(7);
          put('R', ' ', "", "");
          keys.clear();
          for (auto &p : file_keys(fd)) keys.push_back(p);
        } else {
          put('C', ' ', "", "");
          if (iscommit() != 0) _exit(8);
          put('c', ' ', "", "");
        }
      }
    }
  }

  static std::vector<std::string> file_keys(int fd) {
    std::vector<std::string> ks;
    keydesc k = char_key(0, 8, ISNODUPS);
    std::string b(RL, ' ');
    isstart(fd, &k, 0, b.data(), ISFIRST);
    while (isread(fd, b.data(), ISNEXT) == 0) ks.push_back(b.substr(0, 8));
    return ks;
  }

  // One kill; false after a failure was reported.
  bool round() {
    int rp[2];
    if (pipe(rp) != 0) return false;
    pid_t p = fork();
    if (p == 0) {
      close(rp[0]);
      writer(unsigned(rng()), rp[1]);
    }
    close(rp[1]);
    char c;
    bool started = read(rp[0], &c, 1) == 1;
    close(rp[0]);
    if (trans && rng() % 2) {
      // kill while the writer is inside a transaction: just after a call
      // of it is noted, before its commit
      usleep(useconds_t(rng() % 5000));
      int nf = open(notes.c_str(), O_RDONLY);
      for (int tries = 0; tries < 20000; tries++) {
        note last;
        off_t end = lseek(nf, 0, SEEK_END);
        if (end >= off_t(sizeof last) &&
            pread(nf, &last, sizeof last, end - off_t(sizeof last)) == sizeof last &&
            (last.what == 'D' || last.what == 'S'))
          break;
        usleep(10);
      }
      close(nf);
    } else {
      usleep(useconds_t(rng() % 2 ? rng() % 1500 : rng() % 30000));  // often inside the first calls
    }
    kill(p, SIGKILL);
    int st;
    waitpid(p, &st, 0);
    EXPECT_TRUE(started);
    EXPECT_TRUE(WIFSIGNALED(st)) << "the writer stopped by itself: " << WEXITSTATUS(st);
    if (!started || !WIFSIGNALED(st)) return false;
    kills++;
    // what the notes say
    std::vector<note> ns;
    int nf = open(notes.c_str(), O_RDONLY);
    note n;
    while (read(nf, &n, sizeof n) == sizeof n) ns.push_back(n);
    close(nf);
    model sure = committed, maybe;
    bool have_maybe = false;
    if (!trans) {
      for (size_t i = 0; i < ns.size(); i++)
        if (ns[i].what == 'D') apply_note(sure, ns[i]);
      if (!ns.empty() && ns.back().what == 'S') {
        maybe = sure;
        apply_note(maybe, ns.back());
        have_maybe = true;
      }
    } else {
      std::vector<note> cur;
      for (size_t i = 0; i < ns.size(); i++) {
        if (ns[i].what == 'B') cur.clear();
        if (ns[i].what == 'D') cur.push_back(ns[i]);
        if (ns[i].what == 'c')
          for (auto &x : cur) apply_note(sure, x);
      }
      if (!ns.empty() && std::strchr("BSD", ns.back().what)) mid_tx++;
      if (!ns.empty() && ns.back().what == 'C') {
        maybe = sure;
        for (auto &x : cur) apply_note(maybe, x);
        have_maybe = true;
      }
    }
    // recovery: the next opener of the log rolls an orphan back
    if (trans) {
      EXPECT_EQ(islogopen(log.c_str()), 0);
    }
    bool ok;
    std::string why;
    model now = file_model(name, &ok, &why);
    if (trans) islogclose();
    EXPECT_TRUE(ok) << "indexes disagree after kill " << kills << " " << why;
    bool as_sure = now == sure, as_maybe = have_maybe && now == maybe;
    EXPECT_TRUE(as_sure || as_maybe) << "after kill " << kills << ": " << now.size() << " records, "
                                     << sure.size() << " expected";
    if (!ok || (!as_sure && !as_maybe)) return false;
    if (have_maybe) (as_maybe && !as_sure ? inflight_kept : inflight_lost)++;
    committed = now;
    return crash_audit(name);
  }
};

int rounds() {
  const char *l = getenv("QUILLON_LONG");
  return l && *l == '1' ? 250 : 40;
}

TEST(isam_crash, plain_writer_killed) {
  loop l(false);
  for (int i = 0; i < rounds(); i++)
    if (!l.round()) break;
  EXPECT_EQ(l.kills, rounds());
  std::printf("plain: %d kills, call in flight kept %d, lost %d, %zu records\n", l.kills,
              l.inflight_kept, l.inflight_lost, l.committed.size());
}

TEST(isam_crash, transactional_writer_killed) {
  loop l(true);
  for (int i = 0; i < rounds(); i++)
    if (!l.round()) break;
  EXPECT_EQ(l.kills, rounds());
  std::printf(
      "transactions: %d kills, %d inside a transaction, commit in flight kept %d, lost %d, %zu "
      "records\n",
      l.kills, l.mid_tx, l.inflight_kept, l.inflight_lost, l.committed.size());
}

}  // namespace
