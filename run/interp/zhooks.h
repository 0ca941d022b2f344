// zhooks.h: the points where the dispatch loop hands an instruction to
// the calls, the intrinsics, the I/O statements, the data lists and the
// monitor.  Each is a plain call so that the part that implements it can
// take it over in one place.
#pragma once

// the monitor's test before each instruction; 1 = stop and report
int zh_debug(int stepping, int tracing);
// intrinsic n (n <= 64); 0 continue, -1 convert the top to a string,
// -2 switch the monitor on, other values end the run with that result
int zh_intr(int n);
// procedure call (opcode 118 with n >= 65) and return (opcode 100)
void zh_proc_call(int n);
void zh_return();
// I/O statement: begin, number item, string item, end
void zh_ioinit();
void zh_zionbr();
void zh_ziostr();
void zh_ioterm();
// data lists: read a number, read a string, restart at a label
void zh_irdnbr();
void zh_irdstr();
void zh_restore();
// releases what a stopping program leaves: the monitor's debug heads
// and the saved calling programs
void zh_stop_cleanup();
