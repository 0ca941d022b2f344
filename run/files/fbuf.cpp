// fbuf.cpp: the buffered file reader.  Owns the block fb; used by the
// program loader and the readers of whole text files.
#include "run/files/fbuf.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>

fbuf_state fb;
ssize_t (*fb_sys_read)(int fd, void *buf, size_t n) = ::read;

void fbinit() {
  fbend();
}

void fbend() {
  fb.fsize = 0;
  fb.fnext = 0;
}

// refills the empty block; returns the bytes read, 0 at end, or negative
static int refill(int fd) {
  ssize_t n;
  do {
    n = fb_sys_read(fd, fb.fblock, FBLOCK_SIZE);
  } while (n < 0 && errno == EINTR);
  fb.fnext = 0;
  fb.fsize = n > 0 ? int(n) : 0;
  return int(n);
}

int fbread(int fd, void *ptr, int nbytes) {
  auto *out = static_cast<unsigned char *>(ptr);
  int done = 0;
  while (done < nbytes) {
    if (fb.fnext >= fb.fsize) {
      int n = refill(fd);
      if (n < 0) return n;
      if (n == 0) break;
    }
    int take = fb.fsize - fb.fnext;
    if (take > nbytes - done) take = nbytes - done;
    std::memcpy(out + done, fb.fblock + fb.fnext, size_t(take));
    fb.fnext += take;
    done += take;
  }
  return done;
}

const unsigned char *fbread_p(int fd, int *nbytes) {
  if (fb.fnext >= fb.fsize) {
    int n = refill(fd);
    if (n <= 0) {
      *nbytes = n;
      return nullptr;
    }
  }
  int take = fb.fsize - fb.fnext;
  if (take > *nbytes) take = *nbytes;
  const unsigned char *p = fb.fblock + fb.fnext;
  fb.fnext += take;
  *nbytes = take;
  return p;
}

const unsigned char *fbread_p2(int fd, int *nbytes) {
  int want = *nbytes;
  if (want < 0 || want > FBGATHER_SIZE) {
    *nbytes = -1;
    return nullptr;
  }
  if (fb.fsize - fb.fnext >= want) return fbread_p(fd, nbytes);
  int got = fbread(fd, fb.gather, want);
  *nbytes = got;
  return got < 0 ? nullptr : fb.gather;
}
