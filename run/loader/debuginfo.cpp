// debuginfo.cpp: TEMPORARY stand-in for the debug-information reader of
// the command monitor: enough to take the marker record's header and read
// the routine and symbol records, so that loading with debug information
// works and can be checked.  Owns zdebug, debugging and zrpl.
#include "run/loader/debuginfo.h"

#include <cerrno>
#include <unistd.h>

zdebug_state zdebug;
int debugging;
int zrpl;

static unsigned be16(const unsigned char *p) { return unsigned(p[0]) << 8 | p[1]; }

void rdr(const unsigned char *p) {
  zdebug.hdr.offset = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  zdebug.hdr.n_routines = int16_t(be16(p + 4));
  zdebug.hdr.n_symbols = int16_t(be16(p + 6));
  zdebug.hdr.s_routine = uint16_t(be16(p + 8) - 3);
  zdebug.announced = 1;
}

void cleanupd() {
  zdebug.db_info = 0;
  zdebug.announced = 0;
  zdebug.routines.clear();
}

// reads exactly n bytes; false at end of file or on error
static bool readn(int fd, unsigned char *p, size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

// the zero-terminated name at p within the record's len bytes
static bool take_name(const unsigned char *p, size_t len, std::string &out) {
  for (size_t i = 0; i < len; i++)
    if (p[i] == 0) {
      out.assign(reinterpret_cast<const char *>(p), i);
      return true;
    }
  return false;
}

static bool read_symbol(int fd, zdebug_symbol &s) {
  unsigned char a, rec[256];
  if (!readn(fd, &a, 1) || a < 11 || !readn(fd, rec, a)) return false;
  s.loc = uint16_t(be16(rec));
  s.attr = uint16_t(be16(rec + 2));
  s.dim1 = uint16_t(be16(rec + 4));
  s.dim2 = uint16_t(be16(rec + 6));
  s.genus = rec[8];
  s.species = rec[9];
  return take_name(rec + 10, a - 10u, s.name);
}

static bool read_routines(int fd) {
  for (;;) {
    unsigned char tag[2], rec[256];
    if (!readn(fd, tag, 2) || tag[0] != 255) return false;
    if (tag[1] == 0) return true;
    if (tag[1] < 7 || !readn(fd, rec, tag[1])) return false;
    zdebug_routine r;
    r.varbg = uint16_t(be16(rec));
    r.probg = uint16_t(be16(rec + 2));
    r.symcnt = uint16_t(be16(rec + 4));
    if (!take_name(rec + 6, tag[1] - 6u, r.name)) return false;
    for (unsigned i = 0; i < r.symcnt; i++) {
      zdebug_symbol s;
      if (!read_symbol(fd, s)) return false;
      r.symbols.push_back(std::move(s));
    }
    zdebug.routines.push_back(std::move(r));
  }
}

int rdi(int fd) {
  zdebug.routines.clear();
  if (::lseek(fd, off_t(zdebug.hdr.offset), SEEK_SET) < 0 || !read_routines(fd)) {
    cleanupd();
    return -1;
  }
  zdebug.db_info = 1;
  return 0;
}
