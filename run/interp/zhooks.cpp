// zhooks.cpp: the hand-over points of the dispatch loop to parts that
// are not built yet.  TEMPORARY: every hook below stands in for a later
// part (monitor, intrinsics, procedure calls, I/O statements, data
// lists); until that part is in place an instruction that reaches one
// ends the run with error 102, the error for p-code that cannot be
// executed, which is never trapped.
#include "run/interp/zhooks.h"

#include "run/interp/interp.h"

// TEMPORARY: the monitor's debug_it.
int zh_debug(int, int) {
  zraise(ERR_BADCODE);
}
// TEMPORARY: the intrinsic functions.
int zh_intr(int) {
  zraise(ERR_BADCODE);
}
// TEMPORARY: procedure calls and returns with their frames.
void zh_proc_call(int) {
  zraise(ERR_BADCODE);
}
void zh_return() {
  zraise(ERR_BADCODE);
}
// TEMPORARY: the I/O statements.
void zh_ioinit() {
  zraise(ERR_BADCODE);
}
void zh_zionbr() {
  zraise(ERR_BADCODE);
}
void zh_ziostr() {
  zraise(ERR_BADCODE);
}
void zh_ioterm() {
  zraise(ERR_BADCODE);
}
// TEMPORARY: the data lists.
void zh_irdnbr() {
  zraise(ERR_BADCODE);
}
void zh_irdstr() {
  zraise(ERR_BADCODE);
}
void zh_restore() {
  zraise(ERR_BADCODE);
}
// TEMPORARY: nothing to release until the monitor's debug heads
// (pophp) and the saved calling programs (zcleanup) exist.
void zh_stop_cleanup() {}
