// asm.h: the p-code assembler: assembler text in, program file bytes out.
// The language is described in docs/assembler.md.  Used by the pasm
// program and, in-process, by the tests and the disassembler's check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct pasm_output {
  std::vector<uint8_t> file;  // the program file
  std::string errors;         // "name:line: message" lines; empty on success
};

// Assembles src (named srcname in messages, and the folder of its include
// files); include files not found there are looked for in include_dirs.
// True on success.
bool pasm_assemble(const std::string &src, const std::string &srcname, pasm_output &out,
                   const std::vector<std::string> &include_dirs = {});
