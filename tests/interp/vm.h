// vm.h: a small program builder for the interpreter tests and the
// benchmark.  It lays a program straight into the image
// (no program file): a main routine header, a descriptor table, variable
// storage and a stack bottom, then emits code bytes with labels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/numeric/bcd.h"

struct vm_prog {
  int pcode = 129;    // 129: 2-byte addresses, 130: 3-byte
  bool wide = false;  // wide operand numbers (flags bit 0)
  std::vector<uint8_t> code;
  struct desc {
    uint8_t type;
    uint32_t addr, dim1, dim2;
  };
  std::vector<desc> descs;
  uint32_t data_used = 0;  // bytes of variable storage handed out

  // variables; each returns its descriptor index
  int num();                                    // numeric scalar
  int num_array(uint32_t d1, uint32_t d2 = 0);  // numeric array
  int str(uint32_t cap, bool padded = false);   // string
  int str_array(uint32_t elen, uint32_t count, bool padded = true);
  int raw(uint8_t type, uint32_t addr, uint32_t dim1, uint32_t dim2);  // any

  // code
  size_t here() const { return code.size(); }
  void op(std::initializer_list<int> bytes);       // raw bytes
  void opnd(int index);                            // operand number bytes
  void at(int opcode, int index);                  // opcode with an operand
  void addr(uint32_t a);                           // adr_len-byte address
  void jump_long(int opcode, size_t target);       // long jump to code offset
  void patch_long(size_t at_byte, size_t target);  // fix a forward long jump
  void lit(const char *text);                      // op 70 push inline number
  void slit(const std::string &s);                 // op 80 push inline string
  void stop() { op({120, 1}); }
};

// Image layout (offsets from zrbas): routine header at 0, code from
// 6 * adr_len + 1, descriptors at VM_RDT, variables at VM_DATA, stack
// bottom at VM_STACK.
constexpr uint32_t VM_RDT = 0x5000, VM_DATA = 0x7000, VM_STACK = 0xB000;
constexpr uint32_t VM_CODE_MAX = VM_RDT - 32;

// Places the program in a fresh image and sets zp.
void vm_load(const vm_prog &p);
uint32_t vm_addr(int index);   // data address of variable index
uint32_t vm_desc(int index);   // offset of descriptor index
uint32_t vm_code(size_t off);  // image offset of code byte off

// values
bcd_num vm_bcd(const char *text);       // text to number (zfsn)
std::string vm_text(const bcd_num &n);  // number to text (zfns)
void vm_set_num(int index, const char *text, uint32_t element = 0);
std::string vm_num(int index, uint32_t element = 0);
void vm_set_str(int index, const std::string &s);
std::string vm_str(int index);  // current value
std::string vm_bytes(uint32_t addr, uint32_t len);
