// isrecord.cpp: the record calls: isstart, isread, iswrite, iswrcurr,
// isrewrite, isrewcurr, isrewrec, isdelete, isdelcurr, isdelrec,
// isrelease, isrelrec, isrelcurr.
//
// A descriptor's position is a state and an entry of its current index
// (ordering bytes and record number), never a pointer into the tree, so it
// survives changes made by other descriptors and processes:
//   P_UNDEF  nothing to move from: sequential reads give ENOCURR
//   P_BEGIN  before the first entry (isopen, isstart ISFIRST)
//   P_END    after the last entry (isstart ISLAST)
//   P_START  on an entry not yet read (keyed isstart): ISNEXT, ISPREV and
//            ISCURR all return it
//   P_ON     on the record last read
//   P_HOLE   where the record last read was, before it was deleted
// The path of the last entry read is kept as a hint and reused by the next
// sequential read while the tree is unchanged, so a scan costs no search.
#include "isam/isintern.h"

namespace isam {

struct found {
  uint32_t r;                  // record number
  unsigned char ent[MAX_ENT];  // its entry in the current index
  is_path path;                // path to it
};

// The current index, or nullptr for record-number order.
static is_index *cur_index(is_fd *d) {
  if (d->cur == 0) return nullptr;
  is_index *ix = &d->f->ix[size_t(d->cur) - 1];
  return ix->kd.k_nparts == 0 ? nullptr : ix;
}

static bool take(is_file *f, const is_index *ix, bool ok, const is_path &p, found *out) {
  if (!ok) return false;
  const unsigned char *e = tree_entry(f, ix, &p);
  std::memcpy(out->ent, e, size_t(ix->cmplen) + 4);
  out->r = get32(e + ix->cmplen);
  path_copy(&out->path, &p);
  return true;
}

// The first live record number from r on, stepping by dir; 0 when none.
static uint32_t phys_scan(is_file *f, int64_t r, int dir) {
  for (; r >= 1 && r <= int64_t(f->maxrec); r += dir)
    if (rec_state(f, uint32_t(r)) == SLOT_LIVE) return uint32_t(r);
  return 0;
}

static bool phys_take(uint32_t r, found *out) {
  out->r = r;
  put32(out->ent, r);
  return r != 0;
}

// A scan reads records in key order, scattered over the data file: fetch
// the records of the entries a few steps ahead while this one is copied.
static void prefetch_ahead(is_file *f, const is_index *ix, const is_path *p) {
  constexpr int AHEAD = 8;
  const unsigned char *q = node_get(f, p->node[p->depth - 1]);
  int s = p->slot[p->depth - 1] + AHEAD;
  if (s < int(get16(q + 2))) rec_prefetch(f, get32(q + NODE_HDR + s * ix->entlen + ix->cmplen));
}

enum where { W_FIRST, W_LAST, W_AFTER, W_BEFORE, W_ATAFTER, W_ATBEFORE, W_EXACT };

// Finds an entry relative to the entry e (or the ends of the index).
static bool find(is_fd *d, where w, const unsigned char *e, found *out) {
  is_file *f = d->f;
  is_index *ix = cur_index(d);
  if (!ix) {
    uint32_t r = w == W_FIRST || w == W_LAST ? 0 : get32(e);
    switch (w) {
      case W_FIRST:
        return phys_take(phys_scan(f, 1, 1), out);
      case W_LAST:
        return phys_take(phys_scan(f, int64_t(f->maxrec), -1), out);
      case W_AFTER:
        return phys_take(phys_scan(f, int64_t(r) + 1, 1), out);
      case W_BEFORE:
        return phys_take(phys_scan(f, int64_t(r) - 1, -1), out);
      case W_ATAFTER:
        return phys_take(phys_scan(f, r, 1), out);
      case W_ATBEFORE:
        return phys_take(phys_scan(f, std::min<int64_t>(r, int64_t(f->maxrec)), -1), out);
      case W_EXACT:
        return phys_take(r >= 1 && r <= f->maxrec && rec_state(f, r) == SLOT_LIVE ? r : 0, out);
    }
    return false;
  }
  is_path p;
  int len = ix->cmplen;
  switch (w) {
    case W_FIRST:
      return take(f, ix, tree_first(f, ix, &p), p, out);
    case W_LAST:
      return take(f, ix, tree_last(f, ix, &p), p, out);
    case W_AFTER:
      if (d->pos == P_ON && d->hint_mods == f->mods) {
        path_copy(&p, &d->hint);
        if (!take(f, ix, tree_next(f, ix, &p), p, out)) return false;
        prefetch_ahead(f, ix, &p);
        return true;
      }
      return take(f, ix, tree_seek(f, ix, e, len, true, &p), p, out);
    case W_BEFORE:
      if (d->pos == P_ON && d->hint_mods == f->mods) {
        path_copy(&p, &d->hint);
        return take(f, ix, tree_prev(f, ix, &p), p, out);
      }
      tree_seek(f, ix, e, len, false, &p);
      return take(f, ix, tree_prev(f, ix, &p), p, out);
    case W_ATAFTER:
      return take(f, ix, tree_seek(f, ix, e, len, false, &p), p, out);
    case W_ATBEFORE:
      tree_seek(f, ix, e, len, true, &p);
      return take(f, ix, tree_prev(f, ix, &p), p, out);
    case W_EXACT:
      return take(f, ix, tree_seek(f, ix, e, len, false, &p), p, out) &&
             std::memcmp(out->ent, e, size_t(len) + 4) == 0;
  }
  return false;
}

// Keyed search for isread and isstart: 0, or ENOREC.
static int find_key(is_fd *d, const unsigned char *rec, int m, found *out) {
  is_file *f = d->f;
  is_index *ix = cur_index(d);
  if (!ix) {
    unsigned char e[4];
    if (isrecnum < 1 || isrecnum > long(f->maxrec)) {
      if (m == ISEQUAL || isrecnum > long(f->maxrec)) return ENOREC;
      put32(e, 1);
      return find(d, W_ATAFTER, e, out) ? 0 : ENOREC;
    }
    put32(e, uint32_t(isrecnum));
    where w = m == ISEQUAL ? W_EXACT : m == ISGREAT ? W_AFTER : W_ATAFTER;
    d->hint_mods = ~uint64_t{0};
    return find(d, w, e, out) ? 0 : ENOREC;
  }
  unsigned char k[MAX_ENT];
  key_make(ix, rec, k);
  int len = d->plen ? d->plen : ix->keylen;
  is_path p;
  if (!take(f, ix, tree_seek(f, ix, k, len, m == ISGREAT, &p), p, out)) return ENOREC;
  if (m == ISEQUAL && std::memcmp(out->ent, k, size_t(len)) != 0) return ENOREC;
  return 0;
}

// Which record a read in mode m returns: 0, or the error of the read.
static int locate(is_fd *d, const unsigned char *rec, int m, found *out) {
  const unsigned char *e = d->ent;
  switch (m) {
    case ISFIRST:
      return find(d, W_FIRST, e, out) ? 0 : EENDFILE;
    case ISLAST:
      return find(d, W_LAST, e, out) ? 0 : EENDFILE;
    case ISNEXT:
    case ISPREV:
      switch (d->pos) {
        case P_UNDEF:
          return ENOCURR;
        case P_BEGIN:
          return find(d, W_FIRST, e, out) ? 0 : EENDFILE;
        case P_END:
          return find(d, W_LAST, e, out) ? 0 : EENDFILE;
        case P_START:
          return find(d, m == ISNEXT ? W_ATAFTER : W_ATBEFORE, e, out) ? 0 : EENDFILE;
        case P_ON:
          return find(d, m == ISNEXT ? W_AFTER : W_BEFORE, e, out) ? 0 : EENDFILE;
        case P_HOLE:  // an entry equal to the hole's was added after its record went
          return find(d, m == ISNEXT ? W_ATAFTER : W_BEFORE, e, out) ? 0 : EENDFILE;
      }
      return ENOCURR;
    case ISCURR:
      switch (d->pos) {
        case P_UNDEF:
        case P_HOLE:
          return ENOCURR;
        case P_BEGIN:
          return find(d, W_FIRST, e, out) ? 0 : ENOCURR;
        case P_END:
          return find(d, W_LAST, e, out) ? 0 : ENOCURR;
        case P_START:
        case P_ON:
          return find(d, W_EXACT, e, out) ? 0 : ENOREC;
      }
      return ENOCURR;
    case ISEQUAL:
    case ISGREAT:
    case ISGTEQ:
      return find_key(d, rec, m, out);
    default:
      return EBADARG;
  }
}

static size_t ent_len(is_fd *d) {
  is_index *ix = cur_index(d);
  return ix ? size_t(ix->cmplen) + 4 : 4;
}

static void set_pos(is_fd *d, pos_state s, const found &fo) {
  d->pos = s;
  d->recnum = fo.r;
  std::memcpy(d->ent, fo.ent, ent_len(d));
  path_copy(&d->hint, &fo.path);
  d->hint_mods = cur_index(d) ? d->f->mods : ~uint64_t{0};
}

// The current record must still be the one read: another process may have
// deleted it and given its number to a new record.  ENOREC otherwise.
static void check_current(is_fd *d) {
  is_index *ix = cur_index(d);
  if (!ix) return;
  is_file *f = d->f;
  if (d->hint_mods == f->mods && d->hint.depth > 0 &&
      std::memcmp(tree_entry(f, ix, &d->hint), d->ent, size_t(ix->cmplen) + 4) == 0)
    return;
  found fo;
  if (!find(d, W_EXACT, d->ent, &fo)) is_throw(ENOREC);
}

static void release_auto(is_fd *d, int isfd) {
  if (d->autolock) {
    auto it = d->f->locks.find(d->autolock);
    if (it != d->f->locks.end() && it->second == isfd) unlock_rec(d->f, d->autolock);
    d->autolock = 0;
  }
}

static void check_writable(is_fd *d) {
  if ((d->mode & 3) == ISINPUT) is_throw(ENOTOPEN);
}

// The entry of record rec in index ix with duplicate counter dup.
static void make_entry(const is_index *ix, const unsigned char *rec, uint32_t dup, uint32_t r,
                       unsigned char *e) {
  key_make(ix, rec, e);
  if (ix->dupw == 2)
    put16(e + ix->keylen, dup);
  else if (ix->dupw == 4)
    put32(e + ix->keylen, dup);
  put32(e + ix->cmplen, r);
}

static bool key_taken(is_file *f, const is_index *ix, const unsigned char *k) {
  is_path p;
  return tree_seek(f, ix, k, ix->keylen, false, &p) &&
         std::memcmp(tree_entry(f, ix, &p), k, size_t(ix->keylen)) == 0;
}

// The duplicate counter a new key k gets in ix (0 for a unique index, and
// 0 when the run of k must be renumbered first); EDUPL when a unique index
// has k already, ENOFREE when the run of k is full.  Changes nothing.
static uint32_t new_dup(is_file *f, const is_index *ix, const unsigned char *k) {
  if (ix->dupw == 0) {
    if (key_taken(f, ix, k)) is_throw(EDUPL);
    return 0;
  }
  uint32_t dup = tree_next_dup(f, ix, k);
  if (dup == 0 && tree_dup_run(f, ix, k) >= (ix->dupw == 2 ? 0xffffu : 0xffffffffu))
    is_throw(ENOFREE);
  return dup;
}

// The counter for key k of an entry that goes back where it was, with its
// old counter want (0: unknown): want when no entry took it; else 0 and
// *gap = want, for final_dup to renumber the run with room before the
// entry that took it, which came later.  Changes nothing.
static uint32_t old_dup(is_file *f, const is_index *ix, const unsigned char *k, uint32_t want,
                        uint32_t *gap) {
  *gap = 0;
  uint32_t max = ix->dupw == 2 ? 0xffffu : 0xffffffffu;
  if (ix->dupw == 0 || want == 0 || want > max) return new_dup(f, ix, k);
  if (tree_dup_free(f, ix, k, want)) return want;
  if (tree_dup_run(f, ix, k) >= max) is_throw(ENOFREE);
  *gap = want;
  return 0;
}

// The counter for key k after the checks: renumbers a run that reached the
// largest counter, or that must make room at gap.
static uint32_t final_dup(is_file *f, is_index *ix, const unsigned char *rec, uint32_t dup,
                          uint32_t gap) {
  if (ix->dupw == 0 || dup != 0) return dup;
  unsigned char k[MAX_ENT];
  key_make(ix, rec, k);
  return tree_renumber(f, ix, k, gap);
}

static uint32_t dup_in(const is_index *ix, const unsigned char *e) {
  return ix->dupw == 2 ? get16(e + ix->keylen) : ix->dupw == 4 ? get32(e + ix->keylen) : 0;
}

// Gives record number r (free, or beyond the last) to a new record: takes
// it off the free list, or extends the file to it, freeing the numbers
// passed over.
static void slot_claim(is_file *f, uint32_t r) {
  if (r <= f->maxrec) {
    if (rec_state(f, r) != SLOT_FREE) is_throw(EDUPL);
    slot_take(f, r);
    return;
  }
  while (f->maxrec + 1 < r) {
    uint32_t q = uint32_t(++f->maxrec);
    rec_write(f, q, nullptr, SLOT_FREE);
    slot_push(f, q);
  }
  f->maxrec = r;
}

// Adds a record; every check comes before the first change.  Returns its
// number; the entry in index want (1-based, 0 none) goes to ent.  With
// force the record gets that number; with olddup (a counter per index, 0
// unknown) it goes back among its duplicates where it was.
static uint32_t write_core(is_file *f, const unsigned char *rec, int want, unsigned char *ent,
                           uint32_t force = 0, const uint32_t *olddup = nullptr) {
  uint32_t dups[MAX_KEYS], gaps[MAX_KEYS];
  unsigned char k[MAX_ENT];
  for (size_t i = 0; i < f->ix.size(); i++) {
    const is_index &ix = f->ix[i];
    gaps[i] = 0;
    if (ix.kd.k_nparts == 0) continue;
    key_make(&ix, rec, k);
    dups[i] = olddup ? old_dup(f, &ix, k, olddup[i], &gaps[i]) : new_dup(f, &ix, k);
  }
  uint32_t r = force;
  if (force) {
    slot_claim(f, force);
  } else {
    if (f->maxrec >= 0x7fffffffu && f->freeslots == 0) is_throw(ENOFREE);
    r = slot_pop(f);
    if (r != 0 && rec_state(f, r) != SLOT_FREE)
      is_throw(EBADFILE);  // the free list names a live record
    if (r == 0) r = uint32_t(++f->maxrec);
  }
  rec_write(f, r, rec, SLOT_LIVE);
  for (size_t i = 0; i < f->ix.size(); i++) {
    is_index &ix = f->ix[i];
    if (ix.kd.k_nparts == 0) continue;
    make_entry(&ix, rec, final_dup(f, &ix, rec, dups[i], gaps[i]), r, k);
    tree_insert(f, &ix, k);
    if (int(i) + 1 == want) std::memcpy(ent, k, size_t(ix.cmplen) + 4);
  }
  if (want == 0 || f->ix[size_t(want) - 1].kd.k_nparts == 0) put32(ent, r);
  f->nrecords++;
  f->dict_dirty = true;
  f->mods++;
  return r;
}

// Record r as it is before a change: it must exist, be live and not be
// locked by another descriptor.  Read into the file's scratch buffer.
static std::vector<unsigned char> &live_record(is_file *f, int isfd, uint32_t r) {
  if (r < 1 || r > f->maxrec) is_throw(ENOREC);
  if (lock_rec_other(f, r, isfd)) is_throw(ELOCKED);
  std::vector<unsigned char> &old = f->scratch;
  old.resize(size_t(f->reclen));
  uint8_t state;
  rec_read(f, r, old.data(), &state);
  if (state != SLOT_LIVE) is_throw(ENOREC);
  return old;
}

// Replaces record r; the entries of indexes whose key changed move (to the
// end of their duplicates, or back to the counters of olddup).  When the
// key of index want changed, its new entry goes to ent and the result is
// true.  removed, when given, gets the counter of every entry taken out
// (0 for the others).
static bool rewrite_core(is_file *f, int isfd, uint32_t r, const unsigned char *rec, int want,
                         unsigned char *ent, uint32_t *removed = nullptr,
                         const uint32_t *olddup = nullptr) {
  std::vector<unsigned char> &old = live_record(f, isfd, r);
  size_t n = f->ix.size();
  uint32_t dups[MAX_KEYS], gaps[MAX_KEYS];
  bool changed[MAX_KEYS];
  unsigned char ko[MAX_ENT], kn[MAX_ENT];
  for (size_t i = 0; i < n; i++) {
    const is_index &ix = f->ix[i];
    changed[i] = false;
    gaps[i] = 0;
    if (removed) removed[i] = 0;
    if (ix.kd.k_nparts == 0) continue;
    key_make(&ix, old.data(), ko);
    key_make(&ix, rec, kn);
    changed[i] = std::memcmp(ko, kn, size_t(ix.keylen)) != 0;
    if (changed[i])
      dups[i] = olddup ? old_dup(f, &ix, kn, olddup[i], &gaps[i]) : new_dup(f, &ix, kn);
  }
  bool moved = false;
  for (size_t i = 0; i < n; i++) {
    if (!changed[i]) continue;
    is_index &ix = f->ix[i];
    is_path p;
    key_make(&ix, old.data(), ko);
    if (!tree_find_rec(f, &ix, ko, r, &p)) is_throw(EBADFILE);
    if (removed) removed[i] = dup_in(&ix, tree_entry(f, &ix, &p));
    tree_remove_at(f, &ix, &p);
    make_entry(&ix, rec, final_dup(f, &ix, rec, dups[i], gaps[i]), r, kn);
    tree_insert(f, &ix, kn);
    if (int(i) + 1 == want) {
      std::memcpy(ent, kn, size_t(ix.cmplen) + 4);
      moved = true;
    }
  }
  rec_write(f, r, rec, SLOT_LIVE);
  f->dict_dirty = true;
  return moved;
}

// Deletes record r.  A deletion inside a transaction (defer) keeps the
// record's lock and leaves its number off the free list until the
// transaction ends, so that a rollback can bring the record back.
// removed, when given, gets the duplicate counter of each entry (0 for a
// unique index).
static void delete_core(is_file *f, int isfd, uint32_t r, bool defer = false,
                        uint32_t *removed = nullptr) {
  std::vector<unsigned char> &old = live_record(f, isfd, r);
  unsigned char k[MAX_ENT];
  for (size_t i = 0; i < f->ix.size(); i++) {
    is_index &ix = f->ix[i];
    if (removed) removed[i] = 0;
    if (ix.kd.k_nparts == 0) continue;
    key_make(&ix, old.data(), k);
    is_path p;
    if (!tree_find_rec(f, &ix, k, r, &p)) is_throw(EBADFILE);
    if (removed) removed[i] = dup_in(&ix, tree_entry(f, &ix, &p));
    tree_remove_at(f, &ix, &p);
  }
  rec_write(f, r, nullptr, SLOT_FREE);
  if (!defer) slot_push(f, r);
  f->nrecords--;
  f->dict_dirty = true;
  f->mods++;
  if (!defer) unlock_rec(f, r);
}

// The record number of the record whose primary key is that of rec.
static uint32_t by_primary(is_file *f, const unsigned char *rec) {
  const is_index &ix = f->ix[0];
  if (ix.kd.k_nparts == 0) is_throw(ENOPRIM);
  if (ix.dupw != 0) is_throw(EPRIMKEY);
  unsigned char k[MAX_ENT];
  key_make(&ix, rec, k);
  is_path p;
  if (!tree_seek(f, &ix, k, ix.keylen, false, &p)) is_throw(ENOREC);
  const unsigned char *e = tree_entry(f, &ix, &p);
  if (std::memcmp(e, k, size_t(ix.keylen)) != 0) is_throw(ENOREC);
  return get32(e + ix.cmplen);
}

// After record r was deleted: descriptors on it now stand in a hole.
static void holes_after_delete(is_file *f, uint32_t r) {
  for (is_fd *x : fd_table())
    if (x && x->f == f && x->pos == P_ON && x->recnum == r) x->pos = P_HOLE;
}

// Moves record r from the image from to the image to (nullptr: no
// record) as one changing call; owner is the lock holder it acts for; with
// any, from whatever r holds.  dups (n counters, one per index, or none)
// are the duplicate counters the entries of the image to had: entries made
// again go back among their duplicates where they were.  0 done, 1 r is
// already in the state to, -1 r is in neither state or the change is
// refused (another lock, a duplicate key).
int rec_apply(is_file *f, int owner, uint32_t r, const unsigned char *from, const unsigned char *to,
              bool any, const uint32_t *dups, size_t n) {
  if (r < 1 || r > 0x7fffffffu) return -1;
  try {
    call_guard g(f, true);
    if (n != f->ix.size()) dups = nullptr;  // the indexes changed since: no places
    std::vector<unsigned char> cur(size_t(f->reclen));
    bool live = false;
    if (r <= f->maxrec) {
      uint8_t st;
      rec_read(f, r, cur.data(), &st);
      live = st == SLOT_LIVE;
    }
    auto same = [&](const unsigned char *img) {
      return img ? live && std::memcmp(cur.data(), img, cur.size()) == 0 : !live;
    };
    if (same(to)) {
      g.finish();
      return 1;
    }
    if (any) from = live ? cur.data() : nullptr;
    if (!same(from)) return -1;
    unsigned char ent[MAX_ENT];
    if (!from) {
      write_core(f, to, 0, ent, r, dups);
    } else if (!to) {
      delete_core(f, owner, r);
      holes_after_delete(f, r);
    } else {
      rewrite_core(f, owner, r, to, 0, ent, nullptr, dups);
    }
    f->mods++;
    g.finish();
    return 0;
  } catch (const is_error &e) {
    if (e.err == EDUPL || e.err == ELOCKED || e.err == ENOREC || e.err == ENOFREE) return -1;
    throw;
  }
}

}  // namespace isam

using namespace isam;

int isstart(int isfd, struct keydesc *key, int length, char *record, int mode) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    is_file *f = d->f;
    int m = mode & 0xff;
    if ((mode & ~(0xff | ISKEEPLOCK)) != 0 || !key ||
        (m != ISFIRST && m != ISLAST && m != ISEQUAL && m != ISGREAT && m != ISGTEQ))
      is_throw(EBADARG);
    call_guard g(f, false);
    int cur = 0;
    if (key->k_nparts != 0) {
      size_t i = 0;
      while (i < f->ix.size() && !key_same_parts(&f->ix[i].kd, key)) i++;
      if (i == f->ix.size()) is_throw(EBADKEY);
      cur = int(i) + 1;
      if (length < 0 || length > f->ix[i].keylen) is_throw(EBADARG);
    }
    if (!(mode & ISKEEPLOCK)) release_auto(d, isfd);
    d->cur = cur;
    d->plen = cur && length < f->ix[size_t(cur) - 1].keylen ? length : 0;
    d->hint_mods = ~uint64_t{0};
    found fo;
    if (m == ISFIRST || m == ISLAST) {
      d->pos = m == ISFIRST ? P_BEGIN : P_END;
      if (find(d, m == ISFIRST ? W_FIRST : W_LAST, d->ent, &fo)) isrecnum = long(fo.r);
    } else {
      if (!record && cur_index(d)) is_throw(EBADARG);
      int rc = find_key(d, reinterpret_cast<const unsigned char *>(record), m, &fo);
      if (rc) {
        d->pos = P_UNDEF;
        is_throw(rc);
      }
      set_pos(d, P_START, fo);
      isrecnum = long(fo.r);
    }
    g.finish();
    return 0;
  });
}

// One attempt of isread.  Returns 0, or ELOCKED with *blocked set when
// ISWAIT asks to wait for the lock of record *blocked.
static int read_once(is_fd *d, int isfd, char *record, int mode, uint32_t *blocked) {
  is_file *f = d->f;
  call_guard g(f, false);
  if (d->mode & ISAUTOLOCK) release_auto(d, isfd);
  found fo;
  int rc = locate(d, reinterpret_cast<unsigned char *>(record), mode & 0xff, &fo);
  if (rc) is_throw(rc);
  const unsigned char *pk = rec_peek(f, fo.r);
  if (!pk) {  // the record straddles two blocks
    uint8_t state;
    f->scratch.resize(size_t(f->reclen) + 1);
    rec_read(f, fo.r, f->scratch.data(), &state);
    f->scratch[size_t(f->reclen)] = state;
    pk = f->scratch.data();
  }
  if (pk[f->reclen] != SLOT_LIVE) is_throw(cur_index(d) ? EBADFILE : ENOREC);
  if (is_index *ix = cur_index(d)) {  // the record must carry its entry's key
    unsigned char k[MAX_ENT];
    key_make(ix, pk, k);
    if (std::memcmp(k, fo.ent, size_t(ix->keylen)) != 0) is_throw(EBADFILE);
  }
  bool want = (mode & ISLOCK) || (d->mode & ISAUTOLOCK);
  bool warn = false;
  int own = tx_owner(d, isfd);
  if (want || (mode & ISSKIPLOCK)) g.check();  // what was read stands: lock by it
  if (mode & ISSKIPLOCK) {
    warn = lock_rec_other(f, fo.r, own);
    if (!warn && want) warn = lock_rec(f, fo.r, own) != 0;
  } else if (want && lock_rec(f, fo.r, own) != 0) {
    if (!(mode & ISWAIT) || f->locks.count(fo.r))
      is_throw(ELOCKED);  // a lock of another descriptor of ours is not waited for
    *blocked = fo.r;
    return ELOCKED;
  }
  if (want && !warn && (d->mode & ISAUTOLOCK) && own == isfd) d->autolock = fo.r;
  if (want && !warn && own == TX_OWNER) tx_pin(f);
  if (*blocked && *blocked != fo.r)  // waited for a record that moved away
    unlock_rec(f, *blocked);
  std::memcpy(record, pk, size_t(f->reclen));
  set_pos(d, P_ON, fo);
  isrecnum = long(fo.r);
  isreclen = f->reclen;
  g.finish();
  if (warn) iserrno = ELOCKED;
  return 0;
}

int isread(int isfd, char *record, int mode) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    int m = mode & 0xff;
    if (m > ISGTEQ || (mode & ~(0xff | ISLOCK | ISSKIPLOCK | ISWAIT)) != 0 || !record)
      is_throw(EBADARG);
    if ((d->mode & 3) == ISOUTPUT) is_throw(ENOTOPEN);
    uint32_t blocked = 0;
    // ISWAIT: wait for the lock without the call lock, then read again
    while (read_once(d, isfd, record, mode, &blocked) != 0)
      lock_rec_wait(d->f, blocked, tx_owner(d, isfd));
    return 0;
  });
}

static int write_call(int isfd, const char *record, bool makecur) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    check_writable(d);
    if (!record) is_throw(EBADARG);
    call_guard g(d->f, true);
    found fo;
    auto rec = reinterpret_cast<const unsigned char *>(record);
    fo.r = write_core(d->f, rec, d->cur, fo.ent);
    tx_change(d, isfd, LOG_INSERT, fo.r, nullptr, rec);
    if (makecur) {
      fo.path.depth = 0;
      set_pos(d, P_ON, fo);
      d->hint_mods = ~uint64_t{0};
    }
    g.finish();
    isrecnum = long(fo.r);
    return 0;
  });
}

int iswrite(int isfd, const char *record) {
  return write_call(isfd, record, false);
}
int iswrcurr(int isfd, const char *record) {
  return write_call(isfd, record, true);
}

int isrewcurr(int isfd, const char *record) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    check_writable(d);
    if (!record) is_throw(EBADARG);
    if (d->pos != P_ON) is_throw(ENOCURR);
    call_guard g(d->f, true);
    check_current(d);
    unsigned char ent[MAX_ENT];
    auto rec = reinterpret_cast<const unsigned char *>(record);
    const unsigned char *old = tx_before(d, isfd, d->recnum);
    uint32_t removed[MAX_KEYS];
    if (rewrite_core(d->f, tx_owner(d, isfd), d->recnum, rec, d->cur, ent, removed))
      std::memcpy(d->ent, ent, ent_len(d));
    tx_change(d, isfd, LOG_REWRITE, d->recnum, old, rec, removed);
    g.finish();
    isrecnum = long(d->recnum);
    return 0;
  });
}

int isrewrite(int isfd, const char *record) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    check_writable(d);
    if (!record) is_throw(EBADARG);
    call_guard g(d->f, true);
    auto rec = reinterpret_cast<const unsigned char *>(record);
    uint32_t r = by_primary(d->f, rec);
    unsigned char ent[MAX_ENT];
    const unsigned char *old = tx_before(d, isfd, r);
    uint32_t removed[MAX_KEYS];
    rewrite_core(d->f, tx_owner(d, isfd), r, rec, 0, ent, removed);
    tx_change(d, isfd, LOG_REWRITE, r, old, rec, removed);
    g.finish();
    isrecnum = long(r);
    return 0;
  });
}

int isrewrec(int isfd, long recnum, const char *record) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    check_writable(d);
    if (!record) is_throw(EBADARG);
    if (recnum < 1 || recnum > 0x7fffffffL) is_throw(ENOREC);
    call_guard g(d->f, true);
    unsigned char ent[MAX_ENT];
    auto rec = reinterpret_cast<const unsigned char *>(record);
    const unsigned char *old = tx_before(d, isfd, uint32_t(recnum));
    uint32_t removed[MAX_KEYS];
    bool moved = rewrite_core(d->f, tx_owner(d, isfd), uint32_t(recnum), rec, d->cur, ent, removed);
    tx_change(d, isfd, LOG_REWRITE, uint32_t(recnum), old, rec, removed);
    if (moved && d->pos == P_ON && d->recnum == uint32_t(recnum))
      std::memcpy(d->ent, ent, ent_len(d));
    g.finish();
    isrecnum = recnum;
    return 0;
  });
}

static int delete_call(int isfd, const char *record, long recnum, bool current) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    check_writable(d);
    if (current && d->pos != P_ON) is_throw(ENOCURR);
    if (!current && !record && (recnum < 1 || recnum > 0x7fffffffL)) is_throw(ENOREC);
    call_guard g(d->f, true);
    if (current) check_current(d);
    uint32_t r = current  ? d->recnum
                 : record ? by_primary(d->f, reinterpret_cast<const unsigned char *>(record))
                          : uint32_t(recnum);
    const unsigned char *old = tx_before(d, isfd, r);
    uint32_t removed[MAX_KEYS];
    delete_core(d->f, tx_owner(d, isfd), r, tx_member(d), removed);
    tx_change(d, isfd, LOG_DELETE, r, old, nullptr, removed);
    if (d->autolock == r) d->autolock = 0;
    holes_after_delete(d->f, r);
    g.finish();
    isrecnum = long(r);
    return 0;
  });
}

int isdelete(int isfd, const char *record) {
  if (!record) {
    iserrno = EBADARG;
    return -1;
  }
  return delete_call(isfd, record, 0, false);
}
int isdelcurr(int isfd) {
  return delete_call(isfd, nullptr, 0, true);
}
int isdelrec(int isfd, long recnum) {
  return delete_call(isfd, nullptr, recnum, false);
}

int isrelease(int isfd) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    unlock_fd(d->f, isfd);
    d->autolock = 0;
    return 0;
  });
}

int isrelrec(int isfd, long recnum) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    if (recnum < 1 || recnum > 0x7fffffffL) is_throw(EBADARG);
    auto it = d->f->locks.find(uint32_t(recnum));
    if (it != d->f->locks.end() && it->second == isfd) unlock_rec(d->f, uint32_t(recnum));
    if (d->autolock == uint32_t(recnum)) d->autolock = 0;
    return 0;
  });
}

int isrelcurr(int isfd) {
  is_fd *d;
  try {
    d = fd_lookup(isfd);
  } catch (const is_error &e) {
    iserrno = e.err;
    return -1;
  }
  if (d->pos != P_ON) {
    iserrno = ENOCURR;
    return -1;
  }
  return isrelrec(isfd, long(d->recnum));
}
