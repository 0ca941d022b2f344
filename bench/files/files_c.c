/* files_c.c: the data-file workloads of bench/files in plain C, the
 * yardstick for run: stdio for the sequential file (100-byte lines), and
 * pread/pwrite under fcntl record locks for the relative file (10,000
 * records of 100 bytes).
 *
 *   files_c seqw N PATH    write N lines         files_c seqr PATH   read them
 *   files_c relmk PATH     make the relative file
 *   files_c relrw N PATH   N random locked reads and rewrites
 *   files_c lock N PATH    N locked reads, each lock released again
 *
 * Prints the elapsed seconds. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { REC = 100, RECORDS = 10000 };

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void die(const char *what) {
  perror(what);
  exit(1);
}

/* locks (F_WRLCK) or unlocks (F_UNLCK) record k, waiting */
static void lock_rec(int fd, long k, short type) {
  struct flock fl = {0};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = (off_t)k * REC;
  fl.l_len = REC;
  if (fcntl(fd, F_SETLKW, &fl) < 0) die("fcntl");
}

static long seqw(long n, const char *path) {
  FILE *f = fopen(path, "w");
  if (!f) die(path);
  char rec[REC + 1];
  for (int i = 0; i < REC; i++) rec[i] = (char)('0' + i % 10);
  rec[REC] = '\n';
  for (long i = 0; i < n; i++)
    if (fwrite(rec, 1, REC + 1, f) != REC + 1) die("fwrite");
  if (fclose(f) != 0) die("fclose");
  return n;
}

static long seqr(const char *path) {
  FILE *f = fopen(path, "r");
  if (!f) die(path);
  char line[REC + 8];
  long n = 0;
  while (fgets(line, sizeof line, f)) n++;
  fclose(f);
  return n;
}

static long relmk(const char *path) {
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) die(path);
  if (ftruncate(fd, (off_t)REC * RECORDS) < 0) die("ftruncate");
  close(fd);
  return RECORDS;
}

static long relrw(long n, const char *path) {
  int fd = open(path, O_RDWR);
  if (fd < 0) die(path);
  char rec[REC];
  long long x = 12345;
  for (long i = 0; i < n; i++) {
    x = x * 16807 % 2147483647;
    long k = (long)(x % RECORDS);
    lock_rec(fd, k, F_WRLCK);
    if (pread(fd, rec, REC, (off_t)k * REC) != REC) die("pread");
    if (pwrite(fd, rec, REC, (off_t)k * REC) != REC) die("pwrite");
    lock_rec(fd, k, F_UNLCK);
  }
  close(fd);
  return n;
}

static long lockrel(long n, const char *path) {
  int fd = open(path, O_RDWR);
  if (fd < 0) die(path);
  char rec[REC];
  for (long i = 0; i < n; i++) {
    long k = i % RECORDS;
    lock_rec(fd, k, F_WRLCK);
    if (pread(fd, rec, REC, (off_t)k * REC) != REC) die("pread");
    lock_rec(fd, k, F_UNLCK);
  }
  close(fd);
  return n;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: files_c seqw|seqr|relmk|relrw|lock [N] PATH\n");
    return 2;
  }
  const char *op = argv[1];
  long n = argc > 3 ? atol(argv[2]) : 0;
  const char *path = argv[argc - 1];
  double t0 = now();
  long done = !strcmp(op, "seqw")    ? seqw(n, path)
              : !strcmp(op, "seqr")  ? seqr(path)
              : !strcmp(op, "relmk") ? relmk(path)
              : !strcmp(op, "relrw") ? relrw(n, path)
              : !strcmp(op, "lock")  ? lockrel(n, path)
                                     : -1;
  if (done < 0) return 2;
  printf("%.3f s %ld\n", now() - t0, done);
  return 0;
}
