// record_fuzz.cpp (target numeric_record_fuzz): the record format
// routines on arbitrary bytes: a length byte f and f bytes of format
// string, a length byte r and r bytes of record, then operations of one
// byte each (low two bits: 0 read a number, 1 write a number, 2 read a
// string into a variable, 3 write a string; the rest a size or an offset).
// The format string and the record are heap blocks of exactly their
// length, so that a read or write outside them is caught; the cursors must
// stay inside the record and the only errors are 62 and 63.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "run/base/image.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zfmt.h"
#include "run/numeric/zops.h"

namespace {

constexpr uint32_t VAR_DESC = 2000, VAR_DATA = 2100, VAR_CAP = 40;

int record_one(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  size_t f = data[0];
  if (size < 2 + f) return 0;
  char *fmt = static_cast<char *>(std::malloc(f ? f : 1));
  std::memcpy(fmt, data + 1, f);
  size_t r = data[1 + f];
  if (size < 2 + f + r) r = size - 2 - f;
  char *rec = static_cast<char *>(std::malloc(r ? r : 1));
  std::memcpy(rec, data + 2 + f, r);
  const uint8_t *ops = data + 2 + f + r;
  size_t nops = size - 2 - f - r;
  zrfsp = fmt;
  zrfsc = unsigned(f);
  zrfdp = rec;
  zrfdc = int(r);
  for (size_t i = 0; i < nops; i++) {
    int op = ops[i] & 3, arg = ops[i] >> 2;
    int err = 0;
    if (op == 0) {
      err = fmtnin();
    } else if (op == 1) {
      bcd_num n{};
      if (size >= 8) std::memcpy(&n, data + (size_t(arg) * 8) % (size - 7), 8);
      err = fmtnout(&n);
    } else if (op == 2) {
      uint8_t type = DSC_STR | DSC_ARR | (arg & 1 ? DSC_PAD : 0);
      zdesc_put(VAR_DESC, zdesc{type, VAR_DATA, VAR_CAP, 0});
      err = fmtsin(VAR_DESC, VAR_DATA, uint32_t(arg) % (VAR_CAP + 1));
      if (zdesc_get(VAR_DESC).dim2 > VAR_CAP) std::abort();
    } else {
      uint32_t len = uint32_t(arg) % (size + 1);
      err = fmtsout(reinterpret_cast<const char *>(data), len);
    }
    if (err != 0 && err != ERR_IODATA && err != ERR_IOFMT) std::abort();
    if (zrfdc < 0 || zrfdp < rec || zrfdp > rec + r) std::abort();
  }
  std::free(fmt);
  std::free(rec);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (zimage_alloc(16, 1, 0) != ZALLOC_OK) std::abort();
  setPcodeVersion(PCODE16BIT);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return record_one(data, size);
}
