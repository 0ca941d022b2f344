// debuginfo.h: the debug information of the loaded program (routines,
// their variables and labels by name) and the monitor state the loader
// and the interpreter share with the monitor: debugging and zrpl.
//
// Debug information in the program file, at the header's offset:
//   routine record  255, L, then L bytes: varbg (2), probg (2),
//                   symcnt (2), name ending in a zero byte; L = 0 ends
//   symbol record   A, then A bytes: loc, attr, dim1, dim2 (2 each),
//                   genus (1), species (1), name ending in a zero byte
// All numbers most significant byte first.  Names compare in upper case.
// Each program called with return keeps its own information: pushd saves
// the running program's before the call, popd brings it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// the debug header of the marker record (10 bytes)
struct zdebug_header {
  uint32_t offset;     // file offset of the routine records
  int16_t n_routines;  // number of routines
  int16_t n_symbols;   // number of symbols
  uint16_t s_routine;  // code address of the main routine (stored + 3)
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

constexpr uint16_t ZDEBUG_NOT_ALLOCATED = 0xFFFF;  // loc of a symbol without storage
constexpr uint8_t ZDEBUG_LABEL = '"';              // species of a label

struct zdebug_state {
  int db_info;                           // 1 once the information is loaded
  int announced;                         // a marker record has been seen
  zdebug_header hdr;                     // header of the marker record
  std::vector<zdebug_routine> routines;  // the routine table
  int hp;                                // current routine, -1 none
};
extern zdebug_state zdebug;

extern int debugging;  // the monitor is in debug mode
extern int zrpl;       // 0 no program, 1 stopped at a breakpoint, 2 loaded

// Stores the 10-byte debug header p of a marker record.
void rdr(const unsigned char *p);
// Reads the debug information from fd at the header's offset; 0, or -1
// (everything read so far is dropped) on a read error or a bad record.
int rdi(int fd);
// Drops the debug information of the running program.
void cleanupd();

// findhead(1, addr, -) the routine with code address addr; findhead(0, 0,
// name) the routine of that name (n characters).  Its index, or -1.
int findhead(int mode, uint32_t addr, const char *name, size_t n);
// The symbol of the current routine (or of routine r) named by n
// characters at name, or null.
const zdebug_symbol *findsymbol(const char *name, size_t n, int r = -2);
// Makes the routine with code address addr the current one (a procedure
// being entered).
void zdebug_enter(uint32_t addr);

// Saves the running program's debug information before a chain with
// return; popd(0) restores it on the return, popd(1) drops every saved one.
void pushd();
void popd(int mode);
// Save and restore the current routine around a procedure call; pophp(1)
// drops what was saved (the program stopped).
void pushhp();
void pophp(int mode);
