// keys.cpp: the key-sequence tree, the recogniser and the key reader.
// Owns kbd; called by line input, the key intrinsics, the monitor and its
// pager; the capability reader enters the terminal's keys at start-up and
// the keyboard map its compose and dead keys.
//
// Recognition, one byte c at a time (check_fkey):
//
//   state 0 --c starts no sequence--------------------> 1, c is the key
//   state 0 --c starts one--> search the first level
//   search --found, leaf-------------------------------> 1, the leaf's code
//   search --found, inner node--> next level, state = type of the first
//            byte ---------------------------------------> 0 (more bytes)
//   search --not found--> the consumed bytes and c go to the ring through
//            table_in; c is kept back instead when it starts a sequence
//            itself, and is fed first once the ring is read -> 2
//   time-out after one byte ---------------------------> 1, that byte
//   time-out after more bytes: they go to the ring ----> 2
//
// get_char refreshes the screen, then reads bytes: blocking when waiting,
// after a poll when not; after the first byte of a terminal key sequence
// each further byte must come within esc_timeout tenths of a second
// (VMIN 0 / VTIME on a terminal, a poll elsewhere).  Every key reaches the
// caller through the type-ahead ring, which records it to the capture
// pipe.
#include "run/terminal/keys.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <term.h>

#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/process/proc.h"
#include "run/terminal/conc.h"
#include "run/terminal/kmap.h"
#include "run/terminal/lp.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"
#include "run/terminal/tty.h"

constinit kbd_data kbd{};
volatile sig_atomic_t kbd_quit_seen;

constexpr int16_t LEAF = int16_t(0x8000);

void kbd_init() {
  std::free(kbd.ctrl_keys);
  kbd = kbd_data{};
}

// ---- the tree ----------------------------------------------------------------

int alloc_ctrl_keys(int n) {
  if (n < 1) n = 1;
  void *p = std::calloc(size_t(n), sizeof(ctrl_key));
  if (!p) return -1;
  std::free(kbd.ctrl_keys);
  kbd.ctrl_keys = static_cast<ctrl_key *>(p);
  kbd.ctrl_keys_max = n;
  kbd.ctrl_keys_used = 1;
  return 0;
}

void realloc_ctrl_keys() {
  if (!kbd.ctrl_keys) return;
  void *p = std::realloc(kbd.ctrl_keys, size_t(kbd.ctrl_keys_used) * sizeof(ctrl_key));
  if (!p) {
    zsmsg("fatal realloc error\r\n");
    exitr2(-1);
  }
  kbd.ctrl_keys = static_cast<ctrl_key *>(p);
  kbd.ctrl_keys_max = kbd.ctrl_keys_used;
}

// a new node for byte c before sibling next; its index, or 0 without room
static int new_node(uint8_t c, int next) {
  if (kbd.ctrl_keys_used == kbd.ctrl_keys_max) {
    int n = kbd.ctrl_keys_max + 256;
    if (n > 0x7FFF) n = 0x7FFF;  // indices are 15 bits
    if (n == kbd.ctrl_keys_max) return 0;
    void *p = std::realloc(kbd.ctrl_keys, size_t(n) * sizeof(ctrl_key));
    if (!p) return 0;
    kbd.ctrl_keys = static_cast<ctrl_key *>(p);
    std::memset(kbd.ctrl_keys + kbd.ctrl_keys_max, 0,
                size_t(n - kbd.ctrl_keys_max) * sizeof(ctrl_key));
    kbd.ctrl_keys_max = n;
  }
  int i = kbd.ctrl_keys_used++;
  kbd.ctrl_keys[i] = {int16_t(next), 0, c};
  return i;
}

// The node for byte c on the level whose first node the link *head holds
// (the parent's succ, or the root's alt), inserted in order when missing;
// 0 without room.
static int level_node(int16_t ctrl_key::*link, int owner, uint8_t c) {
  int prev = -1, i = kbd.ctrl_keys[owner].*link;
  while (i && kbd.ctrl_keys[i].ichar < c) {
    prev = i;
    i = kbd.ctrl_keys[i].alt;
  }
  if (i && kbd.ctrl_keys[i].ichar == c) return i;
  int n = new_node(c, i);
  if (!n) return 0;
  if (prev < 0)
    kbd.ctrl_keys[owner].*link = int16_t(n);
  else
    kbd.ctrl_keys[prev].alt = int16_t(n);
  return n;
}

int add_fkey(const uint8_t *bytes, int len, int code, int type) {
  if (len < 1 || len > KBD_SEQ_MAX || code < 0 || code > 0x7FFF) return 0;
  if (!kbd.ctrl_keys && alloc_ctrl_keys(256) < 0) return -1;
  int16_t ctrl_key::*link = &ctrl_key::alt;
  int owner = 0;
  for (int k = 0; k < len; k++) {
    int n = level_node(link, owner, bytes[k]);
    if (!n) return -1;
    ctrl_key &node = kbd.ctrl_keys[n];
    if (k == len - 1) {
      if (node.succ != 0) return 0;  // exists, or is the prefix of a longer one
      node.succ = int16_t(LEAF | code);
      break;
    }
    if (node.succ < 0) {
      if ((node.succ & 0x7FFF) != node.ichar) return 0;  // a shorter key owns the prefix
      node.succ = 0;  // a one-byte key standing for itself gives way
    }
    link = &ctrl_key::succ;
    owner = n;
  }
  kbd.seq_type[bytes[0] == 0x80 ? 0 : bytes[0]] = uint8_t(type);
  return 1;
}

// ---- recognition -----------------------------------------------------------

static void reset_recognition() {
  kbd.state = 0;
  kbd.level = 0;
  kbd.ctrl_cnt = 0;
  kbd.ochar = 0;
}

static int sequence_type(int c) {
  return kbd.ctrl_keys ? kbd.seq_type[c] : 0;
}

// the node for byte c on the level starting at first, or 0
static int find_node(int first, int c) {
  for (int i = first; i > 0 && i < kbd.ctrl_keys_used; i = kbd.ctrl_keys[i].alt) {
    int ichar = kbd.ctrl_keys[i].ichar;
    if (ichar == c || (ichar == 0x80 && c == 0)) return i;
  }
  return 0;
}

// the consumed bytes into the ring, each through the input map
static void consumed_to_ring() {
  for (int k = 0; k < kbd.ctrl_cnt; k++) put_kbd_buf(table_in[kbd.ctrl_seq[k]]);
}

int check_fkey(int timed_out, int *data) {
  if (timed_out) {
    if (kbd.state == 0) return 2;  // nothing under way: nothing to deliver
    int cnt = kbd.ctrl_cnt;
    *data = kbd.ochar;
    if (cnt > 1) consumed_to_ring();
    reset_recognition();
    return cnt > 1 ? 2 : 1;
  }
  int c = *data & 0xFF;
  *data = c;
  if (kbd.state == 0) {
    int type = sequence_type(c);
    if (type == 0) return 1;  // an ordinary byte
    kbd.state = type;
    kbd.level = kbd.ctrl_keys[0].alt;
  }
  int n = find_node(kbd.level, c);
  if (n && kbd.ctrl_keys[n].succ < 0) {
    *data = kbd.ctrl_keys[n].succ & 0x7FFF;
    reset_recognition();
    return 1;
  }
  if (n && kbd.ctrl_cnt < KBD_SEQ_MAX) {
    if (kbd.ctrl_cnt == 0) kbd.ochar = kbd.ctrl_keys[n].ichar == 0x80 ? 0 : c;
    kbd.ctrl_seq[kbd.ctrl_cnt++] = uint8_t(c);
    kbd.level = kbd.ctrl_keys[n].succ;
    return 0;
  }
  // the sequence is broken
  if (kbd.ctrl_cnt == 0) {  // its first byte begins no entered key
    reset_recognition();
    return 1;
  }
  consumed_to_ring();
  if (sequence_type(c) != 0)
    kbd.pending = c;  // begins a sequence anew once the ring is read
  else
    put_kbd_buf(table_in[c]);
  reset_recognition();
  return 2;
}

int kbd_take_pending() {
  int c = kbd.pending;
  kbd.pending = -1;
  return c;
}

// ---- the type-ahead ring and the keystroke pipes ---------------------------

int put_kbd_buf(int code) {
  if (code < 0 || code > 0xFFFF || kbd.kbd_count == KBD_RING) return 0;
  kbd.kbd_buffer[kbd.kbd_in] = uint16_t(code);
  kbd.kbd_in = (kbd.kbd_in + 1) % KBD_RING;
  kbd.kbd_count++;
  if (code > 0xFF) {
    capture(0xFF);
    capture(code & 0xFF);
  } else {
    capture(code);
  }
  return 1;
}

int get_kbd_buf() {
  if (kbd.kbd_count == 0) return -1;
  int code = kbd.kbd_buffer[kbd.kbd_out];
  kbd.kbd_out = (kbd.kbd_out + 1) % KBD_RING;
  kbd.kbd_count--;
  return code;
}

// ends a keystroke pipe: through its process slot, else by closing it
static void end_pipe(int *fd, int *slot, int wait_mode) {
  if (*fd < 0) return;
  if (*slot > 0)
    termproc(*slot, wait_mode);
  else
    close(*fd);
  *fd = -1;
  *slot = 0;
}

void kbd_playback(int fd, int slot) {
  end_pipe(&kbd.play_fd, &kbd.play_slot, '1');
  kbd.play_fd = fd;
  kbd.play_slot = fd >= 0 ? slot : 0;
}

void kbd_capture(int fd, int slot) {
  end_pipe(&kbd.cap_fd, &kbd.cap_slot, '1');
  kbd.cap_fd = fd;
  kbd.cap_slot = fd >= 0 ? slot : 0;
}

void capture(int byte) {
  if (kbd.cap_fd < 0) return;
  uint8_t b = uint8_t(byte);
  ssize_t w;
  do w = write(kbd.cap_fd, &b, 1);
  while (w < 0 && errno == EINTR);
  if (w != 1) end_pipe(&kbd.cap_fd, &kbd.cap_slot, '0');
}

// one byte of the playback pipe, or -2 at its end (playback ended)
static int playback_read() {
  uint8_t b;
  ssize_t n;
  do n = read(kbd.play_fd, &b, 1);
  while (n < 0 && errno == EINTR);
  if (n == 1) return b;
  end_pipe(&kbd.play_fd, &kbd.play_slot, '1');
  return -2;
}

// The next key of the playback pipe, or -2 at its end: the bytes as they
// come, except that 255 followed by the low byte of a key that is no
// character (F0-F63, 0x80-0x85), as the capture pipe writes such keys,
// is that key.  255 followed by anything else is the character 255.
static int playback_byte() {
  int b = playback_read();
  if (b < 0) return b;
  capture(b);
  if (b != 0xFF) return b;
  int n = playback_read();
  if (n < 0) return b;
  if (n < 64 || (n >= 0x80 && n <= 0x85)) {
    capture(n);
    return KBD_F0 + n;
  }
  put_kbd_buf(n);  // the next key (recorded by the ring)
  return b;
}

// ---- the quit signal -------------------------------------------------------

void defer_it(int) {
  kbd_quit_seen = 1;
}

void defer_quit_signal() {
  kbd_quit_seen = 0;
  if (kbd.quit_deferred) return;
  struct sigaction cur;
  if (sigaction(SIGQUIT, nullptr, &cur) < 0 || cur.sa_handler == SIG_IGN) return;
  kbd.old_quit = vx_signal(SIGQUIT, defer_it);
  kbd.quit_deferred = kbd.old_quit != SIG_ERR;
}

void kbd_quit_clear() {
  kbd_quit_seen = 0;
}

int restore_quit_signal() {
  if (!kbd.quit_deferred) return 0;
  vx_signal(SIGQUIT, kbd.old_quit);
  kbd.quit_deferred = 0;
  int seen = kbd_quit_seen;
  kbd_quit_seen = 0;
  return seen;
}

// ---- reading bytes ---------------------------------------------------------

constexpr int RB_NONE = -1;     // no byte ready (not waiting)
constexpr int RB_TIMEOUT = -2;  // the time-out passed without a byte
constexpr int RB_QUIT = -3;     // a deferred quit signal cut the read short

[[noreturn]] static void input_gone(const char *text) {
  zsmsg(text);
  exitrun();
}

static bool byte_ready(int ms) {
  struct pollfd p = {0, POLLIN, 0};
  int r;
  while ((r = poll(&p, 1, ms)) < 0 && errno == EINTR && !kbd_quit_seen) {
  }
  return r > 0;
}

// Waits up to tenths tenths of a second for a byte to be readable: VMIN 0
// and VTIME on a terminal (the read itself waits), a poll elsewhere.
// RB_TIMEOUT, or the byte.
static int timed_read(int tenths);

// One byte from standard input.  wait: block for it; tenths > 0: give up
// after that time-out.
static int read_byte(bool wait, int tenths) {
  if (kbd.pending >= 0) return kbd_take_pending();
  if (tenths > 0 && !byte_ready(0)) return timed_read(tenths);
  if (!wait && tenths == 0 && !byte_ready(0)) return kbd_quit_seen ? RB_QUIT : RB_NONE;
  for (;;) {
    uint8_t c;
    ssize_t n = read(0, &c, 1);
    if (n == 1) return c;
    if (n == 0) {
      if (!wait && tenths == 0) return RB_NONE;
      input_gone("\n\rEOF on stdin, exiting.\n\r");
    }
    if (errno == EINTR) {
      if (kbd_quit_seen) return RB_QUIT;
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait) return RB_NONE;
      int fl = fcntl(0, F_GETFL);  // waiting reads block
      if (fl >= 0 && fcntl(0, F_SETFL, fl & ~O_NONBLOCK) >= 0) continue;
    }
    char text[48];
    std::snprintf(text, sizeof text, "stdin read errno = %d\r\n", errno);
    input_gone(text);
  }
}

static int timed_read(int tenths) {
  struct termios t, timed;
  if (tcgetattr(0, &t) < 0) {
    if (!byte_ready(tenths * 100)) return kbd_quit_seen ? RB_QUIT : RB_TIMEOUT;
    return read_byte(true, 0);
  }
  timed = t;
  timed.c_cc[VMIN] = 0;
  timed.c_cc[VTIME] = cc_t(tenths);
  if (tcsetattr(0, TCSANOW, &timed) < 0) return RB_TIMEOUT;
  uint8_t c;
  ssize_t n;
  while ((n = read(0, &c, 1)) < 0 && errno == EINTR && !kbd_quit_seen) {
  }
  int err = errno;
  tcsetattr(0, TCSANOW, &t);
  if (n == 1) return c;
  if (n == 0) return RB_TIMEOUT;
  if (err == EINTR) return RB_QUIT;
  if (err == EAGAIN || err == EWOULDBLOCK) return RB_TIMEOUT;
  char text[48];
  std::snprintf(text, sizeof text, "stdin read errno = %d\r\n", err);
  input_gone(text);
}

// ---- get_char --------------------------------------------------------------

constexpr int KEY_AGAIN = -100;  // read on: the refresh key while waiting

// The code of a complete key: function keys become 0xFF00 + their low
// byte, characters go through the input map; the refresh key repaints the
// screen and gives KEY_AGAIN (waiting) or KBD_NOKEY.
static int key_code(int code, bool wait) {
  if (code == KBD_REFRESH) {
    zflush(2);
    return wait ? KEY_AGAIN : KBD_NOKEY;
  }
  if (code & KBD_FKEY) return KBD_F0 + (code & 0xFF);
  if (code < 0x100) return table_in[code];
  return code;
}

// Reads bytes until a key is complete (step by step through check_fkey):
// 1 with the key's code in *data, 2 when the ring got the bytes of a
// broken sequence, 0 when no byte was ready (not waiting), -1 when a
// deferred quit signal came.
static int read_sequence(bool wait, int *data) {
  int tenths = 0;
  for (;;) {
    int c = read_byte(wait, tenths);
    if (c == RB_NONE) return 0;
    if (c == RB_QUIT) {
      if (kbd.state != 0 && check_fkey(1, data) == 1) put_kbd_buf(key_code(*data, false));
      return -1;
    }
    int r;
    if (c == RB_TIMEOUT) {
      r = check_fkey(1, data);
    } else {
      *data = c;
      r = check_fkey(0, data);
    }
    if (r != 0) return r;
    tenths = kbd.state == KBD_TERMINAL ? kbd.esc_timeout : 0;
    wait = true;
  }
}

int get_char(int mode) {
  bool wait = mode == 0;
  reset_recognition();
  if (kbd.kbd_count) return get_kbd_buf();
  if (zprlck && zrrmp == 3) return wait ? KBD_EPAGER : KBD_NOKEY;  // the pager reads
  if (kbd.play_fd >= 0) {
    if (!wait) return KBD_NOKEY;
    int b = playback_byte();
    if (b >= 0) return b;
  }
  zflush(1);
  for (;;) {
    if (kbd.kbd_count) return get_kbd_buf();
    if (conc_running()) {
      // the interrupted run takes the keyboard back only when the
      // concurrent run has ended; a poll does not wait for that
      if (!wait) {
        wait_for_child_to_terminate(0);
        return KBD_NOKEY;
      }
      wait_for_child_to_terminate(1);
    }
    defer_quit_signal();
    int data = 0;
    int r = read_sequence(wait, &data);
    if (restore_quit_signal() || r < 0) {
      concurrent(SIGQUIT);
      continue;
    }
    if (r == 0) return KBD_NOKEY;
    if (r == 2) continue;
    int code = key_code(data, wait);
    if (code == KEY_AGAIN) continue;
    if (code == KBD_NOKEY) return code;
    put_kbd_buf(code);
    return get_kbd_buf();
  }
}

// ---- the terminal's keys ---------------------------------------------------

// The one-byte codes of the cursor and editing keys, in the order of the
// key-string table ztc (kr RK kl LK kd DK ku UK k0 DL TB LD kh kb); -1 to
// -4 stand for the arrow codes (ARROWS) right, left, down, up.
static const int edit_codes[14] = {-1, -1,   -2,   -2,   -3,   -3,   -4,
                                   -4, 0x1B, 0x7F, 0x09, 0x18, 0x01, 0x08};

// the seven keys after the function keys, leaves KBD_FKEY + 0x80 + i
static const char *const other_keys[7] = {"kpp", "knp", "kend", "kich1", "kil1", "kprt", "krfr"};

// A string capability of the terminal, or null.
static const char *cap_string(const char *name) {
  if (!cur_term) return nullptr;
  char *s = tigetstr(name);
  return s && s != reinterpret_cast<char *>(-1) && *s ? s : nullptr;
}

// Enters one key; false when memory ran out.
static bool enter(const char *s, int code) {
  const uint8_t *b = reinterpret_cast<const uint8_t *>(s);
  return add_fkey(b, int(std::strlen(s)), code, KBD_TERMINAL) >= 0;
}

// The escape key after VXESC: "F" or "f" with a number 0-63 takes that
// function key's string (the function key is returned in *taken), any
// other value is the decimal code of the key's one byte.
static void escape_key(int *taken) {
  *taken = -1;
  const char *v = vx_esc ? vx_esc : "27";
  if ((v[0] == 'F' || v[0] == 'f') && v[1] >= '0' && v[1] <= '9') {
    int n = std::atoi(v + 1);
    char name[8];
    std::snprintf(name, sizeof name, "kf%d", n);
    const char *s = n <= 63 ? cap_string(name) : nullptr;
    if (s && std::strlen(s) <= KBD_SEQ_MAX) {
      std::snprintf(kbd.esc_key, sizeof kbd.esc_key, "%s", s);
      *taken = n;
      return;
    }
  }
  int b = std::atoi(v) & 0xFF;
  kbd.esc_key[0] = char(b ? b : 0x80);  // a zero byte is written 0x80
  kbd.esc_key[1] = 0;
}

int fill_ctrl_keys() {
  unsigned speed = ztc_ospeed & 0x100F;
  kbd.esc_timeout = speed > 0 && speed <= B1200 ? 2 : 1;
  int taken;
  escape_key(&taken);
  bool ok = true;
  ztc[ZTC_K0] = kbd.esc_key;
  for (int k = 0; k < 14; k++) {
    int code = edit_codes[k] < 0 ? cf_code[CF_ARROWS - 1 - edit_codes[k]] : edit_codes[k];
    char one[2] = {char(code ? code : 0x80), 0};
    ok = enter(ztc[ZTC_KR + k] && *ztc[ZTC_KR + k] ? ztc[ZTC_KR + k] : one, code) && ok;
  }
  for (int n = 0; n < 64; n++) {
    char name[8];
    std::snprintf(name, sizeof name, "kf%d", n);
    const char *s = n == taken ? nullptr : cap_string(name);
    if (s) ok = enter(s, KBD_FKEY + n) && ok;
  }
  for (int i = 0; i < 7; i++)
    if (const char *s = cap_string(other_keys[i])) ok = enter(s, KBD_FKEY + 0x80 + i) && ok;
  return ok ? kbd.ctrl_keys_used : 0;
}
