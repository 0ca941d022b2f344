// proc.cpp: TEMPORARY stand-in for the process table, which the keyboard
// and processes issue builds: no child can be started yet.
#include "run/process/proc.h"

int forkpipe(int) {
  return -70;
}
int termproc(int slot, int) {
  return slot < 1 || slot > PROC_SLOTS ? -73 : -74;
}
