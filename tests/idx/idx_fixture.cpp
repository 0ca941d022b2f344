// idx_fixture.cpp: the requests of the indexed-file tests.
#include "tests/idx/idx_fixture.h"

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "run/base/zsmsg.h"
#include "run/files/fm.h"
#include "run/files/txlog.h"

static std::string messages;

static void capture(const char *text) {
  messages += text;
}

void idx_fixture::SetUp() {
  files_fixture::SetUp();
  messages.clear();
  zsmsg_screen = capture;
}

void idx_fixture::TearDown() {
  files_fixture::TearDown();  // closes everything (a transaction is rolled back)
  islogclose();
  zsmsg_screen = nullptr;
}

std::string idx_fixture::said() {
  std::string s;
  s.swap(messages);
  return s;
}

int idx_fixture::make(const std::string &name, int klen, int dlen, int unit) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CREATE;
  cb.fm_filename = strdup(name.c_str());
  cb.fm_unit = int16_t(unit);
  cb.fm_org = 'I';
  cb.fm_rlen = size_t(dlen);
  cb.fm_keyd.k_flags = COMPRESS;
  cb.fm_keyd.k_nparts = 1;
  cb.fm_keyd.k_part[0] = keypart{0, short(klen), CHARTYPE};
  int r = fm(&cb);
  std::free(cb.fm_filename);
  return r;
}

int idx_fixture::put(int lfn, const std::string &key, const std::string &data, int lock,
                     char mode) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_SELECT;
  cb.fm_lfn = int16_t(lfn);
  int r = fm(&cb);
  if (r) return r;
  std::string k = key, d = data;
  cb.fm_opcode = FMOP_WRITE;
  cb.fm_key = reinterpret_cast<uint8_t *>(k.data());
  cb.fm_klen = k.size();
  cb.fm_data = reinterpret_cast<uint8_t *>(d.data());
  cb.fm_rlen = d.size();
  cb.fm_mode = mode;
  cb.fm_lock = char(lock);
  return fm(&cb);
}

int idx_fixture::get(int lfn, char mode, std::string *key, std::string *data, int lock,
                     size_t datalen) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_SELECT;
  cb.fm_lfn = int16_t(lfn);
  int r = fm(&cb);
  if (r) return r;
  const oftentry *e = &oftable[lfn - 1];
  char kbuf[200] = {};
  size_t klen = 40;
  if (mode == 'R' && key) {
    klen = key->size();
    std::memcpy(kbuf, key->data(), klen);
  }
  cb.fm_opcode = FMOP_READ;
  cb.fm_key = reinterpret_cast<uint8_t *>(kbuf);
  cb.fm_klen = klen;
  cb.fm_data = e->pkbuf + e->pklen;
  cb.fm_rlen = datalen ? datalen : e->prlen;
  cb.fm_mode = mode;
  cb.fm_lock = char(lock);
  r = fm(&cb);
  bool got = r == 0 || r == FE_RECLOCK;
  if (got && key) *key = std::string(kbuf, cb.fm_klen);
  if (data)
    *data = got ? std::string(reinterpret_cast<char *>(e->pkbuf + e->pklen), cb.fm_rlen) : "";
  return r;
}

std::string idx_fixture::data_of(int lfn, const std::string &key) {
  std::string k = key, d;
  int r = get(lfn, 'R', &k, &d);
  return r ? "<" + std::to_string(r) + ">" : d;
}

static std::string trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string idx_fixture::walk(int lfn, char mode) {
  std::string out;
  int r = rewind(lfn, mode);
  if (r) return "<" + std::to_string(r) + ">";
  for (;;) {
    std::string k, d;
    r = get(lfn, mode, &k, &d);
    if (r == FE_EOF) return out;
    if (r) return out + "<" + std::to_string(r) + ">";
    out += trim(k) + "=" + trim(d) + ";";
  }
}

int idx_fixture::add_index(int lfn, const std::vector<ipart> &parts, bool dups, int *knum) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_ADDINDEX;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_keyd.k_flags = short(COMPRESS + (dups ? ISDUPS : 0));
  for (const ipart &p : parts)
    cb.fm_keyd.k_part[cb.fm_keyd.k_nparts++] = keypart{short(p.start), short(p.len), CHARTYPE};
  int r = fm(&cb);
  if (knum) *knum = cb.fm_knum;
  return r;
}

int idx_fixture::del_index(int lfn, int knum, const std::vector<ipart> &parts) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_DELINDEX;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_knum = int16_t(knum);
  for (const ipart &p : parts)
    cb.fm_keyd.k_part[cb.fm_keyd.k_nparts++] = keypart{short(p.start), short(p.len), CHARTYPE};
  return fm(&cb);
}

int idx_fixture::rewind(int lfn, char mode, int knum, const std::vector<ipart> &parts) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_REWIND;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_mode = mode;
  cb.fm_knum = int16_t(knum);
  for (const ipart &p : parts)
    cb.fm_keyd.k_part[cb.fm_keyd.k_nparts++] = keypart{short(p.start), short(p.len), CHARTYPE};
  return fm(&cb);
}

int idx_fixture::begin(const std::vector<int> &units) {
  fm_txflag_clr(-1);
  for (int u : units) fm_txflag_set(u);
  int r = simple(FMOP_BEGIN, 0);
  fm_txflag_clr(-1);
  return r;
}

int idx_fixture::open_log() {
  return vxtxlogopen(at("tx.log").c_str());
}

// --- the other process -------------------------------------------------------

other_process::other_process(std::vector<std::function<int()>> steps) {
  int down[2], up[2];
  if (pipe(down) < 0 || pipe(up) < 0) return;
  fflush(nullptr);
  pid = fork();
  if (pid == 0) {
    close(down[1]);
    close(up[0]);
    char c;
    for (size_t i = 0; i < steps.size() && read(down[0], &c, 1) == 1; i++) {
      int r = steps[i]();
      if (write(up[1], &r, sizeof r) != sizeof r) break;
    }
    _exit(0);
  }
  close(down[0]);
  close(up[1]);
  to = down[1];
  from = up[0];
}

other_process::~other_process() {
  if (to >= 0) close(to);
  if (from >= 0) close(from);
  if (pid > 0) {
    int st;
    waitpid(pid, &st, 0);
  }
}

int other_process::next() {
  char c = 'n';
  int r;
  if (to < 0 || write(to, &c, 1) != 1 || read(from, &r, sizeof r) != sizeof r) return -1000;
  return r;
}
