// modes.h: the two terminal modes tovelta changes on its standard input's
// terminal: echo (off while the emulator answers) and output
// post-processing (off while data blocks pass).
#pragma once

// Each switches one mode of the terminal on descriptor 0; a descriptor
// that is no terminal is left alone.  A restore gives the mode back the
// state it had before the matching switch (nothing when there was none).
void tvmode_echo_off();
void tvmode_opost_off();
void tvmode_opost_restore();
void tvmode_echo_restore();

// Interrupt, quit, terminate and hang-up restore whatever is switched off,
// then end the process as the signal would have.
void tvmode_catch_signals();
