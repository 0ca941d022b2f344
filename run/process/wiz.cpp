// wiz.cpp: TEMPORARY stand-in for the shared buffer, which a later issue
// builds; the buffer is never opened yet, so there is nothing to log off.
#include "run/process/wiz.h"

int wizfd = -1;

void zcblogout() {}
