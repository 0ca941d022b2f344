// zhooks.cpp: the hand-over points of the dispatch loop to the monitor,
// the intrinsics, the procedure calls, the data lists and the I/O
// statements.  TEMPORARY: the I/O statements are not built yet; an
// instruction that reaches one ends the run with error 102, the error for
// p-code that cannot be executed, which is never trapped.
#include "run/interp/zhooks.h"

#include "run/interp/interp.h"
#include "run/interp/zproc.h"
#include "run/loader/monitor.h"
#include "run/loader/zcall.h"
#include "run/numeric/intr.h"
#include "run/numeric/irdata.h"

int zh_debug(int stepping, int tracing) {
  return debug_it(stepping, tracing);
}
int zh_intr(int n) {
  return intr(n);
}
void zh_proc_call(int n) {
  zproc_call(n);
}
void zh_return() {
  zproc_return();
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
void zh_irdnbr() {
  irdnbr();
}
void zh_irdstr() {
  irdstr();
}
void zh_restore() {
  irrestore_top();
}
void zh_stop_cleanup() {
  pophp(1);
  zcleanup();
}
