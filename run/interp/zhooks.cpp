// zhooks.cpp: the hand-over points of the dispatch loop to the monitor,
// the intrinsics, the procedure calls, the data lists, the I/O statements
// and the screen.
#include "run/interp/zhooks.h"

#include "run/base/interp.h"
#include "run/interp/irdata.h"
#include "run/interp/zproc.h"
#include "run/loader/debuginfo.h"
#include "run/loader/zcall.h"

zh_table zh = {};

int zh_debug(int stepping, int tracing) {
  return zh.debug ? zh.debug(stepping, tracing) : 0;
}
int zh_intr(int n) {
  if (!zh.intr) zraise(ERR_BADCODE);
  return zh.intr(n);
}
void zh_proc_call(int n) {
  zproc_call(n);
}
void zh_return() {
  zproc_return();
}
// an I/O statement reaches the file layer or is malformed
static void io_step(void (*step)()) {
  if (!step) zraise(ERR_BADCODE);
  step();
}
void zh_ioinit() {
  io_step(zh.ioinit);
}
void zh_zionbr() {
  io_step(zh.zionbr);
}
void zh_ziostr() {
  io_step(zh.ziostr);
}
void zh_ioterm() {
  io_step(zh.ioterm);
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
void zh_hierarchy(int fd) {
  if (zh.hierarchy) zh.hierarchy(fd);
}
void zh_io_abandon() {
  if (zh.io_abandon) zh.io_abandon();
}
void zh_close_all() {
  if (zh.close_all) zh.close_all();
}
void zh_flush(int force) {
  if (zh.flush) zh.flush(force);
}
void zh_screen_cleanup() {
  if (zh.screen_cleanup) zh.screen_cleanup();
}
void zh_screen_control(const char *seq, int len) {
  if (zh.screen_control) zh.screen_control(seq, len);
}
