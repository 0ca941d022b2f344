// main.cpp: tovelta, which copies one file to the PC running the terminal
// emulator, over the terminal line: escape sequences and data go out on
// standard output, the emulator's replies come in on standard input.
//
//   header, echo off, open request, reply ("OK..." goes on, else refused)
//   opost off, data blocks [reply after each], end marker [reply]
//   opost restored, echo restored
//
// Exit status: 0 done (and -h, -x); 1 no file name; 2 input file cannot be
// opened; 3 block size too large; 255 transfer refused by the emulator or
// the terminal line lost.
#include <cstdio>
#include <cstring>

#include "tovelta/args.h"
#include "tovelta/line.h"
#include "tovelta/modes.h"
#include "tovelta/send.h"

static const int EXIT_LOST = 255;

// The line failed: give the terminal its modes back as far as it still
// takes them; the transfer is lost.
static int line_lost() {
  tvmode_opost_restore();
  tvmode_echo_restore();
  return EXIT_LOST;
}

static int transfer(const tvopt_options &o) {
  long long size;
  if (tvsend_open(o.unixname, o.text, &size) < 0) {
    fprintf(stderr, "Could not open input file %s !\n", o.unixname);
    return 2;
  }
  tvline_init(0, 1, o.intro);
  tvmode_catch_signals();
  if (!tvline_header(size, o.pcname)) return line_lost();
  tvmode_echo_off();
  if (!tvline_open_request()) return line_lost();
  char reply[TVLINE_REPLY_MAX + 1];
  int n = tvline_reply(reply);
  if (n < 2 || strncmp(reply, "OK", 2) != 0) {
    tvmode_echo_restore();
    fputs("Could not open output file: ", stdout);
    fwrite(reply, 1, size_t(n), stdout);
    fputs("\n", stdout);
    fflush(stdout);
    return EXIT_LOST;
  }
  tvmode_opost_off();
  if (!tvsend_data(o) || !tvline_end(o.ack)) return line_lost();
  if (o.ack) tvline_reply(reply);
  tvsend_close();
  tvmode_opost_restore();
  tvmode_echo_restore();
  return 0;
}

int main(int argc, char **argv) {
  tvopt_options o;
  int status = tvopt_parse(argc, argv, &o);
  return status >= 0 ? status : transfer(o);
}
