// lcap.h: printer capability entries and the terminal's character map,
// parsed from the defaults file.
#pragma once

struct lp_info;  // one parsed printer entry

// Parses the entry that follows in the defaults file (read through
// deflt_getline) for printer slot, or the terminal map for slot -1.
// Returns the line it stopped on when that line begins "))", else null.
const char *lcap_init(int slot);
// Makes printer slot to share the entry parsed for slot from.
void lcap_copy(int to, int from);
