// startup.cpp: the start-up sequence of run, the sizing of the memory
// image and the exit paths.
//
// init, in this order:
//   1 program mode, break flag clear      9  capabilities, key table,
//   2 invocation name                        concurrent-run key
//   3 env_init                            10 recovery point armed
//   4 is_RUN                              11 sc_init
//   5 set_brkhandler                      12 memory image
//   6 alarm, broken pipe, terminate,      13 shared buffer closed, ISAM
//     hang-up dispositions                   descriptor and duplicate width
//   7 status flags of descriptor 0        14 transaction log
//   8 privilege check                     15 image missing: exit
//                                         16 messages written: 5 s pause
#include "run/startup/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "isam/isam.h"
#include "run/base/image.h"
#include "run/base/zsmsg.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/files/txlog.h"
#include "run/files/zioc.h"
#include "run/intrin/wiz.h"
#include "run/loader/names.h"
#include "run/process/proc.h"
#include "run/terminal/conc.h"
#include "run/terminal/keys.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"

// writes a start-up message that ends the process
[[noreturn]] static void fatal(const char *text) {
  zsmsg(text);
  msg_count++;
  exitrun();
}

static const char *invocation_name(const char *arg0) {
  if (!arg0) return "";
  const char *slash = std::strrchr(arg0, '/');
  return slash ? slash + 1 : arg0;
}

// Privileges survive only when run starts in the product directory.
static void check_privileges() {
  struct stat here, product;
  if (stat(".", &here) < 0) {
    zsmsg("NO STAT PERMISSION IN DIRECTORY\r\n");
    msg_count++;
    return;
  }
  bool same = stat("/usr/qxu", &product) == 0 && here.st_dev == product.st_dev &&
              here.st_ino == product.st_ino;
  if (!same && geteuid() != getuid() && seteuid(getuid()) < 0) fatal("CANNOT DROP PRIVILEGES\r\n");
}

int getunit(char *name) {
  if (!name) return 0;
  char *slash = std::strchr(name, '/');
  if (!slash) return 0;
  *slash = 0;
  return std::atoi(slash + 1);
}

// P may hold a monitor command ("ru", "lo name"): its third character is
// the end, a blank or a comma.  Only a program name carries a unit.
static bool names_a_program(const char *p) {
  size_t n = std::strlen(p);
  return n > 2 && p[2] != ' ' && p[2] != ',';
}

void size_image() {
  if (progname && fmqxu(progname) && names_a_program(progname))
    progunit = getunit(const_cast<char *>(progname));
  int r = zimage_alloc(unsigned(zrmeq), unsigned(zrceq), unsigned(zcbsiz));
  if (r == ZALLOC_TOO_LARGE) fatal("M+C= PARAMETER TOO LARGE\r\n");
}

static void pause_for_messages() {
  if (msg_count == 0) return;
  msg_count = 0;
  zflush(1);
  struct timespec t = {5, 0};
  while (nanosleep(&t, &t) < 0 && errno == EINTR) {
  }
}

void init(int argc, char **argv) {
  run_hooks();
  settty(0, ioctl_fd);
  zresc = 0;
  const char *name = invocation_name(argc > 0 ? argv[0] : nullptr);
  if (env_init(argc, argv) < 0) fatal("OUT OF MEMORY \r\n");
  is_RUN = std::strcmp(name, "RUN") == 0;
  set_brkhandler();
  if (vx_signal(SIGALRM, alarm_sub) == SIG_ERR || vx_signal(SIGPIPE, SIG_IGN) == SIG_ERR ||
      vx_signal(SIGTERM, sigexit) == SIG_ERR || vx_signal(SIGHUP, sigexit) == SIG_ERR)
    fatal("signal() error.\r\n");
  stdin_flag = fcntl(0, F_GETFL);
  if (stdin_flag < 0) fatal("fcntl error.\r\n");
  check_privileges();
  proc_init();
  inicap();
  realloc_ctrl_keys();
  start_concurrent();
  try {
    if (sc_init() == 0) fatal("OUT OF MEMORY \r\n");
    size_image();
    wizfd = -1;
    ismaxfds = 0;
    if (nis_dupsiz == 2 || nis_dupsiz == 4) isdupsiz = nis_dupsiz;
    if (vxtxlogopen(vxtxlog) != 0) msg_count++;
  } catch (const zerror_jump &) {
    fatal("OUT OF MEMORY \r\n");
  }
  if (!zm.zu) fatal("CANNOT ALLOCATE MEMORY NEEDED\r\n");
  pause_for_messages();
}

// the exit paths, installed by run_hooks
[[noreturn]] void exit_restore(int code) {
  sc_reset();
  fcntl(0, F_SETFL, stdin_flag & ~O_NONBLOCK);
  settty(1, ioctl_fd);
  _exit(code & 255);
}

[[noreturn]] void exit_release(int code) {
  zioc();
  kbd_playback(-1, 0);  // the keystroke pipes' commands are waited for
  kbd_capture(-1, 0);
  proc_end_all();
  zcblogout();
  exitr2(code);
}
