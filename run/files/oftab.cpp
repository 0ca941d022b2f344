// oftab.cpp: the open-file table, allocated once at start-up and kept for
// the life of the process.  Allocating it starts the file layer: the ISAM
// engine's region locks go through fcntL from then on, so that a refused
// lock of the engine names its holder in lk_pid as ours do.
#include <cstdlib>

#include "run/files/files.h"
#include "run/files/flock.h"

oftentry *oftable;
int oftable_len;

int fm_alloc_oftable(int n) {
  auto *t = static_cast<oftentry *>(std::calloc(size_t(n), sizeof(oftentry)));
  if (!t) return -1;
  std::free(oftable);
  oftable = t;
  oftable_len = n;
  for (int i = 0; i < n; i++) oftable[i].lock_entry = -1;
  islockfn = fcntL;
  return 0;
}
