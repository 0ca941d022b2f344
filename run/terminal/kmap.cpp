// kmap.cpp: the output translation table.  Reading the keyboard map and
// the character-class files is TEMPORARY: a later issue builds them, and
// until then they leave the identity tables in place.
#include "run/terminal/kmap.h"

static constexpr std::array<uint8_t, 256> identity() {
  std::array<uint8_t, 256> t = {};
  for (int i = 0; i < 256; i++) t[std::size_t(i)] = uint8_t(i);
  return t;
}

std::array<uint8_t, 256> table_in = identity();
uint8_t table_out[257];
uint8_t *table_out_p = table_out;

void kmap_init() {
  if (table_out_p != table_out) delete[] table_out_p;  // a private copy (new[])
  table_in = identity();
  for (int i = 0; i < 256; i++) table_out[i] = uint8_t(i);
  table_out_p = table_out;
}

int readmap(const char *) {
  return 0;
}
int readctype(const char *) {
  return 0;
}
