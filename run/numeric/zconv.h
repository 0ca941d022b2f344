// zconv.h: numbers to text and back, and the conversion registers shared
// with the interpreter, the intrinsics and the file statements.
//
// Registers:
//   fsns   text cursor: next character to read (zfsn) or to write (zfns)
//   fsnl   characters left to read at fsns (zfsn)
//   fsnp   the number being built or converted
//   fsnpc  digits already stored into fsnp (0..14)
#pragma once

#include <cstdint>

#include "run/numeric/bcd.h"

extern char *fsns;
extern unsigned fsnl;
extern bcd_num fsnp;
extern unsigned fsnpc;

// Most characters zfns writes for any 8-byte value.
constexpr unsigned ZFNS_MAX = 40;

// Writes the shortest plain text of *xp at fsns, advances fsns and returns
// the number of characters written (at most ZFNS_MAX).
int zfns(const bcd_num *xp);

// Reads a number from the fsnl characters at fsns into fsnp; leaves fsns
// and fsnl at the first character not used.  Returns 0 when at least one
// digit was read, else 1 (fsnp is then zero).
int zfsn();

// Gives fsnp (its digits stored by fsndig) its sign and exponent: zero
// when no significant digit was read or the value is below the range, the
// largest positive number above it.
void fsnfin(bool neg, bool sig, int exp);

// Appends the digit character ch to fsnp at digit position fsnpc; digits
// after the 14th are dropped (input is truncated, never rounded).
void fsndig(int ch);
