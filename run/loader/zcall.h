// zcall.h: the stack of saved programs.  A chain with return saves the
// caller's registers and program area here, loads the called program into
// the same area and passes the parameters on its stack; the return copies
// changed values back and restores the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "run/base/interp.h"

// One saved caller.
struct zload_rec {
  zload_rec *znext;  // the record below (the caller's caller), null at the bottom
  zinfo regs;        // the caller's registers at the moment of the call
  unsigned rcod2;    // the caller's routine state bits (its armed handler)
  uint32_t csize;    // bytes of the caller's program area saved
  uint8_t *image;    // csize bytes from zrbas on, allocated with the record
  uint32_t rst_n;    // the caller's procedure count (zl.rst_count)
};

constexpr int ZPROGNAMES = 16;     // names kept by zinfo_save
constexpr int ZPROGNAME_LEN = 70;  // characters of one name

struct zcall_state {
  zload_rec *zstk_head;                       // most recent saved caller
  int zstk_cnt;                               // records on the stack
  int rchain_flag;                            // chains with return made
  char prognames[ZPROGNAMES][ZPROGNAME_LEN];  // names kept after an error
};
extern zcall_state zc;

// Size of the value a descriptor describes; pcode_flag: the descriptor
// uses 3-byte addresses.  d holds at least the descriptor's bytes.
uint64_t value_length(std::span<const uint8_t> d, int pcode_flag);

// Saves the caller: registers and the first csize bytes of the program
// area.  Raises 106 without memory.
void zpush(uint32_t csize);
// Restores the most recent caller; raises 103 when there is none.
void zpop();
// zpop, then raises errcode.
[[noreturn]] void zpush_error(int errcode);
// Passes n_param parameters from the saved caller to the program just
// loaded; on a mismatch the caller is restored and 102, 104 or 106 raised.
void zpush_param(int n_param);
// Copies changed parameter values back into the saved caller.
void zpop_param();
// Forgets every saved caller.
void zcleanup();
// Name of the saved program at depth index (1: the direct caller); *len
// is 0 when there is none.  p receives at most ZPROGNAME_LEN bytes.
void zinfo_get(int index, char *p, int *len);
// Keeps the names of the saved programs, most recent first, for the
// error program.
void zinfo_save();
// Name kept by zinfo_save at depth index (1 to 15).
void zinfo_saved(int index, char *dst, int *len);
