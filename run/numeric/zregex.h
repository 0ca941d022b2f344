// zregex.h: the pattern matcher behind the search intrinsic: basic
// regular expressions compiled into a byte program of at most 80 bytes and
// matched by backtracking.  Patterns and subjects carry their length; a
// position past the end reads as NUL, and a NUL ends the pattern.  The
// syntax and its differences from POSIX are in docs/patterns.md.
//
// Compiled program, one element after the other:
//   code  name        operands           matches
//   2     group start group number       nothing; notes the position
//   4     character   the character      that character
//   8     any         -                  any character but NUL
//   12    class       16-byte bit map    a character whose low 7 bits are set
//   20    end anchor  -                  the end of the subject, or a NUL
//   22    end         -                  success
//   24    group end   group number       nothing; notes the position
//   36    back-ref.   group number       the text the group matched
// code + 1 (5, 9, 13, 37): as many times as possible, then fewer;
// code + 3 (7, 11, 15): between m and n times, the bytes m and n after the
// element (n = 255: no upper bound, counted as 20000).
#pragma once

#include <cstdint>

constexpr int ZRE_ESIZE = 80;       // bytes of the compiled program
constexpr int ZRE_NBRA = 9;         // groups
constexpr int ZRE_UNBOUND = 20000;  // the most repetitions of an open interval

// Compile errors (returned by compile, negated by match).
constexpr int ZRE_BIGNUM = 11;     // an interval bound above 254
constexpr int ZRE_NONUM = 16;      // no number where the interval needs one
constexpr int ZRE_BADREF = 25;     // "\digit" of a group not yet closed
constexpr int ZRE_BADESC = 36;     // "\" followed by a line feed or the end
constexpr int ZRE_EMPTY = 41;      // empty pattern
constexpr int ZRE_UNOPENED = 42;   // "\)" without "\("
constexpr int ZRE_NGROUPS = 43;    // more than nine groups
constexpr int ZRE_COMMAS = 44;     // a second comma in an interval
constexpr int ZRE_NOBRACE = 45;    // no "}" after the "\" closing an interval
constexpr int ZRE_ORDER = 46;      // an interval whose maximum is below its minimum
constexpr int ZRE_NOBRACKET = 49;  // a class without "]"
constexpr int ZRE_OVERFLOW = 50;   // the program does not fit

// State of the last compile and match.
struct zre_state {
  char expbuf[ZRE_ESIZE];          // the compiled program
  const char *braslist[ZRE_NBRA];  // where each group started
  const char *braelist[ZRE_NBRA];  // where each group ended
  int nbra;                        // groups opened
  int ebra;                        // groups closed
  int circf;                       // the pattern starts with "^"
  const char *loc1;                // start of the last match
  const char *loc2;                // end of the last match
  const char *subject_end;         // end of the subject being matched
  int low;                         // minimum of the current interval
  int size;                        // further optional repetitions
};
extern zre_state zre;

// Compiles the pattern s2 of l2 bytes and searches the subject s1 of l1
// bytes.  Returns the 1-based position of the first match (loc1 and loc2
// delimit it), 0 when there is none, or the negated compile error.
int match(const char *s1, int l1, const char *s2, int l2);
// Compiles lg bytes of instring (ending early at seof or a line feed) into
// ep..endbuf; returns 0 or a compile error.
int compile(const char *instring, char *ep, const char *endbuf, int seof, int lg);
// Finds the leftmost position of the l1 bytes at p1 where the program p2
// matches; sets loc1 and loc2 and returns 1, or returns 0 (also when the
// break key ends a long search).
int step(const char *p1, int l1, const char *p2);
// Matches the program from ep at lp with lg bytes left; 1 (loc2 set) or 0.
int advance(const char *lp, int lg, const char *ep);
// Sets low and size from the bytes m, n of an interval at str.
void getrnge(const char *str);
// 1 when the count bytes at a and b are equal.
int ecmp(const char *a, const char *b, int count);
