// scstack.cpp: the life of the screen images: set-up (sc_init, sc_start),
// resizing and width switches, the saved-screen stack with its optional
// pool (VXSCREEN), freezing output, and sc_refresh, which ties them to the
// physical refresh.  Works on sc (scint.h).
//
// Saved screens: each is one block, the image header followed by its
// cells; sc.virt.next is the newest.  With VXSCREEN = n (1-16) the blocks
// come from one pool with room for n screens of 80 x 25 cells, used as a
// stack (a release gives back the block and everything after it, which
// the stack order guarantees is newer); without it each block is
// allocated on its own.  Memory for a saved screen or a width change that
// cannot be had is runtime error 106.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "run/base/interp.h"
#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/terminal/phys.h"
#include "run/terminal/scint.h"
#include "run/terminal/tcap.h"
#include "run/terminal/tty.h"

constexpr int POOL_MAX = 16;  // VXSCREEN above this fails the set-up

static size_t saved_size(int cells) {
  size_t n = sizeof(sc_image) + size_t(cells) * sizeof(sc_position);
  return (n + 7) & ~size_t(7);
}

// ---- the pool ----------------------------------------------------------------------

bool scinit() {
  std::free(sc.pool);
  sc.pool = nullptr;
  sc.pool_size = sc.pool_used = 0;
  if (vx_screen <= 0) return true;
  if (vx_screen > POOL_MAX) return false;
  sc.pool_size = size_t(vx_screen) * saved_size(80 * 25);
  sc.pool = static_cast<char *>(std::malloc(sc.pool_size));
  return sc.pool != nullptr;
}

sc_image *scalloc(size_t len) {
  if (!sc.pool) return static_cast<sc_image *>(std::malloc(len));
  if (len > sc.pool_size - sc.pool_used) return nullptr;
  sc_image *img = reinterpret_cast<sc_image *>(sc.pool + sc.pool_used);
  sc.pool_used += len;
  return img;
}

void scfree(sc_image *img) {
  if (!img) return;
  if (!sc.pool) {
    std::free(img);
    return;
  }
  sc.pool_used = size_t(reinterpret_cast<char *>(img) - sc.pool);
}

// ---- images ---------------------------------------------------------------------------

bool sc_resize(int nrow, int ncol) {
  size_t cells = size_t(nrow) * size_t(ncol);
  auto *v = static_cast<sc_position *>(std::malloc(cells * sizeof(sc_position)));
  auto *p = static_cast<sc_position *>(std::malloc(cells * sizeof(sc_position)));
  if (!v || !p) {
    std::free(v);
    std::free(p);
    return false;
  }
  std::free(sc.virt.buf);
  std::free(sc.phys.buf);
  sc.virt.buf = v;
  sc.phys.buf = p;
  sc.virt.nrow = sc.phys.nrow = short(nrow);
  sc.virt.ncol = sc.phys.ncol = short(ncol);
  sc.buflen = nrow * ncol;
  sc.virt.row = sc.virt.col = 0;
  sc_fillbuf(sc.virt, 0, sc.buflen, ' ', 0);
  sc_fillbuf(sc.phys, 0, sc.buflen, ' ', CA_UNKNOWN);
  phys_lost();
  sc.phys_upd = 1;
  sc.scrolled = 0;
  return true;
}

void switchscreensize(int size) {
  int ncol = size == 43 ? 132 : 80;
  const char *seq = ztcvec[size == 43 ? ZV_CS132 : ZV_CS80];
  bool can = seq && *seq;
  if (can && ncol != sc.virt.ncol && !sc_resize(sc.virt.nrow, ncol)) zraise(ERR_STACK);
  if (can) {
    for (const char *p = seq; *p; p++) outchr(static_cast<unsigned char>(*p));
    if (ztcpdel > 0) vx_nap(ztcpdel * 10);
  }
  if (sc.ctl & SC_OUTPUT) phys_es(0, 0, 0);
  sc_clear();
}

// ---- the saved-screen stack ---------------------------------------------------------------

static void copy_into(sc_image *img) {
  img->buf = nullptr;
  img->row = sc.virt.row;
  img->col = sc.virt.col;
  img->nrow = sc.virt.nrow;
  img->ncol = sc.virt.ncol;
  std::memcpy(sc_cells(*img), sc.virt.buf, size_t(sc.buflen) * sizeof(sc_position));
}

static sc_image *new_copy() {
  sc_image *img = scalloc(saved_size(sc.buflen));
  if (!img) zraise(ERR_STACK);
  copy_into(img);
  return img;
}

static void push_copy() {
  sc_image *img = new_copy();
  img->next = sc.virt.next;
  sc.virt.next = img;
  sc.cnt++;
}

static void drop_top() {
  sc_image *top = sc.virt.next;
  sc.virt.next = top->next;
  scfree(top);
  sc.cnt--;
}

static void discard_all() {
  while (sc.virt.next) drop_top();
  sc.cnt = 0;
}

void sc_freeze(int cmd) {
  if (!sc.virt.buf) return;
  sc_image *top = sc.virt.next;
  switch (cmd) {
    case 0:
      if (top && top->nrow * top->ncol == sc.buflen) {
        copy_into(top);
        return;
      }
      if (top) drop_top();
      push_copy();
      return;
    case 1:
      push_copy();
      return;
    case 2:
      if (sc.ctl & SC_OUTPUT) {
        zbuf_flush();
        sc.ctl = (sc.ctl & ~SC_OUTPUT) | SC_FROZEN;
      }
      return;
    case 255:
      discard_all();
      push_copy();
      return;
    default:
      return;
  }
}

// the screen saved in img comes back: its width first, then its cells
static void restore(sc_image *img) {
  int cells = img->nrow * img->ncol;
  if (cells != sc.buflen && img->nrow == sc.virt.nrow && (img->ncol == 80 || img->ncol == 132)) {
    int size = img->ncol == 132 ? 43 : 42;
    const char *seq = ztcvec[size == 43 ? ZV_CS132 : ZV_CS80];
    if (seq && *seq && !sc_resize(img->nrow, img->ncol)) {
      scfree(img);
      zraise(ERR_STACK);
    }
    switchscreensize(size);
  }
  if (cells == sc.buflen) {
    std::memcpy(sc.virt.buf, sc_cells(*img), size_t(cells) * sizeof(sc_position));
    sc.virt.row = img->row < sc.virt.nrow ? img->row : short(sc.virt.nrow - 1);
    sc.virt.col = img->col < sc.virt.ncol ? img->col : short(sc.virt.ncol - 1);
  }
  scfree(img);
  sc.phys_upd = 1;
  sc.scrolled = 0;
}

static void pop(int count) {
  for (int i = 0; i < count && sc.virt.next; i++) {
    sc_image *top = sc.virt.next;
    sc.virt.next = top->next;
    sc.cnt--;
    if (i == count - 1 || !sc.virt.next)
      restore(top);
    else
      scfree(top);
  }
}

void sc_refresh(int cnt, int clear_flag) {
  if (!sc.virt.buf) return;
  if (cnt != -1 && (sc.ctl & SC_FROZEN)) {
    sc.ctl = (sc.ctl & ~SC_FROZEN) | SC_OUTPUT;
    if (cnt == 0) cnt = -1;
  }
  if (cnt == -1 && !clear_flag && !(sc.ctl & SC_OUTPUT)) return;
  int ctl = sc.ctl;
  if (!(sc.ctl & SC_OUTPUT)) {
    sc.ctl |= SC_OUTPUT;
    clear_flag = 1;
  }
  if (camap_upd && sc.phys_upd) {
    camap_upd = 0;
    clear_flag = 1;
  }
  if (clear_flag) sc.phys_upd = 1;
  if (cnt >= 0) pop(cnt > 1 ? cnt : 1);
  if (clear_flag) phys_es(0, 0, 0);
  phys_refresh();
  if (cnt == 0) sc_freeze(0);
  zbuf_flush();
  sc.ctl = ctl;
}

// ---- set-up and clean-up -----------------------------------------------------------------

static void screen_message(const char *text) {
  zoutnc(text, int(std::strlen(text)));
  zflush(1);
}

int sc_init() {
  if (!sc_resize(tc.rows > 0 ? tc.rows : 25, tc.cols > 0 ? tc.cols : 80)) return 0;
  if (!scinit()) return 0;
  if (msg_count) {
    struct timespec t = {5, 0};
    while (nanosleep(&t, &t) < 0 && errno == EINTR) {
    }
    msg_count = 0;
  }
  sc.started = 1;
  sc_start();
  zsmsg_screen = screen_message;
  return 1;
}

void sc_start() {
  sc_clear();
  sc.attrib_valid = 0;
  sc.current_attribute = 0;
  if (sc.ctl & SC_OUTPUT) phys_es(0, 0, 0);
}

void sc_cleanup() {
  discard_all();
  if (sc.ctl & SC_FROZEN) sc.ctl = (sc.ctl & ~SC_FROZEN) | SC_OUTPUT;
  if (sc.mode == SM_PRT || sc.mode == SM_PRT_ESC || sc.mode == SM_PRT_BYTE) {
    tc_put(ztcvec[ZV_PRTR_OFF]);
    zbuf_flush();
    phys_lost();
  }
  sc.mode = SM_GROUND;
  sc.attrib_valid = 0;
  sc.current_attribute = 0;
  if (sc.cvis1 != 1) {
    sc.cvis1 = 1;
    sc.phys_upd = 1;
  }
}

void sc_reset_for_test() {
  discard_all();
  std::free(sc.virt.buf);
  std::free(sc.phys.buf);
  std::free(sc.pool);
  sc = sc_state{};
  phys_buffer_init();
  zsmsg_screen = nullptr;
}
