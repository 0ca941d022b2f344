// asmrun.h: a main routine written in the assembler, put into a temporary
// program file and loaded by the real loader, for the interpreter tests.
#pragma once

#include <string>

struct asm_program {
  std::string path;  // the program file; removed by the destructor
  asm_program();
  ~asm_program();
  // Assembles the body of a main routine for pcode 129 or 130 into the
  // file; false, with a test failure, when it does not assemble.
  bool assemble(int pcode, const std::string &body);
  // Loads the file into a fresh image; returns the stack bottom, or 0
  // (with a test failure) when the loader refuses it.
  unsigned load();
};
