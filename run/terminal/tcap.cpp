// tcap.cpp: TEMPORARY stand-in for the terminal capabilities read from
// terminfo, which a later issue builds.  Only the output speed kept by the
// terminal-mode code lives here for now.
#include "run/terminal/tcap.h"

unsigned ztc_ospeed;

void inicap() {}
