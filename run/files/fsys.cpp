// fsys.cpp: the table of system calls of the file layer (fsys.h).
#include "run/files/fsys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

static int sys_open(const char *path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
static int sys_lock(int fd, int cmd, struct flock *fl) {
  return ::fcntl(fd, cmd, fl);
}
static int sys_stat(const char *path, struct stat *st) {
  return ::stat(path, st);
}
static int sys_reserve(int fd, off_t off, off_t len) {
  return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, off, len);
}
static int sys_touch(const char *path) {
  return ::utimensat(AT_FDCWD, path, nullptr, 0);
}

static constexpr fsys_ops real_ops = {
    .open = sys_open,
    .close = ::close,
    .pread = ::pread,
    .pwrite = ::pwrite,
    .fstat = ::fstat,
    .stat = sys_stat,
    .lock = sys_lock,
    .ftruncate = ::ftruncate,
    .reserve = sys_reserve,
    .unlink = ::unlink,
    .link = ::link,
    .touch = sys_touch,
    .access = ::access,
    .opendir = ::opendir,
    .geteuid = ::geteuid,
};

fsys_ops fsys = real_ops;

void fsys_reset() {
  fsys = real_ops;
}

ssize_t fs_pread_all(int fd, void *buf, size_t n, off_t off) {
  auto *p = static_cast<char *>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = fsys.pread(fd, p + done, n - done, off + off_t(done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return ssize_t(done);
}

ssize_t fs_pwrite_all(int fd, const void *buf, size_t n, off_t off) {
  auto *p = static_cast<const char *>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = fsys.pwrite(fd, p + done, n - done, off + off_t(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return done > 0 ? ssize_t(done) : -1;
    done += size_t(r);
  }
  return ssize_t(done);
}

int fs_open(const char *path, int flags, mode_t mode) {
  int fd;
  do fd = fsys.open(path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}
