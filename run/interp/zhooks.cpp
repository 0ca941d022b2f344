// zhooks.cpp: the hand-over points of the dispatch loop to the monitor,
// the intrinsics, the procedure calls, the data lists and the I/O
// statements.
#include "run/interp/zhooks.h"

#include "run/files/iostmt.h"
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
void zh_ioinit() {
  ioinit();
}
void zh_zionbr() {
  zionbr();
}
void zh_ziostr() {
  ziostr();
}
void zh_ioterm() {
  ioterm();
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
