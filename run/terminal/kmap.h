// kmap.h: keyboard map and character tables: the input and output
// translation tables, the output strings, the case table and the
// character classes, and the readers of the keyboard map file (VXMAP) and
// the character-type file (VXCTYPE).
#pragma once

#include <array>
#include <cstdint>

// output translation table (257 bytes): character -> byte sent, 0 = send
// the character's output string; table_out_p points at the table in use,
// a private copy (made with new[]) once a keyboard map or the defaults
// file's terminal map changes it
extern uint8_t table_out[257];
extern uint8_t *table_out_p;

// input translation table: byte read from the keyboard -> key code;
// identity until a keyboard map or "MAP=" lines of the defaults file
// change it
extern std::array<uint8_t, 256> table_in;

// Output strings of the keyboard map; all null when it defines none.
// tab_out_2 lists the characters that have one, ended by a zero byte; the
// string of tab_out_2[i] is tab_out_4[tab_out_3[i]] up to (not including)
// tab_out_4[tab_out_3[i + 1]].  Character 0 never has a string.
extern const uint8_t *tab_out_2;
extern const uint16_t *tab_out_3;
extern const uint8_t *tab_out_4;

// Case partners, indexed by character + 1 (index 0 stands for EOF): the
// upper-case partner of a lower-case letter, the lower-case partner of an
// upper-case one, 0 for the rest.
extern uint8_t vx_uclc[257];
// Character classes from the VXCTYPE file, indexed by character + 1.
extern uint8_t vx_ctype[257];
constexpr uint8_t VXC_B = 1;  // letter "B"
constexpr uint8_t VXC_C = 2;  // letter "C"
constexpr uint8_t VXC_P = 4;  // letter "P"

constexpr int KMAP_LINE_MAX = 32751;  // longest line of a map or type file

// Sets the identity tables, drops the output strings and builds the case
// table (start-up, tests).
void kmap_init();

// Reads the keyboard map file: the input, output, compose and dead
// sections.  Nothing happens when file is null, empty or cannot be read.
// Each bad line is reported as "error in VXMAP=name, line n: message" and
// counted in msg_count (a line longer than KMAP_LINE_MAX is skipped as
// "line too long"); returns the number of such messages.  No memory
// for the output strings ends the process.
int readmap(const char *file);

// Builds the case table from the character classes of the C library (the
// user's LC_CTYPE), then reads the character-type file when file names
// one that can be read.  0, or -1 when the file cannot be read.
int readctype(const char *file);

// Reads one value of a map line at *p (0x41, 0101, 65, 'A', '\101',
// '\x41', '\A'), taken modulo 256, and moves *p past it and the white
// space behind it: the value, or -1 for an illegal one.  When the text
// after a value does not fit its form, or the value is illegal, *p moves
// to the end of the text.
int read_value(const char **p);

// The output string of character c: its length, *bytes pointing at it;
// -1 when c has none.
int kmap_outstr(int c, const uint8_t **bytes);

// Case conversion through vx_uclc: a character the C library classes as
// lower case (toupper) or upper case (tolower) becomes its partner; every
// other character stays.  The string forms convert in place and return s.
int vx_toupper(int c);
int vx_tolower(int c);
char *vx_strupr(char *s);
char *vx_strlwr(char *s);
