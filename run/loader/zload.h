// zload.h: the program loader.  A program file is a sequence of
// checksummed records, each placing bytes at an offset of the program
// area; the loader reads them, relocates the variable descriptors, clears
// the variable storage, checks the main block and sets the registers zp.
//
// Record (no file header; hdr_len = 4 for 16-bit, 5 for 24-bit p-code):
//   0          1        N, bytes that follow (> 3, >= hdr_len)
//   1          1        p-code version: 129 (16-bit) or 130 (24-bit)
//   2          1        checksum: N plus the N bytes, folded twice with
//                       end-around carry, is 255
//   3          hdr_len-2  load offset from zrbas, least significant first
//   1+hdr_len  N-hdr_len  payload
// The record with N = hdr_len ends the file.  A record whose bytes 3, 4, 5
// are 0, 0, 6 is the debug-information marker: its next 10 bytes are the
// debug header (file offset 4, routines 2, symbols 2, main address + 3 2),
// and it places nothing.
//
// Block chain at zrbas (addresses adr_len bytes, big-endian, from zrbas):
//   type 1  next, descriptor area start, end; storage from end to next
//   type 2/3  next; the routine table fills the rest of the block
//   type 4  flags (2), main header      type 5  main header (flags 0)
// Main header 16-bit: code (2), common (2), stack bottom 0 7 0 0.
//             24-bit: code (3), common (2), 1 spare, stack bottom 0 0 7 0 0 0.
#pragma once

#include <cstdint>

// loader results
enum {
  ZL_OK = 0,
  ZL_NOTFOUND = 9,   // the program file cannot be opened
  ZL_BADFILE = 151,  // empty, truncated, malformed, wrong version, checksum
  ZL_BOUND = 152,    // a record reaches beyond the program area
  ZL_NOMAIN = 153,   // the block chain does not reach a main block
  ZL_COMMON = 154,   // more common needed than C provides
  ZL_FLAGS = 155,    // main-block flags above 3
};

constexpr int ZL_NAME_MAX = 32753;  // longest program name looked at
constexpr int ZL_MARKER_LEN = 15;   // N of a debug-information marker

struct zloader_state {
  int pcodeVersion;    // version of the program being loaded; 0 = any
  uint32_t null_addr;  // address given to unbound descriptors
  uint32_t rst_count;  // entries in the routine table (0 without one)
  uint32_t prog_end;   // offset from zrbas past the highest placed byte
};
extern zloader_state zl;

// Loads the program np (at most npl characters, ending at a zero byte) of
// unit; isRchain looks in the return-chain directory first.  Returns
// ZL_OK or a loader result; errfile names the path tried last on failure.
int zload(const char *np, unsigned unit, int npl, int isRchain);

// Writes the load-failure message for loader result error.
void nofind(int error, const char *pname);
