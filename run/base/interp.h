// interp.h: the memory-image layout, registers and descriptors shared by
// all of run.  Chief header of run/base.
//
// Addresses stored in the image are big-endian offsets of adr_len bytes:
// data addresses count from the start of the image (zu), code addresses
// from the start of the program area (zrbas).  The registers hold offsets
// from zu too, never machine pointers, so every access goes through the
// checked helpers of image.h.
//
// Descriptor, dsc_len bytes:
//   0            1        type bits (DSC_*)
//   1            adr_len  data address, inv_offs when unbound; for an
//                         indirect descriptor the offset of the descriptor
//                         it stands for
//   1+adr_len    2        dim1
//   3+adr_len    2        dim2
//
// Routine header at zrbas + rcod:
//   0*adr_len  descriptor table offset (from zrbas)
//   1*adr_len  unused by the core
//   2*adr_len  first data-list block     3*adr_len  current data-list block
//   4*adr_len  data-list read position   5*adr_len  error handler address
//   6*adr_len  last trapped error (1)    +1 procedure state 'w'/'y' (1)
//   +2         procedure parameter count (1)
//
// Stack entries end with a pointer word and a link word (adr_len each);
// stkp is the offset of the top link word.  Pointer words <= 15 are
// control frames (tags below), larger ones descriptor offsets.  A truth
// value has no pointer word: 0, the truth byte, then the link word.
#pragma once

#include <cstdint>

enum pcode_version { PCODE_NONE = 0, PCODE16BIT = 129, PCODE24BIT = 130 };

// descriptor type bits
constexpr uint8_t DSC_ABS = 0x80;    // absolute address: not relocated
constexpr uint8_t DSC_PAD = 0x40;    // padded string: always dim1 long
constexpr uint8_t DSC_STR = 0x20;    // string; else numeric
constexpr uint8_t DSC_IND = 0x08;    // indirect: address is a descriptor
constexpr uint8_t DSC_ARR = 0x02;    // array (always set for strings)
constexpr uint8_t DSC_DIM2 = 0x01;   // second dimension present
constexpr uint8_t DSC_SHAPE = 0x23;  // string/number and dimensions

// pointer-word tags of control frames
constexpr uint32_t FRAME_SUB = 0;     // subroutine frame
constexpr uint32_t FRAME_PROC = 1;    // procedure frame
constexpr uint32_t FRAME_CALL = 2;    // program-call frame
constexpr uint32_t FRAME_BOTTOM = 7;  // stack bottom
constexpr uint32_t FRAME_MAX = 15;    // largest control-frame tag

// zrcod2 bits
constexpr unsigned RC2_DATAPOS = 1;  // data-list position initialised
constexpr unsigned RC2_ARMED = 2;    // error handler armed
constexpr unsigned RC2_RUNNING = 4;  // error handler running

// The interpreter registers; one instance, zp.  Copied whole when a
// program calls another.
struct zinfo {
  uint32_t preg;   // program counter: offset from zu of the next byte
  uint32_t rdt;    // offset from zu of the current descriptor table
  uint32_t rst;    // offset from zu of the routine table
  uint32_t stkp;   // offset from zu of the top entry's link word
  uint32_t rcod;   // offset from zrbas of the current routine header
  uint32_t riss;   // state of the I/O statement in progress
  uint32_t flags;  // bit 0 wide operand numbers, bit 1 24-bit p-code
  char chnm1[70];  // name of the running program
};
constexpr uint32_t ZF_WIDE = 1;   // flags: wide operand numbers
constexpr uint32_t ZF_24BIT = 2;  // flags: 24-bit p-code

extern zinfo zp;

// Runtime errors leave through zraise, which throws this record; only the
// recovery point of the dispatch loop (and main and tests) catches it.
struct zerror_jump {
  int number;  // the error number as raised
};
[[noreturn]] void zraise(int number);

// error numbers of the core
constexpr int ERR_RANGE = 100;    // subscript or length out of range
constexpr int ERR_BADCODE = 102;  // illegal opcode, malformed p-code
constexpr int ERR_NOSUB = 103;    // subroutine return without a frame
constexpr int ERR_ARGS = 104;     // wrong argument count, type or shape
constexpr int ERR_BREAK = 105;    // break key
constexpr int ERR_STACK = 106;    // expression stack exhausted
constexpr int ERR_NUMBER = 107;   // string is not a valid number
constexpr int ERR_UNBOUND = 111;  // operand not bound to storage

// name of the file that the last file operation or load concerned; empty
// when none (set by the loader and the file layer, shown in error reports)
constexpr int ERRFILE_LEN = 518;
extern char errfile[ERRFILE_LEN];

// the opcode byte being executed; helpers and the arithmetic read its bits
extern uint8_t zcod;

// State of the instruction cycle beside the registers, shared with the
// calls, the error path, the I/O statements and the monitor.
extern uint32_t expr_stack;       // stack level at the start of the statement
extern uint32_t expr_stack_save;  // expr_stack kept while an I/O statement runs
extern unsigned zrcod2;           // state bits of the current routine (RC2_*)
extern int spsssw;                // a substring is being pushed for a concatenation
extern int zfl_pcnt;              // instructions until pending output is flushed
extern int zerrn;                 // the number of the last runtime error
