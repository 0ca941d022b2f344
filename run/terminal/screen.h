// screen.h: the screen image and its life: start, clean-up, reset of the
// terminal, flushing pending output; zoutnc, the one entry point of the
// screen control language.
#pragma once

// Starts the screen image; 0 when memory runs out.
int sc_init();
// Puts the screen back to normal after a program (attributes, cursor).
void sc_cleanup();
// Resets the terminal before run exits.
void sc_reset();
// Writes n bytes of the screen control language (attributes, erasing).
void sc_control(const char *bytes, int n);
// Interprets n bytes of the screen control language into the screen image:
// print statements, messages, the monitor and the terminal intrinsics.
void zoutnc(const char *bytes, int n);
// zoutnc for one byte.
void zoutc(int ch);
// Sends pending screen output to the terminal; force: even when not due.
void zflush(int force);
