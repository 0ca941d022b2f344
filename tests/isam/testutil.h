// testutil.h: helpers shared by the engine's tests: a scratch directory,
// key descriptions, record builders.
#pragma once

#include "isam/isam.h"

#include <string>

// A fresh directory under TMPDIR, removed with its files by the destructor.
struct scratch_dir {
  std::string path;
  scratch_dir();
  ~scratch_dir();
  std::string file(const char *name) const { return path + "/" + name; }
};

// A one-part character key.
keydesc char_key(int start, int len, int flags);

// A record of len bytes: text at offset 0, blanks after.
std::string rec_of(const std::string &text, int len);
