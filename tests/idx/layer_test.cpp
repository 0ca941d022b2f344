// Indexed files through the file layer: reads in three directions with
// the end of file and keys not found, writes under the held record,
// indexes added, used and removed, the index status, record locks met in
// another process, transactions, and the error map of the engine.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/irec.h"
#include "run/files/qx.h"
#include "run/files/txlog.h"
#include "run/terminal/tcap.h"
#include "tests/idx/idx_fixture.h"

namespace {

using layer = idx_fixture;

std::string pad(const std::string &s, size_t n) {
  return s + std::string(n > s.size() ? n - s.size() : 0, ' ');
}

// the items of a walk in sorted order
std::string sorted(const std::string &walked) {
  std::vector<std::string> items;
  size_t at = 0;
  for (size_t semi; (semi = walked.find(';', at)) != std::string::npos; at = semi + 1)
    items.push_back(walked.substr(at, semi - at + 1));
  std::sort(items.begin(), items.end());
  std::string out;
  for (auto &i : items) out += i;
  return out;
}

TEST_F(layer, reads_forward_backward_and_by_key) {
  ASSERT_EQ(make("cust", 6, 10), 0);
  ASSERT_EQ(iopen(1, "cust", 0), 0);
  std::string k, d;
  EXPECT_EQ(get(1, 'S', &k, &d), FE_EOF);  // empty
  k = "A";
  EXPECT_EQ(get(1, 'R', &k, &d), FE_RNF);
  EXPECT_EQ(get(1, 'S', &k, &d), FE_EOF);
  for (auto [key, data] : {std::pair{"D", "dee"}, {"B", "bee"}, {"F", "eff"}})
    ASSERT_EQ(put(1, key, data), 0) << key;
  EXPECT_EQ(walk(1, 'S'), "B=bee;D=dee;F=eff;");
  EXPECT_EQ(walk(1, 'P'), "F=eff;D=dee;B=bee;");
  // after the end going forward, a backward read returns the last record
  ASSERT_EQ(walk(1, 'S'), "B=bee;D=dee;F=eff;");
  EXPECT_EQ(get(1, 'P', &k, &d), 0);
  EXPECT_EQ(k, pad("F", 6));
  // and after the start going backward, a forward read the first
  ASSERT_EQ(walk(1, 'P'), "F=eff;D=dee;B=bee;");
  EXPECT_EQ(get(1, 'S', &k, &d), 0);
  EXPECT_EQ(k, pad("B", 6));
  k = "D";
  ASSERT_EQ(get(1, 'R', &k, &d), 0);
  EXPECT_EQ(k, "D");  // as long as the key given
  EXPECT_EQ(d, pad("dee", 10));
  // a key not there: the next forward read gives the next greater record
  for (auto [miss, next] : {std::pair{"C", "D"}, {"A", "B"}, {"E", "F"}}) {
    k = miss;
    EXPECT_EQ(get(1, 'R', &k, &d), FE_RNF) << miss;
    EXPECT_EQ(get(1, 'S', &k, &d), 0) << miss;
    EXPECT_EQ(k, pad(next, 6)) << miss;
  }
  k = "Z";  // past the last: forward is the end, backward the last record
  EXPECT_EQ(get(1, 'R', &k, &d), FE_RNF);
  EXPECT_EQ(get(1, 'S', &k, &d), FE_EOF);
  EXPECT_EQ(get(1, 'P', &k, &d), 0);
  EXPECT_EQ(k, pad("F", 6));
  // a key longer than the key area may only go on with spaces
  k = "D        ";
  EXPECT_EQ(get(1, 'R', &k, &d), 0);
  k = "D     x";
  EXPECT_EQ(get(1, 'R', &k, &d), FE_RNF);
  EXPECT_EQ(get(1, 'X', &k, &d), FE_VALUE);
}

TEST_F(layer, writes_and_deletes_need_the_held_record) {
  ASSERT_EQ(make("cust", 6, 10), 0);
  ASSERT_EQ(iopen(1, "cust", 0), 0);
  ASSERT_EQ(put(1, "B", "bee"), 0);
  EXPECT_EQ(rewrite(1, "x"), FE_NOTHELD);
  EXPECT_EQ(del(1), FE_NOTHELD);
  std::string k = "B", d;
  ASSERT_EQ(get(1, 'R', &k, &d), 0);  // without the lock option: not held
  EXPECT_EQ(rewrite(1, "x"), FE_NOTHELD);
  ASSERT_EQ(get(1, 'R', &k, &d, 1), 0);
  EXPECT_EQ(rewrite(1, "bee2", 1), 0);  // still held
  EXPECT_EQ(rewrite(1, "bee3"), 0);     // lock option 0: let go
  EXPECT_EQ(rewrite(1, "bee4"), FE_NOTHELD);
  EXPECT_EQ(data_of(1, "B"), pad("bee3", 10));
  EXPECT_EQ(put(1, "B", "again"), FE_DUPKEY);
  EXPECT_EQ(put(1, "C123456", "c"), FE_BADKEY);  // beyond the key area
  EXPECT_EQ(put(1, "C     ", "0123456789x"), FE_RECLEN);
  EXPECT_EQ(put(1, "C", "c", 0, 'P'), FE_VALUE);
  // a new record written with the lock option is held at once
  ASSERT_EQ(put(1, "C", "cee", 1), 0);
  EXPECT_EQ(rewrite(1, "cee2"), 0);
  EXPECT_EQ(data_of(1, "C"), pad("cee2", 10));
  ASSERT_EQ(get(1, 'R', &(k = "B"), &d, 1), 0);
  EXPECT_EQ(del(1), 0);
  EXPECT_EQ(del(1), FE_NOTHELD);
  EXPECT_EQ(data_of(1, "B"), "<31>");
  EXPECT_EQ(walk(1), "C=cee2;");
  // an exclusive open holds what it reads without locks
  ASSERT_EQ(close(1), 0);
  ASSERT_EQ(iopen(1, "cust", 6), 0);
  ASSERT_EQ(get(1, 'R', &(k = "C"), &d, 1), 0);
  EXPECT_EQ(rewrite(1, "cee3"), 0);
  EXPECT_EQ(data_of(1, "C"), pad("cee3", 10));
  // the read-only option writes nothing
  ASSERT_EQ(close(1), 0);
  ASSERT_EQ(iopen(1, "cust", 1), 0);
  EXPECT_EQ(put(1, "D", "dee"), FE_NOWRITE);
  EXPECT_EQ(del(1), FE_NOWRITE);
}

// Records with a name (10 bytes) and a department (4 bytes) in the data.
void fill_staff(layer &t) {
  const char *rows[][3] = {{"0004", "Smith", "SALE"}, {"0001", "Jones", "PROD"},
                           {"0007", "Brown", "SALE"}, {"0002", "Smithers", "ADMN"},
                           {"0005", "Adams", "SALE"}, {"0003", "Young", "PROD"}};
  for (auto &r : rows) ASSERT_EQ(t.put(1, r[0], pad(r[1], 10) + r[2]), 0) << r[0];
}

// reads by a key in the data: the statement gives the data bytes that
// hold it (the first pass of a READ by such a key)
int get_by(layer &t, const std::string &prefix, std::string *key, std::string *data, int lock = 0) {
  const oftentry &e = oftable[0];
  std::memcpy(e.pkbuf + e.pklen, prefix.data(), prefix.size());
  *key = "";
  return t.get(1, 'R', key, data, lock, prefix.size());
}

TEST_F(layer, indexes_added_read_through_and_removed) {
  ASSERT_EQ(make("staff", 4, 20), 0);
  ASSERT_EQ(iopen(1, "staff", 0), 0);
  fill_staff(*this);
  EXPECT_EQ(add_index(1, {{1, 10}}, false), FE_ACCESS);  // needs the file alone
  ASSERT_EQ(close(1), 0);
  ASSERT_EQ(iopen(1, "staff", 2), 0);
  int name = 0, dept = 0, n = 0;
  ASSERT_EQ(add_index(1, {{1, 10}}, false, &name), 0);
  ASSERT_EQ(add_index(1, {{11, 4}}, true, &dept), 0);
  EXPECT_EQ(name, 2);
  EXPECT_EQ(dept, 3);
  // an index whose first part is another's: its own number comes back
  ASSERT_EQ(add_index(1, {{11, 4}, {1, 10}}, false, &n), 0);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(add_index(1, {{11, 4}}, true), FE_BADKEY);    // there already
  EXPECT_EQ(add_index(1, {{11, 4}}, false), FE_BADKEY);   // the same parts
  EXPECT_EQ(add_index(1, {{11, 3}}, false), FE_DUPKEY);   // "SAL" three times
  EXPECT_EQ(add_index(1, {{-5, 1}}, false), FE_BADKEY);   // before the key area
  EXPECT_EQ(add_index(1, {{15, 10}}, false), FE_BADKEY);  // past the record
  EXPECT_EQ(add_index(1, {{0, 2}}, false), FE_BADKEY);
  // read through the new indexes at once; duplicates in the order written
  ASSERT_EQ(rewind(1, 'S', dept), 0);
  EXPECT_EQ(walk(1, 'S'),
            "0002=Smithers  ADMN;0001=Jones     PROD;0003=Young     PROD;"
            "0004=Smith     SALE;0007=Brown     SALE;0005=Adams     SALE;");
  EXPECT_EQ(walk(1, 'P'),
            "0005=Adams     SALE;0007=Brown     SALE;0004=Smith     SALE;"
            "0003=Young     PROD;0001=Jones     PROD;0002=Smithers  ADMN;");
  std::string k, d;
  ASSERT_EQ(get_by(*this, pad("", 10) + "PROD", &k, &d), 0);
  EXPECT_EQ(k, "");  // the key area comes back as long as the key given
  EXPECT_EQ(d, pad("Jones", 10) + "PROD" + pad("", 6));
  EXPECT_EQ(get(1, 'S', &k, &d), 0);
  EXPECT_EQ(d.substr(0, 10), pad("Young", 10));
  EXPECT_EQ(get_by(*this, pad("", 10) + "MISC", &k, &d), FE_RNF);
  EXPECT_EQ(get(1, 'S', &k, &d), 0);  // the next greater department
  EXPECT_EQ(d.substr(0, 10), pad("Jones", 10));
  // positioned on a leading part of the name: a partial key
  ASSERT_EQ(rewind(1, 'S', 0, {{1, 5}}), 0);
  EXPECT_EQ(oftable[0].pknum, name);
  ASSERT_EQ(get_by(*this, "Smith", &k, &d), 0);
  EXPECT_EQ(d.substr(0, 10), pad("Smith", 10));
  EXPECT_EQ(get(1, 'S', &k, &d), 0);
  EXPECT_EQ(d.substr(0, 10), pad("Smithers", 10));
  EXPECT_EQ(rewind(1, 'S', 0, {{2, 5}}), FE_BADKEY);  // no index starts there
  EXPECT_EQ(rewind(1, 'S', 9), FE_BADKEY);
  // -1 is the key area's first byte; one before the area is 37
  ASSERT_EQ(rewind(1, 'S', 0, {{-1, 4}}), 0);
  EXPECT_EQ(oftable[0].pknum, 1);
  EXPECT_EQ(rewind(1, 'S', 0, {{-5, 4}}), FE_BADKEY);
  // removing: never the primary key; by number or by the parts
  ASSERT_EQ(rewind(1, 'S', dept), 0);
  EXPECT_EQ(del_index(1, 1), FE_PRIMKEY);
  EXPECT_EQ(del_index(1, 0, {{1, 9}}), FE_BADKEY);
  EXPECT_EQ(del_index(1, 7), FE_BADKEY);
  ASSERT_EQ(del_index(1, 0, {{1, 10}}), 0);  // the name: the department moves down
  EXPECT_EQ(oftable[0].pknum, 2);
  EXPECT_EQ(walk(1, 'S').substr(0, 20), "0002=Smithers  ADMN;");
  ASSERT_EQ(del_index(1, 2), 0);  // the current one: back to the primary key
  EXPECT_EQ(oftable[0].pknum, 1);
  EXPECT_EQ(get(1, 'S', &k, &d), 0);
  EXPECT_EQ(k, "0001");
}

// A new record written with the lock option is the one held, also when
// the current index has its key already: the rewrite changes it, not the
// first of the duplicates.
TEST_F(layer, the_record_written_is_the_one_held) {
  ASSERT_EQ(make("dup", 4, 8), 0);
  ASSERT_EQ(iopen(1, "dup", 2), 0);
  int alt = 0;
  ASSERT_EQ(add_index(1, {{1, 4}}, true, &alt), 0);
  ASSERT_EQ(put(1, "K001", "SAMEold1"), 0);
  ASSERT_EQ(rewind(1, 'S', alt), 0);
  ASSERT_EQ(put(1, "K002", "SAMEnew2", 1), 0);
  ASSERT_EQ(rewrite(1, "SAMEchg2"), 0);
  ASSERT_EQ(rewind(1, 'S', 1), 0);
  EXPECT_EQ(walk(1), "K001=SAMEold1;K002=SAMEchg2;");
}

TEST_F(layer, index_status) {
  ASSERT_EQ(make("staff", 4, 20), 0);
  ASSERT_EQ(iopen(1, "staff", 2), 0);
  fill_staff(*this);
  int dept = 0;
  ASSERT_EQ(add_index(1, {{11, 4}, {-2, 2}}, true, &dept), 0);
  ASSERT_EQ(rewind(1, 'S', dept), 0);
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_ISTAT;
  cb.fm_lfn = 1;
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(cb.fm_st[0], 6);  // records
  EXPECT_EQ(cb.fm_st[1], 2);  // indexes
  EXPECT_EQ(cb.fm_st[3], 2);  // the current one
  EXPECT_EQ(cb.fm_rlen, 20u);
  cb.fm_knum = int16_t(dept);
  ASSERT_EQ(fm(&cb), 0);
  EXPECT_EQ(cb.fm_klen, 4u);
  ASSERT_EQ(cb.fm_keyd.k_nparts, 2);
  EXPECT_EQ(cb.fm_keyd.k_part[0].kp_start, 14);  // record offsets
  EXPECT_EQ(cb.fm_keyd.k_part[1].kp_start, 1);
  EXPECT_TRUE(cb.fm_keyd.k_flags & ISDUPS);
  cb.fm_knum = 3;
  EXPECT_EQ(fm(&cb), FE_BADKEY);
}

// Another process holds record locks: its records are delivered with 23
// and the next read in that direction reads the same record again.
TEST_F(layer, records_locked_by_another_process) {
  ASSERT_EQ(make("cust", 4, 8), 0);
  ASSERT_EQ(iopen(1, "cust", 2), 0);
  for (const char *r : {"A001dupe", "A002dupe", "A003dupe", "A004solo"})
    ASSERT_EQ(put(1, std::string(r, 4), r + 4), 0);
  int alt = 0;
  ASSERT_EQ(add_index(1, {{1, 4}}, true, &alt), 0);
  ASSERT_EQ(close(1), 0);
  std::string ok, kk;
  other_process other({
      [&] { return iopen(1, "cust", 0); },
      [&] { return get(1, 'R', &(kk = "A002"), &ok, 1); },  // holds A002
      [&] { return unlock(1); },
      [&] { return get(1, 'R', &(kk = "A003"), &ok, 1); },  // holds A003
      [&] { return close(1); },
      [&] { return int(getpid() & 0x7FFF); },
  });
  ASSERT_EQ(iopen(1, "cust", 0), 0);
  ASSERT_EQ(other.next(), 0);
  ASSERT_EQ(other.next(), 0);
  std::string k = "A002", d;
  lk_pid = -1;
  EXPECT_EQ(get(1, 'R', &k, &d, 1), FE_RECLOCK);
  EXPECT_EQ(d, "dupe    ");  // delivered all the same
  EXPECT_NE(lk_pid, -1);
  EXPECT_EQ(oftable[0].plock, 0);
  EXPECT_EQ(rewrite(1, "mine"), FE_NOTHELD);
  EXPECT_EQ(get(1, 'R', &(k = "A002"), &d), FE_RECLOCK);  // without the lock option too
  EXPECT_EQ(get(1, 'R', &(k = "A001"), &d, 1), 0);
  // through the index with duplicates: the retry reads the same record
  ASSERT_EQ(rewind(1, 'S', alt), 0);
  ASSERT_EQ(get(1, 'S', &k, &d, 1), 0);
  EXPECT_EQ(k, "A001");
  EXPECT_EQ(get(1, 'S', &k, &d, 1), FE_RECLOCK);
  EXPECT_EQ(k, "A002");
  EXPECT_EQ(get(1, 'S', &k, &d, 1), FE_RECLOCK);  // still locked: the same
  EXPECT_EQ(k, "A002");
  ASSERT_EQ(other.next(), 0);  // let go
  EXPECT_EQ(get(1, 'S', &k, &d, 1), 0);
  EXPECT_EQ(k, "A002");
  EXPECT_EQ(oftable[0].plock, 1);
  ASSERT_EQ(other.next(), 0);  // the other one takes A003
  EXPECT_EQ(get(1, 'S', &k, &d, 1), FE_RECLOCK);
  EXPECT_EQ(k, "A003");
  // backward the same way
  EXPECT_EQ(get(1, 'P', &k, &d, 1), 0);
  EXPECT_EQ(k, "A002");
  ASSERT_EQ(other.next(), 0);  // the other one closes: A003 is free
  EXPECT_EQ(get(1, 'S', &k, &d, 1), 0);
  EXPECT_EQ(k, "A003");
  EXPECT_EQ(rewrite(1, "mine"), 0);
  EXPECT_EQ(data_of(1, "A003"), "mine    ");
  EXPECT_GT(other.next(), 0);
}

// A retry whose record went meanwhile reads on from where it was.
TEST_F(layer, a_locked_record_deleted_before_the_retry_is_passed) {
  ASSERT_EQ(make("cust", 4, 4), 0);
  ASSERT_EQ(iopen(1, "cust", 0), 0);
  for (const char *r : {"K001", "K002", "K003"}) ASSERT_EQ(put(1, r, "data"), 0);
  ASSERT_EQ(close(1), 0);
  std::string kk, dd;
  other_process other({
      [&] { return iopen(1, "cust", 0); },
      [&] { return get(1, 'R', &(kk = "K002"), &dd, 1); },
      [&] { return del(1); },
  });
  ASSERT_EQ(iopen(1, "cust", 0), 0);
  ASSERT_EQ(other.next(), 0);
  ASSERT_EQ(other.next(), 0);
  std::string k, d;
  ASSERT_EQ(get(1, 'S', &k, &d, 1), 0);
  EXPECT_EQ(get(1, 'S', &k, &d, 1), FE_RECLOCK);
  EXPECT_EQ(k, "K002");
  ASSERT_EQ(other.next(), 0);
  EXPECT_EQ(get(1, 'S', &k, &d, 1), 0);
  EXPECT_EQ(k, "K003");
}

TEST_F(layer, transactions_roll_back_in_every_index_and_commit) {
  ASSERT_EQ(make("acct", 4, 8), 0);
  ASSERT_EQ(make("other", 4, 4), 0);
  ASSERT_EQ(begin({1}), FE_VALUE);  // no log
  ASSERT_EQ(commit(), FE_VALUE);
  ASSERT_EQ(iopen(1, "acct", 2), 0);
  for (const char *r : {"0001aaaa0001", "0002bbbb0002", "0003aaaa0003"})
    ASSERT_EQ(put(1, std::string(r, 4), r + 4), 0);
  ASSERT_EQ(add_index(1, {{1, 4}}, true), 0);
  ASSERT_EQ(close(1), 0);
  std::string kk, dd;
  other_process other({
      [&] { return iopen(1, "acct", 1); },
      [&] {  // a record of the transaction: seen, and locked by it
        int r = get(1, 'R', &(kk = "0009"), &dd);
        return r == FE_RECLOCK && dd == "cccc0009" ? 1 : -r;
      },
      [&] { return get(1, 'R', &(kk = "0002"), &dd, 1); },
  });
  ASSERT_EQ(open_log(), 0);
  EXPECT_EQ(vx_txflag, 2);
  ASSERT_EQ(commit(), FE_VALUE);  // none begun
  ASSERT_EQ(iopen(1, "acct", 0), 0);
  ASSERT_EQ(iopen(2, "other", 0), 0);
  const std::string before1 = walk(1);
  ASSERT_EQ(rewind(1, 'S', 2), 0);
  const std::string before2 = walk(1);
  EXPECT_EQ(before2, "0001=aaaa0001;0003=aaaa0003;0002=bbbb0002;");
  ASSERT_EQ(begin({1}), 0);
  EXPECT_EQ(vx_txflag, 1);
  EXPECT_TRUE(oftable[0].op_mode & ISTRANS);
  EXPECT_EQ(oftable[0].pknum, 2);        // back at the start of its index
  EXPECT_EQ(put(2, "X", "x"), FE_INTX);  // a unit outside the transaction
  EXPECT_EQ(begin({1}), FE_VALUE);       // one at a time
  ASSERT_EQ(put(1, "0009", "cccc0009"), 0);
  std::string k = "0001", d;
  ASSERT_EQ(get(1, 'R', &(k = "0001"), &d, 1), 0);  // by the key of index 1 (current: 2)
  ASSERT_EQ(rewind(1, 'S', 1), 0);
  ASSERT_EQ(get(1, 'R', &(k = "0001"), &d, 1), 0);
  ASSERT_EQ(rewrite(1, "zzzz0001"), 0);
  ASSERT_EQ(get(1, 'R', &(k = "0003"), &d, 1), 0);
  ASSERT_EQ(del(1), 0);
  EXPECT_EQ(walk(1), "0001=zzzz0001;0002=bbbb0002;0009=cccc0009;");
  EXPECT_EQ(other.next(), 0);
  EXPECT_EQ(other.next(), 1);
  ASSERT_EQ(rollback(), 0);
  EXPECT_EQ(vx_txflag, 2);
  EXPECT_EQ(walk(1), before1);
  ASSERT_EQ(rewind(1, 'S', 2), 0);
  // the same records by the same keys (the order among duplicates after a
  // rollback is the engine's: engine_test.cpp)
  EXPECT_EQ(sorted(walk(1)), sorted(before2));
  // committed: stays, and the unit goes on outside a transaction
  ASSERT_EQ(begin({1}), 0);
  ASSERT_EQ(get(1, 'R', &(k = "0001"), &d, 1), 0);
  ASSERT_EQ(put(1, "0005", "dddd0005"), 0);
  ASSERT_EQ(get(1, 'R', &(k = "0002"), &d, 1), 0);  // held by the transaction
  ASSERT_EQ(commit(), 0);
  EXPECT_EQ(vx_txflag, 2);
  EXPECT_EQ(rewrite(1, "late"), FE_NOTHELD);  // the commit let it go
  EXPECT_EQ(other.next(), 0);                 // and the other process may lock it
  EXPECT_TRUE(oftable[0].op_mode & ISTRANS);
  EXPECT_EQ(data_of(1, "0005"), "dddd0005");
  ASSERT_EQ(put(1, "0006", "eeee0006"), 0);
  ASSERT_EQ(get(1, 'R', &(k = "0006"), &d, 1), 0);
  ASSERT_EQ(rewrite(1, "ffff0006"), 0);
  EXPECT_EQ(rollback(), FE_VALUE);
  EXPECT_EQ(data_of(1, "0006"), "ffff0006");
}

// A file built without key parts is in record-number order: a READ by key
// names the record by its number.
TEST_F(layer, a_file_without_key_parts_reads_by_record_number) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CREATE;
  cb.fm_filename = strdup("plain");
  cb.fm_unit = 1;
  cb.fm_org = 'I';
  cb.fm_rlen = 6;
  cb.fm_keyd.k_flags = COMPRESS;
  ASSERT_EQ(fm(&cb), 0);
  std::free(cb.fm_filename);
  ASSERT_EQ(iopen(1, "plain", 0), 0);
  for (const char *r : {"first", "second", "third"}) ASSERT_EQ(put(1, "", r), 0);
  EXPECT_EQ(walk(1), "=first;=second;=third;");
  auto by_number = [&](int64_t n, std::string *d) {
    fm_callblock rq = {};
    rq.fm_opcode = FMOP_READ;
    char key[4] = " ";
    rq.fm_key = reinterpret_cast<uint8_t *>(key);
    rq.fm_klen = 1;
    rq.fm_rlen = 6;
    rq.fm_mode = 'R';
    rq.fm_rnum = n;
    int r = select(1) ? -1 : fm(&rq);
    *d = r ? "" : std::string(reinterpret_cast<char *>(oftable[0].pkbuf), 6);
    return r;
  };
  std::string d;
  EXPECT_EQ(by_number(2, &d), 0);
  EXPECT_EQ(d, "second");
  EXPECT_EQ(by_number(0, &d), FE_NOTIDX);
  EXPECT_EQ(by_number(9, &d), FE_RNF);
}

// A unit-relative name with slashes names a file in a folder below the
// unit's: the open finds it where the create made it, a second create
// sees it, and it is not the file of the same base name in the unit.
TEST_F(layer, a_name_with_slashes_is_opened_where_it_was_made) {
  ASSERT_EQ(mkdir("unit1/sub", 0755), 0);
  ASSERT_EQ(mkdir("unit1/sub/deep", 0755), 0);
  ASSERT_EQ(mkdir("alias3/sub", 0755), 0);
  ASSERT_EQ(make("sub/cust", 4, 6), 0);
  EXPECT_GT(size_of("unit1/sub/cust.idx"), 0);
  EXPECT_EQ(make("sub/cust", 4, 6), FE_EXISTS);
  EXPECT_EQ(create("sub/cust", 'S'), FE_EXISTS);  // the base name is taken there
  ASSERT_EQ(make("cust", 4, 6), 0);
  ASSERT_EQ(make("sub/deep/cust", 4, 6), 0);
  ASSERT_EQ(make("sub/cust", 4, 6, 3), 0);
  ASSERT_EQ(iopen(1, "sub/cust", 0), 0);
  ASSERT_EQ(iopen(2, "cust", 0), 0);
  ASSERT_EQ(iopen(3, "sub/deep/cust", 0), 0);
  ASSERT_EQ(iopen(4, "sub/cust", 0, 3), 0);
  ASSERT_EQ(put(1, "K1", "in sub"), 0);
  ASSERT_EQ(put(3, "K1", "deeper"), 0);
  ASSERT_EQ(put(4, "K1", "alias"), 0);
  EXPECT_EQ(data_of(1, "K1"), "in sub");
  EXPECT_EQ(data_of(2, "K1"), "<" + std::to_string(FE_RNF) + ">");
  EXPECT_EQ(data_of(3, "K1"), "deeper");
  EXPECT_EQ(data_of(4, "K1"), "alias ");
  for (int lfn = 1; lfn <= 4; lfn++) ASSERT_EQ(close(lfn), 0);
  EXPECT_EQ(iopen(1, "sub/none", 0), FE_NOTFOUND);
  EXPECT_EQ(iopen(1, "nosub/cust", 0), FE_NODIR);
  EXPECT_EQ(make("nosub/cust", 4, 6), FE_NODIR);
  ASSERT_EQ(create("sub/notes", 'S'), 0);  // the other organisations too
  EXPECT_EQ(size_of("unit1/sub/notes.saa"), 0);
  EXPECT_EQ(open(1, "sub/notes", 'S', 0), 0);
}

TEST_F(layer, a_log_that_cannot_be_opened_is_reported) {
  EXPECT_EQ(vxtxlogopen(""), 0);  // none named: no transactions
  EXPECT_EQ(vx_txflag, 0);
  EXPECT_EQ(vxtxlogopen(at("none/tx.log").c_str()), 1);
  EXPECT_EQ(vx_txflag, 0);
  std::string m = said();
  EXPECT_NE(m.find("ISAM error 120: "), std::string::npos) << m;
  EXPECT_NE(m.find("Could not open VXTXLOG=" + at("none/tx.log") + "\n\r"), std::string::npos) << m;
}

TEST_F(layer, begin_checks_its_units) {
  ASSERT_EQ(make("a", 4, 4), 0);
  ASSERT_EQ(make("b", 4, 4), 0);
  ASSERT_EQ(create("s", 'S'), 0);
  ASSERT_EQ(open_log(), 0);
  ASSERT_EQ(iopen(1, "a", 0), 0);
  ASSERT_EQ(iopen(2, "a", 1), 0);
  ASSERT_EQ(open(3, "s", 'S', 0), 0);
  EXPECT_EQ(begin({1}), FE_LOCKED);  // the same file on two units
  EXPECT_EQ(begin({4}), FE_NOTOPEN);
  EXPECT_EQ(begin({3}), FE_NOTISAM);
  ASSERT_EQ(close(2), 0);
  ASSERT_EQ(begin({1}), 0);
  // opened during the transaction without logging: not for the next one
  ASSERT_EQ(iopen(2, "b", 200), 0);
  EXPECT_TRUE(oftable[1].op_mode & ISNOLOG);
  ASSERT_EQ(put(2, "K", "k"), 0);
  ASSERT_EQ(commit(), 0);
  EXPECT_EQ(begin({2}), FE_VALUE);
  EXPECT_EQ(begin({1}), 0);
  EXPECT_EQ(rollback(), 0);
}

// The engine's errors that the layer maps, each reached for real where a
// test can make the engine fail so.
TEST_F(layer, the_error_map) {
  struct row {
    int iserr, io;
    const char *msg;  // expected in the message; null: no message
  } rows[] = {
      {24, 35, "ISAM error 35\n\r"},
      {105, 35, nullptr},
      {28, 16, nullptr},
      {110, 16, nullptr},
      {100, 32, nullptr},
      {103, 37, nullptr},
      {108, 37, nullptr},
      {106, 14, nullptr},
      {107, 23, nullptr},
      {109, 38, nullptr},
      {116, 13, nullptr},
      {111, 111, "ISAM error 111: "},
      {13, 13, "ISAM error 13\n\r"},
  };
  for (const row &r : rows) {
    int got = -1;
    try {
      ierxit(r.iserr);
    } catch (const fm_exit &x) {
      got = x.number;
    }
    EXPECT_EQ(got, r.io) << r.iserr;
    std::string m = said();
    if (r.msg)
      EXPECT_NE(m.find(r.msg), std::string::npos) << r.iserr << ": " << m;
    else
      EXPECT_EQ(m, "") << r.iserr;
  }
  uint8_t normal = cf_code[CF_ATTR];
  cf_code[CF_ATTR] = 0xA7;  // the terminal's code of the normal attribute, as CF sets it
  ierrprt(111);
  cf_code[CF_ATTR] = normal;
  std::string m = said();
  EXPECT_EQ(m.substr(0, 19), "\r\n\xa7ISAM error 111: ");
  EXPECT_EQ(m.substr(m.size() - 2), "\n\r");

  // 109: the engine's first index, on a file opened without a primary key
  ASSERT_EQ(make("np", 4, 8), 0);
  ASSERT_EQ(iopen(1, "np", 102), 0);
  EXPECT_EQ(oftable[0].pkprim, -1);
  EXPECT_EQ(del_index(1, 1), FE_PRIMKEY);
  ASSERT_EQ(close(1), 0);
}

// A record whose key bytes no longer match its index entry: the engine
// finds the file damaged (105), which reads as 35.
TEST_F(layer, a_damaged_record_reads_as_35) {
  ASSERT_EQ(make("bad", 4, 4), 0);
  ASSERT_EQ(iopen(1, "bad", 2), 0);
  ASSERT_EQ(put(1, "K001", "data"), 0);
  ASSERT_EQ(put(1, "K002", "data"), 0);
  ASSERT_EQ(close(1), 0);
  {  // record 2 (slots of 8 bytes and a state byte) gets another key
    std::fstream f(at("unit1/bad.dat"), std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.good());
    f.seekp(9 + 3);
    f.put('9');
  }
  ASSERT_EQ(iopen(1, "bad", 0), 0);
  std::string k = "K002", d;
  EXPECT_EQ(get(1, 'R', &k, &d), FE_BADFILE);
  EXPECT_EQ(said(), "");
  EXPECT_EQ(data_of(1, "K001"), "data");
}

// Out of descriptors when the engine opens the file's journal for the
// first write: 35, after the message.  (In a child process, which uses up
// its descriptors.)
TEST_F(layer, too_many_open_files_reads_as_35) {
  ASSERT_EQ(make("t", 4, 4), 0);
  int r = in_child([&] {
    if (iopen(1, "t", 0)) return 90;
    while (dup(0) >= 0) {
    }
    int w = put(1, "K", "k");
    std::string m = said();
    return w == FE_BADFILE && m.find("ISAM error 35\n\r") != std::string::npos ? 0 : 92;
  });
  EXPECT_EQ(r, 0);
}

// A disk that fills up: the write that does not fit ends with 16, and
// every record written before it is there.
TEST_F(layer, a_full_disk_gives_16_and_keeps_the_records) {
  if (mount("tmpfs", at("unit2").c_str(), "tmpfs", 0, "size=6m") != 0)
    GTEST_SKIP() << "no tmpfs (mounting needs the super-user)";
  struct unmount {
    std::string at;
    ~unmount() { umount2(at.c_str(), MNT_DETACH); }
  } um{at("unit2")};
  ASSERT_EQ(make("f", 8, 200, 2), 0);
  ASSERT_EQ(iopen(1, "f", 0, 2), 0);
  int n = 0, r = 0;
  char key[16];
  while (n < 100000) {
    std::snprintf(key, sizeof key, "%08d", n);
    if ((r = put(1, key, std::string(200, 'x'))) != 0) break;
    n++;
  }
  EXPECT_EQ(r, FE_EOF);
  EXPECT_GT(n, 100);
  std::string all = walk(1);
  EXPECT_EQ(size_t(std::count(all.begin(), all.end(), ';')), size_t(n));
  EXPECT_EQ(close(1), 0);
}

}  // namespace
