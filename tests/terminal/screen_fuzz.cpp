// Fuzz target: arbitrary bytes for the screen control language.  The first
// byte picks the terminal type and the settings (eight-bit characters, a
// saved-screen pool, a 132-column switch); the rest is fed to zoutnc in
// pieces whose lengths come from the data, with a refresh now and then.
// After every piece the images must hold together: the cursor on the
// screen, no cell of the virtual image with the unknown look, the saved
// stack counted and inside its pool; after every refresh with output on,
// the physical image must equal the virtual one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/base/interp.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/terminal/kmap.h"
#include "run/terminal/phys.h"
#include "run/terminal/scint.h"
#include "run/terminal/tcap.h"
#include "tests/terminal/drive.h"

static std::string sink;
static int loaded = -1;  // terminal and settings of the current screen

static const char *const terms[] = {"xterm-256color", "vt100",   "linux",
                                    "screen",         "qcookie", "qnoxenl"};

static void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "screen invariant broken: %s\n", what);
  std::abort();
}

static void check_images() {
  const sc_image &v = sc.virt, &p = sc.phys;
  check(v.buf && p.buf, "images");
  check(v.nrow > 0 && v.ncol > 0 && v.nrow * v.ncol == sc.buflen, "size");
  check(p.nrow == v.nrow && p.ncol == v.ncol, "physical size");
  check(v.row >= 0 && v.row < v.nrow && v.col >= 0 && v.col < v.ncol, "cursor");
  check(p.row == -1 || (p.row >= 0 && p.row < p.nrow && p.col >= 0 && p.col < p.ncol),
        "terminal cursor");
  for (int i = 0; i < sc.buflen; i++) check(v.buf[i].att != CA_UNKNOWN, "unknown look stored");
  int n = 0;
  for (const sc_image *s = v.next; s; s = s->next, n++) {
    check(s->buf == nullptr && s->nrow > 0 && s->ncol > 0, "saved image");
    if (sc.pool) {
      auto *at = reinterpret_cast<const char *>(s);
      check(at >= sc.pool &&
                at + sizeof(sc_image) + size_t(s->nrow * s->ncol) * 2 <= sc.pool + sc.pool_used,
            "saved image outside the pool");
    }
  }
  check(n == sc.cnt, "saved count");
  check(sc.cvis1 >= 0 && sc.cvis1 <= 2, "cursor visibility");
}

// after a refresh with output on, the terminal shows the virtual image
static void check_refreshed() {
  if (!(sc.ctl & SC_OUTPUT) || sc.mode != SM_GROUND) return;
  int skip = tc.am_flag && !tc.cap.xenl ? sc.buflen - 1 : -1;
  for (int i = 0; i < sc.buflen; i++) {
    if (i == skip) continue;
    check(sc.virt.buf[i].chr == sc.phys.buf[i].chr && sc.virt.buf[i].att == sc.phys.buf[i].att,
          "refresh left a difference");
  }
}

static void load(int sel) {
  if (sel == loaded) return;
  static std::string ti = test_terminfo();
  setenv("TERMINFO", ti.c_str(), 1);
  kmap_init();
  sc_reset_for_test();
  tc_reset_for_test();
  vx_8bit = sel & 8 ? 1 : 0;
  vx_screen = sel & 16 ? 2 : 0;
  ztc_cs132 = sel & 32 ? "27-91-63-51-104" : nullptr;
  ztc_cs80 = sel & 32 ? "27-91-63-51-108" : nullptr;
  ztcphs = 0;
  active_terminal = terms[(sel & 7) % 6];
  inicap();
  if (!sc_init()) std::abort();
  loaded = sel;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  phys_capture_for_test(&sink);
  load(data[0] & 63);
  sc_start();
  sc_cleanup();
  size_t i = 1;
  while (i < size) {
    size_t n = 1 + data[i] % 16;
    bool refresh = data[i] >= 0xF0;
    i++;
    if (n > size - i) n = size - i;
    try {
      zoutnc(reinterpret_cast<const char *>(data + i), int(n));
      check_images();
      if (refresh) {
        zflush(data[i - 1] == 0xFF ? 2 : 1);
        check_images();
        check_refreshed();
      }
    } catch (const zerror_jump &e) {
      check(e.number == 106, "runtime error other than 106");
      check_images();
    }
    i += n;
    sink.clear();
  }
  return 0;
}
