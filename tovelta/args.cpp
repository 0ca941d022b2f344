// args.cpp: the command line of tovelta.  Options follow getopt's rules
// with the option string "ta:b:Hhx"; an unknown letter is reported by
// getopt and otherwise ignored.  Called once by main.
//
// Numbers given to -a and -b must be wholly decimal digits.  A -b value of
// more than 16384 is refused (exit 3); a -b value of 0 or one that is not a
// number falls back to the default block size; an -a value that is not a
// number (or does not fit 32 bits) leaves acknowledgements off.
#include "tovelta/args.h"

#include <unistd.h>
#include <climits>
#include <cstdio>
#include <cstring>

static const char VERSION[] = "2.0";

static const char HELP[] =
    "\n"
    "Command line format:\n"
    "\ttovelta [options] unixfilename [pcfilename]\n"
    "\n"
    "Options:\n"
    "\t-a 1           enable acks, defaults to disabled\n"
    "\t-b size        block size, defaults to 2048\n"
    "\t-H             when using Velta in HP emulation mode.\n"
    "\t-t             text mode (convert lines ending with LF to CR LF).\n"
    "\t-h             show this help information.\n"
    "\n"
    "Examples:\n"
    "\ttovelta helpicon.bmp\n"
    "\ttovelta -t -b 2048 -a 1  file.txt file.text\n"
    "\n";

void tvopt_help() {
  fputs(HELP, stdout);
  fflush(stdout);
}

// Reads an unsigned decimal number made of digits only; values past
// ULLONG_MAX / 10 stick there, which is far above any limit we check.
static bool decimal(const char *s, unsigned long long *v) {
  if (!s || !*s) return false;
  unsigned long long n = 0;
  for (; *s; s++) {
    if (*s < '0' || *s > '9') return false;
    if (n < ULLONG_MAX / 10) n = n * 10 + unsigned(*s - '0');
  }
  *v = n;
  return true;
}

const char *tvopt_pcname(const char *unixname) {
  const char *slash = strrchr(unixname, '/');
  return slash && slash[1] ? slash + 1 : unixname;
}

int tvopt_parse(int argc, char **argv, tvopt_options *o) {
  *o = {false, 0, TVOPT_BLOCK_DEFAULT, '[', nullptr, nullptr};
  unsigned long long v;
  int c;
  while ((c = getopt(argc, argv, "ta:b:Hhx")) != -1) {
    switch (c) {
      case 't':
        o->text = true;
        break;
      case 'a':
        o->ack = decimal(optarg, &v) && v <= UINT_MAX ? unsigned(v) : 0;
        break;
      case 'b':
        if (!decimal(optarg, &v) || v == 0) {
          o->block = TVOPT_BLOCK_DEFAULT;
        } else if (v > TVOPT_BLOCK_MAX) {
          fputs("Buffer size is too large!\n", stderr);
          return 3;
        } else {
          o->block = int(v);
        }
        break;
      case 'H':
        o->intro = '%';
        break;
      case 'h':
        printf("File Transfer To Velta - version %s\n", VERSION);
        tvopt_help();
        return 0;
      case 'x':
        return 0;
      default:
        break;
    }
  }
  if (optind >= argc) {
    fputs("Error: You must specify a unix filename as input!\n", stderr);
    tvopt_help();
    return 1;
  }
  o->unixname = argv[optind];
  o->pcname = optind + 1 < argc ? argv[optind + 1] : tvopt_pcname(o->unixname);
  return -1;
}
