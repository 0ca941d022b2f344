// zregex_fuzz.cpp (target numeric_zregex_fuzz): the pattern compiler and
// matcher on arbitrary bytes: a length byte p, p bytes of pattern, the
// rest the subject.  Pattern and subject are heap blocks of exactly their
// length, so that a read past either is caught; the result must be an
// error the compiler knows, no match, or a match inside the subject.
// With back-references a search may take a time of high polynomial
// degree in the subject's length, so a pattern with "\digit" gets at most
// SUBJECT_REF_MAX bytes of subject: the target looks for faults, not for
// slow searches.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "run/numeric/zregex.h"

static bool known_error(int e) {
  switch (e) {
    case ZRE_BIGNUM:
    case ZRE_NONUM:
    case ZRE_BADREF:
    case ZRE_BADESC:
    case ZRE_EMPTY:
    case ZRE_UNOPENED:
    case ZRE_NGROUPS:
    case ZRE_COMMAS:
    case ZRE_NOBRACE:
    case ZRE_ORDER:
    case ZRE_NOBRACKET:
    case ZRE_OVERFLOW:
      return true;
    default:
      return false;
  }
}

constexpr size_t SUBJECT_REF_MAX = 256;

static bool refers_back(const uint8_t *p, size_t n) {
  for (size_t i = 0; i + 1 < n; i++)
    if (p[i] == '\\' && p[i + 1] >= '1' && p[i + 1] <= '9') return true;
  return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t p = data[0];
  if (p > size - 1) p = size - 1;
  size_t s = size - 1 - p;
  if (s > SUBJECT_REF_MAX && refers_back(data + 1, p)) s = SUBJECT_REF_MAX;
  char *pattern = static_cast<char *>(std::malloc(p ? p : 1));
  char *subject = static_cast<char *>(std::malloc(s ? s : 1));
  std::memcpy(pattern, data + 1, p);
  std::memcpy(subject, data + 1 + p, s);
  int r = match(subject, int(s), pattern, int(p));
  if (r < 0 && !known_error(-r)) std::abort();
  if (r > 0) {
    if (zre.loc1 != subject + r - 1) std::abort();
    if (zre.loc2 < zre.loc1 || zre.loc2 > subject + s) std::abort();
  }
  std::free(pattern);
  std::free(subject);
  return 0;
}
