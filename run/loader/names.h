// names.h: unit-relative names and paths.  A unit is a directory: its
// alias from the environment, else "unit" and the number.  The path
// buffers are overwritten by every name operation.
#pragma once

constexpr int VXNAME_MAX = 255;  // longest directory or base name
constexpr int VXPATH_MAX = 511;  // longest full path

extern char vxdirname[VXNAME_MAX + 1];   // directory of the last name built
extern char vxbasename[VXNAME_MAX + 1];  // base name of the last name built
extern char fullname[VXPATH_MAX + 1];    // full path of the last name built

// true when name is unit-relative: empty, or not beginning "/" or "./"
bool fmqxu(const char *name);
// Fills vxdirname and vxbasename; returns the length of the base name.
int fmbuildnm(const char *name, unsigned unit, int isRchain);
// The alias directory of unit, or null.
const char *get_alias(int unit);
// Fills fullname from name and vxdirname; returns its length.
int fmfulnm(const char *name);
