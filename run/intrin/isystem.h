// isystem.h: the intrinsic functions that ask or change the system: the
// clock, the error registers, keys, the environment, the terminal's
// capabilities, user and product names, pauses; and the hand-over to the
// machine operations, the shared buffer and the file status functions.
// Each takes the argument count (already checked against the function's
// table row), pops its arguments and pushes its result, if any.
#pragma once

int isys_date(int count);     // 15: [fmt] date and time text
int isys_error(int count);    // 16: error number inside a handler, else 0
int isys_ioerror(int count);  // 17: I/O error of the last file statement
int isys_key(int count);      // 23: [mode] one key
int isys_values(int count);   // 27: system values into variables
int isys_machine(int count);  // 28: process and pipe operations
int isys_shared(int count);   // 29: shared buffer operations
int isys_fstat(int count);    // 31: file status
int isys_ustat(int count);    // 32: unit status
int isys_getenv(int count);   // 33: an environment value or entry
int isys_termcap(int count);  // 34: a terminal capability
int isys_istat(int count);    // 36: indexed file status
int isys_pause(int count);    // 39: pause for milliseconds
int isys_errno(int count);    // 40: the last system error number
int isys_stuff(int count);    // 41: a key into the type-ahead buffer
int isys_putenv(int count);   // 43: set an environment variable
int isys_info(int count);     // 44: [letter] user, system, product
int isys_erraddr(int count);  // 45: address of the last error, in hex
int isys_errfile(int count);  // 46: file of the last error
int isys_query(int count);    // 62: "RCHAIN", "ERRMSG", "LKPID"

// The product identification of function 44 "R".
extern const char isys_ident[];
