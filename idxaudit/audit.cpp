// audit.cpp: checks an indexed file pair and rebuilds its index file.
//
// The check reads the files through the engine's own decoding (isam/
// isintern.h) under the engine's locks: the open lock shared, as any
// opener, and the call lock shared for the length of the check, so that no
// writer changes the file meanwhile.  It checks the dictionary and the
// file sizes, the free node list, the free record list, every B-tree
// (node types and levels, order inside nodes and against the parents'
// bounds, every node reached once, each entry's key against its record)
// and that every live record is in every index exactly once.
//
// The repair rebuilds NAME.idx as a whole into a new file that then takes
// its place: indexes found sound keep their entries (and so the order of
// their duplicates), damaged ones are made again from the records in
// record-number order; the free lists are made from the data file.  It
// needs the file to itself (the open lock exclusive).
#include "idxaudit/audit.h"

#include "isam/isintern.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <set>
#include <vector>

using namespace isam;

namespace {

struct audit {
  const std::string &name;
  const ia_opts &o;
  is_file f;
  int64_t idxsize = 0, datsize = 0;
  std::vector<uint8_t> owner;               // per node: 0 unseen, 1 tree, 2 free, 3 slot page
  std::vector<bool> ixbad;                  // per index
  std::vector<std::vector<uint32_t>> seen;  // per index: how often each record appears
  bool damaged = false, lists_bad = false, data_bad = false;
  uint64_t keep_recs = 0;  // records the data file holds whole
  int findings = 0;

  audit(const std::string &n, const ia_opts &opts) : name(n), o(opts) {}

  void say(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, fmt);
    std::fprintf(o.out, "idxaudit: %s: ", name.c_str());
    std::vfprintf(o.out, fmt, ap);
    std::fputc('\n', o.out);
    va_end(ap);
  }
  // A fault; idx is the 1-based index it concerns, 0 none.
  void fault(int idx, const char *fmt, ...) __attribute__((format(printf, 3, 4))) {
    char b[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(b, sizeof b, fmt, ap);
    va_end(ap);
    damaged = true;
    if (idx > 0) ixbad[size_t(idx) - 1] = true;
    if (++findings <= 50) {
      if (idx > 0)
        say("index %d: %s", idx, b);
      else
        say("%s", b);
    } else if (findings == 51) {
      say("more faults not shown");
    }
  }

  // ---- the check

  bool claim(uint32_t n, uint8_t what, int idx, const char *where) {
    if (n < 1 || n >= f.nnodes) {
      fault(idx, "%s: node %u is outside the file", where, n);
      return false;
    }
    if (owner[n]) {
      fault(idx, "%s: node %u is used twice", where, n);
      return false;
    }
    owner[n] = what;
    return true;
  }

  void check_free_nodes() {
    uint32_t steps = 0;
    for (uint32_t n = f.freenode; n; steps++) {
      if (steps >= f.nnodes || !claim(n, 2, 0, "free node list")) {
        lists_bad = true;
        return;
      }
      const unsigned char *p = node_get(&f, n);
      if (p[0] != NODE_FREE) {
        fault(0, "free node list: node %u is not a free node (broken link)", n);
        lists_bad = true;
        return;
      }
      n = get32(p + 4);
    }
  }

  std::vector<bool> onlist;

  void check_free_slots() {
    uint32_t cap = (f.nodesize - NODE_HDR) / 4, steps = 0;
    onlist.assign(size_t(f.maxrec) + 1, false);
    for (uint32_t n = f.freeslots; n; steps++) {
      if (steps >= f.nnodes || !claim(n, 3, 0, "free record list")) {
        lists_bad = true;
        return;
      }
      const unsigned char *p = node_get(&f, n);
      uint32_t c = get16(p + 2);
      if (p[0] != NODE_SLOTS || c > cap) {
        fault(0, "free record list: node %u is not a list page (broken link)", n);
        lists_bad = true;
        return;
      }
      for (uint32_t i = 0; i < c; i++) {
        uint32_t r = get32(p + NODE_HDR + i * 4);
        if (r < 1 || r > keep_recs) {
          fault(0, "free record list: record number %u is out of range", r);
          lists_bad = true;
        } else if (onlist[r]) {
          fault(0, "free record list: record %u is listed twice", r);
          lists_bad = true;
        } else {
          onlist[r] = true;
        }
      }
      n = get32(p + 4);
    }
  }

  std::vector<uint8_t> state;   // state byte of each record
  unsigned char last[MAX_ENT];  // the last leaf entry of the index walked
  bool have_last = false;
  std::vector<unsigned char> rec;

  // Checks the subtree of node n at level lvl whose entries must lie in
  // [lo, hi) (nullptr: unbounded); counts the entries of its leaves.
  void check_node(int idx, const is_index &ix, uint32_t n, int lvl, bool root,
                  const unsigned char *lo, const unsigned char *hi, uint64_t *entries) {
    char where[32];
    std::snprintf(where, sizeof where, "node %u", n);
    if (!claim(n, 1, idx, "tree")) return;
    const unsigned char *p = node_get(&f, n);
    int cap = int((f.nodesize - NODE_HDR) / uint32_t(ix.entlen));
    int c = get16(p + 2);
    if (p[0] != (lvl == 0 ? NODE_LEAF : NODE_INNER) || p[1] != lvl) {
      fault(idx, "%s: wrong node type or level (broken link)", where);
      return;
    }
    if (c > cap || (c == 0 && !root)) {
      fault(idx, "%s: bad entry count %d", where, c);
      return;
    }
    std::vector<unsigned char> copy(p, p + NODE_HDR + size_t(c) * size_t(ix.entlen));
    const unsigned char *e0 = copy.data() + NODE_HDR;
    size_t cl = size_t(ix.cmplen);
    for (int i = 0; i < c; i++) {
      const unsigned char *e = e0 + i * ix.entlen;
      bool low_ok = !lo || (lvl > 0 && i == 0) || key_cmp(e, lo, cl) >= 0;
      // (the key of an inner node's first entry is never consulted; two
      // keys of an inner node may be equal when a leaf that ends with a
      // key equal to its parent's next key splits there)
      if (i > (lvl > 0 ? 1 : 0) && key_cmp(e - ix.entlen, e, cl) >= (lvl > 0 ? 1 : 0)) {
        fault(idx, "%s: keys out of order at entry %d", where, i);
        break;
      }
      // an entry equal to the parent's next key may end this child: a key
      // equal to a separator goes to the left of it when it is made again
      if (!low_ok || (hi && key_cmp(e, hi, cl) > 0)) {
        fault(idx, "%s: entry %d lies outside the range of its parent (key out of order)", where,
              i);
        break;
      }
    }
    if (lvl > 0) {
      for (int i = 0; i < c; i++) {
        const unsigned char *e = e0 + i * ix.entlen;
        const unsigned char *nlo = i == 0 ? lo : e;
        const unsigned char *nhi = i + 1 < c ? e + ix.entlen : hi;
        check_node(idx, ix, get32(e + cl), lvl - 1, false, nlo, nhi, entries);
      }
      return;
    }
    unsigned char k[MAX_ENT];
    for (int i = 0; i < c; i++) {
      const unsigned char *e = e0 + i * ix.entlen;
      uint32_t r = get32(e + cl);
      // the entries of all leaves, in order, rise strictly
      if (have_last && key_cmp(last, e, cl) >= 0) {
        fault(idx, "%s: entry %d does not follow the previous leaf's last (key out of order)",
              where, i);
        break;
      }
      std::memcpy(last, e, cl);
      have_last = true;
      (*entries)++;
      if (r < 1 || r > keep_recs || state[r] != SLOT_LIVE) {
        fault(idx, "%s: entry for record %u, which is not a live record", where, r);
        continue;
      }
      uint8_t st;
      rec_read(&f, r, rec.data(), &st);
      key_make(&ix, rec.data(), k);
      if (std::memcmp(k, e, size_t(ix.keylen)) != 0)
        fault(idx, "%s: the key of the entry for record %u is not the record's key", where, r);
      if (++seen[size_t(idx) - 1][r] == 2) fault(idx, "record %u has two entries", r);
    }
  }

  void check_trees() {
    seen.assign(f.ix.size(), std::vector<uint32_t>(size_t(f.maxrec) + 1, 0));
    for (size_t i = 0; i < f.ix.size(); i++) {
      const is_index &ix = f.ix[i];
      if (ix.kd.k_nparts == 0) continue;
      uint64_t entries = 0;
      have_last = false;
      try {
        check_node(int(i) + 1, ix, ix.root, ix.height - 1, true, nullptr, nullptr, &entries);
      } catch (const is_error &e) {
        fault(int(i) + 1, "unreadable (error %d)", e.err);
      }
      std::vector<uint32_t> missing;
      for (uint32_t r = 1; r <= keep_recs; r++)
        if (state[r] == SLOT_LIVE && seen[i][r] == 0) missing.push_back(r);
      if (missing.size() == 1) {
        fault(int(i) + 1, "record %u is missing from the index", missing[0]);
      } else if (!missing.empty()) {
        std::string first;
        for (size_t j = 0; j < missing.size() && j < 5; j++)
          first += " " + std::to_string(missing[j]);
        fault(int(i) + 1, "%zu records are missing from the index (record%s%s)", missing.size(),
              first.c_str(), missing.size() > 5 ? " ..." : "");
      }
    }
  }

  void check_data() {
    state.assign(size_t(f.maxrec) + 1, 0);
    rec.resize(size_t(f.reclen));
    uint64_t live = 0;
    for (uint32_t r = 1; r <= keep_recs; r++) {
      uint8_t st;
      rec_read(&f, r, rec.data(), &st);
      state[r] = st;
      if (st == SLOT_LIVE) {
        live++;
      } else if (st != SLOT_FREE) {
        fault(0, "record %u has a bad state byte %u", r, st);
        data_bad = true;
      }
    }
    if (live != f.nrecords)
      fault(0, "the dictionary counts %llu records, the data file holds %llu",
            (unsigned long long)f.nrecords, (unsigned long long)live);
  }

  void check_lost() {
    for (uint32_t r = 1; r <= keep_recs; r++)
      if (state[r] == SLOT_FREE && !onlist[r]) {
        fault(0, "free record %u is not on the free record list (lost)", r);
        lists_bad = true;
      }
    for (uint32_t n = 1; n < f.nnodes; n++)
      if (!owner[n]) {
        fault(0, "node %u is in no index and on no free list (lost free-list node)", n);
        lists_bad = true;
      }
  }

  // ---- the rebuild

  // The entries of index i in order: from its tree when it is sound, else
  // made from the records.
  std::vector<std::vector<unsigned char>> entries_of(size_t i, const is_index &nx) {
    std::vector<std::vector<unsigned char>> out;
    const is_index &ix = f.ix[i];
    if (!ixbad[i]) {
      is_path p;
      for (bool ok = tree_first(&f, &ix, &p); ok; ok = tree_next(&f, &ix, &p)) {
        const unsigned char *e = tree_entry(&f, &ix, &p);
        out.emplace_back(e, e + ix.entlen);
      }
      return out;
    }
    unsigned char k[MAX_ENT];
    for (uint32_t r = 1; r <= keep_recs; r++) {
      if (state[r] != SLOT_LIVE) continue;
      uint8_t st;
      rec_read(&f, r, rec.data(), &st);
      key_make(&nx, rec.data(), k);
      put32(k + nx.cmplen, r);
      out.emplace_back(k, k + nx.entlen);
    }
    std::stable_sort(out.begin(), out.end(), [&](const auto &a, const auto &b) {
      return std::memcmp(a.data(), b.data(), size_t(nx.keylen)) < 0;
    });
    uint32_t dup = 0;
    for (size_t j = 0; j < out.size(); j++) {
      bool same = j > 0 && std::memcmp(out[j].data(), out[j - 1].data(), size_t(nx.keylen)) == 0;
      if (nx.dupw == 0) {
        if (same) {
          say("index %zu: records %u and %u have the same key; the second is left out", i + 1,
              get32(out[j - 1].data() + nx.cmplen), get32(out[j].data() + nx.cmplen));
          out.erase(out.begin() + long(j--));
          unrepairable = true;
        }
        continue;
      }
      dup = same ? dup + 1 : 1;
      if (nx.dupw == 2)
        put16(out[j].data() + nx.keylen, dup);
      else
        put32(out[j].data() + nx.keylen, dup);
    }
    return out;
  }

  bool unrepairable = false;

  // Writes a new index file and puts it in the place of the old one.
  bool rebuild(uint32_t nodesize) {
    std::string tmp = name + ".idx.new";
    int fd = io_open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
      say("cannot create %s: %s", tmp.c_str(), std::strerror(errno));
      return false;
    }
    struct stat st;
    if (fstat(f.idxfd, &st) == 0) fchmod(fd, st.st_mode & 07777);
    is_file nf;
    nf.nojournal = true;
    nf.idxfd = fd;
    nf.datfd = f.datfd;
    nf.nodesize = nodesize;
    nf.reclen = f.reclen;
    nf.nnodes = 1;
    nf.maxrec = keep_recs;
    nf.counter = f.counter + 2;
    nf.dat_room = INT64_MAX;
    try {
      std::vector<unsigned char> zero(nodesize);
      io_pwrite(fd, zero.data(), zero.size(), 0, IO_IDX);
      for (size_t i = 0; i < f.ix.size(); i++) {
        is_index nx = f.ix[i];
        nx.root = 0;
        nx.height = 0;
        if (nx.kd.k_nparts > 0) {
          nx.root = node_alloc(&nf, NODE_LEAF, 0);
          nx.height = 1;
          for (auto &e : entries_of(i, nx)) tree_insert(&nf, &nx, e.data());
        }
        nf.ix.push_back(nx);
        cache_flush(&nf);  // keeps the memory used to one index at a time
        cache_drop(&nf);
      }
      uint64_t live = 0;
      for (uint32_t r = uint32_t(keep_recs); r >= 1; r--) {
        if (state[r] == SLOT_LIVE)
          live++;
        else
          slot_push(&nf, r);
      }
      nf.nrecords = live;
      nf.dict_dirty = true;
      cache_flush(&nf);
      cache_drop(&nf);
      if (fsync(fd) != 0) is_throw(errno);
    } catch (const is_error &e) {
      cache_drop(&nf);
      io_close(fd);
      unlink(tmp.c_str());
      say("cannot write the new index file (error %d)", e.err);
      return false;
    }
    io_close(fd);
    // records whose state byte was bad are free now
    for (uint32_t r = 1; r <= keep_recs; r++)
      if (state[r] != SLOT_LIVE && state[r] != SLOT_FREE) {
        unsigned char z = SLOT_FREE;
        io_pwrite(f.datfd, &z, 1, int64_t(r) * (f.reclen + 1) - 1, IO_DAT);
      }
    if (rename(tmp.c_str(), (name + ".idx").c_str()) != 0) {
      say("cannot replace the index file: %s", std::strerror(errno));
      unlink(tmp.c_str());
      return false;
    }
    unlink(jnl_path(name).c_str());
    return true;
  }

  // ---- listing

  void list(int n) {
    if (n < 1 || size_t(n) > f.ix.size() || f.ix[size_t(n) - 1].kd.k_nparts == 0) {
      say("there is no index %d", n);
      return;
    }
    const is_index &ix = f.ix[size_t(n) - 1];
    std::fprintf(o.out, "%s: index %d, %d byte keys%s\n", name.c_str(), n, ix.keylen,
                 ix.dupw ? ", duplicates" : "");
    is_path p;
    for (bool ok = tree_first(&f, &ix, &p); ok; ok = tree_next(&f, &ix, &p)) {
      const unsigned char *e = tree_entry(&f, &ix, &p);
      std::string k;
      for (int i = 0; i < ix.keylen; i++) {
        unsigned char c = e[i];
        if (c >= 32 && c < 127 && c != '\\') {
          k += char(c);
        } else {
          char h[8];
          std::snprintf(h, sizeof h, "\\x%02x", c);
          k += h;
        }
      }
      std::fprintf(o.out, "%10u", get32(e + ix.cmplen));
      if (ix.dupw)
        std::fprintf(o.out, " %5u", ix.dupw == 2 ? get16(e + ix.keylen) : get32(e + ix.keylen));
      std::fprintf(o.out, "  \"%s\"\n", k.c_str());
    }
  }

  bool ask(const char *q) {
    if (o.answer == 'y' || o.answer == 'n') {
      std::fprintf(o.out, "idxaudit: %s: %s %s\n", name.c_str(), q, o.answer == 'y' ? "yes" : "no");
      return o.answer == 'y';
    }
    std::fprintf(o.out, "idxaudit: %s: %s [y/n] ", name.c_str(), q);
    std::fflush(o.out);
    char line[64];
    if (!std::fgets(line, sizeof line, o.in)) {
      std::fputc('\n', o.out);
      return false;
    }
    return line[0] == 'y' || line[0] == 'Y';
  }

  int run();
};

int audit::run() {
  std::string idx = name + ".idx", dat = name + ".dat";
  bool may_write = o.answer != 'n' || o.rebuild || o.nodesize;
  f.name = name;
  f.writable = may_write;
  f.idxfd = io_open(idx.c_str(), may_write ? O_RDWR : O_RDONLY, 0);
  if (f.idxfd < 0 && may_write && errno == EACCES) {
    f.writable = false;
    f.idxfd = io_open(idx.c_str(), O_RDONLY, 0);
  }
  if (f.idxfd < 0) {
    say("cannot open %s: %s", idx.c_str(), std::strerror(errno));
    return IA_ERROR;
  }
  f.datfd = io_open(dat.c_str(), f.writable ? O_RDWR : O_RDONLY, 0);
  if (f.datfd < 0) {
    say("cannot open %s: %s", dat.c_str(), std::strerror(errno));
    return IA_ERROR;
  }
  // the engine's locks: the file to ourselves when we may repair, else
  // shared with the other openers, and no change while we look
  bool excl = f.writable && io_lock(f.idxfd, F_SETLK, F_WRLCK, LOCK_OPEN, 1, nullptr) == 0;
  if (!excl && io_lock(f.idxfd, F_SETLK, F_RDLCK, LOCK_OPEN, 1, nullptr) != 0) {
    say("the file is open exclusively by another process: cannot take its lock");
    return IA_ERROR;
  }
  if (!excl && f.writable) say("other processes have the file open: checking only");
  if (!f.writable && o.answer != 'n') say("no permission to write the file: checking only");
  bool got = false;
  for (int i = 0; i < 100 && !got; i++) {
    got = io_lock(f.idxfd, F_SETLK, F_RDLCK, LOCK_TREE, 1, nullptr) == 0;
    if (!got) usleep(50000);
  }
  if (!got) {
    say("a change in progress holds the file lock: cannot check");
    return IA_ERROR;
  }
  int rc = IA_SOUND;
  try {
    struct stat st;
    if (fstat(f.idxfd, &st) != 0) is_throw(errno);
    idxsize = st.st_size;
    if (fstat(f.datfd, &st) != 0) is_throw(errno);
    datsize = st.st_size;
    std::vector<unsigned char> d(DICT_HDR + MAX_KEYS * DICT_IXLEN);
    io_pread(f.idxfd, d.data(), d.size(), 0, IO_IDX);
    try {
      dict_decode(&f, d.data(), d.size(), -1, -1);
    } catch (const is_error &) {
      say("the dictionary is damaged (not an indexed file, or its header is broken): cannot "
          "repair");
      return IA_DAMAGED;
    }
    disk_sync(&f);
    if (f.state & DICT_PENDING) {
      say("a change was cut short; its journal %s is waiting to be put back",
          jnl_path(name).c_str());
      if (excl && f.writable && ask("Put the journal back?")) {
        jnl_recover(&f);
        say("journal put back");
        rc = IA_REPAIRED;
      } else {
        return IA_DAMAGED;
      }
    }
    if (f.state & DICT_UNFLUSHED) fault(0, "marked: a change was cut short and not undone");
    ixbad.assign(f.ix.size(), false);
    keep_recs = f.maxrec;
    if (int64_t(f.nnodes) * f.nodesize > idxsize)
      fault(0, "the index file is truncated: %lld bytes, %llu needed", (long long)idxsize,
            (unsigned long long)(uint64_t(f.nnodes) * f.nodesize));
    if (int64_t(f.maxrec) * (f.reclen + 1) > datsize) {
      keep_recs = uint64_t(datsize) / uint64_t(f.reclen + 1);
      fault(0, "the data file is truncated: records %llu to %llu are lost",
            (unsigned long long)keep_recs + 1, (unsigned long long)f.maxrec);
      data_bad = true;
      for (auto &&b : ixbad) b = true;
    }
    owner.assign(f.nnodes, 0);
    check_data();
    check_free_nodes();
    check_free_slots();
    check_trees();
    check_lost();
    if (o.list) list(o.list);
    bool want = damaged || o.rebuild || o.nodesize;
    if (!damaged && !o.quiet && rc == IA_SOUND)
      say("sound: %llu records, %zu indexes", (unsigned long long)f.nrecords, f.ix.size());
    if (!want) return rc;
    if (o.nodesize) {
      uint32_t ns = uint32_t(o.nodesize);
      int maxent = 0;
      for (auto &x : f.ix) maxent = std::max(maxent, x.entlen);
      if (ns < 512 || ns > 65536 || (ns & (ns - 1)) || DICT_HDR + f.ix.size() * DICT_IXLEN > ns ||
          NODE_HDR + 3 * maxent > int(ns)) {
        say("node size %u is not possible for this file", ns);
        return IA_ERROR;
      }
    }
    if (!excl) {
      if (o.answer == 'n') {
        say("damage left");
      } else {
        say("damage left: %s", f.writable ? "the file is in use by other processes"
                                          : "no permission to write the file");
      }
      return damaged ? IA_DAMAGED : IA_ERROR;
    }
    const char *q = damaged      ? "Rebuild the indexes and free lists?"
                    : o.nodesize ? "Rebuild the index file with the new node size?"
                                 : "Rebuild the indexes and free lists?";
    if (!ask(q)) return damaged ? IA_DAMAGED : rc;
    if (!damaged) std::fill(ixbad.begin(), ixbad.end(), false);
    if (!rebuild(o.nodesize ? uint32_t(o.nodesize) : f.nodesize)) return IA_DAMAGED;
    say("index file rebuilt: %zu indexes, node size %u", f.ix.size(),
        o.nodesize ? uint32_t(o.nodesize) : f.nodesize);
    if (unrepairable) return IA_DAMAGED;
    return damaged || rc == IA_REPAIRED ? IA_REPAIRED : IA_SOUND;
  } catch (const is_error &e) {
    say("cannot read the file (error %d)", e.err);
    return IA_ERROR;
  }
}

}  // namespace

int ia_file(const std::string &name, const ia_opts &o) {
  audit a(name, o);
  int rc = a.run();
  cache_drop(&a.f);
  io_close(a.f.idxfd);
  io_close(a.f.datfd);
  io_close(a.f.jnlfd);
  return rc;
}
