// oftab.cpp: the open-file table, allocated once at start-up and kept for
// the life of the process.
#include <cstdlib>

#include "run/files/files.h"

oftentry *oftable;
int oftable_len;

int fm_alloc_oftable(int n) {
  auto *t = static_cast<oftentry *>(std::calloc(size_t(n), sizeof(oftentry)));
  if (!t) return -1;
  std::free(oftable);
  oftable = t;
  oftable_len = n;
  return 0;
}
