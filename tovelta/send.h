// send.h: the file tovelta sends: its size as announced to the emulator
// and the data phase that cuts it into blocks.
#pragma once
#include <sys/types.h>
#include <cstddef>

#include "tovelta/args.h"

// Opens the file for reading and works out the number of bytes the emulator
// will receive (in text mode one more for every LF not preceded by CR).
// Only a regular file can be measured in advance; anything else, or a read
// error while measuring, counts as a file that cannot be opened.
// 0, or -1 when it cannot be sent.
int tvsend_open(const char *unixname, bool text, long long *size);

// Sends the open file as data blocks, reading a reply line after each when
// ack is non-zero.  A failed read ends the data phase like the file's end.
// False when a write to the line failed.
bool tvsend_data(const tvopt_options &o);

// Closes the file.
void tvsend_close();

// The read call of the data phase; tests put a failing one in.
extern ssize_t (*tvsend_read_for_test)(int fd, void *buf, size_t n);
