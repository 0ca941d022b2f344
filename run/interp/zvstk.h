// zvstk.h: what the decoded blocks (zblock.cpp) need of the dispatch loop
// (exec.cpp): the cached stack top, the budget test for instructions run
// together, and the small value helpers both use.
#pragma once

#include <cstdint>

#include "run/numeric/zmathw.h"

// where the stack top would be with the cached entries on the image
uint32_t zv_top();
// pushes onto the cached stack top, with the checks of the image's pushes
void zv_push_num(uint64_t w);
void zv_push_ref(uint32_t desc);
void zv_push_truth(bool t);
// Instructions run together skip the checks made before each one, so they
// run only while those have nothing to do: no monitor, no pending output,
// and budget left.  The allowance is 0 when they may not run at all, else
// n more may run while it exceeds n (it then drops by n); zx_join_left
// hands back what is left of it.
uint64_t zx_join_allowance();
void zx_join_left(uint64_t left);

constexpr uint64_t ZW_ONE = 0x1000000000000041ULL;  // the number 1 as a word

// the constants 0..15 of the one-byte opcodes as words
constexpr uint64_t zsmall_word(unsigned k) {
  return k >= 10 ? uint64_t(0x10 + k - 10) << 56 | 0x42 : k > 0 ? uint64_t(k) << 60 | 0x41 : 0;
}

// fcom on two words as they lie
[[gnu::always_inline]] inline int zw_compare(uint64_t a, uint64_t b) {
  int64_t ka = zmw::order_key(zmw::canon(a)), kb = zmw::order_key(zmw::canon(b));
  return (ka > kb) - (ka < kb);
}

// relation rel (0 =, 1 <>, 2 <, 3 <=, 4 >, 5 >=) of a comparison result
inline bool zrel_true(int c, unsigned rel) {
  switch (rel) {
    case 0:
      return c == 0;
    case 1:
      return c != 0;
    case 2:
      return c < 0;
    case 3:
      return c <= 0;
    case 4:
      return c > 0;
    default:
      return c >= 0;
  }
}

// The counting loop on the number at p: the step (unless step is false)
// and the test, with the limit m and the step s canonical and sneg the
// sign of the step as it lay.  The variable's new value is stored.
[[gnu::always_inline]] inline bool zloop_step(uint8_t *p, bool step, uint64_t m, uint64_t s,
                                              bool sneg) {
  bcd_num *vp = reinterpret_cast<bcd_num *>(p);
  uint64_t v = zmw::canon(zmw::load_word(vp));
  if (step) {
    v = zmw::w_inc(v, s);
    zmw::store_word(vp, v);
  }
  int64_t kv = zmw::order_key(v), km = zmw::order_key(m);
  return sneg ? kv >= km : km >= kv;
}
