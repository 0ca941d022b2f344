// zload.cpp: the program loader: name to path, records into the program
// area, relocation of the block chain, registers for the main routine.
// Owns zl; called by the monitor, the chain statements and the error
// program start.  Every field of the file is checked before it is used,
// so a damaged or hostile file ends in a loader result.
#include "run/loader/zload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "run/base/image.h"
#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/loader/debuginfo.h"
#include "run/loader/fbuf.h"
#include "run/loader/names.h"

zloader_state zl;

// the name: up to the first zero within npl, trailing blanks removed, cut
static void take_name(const char *np, int npl, char *name) {
  int n = 0;
  int lim = npl < ZL_NAME_MAX ? npl : ZL_NAME_MAX;
  while (n < lim && np[n]) n++;
  while (n > 0 && np[n - 1] == ' ') n--;
  if (n > VXPATH_MAX) n = VXPATH_MAX;
  std::memcpy(name, np, size_t(n));
  name[n] = 0;
}

// opens a regular file for reading; a directory, a pipe or a device is
// not a program file (and opening a pipe must not block)
static int open_retry(const char *path) {
  int fd = -1;
  for (int tries = 0; tries < 2; tries++) {
    fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) break;
  }
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

static void set_errfile(const char *path) {
  std::snprintf(errfile, sizeof errfile, "%s", path);
}

// builds the path (return-chain directory first when asked) and opens it
static int open_program(const char *name, unsigned unit, int isRchain) {
  if (isRchain) {
    fmbuildnm(name, unit, 1);
    fmfulnm(name);
    set_errfile(fullname);
    int fd = open_retry(fullname);
    if (fd >= 0) return fd;
  }
  fmbuildnm(name, unit, 0);
  fmfulnm(name);
  set_errfile(fullname);
  return open_retry(fullname);
}

static bool checksum_ok(const unsigned char *rec, int n) {
  unsigned s = unsigned(n);
  for (int i = 0; i < n; i++) s += rec[i];
  s = (s & 255) + (s >> 8);
  s = (s & 255) + (s >> 8);
  return s == 255;
}

// places one record (rec: its N bytes after the count); a loader result
static int place_record(const unsigned char *rec, int n) {
  if (n >= 5 && rec[2] == 0 && rec[3] == 0 && rec[4] == 6) {  // debug marker
    if (n < ZL_MARKER_LEN) return ZL_BADFILE;
    if (debugging) rdr(rec + 5);
    return ZL_OK;
  }
  if (n == zw.hdr_len) return ZL_OK;
  uint32_t off = rec[2] | uint32_t(rec[3]) << 8;
  if (zw.pcode24) off |= uint32_t(rec[4]) << 16;
  uint64_t target = uint64_t(zm.zrbas) + off;
  if (target + uint64_t(n) > uint64_t(zm.zrsck) - 256 || zm.zrsck < 256) {
    std::printf("\r\nbound=%llu, zrsck=%u\n\r", (unsigned long long)(target + uint64_t(n)),
                unsigned(zm.zrsck));
    std::fflush(stdout);
    return ZL_BOUND;
  }
  uint32_t len = uint32_t(n - zw.hdr_len);
  std::memcpy(zm.zu + target, rec + zw.hdr_len, len);
  if (off + len > zl.prog_end) zl.prog_end = off + len;
  return ZL_OK;
}

// reads every record up to the closing one; a loader result
static int read_records(int fd) {
  unsigned char first;
  if (fbread(fd, &first, 1) != 1) return ZL_BADFILE;
  int n = first;
  for (;;) {
    if (n <= 3) return ZL_BADFILE;
    int got = n + 1;
    const unsigned char *rec = fbread_p2(fd, &got);
    if (!rec || got < n) return ZL_BADFILE;
    if (zl.pcodeVersion == PCODE_NONE) {
      if (setPcodeVersion(rec[0])) return ZL_BADFILE;
      zl.pcodeVersion = rec[0];
      zl.null_addr = vx_compat ? zm.zrbas : zw.inv_offs;
    } else if (rec[0] != zl.pcodeVersion) {
      return ZL_BADFILE;
    }
    if (n < zw.hdr_len || !checksum_ok(rec, n)) return ZL_BADFILE;
    int r = place_record(rec, n);
    if (r) return r;
    if (n == zw.hdr_len) return ZL_OK;
    if (got == n) return ZL_BADFILE;  // ends without the closing record
    n = rec[n];
  }
}

// true when [rel, rel+len) of the program area lies below the stack limit
static bool in_area(uint64_t rel, uint64_t len) {
  return uint64_t(zm.zrbas) + rel + len <= zm.zrsck;
}

static uint32_t geta(uint32_t rel) {
  return zgeta(zm.zrbas + rel);
}

// relocates the descriptors of [ds, de) and clears the storage [de, next)
static int relocate_area(uint32_t ds, uint32_t de, uint32_t next) {
  for (uint32_t d = ds; d < de; d += uint32_t(zw.dsc_len)) {
    if (zget1(zm.zrbas + d) & DSC_ABS) continue;
    uint32_t v = geta(d + 1);
    if (v == 0) {
      v = zl.null_addr;
    } else {
      v += zm.zrbas;
      if (v >= zw.inv_offs) return ZL_BADFILE;
    }
    zputa(zm.zrbas + d + 1, v);
  }
  std::memset(zm.zu + zm.zrbas + de, 0, next - de);
  return ZL_OK;
}

// a type 1 block at pos: checks its fields, relocates; *next its successor
static int variables_block(uint32_t pos, uint32_t *next) {
  uint32_t a = uint32_t(zw.adr_len);
  if (!in_area(pos, 1 + 3 * a)) return ZL_NOMAIN;
  uint32_t nx = geta(pos + 1), ds = geta(pos + 1 + a), de = geta(pos + 1 + 2 * a);
  if (nx <= pos || !in_area(nx, 0)) return ZL_NOMAIN;
  if (ds < pos + 1 + 3 * a || ds > de || de > nx || (de - ds) % uint32_t(zw.dsc_len))
    return ZL_BADFILE;
  *next = nx;
  return relocate_area(ds, de, nx);
}

// the main header at h (after the type byte and flags); sets the registers
static int main_header(uint32_t h) {
  uint32_t a = uint32_t(zw.adr_len);
  uint32_t stack_at = zw.pcode24 ? 6 : 4;  // stack bottom bytes
  if (!in_area(h, stack_at + 2 * a)) return ZL_NOMAIN;
  uint32_t code = geta(h), common = zget2(zm.zrbas + h + a);
  if (common > zm.zrcln) return ZL_COMMON;
  if (!in_area(code, 6 * a + 2)) return ZL_BADFILE;
  uint32_t sb = zm.zrbas + h + stack_at;
  zputa(sb, FRAME_BOTTOM);
  zputa(sb + a, 0);
  zp.stkp = sb + a;
  zp.rcod = code;
  zp.rdt = zm.zrbas + geta(code);
  zp.preg = zm.zrbas + code + 6 * a + 1;
  zp.riss = 0;
  zrcod2 = 0;
  return ZL_OK;
}

// walks the block chain from zrbas; a loader result
static int relocate() {
  uint32_t pos = 0, a = uint32_t(zw.adr_len);
  zl.rst_count = 0;
  while (in_area(pos, 1) && zget1(zm.zrbas + pos) == 1) {
    uint32_t next;
    int r = variables_block(pos, &next);
    if (r) return r;
    pos = next;
  }
  if (in_area(pos, 1 + a) && (zget1(zm.zrbas + pos) == 2 || zget1(zm.zrbas + pos) == 3)) {
    uint32_t next = geta(pos + 1), table = pos + 1 + a;
    if (next < table || !in_area(next, 0)) return ZL_NOMAIN;
    zp.rst = zm.zrbas + table;
    zl.rst_count = (next - table) / a;
    pos = next;
  }
  if (!in_area(pos, 1)) return ZL_NOMAIN;
  uint32_t type = zget1(zm.zrbas + pos);
  if (type != 4 && type != 5) return ZL_NOMAIN;
  zp.flags = 0;
  if (type == 4) {
    if (!in_area(pos + 1, 2)) return ZL_NOMAIN;
    zp.flags = zget2(zm.zrbas + pos + 1);
    if (zp.flags > 3) return ZL_FLAGS;
  }
  // the register's width bit always tells the truth about the file
  zp.flags = (zp.flags & ~ZF_24BIT) | (zw.pcode24 ? ZF_24BIT : 0);
  return main_header(pos + (type == 4 ? 3 : 1));
}

static void set_chnm1(const char *name, unsigned unit) {
  if (fmqxu(name))
    std::snprintf(zp.chnm1, sizeof zp.chnm1, "%.63s/%u", vxbasename, unit);
  else
    std::snprintf(zp.chnm1, sizeof zp.chnm1, "%.69s", fullname);
}

// clears what the program before left in the program area (its bytes and
// its stack), so that a file which places nothing there cannot pass off
// the old program, relocated a second time, as its own
static void clear_old_program() {
  uint64_t hi = uint64_t(zm.zrbas) + zl.prog_end;
  if (zp.stkp > zm.zrbas) hi = std::max<uint64_t>(hi, uint64_t(zp.stkp) + 3);
  hi = std::min<uint64_t>(hi, zm.size);
  if (hi > zm.zrbas) std::memset(zm.zu + zm.zrbas, 0, size_t(hi - zm.zrbas));
}

// the records and the relocation of an open file; a loader result
static int load_open(int fd) {
  if (!zm.zu) return ZL_BOUND;
  clear_old_program();
  zp = zinfo{};
  zl.prog_end = 0;
  try {
    int r = read_records(fd);
    return r ? r : relocate();
  } catch (const zerror_jump &) {
    return ZL_BADFILE;  // every access is checked before; a last guard
  }
}

int zload(const char *np, unsigned unit, int npl, int isRchain) {
  zdebug.db_info = 0;
  zdebug.announced = 0;
  zrpl = 0;
  char name[VXPATH_MAX + 1];
  take_name(np, npl, name);
  int fd = open_program(name, unit, isRchain);
  if (fd < 0) return ZL_NOTFOUND;
  fbinit();
  int r = load_open(fd);
  if (r == ZL_OK && zdebug.announced && debugging && rdi(fd) != 0)
    zsmsg("CAN'T LOAD DEBUG INFORMATION\r\n");
  if (r == ZL_OK) {
    set_chnm1(name, unit);
    errfile[0] = 0;
  }
  ::close(fd);
  fbend();
  return r;
}

void nofind(int error, const char *pname) {
  char text[600];
  if (error == 9)
    std::snprintf(text, sizeof text, "%s: FILE NOT FOUND\r\n", pname);
  else if (error == 154)
    std::snprintf(text, sizeof text, "%s: INSUFFICIENT COMMON\r\n", pname);
  else
    std::snprintf(text, sizeof text, "%s: FATAL LOADER ERROR %d\r\n", pname, error);
  zsmsg(text);
}
