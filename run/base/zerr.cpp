// zerr.cpp: raising runtime errors.  Every runtime error of run leaves
// through zraise; the recovery point of the dispatch loop catches it.
#include "run/base/interp.h"

void zraise(int number) {
  throw zerror_jump{number};
}

char errfile[ERRFILE_LEN];
uint8_t zcod;
uint32_t expr_stack;
uint32_t expr_stack_save;
unsigned zrcod2;
int spsssw;
int zfl_pcnt;
int zerrn;
