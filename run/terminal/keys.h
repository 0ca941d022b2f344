// keys.h: keyboard input: the key-sequence table and the key reader.
#pragma once

// Builds the table of function-key sequences from the capabilities.
void realloc_ctrl_keys();

// Reads one key and returns its internal key code; mode 1 does not wait
// when no key is there (-1 then).  A negative result other than -1 is an
// I/O error.
int get_char(int mode);
