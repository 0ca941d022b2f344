// model_test.cpp: random sequences of engine calls checked against an
// in-memory model of the file: records by number, each index as an ordered
// set of (key, duplicate counter, record number), the free slots as a
// stack, and the descriptor's position.
#include "isam/isam.h"
#include "isam/isintern.h"
#include "tests/isam/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

namespace {

using entry = std::tuple<std::string, uint64_t, uint32_t>;  // key, duplicate counter, record

enum mstate { M_UNDEF, M_BEGIN, M_END, M_START, M_ON, M_HOLE };

struct shape {
  int pk;        // primary key length (unique, character)
  int reclen;    // record length
  int keyspace;  // distinct primary key values
  int ops;       // calls per run
  int openmode;  // lock mode of the descriptor
};

struct model {
  shape sh;
  std::map<uint32_t, std::string> recs;
  std::set<entry> ord[3];              // primary, alternate (duplicates), composite
  std::map<uint32_t, entry> byrec[3];  // the same entries by record number
  bool has3 = false;                   // composite index present
  std::vector<uint32_t> freed;         // free slots, last freed on top
  uint32_t maxrec = 0;
  // position
  mstate st = M_BEGIN;
  int cur = 0;   // 0..2
  int plen = 0;  // partial length, 0 = whole
  entry pos;

  int alt_at() const { return sh.pk; }
  int comp_at() const { return sh.pk + 3; }

  std::string key(int i, const std::string &r) const {
    if (i == 0) return r.substr(0, size_t(sh.pk));
    if (i == 1) return r.substr(size_t(alt_at()), 3);
    // LONGTYPE + ISDESC, then two characters
    std::string k = r.substr(size_t(comp_at()), 4);
    k[0] = char(uint8_t(k[0]) ^ 0x80);
    for (char &c : k) c = char(~uint8_t(c));
    return k + r.substr(size_t(comp_at()) + 4, 2);
  }
  int nidx() const { return has3 ? 3 : 2; }
  entry ent(int i, uint32_t r) const { return byrec[i].at(r); }
  void put(int i, const entry &e) {
    ord[i].insert(e);
    byrec[i][std::get<2>(e)] = e;
  }
  void drop(int i, uint32_t r) {
    ord[i].erase(byrec[i].at(r));
    byrec[i].erase(r);
  }
  // The duplicate counter a new entry of key k gets: one more than the
  // last equal key's, 1 for the first.
  uint64_t next_dup(const std::string &k) const {
    auto it = ord[1].lower_bound({k + '\xff', 0, 0});
    if (it == ord[1].begin()) return 1;
    --it;
    return std::get<0>(*it) == k ? std::get<1>(*it) + 1 : 1;
  }
  void add(uint32_t r, const std::string &data) {
    recs[r] = data;
    for (int i = 0; i < nidx(); i++) put(i, {key(i, data), i == 1 ? next_dup(key(1, data)) : 0, r});
  }
  void remove(uint32_t r) {
    for (int i = 0; i < nidx(); i++) drop(i, r);
    recs.erase(r);
  }
  bool collides(const std::string &data, uint32_t self) const {
    for (int i = 0; i < nidx(); i += 2) {
      std::string k = key(i, data);
      for (auto it = ord[i].lower_bound({k, 0, 0}); it != ord[i].end() && std::get<0>(*it) == k;
           ++it)
        if (std::get<2>(*it) != self) return true;
    }
    return false;
  }
};

keydesc key_of(int i, const shape &sh) {
  keydesc k;
  std::memset(&k, 0, sizeof k);
  if (i == 0) return char_key(0, sh.pk, ISNODUPS);
  if (i == 1) return char_key(sh.pk, 3, ISDUPS + COMPRESS);
  k.k_flags = ISNODUPS;
  k.k_nparts = 2;
  k.k_part[0] = {short(sh.pk + 3), 4, short(LONGTYPE + ISDESC)};
  k.k_part[1] = {short(sh.pk + 7), 2, CHARTYPE};
  return k;
}

struct runner {
  model m;
  std::mt19937 rng;
  scratch_dir dir;
  std::string name;
  int fd = -1;

  ~runner() { iscleanup(); }
  runner(const shape &sh, unsigned start) : rng(start) {
    m.sh = sh;
    name = dir.file("m");
  }
  int rnd(int n) { return int(rng() % unsigned(n)); }

  std::string make_rec(int pk) {
    std::string r(size_t(m.sh.reclen), ' ');
    char buf[16];
    snprintf(buf, sizeof buf, "%06d", pk);
    for (int i = 0; i < m.sh.pk; i++) r[size_t(i)] = i < 6 ? buf[i] : char('a' + (pk + i) % 26);
    for (int i = 0; i < 3; i++) r[size_t(m.alt_at() + i)] = char('A' + rnd(3));
    int32_t v = rnd(101) - 50;
    uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; i++) r[size_t(m.comp_at() + i)] = char(u >> (24 - 8 * i));
    r[size_t(m.comp_at() + 4)] = char('a' + rnd(4));
    r[size_t(m.comp_at() + 5)] = char('a' + rnd(4));
    for (size_t i = size_t(m.comp_at() + 6); i < r.size(); i++) r[i] = char('a' + rnd(26));
    return r;
  }

  // The model's answer to a read in mode md: the entry, or an error.
  int expect(int md, const std::string &rec, entry *out) {
    const std::set<entry> &o = m.ord[m.cur];
    auto first = [&]() -> int {
      if (o.empty()) return EENDFILE;
      *out = *o.begin();
      return 0;
    };
    auto last = [&]() -> int {
      if (o.empty()) return EENDFILE;
      *out = *o.rbegin();
      return 0;
    };
    switch (md) {
      case ISFIRST:
        return first();
      case ISLAST:
        return last();
      case ISNEXT:
      case ISPREV: {
        if (m.st == M_UNDEF) return ENOCURR;
        if (m.st == M_BEGIN) return first();
        if (m.st == M_END) return last();
        // a hole is left by a deleted entry: an equal entry added since
        // lies after it
        entry hole{std::get<0>(m.pos), std::get<1>(m.pos), 0};
        auto it = m.st == M_HOLE ? o.lower_bound(hole)
                  : md == ISNEXT ? (m.st == M_START ? o.lower_bound(m.pos) : o.upper_bound(m.pos))
                                 : (m.st == M_START ? o.upper_bound(m.pos) : o.lower_bound(m.pos));
        if (md == ISNEXT) {
          if (it == o.end()) return EENDFILE;
        } else {
          if (it == o.begin()) return EENDFILE;
          --it;
        }
        *out = *it;
        return 0;
      }
      case ISCURR:
        if (m.st == M_UNDEF || m.st == M_HOLE) return ENOCURR;
        if (m.st == M_BEGIN || m.st == M_END)
          return (m.st == M_BEGIN ? first() : last()) ? ENOCURR : 0;
        if (!o.count(m.pos)) return ENOREC;
        *out = m.pos;
        return 0;
      default: {
        std::string k = m.key(m.cur, rec);
        size_t len = m.plen ? size_t(m.plen) : k.size();
        k.resize(len);
        for (auto it = o.lower_bound({k, 0, 0}); it != o.end(); ++it) {
          const entry &e = *it;
          int c = std::get<0>(e).compare(0, len, k);
          if ((md == ISGREAT && c > 0) || (md != ISGREAT && c >= 0)) {
            if (md == ISEQUAL && c != 0) return ENOREC;
            *out = e;
            return 0;
          }
        }
        return ENOREC;
      }
    }
  }

  std::string some_key_rec() {
    if (!m.recs.empty() && rnd(2)) {
      auto it = m.recs.lower_bound(uint32_t(1 + rnd(int(m.maxrec))));
      return (it == m.recs.end() ? m.recs.begin() : it)->second;
    }
    return make_rec(rnd(m.sh.keyspace));
  }

  void do_write() {
    std::string r = make_rec(rnd(m.sh.keyspace));
    int rc = iswrite(fd, r.data());
    if (m.collides(r, 0)) {
      ASSERT_EQ(rc, -1);
      ASSERT_EQ(iserrno, EDUPL);
      return;
    }
    ASSERT_EQ(rc, 0) << iserrno;
    uint32_t want;
    if (!m.freed.empty()) {
      want = m.freed.back();
      m.freed.pop_back();
    } else {
      want = ++m.maxrec;
    }
    ASSERT_EQ(isrecnum, long(want));
    m.add(want, r);
  }

  void do_read() {
    static const int modes[] = {ISFIRST, ISLAST, ISNEXT,  ISNEXT,  ISNEXT, ISPREV,
                                ISPREV,  ISCURR, ISEQUAL, ISGREAT, ISGTEQ};
    int md = modes[rnd(int(sizeof modes / sizeof modes[0]))];
    std::string in = some_key_rec();
    entry e;
    int want = expect(md, in, &e);
    std::string buf = in;
    int rc = isread(fd, buf.data(), md);
    if (want) {
      ASSERT_EQ(rc, -1) << "mode " << md;
      ASSERT_EQ(iserrno, want) << "mode " << md;
      ASSERT_EQ(buf, in);
      return;
    }
    ASSERT_EQ(rc, 0) << "mode " << md << " iserrno " << iserrno;
    ASSERT_EQ(iserrno, 0);
    ASSERT_EQ(isrecnum, long(std::get<2>(e))) << "mode " << md;
    ASSERT_EQ(buf, m.recs[std::get<2>(e)]);
    m.st = M_ON;
    m.pos = e;
  }

  void do_start() {
    int i = rnd(m.nidx());
    static const int modes[] = {ISFIRST, ISLAST, ISEQUAL, ISGREAT, ISGTEQ};
    int md = modes[rnd(5)];
    keydesc k = key_of(i, m.sh);
    int len = i == 0 && rnd(2) ? 1 + rnd(m.sh.pk) : 0;
    std::string in = some_key_rec();
    int rc = isstart(fd, &k, len, in.data(), md);
    m.cur = i;
    m.plen = len == m.sh.pk ? 0 : len;
    if (md == ISFIRST || md == ISLAST) {
      ASSERT_EQ(rc, 0);
      m.st = md == ISFIRST ? M_BEGIN : M_END;
      return;
    }
    entry e;
    int want = expect(md, in, &e);
    if (want) {
      ASSERT_EQ(rc, -1);
      ASSERT_EQ(iserrno, want);
      m.st = M_UNDEF;
      return;
    }
    ASSERT_EQ(rc, 0) << iserrno;
    ASSERT_EQ(isrecnum, long(std::get<2>(e)));
    m.st = M_START;
    m.pos = e;
  }

  void do_rewcurr() {
    if (m.st != M_ON) {
      std::string r = make_rec(0);
      ASSERT_EQ(isrewcurr(fd, r.data()), -1);
      ASSERT_EQ(iserrno, ENOCURR);
      return;
    }
    uint32_t r = std::get<2>(m.pos);
    std::string old = m.recs[r];
    std::string nr = make_rec(rnd(3) ? std::atoi(old.substr(0, 6).c_str()) : rnd(m.sh.keyspace));
    if (rnd(2)) nr.replace(size_t(m.alt_at()), 3, old.substr(size_t(m.alt_at()), 3));
    int rc = isrewcurr(fd, nr.data());
    if (m.collides(nr, r)) {
      ASSERT_EQ(rc, -1);
      ASSERT_EQ(iserrno, EDUPL);
      return;
    }
    ASSERT_EQ(rc, 0) << iserrno;
    ASSERT_EQ(isrecnum, long(r));
    // entries whose key did not change keep their place
    for (int i = 0; i < m.nidx(); i++) {
      if (m.key(i, old) == m.key(i, nr)) continue;
      m.drop(i, r);
      m.put(i, {m.key(i, nr), i == 1 ? m.next_dup(m.key(1, nr)) : 0, r});
    }
    m.recs[r] = nr;
    m.pos = m.ent(m.cur, r);
  }

  void do_delcurr() {
    int rc = isdelcurr(fd);
    if (m.st != M_ON) {
      ASSERT_EQ(rc, -1);
      ASSERT_EQ(iserrno, ENOCURR);
      return;
    }
    ASSERT_EQ(rc, 0) << iserrno;
    uint32_t r = std::get<2>(m.pos);
    m.remove(r);
    m.freed.push_back(r);
    m.st = M_HOLE;
  }

  void reopen() {
    ASSERT_EQ(isclose(fd), 0);
    fd = isopen(name.c_str(), ISINOUT + m.sh.openmode);
    ASSERT_GE(fd, 0) << iserrno;
    m.st = M_BEGIN;
    m.cur = 0;
    m.plen = 0;
  }

  void do_index() {
    keydesc k = key_of(2, m.sh);
    bool excl = m.sh.openmode == ISEXCLLOCK;
    if (m.has3) {
      int rc = isdelindex(fd, &k);
      if (!excl) {
        ASSERT_EQ(iserrno, ENOTEXCL);
        return;
      }
      ASSERT_EQ(rc, 0) << iserrno;
      m.has3 = false;
      m.ord[2].clear();
      m.byrec[2].clear();
      if (m.cur == 2) {
        m.cur = 0;
        m.plen = 0;
        m.st = M_BEGIN;
      }
      return;
    }
    int rc = isaddindex(fd, &k);
    if (!excl) {
      ASSERT_EQ(iserrno, ENOTEXCL);
      return;
    }
    std::set<std::string> seen;
    bool dup = false;
    for (auto &[r, d] : m.recs) dup |= !seen.insert(m.key(2, d)).second;
    if (dup) {
      ASSERT_EQ(rc, -1);
      ASSERT_EQ(iserrno, EDUPL);
      return;
    }
    ASSERT_EQ(rc, 0) << iserrno;
    m.has3 = true;
    for (auto &[r, d] : m.recs) m.put(2, {m.key(2, d), 0, r});
  }

  // Walks every index both ways and compares it with the model.
  void check_all() {
    dictinfo di;
    ASSERT_EQ(isindexinfo(fd, &di, 0), 0);
    ASSERT_EQ(di.di_nrecords, long(m.recs.size()));
    ASSERT_EQ(di.di_nkeys, m.nidx());
    std::string buf(size_t(m.sh.reclen), ' ');
    for (int i = 0; i < m.nidx(); i++) {
      keydesc k = key_of(i, m.sh);
      ASSERT_EQ(isstart(fd, &k, 0, buf.data(), ISFIRST), 0);
      for (const entry &e : m.ord[i]) {
        ASSERT_EQ(isread(fd, buf.data(), ISNEXT), 0) << iserrno;
        ASSERT_EQ(isrecnum, long(std::get<2>(e)));
        ASSERT_EQ(buf, m.recs[std::get<2>(e)]);
      }
      ASSERT_EQ(isread(fd, buf.data(), ISNEXT), -1);
      ASSERT_EQ(iserrno, EENDFILE);
      ASSERT_EQ(isstart(fd, &k, 0, buf.data(), ISLAST), 0);
      for (auto it = m.ord[i].rbegin(); it != m.ord[i].rend(); ++it) {
        ASSERT_EQ(isread(fd, buf.data(), ISPREV), 0) << iserrno;
        ASSERT_EQ(isrecnum, long(std::get<2>(*it)));
      }
    }
    keydesc k = key_of(0, m.sh);
    ASSERT_EQ(isstart(fd, &k, 0, buf.data(), ISFIRST), 0);
    m.st = M_BEGIN;
    m.cur = 0;
    m.plen = 0;
  }

  void run() {
    keydesc k0 = key_of(0, m.sh), k1 = key_of(1, m.sh);
    fd = isbuild(name.c_str(), m.sh.reclen, &k0, ISINOUT + ISEXCLLOCK);
    ASSERT_GE(fd, 0) << iserrno;
    ASSERT_EQ(isaddindex(fd, &k1), 0) << iserrno;
    if (m.sh.openmode != ISEXCLLOCK) {
      ASSERT_EQ(isclose(fd), 0);
      fd = isopen(name.c_str(), ISINOUT + m.sh.openmode);
      ASSERT_GE(fd, 0);
    }
    for (int n = 0; n < m.sh.ops; n++) {
      int op = rnd(1000);
      if (op < 450)
        do_write();
      else if (op < 750)
        do_read();
      else if (op < 820)
        do_start();
      else if (op < 900)
        do_rewcurr();
      else if (op < 985)
        do_delcurr();
      else if (op < 996)
        reopen();
      else
        do_index();
      if (::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "after " << n << " calls";
        return;
      }
    }
    check_all();
    ASSERT_EQ(isclose(fd), 0);
  }
};

bool long_run() {
  const char *l = getenv("QUILLON_LONG");
  return l && std::strcmp(l, "1") == 0;
}

TEST(isam_model, short_keys_exclusive) {
  for (unsigned s = 1; s <= (long_run() ? 200u : 4u); s++) {
    runner r({8, 40, 3000, 6000, ISEXCLLOCK}, s);
    r.run();
    ASSERT_FALSE(HasFatalFailure()) << "start value " << s;
  }
}

TEST(isam_model, long_keys_deep_trees) {
  // 100-byte keys: 38 entries per node, so trees grow four levels deep
  for (unsigned s = 11; s <= (long_run() ? 30u : 12u); s++) {
    runner r({100, 130, 20000, 30000, ISEXCLLOCK}, s);
    r.run();
    ASSERT_FALSE(HasFatalFailure()) << "start value " << s;
  }
}

TEST(isam_model, shared_open) {
  for (unsigned s = 21; s <= (long_run() ? 60u : 21u); s++) {
    runner r({40, 70, 2000, 8000, ISMANULOCK}, s);
    r.run();
    ASSERT_FALSE(HasFatalFailure()) << "start value " << s;
  }
}

// A cache that must be written and dropped at almost every call.
TEST(isam_model, tiny_cache) {
  isam::cache_limit_for_test(32 << 10);
  for (int mode : {ISEXCLLOCK, ISMANULOCK}) {
    runner r({40, 70, 3000, 6000, mode}, 41);
    r.run();
    ASSERT_FALSE(HasFatalFailure());
  }
  isam::cache_limit_for_test(0);
}

TEST(isam_model, few_keys_many_duplicates_and_collisions) {
  for (unsigned s = 31; s <= (long_run() ? 200u : 32u); s++) {
    runner r({8, 40, 60, 5000, ISEXCLLOCK}, s);
    r.run();
    ASSERT_FALSE(HasFatalFailure()) << "start value " << s;
  }
}

TEST(isam_model, million_records) {
  if (!long_run()) GTEST_SKIP() << "set QUILLON_LONG=1";
  scratch_dir dir;
  std::string name = dir.file("big");
  keydesc k0 = char_key(0, 10, ISNODUPS), k1 = char_key(10, 4, ISDUPS);
  int fd = isbuild(name.c_str(), 60, &k0, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(isaddindex(fd, &k1), 0);
  const int n = 1000000;
  std::vector<int> order(n);
  for (int i = 0; i < n; i++) order[size_t(i)] = i;
  std::mt19937 rng(5);
  std::shuffle(order.begin(), order.end(), rng);
  char rec[61];
  for (int i : order) {
    snprintf(rec, sizeof rec, "%010d%04d%-46s", i, i % 977, "x");
    ASSERT_EQ(iswrite(fd, rec), 0) << iserrno;
  }
  for (int i = 0; i < n; i += 2) {
    snprintf(rec, sizeof rec, "%010d", i);
    ASSERT_EQ(isread(fd, rec, ISEQUAL), 0);
    ASSERT_EQ(isdelcurr(fd), 0);
  }
  ASSERT_EQ(isclose(fd), 0);
  fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
  ASSERT_GE(fd, 0);
  int count = 0, prev = -1;
  while (isread(fd, rec, ISNEXT) == 0) {
    int v = std::atoi(std::string(rec, 10).c_str());
    ASSERT_GT(v, prev);
    ASSERT_EQ(v % 2, 1);
    prev = v;
    count++;
  }
  ASSERT_EQ(iserrno, EENDFILE);
  ASSERT_EQ(count, n / 2);
  ASSERT_EQ(isclose(fd), 0);
}

}  // namespace
