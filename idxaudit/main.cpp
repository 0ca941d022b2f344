// main.cpp: the command line of idxaudit, the checker and repairer of
// indexed files (docs/idxaudit.1).
//
//   idxaudit [-y | -n] [-q] [-r] [-b SIZE] [-l INDEX] FILE...
//
// Exit status: 0 every file sound, 1 damage found and repaired, 2 damage
// left, 3 a usage or system error (the worst of the files).
#include "idxaudit/audit.h"

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string>

static int usage() {
  std::fprintf(stderr,
               "usage: idxaudit [-y | -n] [-q] [-r] [-b SIZE] [-l INDEX] FILE...\n"
               "  -y  repair without asking     -n  check only, never repair\n"
               "  -q  no line for a sound file  -r  rebuild indexes and free lists\n"
               "  -b SIZE   rebuild with index nodes of SIZE bytes (512..65536)\n"
               "  -l INDEX  list the entries of index INDEX (1 is the primary)\n"
               "FILE is the name without .dat or .idx\n");
  return 3;
}

static bool number(const char *s, int *v) {
  char *end;
  long n = std::strtol(s, &end, 10);
  if (*s == '\0' || *end != '\0' || n < 1 || n > 1 << 20) return false;
  *v = int(n);
  return true;
}

int main(int argc, char **argv) {
  ia_opts o;
  int c;
  while ((c = getopt(argc, argv, "ynqrb:l:")) != -1) {
    switch (c) {
      case 'y':
      case 'n':
        if (o.answer && o.answer != c) return usage();
        o.answer = c;
        break;
      case 'q':
        o.quiet = true;
        break;
      case 'r':
        o.rebuild = true;
        break;
      case 'b':
        if (!number(optarg, &o.nodesize)) return usage();
        break;
      case 'l':
        if (!number(optarg, &o.list)) return usage();
        break;
      default:
        return usage();
    }
  }
  if (optind >= argc) return usage();
  if ((o.rebuild || o.nodesize) && o.answer == 'n') return usage();
  int worst = IA_SOUND;
  for (int i = optind; i < argc; i++) {
    std::string name = argv[i];
    for (const char *sfx : {".dat", ".idx"})
      if (name.size() > 4 && name.compare(name.size() - 4, 4, sfx) == 0)
        name.resize(name.size() - 4);
    int rc = ia_file(name, o);
    if (rc > worst) worst = rc;
  }
  return worst;
}
