// isam_sqlite.cpp: the indexed-file workload on SQLite, a yardstick
// for our engine; built only when its header and library are found.
#include "bench/isam/isam_bench.h"

#include <sqlite3.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>

namespace ib {

namespace {
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

}  // namespace

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

// SQLite in WAL mode with synchronous=FULL: every commit is on disk when
// it returns, as our engine's iscommit.
double commits_sqlite_wal(int per, int count, const std::string &dir) {
  std::string path = dir + "/sqlite_wal.db";
  for (const char *sfx : {"", "-wal", "-shm"}) unlink((path + sfx).c_str());
  sqlite3 *db;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) die("sqlite3_open", 0);
  sq(db, "PRAGMA journal_mode=WAL");
  sq(db, "PRAGMA synchronous=FULL");
  sq(db,
     "CREATE TABLE rec(k TEXT PRIMARY KEY NOT NULL, alt TEXT NOT NULL, cnt TEXT NOT NULL, "
     "fill TEXT NOT NULL) WITHOUT ROWID");
  sq(db, "CREATE INDEX rec_alt ON rec(alt)");
  sqlite3_stmt *ins = prep(db, "INSERT INTO rec VALUES(?,?,?,?)");
  char r[RECLEN];
  int k = 1;
  double t = now();
  for (int c = 0; c < count; c++) {
    sq(db, "BEGIN");
    for (int i = 0; i < per; i++, k++) {
      make_record(k, r);
      sqlite3_bind_text(ins, 1, r, 8, SQLITE_STATIC);
      sqlite3_bind_text(ins, 2, r + 8, 8, SQLITE_STATIC);
      sqlite3_bind_text(ins, 3, r + 16, 8, SQLITE_STATIC);
      sqlite3_bind_text(ins, 4, r + 24, 76, SQLITE_STATIC);
      if (sqlite3_step(ins) != SQLITE_DONE) die("insert", k);
      sqlite3_reset(ins);
    }
    sq(db, "COMMIT");
  }
  t = now() - t;
  sqlite3_finalize(ins);
  sqlite3_close(db);
  for (const char *sfx : {"", "-wal", "-shm"}) unlink((path + sfx).c_str());
  return t;
}

}  // namespace ib
