// cfhooks.h: the hand-offs of the configuration reader to the layers
// above it: the keyboard and character maps, the printer-entry parser and
// the open-file table.  Start-up sets them before env_init; each one left
// null is passed over (no maps, no printer entries, no file table).
#pragma once

struct cfg_hooks_t {
  // the keyboard and character maps back to their built-in tables
  void (*maps_reset)();
  // the "MAP=" block of the defaults file, from the line last read; the
  // line it stopped on when that is "))", else null
  const char *(*map_block)();
  // reads the map file and the character-type file (each may be null)
  void (*maps_read)(const char *mapfile, const char *ctypefile);
  // the printer entry that starts after the line last read, for slot;
  // its copy for a further slot of the same name; forgetting every entry
  const char *(*printer_entry)(int slot);
  void (*printer_copy)(int from, int to);
  void (*printer_reset)();
  // the open-file table for units file units; 0, or -1 without memory
  int (*units_alloc)(int units);
};
extern cfg_hooks_t cfg_hooks;
