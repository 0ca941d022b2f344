// debuginfo.h: TEMPORARY stand-in for the debug-information reader and
// the monitor state the loader needs, until the command monitor is built.
// It keeps the header of the marker record, reads the routine and symbol
// records that follow the program's records, and holds the monitor flags
// debugging and zrpl.
//
// Debug information in the program file, at the header's offset:
//   routine record  255, L, then L bytes: varbg (2), probg (2),
//                   symcnt (2), name ending in a zero byte; L = 0 ends
//   symbol record   A, then A bytes: loc, attr, dim1, dim2 (2 each),
//                   genus (1), species (1), name ending in a zero byte
// All numbers most significant byte first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// the debug header of the marker record (10 bytes)
struct zdebug_header {
  uint32_t offset;      // file offset of the routine records
  int16_t n_routines;   // number of routines
  int16_t n_symbols;    // number of symbols
  uint16_t s_routine;   // code address of the main routine (stored + 3)
};

struct zdebug_symbol {
  uint16_t loc, attr, dim1, dim2;  // descriptor number or label address
  uint8_t genus, species;          // kind; species '"' marks a label
  std::string name;                // the symbol's name
};

struct zdebug_routine {
  uint16_t varbg, probg, symcnt;       // descriptors, code address, count
  std::string name;                    // the routine's name
  std::vector<zdebug_symbol> symbols;  // its symbols
};

struct zdebug_state {
  int db_info;                          // 1 once the information is loaded
  int announced;                        // a marker record has been seen
  zdebug_header hdr;                    // header of the marker record
  std::vector<zdebug_routine> routines; // the routine table
};
extern zdebug_state zdebug;

extern int debugging;  // the monitor is in debug mode
extern int zrpl;       // 0 no program, 1 stopped at a breakpoint, 2 loaded

// Stores the 10-byte debug header p of a marker record.
void rdr(const unsigned char *p);
// Reads the debug information from fd at the header's offset; 0, or -1
// (everything read so far is dropped) on a read error or a bad record.
int rdi(int fd);
// Drops the debug information.
void cleanupd();
