// audit.h: the checker and repairer of indexed files, as a library: the
// command idxaudit and the engine's tests use it.
#pragma once

#include <cstdio>
#include <string>

// What idxaudit is asked to do with each file.
struct ia_opts {
  int answer = 0;        // 'y' repair without asking, 'n' never repair, 0 ask
  int list = 0;          // list the entries of this index (1-based), 0 none
  int nodesize = 0;      // rebuild with this node size, 0 keep it
  bool rebuild = false;  // rebuild the indexes and free lists even when sound
  bool quiet = false;    // no line for a sound file
  FILE *out = stdout;    // findings and listings
  FILE *in = stdin;      // answers to the questions
};

// Exit statuses, for one file and for the command (the worst of its files).
enum { IA_SOUND = 0, IA_REPAIRED = 1, IA_DAMAGED = 2, IA_ERROR = 3 };

// Checks (and repairs, lists, rebuilds) the indexed file NAME (without
// suffix); returns one of the exit statuses.
int ia_file(const std::string &name, const ia_opts &o);
