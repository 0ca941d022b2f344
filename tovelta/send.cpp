// send.cpp: the file being sent.  Owns the input descriptor, the input
// buffer of text mode and the block buffer; used by main.
//
// Binary mode sends the file as it is, block-size bytes per block (the
// last one shorter).  Text mode puts a CR before every LF whose previous
// byte in the file is not CR (the byte before the first counts as 0), and
// sends a block as soon as the buffer holds block-size bytes or more, so a
// block that ends in an inserted CR LF holds block size + 1 bytes.
#include "tovelta/send.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "tovelta/line.h"

ssize_t (*tvsend_read_for_test)(int, void *, size_t) = read;

struct tvsend_state {
  int fd;                                                // the open file, -1 when none
  bool end;                                              // end of file or a read error
  bool error;                                            // a read failed
  size_t pos, len;                                       // unread part of in
  unsigned char in[65536];                               // text mode reads through this
  unsigned char out[TVLINE_ROOM + TVOPT_BLOCK_MAX + 1];  // sequence room, then block data
};
static tvsend_state tvsend = {-1, false, false, 0, 0, {}, {}};

// Reads up to n bytes, as many as the file gives; fewer only at its end or
// on a read error, which both end the input.
static size_t fill(unsigned char *p, size_t n) {
  size_t got = 0;
  while (got < n && !tvsend.end) {
    ssize_t r = tvsend_read_for_test(tvsend.fd, p + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      tvsend.end = true;
      tvsend.error = r < 0;
    } else {
      got += size_t(r);
    }
  }
  return got;
}

// Next byte of the file through the input buffer, -1 at its end.
static int next_byte() {
  if (tvsend.pos == tvsend.len) {
    tvsend.pos = 0;
    tvsend.len = fill(tvsend.in, sizeof tvsend.in);
    if (tvsend.len == 0) return -1;
  }
  return tvsend.in[tvsend.pos++];
}

static void rewind_input() {
  tvsend.end = tvsend.error = false;
  tvsend.pos = tvsend.len = 0;
}

// Text-mode size: every byte, plus the CR that goes before a lone LF.
static long long text_size() {
  long long size = 0;
  int c, prev = 0;
  while ((c = next_byte()) >= 0) {
    size += (c == '\n' && prev != '\r') ? 2 : 1;
    prev = c;
  }
  return size;
}

int tvsend_open(const char *unixname, bool text, long long *size) {
  int fd;
  while ((fd = open(unixname, O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  struct stat st;
  if (fd < 0) return -1;
  tvsend.fd = fd;
  rewind_input();
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok && text) {
    *size = text_size();
    ok = !tvsend.error && lseek(fd, 0, SEEK_SET) == 0;
  } else if (ok) {
    off_t end = lseek(fd, 0, SEEK_END);
    *size = end;
    ok = end >= 0 && lseek(fd, 0, SEEK_SET) == 0;
  }
  rewind_input();
  if (!ok) tvsend_close();
  return ok ? 0 : -1;
}

void tvsend_close() {
  if (tvsend.fd >= 0) close(tvsend.fd);
  tvsend.fd = -1;
}

// One data block of count bytes, then its reply when acknowledgements are on.
static bool block(int count, unsigned ack) {
  if (!tvline_block(tvsend.out, count, ack)) return false;
  if (ack) {
    char reply[TVLINE_REPLY_MAX + 1];
    tvline_reply(reply);
  }
  return true;
}

static bool send_binary(const tvopt_options &o) {
  while (!tvsend.end) {
    size_t n = fill(tvsend.out + TVLINE_ROOM, size_t(o.block));
    if (n > 0 && !block(int(n), o.ack)) return false;
  }
  return true;
}

static bool send_text(const tvopt_options &o) {
  unsigned char *buf = tvsend.out + TVLINE_ROOM;
  int n = 0, c, prev = 0;
  while ((c = next_byte()) >= 0) {
    if (c == '\n' && prev != '\r') buf[n++] = '\r';
    buf[n++] = (unsigned char)c;
    prev = c;
    if (n >= o.block) {
      if (!block(n, o.ack)) return false;
      n = 0;
    }
  }
  return n == 0 || block(n, o.ack);
}

bool tvsend_data(const tvopt_options &o) {
  rewind_input();
  return o.text ? send_text(o) : send_binary(o);
}
