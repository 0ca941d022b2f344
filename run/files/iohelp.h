// iohelp.h: small helpers of the file statements: operands taken from the
// stack, stores into variables, the suffix code of record lengths, and the
// opening of the system's own files.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>

// Pops a variable operand; its descriptor's offset (111 unbound).
uint32_t pda();
// Stores the integer n into the numeric variable of descriptor p (104
// when it is a string).
void rnv(uint32_t p, int64_t n);
// Stores the one-character string c into the string variable of
// descriptor p (104 when it is a number).
void rsv(uint32_t p, int c);
// Pops a string and returns a new copy without trailing spaces, at most
// max characters; the caller frees it.  Null without memory.
char *xpopst(size_t max);

// Copies min(len, width) bytes and fills the rest of width with pad.
void padmove(uint8_t *to, size_t width, const uint8_t *from, size_t len, int pad);
// n (at most 6 digits) as decimal text in a buffer overwritten by the
// next call.
const char *utoa(unsigned n);

// The two characters of the code of n (0..1295) used in file suffixes:
// "a".."z" stand for 0..25, "0".."9" for 26..35; up to 935 the first
// character is n / 26 and the second the letter of n % 26; above, the
// first is n % 36 and the second the digit of n / 36.  80 is "dc", 1000
// is "21", 1280 is "u9", 0 is "aa".
void encode(unsigned n, char out[2]);
// The value of a code, or -1 when a character is outside both ranges.
int vx_decode(const char *s);

// Opens one of the system's own files with permissions rw-rw-rw- (the
// file-creation mask cleared meanwhile): for reading and writing when
// not_log is set, else for appending; created when missing.  On failure it
// writes "CANNOT ACCESS" and the name; with not_log set it then ends the
// process, otherwise it returns -1.
int open_sysfile(const char *name, int not_log);
// open, repeated when a signal interrupts it.
int vopen(const char *file, int flags, mode_t mode);
