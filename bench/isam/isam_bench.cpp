// isam_bench.cpp: the indexed-file workload (insert in random key order,
// random keyed reads, a full scan, random rewrites, random deletes; a
// unique primary key and an alternate key with duplicates), run on our
// engine (opened exclusively, and opened shared) and, as yardsticks, on
// SQLite and Berkeley DB.  Prints operations per second (median of the
// runs) and the file sizes.
//
// usage: isam_bench DIR [N [RUNS]]
#include "isam/isam.h"

#include <db.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int RECLEN = 100;
constexpr int NSTEPS = 5;
const char *step_names[NSTEPS] = {"insert", "read", "scan", "rewrite", "delete"};

struct workload {
  int n;
  std::vector<int> ins, rd, rw, del;
};

struct minstd {
  uint64_t x = 12345;
  uint64_t next() { return x = x * 48271 % 2147483647; }
};

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

struct result {
  double secs[NSTEPS];
  int ops[NSTEPS];
  double mb_load, mb_end;
  long count, sum, alt7;
  bool ok;
};

[[noreturn]] void die(const char *what, int code) {
  std::fprintf(stderr, "isam_bench: %s failed (%d)\n", what, code);
  std::exit(1);
}

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

// ---- SQLite
void sq(sqlite3 *db, const char *sql) {
  char *err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) die(err ? err : sql, 0);
}

sqlite3_stmt *prep(sqlite3 *db, const char *sql) {
  sqlite3_stmt *s;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) die(sql, 0);
  return s;
}

result run_sqlite(const workload &w, const std::string &dir) {
  result res{};
  std::string path = dir + "/sqlite.db";
  unlink(path.c_str());
  sqlite3 *db;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) die("sqlite3_open", 0);
  sq(db,
     "CREATE TABLE rec(k TEXT PRIMARY KEY NOT NULL, alt TEXT NOT NULL, cnt TEXT NOT NULL, "
     "fill TEXT NOT NULL) WITHOUT ROWID");
  sq(db, "CREATE INDEX rec_alt ON rec(alt)");
  sqlite3_stmt *ins = prep(db, "INSERT INTO rec VALUES(?,?,?,?)");
  sqlite3_stmt *get = prep(db, "SELECT k, alt, cnt, fill FROM rec WHERE k = ?");
  sqlite3_stmt *scan = prep(db, "SELECT k, alt, cnt, fill FROM rec ORDER BY k");
  sqlite3_stmt *upd = prep(db, "UPDATE rec SET cnt = ? WHERE k = ?");
  sqlite3_stmt *del = prep(db, "DELETE FROM rec WHERE k = ?");
  char r[RECLEN];
  auto bind_key = [&](sqlite3_stmt *s, int i, int k) {
    char kb[8];
    key8(k, kb);
    sqlite3_bind_text(s, i, kb, 8, SQLITE_TRANSIENT);
  };
  double t = now();
  sq(db, "BEGIN");
  for (int k : w.ins) {
    make_record(k, r);
    sqlite3_bind_text(ins, 1, r, 8, SQLITE_STATIC);
    sqlite3_bind_text(ins, 2, r + 8, 8, SQLITE_STATIC);
    sqlite3_bind_text(ins, 3, r + 16, 8, SQLITE_STATIC);
    sqlite3_bind_text(ins, 4, r + 24, 76, SQLITE_STATIC);
    if (sqlite3_step(ins) != SQLITE_DONE) die("insert", 0);
    sqlite3_reset(ins);
  }
  sq(db, "COMMIT");
  res.secs[0] = now() - t;
  res.ops[0] = int(w.ins.size());
  res.mb_load = file_mb({path});

  t = now();
  sq(db, "BEGIN");
  for (int k : w.rd) {
    bind_key(get, 1, k);
    if (sqlite3_step(get) != SQLITE_ROW) die("select", k);
    char want[8];
    key8(k, want);
    if (std::memcmp(sqlite3_column_text(get, 0), want, 8) != 0) die("key check", k);
    sqlite3_reset(get);
  }
  sq(db, "COMMIT");
  res.secs[1] = now() - t;
  res.ops[1] = int(w.rd.size());

  t = now();
  sq(db, "BEGIN");
  int n = 0;
  while (sqlite3_step(scan) == SQLITE_ROW) {  // every record is fetched
    std::memcpy(r, sqlite3_column_text(scan, 0), 8);
    std::memcpy(r + 8, sqlite3_column_text(scan, 1), 8);
    std::memcpy(r + 16, sqlite3_column_text(scan, 2), 8);
    std::memcpy(r + 24, sqlite3_column_text(scan, 3), 76);
    n++;
  }
  sqlite3_reset(scan);
  sq(db, "COMMIT");
  res.secs[2] = now() - t;
  res.ops[2] = n;

  t = now();
  sq(db, "BEGIN");
  for (int k : w.rw) {
    bind_key(get, 1, k);
    if (sqlite3_step(get) != SQLITE_ROW) die("select", k);
    std::memcpy(r + 16, sqlite3_column_text(get, 2), 8);
    sqlite3_reset(get);
    bump_counter(r);
    sqlite3_bind_text(upd, 1, r + 16, 8, SQLITE_STATIC);
    bind_key(upd, 2, k);
    if (sqlite3_step(upd) != SQLITE_DONE) die("update", k);
    sqlite3_reset(upd);
  }
  sq(db, "COMMIT");
  res.secs[3] = now() - t;
  res.ops[3] = int(w.rw.size());

  t = now();
  sq(db, "BEGIN");
  for (int k : w.del) {
    bind_key(del, 1, k);
    if (sqlite3_step(del) != SQLITE_DONE) die("delete", k);
    sqlite3_reset(del);
  }
  sq(db, "COMMIT");
  res.secs[4] = now() - t;
  res.ops[4] = int(w.del.size());

  res.ok = true;
  std::string prev;
  while (sqlite3_step(scan) == SQLITE_ROW) {
    std::string k(reinterpret_cast<const char *>(sqlite3_column_text(scan, 0)), 8);
    res.ok &= k > prev;
    prev = k;
    res.count++;
    res.sum += std::atol(reinterpret_cast<const char *>(sqlite3_column_text(scan, 2)));
  }
  sqlite3_reset(scan);
  sqlite3_stmt *c7 = prep(db, "SELECT count(*) FROM rec WHERE alt = '00000007'");
  if (sqlite3_step(c7) == SQLITE_ROW) res.alt7 = sqlite3_column_int(c7, 0);
  for (sqlite3_stmt *s : {ins, get, scan, upd, del, c7}) sqlite3_finalize(s);
  sqlite3_close(db);
  res.mb_end = file_mb({path});
  unlink(path.c_str());
  return res;
}

// ---- Berkeley DB
int alt_of(DB *, const DBT *, const DBT *data, DBT *skey) {
  std::memset(skey, 0, sizeof *skey);
  skey->data = static_cast<char *>(data->data) + 8;
  skey->size = 8;
  return 0;
}

result run_bdb(const workload &w, const std::string &dir) {
  result res{};
  std::string p1 = dir + "/bdb.db", p2 = dir + "/bdb_alt.db";
  unlink(p1.c_str());
  unlink(p2.c_str());
  DB *db, *alt;
  if (db_create(&db, nullptr, 0) ||
      db->open(db, nullptr, p1.c_str(), nullptr, DB_BTREE, DB_CREATE, 0644))
    die("bdb open", 0);
  if (db_create(&alt, nullptr, 0) || alt->set_flags(alt, DB_DUP | DB_DUPSORT) ||
      alt->open(alt, nullptr, p2.c_str(), nullptr, DB_BTREE, DB_CREATE, 0644) ||
      db->associate(db, nullptr, alt, alt_of, 0))
    die("bdb secondary", 0);
  char r[RECLEN], kb[8];
  DBT key, data;
  auto setk = [&](int k) {
    key8(k, kb);
    std::memset(&key, 0, sizeof key);
    key.data = kb;
    key.size = 8;
  };
  auto setd = [&]() {
    std::memset(&data, 0, sizeof data);
    data.data = r;
    data.size = RECLEN;
    data.ulen = RECLEN;
    data.flags = DB_DBT_USERMEM;
  };
  double t = now();
  for (int k : w.ins) {
    make_record(k, r);
    setk(k);
    setd();
    if (db->put(db, nullptr, &key, &data, 0)) die("bdb put", k);
  }
  db->sync(db, 0);
  alt->sync(alt, 0);
  res.secs[0] = now() - t;
  res.ops[0] = int(w.ins.size());
  res.mb_load = file_mb({p1, p2});

  t = now();
  for (int k : w.rd) {
    setk(k);
    setd();
    if (db->get(db, nullptr, &key, &data, 0)) die("bdb get", k);
    if (std::memcmp(r, kb, 8) != 0) die("key check", k);
  }
  res.secs[1] = now() - t;
  res.ops[1] = int(w.rd.size());

  t = now();
  int n = 0;
  DBC *cur;
  db->cursor(db, nullptr, &cur, 0);
  std::memset(&key, 0, sizeof key);
  setd();
  while (cur->get(cur, &key, &data, DB_NEXT) == 0) n++;
  cur->close(cur);
  res.secs[2] = now() - t;
  res.ops[2] = n;

  t = now();
  for (int k : w.rw) {
    setk(k);
    setd();
    if (db->get(db, nullptr, &key, &data, 0)) die("bdb get", k);
    bump_counter(r);
    if (db->put(db, nullptr, &key, &data, 0)) die("bdb put", k);
  }
  db->sync(db, 0);
  alt->sync(alt, 0);
  res.secs[3] = now() - t;
  res.ops[3] = int(w.rw.size());

  t = now();
  for (int k : w.del) {
    setk(k);
    if (db->del(db, nullptr, &key, 0)) die("bdb del", k);
  }
  db->sync(db, 0);
  alt->sync(alt, 0);
  res.secs[4] = now() - t;
  res.ops[4] = int(w.del.size());

  res.ok = true;
  std::string prev;
  db->cursor(db, nullptr, &cur, 0);
  std::memset(&key, 0, sizeof key);
  setd();
  while (cur->get(cur, &key, &data, DB_NEXT) == 0) {
    std::string k(r, 8);
    res.ok &= k > prev;
    prev = k;
    res.count++;
    res.sum += counter_of(r);
  }
  cur->close(cur);
  DBC *ac;
  alt->cursor(alt, nullptr, &ac, 0);
  char a7[9] = "00000007";
  DBT ak;
  std::memset(&ak, 0, sizeof ak);
  ak.data = a7;
  ak.size = 8;
  setd();
  for (int rc = ac->get(ac, &ak, &data, DB_SET); rc == 0; rc = ac->get(ac, &ak, &data, DB_NEXT_DUP))
    res.alt7++;
  ac->close(ac);
  alt->close(alt, 0);
  db->close(db, 0);
  res.mb_end = file_mb({p1, p2});
  unlink(p1.c_str());
  unlink(p2.c_str());
  return res;
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
      {"sqlite", run_sqlite},
      {"berkeley db", run_bdb},
  };
  for (auto &e : engines) {
    if (only && !std::strstr(e.name, only)) continue;
    std::vector<result> rs;
    for (int i = 0; i < runs; i++) rs.push_back(e.fn(w, dir));
    report(e.name, rs);
  }
  return 0;
}
