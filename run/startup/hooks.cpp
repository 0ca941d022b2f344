// hooks.cpp: the hand-over of each layer of run to the layers above it.
// Every library calls only those below it; where a lower one must reach
// an upper one it calls through a hook, and this is where start-up sets
// them all, in layer order.

#include "run/base/runstate.h"
#include "run/config/cfhooks.h"
#include "run/files/files.h"
#include "run/files/iostmt.h"
#include "run/files/zioc.h"
#include "run/interp/zhooks.h"
#include "run/intrin/intr.h"
#include "run/loader/fbuf.h"
#include "run/monitor/monitor.h"
#include "run/process/proc.h"
#include "run/startup/startup.h"
#include "run/terminal/conc.h"
#include "run/terminal/kmap.h"
#include "run/terminal/lcap.h"
#include "run/terminal/lp.h"
#include "run/terminal/screen.h"

// the keyboard map and the character types of the configuration
static void read_maps(const char *mapfile, const char *ctypefile) {
  readmap(mapfile);
  readctype(ctypefile);
}

// an open printer sends what it holds before a file is read
static void flush_printer() {
  if (zprlck) lpflush(1);
}

static void flush_screen() {
  zflush(1);
}

void run_hooks() {
  // base: the exit paths
  run_exit2 = exit_restore;
  run_exit3 = exit_release;
  // config: maps, printer entries, the open-file table
  cfg_hooks.maps_reset = kmap_init;
  cfg_hooks.map_block = lcap_map_block;
  cfg_hooks.maps_read = read_maps;
  cfg_hooks.printer_entry = lcap_init;
  cfg_hooks.printer_copy = lcap_copy;
  cfg_hooks.printer_reset = lcap_reset;
  cfg_hooks.units_alloc = fm_alloc_oftable;
  // loader: the printer before a file is read
  fb_flush_hook = flush_printer;
  // dispatch loop: monitor, intrinsics, I/O statements, screen
  zh.debug = debug_it;
  zh.hierarchy = display_hierarchy;
  zh.intr = intr;
  zh.ioinit = ioinit;
  zh.zionbr = zionbr;
  zh.ziostr = ziostr;
  zh.ioterm = ioterm;
  zh.io_abandon = io_abandon;
  zh.close_all = zioc;
  zh.flush = zflush;
  zh.screen_cleanup = sc_cleanup;
  zh.screen_control = sc_control;
  // process table: the screen before a child, the concurrent run's end
  proc_flush_hook = flush_screen;
  proc_exit_hook = conc_note_exit;
}
