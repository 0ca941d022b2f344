// iskey.cpp: key descriptions and key values.
//
// A key value is stored in a byte-comparable form, so that every search
// and every tree comparison is a plain memcmp:
//   CHARTYPE    the bytes as they are
//   INTTYPE     2-byte big-endian integers with the sign bit flipped
//   LONGTYPE    4-byte big-endian integers with the sign bit flipped
//   FLOATTYPE,  machine floats and doubles turned into big-endian bit
//   DOUBLETYPE  patterns: sign bit flipped for positives, all bits
//               inverted for negatives
//   + ISDESC    every byte of the part inverted
#include "isam/isintern.h"

namespace isam {

static int type_size(int t) {
  switch (t) {
    case CHARTYPE:
      return 1;
    case INTTYPE:
      return 2;
    case LONGTYPE:
      return 4;
    case DOUBLETYPE:
      return int(sizeof(double));
    case FLOATTYPE:
      return int(sizeof(float));
    default:
      return 0;
  }
}

// 0 when k is a valid description for records of reclen bytes, else EBADKEY.
int key_check(const keydesc *k, int reclen, bool primary) {
  if (k->k_nparts < (primary ? 0 : 1) || k->k_nparts > NPARTS || (k->k_flags & ~0x1f) != 0)
    return EBADKEY;
  int total = 0;
  for (int i = 0; i < k->k_nparts; i++) {
    const keypart &p = k->k_part[i];
    int sz = type_size(p.kp_type & ~ISDESC);
    if ((p.kp_type & ~(ISDESC | 7)) != 0 || sz == 0 || p.kp_start < 0 || p.kp_leng < 1 ||
        p.kp_start + p.kp_leng > reclen || p.kp_leng % sz != 0)
      return EBADKEY;
    total += p.kp_leng;
  }
  return total > MAXKEYSIZE ? EBADKEY : 0;
}

void key_fill(is_index *ix, const keydesc *k) {
  std::memset(&ix->kd, 0, sizeof ix->kd);
  ix->kd.k_flags = k->k_flags;
  ix->kd.k_nparts = k->k_nparts;
  int total = 0;
  for (int i = 0; i < k->k_nparts; i++) {
    ix->kd.k_part[i] = k->k_part[i];
    total += k->k_part[i].kp_leng;
  }
  ix->kd.k_len = short(total);
  ix->keylen = total;
  ix->dupw = (k->k_flags & ISDUPS) && k->k_nparts > 0 ? (isdupsiz == 4 ? 4 : 2) : 0;
  ix->cmplen = ix->keylen + ix->dupw;
  ix->entlen = ix->cmplen + 4;
  ix->root = 0;
  ix->height = 0;
}

// True when a and b name the same parts (start, length and type, in order).
bool key_same_parts(const keydesc *a, const keydesc *b) {
  if (a->k_nparts != b->k_nparts) return false;
  for (int i = 0; i < a->k_nparts; i++) {
    const keypart &x = a->k_part[i], &y = b->k_part[i];
    if (x.kp_start != y.kp_start || x.kp_leng != y.kp_leng || x.kp_type != y.kp_type) return false;
  }
  return true;
}

static void number_part(unsigned char *out, const unsigned char *in, int len, int sz, int t) {
  for (int i = 0; i < len; i += sz) {
    if (t == INTTYPE || t == LONGTYPE) {
      std::memcpy(out + i, in + i, size_t(sz));
      out[i] ^= 0x80;
      continue;
    }
    uint64_t bits;
    if (t == DOUBLETYPE) {
      std::memcpy(&bits, in + i, 8);
    } else {
      uint32_t b32;
      std::memcpy(&b32, in + i, 4);
      bits = uint64_t(b32) << 32;
    }
    bits = (bits >> 63) ? ~bits : bits ^ (uint64_t{1} << 63);
    for (int j = 0; j < sz; j++) out[i + j] = uint8_t(bits >> (56 - 8 * j));
  }
}

// Builds the comparable key value of index ix from record rec.
void key_make(const is_index *ix, const unsigned char *rec, unsigned char *out) {
  for (int i = 0; i < ix->kd.k_nparts; i++) {
    const keypart &p = ix->kd.k_part[i];
    int t = p.kp_type & ~ISDESC;
    if (t == CHARTYPE)
      std::memcpy(out, rec + p.kp_start, size_t(p.kp_leng));
    else
      number_part(out, rec + p.kp_start, p.kp_leng, type_size(t), t);
    if (p.kp_type & ISDESC)
      for (int j = 0; j < p.kp_leng; j++) out[j] = uint8_t(~out[j]);
    out += p.kp_leng;
  }
}

}  // namespace isam
