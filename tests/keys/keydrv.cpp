// keydrv: a test program for the keyboard reader in a real terminal.  It
// starts up as run does, then reads keys and writes each one's code as
// "<hex>".  Some keys ask for more:
//   n  a read that does not wait; writes "[none=R nb=F]" with its result
//      and whether standard input was left non-blocking
//   c  computes for half a second without reading, then "[done]"
//   q  ends with exit code 0
// KEYDRV_MAP=from:to,... (hexadecimal bytes) changes the input map.
#include <fcntl.h>
#include <time.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/base/zsmsg.h"
#include "run/startup/startup.h"
#include "run/terminal/keys.h"
#include "run/terminal/kmap.h"

static void input_map(const char *pairs) {
  while (pairs && *pairs) {
    char *end;
    unsigned from = unsigned(std::strtoul(pairs, &end, 16));
    if (*end != ':') return;
    unsigned to = unsigned(std::strtoul(end + 1, &end, 16));
    table_in[from & 0xFF] = uint8_t(to);
    pairs = *end == ',' ? end + 1 : end;
    if (*end != ',') return;
  }
}

static void compute() {
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  do clock_gettime(CLOCK_MONOTONIC, &now);
  while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < 500);
}

int main(int argc, char **argv) {
  argvector = argv;
  init(argc, argv);
  input_map(std::getenv("KEYDRV_MAP"));
  zsmsg("ready\r\n");
  for (;;) {
    int k = get_char(0);
    char text[64];
    std::snprintf(text, sizeof text, "<%x>", unsigned(k));
    zsmsg(text);
    if (k == 'n') {
      int r = get_char(1);
      int fl = fcntl(0, F_GETFL);
      std::snprintf(text, sizeof text, "[none=%d nb=%d]", r, (fl & O_NONBLOCK) != 0);
      zsmsg(text);
    } else if (k == 'c') {
      compute();
      zsmsg("[done]");
    } else if (k == 'q') {
      exitr3(0);
    }
  }
}
