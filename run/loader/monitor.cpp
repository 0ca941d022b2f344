// monitor.cpp: TEMPORARY stand-in for the command monitor, which a later
// issue builds.  It reports that run came up, with the image it has, then
// waits at its prompt until "q" or the end of the input and leaves through
// the normal exit path.
#include "run/loader/monitor.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>

#include "run/interp/image.h"
#include "run/numeric/zsmsg.h"
#include "run/startup/settings.h"
#include "run/startup/startup.h"

void cmd() {
  char line[200];
  std::snprintf(line, sizeof line, "run: started, image %u bytes, program %s unit %d%s\r\n",
                unsigned(zm.size), progname ? progname : "(none)", progunit,
                is_RUN ? ", as RUN" : "");
  zsmsg(line);
  zsmsg("run> ");
  for (;;) {
    char c;
    ssize_t n = read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == 'q') break;
  }
  zsmsg("\r\n");
  exitr3(0);
}

// TEMPORARY: no debug information is kept per call level until the
// monitor's debug reader exists.
void pushd() {}
void popd(int) {}
