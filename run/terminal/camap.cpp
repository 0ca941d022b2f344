// camap.cpp: the colour/attribute map.  The att byte of every screen cell
// is a code into this table; the refresh turns it into terminal attributes
// and colours.  Owns camap_tab, camap_size, norm_attribute and camap_upd.
// inicap fills codes 0-15 with the sixteen attribute combinations; the
// colour intrinsic changes entries at run time and sets camap_upd.
#include <cstdlib>
#include <cstring>

#include "run/terminal/tcap.h"

camap_ent *camap_tab;
int camap_size;
int norm_attribute;
int camap_upd;

static constexpr camap_ent camap_def = {0, 255, 255};
static constexpr camap_ent camap_unknown = {255, 255, 255};

camap_ent camap_get(int code) {
  if (code == CA_UNKNOWN) return camap_unknown;
  if (code == CA_NORMAL) return camap_def;
  if (code < 0 || code >= camap_size) code = 0;
  return camap_size > 0 ? camap_tab[code] : camap_def;
}

int set_camap(int code, int att, int fg, int bg) {
  if (code < 0) return -1;
  if (code >= camap_size) {
    int size = (code + 16) / 16 * 16;
    void *p = std::realloc(camap_tab, size_t(size) * sizeof(camap_ent));
    if (!p) return -1;
    camap_tab = static_cast<camap_ent *>(p);
    std::memset(camap_tab + camap_size, 0, size_t(size - camap_size) * sizeof(camap_ent));
    camap_size = size;
  }
  if (code == 0) norm_attribute = att == 0 && fg == -1 && bg == -1 ? 0 : CA_NORMAL;
  camap_tab[code] = {uint8_t(att), uint8_t(fg), uint8_t(bg)};
  return 0;
}

void camap_reset_for_test() {
  std::free(camap_tab);
  camap_tab = nullptr;
  camap_size = 0;
  norm_attribute = 0;
  camap_upd = 0;
}
