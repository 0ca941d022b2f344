// isio.cpp: the engine's system calls: open, close, positioned reads and
// writes, region locks.  Everything the engine asks of the operating
// system passes here, so tests can make a chosen write fail.
#include "isam/isintern.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>

static int plain_fcntl(int fd, int cmd, struct flock *fl) {
  return fcntl(fd, cmd, fl);
}

int (*islockfn)(int fd, int cmd, struct flock *fl) = plain_fcntl;

namespace isam {

struct io_state {
  int fail_nth;  // the write that fails, counted down; 0 = none
  int fail_err;  // errno it fails with; -1: the process ends there instead
};
static io_state io = {0, 0};

void io_fail_write_for_test(int nth, int err) {
  io.fail_nth = nth;
  io.fail_err = err;
}

// The chosen write has come: fail it, or end the process as a kill would.
[[noreturn]] static void io_fail(int filecode) {
  if (io.fail_err < 0) _exit(137);
  iserrio = IO_WRIT + filecode;
  is_throw(io.fail_err);
}

void io_write_hook(int filecode) {
  if (io.fail_nth > 0 && --io.fail_nth == 0) io_fail(filecode);
}

// A test that ends the process at its nth write also ends it between the
// stores that make up one write through a mapping.
void io_crash_point() {
  if (io.fail_err < 0 && io.fail_nth > 0 && --io.fail_nth == 0) _exit(137);
}

int io_open(const char *path, int flags, int perm) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, perm);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void io_close(int fd) {
  if (fd >= 0) ::close(fd);
}

// Reads len bytes at off; bytes past the end of the file read as zeros.
void io_pread(int fd, void *buf, size_t len, int64_t off, int filecode) {
  auto *p = static_cast<unsigned char *>(buf);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(fd, p + done, len - done, off + int64_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      iserrio = IO_READ + filecode;
      is_throw(errno);
    }
    if (n == 0) break;
    done += size_t(n);
  }
  if (done < len) std::memset(p + done, 0, len - done);
}

void io_pwrite(int fd, const void *buf, size_t len, int64_t off, int filecode) {
  if (io.fail_nth > 0 && --io.fail_nth == 0) io_fail(filecode);
  auto *p = static_cast<const unsigned char *>(buf);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd, p + done, len - done, off + int64_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      iserrio = IO_WRIT + filecode;
      is_throw(n < 0 ? errno : ENOSPC);
    }
    done += size_t(n);
  }
}

void io_pwrite3(int fd, const void *a, size_t alen, const void *b, size_t blen, const void *c,
                size_t clen, const void *d, size_t dlen, int64_t off, int filecode) {
  if (io.fail_nth > 0 && --io.fail_nth == 0) io_fail(filecode);
  struct iovec v[4] = {{const_cast<void *>(a), alen},
                       {const_cast<void *>(b), blen},
                       {const_cast<void *>(c), clen},
                       {const_cast<void *>(d), dlen}};
  int first = 0;
  while (first < 4 && v[first].iov_len == 0) first++;
  while (first < 4) {
    ssize_t n = ::pwritev(fd, v + first, 4 - first, off_t(off));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      iserrio = IO_WRIT + filecode;
      is_throw(n < 0 ? errno : ENOSPC);
    }
    off += n;
    size_t left = size_t(n);
    while (first < 4 && left >= v[first].iov_len) {
      left -= v[first].iov_len;
      first++;
    }
    if (first < 4) {  // a piece written part-way
      v[first].iov_base = static_cast<char *>(v[first].iov_base) + left;
      v[first].iov_len -= left;
    }
  }
}

// Allocates disk blocks for [off, off + len) without changing the file's
// size.  False when the file system cannot do it.
bool io_reserve(int fd, int64_t off, int64_t len, int filecode) {
  if (io.fail_nth > 0 && --io.fail_nth == 0) io_fail(filecode);
  int rc;
  do {
    rc = fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(off), off_t(len));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) return false;
  iserrio = IO_WRIT + filecode;
  is_throw(errno);
}

// Extends a file from size from to size to with allocated (zero) blocks.
// False when the file system cannot.
bool io_extend(int fd, int64_t from, int64_t to, int filecode) {
  if (io.fail_nth > 0 && --io.fail_nth == 0) io_fail(filecode);
  int rc;
  do {
    rc = fallocate(fd, 0, off_t(from), off_t(to - from));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) return false;
  iserrio = IO_WRIT + filecode;
  is_throw(errno);
}

void io_sync_size(int fd, int64_t *size) {
  struct stat st;
  if (fstat(fd, &st) != 0) is_throw(errno);
  *size = st.st_size;
}

// One region-lock request through islockfn.  Returns 0, or -1 with errno;
// for F_GETLK returns 1 when another process holds a conflicting lock
// (its process id in *holder).
int io_lock(int fd, int cmd, short type, int64_t off, int64_t len, pid_t *holder) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(off);
  fl.l_len = off_t(len);
  int rc;
  do {
    rc = islockfn(fd, cmd, &fl);
  } while (rc < 0 && errno == EINTR && cmd == F_SETLKW);
  if (cmd == F_GETLK && rc == 0) {
    if (fl.l_type == F_UNLCK) return 0;
    if (holder) *holder = fl.l_pid;
    return 1;
  }
  return rc;
}

}  // namespace isam
