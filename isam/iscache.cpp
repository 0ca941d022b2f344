// iscache.cpp: the dictionary and the page cache of an open file pair.
//
// Index nodes are cached by node number and data blocks (DATA_BLOCK bytes
// of NAME.dat) by block number, in memory taken from slabs.  Changes stay
// in the cache until a flush: at the end of every changing call on a
// shared file, and at isflush, isclose or when the cache outgrows its
// limit on an exclusive file.
//
// A flush is all or nothing, even when the process is killed half-way:
//   1. the images the flush will overwrite (kept since each page was first
//      changed) and the dictionary as it is on disk go to the undo journal
//      NAME.jnl, numbered with the next change count;
//   2. the dictionary is marked pending with that number;
//   3. the pages are written in place;
//   4. the new dictionary is written, unmarked, with the count advanced.
// Whoever finds the mark with nobody writing (the writer died) puts the
// journal's images back first (isjournal.cpp); a write that fails in step
// 3 puts them back at once.  Pages beyond the old ends of the files need
// no image: the old dictionary does not reach them.
//
// Other processes compare the change count at the start of each call and
// drop their cache when it moved.  A reading call on a file whose count is
// unchanged runs without the call lock, from the cache, and confirms at
// its end that the count still is the same (else it runs again locked).
#include "isam/isintern.h"

#include <sys/mman.h>
#include <algorithm>
#include <climits>
#include <cstdlib>

namespace isam {

constexpr size_t CACHE_LIMIT = size_t{64} << 20;
constexpr size_t SLAB_SMALL = size_t{64} << 10;
constexpr size_t SLAB_BIG = size_t{2} << 20;

struct cache_state {
  size_t limit;  // bytes a file's cache may hold at the start of a call
};
static cache_state cs = {CACHE_LIMIT};

void cache_limit_for_test(size_t bytes) {
  cs.limit = bytes ? bytes : CACHE_LIMIT;
}

size_t dict_len(const is_file *f) {
  return DICT_HDR + f->ix.size() * DICT_IXLEN;
}

void dict_encode(const is_file *f, unsigned char *d) {
  std::memset(d, 0, dict_len(f));
  std::memcpy(d, DICT_MAGIC, 8);
  put16(d + 8, DICT_VERSION);
  put16(d + 10, f->state);
  put32(d + 12, f->nodesize);
  put32(d + 16, uint32_t(f->reclen));
  put16(d + 20, uint16_t(f->ix.size()));
  put64(d + 24, f->counter);
  put64(d + 32, f->nrecords);
  put64(d + 40, f->maxrec);
  put32(d + 48, f->nnodes);
  put32(d + 52, f->freenode);
  put32(d + 56, f->freeslots);
  put64(d + 64, f->lsn);
  for (size_t i = 0; i < f->ix.size(); i++) {
    const is_index &x = f->ix[i];
    unsigned char *p = d + DICT_HDR + i * DICT_IXLEN;
    put16(p, uint16_t(x.kd.k_flags));
    put16(p + 2, uint16_t(x.kd.k_nparts));
    for (int j = 0; j < NPARTS; j++) {
      put16(p + 4 + j * 6, uint16_t(x.kd.k_part[j].kp_start));
      put16(p + 6 + j * 6, uint16_t(x.kd.k_part[j].kp_leng));
      put16(p + 8 + j * 6, uint16_t(x.kd.k_part[j].kp_type));
    }
    put16(p + 52, uint16_t(x.keylen));
    p[54] = uint8_t(x.dupw);
    p[55] = uint8_t(x.height);
    put32(p + 56, x.root);
  }
}

static void bad() {
  is_throw(EBADFILE);
}

// Decodes and checks a dictionary; sizes < 0 skip the file-size checks.
void dict_decode(is_file *f, const unsigned char *d, size_t len, int64_t idxsize, int64_t datsize) {
  if (len < DICT_HDR || std::memcmp(d, DICT_MAGIC, 8) != 0 || get16(d + 8) != DICT_VERSION) bad();
  uint32_t ns = get32(d + 12);
  int reclen = int(get32(d + 16));
  size_t nkeys = get16(d + 20);
  if (ns < 512 || ns > 65536 || (ns & (ns - 1)) != 0 || reclen < 1 || reclen > MAX_RECLEN ||
      nkeys < 1 || nkeys > MAX_KEYS || DICT_HDR + nkeys * DICT_IXLEN > ns ||
      DICT_HDR + nkeys * DICT_IXLEN > len)
    bad();
  f->nodesize = ns;
  f->reclen = reclen;
  f->state = get16(d + 10);
  f->marked = (f->state & DICT_UNFLUSHED) != 0;
  f->counter = get64(d + 24);
  f->nrecords = get64(d + 32);
  f->maxrec = get64(d + 40);
  f->nnodes = get32(d + 48);
  f->freenode = get32(d + 52);
  f->freeslots = get32(d + 56);
  f->lsn = get64(d + 64);
  if (f->nnodes < 1 || f->maxrec > 0x7fffffff || f->nrecords > f->maxrec ||
      f->freenode >= f->nnodes || f->freeslots >= f->nnodes)
    bad();
  if (idxsize >= 0 && int64_t(f->nnodes) * ns > idxsize) bad();
  if (datsize >= 0 && int64_t(f->maxrec) * (reclen + 1) > datsize) bad();
  f->ix.assign(nkeys, is_index{});
  for (size_t i = 0; i < nkeys; i++) {
    const unsigned char *p = d + DICT_HDR + i * DICT_IXLEN;
    keydesc k;
    std::memset(&k, 0, sizeof k);
    k.k_flags = short(get16(p));
    k.k_nparts = short(get16(p + 2));
    if (k.k_nparts < 0 || k.k_nparts > NPARTS) bad();
    for (int j = 0; j < NPARTS; j++) {
      k.k_part[j].kp_start = short(get16(p + 4 + j * 6));
      k.k_part[j].kp_leng = short(get16(p + 6 + j * 6));
      k.k_part[j].kp_type = short(get16(p + 8 + j * 6));
    }
    if (key_check(&k, reclen, i == 0) != 0) bad();
    is_index &x = f->ix[i];
    key_fill(&x, &k);
    int dupw = p[54];
    x.height = p[55];
    x.root = get32(p + 56);
    if (get16(p + 52) != x.keylen) bad();
    if (k.k_nparts == 0) {
      if (x.root != 0 || i != 0) bad();
      continue;
    }
    if ((k.k_flags & ISDUPS) ? (dupw != 2 && dupw != 4) : dupw != 0) bad();
    x.dupw = dupw;
    x.cmplen = x.keylen + dupw;
    x.entlen = x.cmplen + 4;
    if (x.root < 1 || x.root >= f->nnodes || x.height < 1 || x.height > MAX_HEIGHT ||
        NODE_HDR + 3 * x.entlen > int(ns))
      bad();
  }
}

// Writes the dictionary bytes d (through the shared mapping when there is
// a writable one: the change count is stored last).
// Through the mapping the dictionary is written so that a process killed
// at any instant leaves a state that the next caller reads or recovers:
// every other field, then the change counter, the state bits last.  A
// mark thus shows the journal's number before its pending bit, and the
// end of a flush shows its new fields and count while the bit still
// stands (recovery then only clears the bit).  The tests' kills at the
// nth write fall between these stores too.
void dict_put(is_file *f, const unsigned char *d, size_t len) {
  if (f->mapw && len <= f->maplen) {
    std::memcpy(f->map, d, 10);
    std::memcpy(f->map + 12, d + 12, 12);
    std::memcpy(f->map + 32, d + 32, len - 32);
    io_crash_point();
    uint64_t c;
    std::memcpy(&c, d + 24, 8);
    __atomic_store_n(reinterpret_cast<uint64_t *>(f->map + 24), c, __ATOMIC_RELEASE);
    io_crash_point();
    uint16_t st;
    std::memcpy(&st, d + 10, 2);
    __atomic_store_n(reinterpret_cast<uint16_t *>(f->map + 10), st, __ATOMIC_RELEASE);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);  // before the pages written next
    return;
  }
  io_pwrite(f->idxfd, d, len, 0, IO_IDX);
}

void dict_write(is_file *f) {
  unsigned char d[DICT_HDR + MAX_KEYS * DICT_IXLEN];
  dict_encode(f, d);
  dict_put(f, d, dict_len(f));
}

// The on-disk image is now that of the dictionary in memory.
void disk_sync(is_file *f) {
  f->disk_dict.resize(dict_len(f));
  dict_encode(f, f->disk_dict.data());
  f->disk_nnodes = f->nnodes;
  f->disk_datend = f->maxrec * uint64_t(f->reclen + 1);
}

// Takes the dictionary d as read from disk: the cache is dropped.
void dict_load(is_file *f, const unsigned char *d, size_t len) {
  cache_drop(f);
  dict_decode(f, d, len, -1, -1);
  disk_sync(f);
}

static is_page &node_slot(is_file *f, uint32_t n) {
  if (n < 1 || n >= f->nnodes) bad();
  if (f->nodes.size() <= n) f->nodes.resize(size_t(f->nnodes) + 64, is_page{nullptr, false, 0});
  return f->nodes[n];
}

// Page memory comes from slabs freed together by cache_drop: small ones
// while the cache is small, then 2 MB ones on huge pages, so that a cache
// of many megabytes costs few address-translation misses.
static unsigned char *page_alloc(is_file *f, size_t len) {
  if (f->slabs.empty() || f->slab_used + len > f->slab_size) {
    bool big = f->cached >= SLAB_BIG;
    size_t size = big ? SLAB_BIG : SLAB_SMALL;
    void *p = nullptr;
    if (posix_memalign(&p, big ? SLAB_BIG : 4096, size) != 0) throw std::bad_alloc();
    if (big) madvise(p, size, MADV_HUGEPAGE);  // advice only: failure is harmless
    f->slabs.push_back(static_cast<unsigned char *>(p));
    f->slab_size = size;
    f->slab_used = 0;
  }
  unsigned char *r = f->slabs.back() + f->slab_used;
  f->slab_used += len;
  f->cached += len;
  return r;
}

const unsigned char *node_get(is_file *f, uint32_t n) {
  is_page &pg = node_slot(f, n);
  if (!pg.buf) {
    unsigned char *b = page_alloc(f, f->nodesize);
    io_pread(f->idxfd, b, f->nodesize, int64_t(n) * f->nodesize, IO_IDX);
    pg.buf = b;
  }
  return pg.buf;
}

unsigned char *node_mut(is_file *f, uint32_t n) {
  node_get(f, n);
  is_page &pg = f->nodes[n];
  if (!pg.dirty) {
    pg.undo = n < f->disk_nnodes && !f->nojournal ? jnl_capture(f, pg.buf, f->nodesize) : 0;
    pg.dirty = true;
    f->dirty_nodes.push_back(n);
  }
  f->touched = true;
  return pg.buf;
}

uint32_t node_alloc(is_file *f, uint8_t type, int level) {
  uint32_t n;
  unsigned char *p;
  if (f->freenode) {
    n = f->freenode;
    p = node_mut(f, n);
    if (p[0] != NODE_FREE) bad();
    f->freenode = get32(p + 4);
    if (f->freenode >= f->nnodes) bad();
  } else {
    if (f->nnodes == 0xffffffffu) is_throw(ENOFREE);
    n = f->nnodes++;
    is_page &pg = node_slot(f, n);
    pg.buf = page_alloc(f, f->nodesize);
    pg.dirty = true;
    pg.undo = 0;
    f->dirty_nodes.push_back(n);
    f->touched = true;
    p = pg.buf;
  }
  std::memset(p, 0, f->nodesize);
  p[0] = type;
  p[1] = uint8_t(level);
  return n;
}

void node_free(is_file *f, uint32_t n) {
  unsigned char *p = node_mut(f, n);
  std::memset(p, 0, f->nodesize);
  p[0] = NODE_FREE;
  put32(p + 4, f->freenode);
  f->freenode = n;
}

static unsigned char *block_get(is_file *f, uint64_t b, bool mut) {
  if (f->blocks.size() <= b) f->blocks.resize(size_t(b) + 256, is_page{nullptr, false, 0});
  is_page &pg = f->blocks[b];
  if (!pg.buf) {
    unsigned char *m = page_alloc(f, DATA_BLOCK);
    io_pread(f->datfd, m, DATA_BLOCK, int64_t(b) * DATA_BLOCK, IO_DAT);
    pg.buf = m;
  }
  if (mut) {
    if (!pg.dirty) {
      uint64_t start = b * DATA_BLOCK;
      pg.undo = start < f->disk_datend && !f->nojournal ? jnl_capture(f, pg.buf, DATA_BLOCK) : 0;
      pg.dirty = true;
      f->dirty_blocks.push_back(uint32_t(b));
    }
    f->touched = true;
  }
  return pg.buf;
}

// Copies len bytes at data-file offset off into or out of the cache.
static void data_copy(is_file *f, uint64_t off, unsigned char *buf, size_t len, bool write) {
  while (len > 0) {
    uint64_t b = off / DATA_BLOCK;
    size_t in = size_t(off % DATA_BLOCK);
    size_t n = std::min(len, size_t(DATA_BLOCK) - in);
    unsigned char *pg = block_get(f, b, write);
    if (write)
      std::memcpy(pg + in, buf, n);
    else
      std::memcpy(buf, pg + in, n);
    off += n;
    buf += n;
    len -= n;
  }
}

// Reads record r (1..maxrec) and its state byte.
void rec_read(is_file *f, uint32_t r, unsigned char *buf, uint8_t *state) {
  if (r < 1 || r > f->maxrec) bad();
  uint64_t off = uint64_t(r - 1) * uint64_t(f->reclen + 1);
  uint64_t b = off / DATA_BLOCK;
  size_t in = size_t(off % DATA_BLOCK);
  if (in + size_t(f->reclen) + 1 <= DATA_BLOCK) {  // the common case: one block
    const unsigned char *pg = block_get(f, b, false);
    std::memcpy(buf, pg + in, size_t(f->reclen));
    *state = pg[in + size_t(f->reclen)];
    return;
  }
  data_copy(f, off, buf, size_t(f->reclen), false);
  data_copy(f, off + uint64_t(f->reclen), state, 1, false);
}

// The record r with its state byte in the cache when it lies in one
// block, else nullptr.
const unsigned char *rec_peek(is_file *f, uint32_t r) {
  if (r < 1 || r > f->maxrec) bad();
  uint64_t off = uint64_t(r - 1) * uint64_t(f->reclen + 1);
  size_t in = size_t(off % DATA_BLOCK);
  if (in + size_t(f->reclen) + 1 > DATA_BLOCK) return nullptr;
  return block_get(f, off / DATA_BLOCK, false) + in;
}

// Asks the processor to fetch record r when its block is cached.
void rec_prefetch(const is_file *f, uint32_t r) {
  uint64_t off = uint64_t(r - 1) * uint64_t(f->reclen + 1);
  uint64_t b = off / DATA_BLOCK;
  if (r >= 1 && b < f->blocks.size() && f->blocks[b].buf)
    __builtin_prefetch(f->blocks[b].buf + off % DATA_BLOCK);
}

uint8_t rec_state(is_file *f, uint32_t r) {
  if (r < 1 || r > f->maxrec) bad();
  uint64_t off = uint64_t(r - 1) * uint64_t(f->reclen + 1) + uint64_t(f->reclen);
  const unsigned char *pg = block_get(f, off / DATA_BLOCK, false);
  return pg[off % DATA_BLOCK];
}

void rec_write(is_file *f, uint32_t r, const unsigned char *buf, uint8_t state) {
  if (r < 1 || r > f->maxrec) bad();
  uint64_t off = uint64_t(r - 1) * uint64_t(f->reclen + 1);
  if (buf) data_copy(f, off, const_cast<unsigned char *>(buf), size_t(f->reclen), true);
  data_copy(f, off + uint64_t(f->reclen), &state, 1, true);
}

void cache_drop(is_file *f) {
  f->nodes.clear();
  f->blocks.clear();
  for (unsigned char *s : f->slabs) std::free(s);
  f->slabs.clear();
  f->slab_used = f->slab_size = 0;
  f->cached = 0;
  f->dirty_nodes.clear();
  f->dirty_blocks.clear();
  f->undo.clear();
  f->mods++;
}

// Writes len bytes at off of a file in place: through the file's shared
// mapping when they lie inside the file, else with a system call (which
// may extend the file).
static void put_bytes(is_file *f, int code, const unsigned char *p, size_t len, uint64_t off) {
  bool idx = code == IO_IDX;
  unsigned char *m = idx ? f->imap : f->dmap;
  size_t ml = idx ? f->imaplen : f->dmaplen;
  int64_t &sz = idx ? f->isize : f->dsize;
  int fd = idx ? f->idxfd : f->datfd;
  if (m && off + len <= ml && int64_t(off + len) > sz) {
    // the file grows by a part at a time, allocated at once, so that most
    // appends need no system call (the last closer cuts the rest off)
    int64_t want =
        std::min<int64_t>(int64_t(ml), std::max<int64_t>(int64_t(off + len), sz + sz / 8 + 65536));
    if (io_extend(fd, sz, want, code)) sz = want;
  }
  if (m && off + len <= ml && int64_t(off + len) <= sz) {
    io_write_hook(code);
    std::memcpy(m + off, p, len);
    return;
  }
  io_pwrite(fd, p, len, int64_t(off), code);
  if (int64_t(off + len) > sz) sz = int64_t(off + len);
}

// Maps a writable file for writing in place; again when it outgrew its
// mapping.  Without a mapping the pages are written with system calls.
static void map_files(is_file *f) {
  if (!f->writable || f->nojournal) return;
  constexpr size_t MB = size_t{1} << 20;
  for (int code : {IO_IDX, IO_DAT}) {
    bool idx = code == IO_IDX;
    unsigned char *&m = idx ? f->imap : f->dmap;
    size_t &ml = idx ? f->imaplen : f->dmaplen;
    int64_t &sz = idx ? f->isize : f->dsize;
    if (sz < 0 || (m && size_t(sz) >= ml)) io_sync_size(idx ? f->idxfd : f->datfd, &sz);
    if (m && size_t(sz) < ml) continue;
    if (m) munmap(m, ml);
    m = nullptr;
    ml = (std::max(size_t(sz) * 2, MB) + MB - 1) / MB * MB;
    void *p = mmap(nullptr, ml, PROT_READ | PROT_WRITE, MAP_SHARED, idx ? f->idxfd : f->datfd, 0);
    if (p == MAP_FAILED) {
      ml = 0;
      continue;
    }
    m = static_cast<unsigned char *>(p);
  }
}

void cache_unmap(is_file *f) {
  if (f->imap) munmap(f->imap, f->imaplen);
  if (f->dmap) munmap(f->dmap, f->dmaplen);
  if (f->jmap) munmap(f->jmap, f->jmaplen);
  f->imap = f->dmap = f->jmap = nullptr;
  f->imaplen = f->dmaplen = f->jmaplen = 0;
}

// The bytes of a changed page that differ from its image on disk: [*lo, *hi).
static void changed_span(const unsigned char *now, const unsigned char *old, size_t len, size_t *lo,
                         size_t *hi) {
  size_t a = 0, b = len;
  while (a + 64 <= b && std::memcmp(now + a, old + a, 64) == 0) a += 64;
  while (a < b && now[a] == old[a]) a++;
  while (b >= a + 64 && std::memcmp(now + b - 64, old + b - 64, 64) == 0) b -= 64;
  while (b > a && now[b - 1] == old[b - 1]) b--;
  *lo = a;
  *hi = b;
}

// Journal entries for the dirty pages that have an image on disk: only
// the bytes that changed, within the file's valid part.
static void journal_pages(is_file *f, std::vector<uint32_t> &list, std::vector<is_page> &pages,
                          size_t unit, int code, uint64_t end) {
  for (uint32_t n : list) {
    is_page &pg = pages[n];
    if (!pg.undo) continue;
    uint64_t start = uint64_t(n) * unit;
    size_t len = size_t(std::min<uint64_t>(unit, end > start ? end - start : 0));
    size_t lo, hi;
    changed_span(pg.buf, f->undo.data() + pg.undo - 1, len, &lo, &hi);
    if (lo < hi) jnl_entry(f, code, start + lo, f->undo.data() + pg.undo - 1 + lo, hi - lo);
  }
}

// Writes the dirty pages: the changed bytes of those that have an image
// (through to the end of the file when the page holds the old end, so
// that the file grows to its full length), runs of consecutive new pages
// with one call each.
static void write_runs(is_file *f, std::vector<uint32_t> &list, std::vector<is_page> &pages,
                       size_t unit, int code, uint64_t end, uint64_t oldend) {
  std::sort(list.begin(), list.end());
  std::vector<unsigned char> run;
  size_t i = 0;
  while (i < list.size()) {
    is_page &pg = pages[list[i]];
    uint64_t start = uint64_t(list[i]) * unit;
    if (pg.undo) {
      size_t len = size_t(std::min<uint64_t>(unit, end > start ? end - start : 0));
      size_t lo, hi;
      changed_span(pg.buf, f->undo.data() + pg.undo - 1, len, &lo, &hi);
      if (start + len > oldend) hi = len;
      if (lo < hi) put_bytes(f, code, pg.buf + lo, hi - lo, start + lo);
      i++;
      continue;
    }
    size_t j = i + 1;
    while (j < list.size() && list[j] == list[j - 1] + 1 && !pages[list[j]].undo && j - i < 256)
      j++;
    uint64_t len = std::min<uint64_t>(uint64_t(j - i) * unit, end > start ? end - start : 0);
    if (len > 0) {
      if (j - i == 1) {
        put_bytes(f, code, pg.buf, size_t(len), start);
      } else {
        run.resize(size_t(j - i) * unit);
        for (size_t k = i; k < j; k++)
          std::memcpy(run.data() + (k - i) * unit, pages[list[k]].buf, unit);
        put_bytes(f, code, run.data(), size_t(len), start);
      }
    }
    i = j;
  }
}

static void mark_clean(std::vector<uint32_t> &list, std::vector<is_page> &pages) {
  for (uint32_t n : list) {
    pages[n].dirty = false;
    pages[n].undo = 0;
  }
  list.clear();
}

// Makes sure the disk holds the blocks up to end of a file, so that a full
// disk stops a flush before it writes anything rather than half-way.
static void reserve(int fd, int64_t *room, uint64_t end, int filecode) {
  constexpr int64_t CHUNK = int64_t{1} << 20;
  if (*room < 0) io_sync_size(fd, room);
  if (int64_t(end) <= *room) return;
  int64_t upto = (int64_t(end) + CHUNK - 1) / CHUNK * CHUNK;
  if (io_reserve(fd, *room, upto - *room, filecode))
    *room = upto;
  else
    *room = INT64_MAX;  // the file system cannot: write and see
}

// Marks the dictionary on disk pending with journal number seq (or, with
// seq 0, writes the on-disk image back unmarked with the count advanced).
static void dict_mark(is_file *f, uint64_t seq) {
  std::vector<unsigned char> &d = f->disk_dict;
  uint16_t st = get16(d.data() + 10);
  if (seq) {
    put16(d.data() + 10, st | DICT_PENDING);
    put64(d.data() + 24, seq);
  } else {
    put16(d.data() + 10, st & uint16_t(~DICT_PENDING));
    put64(d.data() + 24, get64(d.data() + 24) + 1);
  }
  dict_put(f, d.data(), seq ? DICT_HDR : d.size());
}

// Puts the images of the journal in memory back after a failed flush.
static void undo_in_place(is_file *f) {
  const unsigned char *p = f->jbody.data(), *end = p + f->jbody.size();
  while (p < end) {
    size_t len = get32(p + 4);
    put_bytes(f, p[0], p + 16, len, get64(p + 8));
    p += 16 + len;
  }
  dict_mark(f, 0);
  f->counter = get64(f->disk_dict.data() + 24);
}

void cache_flush(is_file *f) {
  if (f->dirty_nodes.empty() && f->dirty_blocks.empty() && !f->dict_dirty) return;
  reserve(f->datfd, &f->dat_room, f->maxrec * uint64_t(f->reclen + 1), IO_DAT);
  reserve(f->idxfd, &f->idx_room, uint64_t(f->nnodes) * f->nodesize, IO_IDX);
  uint64_t seq = f->counter + 1;
  map_files(f);
  if (!f->nojournal) {
    f->jbody.clear();
    journal_pages(f, f->dirty_blocks, f->blocks, DATA_BLOCK, IO_DAT, f->disk_datend);
    journal_pages(f, f->dirty_nodes, f->nodes, f->nodesize, IO_IDX,
                  uint64_t(f->disk_nnodes) * f->nodesize);
    jnl_write(f, seq);  // nothing on disk has changed if this fails
    dict_mark(f, seq);
  }
  try {
    write_runs(f, f->dirty_blocks, f->blocks, DATA_BLOCK, IO_DAT,
               f->maxrec * uint64_t(f->reclen + 1), f->disk_datend);
    write_runs(f, f->dirty_nodes, f->nodes, f->nodesize, IO_IDX, uint64_t(f->nnodes) * f->nodesize,
               uint64_t(f->disk_nnodes) * f->nodesize);
  } catch (...) {
    if (!f->nojournal) {
      try {
        undo_in_place(f);
      } catch (...) {
        f->damaged = true;  // the mark stays: the next opener puts the journal back
      }
    }
    throw;
  }
  f->counter = seq + 1;
  if (!f->marked) f->state &= uint16_t(~DICT_UNFLUSHED);  // a mark found on disk stays
  f->state &= uint16_t(~DICT_PENDING);
  dict_write(f);
  mark_clean(f->dirty_blocks, f->blocks);
  mark_clean(f->dirty_nodes, f->nodes);
  f->dict_dirty = false;
  f->undo.clear();
  disk_sync(f);
  jnl_shrink(f);
}

// Forgets the changes of a failed call on a shared file: the pages it
// changed and the dictionary are read again by the next call.
void cache_discard(is_file *f) {
  cache_drop(f);
  f->counter = ~uint64_t{0};
  f->dict_dirty = false;
}

// The free slot list: pages of record numbers, the head page last in,
// its last number first out.
void slot_push(is_file *f, uint32_t r) {
  uint32_t cap = (f->nodesize - NODE_HDR) / 4;
  if (f->freeslots) {
    unsigned char *p = node_mut(f, f->freeslots);
    uint32_t c = get16(p + 2);
    if (p[0] != NODE_SLOTS || c > cap) bad();
    if (c < cap) {
      put32(p + NODE_HDR + c * 4, r);
      put16(p + 2, c + 1);
      return;
    }
  }
  uint32_t n = node_alloc(f, NODE_SLOTS, 0);
  unsigned char *p = node_mut(f, n);
  put32(p + 4, f->freeslots);
  put32(p + NODE_HDR, r);
  put16(p + 2, 1);
  f->freeslots = n;
}

// Finds record number r on the free list: its page and place, false when
// it is not there.
static bool slot_find(is_file *f, uint32_t r, uint32_t *page, uint32_t *at) {
  uint32_t cap = (f->nodesize - NODE_HDR) / 4, seen = 0;
  for (uint32_t n = f->freeslots; n; n = get32(node_get(f, n) + 4)) {
    const unsigned char *q = node_get(f, n);
    uint32_t c = get16(q + 2);
    if (q[0] != NODE_SLOTS || c > cap || ++seen > f->nnodes) bad();
    for (uint32_t i = 0; i < c; i++)
      if (get32(q + NODE_HDR + i * 4) == r) {
        *page = n;
        *at = i;
        return true;
      }
  }
  return false;
}

// Takes record number r off the free list when it is there: the last
// number of the head page moves into its place.
void slot_take(is_file *f, uint32_t r) {
  uint32_t page, at;
  if (!slot_find(f, r, &page, &at)) return;
  uint32_t last = slot_pop(f);
  if (last == r) return;
  unsigned char *p = node_mut(f, page);
  put32(p + NODE_HDR + at * 4, last);
}

// A free record number, or 0 when the list is empty.
uint32_t slot_pop(is_file *f) {
  while (f->freeslots) {
    uint32_t n = f->freeslots;
    const unsigned char *q = node_get(f, n);
    uint32_t c = get16(q + 2);
    if (q[0] != NODE_SLOTS || c > (f->nodesize - NODE_HDR) / 4) bad();
    if (c == 0) {
      f->freeslots = get32(q + 4);
      if (f->freeslots >= f->nnodes) bad();
      node_free(f, n);
      continue;
    }
    unsigned char *p = node_mut(f, n);
    uint32_t r = get32(p + NODE_HDR + (c - 1) * 4);
    put16(p + 2, c - 1);
    if (c == 1) {
      f->freeslots = get32(p + 4);
      if (f->freeslots >= f->nnodes) bad();
      node_free(f, n);
    }
    if (r < 1 || r > f->maxrec) bad();
    return r;
  }
  return 0;
}

struct opt_state {
  bool retry;  // the last optimistic call failed because the file moved
};
static opt_state opt = {false};

bool call_retry_take() {
  bool r = opt.retry;
  opt.retry = false;
  return r;
}

// The change count and state bits of the dictionary on disk, from the
// shared mapping.
static uint64_t mapped_count(const is_file *f, uint16_t *state) {
  uint64_t c = __atomic_load_n(reinterpret_cast<const uint64_t *>(f->map + 24), __ATOMIC_ACQUIRE);
  *state = get16(f->map + 10);
  return get64(reinterpret_cast<const unsigned char *>(&c));
}

// Reads the dictionary of a shared file under the call lock; puts a
// journal back first when a writer died half-way (which needs the lock
// for changes: a reading call takes it over).
static void dict_refresh(is_file *f) {
  unsigned char d[DICT_HDR + MAX_KEYS * DICT_IXLEN];
  size_t len = dict_len(f);
  if (f->map)
    std::memcpy(d, f->map, DICT_HDR);
  else
    io_pread(f->idxfd, d, DICT_HDR, 0, IO_IDX);
  if (get16(d + 10) & DICT_PENDING) {
    if (!f->call_write) {
      unlock_tree(f);
      f->in_call = false;
      lock_tree(f, true);
      f->in_call = true;
      f->call_write = true;
      dict_refresh(f);
      return;
    }
    if (!f->writable) is_throw(EBADFILE);
    jnl_recover(f);
    return;
  }
  if (get64(d + 24) != f->counter || f->cached > cs.limit) {
    if (f->map)
      std::memcpy(d, f->map, len);
    else
      io_pread(f->idxfd, d, len, 0, IO_IDX);
    size_t nkeys = f->ix.size();
    dict_load(f, d, len);
    if (f->ix.size() != nkeys) bad();
  }
}

// Starts a call: on a shared file takes the per-call lock and drops the
// cache when another process changed the file since, or, for a reading
// call on an unchanged file, goes on without the lock.
void call_begin(is_file *f, bool write) {
  if (write && f->damaged) is_throw(EBADFILE);
  f->touched = false;
  f->optimistic = false;
  if (f->nexcl > 0) {
    if (f->cached > cs.limit) {
      cache_flush(f);
      cache_drop(f);
    }
    return;
  }
  if (!write && f->map && f->cached <= cs.limit) {
    uint16_t st;
    if (mapped_count(f, &st) == f->counter && !(st & DICT_PENDING)) {
      f->optimistic = true;
      f->in_call = true;
      f->call_write = false;
      return;
    }
  }
  lock_tree(f, write);
  f->in_call = true;
  f->call_write = write;
  try {
    dict_refresh(f);
    // islock: its holder marks the dictionary; a mark whose lock is gone
    // (the holder closed the file or died) is cleared by this call
    if (write && !f->filelock && (f->state & DICT_ISLOCKED)) {
      if (lock_file_other(f)) is_throw(EFLOCKED);
      f->state &= uint16_t(~DICT_ISLOCKED);
      f->dict_dirty = true;
    }
  } catch (...) {
    f->in_call = false;
    unlock_tree(f);
    throw;
  }
}

// An optimistic call must find the change count as it started: else what
// it read may mix two states of the file, and it runs again locked.
static bool moved(const is_file *f) {
  uint16_t st;
  return mapped_count(f, &st) != f->counter || (st & DICT_PENDING);
}

static void opt_abandon(is_file *f) {
  f->optimistic = false;
  f->in_call = false;
  cache_drop(f);
  f->counter = ~uint64_t{0};
  opt.retry = true;
}

void call_check(is_file *f) {
  if (!f->optimistic) return;
  if (moved(f)) {
    opt_abandon(f);
    is_throw(ERETRY);
  }
}

// Ends a call: flushes the changes of a shared file and drops the lock.
// After a failure (ok false) half-made changes are discarded on a shared
// file; on an exclusive one they mark the file damaged.
void call_end(is_file *f, bool ok) {
  if (f->nexcl > 0) {
    if (!ok && f->touched) f->damaged = true;
    return;
  }
  if (!f->in_call) return;
  if (f->optimistic) {
    if (!ok && moved(f)) {
      opt_abandon(f);
      return;
    }
    f->optimistic = false;
    f->in_call = false;
    return;
  }
  if (f->call_write) {
    if (ok) {
      try {
        cache_flush(f);
      } catch (...) {
        cache_discard(f);
        f->in_call = false;
        unlock_tree(f);
        throw;
      }
    } else if (f->touched) {
      cache_discard(f);
    }
  }
  f->in_call = false;
  unlock_tree(f);
}

}  // namespace isam
