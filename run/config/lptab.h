// lptab.h: the printer table.  Each printer variable LPx=entry,... of the
// environment takes one slot (slot 0 is never used, so at most lp_max - 1
// printers); the entry name is the value up to the first "," or ";".
// The order list holds, sorted by entry name, one byte per printer: the
// slot of the first printer of each name, 128 + slot for each further
// printer of the same name, 0 at the end.
#pragma once

struct lp_info;

extern char **lp_env;            // per slot: the printer variable's text, or null
extern int *lp_envlg;            // per slot: length of its entry name
extern lp_info **lp_list;        // per slot: the parsed entry, null: not found
extern unsigned char *lp_order;  // the sorted order list (lp_max + 1 bytes)
extern int lp_cnt;               // number of distinct entry names

// true when the environment entry e is a printer variable
bool lp_is_printer_var(const char *e);
// Allocates the table on first use; 0, or -1 without memory.
int lp_alloc();
// Frees the table (start of env_init, tests).
void lp_reset();
// The slot whose variable is "LP" followed by exactly name (ending at "="
// or the end); else minus the first free slot (-lp_max when full); -1 when
// there is no printer variable at all.
int getlcapidx(const char *name);
// The slot of an LP assignment: its own when the name is there, else the
// first free one; -1 when the table is full.
int addlcapidx(char *assignment);
// Sorts slots 1..n-1 by entry name into order; returns the number of
// distinct names.
int sort_list(char **texts, const int *lengths, int n, unsigned char *order);
// Sorts the entry names, runs the printer pass over the defaults file and
// reports the printers whose entry was not found.
void lp_find_entries();
