// itrans.cpp: transactions on indexed files (BEGIN, COMMIT, ROLLBACK),
// with the transaction log opened at start-up (txlog.h).
//
// The engine takes a descriptor into a transaction by the mode it was
// opened with (ISTRANS).  BEGIN therefore closes the units it names and
// opens them again with that bit, around the engine's isbegin; each then
// starts over at the beginning of its current index.  COMMIT and
// ROLLBACK name no unit: the units of the transaction stay open with the
// bit and serve on outside a transaction (their changes then count at
// once), until they are closed or a later BEGIN takes them again.  When a
// transaction ends, the engine releases its locks, so those units hold no
// record any more.
//
// The units of a statement are marked (tx_flag) by the statement itself;
// the marks name the units of the current statement only.
#include <cstdlib>

#include "run/files/fm.h"
#include "run/files/irec.h"
#include "run/files/qx.h"
#include "run/files/txlog.h"

// true when entry e takes part in the statement's transaction operation
static bool marked(const oftentry &e) {
  return e.tx_flag && e.inuse && e.pftype == 'I';
}

int vx_txclose() {
  int first = 0;
  for (int i = 0; i < oftable_len; i++) {
    oftentry &e = oftable[i];
    if (!marked(e)) continue;
    if (isclose(e.pfdis) < 0 && !first) first = iserrno;
    e.pfdis = -1;
    e.plock = 0;
    e.prev_mode = 0;
  }
  return first;
}

int vx_txreopen(int trans) {
  int first = 0;
  oftentry *was = fm_sel.entry;
  for (int i = 0; i < oftable_len; i++) {
    oftentry &e = oftable[i];
    if (!marked(e) || e.pfdis >= 0) continue;
    int mode = trans > 0 ? e.op_mode | ISTRANS : trans == 0 ? e.op_mode & ~ISTRANS : e.op_mode;
    int fd = isopen(e.pfname, mode);
    if (fd < 0) {
      if (!first) first = iserrno;
      close_file(&e);  // the unit is gone: its entry is freed
      continue;
    }
    e.pfdis = int16_t(fd);
    e.op_mode = mode;
    const ix_unit *st = ix_state(&e);
    keydesc kd = st->kd;
    if (isstart(fd, &kd, st->cmplen, reinterpret_cast<char *>(e.pkbuf), ISFIRST) < 0 && !first)
      first = iserrno;
  }
  fm_sel.entry = was && was->inuse ? was : nullptr;
  return first;
}

void qxisbegin() {
  if (vx_txflag != 2) vxerxit(FE_VALUE);
  for (int i = 0; i < oftable_len; i++) {
    const oftentry &e = oftable[i];
    if (!e.tx_flag) continue;
    if (!e.inuse) vxerxit(FE_NOTOPEN);
    if (e.pftype != 'I') vxerxit(FE_NOTISAM);
    if (e.op_mode & ISNOLOG) vxerxit(FE_VALUE);
    for (int j = 0; j < oftable_len; j++) {
      const oftentry &o = oftable[j];
      if (j != i && o.inuse && o.pf_dev == e.pf_dev && o.pf_ino == e.pf_ino) vxerxit(FE_LOCKED);
    }
  }
  for (int i = 0; i < oftable_len; i++)
    if (marked(oftable[i])) isrel_rec(&oftable[i]);
  int err = vx_txclose();
  int began = err == 0 && isbegin() == 0;
  if (!err && !began) err = iserrno;
  // without a transaction the units come back as they were
  int rerr = vx_txreopen(began ? 1 : -1);
  if (began) vx_txflag = 1;
  if (err || rerr) ierxit(err ? err : rerr);
}

// COMMIT (commit set) and ROLLBACK.
static void tx_end(bool commit) {
  if (vx_txflag != 1) vxerxit(FE_VALUE);
  int cerr = vx_txclose();
  int rc = commit ? iscommit() : isrollback();
  int err = rc < 0 ? iserrno : 0;
  // a commit that failed leaves the transaction open (to be committed or
  // rolled back again); a rollback always ends it
  bool ended = !commit || rc == 0 || err == ENOTRANS;
  if (ended) {
    vx_txflag = 2;
    for (int i = 0; i < oftable_len; i++) {
      oftentry &e = oftable[i];
      if (e.inuse && e.pftype == 'I' && e.op_mode & ISTRANS) e.plock = 0;
    }
  }
  int rerr = vx_txreopen(0);
  if (err) ierxit(err);
  if (cerr || rerr) ierxit(cerr ? cerr : rerr);
}

void qxiscommit() {
  tx_end(true);
}

void qxisrollbk() {
  tx_end(false);
}

void qxtrans() {
  switch (fm_sel.pclblk->fm_opcode) {
    case FMOP_BEGIN:
      qxisbegin();
      return;
    case FMOP_COMMIT:
      qxiscommit();
      return;
    default:
      qxisrollbk();
  }
}
