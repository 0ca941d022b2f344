// names.cpp: building directory, base name and full path from a name and
// a unit number.  Owns the path buffers; called by the loader and the file
// layer.
#include "run/loader/names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/config/env.h"
#include "run/config/settings.h"

char vxdirname[VXNAME_MAX + 1];
char vxbasename[VXNAME_MAX + 1];
char fullname[VXPATH_MAX + 1];

bool fmqxu(const char *name) {
  return !(name[0] == '/' || (name[0] == '.' && name[1] == '/'));
}

const char *get_alias(int unit) {
  return unit_alias_dir(unit);
}

// copies at most max characters of src (n of them) and terminates
static void cut_copy(char *dst, const char *src, size_t n, size_t max) {
  if (n > max) n = max;
  std::memcpy(dst, src, n);
  dst[n] = 0;
}

int fmbuildnm(const char *name, unsigned unit, int isRchain) {
  const char *base = name;
  if (fmqxu(name)) {
    const char *alias;
    if (isRchain && rchain_unit && *rchain_unit && std::strlen(rchain_unit) <= VXNAME_MAX)
      cut_copy(vxdirname, rchain_unit, std::strlen(rchain_unit), VXNAME_MAX);
    else if ((alias = get_alias(int(unit))) != nullptr)
      cut_copy(vxdirname, alias, std::strlen(alias), VXNAME_MAX);
    else
      std::snprintf(vxdirname, sizeof vxdirname, "unit%u", unit);
  } else {
    const char *slash = std::strrchr(name, '/');  // a path always has one
    cut_copy(vxdirname, name, size_t(slash - name), VXNAME_MAX);
    base = slash + 1;
  }
  cut_copy(vxbasename, base, std::strlen(base), VXNAME_MAX);
  return int(std::strlen(vxbasename));
}

int fmfulnm(const char *name) {
  if (fmqxu(name)) {
    char cut[VXNAME_MAX + 1];
    cut_copy(cut, name, std::strlen(name), VXNAME_MAX);
    std::snprintf(fullname, sizeof fullname, "%s/%s", vxdirname, cut);
  } else {
    cut_copy(fullname, name, std::strlen(name), VXPATH_MAX);
  }
  return int(std::strlen(fullname));
}
