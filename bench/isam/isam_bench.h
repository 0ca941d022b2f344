// isam_bench.h: the indexed-file workload shared by the benchmark's
// engines: our engine (isam_bench.cpp) and the yardsticks SQLite
// (isam_sqlite.cpp) and Berkeley DB (isam_bdb.cpp), each built only when
// its header and library are found.
#pragma once

#include <string>
#include <vector>

namespace ib {

constexpr int RECLEN = 100;
constexpr int NSTEPS = 5;
extern const char *step_names[NSTEPS];

struct workload {
  int n;
  std::vector<int> ins, rd, rw, del;
};

struct result {
  double secs[NSTEPS];
  int ops[NSTEPS];
  double mb_load, mb_end;
  long count, sum, alt7;
  bool ok;
};

workload make_workload(int n);
void key8(int k, char *out);
void make_record(int k, char *r);
long counter_of(const char *r);
void bump_counter(char *r);
double now();
double file_mb(const std::vector<std::string> &files);
[[noreturn]] void die(const char *what, int code);

result run_sqlite(const workload &w, const std::string &dir);
result run_bdb(const workload &w, const std::string &dir);

// Durable commits: count transactions of per new records each; returns
// the seconds they took.
double commits_sqlite_wal(int per, int count, const std::string &dir);

}  // namespace ib
