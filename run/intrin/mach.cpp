// mach.cpp: the process and pipe statement.  Owns mach_st; called by the
// intrinsic dispatcher.  Children live in the process table (forkpipe,
// termproc); this module decodes and checks the arguments, moves the data
// and writes the results back through the argument descriptors.
//
// Argument collection pops from the last argument to the first.  Only
// position 3 may be a number (the count of "RP"); it is remembered apart.
// The strings stay where they are: their descriptors are kept, and "SP"
// copies path and arguments, each with a closing zero byte, into the free
// space above the stack top as it was before the popping, so that no
// argument is overwritten while the vector is built.
//
// Result variables: a variable-length string gets the bytes and its
// current length (dim2) set to their number; a padded string gets the
// bytes followed by spaces up to its capacity, as an assignment gives it.
#include "run/intrin/mach.h"

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "run/base/image.h"
#include "run/numeric/zops.h"
#include "run/process/proc.h"
#include "run/terminal/screen.h"
#include "run/terminal/tty.h"

mach_data mach_st;

namespace {

constexpr int MACH_ARGS_MIN = 3;   // command, slot and one more
constexpr int MACH_ARGS_MAX = 10;  // "SP": command, slot, path, seven arguments
constexpr int COUNT_POS = 3;       // the one position that may be a number
constexpr int32_t COUNT_BAD = 65535;

// error numbers of the statement
constexpr int E_CMD = 71;     // unknown or malformed command
constexpr int E_SLOT = 72;    // slot argument empty or not 1 to 8
constexpr int E_FREE = 73;    // slot not in use
constexpr int E_DIR = 75;     // the slot has no pipe in that direction
constexpr int E_ZERO = 76;    // "RP" with count 0
constexpr int E_SMALL = 77;   // "RP" buffer smaller than the count
constexpr int E_WRITE = 78;   // short write
constexpr int E_NOEXEC = 79;  // program not executable

struct mach_args {
  int n;                         // arguments given
  uint32_t desc[MACH_ARGS_MAX];  // descriptor offsets of the strings
  bool has_count;                // position 3 was a number
  int32_t count;                 // its value
  uint32_t free;                 // first free byte above the stack top
};

// Puts the terminal into the user's modes for a foreground child and back
// into program mode when it goes out of scope (or earlier, by mach_err).
struct user_modes {
  user_modes() {
    settty(1, ioctl_fd);
    mach_st.tty_reset = 1;
  }
  ~user_modes() {
    if (!mach_st.tty_reset) return;
    mach_st.tty_reset = 0;
    settty(0, ioctl_fd);
  }
  user_modes(const user_modes &) = delete;
  user_modes &operator=(const user_modes &) = delete;
};

void collect(int count, mach_args *a) {
  if (count < MACH_ARGS_MIN || count > MACH_ARGS_MAX) mach_err(ERR_ARGS);
  a->n = count;
  a->has_count = false;
  a->count = 0;
  a->free = zp.stkp + uint32_t(zw.adr_len);
  for (int i = count - 1; i >= 0; i--) {
    zdesc d = zdesc_get(ztop_value());
    if (i == COUNT_POS && !(d.type & DSC_STR)) {
      a->count = zplong();
      if (a->count == COUNT_BAD || a->count < 0) mach_err(ERR_ARGS);
      a->has_count = true;
      continue;
    }
    if (!(d.type & DSC_STR)) mach_err(ERR_ARGS);
    a->desc[i] = zpop_value();
  }
}

zdesc arg(const mach_args &a, int i) {
  return zdesc_get(a.desc[i]);
}

// The slot number held by argument 1: 1 to 8, else 72; 73 for a free slot.
int slot_of(const mach_args &a) {
  zdesc d = arg(a, 1);
  if (zdesc_len(d) == 0) mach_err(E_SLOT);
  int s = int(int8_t(zget1(d.addr)));
  if (s < 1 || s > PROC_SLOTS) mach_err(E_SLOT);
  if (!proc_tab.zmmd[s - 1]) mach_err(E_FREE);
  return s;
}

// The storage of result variable dsc for len bytes: bound, and with room.
uint32_t result_room(uint32_t dsc, uint32_t len) {
  zdesc d = zdesc_get(dsc);
  if (d.addr == zw.inv_offs) mach_err(ERR_UNBOUND);
  if (d.dim1 < len || d.dim1 == 0) mach_err(ERR_ARGS);
  zat(d.addr, d.dim1);
  return d.addr;
}

// Sets the result variable dsc after n bytes were placed in its storage.
void result_len(uint32_t dsc, uint32_t n) {
  zdesc d = zdesc_get(dsc);
  if (d.type & DSC_PAD) {
    std::memset(zat(d.addr, d.dim1) + n, ' ', d.dim1 - n);
    return;
  }
  d.dim2 = n;
  zdesc_put(dsc, d);
}

// Stores one byte (a slot number or an exit code) in result variable dsc.
void result_byte(uint32_t dsc, int value) {
  zput1(result_room(dsc, 1), uint32_t(value));
  result_len(dsc, 1);
}

void read_pipe(const mach_args &a) {
  if (!a.has_count) mach_err(ERR_ARGS);
  int s = slot_of(a);
  char mode = proc_tab.zmmd[s - 1];
  if (mode != '1' && mode != '3') mach_err(E_DIR);
  if (a.count == 0) mach_err(E_ZERO);
  zdesc b = arg(a, 2);
  if (b.dim1 < uint32_t(a.count)) mach_err(E_SMALL);
  uint32_t want = uint32_t(a.count);
  uint8_t *buf = zm.zu + result_room(a.desc[2], want);
  int fd = proc_tab.zmfd[s - 1][0];
  uint32_t got = 0;
  while (got < want) {
    ssize_t r = read(fd, buf + got, want - got);
    if (r < 0 && errno == EINTR && !zresc) continue;
    if (r <= 0) break;
    got += uint32_t(r);
  }
  result_len(a.desc[2], got);
}

void write_pipe(const mach_args &a) {
  if (a.has_count) mach_err(E_CMD);
  int s = slot_of(a);
  char mode = proc_tab.zmmd[s - 1];
  if (mode != '2' && mode != '3') mach_err(E_DIR);
  zdesc d = arg(a, 2);
  uint32_t len = zdesc_len(d);
  if (len == 0) {
    proc_close_input(s);
    return;
  }
  const uint8_t *p = zat(d.addr, len);
  int fd = proc_tab.zmfd[s - 1][1];
  uint32_t done = 0;
  while (done < len) {
    ssize_t w = write(fd, p + done, len - done);
    if (w < 0 && errno == EINTR && !zresc) continue;
    if (w <= 0) break;
    done += uint32_t(w);
  }
  if (done < len) mach_err(E_WRITE);
}

// The command's third character when the command is exactly three
// characters long and it is one of allowed; else 71.
int third_char(const mach_args &a, const char *allowed) {
  zdesc c = arg(a, 0);
  if (a.has_count || zdesc_len(c) != 3) mach_err(E_CMD);
  int m = int(zget1(c.addr + 2));
  if (!m || !std::strchr(allowed, m)) mach_err(E_CMD);
  return m;
}

// Copies the path and the arguments, each closed by a zero byte, above
// the stack top; argv receives their addresses and a closing null.
void build_vector(const mach_args &a, char *argv[MACH_ARGS_MAX]) {
  uint64_t need = 0;
  for (int i = 2; i < a.n; i++) need += uint64_t(zdesc_len(arg(a, i))) + 1;
  if (!zin(a.free, need)) mach_err(ERR_STACK);
  uint32_t at = a.free;
  int k = 0;
  for (int i = 2; i < a.n; i++) {
    zdesc d = arg(a, i);
    uint32_t len = zdesc_len(d);
    movstr(len, d.addr, at);
    zput1(at + len, 0);
    argv[k++] = reinterpret_cast<char *>(zm.zu + at);
    at += len + 1;
  }
  argv[k] = nullptr;
}

[[noreturn]] void exec_child(int mode, char *argv[]) {
  if (mode != '4') {
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
  }
  signal(SIGPIPE, SIG_DFL);  // a child writing to a closed pipe ends as usual
  alarm(0);                  // a keyboard time-out of run is not the child's
  execv(argv[0], argv);
  child_abort(argv[0]);
}

void start_program(const mach_args &a) {
  int mode = third_char(a, "01234");
  result_room(a.desc[1], 1);  // the slot variable is checked before a child exists
  std::optional<user_modes> modes;
  if (mode == '4') modes.emplace();
  char *argv[MACH_ARGS_MAX];
  build_vector(a, argv);
  if (access(argv[0], X_OK) != 0) mach_err(E_NOEXEC);
  zflush(1);
  int s = forkpipe(mode);
  if (s == 0) exec_child(mode, argv);
  if (s < 0) mach_err(-s);
  if (mode == '4') proc_wait(s);  // the status stays in the slot for "TP"
  result_byte(a.desc[1], s);
}

void end_program(const mach_args &a) {
  int wait = third_char(a, "01");
  int s = slot_of(a);
  result_room(a.desc[2], 1);                    // checked before the slot is given up
  if (proc_tab.zmmd[s - 1] == '4') wait = '1';  // collected already: no waiting
  int status = termproc(s, wait);
  if (status < 0) mach_err(-status - 1);
  result_byte(a.desc[2], status);
}

}  // namespace

void mach_err(int code) {
  if (mach_st.tty_reset) {
    mach_st.tty_reset = 0;
    settty(0, ioctl_fd);
  }
  zraise(code);
}

void mach(int count) {
  mach_args a;
  collect(count, &a);
  zdesc c = arg(a, 0);
  if (zdesc_len(c) < 2) mach_err(E_CMD);
  const uint8_t *p = zat(c.addr, 2);
  if (p[1] != 'P') mach_err(E_CMD);
  switch (p[0]) {
    case 'R':
      read_pipe(a);
      break;
    case 'W':
      write_pipe(a);
      break;
    case 'S':
      start_program(a);
      break;
    case 'T':
      end_program(a);
      break;
    default:
      mach_err(E_CMD);
  }
}
