// idx_fixture.h: the file layer over a scratch directory (files_fixture)
// with short forms of the indexed-file requests, the messages written
// through zsmsg, and a second process that holds a record lock.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/files/files_fixture.h"

// A key part in the language's terms: start (-n key area, n data), length.
struct ipart {
  int start;
  int len;
};

struct idx_fixture : files_fixture {
  void SetUp() override;
  void TearDown() override;

  // messages written since the last call, then forgotten
  static std::string said();

  // ALLOCATE name: a key area of klen bytes and dlen data bytes
  int make(const std::string &name, int klen, int dlen, int unit = 1);
  int iopen(int lfn, const std::string &name, int opt, int unit = 1) {
    return open(lfn, name, 'I', opt, unit);
  }
  // WRITE: mode "S" a new record with key, "R" the held record
  int put(int lfn, const std::string &key, const std::string &data, int lock = 0, char mode = 'S');
  int rewrite(int lfn, const std::string &data, int lock = 0) {
    return put(lfn, "", data, lock, 'R');
  }
  // READ in mode (key given for "R"; for "S" and "P" key gets the key
  // read); data: the record's data when delivered.  datalen: the data
  // bytes the statement gave (a read by a key in the data), else all.
  int get(int lfn, char mode, std::string *key, std::string *data = nullptr, int lock = 0,
          size_t datalen = 0);
  // the data of the record with primary key key, or "<rc>" on failure
  std::string data_of(int lfn, const std::string &key);
  // every record's key and data in the current index, forward ("S") or
  // backward ("P") from the start, as "key=data;" items
  std::string walk(int lfn, char mode = 'S');
  int del(int lfn) { return simple(FMOP_DELETE, lfn); }
  int unlock(int lfn) { return simple(FMOP_UNLOCK, lfn); }
  int add_index(int lfn, const std::vector<ipart> &parts, bool dups, int *knum = nullptr);
  int del_index(int lfn, int knum, const std::vector<ipart> &parts = {});
  // REWIND in mode, on index knum, or on the index of the leading parts
  int rewind(int lfn, char mode = 'S', int knum = 0, const std::vector<ipart> &parts = {});
  // BEGIN with the units marked, COMMIT, ROLLBACK
  int begin(const std::vector<int> &units);
  int commit() { return simple(FMOP_COMMIT, 0); }
  int rollback() { return simple(FMOP_ROLLBACK, 0); }
  // opens the log dir/tx.log; 0 or the result of vxtxlogopen
  int open_log();
};

// A second process working on the same files: forked with its steps
// before this process opens them (so that it shares none of this
// process's descriptors), it runs one step each time it is told to and
// sends back the step's result; it ends with the object.
struct other_process {
  explicit other_process(std::vector<std::function<int()>> steps);
  ~other_process();
  // runs the next step over there; its result, or -1000 when it is gone
  int next();

 private:
  pid_t pid = -1;
  int to = -1, from = -1;
};
