// testutil.cpp: helpers shared by the engine's tests.
#include "tests/isam/testutil.h"

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

scratch_dir::scratch_dir() {
  const char *t = getenv("TMPDIR");
  std::string tmpl = std::string(t && *t ? t : "/tmp") + "/isamtest.XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

scratch_dir::~scratch_dir() {
  std::string cmd = "rm -rf '" + path + "'";
  if (system(cmd.c_str()) != 0) return;
}

keydesc char_key(int start, int len, int flags) {
  keydesc k;
  std::memset(&k, 0, sizeof k);
  k.k_flags = short(flags);
  k.k_nparts = 1;
  k.k_part[0].kp_start = short(start);
  k.k_part[0].kp_leng = short(len);
  k.k_part[0].kp_type = CHARTYPE;
  return k;
}

std::string rec_of(const std::string &text, int len) {
  std::string r = text.substr(0, size_t(len));
  r.resize(size_t(len), ' ');
  return r;
}
