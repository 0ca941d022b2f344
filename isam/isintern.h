// isintern.h: records shared by the modules of the ISAM engine.
//
// One is_file exists per open file pair (NAME.dat + NAME.idx) in the
// process, shared by every descriptor that opened it; it owns the two
// operating-system descriptors, the decoded dictionary and the page cache.
// One is_fd exists per ISAM descriptor: its open mode, current index and
// position, and its automatic lock.  Errors inside the engine are thrown
// as is_error and turned into iserrno at the edge of each call.
#pragma once

#include "isam/isam.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace isam {

// Layout constants (docs/isam-format.md).
constexpr char DICT_MAGIC[9] = "QUILISAM";
constexpr int DICT_VERSION = 1;
constexpr int DICT_HDR = 128;     // bytes of the dictionary header
constexpr int DICT_IXLEN = 64;    // bytes of one index description
constexpr int NODE_HDR = 16;      // bytes of a node header
constexpr int NODE_SIZE = 4096;   // node size of new files
constexpr int DATA_BLOCK = 4096;  // cache unit of the data file
constexpr int MAX_RECLEN = 32511;
constexpr int MAX_HEIGHT = 24;
constexpr int MAX_KEYS = 512;                // indexes per file (also bounded by the node size)
constexpr int MAX_ENT = MAXKEYSIZE + 4 + 4;  // key + duplicate counter + number

enum : uint8_t { NODE_LEAF = 1, NODE_INNER = 2, NODE_FREE = 3, NODE_SLOTS = 4 };
enum : uint8_t { SLOT_FREE = 0, SLOT_LIVE = 1 };
// Dictionary state bits.  DICT_PENDING: a change is being written in place
// and NAME.jnl holds the images it overwrites (the change counter then
// equals the journal's number); DICT_UNFLUSHED: a change was cut short and
// could not be undone (the checker reports it).
// DICT_ISLOCKED: a process took islock; writers look for its lock.
enum : uint16_t { DICT_UNFLUSHED = 1, DICT_PENDING = 2, DICT_ISLOCKED = 4 };

// Lock bytes, far beyond any real data.
constexpr int64_t LOCK_BASE = int64_t{1} << 40;
constexpr int64_t LOCK_OPEN = LOCK_BASE;      // on .idx: shared per opener
constexpr int64_t LOCK_TREE = LOCK_BASE + 1;  // on .idx: per-call lock
constexpr int64_t LOCK_FILE = LOCK_BASE + 2;  // on .idx: islock
constexpr int64_t LOCK_REC = LOCK_BASE;       // on .dat: + record number
constexpr int TX_OWNER = -2;                  // owner of the locks of a transaction

struct is_error {
  int err;  // iserrno value
};
[[noreturn]] void is_throw(int err);

struct is_index {
  keydesc kd;     // as built, k_len set
  int keylen;     // bytes of the (transformed) key
  int dupw;       // width of the duplicate counter, 0 when unique
  int cmplen;     // keylen + dupw: what orders the entries
  int entlen;     // cmplen + 4: leaf entry (number) or inner entry (child)
  uint32_t root;  // root node, 0 for a part-less index
  int height;     // levels, 1 when the root is a leaf
};

struct is_page {
  unsigned char *buf;  // page contents
  bool dirty;          // changed since the last flush
  size_t undo;         // 1 + where its image before the change is kept in undo, 0 none
};

struct is_file {
  std::string name;                      // base name as opened (updated by rename)
  std::string abspath;                   // absolute base name, for the log
  int idxfd = -1;                        // NAME.idx
  int datfd = -1;                        // NAME.dat
  int jnlfd = -1;                        // NAME.jnl, opened when first needed
  bool writable = false;                 // descriptors opened read-write
  bool nojournal = false;                // a file being built: plain writes
  bool jnl_big = false;                  // the last journal was large
  unsigned char *map = nullptr;          // the dictionary node mapped shared, or nullptr
  bool mapw = false;                     // ... and writable
  size_t maplen = 0;                     // its length
  int64_t dat_room = -1, idx_room = -1;  // bytes known allocated on disk (-1 unknown)
  uint64_t dev = 0, ino = 0;             // identity of NAME.dat
  int nopen = 0;                         // ISAM descriptors on this file
  int nexcl = 0;                         // of which opened ISEXCLLOCK
  bool filelock = false;                 // islock held
  bool damaged = false;                  // a change failed half-way: refuse more changes
  bool marked = false;                   // the dictionary came marked unflushed from disk
  bool touched = false;                  // the current call changed a page
  bool dict_dirty = false;               // dictionary changed since the last flush
  bool optimistic = false;               // a reading call runs without the call lock
  bool opt_failed = false;               // ... and found the file changed under it
  int txpin = 0;                         // a transaction keeps the file open
  // the file as it is on disk (last read or flushed)
  std::vector<unsigned char> disk_dict;  // dictionary image
  uint32_t disk_nnodes = 0;              // nodes
  uint64_t disk_datend = 0;              // bytes of records in NAME.dat
  // the images of the pages changed since the last flush as they are on
  // disk, and the journal body a flush builds from them (isjournal.cpp)
  std::vector<unsigned char> undo;
  std::vector<unsigned char> jbody;
  // shared writable mappings of the files: a flush writes the pages that
  // lie inside the files through them, without a system call
  unsigned char *imap = nullptr, *dmap = nullptr, *jmap = nullptr;
  size_t imaplen = 0, dmaplen = 0, jmaplen = 0;
  int64_t isize = -1, dsize = -1;  // sizes of the files known (lower bounds)
  // dictionary
  uint32_t nodesize = 0;
  int reclen = 0;
  uint16_t state = 0;        // DICT_* bits as on disk
  uint64_t counter = 0;      // change counter
  uint64_t nrecords = 0;     // live records
  uint64_t maxrec = 0;       // highest record number ever given
  uint32_t nnodes = 0;       // nodes in .idx, dictionary included
  uint32_t freenode = 0;     // head of the free node list
  uint32_t freeslots = 0;    // head page of the free slot list
  uint64_t lsn = 0;          // log sequence number (reserved)
  std::vector<is_index> ix;  // indexes, [0] the primary
  // cache
  std::vector<is_page> nodes;   // by node number
  std::vector<is_page> blocks;  // data blocks by number
  std::vector<uint32_t> dirty_nodes, dirty_blocks;
  size_t cached = 0;                    // bytes held by the cache
  std::vector<unsigned char *> slabs;   // memory of the cached pages
  size_t slab_size = 0, slab_used = 0;  // of the last slab
  uint64_t mods = 0;                    // in-process change count (cursor hints)
  bool in_call = false;                 // the per-call lock is held
  bool call_write = false;              // ... for a change
  // record locks held by this process: record number -> isfd
  std::map<uint32_t, int> locks;
  std::vector<unsigned char> scratch;  // a record's worth of working space
};

enum pos_state { P_UNDEF, P_BEGIN, P_END, P_START, P_ON, P_HOLE };

struct is_path {
  int depth = 0;              // levels filled
  uint32_t node[MAX_HEIGHT];  // node at each level, [0] the root
  int slot[MAX_HEIGHT];       // entry at each level
};

struct is_fd {
  is_file *f = nullptr;        // shared file
  int mode = 0;                // open mode
  int cur = 1;                 // current index, 0 = record-number order
  int plen = 0;                // partial key length from isstart, 0 = whole
  pos_state pos = P_UNDEF;     // position state
  unsigned char ent[MAX_ENT];  // position entry: ordering bytes + number
  uint32_t recnum = 0;         // record of the position entry
  is_path hint;                // path to ent while hint_mods is current
  uint64_t hint_mods = ~uint64_t{0};
  uint32_t autolock = 0;  // record held by ISAUTOLOCK
};

// --- big-endian helpers
inline uint32_t get32(const unsigned char *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t get16(const unsigned char *p) {
  return uint16_t(p[0] << 8 | p[1]);
}
inline uint64_t get64(const unsigned char *p) {
  return uint64_t(get32(p)) << 32 | get32(p + 4);
}
inline void put16(unsigned char *p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void put32(unsigned char *p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void put64(unsigned char *p, uint64_t v) {
  put32(p, uint32_t(v >> 32));
  put32(p + 4, uint32_t(v));
}

// Byte-wise comparison of short keys, eight bytes at a time.
inline int key_cmp(const unsigned char *a, const unsigned char *b, size_t n) {
  while (n >= 8) {
    uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) {
      x = __builtin_bswap64(x);
      y = __builtin_bswap64(y);
      return x < y ? -1 : 1;
    }
    a += 8;
    b += 8;
    n -= 8;
  }
  for (; n > 0; n--, a++, b++)
    if (*a != *b) return *a < *b ? -1 : 1;
  return 0;
}

// --- isjournal.cpp: the undo journal NAME.jnl and the recovery from it
size_t jnl_capture(is_file *f, const unsigned char *p, size_t len);  // 1 + where kept
void jnl_entry(is_file *f, int filecode, uint64_t off, const unsigned char *p, size_t len);
void jnl_write(is_file *f, uint64_t seq);  // throws
void jnl_recover(is_file *f);              // throws EBADFILE when it cannot
void jnl_forget(is_file *f);               // removes NAME.jnl when nobody needs it
void jnl_shrink(is_file *f);               // cuts a large journal back after a flush
std::string jnl_path(const std::string &name);
uint64_t jnl_hash(const unsigned char *p, size_t len, uint64_t h);

// --- isio.cpp: the system calls (one place, so tests can make them fail)
int io_open(const char *path, int flags, int perm);
void io_close(int fd);
void io_pread(int fd, void *buf, size_t len, int64_t off,
              int filecode);  // throws; zero-fills past the end
void io_pwrite(int fd, const void *buf, size_t len, int64_t off, int filecode);  // throws
// Writes four pieces one after the other from off with one call; throws.
void io_pwrite3(int fd, const void *a, size_t alen, const void *b, size_t blen, const void *c,
                size_t clen, const void *d, size_t dlen, int64_t off, int filecode);
void io_sync_size(int fd, int64_t *size);
bool io_reserve(int fd, int64_t off, int64_t len,
                int filecode);  // throws ENOSPC; false: unsupported
bool io_extend(int fd, int64_t from, int64_t to, int filecode);  // throws; false: unsupported
int io_lock(int fd, int cmd, short type, int64_t off, int64_t len, pid_t *holder);
void io_fail_write_for_test(int nth, int err);
void io_write_hook(int filecode);  // a write through a mapping (for the tests' failures)
void io_crash_point();             // between two stores through a mapping (tests' kills only)
void cache_unmap(is_file *f);

// --- iscache.cpp: dictionary, pages, flushing
void dict_decode(is_file *f, const unsigned char *d, size_t len, int64_t idxsize,
                 int64_t datsize);  // throws EBADFILE
void dict_encode(const is_file *f, unsigned char *d);
size_t dict_len(const is_file *f);
void dict_write(is_file *f);
void dict_put(is_file *f, const unsigned char *d, size_t len);  // in place, in a safe order
const unsigned char *node_get(is_file *f, uint32_t n);
unsigned char *node_mut(is_file *f, uint32_t n);
uint32_t node_alloc(is_file *f, uint8_t type, int level);
void node_free(is_file *f, uint32_t n);
void rec_read(is_file *f, uint32_t r, unsigned char *buf, uint8_t *state);
const unsigned char *rec_peek(is_file *f, uint32_t r);
void rec_prefetch(const is_file *f, uint32_t r);
void rec_write(is_file *f, uint32_t r, const unsigned char *buf, uint8_t state);
uint8_t rec_state(is_file *f, uint32_t r);
void cache_drop(is_file *f);
void cache_flush(is_file *f);
void cache_limit_for_test(size_t bytes);  // 0 restores the normal limit
void cache_discard(is_file *f);
void slot_push(is_file *f, uint32_t r);
uint32_t slot_pop(is_file *f);
void slot_take(is_file *f, uint32_t r);
void call_begin(is_file *f, bool write);
void call_end(is_file *f, bool ok);
void call_check(is_file *f);  // an optimistic call: throws is_error{ERETRY} if the file moved
void dict_load(is_file *f, const unsigned char *d, size_t len);
void disk_sync(is_file *f);  // the on-disk image is the cache's dictionary
constexpr int ERETRY = -1;   // internal: run the reading call again under the lock
bool call_retry_take();      // the last call failed as an optimistic one

// --- iskey.cpp: key descriptions and key values
int key_check(const keydesc *k, int reclen, bool primary);
void key_fill(is_index *ix, const keydesc *k);
bool key_same_parts(const keydesc *a, const keydesc *b);
void key_make(const is_index *ix, const unsigned char *rec, unsigned char *out);

// --- istree.cpp: B+-tree entries and cursors
// An entry is cmplen ordering bytes followed by a 4-byte record number.
bool tree_seek(is_file *f, const is_index *ix, const unsigned char *k, int len, bool strict,
               is_path *p);
bool tree_first(is_file *f, const is_index *ix, is_path *p);
bool tree_last(is_file *f, const is_index *ix, is_path *p);
bool tree_next(is_file *f, const is_index *ix, is_path *p);
bool tree_prev(is_file *f, const is_index *ix, is_path *p);
const unsigned char *tree_entry(is_file *f, const is_index *ix, const is_path *p);
void tree_insert(is_file *f, is_index *ix, const unsigned char *ent);
void tree_remove(is_file *f, is_index *ix, const unsigned char *ent);
uint32_t tree_next_dup(is_file *f, const is_index *ix, const unsigned char *key);
uint32_t tree_dup_run(is_file *f, const is_index *ix, const unsigned char *key);
bool tree_dup_free(is_file *f, const is_index *ix, const unsigned char *key, uint32_t dup);
uint32_t tree_renumber(is_file *f, is_index *ix, const unsigned char *key, uint32_t gap = 0);
bool tree_find_rec(is_file *f, const is_index *ix, const unsigned char *key, uint32_t r,
                   is_path *p);
void tree_remove_at(is_file *f, is_index *ix, const is_path *p);
inline void path_copy(is_path *dst, const is_path *src) {
  dst->depth = src->depth;
  for (int i = 0; i < src->depth; i++) {
    dst->node[i] = src->node[i];
    dst->slot[i] = src->slot[i];
  }
}
void tree_free_all(is_file *f, is_index *ix);

// --- islock.cpp: file and record locks
int lock_open(is_file *f, bool excl);  // 0 or iserrno
void lock_close(is_file *f, bool was_excl);
bool lock_rec_other(is_file *f, uint32_t r, int isfd);  // held by another holder
int lock_rec(is_file *f, uint32_t r, int isfd);         // 0 or ELOCKED
void lock_rec_wait(is_file *f, uint32_t r, int isfd);
void unlock_rec(is_file *f, uint32_t r);
void unlock_fd(is_file *f, int isfd);
void lock_tree(is_file *f, bool write);
bool lock_file_other(is_file *f);
void unlock_tree(is_file *f);

// --- isfile.cpp: descriptor table and the file-level calls
is_fd *fd_lookup(int isfd);  // throws ENOTOPEN
std::vector<is_fd *> &fd_table();
int file_open(const char *name, int mode);  // isopen without iserrno: throws
void file_release(is_file *f);              // frees a file nobody holds any more

// --- isrecord.cpp: record changes made for the transaction layer
int rec_apply(is_file *f, int owner, uint32_t r, const unsigned char *from, const unsigned char *to,
              bool any = false, const uint32_t *dups = nullptr, size_t n = 0);

// --- istrans.cpp: transactions and the log
enum { LOG_INSERT = 1, LOG_DELETE = 2, LOG_REWRITE = 3, LOG_COMMIT = 8, LOG_ROLLBACK = 9 };
bool tx_member(const is_fd *d);          // a transaction is active and d is ISTRANS
int tx_owner(const is_fd *d, int isfd);  // the holder of the locks d takes
void tx_pin(is_file *f);                 // the transaction keeps f open
const unsigned char *tx_before(is_fd *d, int isfd, uint32_t r);  // locks, keeps the image
// Logs a change and remembers its undo; removed: the duplicate counters
// the entries of the image before had (one per index), or nullptr.
void tx_change(is_fd *d, int isfd, int type, uint32_t r, const unsigned char *before,
               const unsigned char *after, const uint32_t *removed = nullptr);
void tx_opened(is_file *f);  // a file was opened: orphans are rolled back

// Runs the body of an interface call: clears iserrno first, turns a thrown
// is_error into -1 with iserrno set.  A reading call that ran without the
// call lock and found the file changed under it runs again with the lock.
template <class Body>
int api_call(Body body) {
  iserrno = 0;
  for (int attempt = 0;; attempt++) {
    try {
      return body();
    } catch (const is_error &e) {
      bool retry = call_retry_take();
      if ((e.err != ERETRY && !retry) || attempt > 0) {
        iserrno = e.err == ERETRY ? EBADFILE : e.err;
        break;
      }
      iserrno = 0;
    } catch (const std::bad_alloc &) {
      iserrno = EBADMEM;
      break;
    }
  }
  return -1;
}

// The per-call lock and cache check of one call; changes are flushed by
// finish(), and abandoned when the guard goes without it.  A reading call
// may run without the lock (optimistic): check() before it acts on what
// it read, and finish(), confirm that nobody changed the file meanwhile.
struct call_guard {
  is_file *f;
  bool done = false;
  call_guard(is_file *file, bool write) : f(file) { call_begin(f, write); }
  void check() { call_check(f); }
  void finish() {
    call_check(f);
    done = true;
    call_end(f, true);
  }
  ~call_guard() {
    if (!done) call_end(f, false);
  }
  call_guard(const call_guard &) = delete;
  call_guard &operator=(const call_guard &) = delete;
};

}  // namespace isam
