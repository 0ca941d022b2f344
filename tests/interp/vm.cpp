// vm.cpp: the program builder of the interpreter tests.
#include "tests/interp/vm.h"

#include <cstring>
#include <stdexcept>

#include "run/base/image.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zops.h"
#include "run/startup/startup.h"

static int alen_of(int pcode) {
  return pcode == 130 ? 3 : 2;
}

int vm_prog::raw(uint8_t type, uint32_t a, uint32_t d1, uint32_t d2) {
  descs.push_back({type, a, d1, d2});
  return int(descs.size() - 1);
}

static uint32_t take(vm_prog &p, uint32_t n) {
  uint32_t a = p.data_used;
  p.data_used += n;
  if (p.data_used > VM_STACK - VM_DATA) throw std::runtime_error("vm: out of data space");
  return a;
}

int vm_prog::num() {
  return raw(0, take(*this, 8), 0, 0);
}

int vm_prog::num_array(uint32_t d1, uint32_t d2) {
  uint32_t n = d1 * (d2 ? d2 : 1) * 8;
  return raw(d2 ? 0x03 : 0x02, take(*this, n), d1, d2);
}

int vm_prog::str(uint32_t cap, bool padded) {
  return raw(uint8_t(0x22 | (padded ? 0x40 : 0)), take(*this, cap), cap, padded ? cap : 0);
}

int vm_prog::str_array(uint32_t elen, uint32_t count, bool padded) {
  return raw(uint8_t(0x23 | (padded ? 0x40 : 0)), take(*this, elen * count), elen, count);
}

void vm_prog::op(std::initializer_list<int> bytes) {
  for (int b : bytes) code.push_back(uint8_t(b));
}

void vm_prog::opnd(int i) {
  if (!wide) {
    if (i < 254)
      op({i + 2});
    else
      op({1, i - 254});
  } else if (i < 253) {
    op({i + 3});
  } else if (i < 509) {
    op({1, i - 253});
  } else {
    op({2, (i - 509) >> 8, (i - 509) & 255});
  }
}

void vm_prog::at(int opcode, int index) {
  op({opcode});
  opnd(index);
}

void vm_prog::addr(uint32_t a) {
  if (alen_of(pcode) == 3) op({int(a >> 16) & 255});
  op({int(a >> 8) & 255, int(a) & 255});
}

void vm_prog::jump_long(int opcode, size_t target) {
  op({opcode});
  addr(uint32_t(target) + 6 * alen_of(pcode) + 1);
}

void vm_prog::patch_long(size_t at_byte, size_t target) {
  uint32_t a = uint32_t(target) + 6 * alen_of(pcode) + 1;
  int n = alen_of(pcode);
  for (int i = 0; i < n; i++) code[at_byte + 1 + i] = uint8_t(a >> (8 * (n - 1 - i)));
}

void vm_prog::lit(const char *text) {
  bcd_num n = vm_bcd(text);
  int last = 7;
  while (last > 0 && n.dig[last - 1] == 0) last--;
  op({70, last + 1});
  for (int i = 0; i < last; i++) op({n.dig[i]});
  op({n.exp});
}

void vm_prog::slit(const std::string &s) {
  op({80, int(s.size())});
  for (char c : s) op({(unsigned char)c});
}

void vm_load(const vm_prog &p) {
  run_hooks();
  if (zimage_alloc(300, 1, 0) != ZALLOC_OK) throw std::runtime_error("vm: no image");
  setPcodeVersion(p.pcode);
  uint32_t a = uint32_t(zw.adr_len), base = zm.zrbas;
  if (p.code.size() > VM_CODE_MAX) throw std::runtime_error("vm: code too long");
  zp = zinfo{};
  zp.rcod = 0;
  zputa(base, VM_RDT);
  zp.rdt = base + VM_RDT;
  zp.preg = base + 6 * a + 1;
  zp.flags = (p.wide ? ZF_WIDE : 0) | (a == 3 ? ZF_24BIT : 0);
  std::strcpy(zp.chnm1, "test");
  if (!p.code.empty())
    std::memcpy(zspan(zp.preg, uint32_t(p.code.size())).data(), p.code.data(), p.code.size());
  for (size_t i = 0; i < p.descs.size(); i++) {
    const auto &d = p.descs[i];
    uint32_t addr = d.addr;
    if (!(d.type & 0x88) && addr != zw.inv_offs) addr += base + VM_DATA;
    zdesc_put(zp.rdt + uint32_t(i) * uint32_t(zw.dsc_len), zdesc{d.type, addr, d.dim1, d.dim2});
  }
  uint32_t bottom = base + VM_STACK;
  zputa(bottom, FRAME_BOTTOM);
  zputa(bottom + a, 0);
  zp.stkp = bottom + a;
  zrcod2 = 0;
}

uint32_t vm_desc(int i) {
  return zp.rdt + uint32_t(i) * uint32_t(zw.dsc_len);
}
uint32_t vm_addr(int i) {
  return zdesc_get(vm_desc(i)).addr;
}
uint32_t vm_code(size_t off) {
  return zm.zrbas + 6 * uint32_t(zw.adr_len) + 1 + uint32_t(off);
}

bcd_num vm_bcd(const char *text) {
  std::string s(text);
  fsns = s.data();
  fsnl = unsigned(s.size());
  if (zfsn() || fsnl) throw std::runtime_error(std::string("vm: not a number: ") + text);
  return fsnp;
}

std::string vm_text(const bcd_num &n) {
  char buf[ZFNS_MAX + 1];
  fsns = buf;
  int len = zfns(&n);
  return std::string(buf, size_t(len));
}

void vm_set_num(int i, const char *text, uint32_t element) {
  bcd_num n = vm_bcd(text);
  std::memcpy(zspan(vm_addr(i) + element * 8, 8).data(), &n, 8);
}

std::string vm_num(int i, uint32_t element) {
  bcd_num n;
  std::memcpy(&n, zspan(vm_addr(i) + element * 8, 8).data(), 8);
  return vm_text(n);
}

void vm_set_str(int i, const std::string &s) {
  zdesc d = zdesc_get(vm_desc(i));
  std::memcpy(zspan(d.addr, uint32_t(s.size())).data(), s.data(), s.size());
  if (!(d.type & DSC_PAD)) {
    d.dim2 = uint32_t(s.size());
    zdesc_put(vm_desc(i), d);
  }
}

std::string vm_bytes(uint32_t addr, uint32_t len) {
  auto sp = zspan(addr, len);
  return std::string(sp.begin(), sp.end());
}

std::string vm_str(int i) {
  zdesc d = zdesc_get(vm_desc(i));
  return vm_bytes(d.addr, zdesc_len(d));
}
