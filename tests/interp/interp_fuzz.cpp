// interp_fuzz.cpp: libFuzzer target.  Each input becomes a well-formed,
// well-checksummed program file (variables block, routine block holding
// the code, main block) that the real loader reads; the program then runs
// under an instruction budget.  Whatever the bytes, the run must end in a
// result (0 or a runtime error number), never in a crash or a sanitizer
// report.  A program whose variables all lie in storage of their own runs
// a second time in the plain cycle (no cached stack entries, no joined
// instructions), and both runs must leave the same result and image.
//
// File statements run for real, inside a scratch directory that is the
// current directory: names that would leave it are refused, it is emptied
// before every run, and a line typed at the terminal is always empty.
//
// Input: byte 0 bit 0 24-bit p-code, bit 1 wide operand numbers; byte 1
// the number of descriptors (mod 48); then 3 bytes per descriptor (type,
// dim1, dim2); the rest is the code (at most 4000 bytes).
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/files/files.h"
#include "run/files/fsys.h"
#include "run/files/iostmt.h"
#include "run/files/zioc.h"
#include "run/interp/exec.h"
#include "run/intrin/intr.h"
#include "run/loader/zload.h"
#include "run/startup/startup.h"
#include "run/terminal/zinlin.h"

namespace {

std::string path;
std::string sandbox;  // the scratch directory of the file statements
constexpr uint32_t TABLE = 512;  // descriptors, operand numbers 2 to 513
bool comparable;                 // the last program's data cannot reach the stack

struct builder {
  int alen;
  std::vector<uint8_t> area;  // the program area image, from zrbas
  void put_addr(size_t at, uint32_t v) {
    for (int i = 0; i < alen; i++) area[at + size_t(i)] = uint8_t(v >> (8 * (alen - 1 - i)));
  }
};

// storage bytes a descriptor of this shape needs, kept small
uint32_t storage_of(uint8_t type, uint32_t d1, uint32_t d2) {
  uint32_t n = (type & 0x20) ? d1 : (type & 0x02) ? d1 * 8 : 8;
  if (type & 0x01) n *= d2 ? d2 : 1;
  return n > 1024 ? 1024 : n;
}

std::vector<uint8_t> program(const uint8_t *data, size_t size) {
  int pcode = (data[0] & 1) ? 130 : 129;
  bool wide = data[0] & 2;
  size_t nd = data[1] % 48;
  data += 2, size -= 2;
  if (nd * 3 > size) nd = size / 3;
  builder b{pcode == 130 ? 3 : 2, {}};
  comparable = !wide;
  uint32_t a = uint32_t(b.alen), dl = a + 5;
  // variables block: type, next, descriptor start and end, descriptors;
  // after the given ones the table is filled to every one-byte operand
  // number with numbers sharing one place, so that no operand number
  // reads a descriptor out of other bytes
  uint32_t ds = 1 + 3 * a, de = ds + TABLE * dl;
  b.area.assign(de + 8, 0);
  b.area[0] = 1;
  b.put_addr(1 + a, ds);
  b.put_addr(1 + 2 * a, de);
  for (size_t i = nd; i < TABLE; i++) b.put_addr(ds + i * dl + 1, de);
  uint32_t store = de + 8;
  for (size_t i = 0; i < nd; i++) {
    uint8_t type = data[3 * i];
    uint32_t d1 = data[3 * i + 1], d2 = data[3 * i + 2];
    // absolute, indirect and cut-short storage may reach the stack, whose
    // bytes differ between the two cycles (entries kept off the image)
    uint32_t full = (type & 0x20) ? d1 : (type & 0x02) ? d1 * 8 : 8;
    if (type & 0x01) full *= d2 ? d2 : 1;
    if ((type & 0x88) || full > 1024) comparable = false;
    size_t at = ds + i * dl;
    b.area[at] = type;
    uint32_t addr;
    if (type & 0x08)
      addr = ds + (d1 % nd) * dl;  // indirect: another descriptor
    else if (type & 0x80)
      addr = d1 << 8 | d2;  // absolute: anywhere
    else {
      addr = store;
      if (store < 16384) store += storage_of(type, d1, d2);  // later ones overlap
    }
    b.put_addr(at + 1, addr);
    b.area[at + 1 + a] = 0, b.area[at + 2 + a] = uint8_t(d1);
    b.area[at + 3 + a] = 0, b.area[at + 4 + a] = uint8_t(d2);
  }
  data += 3 * nd, size -= 3 * nd;
  if (size > 4000) size = 4000;
  // a descriptor bound to a stack entry reads the stack after it is gone
  for (size_t i = 0; i < size; i++)
    if ((data[i] & 0x7F) == 0x7D || (data[i] & 0x7F) == 0x7E) comparable = false;
  b.put_addr(1, store);
  b.area.resize(store, 0);
  // routine block: type 2, next, then the routine header and the code
  uint32_t rb = store, hdr = rb + 1 + a;
  uint32_t main = hdr + 6 * a + 1 + uint32_t(size) + 8 + 1024;  // room for strings run long
  b.area.resize(main, 0);
  b.area[rb] = 2;
  b.put_addr(rb + 1, main);
  b.put_addr(hdr, ds);
  std::memcpy(&b.area[hdr + 6 * a + 1], data, size);
  // main block with flags: code address, common, stack bottom
  b.area.resize(main + 3 + 2 * a + 2 + 12, 0);
  b.area[main] = 4;
  b.area[main + 2] = wide ? 1 : 0;
  b.put_addr(main + 3, hdr);
  // the records: 200 bytes each, then the closing record
  std::vector<uint8_t> file;
  int hl = a + 2;
  auto record = [&](uint32_t off, const uint8_t *p, size_t n) {
    size_t start = file.size();
    int count = int(hl + n);
    file.push_back(uint8_t(count));
    file.push_back(uint8_t(pcode));
    file.push_back(0);
    for (int i = 0; i < hl - 2; i++) file.push_back(uint8_t(off >> (8 * i)));
    file.insert(file.end(), p, p + n);
    unsigned sum = 0;
    for (size_t i = start; i < file.size(); i++) sum += file[i];
    for (unsigned c = 0; c < 256; c++) {  // the byte that folds the sum to 255
      unsigned t = sum + c;
      t = (t & 255) + (t >> 8);
      t = (t & 255) + (t >> 8);
      if (t == 255) {
        file[start + 2] = uint8_t(c);
        break;
      }
    }
  };
  for (uint32_t off = 0; off < b.area.size(); off += 200)
    record(off, &b.area[off], std::min<size_t>(200, b.area.size() - off));
  record(0, nullptr, 0);
  return file;
}

// names outside the scratch directory are refused
bool outside(const char *name) {
  return name[0] == '/' || std::strstr(name, "..") != nullptr;
}
DIR *sandbox_opendir(const char *name) {
  if (outside(name)) return errno = EACCES, nullptr;
  return opendir(name);
}
int sandbox_link(const char *from, const char *to) {
  if (outside(from) || outside(to)) return errno = EACCES, -1;
  return link(from, to);
}

// INPUT and READ from the terminal read an empty line
int empty_line(int) {
  zrlin[0] = 0;
  return 0;
}

// closes the program's files and removes what it created
void empty_sandbox() {
  zioc();
  DIR *d = opendir(".");
  if (!d) return;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.' || (e->d_name[1] && (e->d_name[1] != '.' || e->d_name[2])))
      unlink(e->d_name);
  closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char name[] = "/tmp/interp_fuzz_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) return 1;
  close(fd);
  path = name;
  run_hooks();
  nonstop = 1;
  zx_budget_for_test(5000);
  int null = open("/dev/null", O_RDWR);  // error reports go nowhere, INPUT reads nothing
  if (null < 0 || dup2(null, 1) < 0 || dup2(null, 0) < 0) return 1;
  close(null);
  char dir[] = "/tmp/interp_fuzz_files_XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
  sandbox = dir;
  fsys.opendir = sandbox_opendir;
  fsys.link = sandbox_link;
  io_readline = empty_line;
  intr_confine_for_test(true);  // no pauses, key waits, children or clock
  if (fm_alloc_oftable(4) != 0) return 1;
  return zimage_alloc(250, 1, 0) == ZALLOC_OK ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  std::vector<uint8_t> file = program(data, size);
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  auto run = [&](bool plain, int *result, uint32_t *bottom) {
    std::memset(zm.zu, 0, zm.size);  // a fresh image for every program
    empty_sandbox();
    zl.pcodeVersion = PCODE_NONE;
    if (zload(path.c_str(), 0, int(path.size()), 0) != ZL_OK) return false;
    *bottom = zp.stkp;
    zx_plain_for_test(plain);
    *result = execute(0, 0, 0);
    zx_plain_for_test(false);
    return true;
  };
  int r1, r2;
  uint32_t bottom, bottom2;
  if (!run(false, &r1, &bottom) || !comparable) return 0;
  std::vector<uint8_t> image(zm.zu, zm.zu + bottom);
  uint32_t preg = zp.preg;
  if (!run(true, &r2, &bottom2)) __builtin_trap();
  if (r1 != r2 || preg != zp.preg || std::memcmp(image.data(), zm.zu, bottom) != 0) {
    std::fprintf(stderr, "cycles differ: result %d / %d, preg %u / %u\n", r1, r2, preg, zp.preg);
    __builtin_trap();
  }
  return 0;
}
