// line.h: the terminal line as tovelta uses it: the escape sequences and
// data blocks written to the emulator, and the reply lines read back.
#pragma once
#include <sys/types.h>
#include <cstddef>

constexpr int TVLINE_ROOM = 32;       // bytes kept free before block data for its sequence
constexpr int TVLINE_REPLY_MAX = 31;  // characters kept of one reply line

struct tvline_state {
  int in;       // descriptor the replies come from (standard input)
  int out;      // descriptor the sequences and data go to (standard output)
  char intro;   // second byte of every escape sequence
  bool failed;  // a write failed: the line is lost and the transfer with it
};
extern tvline_state tvline;

void tvline_init(int in, int out, char intro);

// Each writes one sequence; false when the write fails (tvline.failed is set).
bool tvline_header(long long size, const char *pcname);
bool tvline_open_request();
bool tvline_end(unsigned ack);
// Sends the count bytes at buf + TVLINE_ROOM as one data block; the
// TVLINE_ROOM bytes before them are overwritten with the block's sequence.
bool tvline_block(unsigned char *buf, int count, unsigned ack);

// Reads one reply line; keeps at most TVLINE_REPLY_MAX characters of it
// (its newline included when it fits) in reply, null-terminated, and
// returns their number.  The rest of a longer line is read and dropped,
// so the next reply starts on the next line.  End of input or a read
// error ends the line.
int tvline_reply(char reply[TVLINE_REPLY_MAX + 1]);
