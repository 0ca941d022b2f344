// kmap.cpp: the output translation table.  Reading the keyboard map and
// the character-class files is TEMPORARY: a later issue builds them, and
// until then they leave the identity tables in place.
#include "run/terminal/kmap.h"

uint8_t table_out[257];
uint8_t *table_out_p = table_out;
uint8_t table_in[256];

void kmap_init() {
  if (table_out_p != table_out) delete[] table_out_p;  // a private copy (new[])
  for (int i = 0; i < 256; i++) table_out[i] = table_in[i] = uint8_t(i);
  table_out_p = table_out;
}

int readmap(const char *) {
  return 0;
}
int readctype(const char *) {
  return 0;
}
