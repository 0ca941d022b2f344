// txlog.cpp: TEMPORARY stand-in for the transaction log, which the indexed
// files issue builds; no log is opened yet.
#include "run/files/txlog.h"

int vxtxlogopen(const char *) {
  return 0;
}
