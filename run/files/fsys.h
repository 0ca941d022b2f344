// fsys.h: the system calls of the file layer, in one table so that tests
// can make any of them fail.  Every file, lock and directory call of
// run/files goes through fsys; fsys_reset puts the real calls back.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

struct flock;

struct fsys_ops {
  int (*open)(const char *path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*pread)(int fd, void *buf, size_t n, off_t off);
  ssize_t (*pwrite)(int fd, const void *buf, size_t n, off_t off);
  int (*fstat)(int fd, struct stat *st);
  int (*stat)(const char *path, struct stat *st);
  int (*lock)(int fd, int cmd, struct flock *fl);  // fcntl region locks
  int (*ftruncate)(int fd, off_t len);
  int (*reserve)(int fd, off_t off, off_t len);  // blocks past the end, size kept
  int (*unlink)(const char *path);
  int (*link)(const char *from, const char *to);
  int (*touch)(const char *path);  // modification time to now
  int (*access)(const char *path, int mode);
  DIR *(*opendir)(const char *path);
  uid_t (*geteuid)();
};
extern fsys_ops fsys;

// The real calls.
void fsys_reset();

// pread and pwrite of the whole range, repeated when a signal interrupts
// them or they move fewer bytes; the count moved (less at end of file) or
// -1 with errno.
ssize_t fs_pread_all(int fd, void *buf, size_t n, off_t off);
ssize_t fs_pwrite_all(int fd, const void *buf, size_t n, off_t off);
// open, repeated when a signal interrupts it.
int fs_open(const char *path, int flags, mode_t mode);
