// fbuf.cpp: the buffered file reader and writer.  Owns the block fb;
// used by the program loader and the readers and writers of whole text
// files.
#include "run/loader/fbuf.h"

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "run/base/runstate.h"

fbuf_state fb;
ssize_t (*fb_sys_read)(int fd, void *buf, size_t n) = ::read;
void (*fb_flush_hook)() = nullptr;

void fbinit() {
  if (fb_flush_hook) fb_flush_hook();
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

int fbgets(int fd, char *ptr, int nbytes) {
  if (fb.fnext >= fb.fsize) {
    int n = refill(fd);
    if (n <= 0) {
      ptr[0] = 0;
      return n;
    }
  }
  for (;;) {
    int avail = fb.fsize - fb.fnext;
    const void *lf = std::memchr(fb.fblock + fb.fnext, '\n', size_t(avail));
    int len = lf ? int(static_cast<const unsigned char *>(lf) - (fb.fblock + fb.fnext)) + 1 : avail;
    // without a line feed: fill the block behind what is left, unless it
    // is full already
    if (!lf && fb.fnext > 0 && len < nbytes) {
      std::memmove(fb.fblock, fb.fblock + fb.fnext, size_t(avail));
      fb.fsize = avail;
      fb.fnext = 0;
      ssize_t n;
      do n = fb_sys_read(fd, fb.fblock + avail, size_t(FBLOCK_SIZE - avail));
      while (n < 0 && errno == EINTR);
      if (n < 0) return int(n);
      fb.fsize += int(n);
      if (n > 0) continue;
    }
    if (len > nbytes) len = nbytes;
    std::memcpy(ptr, fb.fblock + fb.fnext, size_t(len));
    ptr[len] = 0;
    fb.fnext += len;
    return len;
  }
}

off_t fbtell(int fd) {
  off_t at = lseek(fd, 0, SEEK_CUR);
  return at < 0 ? at : at - (fb.fsize - fb.fnext);
}

// writes the block out; 0 or the negative result
static int flush_block(int fd) {
  int done = 0;
  while (done < fb.fsize) {
    ssize_t n = write(fd, fb.fblock + done, size_t(fb.fsize - done));
    if (n < 0 && errno == EINTR && !zresc) continue;
    if (n <= 0) {
      if (zresc) errno = EINTR;
      return n < 0 ? int(n) : -1;
    }
    done += int(n);
  }
  fb.fsize = 0;
  fb.fnext = 0;
  return 0;
}

int fbwrite(int fd, const void *ptr, int nbytes) {
  auto *in = static_cast<const unsigned char *>(ptr);
  for (int done = 0; done < nbytes;) {
    if (fb.fsize == FBLOCK_SIZE) {
      int r = flush_block(fd);
      if (r < 0) return r;
    }
    int take = FBLOCK_SIZE - fb.fsize;
    if (take > nbytes - done) take = nbytes - done;
    std::memcpy(fb.fblock + fb.fsize, in + done, size_t(take));
    fb.fsize += take;
    done += take;
  }
  return nbytes;
}

int fbterm(int fd) {
  return flush_block(fd);
}
