// isjournal.cpp: the undo journal NAME.jnl of a file pair.
//
// Before a flush overwrites anything, the journal receives the images it
// will overwrite and the dictionary as it is on disk; then the dictionary
// is marked pending with the journal's number (iscache.cpp).  Layout:
//
//   header (48 bytes): magic "QUILJNL1", number (8), entries (4),
//   reserved (4), body length (8), hash of the body (8), hash of the
//   header's first 40 bytes (8)
//   body: entries, each a 16-byte head -- file (1: .idx, 2: .dat), three
//   zero bytes, length (4), offset (8) -- and the bytes; the dictionary is
//   the first entry
//
// A journal is valid for a pending dictionary when its number equals the
// dictionary's change count and both hashes match.  Recovery writes every
// image back, the dictionary last (unmarked, count advanced), so a
// recovery that is itself cut short can run again.
#include "isam/isintern.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>

namespace isam {

constexpr char JNL_MAGIC[9] = "QUILJNL1";
constexpr size_t JNL_HDR = 48;
constexpr size_t JNL_ENT = 16;
constexpr size_t JNL_SHRINK = size_t{4} << 20;  // a larger journal is cut back after use
constexpr size_t JNL_MAP = size_t{1} << 20;     // the part allocated at once and mapped

std::string jnl_path(const std::string &name) {
  return name + ".jnl";
}

// A 64-bit hash of len bytes: four lanes of 8 bytes while they last.
uint64_t jnl_hash(const unsigned char *p, size_t len, uint64_t h) {
  constexpr uint64_t M = 0x9e3779b97f4a7c15ull;
  if (len >= 32) {
    uint64_t l[4] = {h, h ^ 1, h ^ 2, h ^ 3};
    while (len >= 32) {
      for (int i = 0; i < 4; i++) {
        uint64_t w;
        std::memcpy(&w, p + 8 * i, 8);
        l[i] = (l[i] ^ w) * M;
        l[i] ^= l[i] >> 29;
      }
      p += 32;
      len -= 32;
    }
    h = ((l[0] * 31 + l[1]) * 31 + l[2]) * 31 + l[3];
  }
  while (len >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * M;
    h ^= h >> 29;
    p += 8;
    len -= 8;
  }
  for (; len > 0; len--, p++) h = (h ^ *p) * M;
  return h ^ (h >> 32);
}

static void entry_head(unsigned char *e, int filecode, uint64_t off, size_t len) {
  std::memset(e, 0, JNL_ENT);
  e[0] = uint8_t(filecode);
  put32(e + 4, uint32_t(len));
  put64(e + 8, off);
}

// Keeps the image of a page about to change for the first time since the
// last flush.
size_t jnl_capture(is_file *f, const unsigned char *p, size_t len) {
  size_t at = f->undo.size();
  f->undo.resize(at + len);
  std::memcpy(f->undo.data() + at, p, len);
  return at + 1;
}

// Adds the bytes a flush will overwrite at off to the journal body.
void jnl_entry(is_file *f, int filecode, uint64_t off, const unsigned char *p, size_t len) {
  size_t at = f->jbody.size();
  f->jbody.resize(at + JNL_ENT + len);
  entry_head(f->jbody.data() + at, filecode, off, len);
  std::memcpy(f->jbody.data() + at + JNL_ENT, p, len);
}

// Opens NAME.jnl, creating it with the permissions of NAME.idx.
static void jnl_open(is_file *f, bool create) {
  if (f->jnlfd >= 0) return;
  std::string p = jnl_path(f->name);
  int mode = 0666;
  struct stat st;
  if (fstat(f->idxfd, &st) == 0) mode = int(st.st_mode & 0666);
  f->jnlfd = io_open(p.c_str(), create ? O_RDWR | O_CREAT : O_RDWR, mode);
  if (f->jnlfd < 0) {
    iserrio = IO_OPEN + IO_IDX;
    is_throw(errno);
  }
  // its first part allocated and mapped: most journals are written
  // without a system call (never shrunk below that part: others map it)
  if (!create) return;
  int64_t size;
  io_sync_size(f->jnlfd, &size);
  if (size < int64_t(JNL_MAP) && fallocate(f->jnlfd, 0, 0, off_t(JNL_MAP)) != 0) return;
  void *m = mmap(nullptr, JNL_MAP, PROT_READ | PROT_WRITE, MAP_SHARED, f->jnlfd, 0);
  if (m == MAP_FAILED) return;
  f->jmap = static_cast<unsigned char *>(m);
  f->jmaplen = JNL_MAP;
}

void jnl_write(is_file *f, uint64_t seq) {
  jnl_open(f, true);
  unsigned char dhead[JNL_ENT];
  entry_head(dhead, IO_IDX, 0, f->disk_dict.size());
  uint64_t h = jnl_hash(dhead, JNL_ENT, seq);
  h = jnl_hash(f->disk_dict.data(), f->disk_dict.size(), h);
  h = jnl_hash(f->jbody.data(), f->jbody.size(), h);
  unsigned char hdr[JNL_HDR];
  std::memset(hdr, 0, sizeof hdr);
  std::memcpy(hdr, JNL_MAGIC, 8);
  put64(hdr + 8, seq);
  put64(hdr + 24, JNL_ENT + f->disk_dict.size() + f->jbody.size());
  put64(hdr + 32, h);
  put64(hdr + 40, jnl_hash(hdr, 40, 0));
  size_t body = JNL_ENT + f->disk_dict.size() + f->jbody.size();
  if (f->jmap && JNL_HDR + body <= f->jmaplen) {
    io_write_hook(IO_IDX);
    unsigned char *m = f->jmap;
    std::memcpy(m, hdr, JNL_HDR);
    std::memcpy(m + JNL_HDR, dhead, JNL_ENT);
    std::memcpy(m + JNL_HDR + JNL_ENT, f->disk_dict.data(), f->disk_dict.size());
    if (!f->jbody.empty())  // (a flush of the dictionary alone has no entries)
      std::memcpy(m + JNL_HDR + JNL_ENT + f->disk_dict.size(), f->jbody.data(), f->jbody.size());
  } else {
    io_pwrite3(f->jnlfd, hdr, JNL_HDR, dhead, JNL_ENT, f->disk_dict.data(), f->disk_dict.size(),
               f->jbody.data(), f->jbody.size(), 0, IO_IDX);
  }
  f->jnl_big = body > JNL_SHRINK;
}

// After a large flush: the journal is cut back so that it does not keep
// the space.  (Its header no longer matches any pending dictionary.)
void jnl_shrink(is_file *f) {
  if (!f->jnl_big || f->jnlfd < 0) return;
  f->jnl_big = false;
  if (ftruncate(f->jnlfd, off_t(JNL_MAP)) != 0) return;  // only space is at stake
}

void jnl_recover(is_file *f) {
  unsigned char d[DICT_HDR];
  io_pread(f->idxfd, d, DICT_HDR, 0, IO_IDX);
  if (!(get16(d + 10) & DICT_PENDING)) return;
  uint64_t seq = get64(d + 24);
  try {
    jnl_open(f, false);
  } catch (const is_error &) {
    is_throw(EBADFILE);  // pending without its journal
  }
  unsigned char hdr[JNL_HDR];
  io_pread(f->jnlfd, hdr, JNL_HDR, 0, IO_IDX);
  uint64_t blen = get64(hdr + 24);
  if (std::memcmp(hdr, JNL_MAGIC, 8) != 0 || get64(hdr + 40) != jnl_hash(hdr, 40, 0))
    is_throw(EBADFILE);
  if (get64(hdr + 8) + 1 == seq) {
    // the change was written whole, its count too: only the bit is left
    size_t nix = get16(d + 20);
    if (nix > size_t(MAX_KEYS)) is_throw(EBADFILE);
    std::vector<unsigned char> nd(DICT_HDR + nix * DICT_IXLEN);
    io_pread(f->idxfd, nd.data(), nd.size(), 0, IO_IDX);
    put16(nd.data() + 10, get16(nd.data() + 10) & uint16_t(~DICT_PENDING));
    dict_put(f, nd.data(), nd.size());
    dict_load(f, nd.data(), nd.size());
    return;
  }
  if (get64(hdr + 8) != seq || blen < JNL_ENT + DICT_HDR || blen > (uint64_t{1} << 36))
    is_throw(EBADFILE);
  std::vector<unsigned char> body(static_cast<size_t>(blen));
  io_pread(f->jnlfd, body.data(), body.size(), int64_t(JNL_HDR), IO_IDX);
  // hashed as written: the dictionary's head, the dictionary, the rest
  size_t dl = get32(body.data() + 4);
  if (dl > body.size() - JNL_ENT) is_throw(EBADFILE);
  uint64_t h = jnl_hash(body.data(), JNL_ENT, seq);
  h = jnl_hash(body.data() + JNL_ENT, dl, h);
  h = jnl_hash(body.data() + JNL_ENT + dl, body.size() - JNL_ENT - dl, h);
  if (h != get64(hdr + 32)) is_throw(EBADFILE);
  // the entries: check them all before writing any
  std::vector<size_t> at;
  for (size_t p = 0; p < body.size();) {
    if (body.size() - p < JNL_ENT) is_throw(EBADFILE);
    size_t len = get32(body.data() + p + 4);
    int code = body[p];
    if ((code != IO_IDX && code != IO_DAT) || len > body.size() - p - JNL_ENT) is_throw(EBADFILE);
    at.push_back(p);
    p += JNL_ENT + len;
  }
  const unsigned char *dict = body.data() + JNL_ENT;
  size_t dlen = get32(body.data() + 4);
  if (body[0] != IO_IDX || get64(body.data() + 8) != 0 || dlen < DICT_HDR) is_throw(EBADFILE);
  for (size_t i = 1; i < at.size(); i++) {
    const unsigned char *e = body.data() + at[i];
    io_pwrite(e[0] == IO_IDX ? f->idxfd : f->datfd, e + JNL_ENT, get32(e + 4),
              int64_t(get64(e + 8)), e[0]);
  }
  std::vector<unsigned char> nd(dict, dict + dlen);
  put16(nd.data() + 10, get16(nd.data() + 10) & uint16_t(~DICT_PENDING));
  put64(nd.data() + 24, seq + 1);
  // every image is in place: the dictionary, its pending bit last
  dict_put(f, nd.data(), dlen);
  dict_load(f, nd.data(), dlen);
}

// At the last close in this process: NAME.jnl goes when no other process
// has the file open and nothing is pending.  The call lock keeps out a
// writer that opened the file since (it makes its own journal afterwards).
void jnl_forget(is_file *f) {
  if (!f->writable || f->nojournal) return;
  if (io_lock(f->idxfd, F_SETLK, F_WRLCK, LOCK_TREE, 1, nullptr) != 0) return;
  unsigned char d[DICT_HDR];
  try {
    if (io_lock(f->idxfd, F_GETLK, F_WRLCK, LOCK_OPEN, 1, nullptr) == 0) {
      io_pread(f->idxfd, d, DICT_HDR, 0, IO_IDX);
      if (!(get16(d + 10) & DICT_PENDING)) {
        unlink(jnl_path(f->name).c_str());
        // the parts allocated ahead go: the files end where their contents end
        int64_t isz, dsz;
        // (a dictionary whose counts overflow is damaged: nothing is cut)
        int64_t iend = 0, dend = 0;
        bool cut = !__builtin_mul_overflow(int64_t(get32(d + 48)), int64_t(get32(d + 12)), &iend) &&
                   !__builtin_mul_overflow(int64_t(get64(d + 40) & INT64_MAX),
                                           int64_t(get32(d + 16)) + 1, &dend);
        io_sync_size(f->idxfd, &isz);
        io_sync_size(f->datfd, &dsz);
        // a failure costs only space
        if (cut && isz > iend && iend >= get32(d + 12)) cut = ftruncate(f->idxfd, off_t(iend)) == 0;
        if (dsz > dend && cut) cut = ftruncate(f->datfd, off_t(dend)) == 0;
      }
    }
  } catch (const is_error &) {
    // the journal stays; it is harmless
  }
  io_lock(f->idxfd, F_SETLK, F_UNLCK, LOCK_TREE, 1, nullptr);
}

}  // namespace isam
