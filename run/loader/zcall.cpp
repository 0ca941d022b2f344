// zcall.cpp: the stack of saved programs and the parameters of a chain
// with return.  Owns zc.
//
// Argument list of the caller (in the saved image, the caller's address
// width): a chain of stack entries, the top one at the list offset that the
// call instruction gives; each entry's pointer word (below its link word)
// is the offset of the argument's descriptor.
//
// Parameter entry built on the called program's stack, per parameter:
//   [value copy]  only when the argument's data lies in the caller's
//                 program area (passed by value, copied back on return)
//   descriptor    the caller's type byte, the data address (the copy, or
//                 the caller's common-area address), dim1, dim2
//   pointer word  the descriptor's own offset
//   link word     the previous stkp
#include "run/loader/zcall.h"

#include <cstdlib>
#include <cstring>

#include "run/base/image.h"
#include "run/loader/debuginfo.h"
#include "run/loader/zload.h"

zcall_state zc;

uint64_t value_length(std::span<const uint8_t> d, int pcode_flag) {
  size_t a = pcode_flag ? 3 : 2;
  uint64_t dim1 = uint64_t(d[1 + a]) << 8 | d[2 + a];
  uint64_t dim2 = uint64_t(d[3 + a]) << 8 | d[4 + a];
  uint64_t len = (d[0] & DSC_STR) ? dim1 : (d[0] & DSC_ARR) ? dim1 * 8 : 8;
  return (d[0] & DSC_DIM2) ? len * dim2 : len;
}

void zpush(uint32_t csize) {
  std::span<uint8_t> area = zspan(zm.zrbas, csize);
  auto *r = static_cast<zload_rec *>(std::malloc(sizeof(zload_rec) + csize));
  if (!r) zraise(ERR_STACK);
  r->regs = zp;
  r->rcod2 = zrcod2;
  r->csize = csize;
  r->rst_n = zl.rst_count;
  r->image = reinterpret_cast<uint8_t *>(r + 1);
  std::memcpy(r->image, area.data(), csize);
  r->znext = zc.zstk_head;
  zc.zstk_head = r;
  zc.zstk_cnt++;
  pushd();
  zc.rchain_flag++;
}

void zpop() {
  zload_rec *r = zc.zstk_head;
  if (!r) zraise(103);
  zp = r->regs;
  zrcod2 = r->rcod2;  // the caller's armed handler survives the call
  zl.rst_count = r->rst_n;
  std::memcpy(zspan(zm.zrbas, r->csize).data(), r->image, r->csize);
  setPcodeVersion((zp.flags & ZF_24BIT) ? PCODE24BIT : PCODE16BIT);
  zc.zstk_head = r->znext;
  std::free(r);
  zc.zstk_cnt--;
  popd(0);
}

void zpush_error(int errcode) {
  zpop();
  zraise(errcode);
}

void zcleanup() {
  while (zload_rec *r = zc.zstk_head) {
    zc.zstk_head = r->znext;
    std::free(r);
  }
  zc.zstk_cnt = 0;
  popd(1);
}

// A view of the saved caller's image by image offsets; any access outside
// the saved area means the caller's argument list cannot be trusted.
struct saved_view {
  zload_rec *r;  // the saved caller
  int alen;      // the caller's address width

  bool has(uint64_t off, uint64_t len) const {
    return off >= zm.zrbas && off - zm.zrbas <= r->csize && len <= r->csize - (off - zm.zrbas);
  }
  uint8_t *at(uint64_t off, uint64_t len) const {
    if (!has(off, len)) zpush_error(ERR_BADCODE);
    return r->image + (off - zm.zrbas);
  }
  uint32_t addr(uint64_t off) const {
    const uint8_t *p = at(off, uint32_t(alen));
    return alen == 3 ? uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]
                     : uint32_t(p[0]) << 8 | p[1];
  }
  uint32_t dsc_len() const { return uint32_t(5 + alen); }
  // the argument descriptor's offset: one level of indirection is followed
  uint32_t resolve(uint32_t d) const {
    if (*at(d, dsc_len()) & DSC_IND) d = addr(d + 1);
    at(d, dsc_len());
    return d;
  }
  uint32_t data_addr(uint32_t d) const { return addr(d + 1); }
};

static saved_view caller_view() {
  zload_rec *r = zc.zstk_head;
  if (!r) zraise(103);
  return {r, (r->regs.flags & ZF_24BIT) ? 3 : 2};
}

// offsets of the caller's argument descriptors, first argument first
static void argument_descriptors(const saved_view &v, int n, uint32_t *out) {
  uint32_t link = zm.zrbas + v.r->csize - uint32_t(v.alen);
  for (int i = n - 1; i >= 0; i--) {
    out[i] = v.resolve(v.addr(link - uint32_t(v.alen)));
    link = v.addr(link);
  }
}

constexpr int ZMAXPARAM = 255;  // the count is one byte

void zpush_param(int n_param) {
  saved_view v = caller_view();
  if (zget1(zp.preg) != 'w') zpush_error(ERR_BADCODE);
  if (int(zget1(zp.preg + 1)) != n_param) zpush_error(ERR_ARGS);
  zp.preg += 2;
  if (n_param <= 0) return;
  if (n_param > ZMAXPARAM) zpush_error(ERR_ARGS);
  uint32_t args[ZMAXPARAM];
  argument_descriptors(v, n_param, args);

  uint32_t a = uint32_t(zw.adr_len), dl = uint32_t(zw.dsc_len);
  uint64_t need = 0;
  for (int i = n_param - 1; i >= 0; i--) {
    const uint8_t *cd = v.at(args[i], v.dsc_len());
    if ((zget1(zp.rdt + uint32_t(i) * dl) ^ cd[0]) & DSC_SHAPE) zpush_error(ERR_ARGS);
    need += 2 * a + dl;
    if (v.data_addr(args[i]) >= zm.zrbas) need += value_length({cd, v.dsc_len()}, v.alen == 3);
  }
  if (zp.stkp + need > zm.zrsck) zpush_error(ERR_STACK);

  for (int i = 0; i < n_param; i++) {
    const uint8_t *cd = v.at(args[i], v.dsc_len());
    uint32_t data = v.data_addr(args[i]);
    uint32_t pos = zp.stkp + a;
    if (data >= zm.zrbas) {
      uint64_t len = value_length({cd, v.dsc_len()}, v.alen == 3);
      const uint8_t *src = v.at(data, len);
      std::memcpy(zspan(pos, uint32_t(len)).data(), src, len);
      data = pos;
      pos += uint32_t(len);
    }
    zput1(pos, cd[0]);
    zputa(pos + 1, data);
    std::memcpy(zspan(pos + 1 + a, 4).data(), cd + 1 + v.alen, 4);
    zputa(pos + dl, pos);
    zputa(pos + dl + a, zp.stkp);
    zp.stkp = pos + dl + a;
  }
}

void zpop_param() {
  saved_view v = caller_view();
  uint32_t pc = v.r->regs.preg;
  int b = int(*v.at(pc - 1, 1));
  int n = b <= 1 ? 0 : b - 2;
  if (n == 0) return;
  uint32_t args[ZMAXPARAM];
  argument_descriptors(v, n, args);
  uint32_t a = uint32_t(zw.adr_len), dl = uint32_t(zw.dsc_len);
  uint32_t caller_stkp = v.r->regs.stkp;
  for (int i = n - 1; i >= 0; i--) {
    uint32_t formal = zp.rdt + uint32_t(i) * dl;
    uint32_t built = (zget1(formal) & DSC_IND) ? zgeta(formal + 1) : formal;
    uint8_t *cd = v.at(args[i], v.dsc_len());
    uint32_t data = v.data_addr(args[i]);
    if (args[i] < caller_stkp) {
      if ((cd[0] & DSC_STR) && !(cd[0] & DSC_PAD)) {
        uint32_t dim2 = zget2(built + 3 + a);
        cd[3 + v.alen] = uint8_t(dim2 >> 8);
        cd[4 + v.alen] = uint8_t(dim2);
      }
      if ((cd[0] & 0x10) && zgeta(built + 1) != zgeta(built + dl + a) + a) continue;
    }
    if (data >= zm.zrbas && data < caller_stkp) {
      uint64_t len = value_length({cd, v.dsc_len()}, v.alen == 3);
      uint8_t *dst = v.at(data, len);
      std::memcpy(dst, zspan(zgeta(built + 1), uint32_t(len)).data(), len);
    }
  }
}

static void copy_name(const char *src, char *dst, int *len) {
  size_t n = strnlen(src, ZPROGNAME_LEN);
  std::memcpy(dst, src, n);
  *len = int(n);
}

void zinfo_get(int index, char *p, int *len) {
  *len = 0;
  const zload_rec *r = zc.zstk_head;
  for (int i = 1; r && i < index; i++) r = r->znext;
  if (index >= 1 && r) copy_name(r->regs.chnm1, p, len);
}

void zinfo_save() {
  std::memset(zc.prognames, 0, sizeof zc.prognames);
  int i = 0;
  for (const zload_rec *r = zc.zstk_head; r && i < ZPROGNAMES; r = r->znext, i++)
    std::memcpy(zc.prognames[i], r->regs.chnm1, ZPROGNAME_LEN);
}

void zinfo_saved(int index, char *dst, int *len) {
  *len = 0;
  if (index >= 1 && index <= 15) copy_name(zc.prognames[index - 1], dst, len);
}
