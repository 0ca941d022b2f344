// kmap.h: keyboard map and character tables.
#pragma once

#include <array>
#include <cstdint>

// output translation table (257 bytes); table_out_p points at the table in
// use, a private copy (made with new[]) once the defaults file starts a
// terminal map
extern uint8_t table_out[257];
extern uint8_t *table_out_p;

// input translation table: byte read from the keyboard -> key code;
// identity until a keyboard map or "MAP=" lines of the defaults file
// change it
extern std::array<uint8_t, 256> table_in;

// Sets the identity tables (start-up, tests).
void kmap_init();
// Reads the keyboard map file (null: none); 0 or an error number.
int readmap(const char *file);
// Reads the character-class file (null: none); 0 or an error number.
int readctype(const char *file);
