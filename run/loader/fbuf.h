// fbuf.h: the buffered file reader.  One process-wide block of 1024 bytes
// serves one file at a time: the program file while it loads, and the
// text files read whole.  Reads go through fb_sys_read so tests can make
// them fail.
#pragma once

#include <sys/types.h>

constexpr int FBLOCK_SIZE = 1024;   // bytes of the block
constexpr int FBGATHER_SIZE = 512;  // largest request fbread_p2 gathers

struct fbuf_state {
  unsigned char fblock[FBLOCK_SIZE];    // the block
  int fsize;                            // bytes held in the block
  int fnext;                            // next unread byte in the block
  unsigned char gather[FBGATHER_SIZE];  // requests that straddle blocks
};
extern fbuf_state fb;

// The read used to fill the block; tests replace it.
extern ssize_t (*fb_sys_read)(int fd, void *buf, size_t n);

// Empties the block for a new file.
void fbinit();
// Run by fbinit before a file is read: the printer layer sets it to send
// what it still holds (a listing may be read back); null: nothing to do.
extern void (*fb_flush_hook)();
// Empties the block after the file is done with.
void fbend();
// Copies nbytes into ptr; returns the count copied (less at end of file)
// or the negative read result.
int fbread(int fd, void *ptr, int nbytes);
// A pointer into the block to at most *nbytes bytes; *nbytes becomes the
// count.  Null at end of file (*nbytes 0) or on a read error (negative).
const unsigned char *fbread_p(int fd, int *nbytes);
// Exactly *nbytes bytes (at most FBGATHER_SIZE), gathered when they
// straddle two blocks; *nbytes becomes the count obtained (less at end of
// file, negative on a read error or a request too large).
const unsigned char *fbread_p2(int fd, int *nbytes);
// One line, up to and including its line feed, into ptr, terminated with
// NUL: at most nbytes characters (ptr holds nbytes + 1); a longer line
// comes in pieces, and a block of 1024 bytes without a line feed is
// returned as it is.  The count, 0 at end of file, negative on an error.
int fbgets(int fd, char *ptr, int nbytes);
// The logical position: the file's position less the bytes still unread.
off_t fbtell(int fd);
// Collects nbytes for writing, writing the block whenever it is full;
// nbytes, or the negative result of a failed write (an interrupted call
// when the break key was pressed).
int fbwrite(int fd, const void *ptr, int nbytes);
// Writes what the block still holds; 0 or the negative result.
int fbterm(int fd);
