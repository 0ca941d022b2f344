// isam_bdb.cpp: the indexed-file workload on Berkeley DB 5.3, a yardstick
// for our engine; built only when its header and library are found.
#include "bench/isam/isam_bench.h"

#include <db.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>

namespace ib {

namespace {
// ---- Berkeley DB
int alt_of(DB *, const DBT *, const DBT *data, DBT *skey) {
  std::memset(skey, 0, sizeof *skey);
  skey->data = static_cast<char *>(data->data) + 8;
  skey->size = 8;
  return 0;
}

}  // namespace

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

}  // namespace ib
