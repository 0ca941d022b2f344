// zioc.cpp: ending all I/O of the program: at exit, when a program stops,
// after an untrapped error and before a failed chain.
//
// The children of the process table are let go without waiting for them;
// the process-table work decides which of its slots the input and output
// pipes use and how they end.
#include "run/files/zioc.h"

#include <csignal>

#include "run/files/fm.h"
#include "run/files/iostmt.h"
#include "run/process/proc.h"
#include "run/terminal/lp.h"

void zioc() {
  struct sigaction ign = {}, old_hup = {}, old_term = {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  sigaction(SIGHUP, &ign, &old_hup);
  sigaction(SIGTERM, &ign, &old_term);
  for (int slot = 1; slot <= PROC_SLOTS; slot++) termproc(slot, '0');
  if (zprlck) zclpr();
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CLOSEALL;
  fm(&cb);
  io_abandon();
  sigaction(SIGHUP, &old_hup, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
}
