// srec.cpp: record transfer of sequential files, and their buffers.
// fm reaches sread and swrite through the entry's pread and pwrite.
//
// Record layouts:
//   unstructured ("U")  lines: the record's bytes and a line feed
//   sequential ("S")    counted records: one length byte (0..255), then
//                       that many bytes
//
// Each entry reads and writes at its own offset (ppos) with pread and
// pwrite, since the entries of one file share its descriptor.  Reading
// goes through a read-ahead buffer.  Writing through a buffer happens only
// under the exclusive file lock (nobody else can see the file meanwhile),
// and only into space reserved on the disk beforehand: when the disk or
// the file-size limit leaves no room for a whole buffer, each record is
// written at once, so that a full disk is reported at the record that did
// not fit and every record before it is on disk.  Appends of a shared
// file (option 8) write each record at once at the end of the file, under
// the append-region lock.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/files/iostmt.h"
#include "run/files/qx.h"

constexpr size_t STREAM_CAP = 65536;  // bytes of a buffer; more than a line can hold

// The buffer of one entry: read-ahead, or write-behind.
struct fm_stream {
  uint8_t *buf;    // STREAM_CAP bytes
  off_t base;      // file offset of buf[0]
  size_t head;     // reading: next byte to hand out
  size_t fill;     // reading: bytes held; writing: bytes not yet written
  off_t reserved;  // writing: space on disk is reserved up to here
  bool eof;        // reading: the last refill reached the end of the file
  bool writing;    // the buffer holds bytes to write, not bytes read
  pid_t owner;     // the process whose bytes they are
};

static fm_stream *stream_of(oftentry *e) {
  if (e->pstream) return e->pstream;
  auto *s = static_cast<fm_stream *>(std::calloc(1, sizeof(fm_stream)));
  uint8_t *buf = static_cast<uint8_t *>(std::malloc(STREAM_CAP));
  if (!s || !buf) {
    std::free(s);
    std::free(buf);
    vxerxit(FE_NOMEM);
  }
  s->buf = buf;
  s->base = e->ppos;
  s->owner = getpid();
  e->pstream = s;
  return s;
}

void fm_stream_drop(oftentry *e) {
  if (!e->pstream) return;
  std::free(e->pstream->buf);
  std::free(e->pstream);
  e->pstream = nullptr;
}

// --- reading ---------------------------------------------------------------

// Moves the unread bytes to the front and reads behind them; false at the
// end of the file.  Read errors: 4.
static bool refill(const oftentry *e, fm_stream *s) {
  std::memmove(s->buf, s->buf + s->head, s->fill - s->head);
  s->base += off_t(s->head);
  s->fill -= s->head;
  s->head = 0;
  if (s->fill == STREAM_CAP) return true;
  ssize_t n =
      fs_pread_all(e->pfdis, s->buf + s->fill, STREAM_CAP - s->fill, s->base + off_t(s->fill));
  if (n < 0) vxerxit(FE_IO);
  s->fill += size_t(n);
  s->eof = n == 0;
  return n > 0;
}

// at least want unread bytes, or as many as the file has left
static size_t ensure(const oftentry *e, fm_stream *s, size_t want) {
  while (s->fill - s->head < want && refill(e, s)) {
  }
  return s->fill - s->head;
}

// a line: the bytes before the next line feed, at most want of them
static size_t read_line(oftentry *e, fm_stream *s, uint8_t *to, size_t want) {
  size_t avail;
  const uint8_t *lf = nullptr;
  for (;;) {
    avail = s->fill - s->head;
    lf = static_cast<const uint8_t *>(
        std::memchr(s->buf + s->head, '\n', avail < want + 1 ? avail : want + 1));
    if (lf || avail >= want + 1 || !refill(e, s)) break;
  }
  if (lf) {
    size_t len = size_t(lf - (s->buf + s->head));
    std::memcpy(to, s->buf + s->head, len);
    s->head += len + 1;
    return len;
  }
  if (avail == 0) vxerxit(FE_EOF);
  size_t len = avail < want ? avail : want;
  std::memcpy(to, s->buf + s->head, len);
  s->head += len;
  // the last line of a file may lack its line feed: it is an ordinary
  // record; a line longer than the record room ends as end of file
  if (!(s->eof && avail <= want)) zrerf_lock = FE_EOF;
  return len;
}

// a counted record
static size_t read_counted(oftentry *e, fm_stream *s, uint8_t *to, size_t want) {
  if (ensure(e, s, 1) == 0) vxerxit(FE_EOF);
  size_t len = s->buf[s->head];
  size_t avail = ensure(e, s, 1 + len);
  if (avail < 1 + len) {
    s->head = s->fill;
    vxerxit(FE_IO);
  }
  s->head += 1 + len;
  if (len > want) vxerxit(FE_DATA);
  std::memcpy(to, s->buf + s->head - len, len);
  return len;
}

void sread(oftentry *e, fm_callblock *cb) {
  if (cb->fm_mode != 'S') vxerxit(FE_SEQMODE);
  fm_stream *s = stream_of(e);
  if (s->writing) vxerxit(FE_NOREAD);
  size_t len;
  try {
    len = e->pftype == 'U' ? read_line(e, s, cb->fm_data, cb->fm_rlen)
                           : read_counted(e, s, cb->fm_data, cb->fm_rlen);
  } catch (const fm_exit &) {
    e->ppos = s->base + off_t(s->head);
    throw;
  }
  e->ppos = s->base + off_t(s->head);
  cb->fm_rlen = len;
}

// --- writing ---------------------------------------------------------------

// Writes n bytes at off; a short write is cut off again so that the file
// ends with whole records.  Failures: 4 (16 for a full disk).
static void write_through(const oftentry *e, const uint8_t *p, size_t n, off_t off) {
  ssize_t w = fs_pwrite_all(e->pfdis, p, n, off);
  if (w == ssize_t(n)) return;
  int err = errno;
  if (w > 0) fsys.ftruncate(e->pfdis, off);
  errno = err;
  vxerxit(FE_IO);
}

// A forked process that closes its copy of the files writes nothing: the
// bytes, and the end of the file, belong to the process that wrote them.
int fm_stream_flush(oftentry *e) {
  fm_stream *s = e->pstream;
  if (!s || !s->writing || s->owner != getpid()) return 0;
  if (s->fill == 0) {
    if (s->reserved > s->base) fsys.ftruncate(e->pfdis, s->base);
    s->reserved = 0;
    return 0;
  }
  ssize_t w = fs_pwrite_all(e->pfdis, s->buf, s->fill, s->base);
  if (w != ssize_t(s->fill)) {
    int err = errno;
    fsys.ftruncate(e->pfdis, s->base);
    s->fill = 0;
    errno = err ? err : EIO;
    return -1;
  }
  s->base += off_t(s->fill);
  s->fill = 0;
  if (s->reserved > s->base) fsys.ftruncate(e->pfdis, s->base);
  s->reserved = 0;
  return 0;
}

// Reserves disk space for a buffer beginning at off; false when the disk,
// the file-size limit or the file system does not give it.
static bool reserve(const oftentry *e, fm_stream *s, off_t off) {
  struct rlimit rl;
  if (getrlimit(RLIMIT_FSIZE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY &&
      off + off_t(STREAM_CAP) > off_t(rl.rlim_cur))
    return false;
  if (fsys.reserve(e->pfdis, off, off_t(STREAM_CAP)) < 0) return false;
  s->reserved = off + off_t(STREAM_CAP);
  return true;
}

// Appends the record's n bytes to the exclusive entry's buffer, or
// writes them at once when no space can be reserved for them.
static void write_buffered(oftentry *e, const uint8_t *p, size_t n) {
  fm_stream *s = stream_of(e);
  if (!s->writing || s->fill == 0) {  // empty: the buffer starts at ppos
    s->writing = true;
    s->head = 0;
    s->fill = 0;
    s->base = e->ppos;
  }
  off_t end = s->base + off_t(s->fill + n);
  if (s->fill + n > STREAM_CAP || end > s->reserved) {
    if (fm_stream_flush(e) < 0) vxerxit(FE_IO);
    s->base = e->ppos;
    if (!reserve(e, s, s->base)) {
      write_through(e, p, n, s->base);
      e->ppos = s->base + off_t(n);
      s->base = e->ppos;
      return;
    }
  }
  std::memcpy(s->buf + s->fill, p, n);
  s->fill += n;
  e->ppos = s->base + off_t(s->fill);
}

// Appends one record at the end of a shared file.  The append region of a
// sequential file is the whole file up to the lock bytes (no record locks
// live there), so appenders queue on one region.
static void write_shared(oftentry *e, const uint8_t *p, size_t n) {
  if (fl_region(e->pfdis, 0, LK_RBYTE, LK_EXCL_WAIT) < 0) vxerxit(FE_IO);
  try {
    struct stat st;
    if (fsys.fstat(e->pfdis, &st) < 0) vxerxit(FE_IO);
    write_through(e, p, n, st.st_size);
    e->ppos = st.st_size + off_t(n);
  } catch (const fm_exit &) {
    int err = errno;
    fl_region(e->pfdis, 0, LK_RBYTE, LK_UNLOCK);
    errno = err;
    throw;
  }
  fl_region(e->pfdis, 0, LK_RBYTE, LK_UNLOCK);
}

// The record goes out in one piece: the length byte in the byte before
// the data, or the line feed in the byte after it (the record buffers
// leave room for both).
void swrite(oftentry *e, fm_callblock *cb) {
  if (cb->fm_mode != 'S') vxerxit(FE_SEQMODE);
  size_t len = cb->fm_rlen;
  const uint8_t *p;
  if (e->pftype == 'U') {
    cb->fm_data[len] = '\n';
    p = cb->fm_data;
  } else {
    if (len > 255) vxerxit(FE_DATA);
    cb->fm_data[-1] = uint8_t(len);
    p = cb->fm_data - 1;
  }
  if (e->inuse == -1)
    write_buffered(e, p, len + 1);
  else
    write_shared(e, p, len + 1);
}
