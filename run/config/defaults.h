// defaults.h: the system-wide defaults file: its line reader and the two
// passes over it (settings, printer entries).
#pragma once

#include <sys/types.h>

constexpr int DEFLT_LINE_MAX = 1023;  // characters of a line before its newline

extern const char *def_name;  // the defaults file: VXDEFAULT or the system one
extern int deflt_fd;          // open defaults file, -1 when it failed to open
extern int deflt_lineno;      // number of the line last read (from 1)

// Opens def_name; false when it cannot be opened.
bool deflt_open();
void deflt_close();
// The next line without its newline (and a carriage return before it), or
// null at the end of the file.  A line over DEFLT_LINE_MAX characters is
// passed over whole with a start-up message.  Valid until the next call.
const char *deflt_getline();
// Makes the next deflt_getline return the line last read once more.
void deflt_unget();
// Byte offset in the file after the line last read; moving back there.
off_t deflt_tell();
void deflt_seek(off_t pos);

// The first pass: settings of the SYSTEM block and of the own terminal's
// block; 0, or -1 when memory runs out.
int deflt_settings(const char *term);
// Position after the last "[PRINTER]" header (0 when none).
extern off_t deflt_printer_pos;
extern int deflt_printer_line;
