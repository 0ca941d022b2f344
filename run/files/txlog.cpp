// txlog.cpp: the transaction log of indexed files (txlog.h), opened once
// at start-up when VXTXLOG names it; the engine creates a missing log.
#include "run/files/txlog.h"

#include <string>

#include "isam/isam.h"
#include "run/base/zsmsg.h"
#include "run/files/irec.h"

int vx_txflag;

int vxtxlogopen(const char *name) {
  if (!name || !*name) return 0;
  if (islogopen(name) == 0) {
    vx_txflag = 2;
    return 0;
  }
  ierrprt(iserrno);
  zsmsg(("Could not open VXTXLOG=" + std::string(name) + "\n\r").c_str());
  return 1;
}
