// debuginfo.cpp: the debug information of the running program, read after
// a load in debug mode, and its save stacks for calls of programs and
// procedures.  Owns zdebug, debugging and zrpl.
#include "run/loader/debuginfo.h"

#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <new>

#include "run/base/runstate.h"
#include "run/base/zsmsg.h"

zdebug_state zdebug = {0, 0, {}, {}, -1};
int debugging;
int zrpl;

struct zdebug_stacks {
  std::vector<zdebug_state> saved;  // per program called with return
  std::vector<int> heads;           // current routines around procedure calls
};
static zdebug_stacks zds;

constexpr size_t ZDEBUG_STACK_START = 30;  // entries of a new save stack
constexpr size_t ZDEBUG_STACK_STEP = 10;   // entries added when it is full

static unsigned be16(const unsigned char *p) {
  return unsigned(p[0]) << 8 | p[1];
}

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
  zdebug.hp = -1;
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
  zdebug.hp = -1;
  if (::lseek(fd, off_t(zdebug.hdr.offset), SEEK_SET) < 0 || !read_routines(fd)) {
    cleanupd();
    return -1;
  }
  zdebug.db_info = 1;
  return 0;
}

static bool same_name(const std::string &a, const char *b, size_t n) {
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++)
    if (std::toupper((unsigned char)a[i]) != std::toupper((unsigned char)b[i])) return false;
  return true;
}

int findhead(int mode, uint32_t addr, const char *name, size_t n) {
  for (size_t i = 0; i < zdebug.routines.size(); i++) {
    const zdebug_routine &r = zdebug.routines[i];
    if (mode == 1 ? r.probg == addr : same_name(r.name, name, n)) return int(i);
  }
  return -1;
}

const zdebug_symbol *findsymbol(const char *name, size_t n, int r) {
  if (r == -2) r = zdebug.hp;
  if (r < 0 || size_t(r) >= zdebug.routines.size()) return nullptr;
  for (const zdebug_symbol &s : zdebug.routines[size_t(r)].symbols)
    if (same_name(s.name, name, n)) return &s;
  return nullptr;
}

void zdebug_enter(uint32_t addr) {
  int r = findhead(1, addr, nullptr, 0);
  if (r >= 0) zdebug.hp = r;
}

// grows a save stack in steps; an allocation failure ends the process
template <class T>
static void push_saved(std::vector<T> &stack, T &&v) {
  try {
    if (stack.capacity() == 0) stack.reserve(ZDEBUG_STACK_START);
    if (stack.size() == stack.capacity()) stack.reserve(stack.size() + ZDEBUG_STACK_STEP);
    stack.push_back(std::move(v));
  } catch (const std::bad_alloc &) {
    zsmsg("FATAL: Can't allocate debug stack\r\n");
    exitrun();
  }
}

void pushd() {
  push_saved(zds.saved, std::move(zdebug));
  zdebug = {0, 0, {}, {}, -1};
}

void popd(int mode) {
  if (mode == 1) {
    zds.saved.clear();
    return;
  }
  if (zds.saved.empty()) return;
  zdebug = std::move(zds.saved.back());
  zds.saved.pop_back();
}

void pushhp() {
  push_saved(zds.heads, int(zdebug.hp));
}

void pophp(int mode) {
  if (mode == 1) {
    zds.heads.clear();
    return;
  }
  if (zds.heads.empty()) return;
  zdebug.hp = zds.heads.back();
  zds.heads.pop_back();
}
