// keys.cpp: TEMPORARY stand-in for the key-sequence table, which the
// keyboard issue builds.
#include "run/terminal/keys.h"

void realloc_ctrl_keys() {}
