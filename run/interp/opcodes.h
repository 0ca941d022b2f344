// opcodes.h: the instruction set of the p-code interpreter, defined once.
// Every opcode byte has one row in zopcodes (indexed by the byte): its
// unique mnemonic, the shape of the operand bytes that follow it, and a
// one-line effect.  The dispatch loop builds its handler table from this
// table; the assembler and the disassembler read it too.
//
// Opcode byte layout:
//   bits 0-4  operation
//   bits 5-6  form: 00 plain, 01 first variant, 10 second variant,
//             11 the control group
//   bit 7     operand group: 1 = the operand is a variable, 0 = a
//             constant in the p-code; control group: 1 = long form
// The sixteen bytes whose low four bits are all set push the constant of
// their high four bits (OPS_CONST).
//
// Mnemonics of the operand group (the suffix names source and form):
//   numeric fetch  "op"  var    "op.x"  var, 1 subscript  "op.xx" 2 subscripts
//                  "op.b" packed byte  "op.1" constant 1  "op.n" inline number
//   string fetch   "op" "op.x" "op.xx" as above;
//                  "op.c" one character  "op.e" empty string  "op.s" string
//   operand number "op" "op.x" "op.xx" with source 1, "op0" "op0.x"
//                  "op0.xx" with source 0 (the interpreter ignores the bit)
// Long forms of the control group end in ".l".
#pragma once

#include <cstdint>

// Shapes of the operand bytes after an opcode.
enum zop_shape : uint8_t {
  OPS_BAD = 0,  // no operation: raises 102
  OPS_NONE,     // no operand bytes
  OPS_CONST,    // no operand bytes: pushes the constant (code >> 4)
  OPS_NFETCH,   // numeric fetch, chosen by source and form bits
  OPS_SFETCH,   // string fetch, chosen by source and form bits
  OPS_OPERAND,  // one operand number
  OPS_JUMP,     // jump operand: short 1 signed byte, long adr_len address
  OPS_TABLE,    // count byte k, then k long addresses
  OPS_CALL,     // function or procedure number byte, argument count byte
  OPS_MACH,     // one machine-command byte
  OPS_IO,       // operation byte, option count c, c option-number bytes
};

// Operation numbers of the control group (the low five bits).
enum zop_control : uint8_t {
  OPC_AND = 0,
  OPC_OR,
  OPC_NOT,
  OPC_RETS,
  OPC_RET,
  OPC_BAD5,
  OPC_IO,
  OPC_IONUM,
  OPC_IOSTR,
  OPC_IOEND,
  OPC_CHS,
  OPC_NTOS,
  OPC_STON,
  OPC_RDNUM,
  OPC_RDSTR,
  OPC_CONST15,
  OPC_JT,
  OPC_JF,
  OPC_JMP,
  OPC_JMPC,
  OPC_GOSUBC,
  OPC_GOSUB,
  OPC_CALL,
  OPC_BAD23,
  OPC_MACH,
  OPC_BAD25,
  OPC_LOOP,
  OPC_PUSHA,
  OPC_BAD28,
  OPC_BIND,
  OPC_BIND2,
  OPC_CONST31
};

// Field masks of an opcode byte.
constexpr uint8_t ZOP_OPER = 0x1F;     // operation
constexpr uint8_t ZOP_FORM = 0x60;     // form
constexpr uint8_t ZOP_SOURCE = 0x80;   // source variable / long form
constexpr uint8_t ZOP_CONTROL = 0x60;  // form value of the control group

// Machine commands (the byte after a mach opcode).
enum zop_mach : uint8_t {
  MACH_RESTORE = 0,  // restart the data list at a pushed code address
  MACH_STOP = 1,     // end the program
  MACH_TRAP = 2,     // arm the error handler after the next long jump
  MACH_UNTRAP = 3,   // disarm the error handler
  MACH_RAISE = 4,    // raise the popped error number
};

// First procedure number of the call opcode; below it, intrinsics.
constexpr int ZOP_FIRST_PROC = 65;
// Largest count byte of an inline number (operand form 0,10).
constexpr int ZOP_INLINE_MAX = 8;

// One row of the opcode table.
struct zopcode {
  uint8_t code;          // the opcode byte (the row's index)
  const char *mnemonic;  // unique name used by the assembler and listings
  zop_shape shape;       // operand bytes that follow
  const char *effect;    // what the instruction does, in one line
};

// The table, in opcode order: zopcodes[b].code == b.  (tag: ZOPCODE-ORDER)
extern const zopcode zopcodes[256];

// The row whose mnemonic is name (exact, lower case), or null.
const zopcode *zop_find(const char *name);
