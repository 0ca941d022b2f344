// lcap.cpp: TEMPORARY stand-in for the printer-entry parser, which a later
// issue builds.  It passes over the entry (up to its "))" line) and marks
// the printer's entry as found, with no capabilities.
#include "run/terminal/lcap.h"

#include <cstring>

#include "run/startup/defaults.h"
#include "run/startup/lptab.h"
#include "run/startup/settings.h"

struct lp_info {
  int found;  // the entry was seen in the defaults file
};

static lp_info found_entry = {1};

const char *lcap_init(int slot) {
  if (slot > 0 && slot < lp_max) lp_list[slot] = &found_entry;
  while (const char *line = deflt_getline())
    if (std::strncmp(line, "))", 2) == 0) return line;
  return nullptr;
}

void lcap_copy(int to, int from) {
  lp_list[to] = lp_list[from];
}
