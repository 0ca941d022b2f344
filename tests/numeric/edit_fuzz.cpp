// edit_fuzz.cpp (target numeric_edit_fuzz): edit masks on arbitrary
// bytes: 8 bytes of a number, then the mask.  The mask and the output are
// heap blocks of exactly their length, so that a read or write outside
// them is caught; the length written must fit the mask, and the only
// error is the mask error.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "run/base/interp.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zedit.h"

namespace {

int edit_one(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  bcd_num n;
  std::memcpy(&n, data, 8);
  std::vector<char> mask(data + 8, data + size);
  std::vector<char> out(mask.size());
  fsns = mask.data();
  fsnl = unsigned(mask.size());
  try {
    int len = zedit(&n, out.data());
    if (len < 0 || size_t(len) > mask.size()) std::abort();
  } catch (const zerror_jump &e) {
    if (e.number != ERR_MASK) std::abort();
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return edit_one(data, size);
}
