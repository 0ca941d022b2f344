// lp.h: printer output: the printer unit's open and close, the bytes of
// print lines, and the pipe starters used for the spooler, the pager and
// the keystroke pipes.
#pragma once

extern int zprlck;  // 1 while the printer is open

// Opens the printer in the current printer mode (zrrpo, or the mode the
// OPEN statement gave); an I/O error is recorded for the statement.
void zoppr();
// Closes the printer when it is open.
void zclpr();
// Collects one byte of a print line.
void char_to_lp(int ch);
// Prints the collected line when uncond is set or it ends a line, and
// writes the printer buffer out.
void lpflush(int uncond);
