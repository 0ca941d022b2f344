// wiz.cpp: the shared buffer and the statement of intrinsic 29.  Owns wiz
// and wizfd; called by the intrinsic dispatcher and, at exit, by the exit
// processing (zcblogout).
//
// Life of the buffer in one process:
//   closed --first bind: open, lock (waiting), count + 1, unlock--> open
//   open --bind: lock without waiting, read--> locked (else: empty string)
//   locked --function 1 or exit: write, unlock--> open
//   open --exit: lock (waiting), count - 1, unlock--> closed
// The count is the block's first two bytes; the first process to open the
// buffer after every other one has left finds it 0 and fills the data
// with spaces.  Waiting for the lock ends when the break key is pressed.
//
// Keystroke pipes (functions 10 and 11) are started with the printer's
// pipe starters and handed to the keyboard reader, which reads and
// writes them.
#include "run/intrin/wiz.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "run/base/image.h"
#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/files/iohelp.h"
#include "run/numeric/zops.h"
#include "run/terminal/conc.h"
#include "run/terminal/keys.h"
#include "run/terminal/lp.h"
#include "run/terminal/tty.h"

wiz_data wiz;
int wizfd = -1;

namespace {

constexpr int COMMAND_MAX = 79;          // characters of a keystroke-pipe command
constexpr unsigned COUNT_MAX = 0xFFFF;   // the count's largest value
constexpr unsigned LENGTH_MAX = 0xFFFF;  // the longest string a descriptor holds

unsigned block_len() {
  return unsigned(zcbsiz) + 2;
}

uint8_t *block() {
  return zat(zm.zcom, block_len());
}

// "head" and the error number (decimal or hexadecimal), then the end
[[noreturn]] void fatal(const char *head, int err, bool hex) {
  char text[64];
  if (hex)
    std::snprintf(text, sizeof text, "%s%x\r\n", head, unsigned(err));
  else
    std::snprintf(text, sizeof text, "%s%d\r\n", head, err);
  zsmsg(text);
  exitr2(-1);
}

// The block from the file into the image; bytes the file does not have
// (a new or shorter file) read as spaces.  The number read.
unsigned read_block() {
  uint8_t *b = block();
  unsigned len = block_len(), got = 0;
  while (got < len) {
    ssize_t n = pread(wizfd, b + got, len - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fatal("wizard read error ", errno, false);
    if (n == 0) break;
    got += unsigned(n);
  }
  if (got < len) std::memset(b + got, ' ', len - got);
  return got;
}

void write_block() {
  const uint8_t *b = block();
  unsigned len = block_len(), done = 0;
  while (done < len) {
    ssize_t n = pwrite(wizfd, b + done, len - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fatal("\r\nwizard write err ", n < 0 ? errno : ENOSPC, true);
    done += unsigned(n);
  }
}

// lockf on the block: from offset 0, block_len bytes
int lock_block(int cmd) {
  if (lseek(wizfd, 0, SEEK_SET) < 0) return -1;
  return lockf(wizfd, cmd, off_t(block_len()));
}

// Takes the exclusive lock, waiting; false when the break key ended the
// wait (the flag is left for the caller).
bool lock_excl_wizard() {
  while (lock_block(F_LOCK) < 0) {
    if (zresc) return false;
    if (errno != EINTR) {
      struct timespec t = {0, 100 * 1000 * 1000};  // a lasting failure: no busy loop
      nanosleep(&t, nullptr);
    }
  }
  return true;
}

void unlock_wizard() {
  if (lock_block(F_ULOCK) < 0) fatal("\r\nwizard unlock err ", errno, true);
}

unsigned get_count() {
  return zget2(zm.zcom);
}

void put_count(unsigned n) {
  zput2(zm.zcom, n);
}

// Opens the file and adds this process to the count; 105 when the break
// key ends the wait for the lock (the file is then left closed, uncounted).
void open_wizard() {
  int fd = open_sysfile(wiz_name && *wiz_name ? wiz_name : "wizardbuf", 1);
  wizfd = fd;
  if (!lock_excl_wizard()) {
    close(fd);
    wizfd = -1;
    zresc = 0;
    zraise(ERR_BREAK);
  }
  if (read_block() < 2 || get_count() == 0) {
    put_count(0);
    std::memset(block() + 2, ' ', unsigned(zcbsiz));
  }
  unsigned n = get_count();
  put_count(n < COUNT_MAX ? n + 1 : n);
  write_block();
  unlock_wizard();
}

// The statement's optional second argument.
struct wiz_arg {
  bool given;      // there is one
  bool is_string;  // a string (else a number)
  unsigned desc;   // its descriptor offset (a string)
  unsigned len;    // its current length (a string)
  unsigned addr;   // its data address (a string)
  int value;       // its value (a number)
};

wiz_arg pop_arg() {
  wiz_arg a = {};
  a.given = true;
  zdesc d = zdesc_get(ztop_value());
  if (d.type & DSC_STR) {
    a.is_string = true;
    a.desc = zpop_value();
    a.len = zdesc_len(d);
    a.addr = d.addr;
  } else {
    a.value = zppos();
  }
  return a;
}

// The command of a keystroke pipe: null for none (ends the pipe only).
// Longer than COMMAND_MAX characters: 104.
const char *command_of(const wiz_arg &a, char buf[COMMAND_MAX + 1]) {
  if (!a.given || !a.is_string || a.len == 0) return nullptr;
  if (a.len > COMMAND_MAX) zraise(ERR_ARGS);
  std::memcpy(buf, zat(a.addr, a.len), a.len);
  buf[a.len] = 0;
  return buf;
}

// Starts command through start (input_pipe or output_pipe); the pipe's
// descriptor, *slot its process slot.  A command that cannot be started
// raises the process table's error.
int start_pipe(int (*start)(const char *, int *), const char *command, int *slot) {
  int saved = lp_ioerr;
  lp_ioerr = 0;
  int fd = start(command, slot);
  int err = lp_ioerr;
  lp_ioerr = saved;
  if (fd <= 0) zraise(err ? err : ERR_ARGS);
  return fd;
}

void playback(const wiz_arg &a) {
  char buf[COMMAND_MAX + 1];
  const char *command = command_of(a, buf);
  kbd_playback(-1, 0);
  if (!command) return;
  int slot;
  int fd = start_pipe(input_pipe, command, &slot);
  kbd_playback(fd, slot);
}

void capture_into(const wiz_arg &a) {
  char buf[COMMAND_MAX + 1];
  const char *command = command_of(a, buf);
  kbd_capture(-1, 0);
  if (!command) return;
  int slot;
  int fd = start_pipe(output_pipe, command, &slot);
  kbd_capture(fd, slot);
}

}  // namespace

void get_wizard(unsigned desc) {
  zdesc d = zdesc_get(desc);
  uint64_t data = uint64_t(zm.zcom) + 2;
  if (unsigned(zcbsiz) > LENGTH_MAX || data + unsigned(zcbsiz) > zw.inv_offs) zraise(ERR_ARGS);
  if (wizfd < 0) open_wizard();
  unsigned len = 0;
  if (!wiz.locked && lock_block(F_TLOCK) == 0) {
    read_block();
    wiz.locked = 1;
    len = unsigned(zcbsiz);
  }
  d.addr = uint32_t(data);
  d.dim1 = d.dim2 = len;
  zdesc_put(desc, d);
}

void zcbunl() {
  if (wizfd < 0 || !wiz.locked) return;
  write_block();
  unlock_wizard();
  wiz.locked = 0;
}

void zcblogout() {
  if (wizfd < 0) return;
  zcbunl();
  if (!lock_excl_wizard()) return;  // the break key: the count stays
  read_block();
  unsigned n = get_count();
  if (n) put_count(n - 1);
  write_block();
  unlock_wizard();
  close(wizfd);
  wizfd = -1;
}

void wizard(int argc) {
  if (argc < 1 || argc > 2) zraise(ERR_ARGS);
  wiz_arg a = {};
  if (argc == 2) a = pop_arg();
  int32_t fn = zplong();
  switch (fn) {
    case 0:
      if (!a.is_string || (zdesc_get(a.desc).type & 0x60) != DSC_STR) zraise(ERR_ARGS);
      get_wizard(a.desc);
      break;
    case 1:
      zcbunl();
      break;
    case 2:
      break;
    case 8:
      if (!conc_wanted) zraise(ERR_ARGS);
      concurrent(SIGQUIT);
      break;
    case 9:
      if (a.given && a.is_string) zraise(ERR_ARGS);
      exitr3(a.value);
    case 10:
      playback(a);
      break;
    case 11:
      capture_into(a);
      break;
    default:
      zraise(ERR_ARGS);
  }
}
