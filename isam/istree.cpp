// istree.cpp: the B+-tree of one index.
//
// Leaves hold entries in ascending order: the ordering bytes (the key value
// and, for an index with duplicates, the duplicate counter) and the record
// number.  Inner nodes hold (ordering bytes, child node) pairs; the bytes of
// pair i are a lower bound of everything under child i, and those of pair 0
// are never consulted.  Every node but the root holds at least one entry;
// a node that empties is freed and unlinked from its parent, a root with a
// single child gives way to it.  There are no sibling links: cursors keep
// the whole path from the root, and moving past the end of a leaf climbs
// the path.  Every node read is checked against the level the path expects,
// so a damaged file ends in EBADFILE, never in a loop or a wild read.
#include "isam/isintern.h"

#include <utility>

namespace isam {

static int node_cap(const is_file *f, const is_index *ix) {
  return int((f->nodesize - NODE_HDR) / uint32_t(ix->entlen));
}

static inline int cnt(const unsigned char *p) {
  return get16(p + 2);
}

static inline const unsigned char *ent_at(const unsigned char *p, const is_index *ix, int i) {
  return p + NODE_HDR + i * ix->entlen;
}

// The node n, checked to be a node of the given level.
static const unsigned char *node_at(is_file *f, const is_index *ix, uint32_t n, int level,
                                    bool root) {
  const unsigned char *p = node_get(f, n);
  int c = cnt(p);
  if (p[0] != (level == 0 ? NODE_LEAF : NODE_INNER) || p[1] != level || c > node_cap(f, ix) ||
      (c == 0 && !root))
    is_throw(EBADFILE);
  return p;
}

static uint32_t child_of(const unsigned char *p, const is_index *ix, int i) {
  return get32(ent_at(p, ix, i) + ix->cmplen);
}

// First entry position in [lo, n) whose first len bytes compare >= k
// (> k when strict).
static int node_search(const unsigned char *p, const is_index *ix, int lo, int n,
                       const unsigned char *k, int len, bool strict) {
  int hi = n;
  while (lo < hi) {
    int mid = (lo + hi) >> 1;
    int c = key_cmp(ent_at(p, ix, mid), k, size_t(len));
    if (c < 0 || (strict && c == 0))
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Descends from level d (whose node and slot are set) to the leaf, along
// the first (or last) entry of every node below.
static void descend_edge(is_file *f, const is_index *ix, is_path *p, int d, bool last) {
  for (; d < ix->height - 1; d++) {
    const unsigned char *q = node_get(f, p->node[d]);
    uint32_t c = child_of(q, ix, p->slot[d]);
    const unsigned char *r = node_at(f, ix, c, ix->height - 2 - d, false);
    p->node[d + 1] = c;
    p->slot[d + 1] = last ? cnt(r) - 1 : 0;
  }
  p->depth = ix->height;
}

static void descend(is_file *f, const is_index *ix, const unsigned char *k, int len, bool strict,
                    is_path *p) {
  uint32_t n = ix->root;
  for (int d = 0; d < ix->height; d++) {
    int level = ix->height - 1 - d;
    const unsigned char *q = node_at(f, ix, n, level, d == 0);
    int c = cnt(q);
    p->node[d] = n;
    if (level > 0) {
      int i = node_search(q, ix, 1, c, k, len, strict) - 1;
      p->slot[d] = i;
      n = child_of(q, ix, i);
    } else {
      p->slot[d] = node_search(q, ix, 0, c, k, len, strict);
    }
  }
  p->depth = ix->height;
}

static int leaf_count(is_file *f, const is_path *p) {
  return cnt(node_get(f, p->node[p->depth - 1]));
}

// Moves to the first entry of the next leaf; false (path unchanged) at the end.
static bool next_leaf(is_file *f, const is_index *ix, is_path *p) {
  for (int d = p->depth - 2; d >= 0; d--) {
    if (p->slot[d] + 1 < cnt(node_get(f, p->node[d]))) {
      p->slot[d]++;
      descend_edge(f, ix, p, d, false);
      return true;
    }
  }
  return false;
}

static bool prev_leaf(is_file *f, const is_index *ix, is_path *p) {
  for (int d = p->depth - 2; d >= 0; d--) {
    if (p->slot[d] > 0) {
      p->slot[d]--;
      descend_edge(f, ix, p, d, true);
      return true;
    }
  }
  return false;
}

// Positions p on the first entry whose first len bytes are >= k (> k when
// strict).  False when there is none; p is then just past the last entry.
bool tree_seek(is_file *f, const is_index *ix, const unsigned char *k, int len, bool strict,
               is_path *p) {
  descend(f, ix, k, len, strict, p);
  if (p->slot[p->depth - 1] < leaf_count(f, p)) return true;
  return next_leaf(f, ix, p);
}

bool tree_first(is_file *f, const is_index *ix, is_path *p) {
  p->node[0] = ix->root;
  const unsigned char *q = node_at(f, ix, ix->root, ix->height - 1, true);
  if (cnt(q) == 0) return false;
  p->slot[0] = 0;
  descend_edge(f, ix, p, 0, false);
  return true;
}

bool tree_last(is_file *f, const is_index *ix, is_path *p) {
  p->node[0] = ix->root;
  const unsigned char *q = node_at(f, ix, ix->root, ix->height - 1, true);
  if (cnt(q) == 0) return false;
  p->slot[0] = cnt(q) - 1;
  descend_edge(f, ix, p, 0, true);
  return true;
}

// Entries must rise strictly from one leaf to the next; a tree that
// repeats or disorders them is damaged (and could make a scan endless).
static void check_order(is_file *f, const is_index *ix, const unsigned char *lo, const is_path *p,
                        bool forward) {
  const unsigned char *e = tree_entry(f, ix, p);
  int c = key_cmp(lo, e, size_t(ix->cmplen));
  if (forward ? c >= 0 : c <= 0) is_throw(EBADFILE);
}

bool tree_next(is_file *f, const is_index *ix, is_path *p) {
  int &s = p->slot[p->depth - 1];
  int c = leaf_count(f, p);
  if (s + 1 < c) {
    s++;
    return true;
  }
  unsigned char last[MAX_ENT];
  bool have = s < c;
  if (have) std::memcpy(last, tree_entry(f, ix, p), size_t(ix->cmplen));
  if (!next_leaf(f, ix, p)) return false;
  if (have) check_order(f, ix, last, p, true);
  return true;
}

bool tree_prev(is_file *f, const is_index *ix, is_path *p) {
  int &s = p->slot[p->depth - 1];
  int c = leaf_count(f, p);
  if (s > 0) {
    s = std::min(s, c) - 1;
    return true;
  }
  unsigned char first[MAX_ENT];
  bool have = c > 0;
  if (have) std::memcpy(first, tree_entry(f, ix, p), size_t(ix->cmplen));
  if (!prev_leaf(f, ix, p)) return false;
  if (have) check_order(f, ix, first, p, false);
  return true;
}

const unsigned char *tree_entry(is_file *f, const is_index *ix, const is_path *p) {
  return ent_at(node_get(f, p->node[p->depth - 1]), ix, p->slot[p->depth - 1]);
}

// Inserts entry e at position pos of the node at level d of path p,
// splitting it (and its parents) when full.
static void insert_at(is_file *f, is_index *ix, const is_path *p, int d, int pos,
                      const unsigned char *e) {
  uint32_t n = p->node[d];
  unsigned char *q = node_mut(f, n);
  int c = cnt(q), el = ix->entlen;
  if (c < node_cap(f, ix)) {
    unsigned char *at = q + NODE_HDR + pos * el;
    std::memmove(at + el, at, size_t(c - pos) * size_t(el));
    std::memcpy(at, e, size_t(el));
    put16(q + 2, uint32_t(c + 1));
    return;
  }
  // Split: the c + 1 entries go to the left node [0, m) and a new right
  // node [m, c].  Appending at the end keeps the left node full, so that
  // ascending inserts fill their nodes.
  std::vector<unsigned char> all(size_t(c + 1) * size_t(el));
  std::memcpy(all.data(), q + NODE_HDR, size_t(pos) * size_t(el));
  std::memcpy(all.data() + size_t(pos) * size_t(el), e, size_t(el));
  std::memcpy(all.data() + size_t(pos + 1) * size_t(el), q + NODE_HDR + pos * el,
              size_t(c - pos) * size_t(el));
  int m = pos == c ? c : pos == 0 ? 1 : (c + 1) / 2;
  int level = q[1];
  uint32_t r = node_alloc(f, q[0], level);
  unsigned char *rq = node_mut(f, r);
  std::memcpy(q + NODE_HDR, all.data(), size_t(m) * size_t(el));
  put16(q + 2, uint32_t(m));
  std::memset(q + NODE_HDR + m * el, 0, size_t(c - m) * size_t(el));
  std::memcpy(rq + NODE_HDR, all.data() + size_t(m) * size_t(el), size_t(c + 1 - m) * size_t(el));
  put16(rq + 2, uint32_t(c + 1 - m));
  unsigned char sep[MAX_ENT];
  std::memcpy(sep, rq + NODE_HDR, size_t(ix->cmplen));
  put32(sep + ix->cmplen, r);
  if (d > 0) {
    insert_at(f, ix, p, d - 1, p->slot[d - 1] + 1, sep);
    return;
  }
  if (ix->height >= MAX_HEIGHT) is_throw(EBADFILE);
  uint32_t nr = node_alloc(f, NODE_INNER, level + 1);
  unsigned char *root = node_mut(f, nr);
  std::memcpy(root + NODE_HDR, q + NODE_HDR, size_t(ix->cmplen));
  put32(root + NODE_HDR + ix->cmplen, n);
  std::memcpy(root + NODE_HDR + el, sep, size_t(el));
  put16(root + 2, 2);
  ix->root = nr;
  ix->height++;
  f->dict_dirty = true;
}

void tree_insert(is_file *f, is_index *ix, const unsigned char *e) {
  is_path p;
  descend(f, ix, e, ix->cmplen, false, &p);
  insert_at(f, ix, &p, p.depth - 1, p.slot[p.depth - 1], e);
  f->mods++;
}

// Removes the entry at level d of path p; an emptied node goes too.
static void remove_at(is_file *f, is_index *ix, const is_path *p, int d) {
  uint32_t n = p->node[d];
  unsigned char *q = node_mut(f, n);
  int c = cnt(q), el = ix->entlen, pos = p->slot[d];
  unsigned char *at = q + NODE_HDR + pos * el;
  std::memmove(at, at + el, size_t(c - 1 - pos) * size_t(el));
  std::memset(q + NODE_HDR + (c - 1) * el, 0, size_t(el));
  put16(q + 2, uint32_t(c - 1));
  if (c - 1 == 0 && d > 0) {
    node_free(f, n);
    remove_at(f, ix, p, d - 1);
    return;
  }
  if (d > 0) return;
  if (c - 1 == 0) {  // the root lost its last child: an empty leaf again
    q[0] = NODE_LEAF;
    q[1] = 0;
    ix->height = 1;
    f->dict_dirty = true;
  }
  while (ix->height > 1 && cnt(node_get(f, ix->root)) == 1) {
    uint32_t old = ix->root;
    ix->root = child_of(node_get(f, old), ix, 0);
    ix->height--;
    node_at(f, ix, ix->root, ix->height - 1, true);
    node_free(f, old);
    f->dict_dirty = true;
  }
}

// Removes the entry e (ordering bytes and record number); a missing entry
// means a damaged index.
void tree_remove(is_file *f, is_index *ix, const unsigned char *e) {
  is_path p;
  if (!tree_seek(f, ix, e, ix->cmplen, false, &p)) is_throw(EBADFILE);
  const unsigned char *t = tree_entry(f, ix, &p);
  if (std::memcmp(t, e, size_t(ix->cmplen) + 4) != 0) is_throw(EBADFILE);
  remove_at(f, ix, &p, p.depth - 1);
  f->mods++;
}

static uint32_t dup_of(const is_index *ix, const unsigned char *e) {
  return ix->dupw == 2 ? get16(e + ix->keylen) : get32(e + ix->keylen);
}

// The duplicate counter for a new entry with key value k: one more than
// the last equal key's; 0 when the counter would overflow.
uint32_t tree_next_dup(is_file *f, const is_index *ix, const unsigned char *k) {
  is_path p;
  tree_seek(f, ix, k, ix->keylen, true, &p);
  if (!tree_prev(f, ix, &p)) return 1;
  const unsigned char *e = tree_entry(f, ix, &p);
  if (std::memcmp(e, k, size_t(ix->keylen)) != 0) return 1;
  uint32_t d = dup_of(ix, e);
  uint32_t max = ix->dupw == 2 ? 0xffffu : 0xffffffffu;
  return d >= max ? 0 : d + 1;
}

// The number of entries with key value k.
uint32_t tree_dup_run(is_file *f, const is_index *ix, const unsigned char *k) {
  is_path p;
  uint32_t n = 0;
  for (bool ok = tree_seek(f, ix, k, ix->keylen, false, &p);
       ok && std::memcmp(tree_entry(f, ix, &p), k, size_t(ix->keylen)) == 0;
       ok = tree_next(f, ix, &p))
    n++;
  return n;
}

// True when no entry with key value k has the duplicate counter dup.
bool tree_dup_free(is_file *f, const is_index *ix, const unsigned char *k, uint32_t dup) {
  unsigned char e[MAX_ENT];
  std::memcpy(e, k, size_t(ix->keylen));
  if (ix->dupw == 2)
    put16(e + ix->keylen, dup);
  else
    put32(e + ix->keylen, dup);
  is_path p;
  return !tree_seek(f, ix, e, ix->cmplen, false, &p) ||
         std::memcmp(tree_entry(f, ix, &p), e, size_t(ix->cmplen)) != 0;
}

// Gives the entries with key value k the counters 1..n in their order,
// leaving one counter unused before the first entry whose counter is gap
// or more (gap 0: after the last), and returns the unused counter: the
// run can grow again once its last counter reached the maximum, and an
// entry can go back between two others.
uint32_t tree_renumber(is_file *f, is_index *ix, const unsigned char *k, uint32_t gap) {
  std::vector<std::pair<uint32_t, uint32_t>> run;  // counter, record
  is_path p;
  for (bool ok = tree_seek(f, ix, k, ix->keylen, false, &p);
       ok && std::memcmp(tree_entry(f, ix, &p), k, size_t(ix->keylen)) == 0;
       ok = tree_next(f, ix, &p)) {
    const unsigned char *e = tree_entry(f, ix, &p);
    run.emplace_back(dup_of(ix, e), get32(e + ix->cmplen));
  }
  unsigned char e[MAX_ENT];
  std::memcpy(e, k, size_t(ix->keylen));
  while (tree_seek(f, ix, k, ix->keylen, false, &p) &&
         std::memcmp(tree_entry(f, ix, &p), k, size_t(ix->keylen)) == 0)
    tree_remove_at(f, ix, &p);
  uint32_t next = 1, hole = 0;
  for (const auto &[dup, r] : run) {
    if (!hole && gap && dup >= gap) hole = next++;
    if (ix->dupw == 2)
      put16(e + ix->keylen, next);
    else
      put32(e + ix->keylen, next);
    put32(e + ix->cmplen, r);
    tree_insert(f, ix, e);
    next++;
  }
  return hole ? hole : next;
}

// Finds the entry of record r under key value k; p is set to its path.
// Among duplicates only the record numbers are compared, one leaf at a time.
bool tree_find_rec(is_file *f, const is_index *ix, const unsigned char *k, uint32_t r, is_path *p) {
  if (!tree_seek(f, ix, k, ix->keylen, false, p)) return false;
  for (;;) {
    int d = p->depth - 1;
    const unsigned char *q = node_get(f, p->node[d]);
    int c = cnt(q);
    int end = ix->dupw == 0 ? std::min(c, p->slot[d] + 1)
                            : node_search(q, ix, p->slot[d], c, k, ix->keylen, true);
    if (std::memcmp(ent_at(q, ix, p->slot[d]), k, size_t(ix->keylen)) != 0) return false;
    for (int i = p->slot[d]; i < end; i++) {
      if (get32(ent_at(q, ix, i) + ix->cmplen) == r) {
        p->slot[d] = i;
        return true;
      }
    }
    if (end < c || ix->dupw == 0) return false;
    p->slot[d] = c - 1;
    if (!next_leaf(f, ix, p)) return false;
  }
}

void tree_remove_at(is_file *f, is_index *ix, const is_path *p) {
  remove_at(f, ix, p, p->depth - 1);
  f->mods++;
}

static void free_sub(is_file *f, const is_index *ix, uint32_t n, int level, bool root) {
  const unsigned char *q = node_at(f, ix, n, level, root);
  if (level > 0) {
    int c = cnt(q);
    for (int i = 0; i < c; i++) free_sub(f, ix, child_of(node_get(f, n), ix, i), level - 1, false);
  }
  node_free(f, n);
}

// Frees every node of index ix.
void tree_free_all(is_file *f, is_index *ix) {
  if (ix->root) free_sub(f, ix, ix->root, ix->height - 1, true);
  ix->root = 0;
  ix->height = 0;
  f->dict_dirty = true;
}

}  // namespace isam
