// txlog.cpp: TEMPORARY stand-in for the transaction log, which the indexed
// files issue builds; no log is opened yet, so no transaction can begin.
#include "run/files/txlog.h"

int vx_txflag;

int vxtxlogopen(const char *) {
  return 0;
}
