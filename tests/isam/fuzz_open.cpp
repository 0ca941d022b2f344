// fuzz_open.cpp: libFuzzer target: isopen and the reads, writes and deletes
// of a file pair whose bytes the fuzzer chose.  The input patches a valid
// file pair built once at start (so the fuzzer starts deep in the format):
//   byte 0: bit 0 = patch the data file instead of the index, bit 1 =
//           truncate the patched file at the first patch offset
//   then groups of 4 bytes: offset (3 bytes, big-endian) and a new byte.
// Any outcome but a crash, a sanitizer report or a hang is fine.
#include "isam/isam.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct fuzz_state {
  std::string dir, base, work;
  std::string idx, dat;  // the valid pair
};
fuzz_state fz;

std::string slurp(const std::string &p) {
  std::string s;
  int fd = open(p.c_str(), O_RDONLY);
  char buf[65536];
  ssize_t n;
  while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
  if (fd >= 0) close(fd);
  return s;
}

void spit(const std::string &p, const std::string &s) {
  int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || write(fd, s.data(), s.size()) != ssize_t(s.size())) abort();
  close(fd);
}

void remove_files() {
  for (const std::string &b : {fz.base, fz.work})
    for (const char *sfx : {".idx", ".dat"}) unlink((b + sfx).c_str());
  rmdir(fz.dir.c_str());
}

void make_base() {
  char tmpl[] = "/tmp/isamfuzz.XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  fz.dir = tmpl;
  fz.base = fz.dir + "/base";
  fz.work = fz.dir + "/work";
  atexit(remove_files);
  keydesc k;
  std::memset(&k, 0, sizeof k);
  k.k_nparts = 1;
  k.k_part[0] = {0, 6, CHARTYPE};
  int fd = isbuild(fz.base.c_str(), 24, &k, ISINOUT + ISEXCLLOCK);
  keydesc a = k;
  a.k_flags = ISDUPS;
  a.k_part[0] = {6, 2, CHARTYPE};
  if (fd < 0 || isaddindex(fd, &a) != 0) abort();
  char r[32];
  for (int i = 0; i < 900; i++) {
    snprintf(r, sizeof r, "%06d%02d%-16s", (i * 7919) % 100000, i % 13, "x");
    iswrite(fd, r);
  }
  for (int i = 0; i < 900; i += 7) isdelrec(fd, i + 1);
  isclose(fd);
  fz.idx = slurp(fz.base + ".idx");
  fz.dat = slurp(fz.base + ".dat");
}

void exercise(int fd) {
  char r[24];
  keydesc k;
  for (int n = 1; n <= 2; n++) {
    if (isindexinfo(fd, &k, n) != 0) break;
    isstart(fd, &k, 0, r, n == 1 ? ISFIRST : ISLAST);
    for (int i = 0; i < 1200 && isread(fd, r, n == 1 ? ISNEXT : ISPREV) == 0; i++) {
    }
  }
  std::memcpy(r, "012345", 6);
  isread(fd, r, ISGTEQ);
  isread(fd, r, ISNEXT + ISLOCK);
  std::memcpy(r, "99999999rewritten       ", 24);
  isrewcurr(fd, r);
  isdelcurr(fd);
  std::memcpy(r, "55555507written         ", 24);
  iswrite(fd, r);
  dictinfo di;
  isindexinfo(fd, &di, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (fz.dir.empty()) make_base();
  std::string idx = fz.idx, dat = fz.dat;
  if (size >= 1) {
    std::string &t = data[0] & 1 ? dat : idx;
    size_t cut = std::string::npos;
    for (size_t i = 1; i + 4 <= size; i += 4) {
      size_t off = size_t(data[i]) << 16 | size_t(data[i + 1]) << 8 | data[i + 2];
      if (cut == std::string::npos) cut = off;
      if (!t.empty()) t[off % t.size()] = char(data[i + 3]);
    }
    if ((data[0] & 2) && cut != std::string::npos) t.resize(cut % (t.size() + 1));
  }
  spit(fz.work + ".idx", idx);
  spit(fz.work + ".dat", dat);
  for (int mode : {ISINOUT + ISEXCLLOCK, ISINOUT + ISMANULOCK}) {
    int fd = isopen(fz.work.c_str(), mode);
    if (fd < 0) break;
    exercise(fd);
    isclose(fd);
  }
  return 0;
}
