// globals.cpp: the engine's global variables.
#include "isam/isam.h"

int ismaxfds;
int isdupsiz = 2;
