// istrans.cpp: the transaction log and the transactions.
//
// One log file serves every process that opens it (islogopen).  It starts
// with a header of LOG_HDR bytes -- magic, the next transaction number, the
// number of active transactions and a table of LOG_SLOTS slots, one per
// active transaction (number, process, state, where its records start) --
// followed by records appended with one write each:
//
//   magic "QLOG" (4), length (4), hash of the rest (8), type (1), 3 zero
//   bytes, process (4), transaction (8, 0 outside a transaction), record
//   number (4), record length (4), path length (2), flags (2: 1 image
//   before, 2 image after, 4 counters), number of counters (2), 2 zero
//   bytes, then the file's absolute base name, the images and, with flag
//   4, the duplicate counter (4 each, 0 none) that the entries of the
//   image before had in each index: a rollback puts them back in place
//   among their duplicates.
//
// Every change to a file not opened ISNOLOG is logged, before it reaches
// the file.  A process in a transaction holds the region lock of its slot
// (LOCK_BASE + 1 + slot on the log) from isbegin to the end: a slot marked
// active whose lock is free belongs to a process that died, and its
// transaction is an orphan.  Orphans are rolled back (or, when their commit
// record made it to the log, finished) by the next process that opens the
// log or opens a file while it has the log open, and by isrecover.
//
// Rolling back or replaying a change moves the record from one logged image
// to the other only when it still holds the first: a record that somebody
// changed since is left alone and counted as a conflict.
#include "isam/isintern.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

namespace isam {

constexpr char LOG_MAGIC[9] = "QUILLOG1";
constexpr size_t LOG_HDR = 16384;
constexpr size_t LOG_SLOT0 = 64;
constexpr size_t LOG_SLOTLEN = 32;
constexpr int LOG_SLOTS = int((LOG_HDR - LOG_SLOT0) / LOG_SLOTLEN);
constexpr uint32_t REC_MAGIC = 0x514c4f47;  // "QLOG"
constexpr size_t REC_HDR = 48;
constexpr int64_t LOG_LOCK_TABLE = LOCK_BASE;
constexpr int64_t LOG_LOCK_SLOT = LOCK_BASE + 1;

struct tx_undo {
  is_file *f;
  uint32_t r;
  std::vector<unsigned char> before, after;  // empty: no record
  std::vector<uint32_t> dups;                // counters of before's entries, or none
};

struct tx_state {
  int appfd = -1;  // the log, appending
  int hdrfd = -1;  // the log, for its header
  std::string path;
  bool active = false;
  uint64_t txid = 0;
  int slot = -1;
  std::vector<tx_undo> undo;                          // changes, oldest first
  std::vector<is_file *> pinned;                      // files kept open
  std::vector<std::pair<is_file *, uint32_t>> freed;  // numbers to free at commit
  std::vector<unsigned char> before;                  // image kept by tx_before
  bool have_before = false;
  std::vector<unsigned char> rec;  // a record being built
};
static tx_state tx;

// ---- the log file

static void log_lock(int64_t off, bool wait) {
  if (io_lock(tx.hdrfd, wait ? F_SETLKW : F_SETLK, F_WRLCK, off, 1, nullptr) != 0) {
    iserrio = IO_LOCK;
    is_throw(ELOGOPEN);
  }
}

static void log_unlock(int64_t off) {
  io_lock(tx.hdrfd, F_SETLK, F_UNLCK, off, 1, nullptr);
}

struct table_lock {
  table_lock() { log_lock(LOG_LOCK_TABLE, true); }
  ~table_lock() { log_unlock(LOG_LOCK_TABLE); }
  table_lock(const table_lock &) = delete;
  table_lock &operator=(const table_lock &) = delete;
};

static void hdr_read(unsigned char *h, size_t len) {
  try {
    io_pread(tx.hdrfd, h, len, 0, 0);
  } catch (const is_error &) {
    is_throw(ELOGREAD);
  }
}

static void hdr_write(const unsigned char *h, size_t len, size_t off) {
  try {
    io_pwrite(tx.hdrfd, h, len, int64_t(off), 0);
  } catch (const is_error &) {
    is_throw(ELOGWRIT);
  }
}

static void log_append(const std::vector<unsigned char> &r) {
  const unsigned char *p = r.data();
  size_t left = r.size();
  while (left > 0) {
    ssize_t n = ::write(tx.appfd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) is_throw(ELOGWRIT);
    p += n;
    left -= size_t(n);
  }
}

static uint64_t log_size() {
  struct stat st;
  if (fstat(tx.hdrfd, &st) != 0) is_throw(ELOGREAD);
  return uint64_t(st.st_size);
}

// Builds a log record in tx.rec; ndups counters from dups follow the images.
static void rec_build(int type, uint64_t txid, const std::string &path, uint32_t r, int reclen,
                      const unsigned char *before, const unsigned char *after,
                      const uint32_t *dups = nullptr, size_t ndups = 0) {
  size_t len = REC_HDR + path.size() + (before ? size_t(reclen) : 0) +
               (after ? size_t(reclen) : 0) + 4 * ndups;
  std::vector<unsigned char> &b = tx.rec;
  b.assign(len, 0);
  put32(b.data(), REC_MAGIC);
  put32(b.data() + 4, uint32_t(len));
  b[16] = uint8_t(type);
  put32(b.data() + 20, uint32_t(getpid()));
  put64(b.data() + 24, txid);
  put32(b.data() + 32, r);
  put32(b.data() + 36, uint32_t(reclen));
  put16(b.data() + 40, uint32_t(path.size()));
  put16(b.data() + 42, (before ? 1u : 0u) | (after ? 2u : 0u) | (ndups ? 4u : 0u));
  put16(b.data() + 44, uint32_t(ndups));
  unsigned char *p = b.data() + REC_HDR;
  std::memcpy(p, path.data(), path.size());
  p += path.size();
  if (before) std::memcpy(p, before, size_t(reclen)), p += reclen;
  if (after) std::memcpy(p, after, size_t(reclen)), p += reclen;
  for (size_t i = 0; i < ndups; i++, p += 4) put32(p, dups[i]);
  put64(b.data() + 8, jnl_hash(b.data() + 16, len - 16, 0));
}

// A record read back from the log.
struct log_rec {
  int type;
  uint64_t txid;
  std::string path;
  uint32_t r;
  std::vector<unsigned char> before, after;
  bool has_before, has_after;
  std::vector<uint32_t> dups;  // counters of before's entries, or none
};

// Reads the records from offset from to the end.  A record cut short by
// a crash, or damaged, is skipped: the reader looks for the next magic
// that starts a record with a good hash.
static std::vector<log_rec> log_read(uint64_t from) {
  uint64_t end = log_size();
  std::vector<log_rec> out;
  if (from < LOG_HDR) from = LOG_HDR;
  if (end <= from) return out;
  std::vector<unsigned char> buf(static_cast<size_t>(end - from));
  try {
    io_pread(tx.hdrfd, buf.data(), buf.size(), int64_t(from), 0);
  } catch (const is_error &) {
    is_throw(ELOGREAD);
  }
  size_t p = 0;
  while (p + REC_HDR <= buf.size()) {
    const unsigned char *q = buf.data() + p;
    size_t len = get32(q + 4);
    if (get32(q) != REC_MAGIC || len < REC_HDR || len > buf.size() - p ||
        get64(q + 8) != jnl_hash(q + 16, len - 16, 0)) {
      p++;
      continue;
    }
    log_rec r;
    r.type = q[16];
    r.txid = get64(q + 24);
    r.r = get32(q + 32);
    size_t reclen = get32(q + 36), plen = get16(q + 40);
    int flags = get16(q + 42);
    size_t ndups = flags & 4 ? get16(q + 44) : 0;
    r.has_before = flags & 1;
    r.has_after = flags & 2;
    size_t need =
        REC_HDR + plen + (r.has_before ? reclen : 0) + (r.has_after ? reclen : 0) + 4 * ndups;
    if (need != len) {
      p++;
      continue;
    }
    const unsigned char *d = q + REC_HDR;
    r.path.assign(reinterpret_cast<const char *>(d), plen);
    d += plen;
    if (r.has_before) r.before.assign(d, d + reclen), d += reclen;
    if (r.has_after) r.after.assign(d, d + reclen), d += reclen;
    for (size_t i = 0; i < ndups; i++, d += 4) r.dups.push_back(get32(d));
    out.push_back(std::move(r));
    p += len;
  }
  return out;
}

static void log_sync() {
  if (fdatasync(tx.appfd) != 0) is_throw(ELOGWRIT);
}

// ---- the slot table

struct slot_info {
  uint64_t txid;
  uint32_t pid, state;
  uint64_t start;
};

static slot_info slot_get(const unsigned char *h, int i) {
  const unsigned char *p = h + LOG_SLOT0 + size_t(i) * LOG_SLOTLEN;
  return {get64(p), get32(p + 8), get32(p + 12), get64(p + 16)};
}

static void slot_put(unsigned char *h, int i, const slot_info &s) {
  unsigned char *p = h + LOG_SLOT0 + size_t(i) * LOG_SLOTLEN;
  std::memset(p, 0, LOG_SLOTLEN);
  put64(p, s.txid);
  put32(p + 8, s.pid);
  put32(p + 12, s.state);
  put64(p + 16, s.start);
}

// Writes slot i and the count of active slots (the table lock held).
static void slot_write(unsigned char *h, int i, const slot_info &s) {
  slot_put(h, i, s);
  uint32_t active = 0;
  for (int k = 0; k < LOG_SLOTS; k++) active += slot_get(h, k).state != 0;
  put32(h + 24, active);
  hdr_write(h + 24, 8, 24);
  hdr_write(h + LOG_SLOT0 + size_t(i) * LOG_SLOTLEN, LOG_SLOTLEN,
            LOG_SLOT0 + size_t(i) * LOG_SLOTLEN);
}

// ---- applying logged changes to the files

struct file_cache {
  std::map<std::string, int> fds;  // path -> descriptor opened for recovery
  ~file_cache() {
    for (auto &p : fds)
      if (p.second >= 0) isclose(p.second);
  }
  is_file *get(const std::string &path) {
    auto it = fds.find(path);
    if (it == fds.end()) {
      int fd = -1;
      try {
        fd = file_open(path.c_str(), ISINOUT + ISMANULOCK);
      } catch (const is_error &) {
        fd = -1;  // a file that is gone or damaged: its changes count as conflicts
      }
      it = fds.emplace(path, fd).first;
    }
    return it->second >= 0 ? fd_lookup(it->second)->f : nullptr;
  }
};

static const unsigned char *img(const std::vector<unsigned char> &v, bool has) {
  return has ? v.data() : nullptr;
}

// Undoes the changes of one transaction, newest first; the number of
// conflicts.
static int undo_records(file_cache &fc, const std::vector<log_rec> &recs) {
  int conflicts = 0;
  for (size_t i = recs.size(); i-- > 0;) {
    const log_rec &r = recs[i];
    if (r.type < LOG_INSERT || r.type > LOG_REWRITE) continue;
    is_file *f = fc.get(r.path);
    if (!f || rec_apply(f, -3, r.r, img(r.after, r.has_after), img(r.before, r.has_before), false,
                        r.dups.data(), r.dups.size()) < 0)
      conflicts++;
  }
  return conflicts;
}

// A transaction whose commit record is in the log but whose process died
// before it freed the numbers of its deleted records: they are freed now.
static void finish_commit(file_cache &fc, const std::vector<log_rec> &recs) {
  for (const log_rec &r : recs) {
    if (r.type != LOG_DELETE) continue;
    is_file *f = fc.get(r.path);
    if (!f) continue;
    try {
      call_guard g(f, true);
      if (r.r <= f->maxrec && rec_state(f, r.r) == SLOT_FREE) {
        slot_take(f, r.r);  // never twice on the list
        slot_push(f, r.r);
      }
      g.finish();
    } catch (const is_error &) {
      // a damaged file: the checker frees lost numbers
    }
  }
}

// Rolls back (or finishes) every orphaned transaction.  Returns the
// number of conflicts.
static int orphans_recover() {
  if (tx.hdrfd < 0) return 0;
  unsigned char h0[64];
  hdr_read(h0, sizeof h0);
  if (get32(h0 + 24) <= (tx.active ? 1u : 0u)) return 0;  // only ours, or none
  table_lock tl;
  std::vector<unsigned char> h(LOG_HDR);
  hdr_read(h.data(), h.size());
  int conflicts = 0;
  for (int i = 0; i < LOG_SLOTS; i++) {
    slot_info s = slot_get(h.data(), i);
    if (s.state == 0 || i == tx.slot) continue;
    if (io_lock(tx.hdrfd, F_SETLK, F_WRLCK, LOG_LOCK_SLOT + i, 1, nullptr) != 0) continue;  // alive
    std::vector<log_rec> all = log_read(s.start), mine;
    bool committed = false;
    for (log_rec &r : all) {
      if (r.txid != s.txid) continue;
      if (r.type == LOG_COMMIT) committed = true;
      mine.push_back(std::move(r));
    }
    {
      file_cache fc;
      if (committed) {
        finish_commit(fc, mine);
      } else {
        conflicts += undo_records(fc, mine);
        rec_build(LOG_ROLLBACK, s.txid, "", 0, 0, nullptr, nullptr);
        log_append(tx.rec);
      }
    }
    slot_write(h.data(), i, slot_info{0, 0, 0, 0});
    log_unlock(LOG_LOCK_SLOT + i);
  }
  return conflicts;
}

static void log_close() {
  io_close(tx.appfd);
  io_close(tx.hdrfd);
  tx.appfd = tx.hdrfd = -1;
  tx.path.clear();
}

// ---- hooks for the record calls

bool tx_member(const is_fd *d) {
  return tx.active && (d->mode & ISTRANS);
}

int tx_owner(const is_fd *d, int isfd) {
  return tx_member(d) ? TX_OWNER : isfd;
}

void tx_pin(is_file *f) {
  if (std::find(tx.pinned.begin(), tx.pinned.end(), f) != tx.pinned.end()) return;
  tx.pinned.push_back(f);
  f->txpin++;
}

static bool logged(const is_fd *d) {
  return tx.appfd >= 0 && !(d->mode & ISNOLOG);
}

const unsigned char *tx_before(is_fd *d, int isfd, uint32_t r) {
  tx.have_before = false;
  (void)isfd;
  if (!logged(d) && !tx_member(d)) return nullptr;
  is_file *f = d->f;
  if (r < 1 || r > f->maxrec) return nullptr;
  if (tx_member(d)) {
    if (lock_rec(f, r, TX_OWNER) != 0) is_throw(ELOCKED);
    tx_pin(f);
  }
  tx.before.resize(size_t(f->reclen));
  uint8_t st;
  rec_read(f, r, tx.before.data(), &st);
  if (st != SLOT_LIVE) return nullptr;
  tx.have_before = true;
  return tx.before.data();
}

void tx_change(is_fd *d, int isfd, int type, uint32_t r, const unsigned char *before,
               const unsigned char *after, const uint32_t *removed) {
  (void)isfd;
  bool member = tx_member(d);
  if (!logged(d) && !member) return;
  is_file *f = d->f;
  // the counters are kept only when an entry among duplicates went
  size_t ndups = 0;
  if (removed && before)
    for (size_t i = 0; i < f->ix.size() && !ndups; i++)
      if (removed[i]) ndups = f->ix.size();
  if (member) {
    if (type == LOG_INSERT && lock_rec(f, r, TX_OWNER) != 0) is_throw(ELOCKED);
    tx_pin(f);
    tx_undo u{f, r, {}, {}, {}};
    if (before) u.before.assign(before, before + f->reclen);
    if (after) u.after.assign(after, after + f->reclen);
    if (ndups) u.dups.assign(removed, removed + ndups);
    tx.undo.push_back(std::move(u));
    if (type == LOG_DELETE) tx.freed.emplace_back(f, r);
  }
  if (logged(d)) {
    rec_build(type, member ? tx.txid : 0, f->abspath, r, f->reclen, before, after, removed, ndups);
    log_append(tx.rec);
  }
}

void tx_opened(is_file *f) {
  (void)f;
  if (tx.hdrfd < 0) return;
  try {
    orphans_recover();
  } catch (const is_error &) {
    // the open stands; the next open, isbegin or isrecover tries again
  }
}

// Ends the transaction: releases its locks and the files it kept open,
// and frees its slot.
static void tx_end() {
  for (is_file *f : tx.pinned) {
    unlock_fd(f, TX_OWNER);
    f->txpin--;
  }
  std::vector<is_file *> pinned;
  pinned.swap(tx.pinned);
  for (is_file *f : pinned) file_release(f);
  tx.undo.clear();
  tx.freed.clear();
  tx.active = false;
  if (tx.slot >= 0) {
    try {
      table_lock tl;
      std::vector<unsigned char> h(LOG_HDR);
      hdr_read(h.data(), h.size());
      slot_write(h.data(), tx.slot, slot_info{0, 0, 0, 0});
    } catch (const is_error &) {
      // the slot stays marked: its lock goes with it, so it reads as an
      // orphan whose end record is in the log
    }
    log_unlock(LOG_LOCK_SLOT + tx.slot);
    tx.slot = -1;
  }
}

}  // namespace isam

using namespace isam;

int islogopen(const char *logname) {
  return api_call([&] {
    if (!logname || !*logname) is_throw(ELOGOPEN);
    if (tx.active) is_throw(EBADARG);
    if (tx.hdrfd >= 0) log_close();
    tx.hdrfd = io_open(logname, O_RDWR | O_CREAT, 0666);
    if (tx.hdrfd < 0) is_throw(ELOGOPEN);
    tx.appfd = io_open(logname, O_WRONLY | O_APPEND, 0);
    if (tx.appfd < 0) {
      log_close();
      is_throw(ELOGOPEN);
    }
    tx.path = logname;
    try {
      table_lock tl;
      unsigned char h[64];
      if (log_size() == 0) {
        std::vector<unsigned char> nh(LOG_HDR, 0);
        std::memcpy(nh.data(), LOG_MAGIC, 8);
        put64(nh.data() + 16, 1);
        hdr_write(nh.data(), nh.size(), 0);
      }
      hdr_read(h, sizeof h);
      if (std::memcmp(h, LOG_MAGIC, 8) != 0) is_throw(EBADLOG);
    } catch (...) {
      log_close();
      throw;
    }
    orphans_recover();
    return 0;
  });
}

int islogclose(void) {
  return api_call([] {
    if (tx.active) is_throw(EBADARG);
    log_close();
    return 0;
  });
}

int isbegin(void) {
  return api_call([] {
    if (tx.hdrfd < 0) is_throw(ENOLOG);
    if (tx.active) is_throw(EBADARG);
    orphans_recover();
    table_lock tl;
    std::vector<unsigned char> h(LOG_HDR);
    hdr_read(h.data(), h.size());
    int slot = -1;
    for (int i = 0; i < LOG_SLOTS && slot < 0; i++) {
      if (slot_get(h.data(), i).state != 0) continue;
      if (io_lock(tx.hdrfd, F_SETLK, F_WRLCK, LOG_LOCK_SLOT + i, 1, nullptr) == 0) slot = i;
    }
    if (slot < 0) is_throw(EUSER);
    uint64_t id = get64(h.data() + 16);
    put64(h.data() + 16, id + 1);
    try {
      hdr_write(h.data() + 16, 8, 16);
      slot_write(h.data(), slot, slot_info{id, uint32_t(getpid()), 1, log_size()});
    } catch (...) {
      log_unlock(LOG_LOCK_SLOT + slot);
      throw;
    }
    tx.active = true;
    tx.txid = id;
    tx.slot = slot;
    return 0;
  });
}

int iscommit(void) {
  return api_call([] {
    if (!tx.active) is_throw(ENOTRANS);
    // the changes of exclusively opened files reach the files first
    for (is_file *f : tx.pinned) cache_flush(f);
    rec_build(LOG_COMMIT, tx.txid, "", 0, 0, nullptr, nullptr);
    log_append(tx.rec);
    log_sync();
    // the numbers of the deleted records become free
    for (auto &[f, r] : tx.freed) {
      call_guard g(f, true);
      if (r <= f->maxrec && rec_state(f, r) == SLOT_FREE) slot_push(f, r);
      g.finish();
    }
    tx_end();
    return 0;
  });
}

int isrollback(void) {
  return api_call([] {
    if (!tx.active) is_throw(ENOTRANS);
    int conflicts = 0;
    for (size_t i = tx.undo.size(); i-- > 0;) {
      tx_undo &u = tx.undo[i];
      const unsigned char *before = u.before.empty() ? nullptr : u.before.data();
      const unsigned char *after = u.after.empty() ? nullptr : u.after.data();
      if (rec_apply(u.f, TX_OWNER, u.r, after, before, false, u.dups.data(), u.dups.size()) < 0)
        conflicts++;
    }
    for (is_file *f : tx.pinned) cache_flush(f);
    int err = 0;
    try {
      rec_build(LOG_ROLLBACK, tx.txid, "", 0, 0, nullptr, nullptr);
      log_append(tx.rec);
    } catch (const is_error &e) {
      err = e.err;
    }
    tx_end();
    if (conflicts) is_throw(EBADFILE);
    if (err) is_throw(err);
    return 0;
  });
}

// Brings the files of the log to the state the log describes: orphaned
// transactions are rolled back, then every record changed by the log --
// outside a transaction or in a committed one -- is given its last logged
// image, in the order of those last changes.  Run on files restored from a
// backup with the log written since, it replays the work done since the
// backup; on current files it changes nothing.
int isrecover(void) {
  return api_call([] {
    if (tx.hdrfd < 0) is_throw(ENOLOG);
    if (tx.active) is_throw(EBADARG);
    int conflicts = orphans_recover();
    std::vector<log_rec> all = log_read(LOG_HDR);
    std::set<uint64_t> committed, live;
    for (const log_rec &r : all)
      if (r.type == LOG_COMMIT) committed.insert(r.txid);
    {
      // transactions still running in other processes are left to them
      table_lock tl;
      std::vector<unsigned char> h(LOG_HDR);
      hdr_read(h.data(), h.size());
      for (int i = 0; i < LOG_SLOTS; i++) {
        slot_info s = slot_get(h.data(), i);
        if (s.state != 0) live.insert(s.txid);
      }
    }
    auto counts = [&](const log_rec &r) {
      return r.type >= LOG_INSERT && r.type <= LOG_REWRITE &&
             (r.txid == 0 || (committed.count(r.txid) && !live.count(r.txid)));
    };
    std::map<std::pair<std::string, uint32_t>, size_t> last;
    for (size_t i = 0; i < all.size(); i++)
      if (counts(all[i])) last[{all[i].path, all[i].r}] = i;
    file_cache fc;
    for (size_t i = 0; i < all.size(); i++) {
      const log_rec &r = all[i];
      if (!counts(r) || last[{r.path, r.r}] != i) continue;
      is_file *f = fc.get(r.path);
      if (!f || rec_apply(f, -3, r.r, nullptr, img(r.after, r.has_after), true) < 0) conflicts++;
    }
    if (conflicts) is_throw(EBADLOG);
    return 0;
  });
}
