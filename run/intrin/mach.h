// mach.h: the process and pipe statement of the language (intrinsic 28):
// start a program as a child with or without pipes, read from and write
// to its pipes, end it and deliver its exit status.
//
// Arguments, in the order the program pushes them (the last on top):
//
//   "RP"   slot, buffer (string variable), count (number)
//   "WP"   slot, data (string; empty closes the child's input)
//   "SPm"  slot (string variable, receives the slot), program path, up to
//          seven argument strings; m = '0' no pipes, '1' read its output,
//          '2' write its input, '3' both, '4' foreground on the terminal
//   "TPw"  slot, status (string variable, receives the exit code);
//          w = '0' does not wait, '1' waits
//
// A slot argument's first byte holds the slot number (1 to 8) as "SP"
// writes it.  Errors: 104 argument count or type, 71 command, 72 slot
// number, 73 slot not in use, 75 wrong pipe direction, 76 count 0, 77
// buffer too small, 78 short write or no pipe, 79 program not executable,
// 74 no free slot, 70 fork failed or no child, 106 argument strings that
// do not fit above the stack top.
#pragma once

// The module's state.
struct mach_data {
  int tty_reset;  // the terminal is in the user's modes for a foreground child
};
extern mach_data mach_st;

// Runs the statement with count arguments on the expression stack (3 to
// 10, else 104); pops all of them and writes the results into the
// argument variables.
void mach(int count);

// Puts the terminal back into program mode when a foreground child had
// it in the user's modes, then raises runtime error code.
[[noreturn]] void mach_err(int code);
