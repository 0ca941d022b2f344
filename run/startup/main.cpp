// main.cpp: the entry of run: start-up, then the command monitor.
#include "run/monitor/monitor.h"
#include "run/startup/startup.h"

int main(int argc, char **argv) {
  argvector = argv;
  init(argc, argv);
  cmd();
}
