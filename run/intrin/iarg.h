// iarg.h: arguments and results of the intrinsic functions.
//
// Arguments lie on the expression stack in source order, the last on top,
// and are popped from the top.  A string result is built in the result
// area: the free bytes above the arguments as they lay on entry
// (ia_area, taken before the first pop), so that it may be built from an
// argument's characters; once the arguments are popped, ia_push_text
// pushes it where it lies.
//
//   entry:   ... | arg 1 | ... | arg n |                  <- stkp
//   build:   ... | arg 1 | ... | arg n | result bytes      (from ia_area)
//   push:    ... | result bytes | descriptor | ptr | link  <- stkp
#pragma once

#include <cstdint>

#include "run/numeric/bcd.h"

// characters of a string argument: image offset and length
struct ia_text {
  uint32_t addr;  // data address
  uint32_t len;   // length
};

// The start of the result area; call before popping anything.
uint32_t ia_area();
// A pointer to len bytes at the result area at; 106 when they, with the
// descriptor and words that follow, would pass the stack limit.
uint8_t *ia_room(uint32_t at, uint32_t len);
// Pushes the len bytes at at (built with ia_room) as a string result.
void ia_push_text(uint32_t at, uint32_t len);
// Copies len bytes from p (outside the image, or below the stack top) to
// a fresh result and pushes it.
void ia_push_bytes(const void *p, uint32_t len);
// Pushes a number result.
void ia_push_num(const bcd_num &n);
// Pushes the integer v as a number result.
void ia_push_int(int64_t v);

// Pops a string (104 for a number).
ia_text ia_pop_text();
// Pops a number (104 for a string).
bcd_num ia_pop_num();
// Pops a variable: its descriptor offset; 111 when it is not bound.
uint32_t ia_pop_var();
// Pops a number as a byte of a control string: 0..255 (104 for a
// negative number; larger values stand for 255).
uint8_t ia_pop_byte();

// Stores the integer v into the numeric variable at desc (104 for a
// string or an array).
void ia_set_num(uint32_t desc, int64_t v);
// Stores len bytes from p into the string variable at desc (104 for a
// number or a string array): a padded variable is filled with spaces, a
// variable-length one takes the length stored.  At most its capacity is
// stored.
void ia_set_text(uint32_t desc, const uint8_t *p, uint32_t len);
// The capacity of the string variable at desc (104 for anything else).
uint32_t ia_capacity(uint32_t desc);
