// isam_bench.cpp: the indexed-file workload (insert in random key order,
// random keyed reads, a full scan, random rewrites, random deletes; a
// unique primary key and an alternate key with duplicates), run on our
// engine (opened exclusively, and opened shared with manual and with
// automatic record locks) and, as yardsticks, on SQLite (one transaction
// per step) and Berkeley DB when the build found them.  Prints operations
// per second (median of the runs) and the file sizes.  Then durable
// commits per second, with one and with 100 new records per transaction,
// on our engine and on SQLite in WAL mode with synchronous=FULL.
//
// usage: isam_bench DIR [N [RUNS]]
#include "bench/isam/isam_bench.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "isam/isam.h"

namespace ib {

const char *step_names[NSTEPS] = {"insert", "read", "scan", "rewrite", "delete"};

namespace {
struct minstd {
  uint64_t x = 12345;
  uint64_t next() { return x = x * 48271 % 2147483647; }
};
}  // namespace

workload make_workload(int n) {
  workload w;
  w.n = n;
  minstd g;
  auto shuffle = [&](std::vector<int> &a) {
    for (int j = n - 1; j >= 1; j--) std::swap(a[size_t(j)], a[g.next() % uint64_t(j + 1)]);
  };
  w.ins.resize(size_t(n));
  for (int i = 0; i < n; i++) w.ins[size_t(i)] = i + 1;
  shuffle(w.ins);
  int nr = n, nu = n / 4, nd = n / 4;
  for (int i = 0; i < nr; i++) w.rd.push_back(int(1 + g.next() % uint64_t(n)));
  for (int i = 0; i < nu; i++) w.rw.push_back(int(1 + g.next() % uint64_t(n)));
  std::vector<int> d(static_cast<size_t>(n), 0);
  for (int i = 0; i < n; i++) d[size_t(i)] = i + 1;
  shuffle(d);
  w.del.assign(d.begin(), d.begin() + nd);
  return w;
}

void key8(int k, char *out) {
  char b[16];
  snprintf(b, sizeof b, "%08d", k % 100000000);
  std::memcpy(out, b, 8);
}

void make_record(int k, char *r) {
  key8(k, r);
  key8(k % 1000, r + 8);
  std::memcpy(r + 16, "00000000", 8);
  for (int i = 0; i < 9; i++) std::memcpy(r + 24 + 8 * i, r, 8);
  std::memcpy(r + 96, r, 4);
}

long counter_of(const char *r) {
  return std::atol(std::string(r + 16, 8).c_str());
}

void bump_counter(char *r) {
  char b[16];
  snprintf(b, sizeof b, "%08ld", (counter_of(r) + 1) % 100000000);
  std::memcpy(r + 16, b, 8);
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double file_mb(const std::vector<std::string> &files) {
  double s = 0;
  for (auto &f : files) {
    struct stat st;
    if (stat(f.c_str(), &st) == 0) s += double(st.st_size);
  }
  return s / 1e6;
}

[[noreturn]] void die(const char *what, int code) {
  std::fprintf(stderr, "isam_bench: %s failed (%d)\n", what, code);
  std::exit(1);
}

}  // namespace ib

namespace {

using namespace ib;

// ---- our engine
result run_isam(const workload &w, const std::string &dir, int lockmode) {
  result res{};
  std::string name = dir + "/isam";
  std::vector<std::string> files{name + ".dat", name + ".idx"};
  iserase(name.c_str());
  keydesc pk, ak;
  std::memset(&pk, 0, sizeof pk);
  pk.k_nparts = 1;
  pk.k_part[0] = {0, 8, CHARTYPE};
  ak = pk;
  ak.k_flags = ISDUPS;
  ak.k_part[0].kp_start = 8;
  int fd = isbuild(name.c_str(), RECLEN, &pk, ISINOUT + ISEXCLLOCK);
  if (fd < 0 || isaddindex(fd, &ak) != 0) die("isbuild", iserrno);
  if (lockmode != ISEXCLLOCK) {
    isclose(fd);
    fd = isopen(name.c_str(), ISINOUT + lockmode);
    if (fd < 0) die("isopen", iserrno);
  }
  char r[RECLEN];
  double t = now();
  for (int k : w.ins) {
    make_record(k, r);
    if (iswrite(fd, r) != 0) die("iswrite", iserrno);
  }
  isflush(fd);
  res.secs[0] = now() - t;
  res.ops[0] = int(w.ins.size());
  res.mb_load = file_mb(files);

  t = now();
  for (int k : w.rd) {
    key8(k, r);
    if (isread(fd, r, ISEQUAL) != 0) die("isread", iserrno);
    char want[8];
    key8(k, want);
    if (std::memcmp(r, want, 8) != 0) die("key check", k);
  }
  isflush(fd);
  res.secs[1] = now() - t;
  res.ops[1] = int(w.rd.size());

  t = now();
  int n = 0;
  if (isstart(fd, &pk, 0, r, ISFIRST) != 0) die("isstart", iserrno);
  while (isread(fd, r, ISNEXT) == 0) n++;
  res.secs[2] = now() - t;
  res.ops[2] = n;

  t = now();
  for (int k : w.rw) {
    key8(k, r);
    if (isread(fd, r, ISEQUAL) != 0) die("isread", iserrno);
    bump_counter(r);
    if (isrewcurr(fd, r) != 0) die("isrewcurr", iserrno);
  }
  isflush(fd);
  res.secs[3] = now() - t;
  res.ops[3] = int(w.rw.size());

  t = now();
  for (int k : w.del) {
    key8(k, r);
    if (isdelete(fd, r) != 0) die("isdelete", iserrno);
  }
  isflush(fd);
  res.secs[4] = now() - t;
  res.ops[4] = int(w.del.size());

  // verification
  isstart(fd, &pk, 0, r, ISFIRST);
  std::string prev;
  res.ok = true;
  while (isread(fd, r, ISNEXT) == 0) {
    std::string k(r, 8);
    res.ok &= k > prev;
    prev = k;
    res.count++;
    res.sum += counter_of(r);
  }
  std::memcpy(r + 8, "00000007", 8);
  if (isstart(fd, &ak, 0, r, ISEQUAL) == 0)
    while (isread(fd, r, ISNEXT) == 0 && std::memcmp(r + 8, "00000007", 8) == 0) res.alt7++;
  isclose(fd);
  res.mb_end = file_mb(files);
  iserase(name.c_str());
  return res;
}

// Transactions of per new records on a shared file with the log, each
// committed (the log forced to disk); the seconds count of them took.
double commits_isam(int per, int count, const std::string &dir) {
  std::string name = dir + "/isamtx", log = dir + "/isamtx.log";
  iserase(name.c_str());
  unlink(log.c_str());
  keydesc pk, ak;
  std::memset(&pk, 0, sizeof pk);
  pk.k_nparts = 1;
  pk.k_part[0] = {0, 8, CHARTYPE};
  ak = pk;
  ak.k_flags = ISDUPS;
  ak.k_part[0].kp_start = 8;
  int fd = isbuild(name.c_str(), RECLEN, &pk, ISINOUT + ISEXCLLOCK);
  if (fd < 0 || isaddindex(fd, &ak) != 0 || isclose(fd) != 0) die("isbuild", iserrno);
  if (islogopen(log.c_str()) != 0) die("islogopen", iserrno);
  fd = isopen(name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  if (fd < 0) die("isopen", iserrno);
  char r[RECLEN];
  int k = 1;
  double t = now();
  for (int c = 0; c < count; c++) {
    if (isbegin() != 0) die("isbegin", iserrno);
    for (int i = 0; i < per; i++, k++) {
      make_record(k, r);
      if (iswrite(fd, r) != 0) die("iswrite", iserrno);
    }
    if (iscommit() != 0) die("iscommit", iserrno);
  }
  t = now() - t;
  isclose(fd);
  islogclose();
  iserase(name.c_str());
  unlink(log.c_str());
  return t;
}

void report_commits(const char *name, double (*fn)(int, int, const std::string &),
                    const std::string &dir, int runs) {
  std::printf("| %-22s", name);
  for (int per : {1, 100}) {
    int count = per == 1 ? 300 : 60;
    std::vector<double> t;
    for (int i = 0; i < runs; i++) t.push_back(fn(per, count, dir));
    std::sort(t.begin(), t.end());
    double med = t[t.size() / 2];
    std::printf("| %9.0f | %9.0f ", count / med, count * per / med);
  }
  std::printf("|\n");
  std::fflush(stdout);
}

void report(const char *name, std::vector<result> &runs) {
  std::printf("| %-22s", name);
  for (int s = 0; s < NSTEPS; s++) {
    std::vector<double> t;
    for (auto &r : runs) t.push_back(r.secs[s]);
    std::sort(t.begin(), t.end());
    double med = t[t.size() / 2];
    double ops = med > 0 ? runs[0].ops[s] / med : 0;
    if (ops >= 1e6)
      std::printf("| %7.2fM ", ops / 1e6);
    else
      std::printf("| %7.1fk ", ops / 1e3);
  }
  const result &r = runs[0];
  std::printf("| %6.1f | %6.1f | %ld/%ld/%ld%s |\n", r.mb_load, r.mb_end, r.count, r.sum, r.alt7,
              r.ok ? "" : " ORDER!");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: isam_bench DIR [N [RUNS]]\n");
    return 2;
  }
  std::string dir = argv[1];
  int n = argc > 2 ? std::atoi(argv[2]) : 200000;
  int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  const char *only = getenv("ISAM_BENCH_ONLY");
  workload w = make_workload(n);
  std::printf("N = %d, median of %d runs, operations per second\n\n", n, runs);
  std::printf("| %-22s", "engine");
  for (const char *s : step_names) std::printf("| %8s ", s);
  std::printf("| MB load | MB end | count/sum/alt7 |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  struct eng {
    const char *name;
    result (*fn)(const workload &, const std::string &);
  } engines[] = {
    {"quillon (exclusive)",
     [](const workload &x, const std::string &d) { return run_isam(x, d, ISEXCLLOCK); }},
    {"quillon (ISMANULOCK)",
     [](const workload &x, const std::string &d) { return run_isam(x, d, ISMANULOCK); }},
    {"quillon (ISAUTOLOCK)",
     [](const workload &x, const std::string &d) { return run_isam(x, d, ISAUTOLOCK); }},
#if QUILLON_PEER_SQLITE
    {"sqlite", run_sqlite},
#endif
#if QUILLON_PEER_BDB
    {"berkeley db", run_bdb},
#endif
  };
  for (auto &e : engines) {
    if (only && !std::strstr(e.name, only)) continue;
    std::vector<result> rs;
    for (int i = 0; i < runs; i++) rs.push_back(e.fn(w, dir));
    report(e.name, rs);
  }
  if (only && !std::strstr("commits", only)) return 0;
  std::printf("\nDurable commits (median of %d runs): commits and records per second\n\n", runs);
  std::printf("| %-22s| 1/tx: commits/s | records/s | 100/tx: commits/s | records/s |\n", "engine");
  std::printf("|---|---|---|---|---|\n");
  report_commits("quillon (log, fdatasync)", commits_isam, dir, runs);
#if QUILLON_PEER_SQLITE
  report_commits("sqlite (WAL, FULL)", commits_sqlite_wal, dir, runs);
#endif
  return 0;
}
