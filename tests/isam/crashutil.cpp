// crashutil.cpp: the checker run on a file after each kill.
#include "tests/isam/crashutil.h"

#include "idxaudit/audit.h"

#include <gtest/gtest.h>

#include <cstdio>

bool crash_audit(const std::string &name) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *out = open_memstream(&buf, &len);
  ia_opts o;
  o.answer = 'n';
  o.quiet = true;
  o.out = out;
  int rc = ia_file(name, o);
  std::fclose(out);
  std::string text(buf, len);
  std::free(buf);
  EXPECT_EQ(rc, IA_SOUND) << text;

  return rc == IA_SOUND;
}
