// zinlin.cpp: line input.  Carriage return ends the line (line feed too
// unless ZIN_LF); backspace and DEL remove the last character, CAN the
// whole line, each echoed as "\b \b"; other control characters are ignored
// (taken as spaces under ZIN_LF); printable characters and bytes from 128
// are stored and echoed until 80 are stored.  Without ZIN_KEEPCASE the
// case of letters is inverted.  Owns zrlin; the line becomes the record
// that the items of INPUT read (zrfdp, zrfdc).
#include "run/terminal/zinlin.h"

#include "run/base/zsmsg.h"
#include "run/numeric/zfmt.h"
#include "run/terminal/keys.h"

char zrlin[ZIN_MAX + 1];

static void echo(int opt, const char *s) {
  if (!(opt & ZIN_NOECHO)) zsmsg(s);
}

static int invert_case(int c) {
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
  return c;
}

int zinlin(int opt) {
  int n = 0;
  for (;;) {
    int c = get_char(0);
    if (c < 0) {
      zrlin[n] = 0;
      zrfdp = zrlin;
      zrfdc = 0;
      return c;  // KBD_EPAGER when the pager owns the terminal, else -1
    }
    if (c == '\r' || (c == '\n' && !(opt & ZIN_LF))) break;
    if (c == 8 || c == 127 || c == 24) {
      for (int k = c == 24 ? n : (n > 0); k > 0; k--, n--) echo(opt, "\b \b");
      continue;
    }
    if (c < 32) {
      if (!(opt & ZIN_LF)) continue;
      c = ' ';
    }
    if (c > 255 || n == ZIN_MAX) continue;
    if (!(opt & ZIN_KEEPCASE)) c = invert_case(c);
    zrlin[n++] = char(c);
    char e[2] = {char(c), 0};
    echo(opt, e);
  }
  zrlin[n] = 0;
  zrfdp = zrlin;
  zrfdc = n;
  return n;
}
