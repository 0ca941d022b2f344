// audit_test.cpp: the idxaudit command on files damaged on purpose (a
// broken link, a lost free-list node, a record missing from one index, a
// key out of order, truncated files): each fault found, named and
// repaired; node-size changes that keep every record reachable and the
// order of duplicates; listings; the locks of other processes; usage.
#include "isam/isam.h"
#include "isam/isintern.h"
#include "tests/isam/testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int RL = 16;  // key (4) + alternate key (2, duplicates) + data (10)

struct result {
  int status;
  std::string out;
};

result idxaudit(const std::string &args) {
  const char *b = getenv("QUILLON_BUILD");
  std::string cmd = std::string(b ? b : ".") + "/bin/idxaudit " + args + " 2>&1 </dev/null";
  FILE *p = popen(cmd.c_str(), "r");
  result r{-1, ""};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string key4(int i) {
  char b[8];
  std::snprintf(b, sizeof b, "%04d", i);
  return b;
}

struct sample {
  scratch_dir dir;
  std::string name = dir.file("s");
  // 3000 records, then 1000 in a row deleted: free records and free nodes
  explicit sample(int nodesize_hint = 0) {
    (void)nodesize_hint;
    keydesc k = char_key(0, 4, ISNODUPS);
    int fd = isbuild(name.c_str(), RL, &k, ISINOUT + ISEXCLLOCK);
    EXPECT_GE(fd, 0);
    keydesc a = char_key(4, 2, ISDUPS);
    EXPECT_EQ(isaddindex(fd, &a), 0);
    for (int i = 0; i < 3000; i++) {
      int j = (i * 7) % 3000;
      std::string r = rec_of(key4(j) + std::to_string(j % 37 + 10) + "data", RL);
      EXPECT_EQ(iswrite(fd, r.c_str()), 0);
    }
    for (int j = 1000; j < 2000; j++) EXPECT_EQ(isdelete(fd, rec_of(key4(j), RL).c_str()), 0);
    EXPECT_EQ(isclose(fd), 0);
  }
  std::string idx() const { return name + ".idx"; }
};

std::string slurp(const std::string &p) {
  std::string s;
  FILE *f = fopen(p.c_str(), "rb");
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

void spit(const std::string &p, const std::string &s) {
  FILE *f = fopen(p.c_str(), "wb");
  fwrite(s.data(), 1, s.size(), f);
  fclose(f);
}

uint32_t be32(const std::string &s, size_t at) {
  return isam::get32(reinterpret_cast<const unsigned char *>(s.data()) + at);
}
void set32(std::string &s, size_t at, uint32_t v) {
  isam::put32(reinterpret_cast<unsigned char *>(s.data()) + at, v);
}

// Reads the file through both indexes: the record numbers in each order;
// empty when a read fails.
struct walk {
  std::vector<long> prim, alt;
  long nrecords = -1;
};
walk walk_file(const std::string &name) {
  walk w;
  int fd = isopen(name.c_str(), ISINPUT + ISMANULOCK);
  if (fd < 0) return w;
  char b[RL];
  while (isread(fd, b, ISNEXT) == 0) w.prim.push_back(isrecnum);
  if (iserrno != EENDFILE) w.prim.clear();
  keydesc a = char_key(4, 2, ISDUPS);
  std::string prev;
  if (isstart(fd, &a, 0, b, ISFIRST) == 0)
    while (isread(fd, b, ISNEXT) == 0) {
      if (std::string(b + 4, 2) < prev) break;
      prev.assign(b + 4, 2);
      w.alt.push_back(isrecnum);
    }
  if (iserrno != EENDFILE) w.alt.clear();
  dictinfo di;
  if (isindexinfo(fd, &di, 0) == 0) w.nrecords = di.di_nrecords;
  isclose(fd);
  return w;
}

constexpr size_t NS = 4096, IX1 = 128, IX2 = 192;

struct dcase {
  const char *what;
  const char *says;  // part of the message naming the fault
  int lost;          // records the repair cannot keep
  void (*damage)(sample &);
};

const dcase cases[] = {
    {"broken link", "index 1", 0,
     [](sample &s) {
       std::string d = slurp(s.idx());
       uint32_t root = be32(d, IX1 + 56);
       size_t e1 = root * NS + 16 + 1 * 8 + 4;          // child of entry 1 (key 4 + number 4)
       set32(d, e1, be32(d, 52) ? be32(d, 52) : root);  // onto a free node
       spit(s.idx(), d);
     }},
    {"lost free-list node", "lost free-list node", 0,
     [](sample &s) {
       std::string d = slurp(s.idx());
       uint32_t head = be32(d, 52);
       set32(d, 52, be32(d, head * NS + 4));  // the list skips its first node
       spit(s.idx(), d);
     }},
    {"record missing from one index", "index 2: record", 0,
     [](sample &s) {
       std::string d = slurp(s.idx());
       uint32_t root = be32(d, IX2 + 56);
       uint32_t leaf = be32(d, root * NS + 16 + 4);  // child of entry 0 (key 2, dup 2, child)
       ASSERT_LT((leaf + 1) * NS, d.size() + 1);
       d[leaf * NS + 3] = char(d[leaf * NS + 3] - 1);  // the leaf forgets its last entry
       spit(s.idx(), d);
     }},
    {"key out of order", "out of order", 0,
     [](sample &s) {
       std::string d = slurp(s.idx());
       uint32_t root = be32(d, IX1 + 56);
       uint32_t leaf = be32(d, root * NS + 16 + 4);
       std::string a = d.substr(leaf * NS + 16, 8), b = d.substr(leaf * NS + 24, 8);
       d.replace(leaf * NS + 16, 8, b);
       d.replace(leaf * NS + 24, 8, a);
       spit(s.idx(), d);
     }},
    {"truncated index file", "index file is truncated", 0,
     [](sample &s) {
       std::string d = slurp(s.idx());
       d.resize(d.size() / 2);
       spit(s.idx(), d);
     }},
    {"truncated data file", "data file is truncated", 3,
     [](sample &s) {
       std::string d = slurp(s.name + ".dat");
       d.resize(d.size() - 3 * (RL + 1));
       spit(s.name + ".dat", d);
     }},
};

TEST(idxaudit, damage_found_named_and_repaired) {
  for (const dcase &c : cases) {
    sample s;
    walk before = walk_file(s.name);
    ASSERT_EQ(before.prim.size(), 2000u);
    result r = idxaudit("-n " + s.name);
    EXPECT_EQ(r.status, 0) << r.out;
    c.damage(s);
    r = idxaudit("-n " + s.name);
    EXPECT_EQ(r.status, 2) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(s.name + ": "), std::string::npos) << c.what << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.what << "\n" << r.out;
    r = idxaudit("-y " + s.name);
    EXPECT_EQ(r.status, 1) << c.what << "\n" << r.out;
    r = idxaudit("-n " + s.name);
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.out;
    walk after = walk_file(s.name);
    EXPECT_EQ(after.prim.size(), 2000u - size_t(c.lost)) << c.what;
    EXPECT_EQ(after.alt.size(), after.prim.size()) << c.what;
    EXPECT_EQ(after.nrecords, long(after.prim.size())) << c.what;
    // the repaired file takes writes that reuse the freed numbers
    int fd = isopen(s.name.c_str(), ISINOUT + ISMANULOCK);
    ASSERT_GE(fd, 0) << c.what;
    for (int j = 1000; j < 1010; j++) {
      ASSERT_EQ(iswrite(fd, rec_of(key4(j) + "99new", RL).c_str()), 0) << c.what;
      EXPECT_LE(isrecnum, 3000) << c.what;
    }
    isclose(fd);
    EXPECT_EQ(idxaudit("-n -q " + s.name).status, 0) << c.what;
  }
}

TEST(idxaudit, node_size_change_keeps_records_and_duplicate_order) {
  sample s;
  walk before = walk_file(s.name);
  for (const char *ns : {"512", "65536", "4096"}) {
    result r = idxaudit(std::string("-y -b ") + ns + " " + s.name);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(std::string("node size ") + ns), std::string::npos) << r.out;
    walk after = walk_file(s.name);
    EXPECT_EQ(after.prim, before.prim) << ns;
    EXPECT_EQ(after.alt, before.alt) << ns;  // duplicates in their order
    std::string d = slurp(s.idx());
    EXPECT_EQ(be32(d, 12), uint32_t(std::atoi(ns)));
    EXPECT_EQ(idxaudit("-n " + s.name).status, 0);
  }
  EXPECT_EQ(idxaudit("-y -b 1000 " + s.name).status, 3);  // not a power of two
  EXPECT_EQ(idxaudit("-y -b 256 " + s.name).status, 3);
}

// A key made again equal to a separator of its parent goes to the left
// child: sound, not out of order (the checker once said otherwise).
TEST(idxaudit, key_equal_to_a_separator_is_sound) {
  scratch_dir d;
  std::string name = d.file("sep");
  keydesc k = char_key(0, 4, ISNODUPS);
  int fd = isbuild(name.c_str(), RL, &k, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0);
  keydesc a = char_key(4, 2, ISDUPS);
  ASSERT_EQ(isaddindex(fd, &a), 0);
  for (int i = 0; i < 3000; i++) ASSERT_EQ(iswrite(fd, rec_of(key4(i) + "51", RL).c_str()), 0);
  for (int round = 0; round < 2; round++)
    for (int i = 0; i < 3000; i += 1 + round) {
      std::string r = rec_of(key4(i) + "51", RL);
      ASSERT_EQ(isdelete(fd, r.c_str()), 0);
      ASSERT_EQ(iswrite(fd, r.c_str()), 0);
    }
  ASSERT_EQ(isclose(fd), 0);
  result r = idxaudit("-n " + name);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(walk_file(name).prim.size(), 3000u);
}

TEST(idxaudit, lists_an_index) {
  sample s;
  result r = idxaudit("-n -l 2 " + s.name);
  EXPECT_EQ(r.status, 0);
  size_t lines = 0, quoted = 0;
  for (size_t p = 0; (p = r.out.find('\n', p)) != std::string::npos; p++) lines++;
  for (size_t p = 0; (p = r.out.find("  \"10\"", p)) != std::string::npos; p++) quoted++;
  EXPECT_EQ(lines, 2002u) << "heading, entries, verdict";
  EXPECT_GT(quoted, 40u);  // the duplicates of "10", each with its counter
  EXPECT_EQ(idxaudit("-n -l 3 " + s.name).out.find("no index 3") != std::string::npos, true);
}

// Another process has the file open: the check still runs (under the
// engine's locks); a repair is refused; an exclusive opener keeps
// idxaudit out, which says so.
TEST(idxaudit, files_in_use) {
  sample s;
  cases[3].damage(s);  // a key out of order
  for (int mode : {ISMANULOCK, ISEXCLLOCK}) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t p = fork();
    if (p == 0) {
      int fd = isopen(s.name.c_str(), ISINPUT + mode);
      char c = fd >= 0 ? 'o' : 'x';
      if (write(go[1], &c, 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    char c;
    ASSERT_EQ(read(go[0], &c, 1), 1);
    ASSERT_EQ(c, 'o');
    result r = idxaudit("-y " + s.name);
    if (mode == ISMANULOCK) {
      EXPECT_EQ(r.status, 2) << r.out;
      EXPECT_NE(r.out.find("other processes have the file open"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("out of order"), std::string::npos) << r.out;
    } else {
      EXPECT_EQ(r.status, 3) << r.out;
      EXPECT_NE(r.out.find("open exclusively by another process"), std::string::npos) << r.out;
    }
    kill(p, SIGKILL);
    waitpid(p, nullptr, 0);
    close(go[0]);
    close(go[1]);
  }
  EXPECT_EQ(idxaudit("-y " + s.name).status, 1);
}

TEST(idxaudit, usage_and_missing_files) {
  EXPECT_EQ(idxaudit("").status, 3);
  EXPECT_EQ(idxaudit("-y -n x").status, 3);
  EXPECT_EQ(idxaudit("-n -r x").status, 3);
  EXPECT_EQ(idxaudit("-l zero x").status, 3);
  scratch_dir d;
  result r = idxaudit("-n " + d.file("nothing"));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("cannot open"), std::string::npos);
  // answers read from the input: no answer is no
  sample s;
  cases[2].damage(s);
  EXPECT_EQ(idxaudit(s.name).status, 2);
  EXPECT_EQ(idxaudit(s.name + ".idx -y").status, 1);  // a suffix is allowed
}

}  // namespace
