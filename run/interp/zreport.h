// zreport.h: what happens after a runtime error: the program's own
// handler, or the report on the screen, the error log, the last message
// and the error program; and the breakpoint report of the monitor.
#pragma once

#include <cstdint>

constexpr int ERRMSG_LEN = 160;  // the report buffer, with its terminator

extern uint32_t erraddr;               // code address of the last trapped error
extern char err_msg_last[ERRMSG_LEN];  // text of the last error report
extern int fOnerror;                   // the error program has been started

// The recovery point's work for error number.  Returns -1 when execution
// goes on (at the routine's handler, or at the start of the error
// program), else the result of execute (the error number, 256 for 0).
int zerror_recover(int number, int stepping);
// The report of a stop of the monitor ("BKP HIT"); the result of execute.
int zbkp_report();
