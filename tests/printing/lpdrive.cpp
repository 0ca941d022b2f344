// lpdrive: a small program that prints through the printer unit the way a
// program's OPEN, PRINT and CLOSE of unit 0 do, for the tests that run it
// in a pseudo-terminal.
//
//   lpdrive MODE NAME DATA [hold]
//
// Reads the configuration (defaults file, printer variables) like run,
// puts the terminal into program mode and starts the screen, opens the
// printer in MODE with the device name NAME ("-" for none), passes every
// byte of the file DATA as a program's print items do (item_to_lp), and
// closes the printer.  With "hold" it waits for one key
// before the close.  It reports "open=N" and "close=N" with the printer's
// I/O error number.
#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/config/env.h"
#include "run/startup/startup.h"
#include "run/terminal/lp.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"

static void report(const char *what) {
  char text[64];
  int n = std::snprintf(text, sizeof text, "%s=%d\r\n", what, lp_ioerr);
  ssize_t w = write(1, text, size_t(n));
  (void)w;
}

int main(int argc, char **argv) {
  if (argc < 4) return 2;
  run_hooks();
  if (env_init(1, argv) < 0) return 3;
  settty(0, 0);
  inicap();
  if (!sc_init()) return 3;
  zflush(1);
  std::signal(SIGPIPE, SIG_IGN);
  zrrmp = std::atoi(argv[1]);
  lp_openname = std::strcmp(argv[2], "-") != 0 ? argv[2] : nullptr;
  zoppr();
  report("open");
  if (zprlck) {
    int fd = open(argv[3], O_RDONLY);
    unsigned char buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0)
      for (ssize_t i = 0; i < n; i++) item_to_lp(buf[i]);
    if (fd >= 0) close(fd);
    lpflush(0);
    if (argc > 4) {
      report("holding");
      char key;
      ssize_t r = read(0, &key, 1);
      (void)r;
    }
    zclpr();
    report("close");
  }
  sc_reset();
  settty(1, 0);
  return 0;
}
