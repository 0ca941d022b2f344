// defaults.cpp: reading the defaults file.  Two layouts are understood by
// one state machine: blocks "#SYSTEM" and "#<terminal>" ended by "))", and
// sections "[SYSTEM]", "[TERMINAL]" (with terminal blocks) and "[PRINTER]".
// Lines before any header are settings for all terminals.
//
// States of the first pass:
//   0 done, skipping until a section      5 looking for the own block
//   1 start, no block seen                6 skipping another terminal's
//   2 reading the SYSTEM block              block before SYSTEM or own
//   3 reading the own block before SYSTEM 7 looking for the SYSTEM block
//   4 reading the last block / [SYSTEM]   8 in [PRINTER], skipped
// Transitions:
//   "[SYSTEM]" -> 4   "[TERMINAL]" -> 5   "[PRINTER]" -> 8 (position kept)
//   "#<term>"   1,6 -> 3; 5 -> 4          "#SYSTEM"  1,6 -> 2; 7 -> 4
//   "#<other>"  1 -> 6 (not "# " or "#\t")
//   "))"        1,2 -> 5; 3 -> 7; 4 -> 0
//   setting, "MAP=" line: read in 1..4 (1 becomes 2), else ignored
#include "run/config/defaults.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/config/cfhooks.h"
#include "run/config/env.h"

const char *def_name;
int deflt_fd = -1;
int deflt_lineno;
off_t deflt_printer_pos;
int deflt_printer_line;

struct deflt_reader {
  char buf[4096];                 // bytes read ahead
  int have;                       // bytes in buf
  int next;                       // next unread byte of buf
  off_t pos;                      // file offset of buf[next]
  char line[DEFLT_LINE_MAX + 2];  // the line handed out
  bool again;                     // hand out the same line once more
};
static deflt_reader rd;

bool deflt_open() {
  deflt_close();
  deflt_lineno = 0;
  deflt_printer_pos = 0;
  deflt_printer_line = 0;
  rd.have = rd.next = 0;
  rd.pos = 0;
  rd.again = false;
  do deflt_fd = open(def_name, O_RDONLY);
  while (deflt_fd < 0 && errno == EINTR);
  return deflt_fd >= 0;
}

void deflt_close() {
  if (deflt_fd >= 0) close(deflt_fd);
  deflt_fd = -1;
}

// next byte of the file, -1 at the end or on a read error
static int next_byte() {
  if (rd.next == rd.have) {
    ssize_t n;
    do n = read(deflt_fd, rd.buf, sizeof rd.buf);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return -1;
    rd.have = int(n);
    rd.next = 0;
  }
  rd.pos++;
  return (unsigned char)rd.buf[rd.next++];
}

const char *deflt_getline() {
  if (deflt_fd < 0) return nullptr;
  if (rd.again) {
    rd.again = false;
    return rd.line;
  }
  for (;;) {
    int n = 0, c;
    bool too_long = false;
    while ((c = next_byte()) >= 0 && c != '\n') {
      if (n <= DEFLT_LINE_MAX)
        rd.line[n++] = char(c);
      else
        too_long = true;
    }
    if (c < 0 && n == 0 && !too_long) return nullptr;
    deflt_lineno++;
    if (n > 0 && rd.line[n - 1] == '\r') n--;
    if (too_long || n > DEFLT_LINE_MAX) {
      char text[120];
      std::snprintf(text, sizeof text, "%s: LINE %d TOO LONG, IGNORED\r\n", def_name, deflt_lineno);
      zsmsg(text);
      msg_count++;
      continue;
    }
    rd.line[n] = 0;
    return rd.line;
  }
}

void deflt_unget() {
  rd.again = true;
}

off_t deflt_tell() {
  return rd.pos;
}

void deflt_seek(off_t pos) {
  if (deflt_fd < 0) return;
  if (lseek(deflt_fd, pos, SEEK_SET) < 0) return;
  rd.have = rd.next = 0;
  rd.pos = pos;
  rd.again = false;
}

// handles a section header in any state; false when line is none
static bool section(const char *line, int *state) {
  if (std::strcmp(line, "[SYSTEM]") == 0)
    *state = 4;
  else if (std::strcmp(line, "[TERMINAL]") == 0)
    *state = 5;
  else if (std::strcmp(line, "[PRINTER]") == 0) {
    *state = 8;
    deflt_printer_pos = deflt_tell();
    deflt_printer_line = deflt_lineno;
  } else
    return false;
  return true;
}

static void block_end(int *state) {
  static const int next_state[9] = {0, 5, 5, 7, 0, 5, 6, 7, 8};
  *state = next_state[*state];
}

static void block_header(const char *name, const char *term, int *state) {
  if (std::strcmp(name, term) == 0) {
    if (*state == 1 || *state == 6)
      *state = 3;
    else if (*state == 5)
      *state = 4;
  } else if (std::strcmp(name, "SYSTEM") == 0) {
    if (*state == 1 || *state == 6)
      *state = 2;
    else if (*state == 7)
      *state = 4;
  } else if (*state == 1 && name[0] != ' ' && name[0] != '\t') {
    *state = 6;
  }
}

// without a map parser the block's lines are passed over up to the "))"
// that ends it, so that they are not taken for settings; that line, or
// null at the end of the file
static const char *skip_map_block() {
  const char *line;
  while ((line = deflt_getline()) != nullptr)
    if (std::strncmp(line, "))", 2) == 0) return line;
  return nullptr;
}

int deflt_settings(const char *term) {
  int state = 1;
  const char *line;
  while ((line = deflt_getline()) != nullptr) {
    if (section(line, &state) || line[0] == ':') continue;
    if (line[0] == '#') {
      block_header(line + 1, term, &state);
      continue;
    }
    if (std::strcmp(line, "))") == 0) {
      block_end(&state);
      continue;
    }
    if (state < 1 || state > 4) continue;
    if (state == 1) state = 2;
    if (std::strncmp(line, "MAP=", 4) == 0) {
      const char *stop;
      if (cfg_hooks.map_block) {
        deflt_unget();  // the parser starts with the "MAP=" line itself
        stop = cfg_hooks.map_block();
      } else {
        stop = skip_map_block();
      }
      if (stop) block_end(&state);
      continue;
    }
    char *copy = const_cast<char *>(line);
    if (set_var(copy, 1, 1) < 0) return -1;
  }
  return 0;
}
