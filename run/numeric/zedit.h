// zedit.h: a number through an edit mask (the edit intrinsic).
//
// Mask characters:
//   9   digit position; before the number's digits start it prints "0" and
//       makes the positions after it print "0" too
//   Z   digit position; the fill character until the digits start
//   *   like Z; a mask starting with "*" fills with "*" (else with spaces)
//   V   implied decimal point, not printed; digit positions after it take
//       the fraction
//   any other character is inserted: printed once the digits have started
//   or a "9" has been passed, the fill character before.  "+" prints the
//   sign ("+" or "-"), "-" prints "-" for a negative number, else a space.
// A mask that starts with "+" or "-", or with two equal characters other
// than space, "9", "Z", "*" and "V" ("$$"), has a floating symbol: the
// first character is taken for it, each further occurrence is a digit
// position, and the symbol is printed right before the first significant
// digit or the first "9".
#pragma once

#include "run/numeric/bcd.h"

constexpr int ERR_MASK = 108;  // bad edit mask, or a number too large for it

// Formats *edtnp through the mask of fsnl characters at fsns into edtop,
// which must hold fsnl bytes; returns the number of characters written
// (the mask's length less its "V"s).  Raises 108 for an empty mask, a mask
// of only the floating symbol, or a number with more integer digits than
// the mask has digit positions before its first "V".
int zedit(const bcd_num *edtnp, char *edtop);
