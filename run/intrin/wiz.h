// wiz.h: the buffer shared by all run processes of a machine (the
// "wizard" buffer) and the statement that reaches it (intrinsic 29).
//
// The buffer file (W, default "wizardbuf"), always read and written as
// one block of zcbsiz + 2 bytes from offset 0, under lockf locks on that
// range:
//
//   offset  size     content
//   0       2        processes that have the buffer open, big-endian
//   2       zcbsiz   the data bytes (VXWIZBUFLEN, default 200)
//
// The block's image in memory is at zcom in the memory image; a string
// variable bound to the buffer points at its data bytes.
#pragma once

// The module's state.
struct wiz_data {
  int locked;  // 1 while this process holds the lock on the block
};
extern wiz_data wiz;
// descriptor of the shared-buffer file, -1 until the first bind
extern int wizfd;

// The statement with argc arguments (1 or 2, else 104) on the expression
// stack: the function number, then an optional string or non-negative
// number on top.
//   0  bind the string variable (a variable-length string) to the buffer
//   1  write back and unlock          2  nothing
//   8  start a concurrent run         9  end the program (exit code)
//   10 keystroke playback from the command (none: end it)
//   11 keystroke capture into the command (none: end it)
// Other functions, a missing or wrong argument, a command over 79
// characters: 104.  105 when the break key ends a wait for the lock.
void wizard(int argc);

// Binds the string variable whose descriptor is at desc to the buffer:
// zcbsiz characters when this process gets the lock without waiting, an
// empty string when another process (or this one, not yet written back)
// holds it.  Opens the file and logs on at the first call.
void get_wizard(unsigned desc);
// Writes the block back and releases the lock, when this process holds it.
void zcbunl();
// At exit: writes back and unlocks, then takes this process off the
// buffer's count.
void zcblogout();
