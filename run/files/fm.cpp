// fm.cpp: the file layer's entry point (fm.h).  Owns the selection fm_sel;
// called by the file statements, the status intrinsics and zioc.
//
// An operation ends early by vxerxit, which throws fm_exit; fm catches it
// and returns the number.  The quit signal (the concurrent-run key) is
// held back while an operation runs, so that no concurrent run starts
// with a file half opened or a record half written.
#include "run/files/fm.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "run/base/interp.h"
#include "run/config/settings.h"
#include "run/files/qx.h"
#include "run/files/txlog.h"
#include "run/loader/names.h"

fm_selection fm_sel;

void vxselect() {
  int n = fm_sel.pclblk->fm_lfn;
  if (n < 1 || n > oftable_len || !oftable[n - 1].inuse) vxerxit(FE_NOTOPEN);
  oftentry *e = &oftable[n - 1];
  fm_sel.entry = e;
  fm_sel.xclusiv = e->inuse == -1;
  // errfile names the entry's file; most selections find it there already
  size_t len = e->pfname && e->pfnlen < sizeof errfile ? e->pfnlen : 0;
  if (len == 0) {
    errfile[0] = 0;
  } else if (std::memcmp(errfile, e->pfname, len + 1) != 0) {
    std::memcpy(errfile, e->pfname, len + 1);
  }
}

void vxerxit(int num) {
  if ((errno == ENOSPC || errno == EFBIG || errno == EDQUOT) && num != 8) num = FE_EOF;
  throw fm_exit{num};
}

void badop(oftentry *e, fm_callblock *cb) {
  switch (cb->fm_opcode) {
    case FMOP_READ:
      vxerxit(FE_NOREAD);
    case FMOP_WRITE:
      vxerxit(FE_NOWRITE);
    case FMOP_DELETE:
      vxerxit(e->pftype == 'I' ? FE_NOWRITE : FE_NOTIDX);
    default:
      vxerxit(FE_BADOP);
  }
}

void fm_txflag_set(int n) {
  if (n >= 1 && n <= oftable_len) oftable[n - 1].tx_flag = 1;
}

void fm_txflag_clr(int n) {
  if (n >= 1 && n <= oftable_len)
    oftable[n - 1].tx_flag = 0;
  else if (n == -1)
    for (int i = 0; i < oftable_len; i++) oftable[i].tx_flag = 0;
}

// during a transaction: refused unless the entry was opened with one of
// the engine's mode bits in mask (4 transaction, 8 without log)
static void tx_check(int mask) {
  if (vx_txflag == 1 && !(fm_sel.entry->op_mode & mask)) vxerxit(FE_INTX);
}

static void need_selection() {
  if (!fm_sel.entry || !fm_sel.entry->inuse) vxerxit(FE_NOTOPEN);
}

static void dispatch(fm_callblock *cb) {
  switch (cb->fm_opcode) {
    case FMOP_READ:
      need_selection();
      fm_sel.entry->pread(fm_sel.entry, cb);
      return;
    case FMOP_WRITE:
      need_selection();
      tx_check(ISTRANS | ISNOLOG);
      fm_sel.entry->pwrite(fm_sel.entry, cb);
      return;
    case FMOP_DELETE:
      vxselect();
      tx_check(ISTRANS | ISNOLOG);
      fm_sel.entry->pdelete(fm_sel.entry, cb);
      return;
    case FMOP_UNLOCK:
      vxselect();
      qxunlock(true);
      return;
    case FMOP_REWIND:
      vxselect();
      qxrewind();
      return;
    case FMOP_CREATE:
      if (vx_txflag == 1 && cb->fm_org == 'I') vxerxit(FE_INTX);
      qxalloc();
      return;
    case FMOP_OPEN:
      if (vx_txflag == 1 && cb->fm_flag > -200 && cb->fm_flag < 200) vxerxit(FE_INTX);
      qxopen();
      return;
    case FMOP_CLOSE:
      vxselect();
      tx_check(ISNOLOG);
      qxclose();
      return;
    case FMOP_DATE:
      vxselect();
      qxdate();
      return;
    case FMOP_RENAME:
      vxselect();
      tx_check(ISNOLOG);
      qxrename();
      return;
    case FMOP_ADDINDEX:
    case FMOP_DELINDEX:
      vxselect();
      tx_check(ISNOLOG);
      qxindex();
      return;
    case FMOP_BEGIN:
    case FMOP_COMMIT:
    case FMOP_ROLLBACK:
      qxtrans();
      return;
    case FMOP_USTAT:
      qxustat();
      return;
    case FMOP_FSTAT:
      vxselect();
      qxfstat();
      return;
    case FMOP_ISTAT:
      vxselect();
      qxistat();
      return;
    case FMOP_CLOSEALL:
      qxclsall();
      return;
    case FMOP_SELECT:
      vxselect();
      return;
    default:
      vxerxit(FE_BADOP);
  }
}

// The quit signal is held back only where it does something: with the
// concurrent-run key configured; otherwise it is ignored anyway.
static bool quit_hold(sigset_t *old) {
  if (!conc_wanted || !*conc_wanted) return false;
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGQUIT);
  return sigprocmask(SIG_BLOCK, &quit, old) == 0;
}

int fm(fm_callblock *cb) {
  fm_sel.pclblk = cb;
  if (cb->fm_filename) {
    if (fmqxu(cb->fm_filename))
      std::snprintf(errfile, sizeof errfile, "%.500s/%d", cb->fm_filename, cb->fm_unit);
    else
      std::snprintf(errfile, sizeof errfile, "%s", cb->fm_filename);
  }
  sigset_t old;
  bool held = quit_hold(&old);
  errno = 0;
  int r = 0;
  try {
    dispatch(cb);
  } catch (const fm_exit &e) {
    r = e.number;
  }
  if (held) sigprocmask(SIG_SETMASK, &old, nullptr);
  if (r == 0) iserrno = 0;
  return r;
}
