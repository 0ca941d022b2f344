// keys.h: keyboard input: the key-sequence tree, the recogniser of
// function-key and keyboard-map sequences, the type-ahead ring and the key
// reader get_char, which returns internal key codes.
#pragma once

#include <csignal>
#include <cstdint>

// Internal key codes returned by get_char: 0-255 a character (through the
// input map table_in); these for the keys that are no characters:
constexpr int KBD_F0 = 0xFF00;     // function key n (0-63): KBD_F0 + n
constexpr int KBD_PPAGE = 0xFF80;  // previous page
constexpr int KBD_NPAGE = 0xFF81;  // next page
constexpr int KBD_END = 0xFF82;    // end
constexpr int KBD_IC = 0xFF83;     // insert character
constexpr int KBD_IL = 0xFF84;     // insert line
constexpr int KBD_PRINT = 0xFF85;  // print

// Codes of the tree's leaves for the keys above: function key n is
// KBD_FKEY + n, the page, end, insert, print and refresh keys KBD_FKEY +
// 0x80 ... + 0x86.  Leaves below 0x100 are characters.
constexpr int KBD_FKEY = 0x1000;
constexpr int KBD_REFRESH = 0x1086;  // repaints the screen, never returned

constexpr int KBD_SEQ_MAX = 10;  // longest sequence add_fkey enters
constexpr int KBD_RING = 50;     // pending type-ahead entries at most
constexpr int KBD_NOKEY = -1;    // get_char: no key ready (not waiting)
constexpr int KBD_EPAGER = -67;  // get_char: the pager owns the terminal

// Sequence types (the type of a sequence's first byte).
constexpr int KBD_TERMINAL = 1;  // a terminal key: the rest within the time-out
constexpr int KBD_MAP = 2;       // a keyboard-map sequence: no time-out

// One node of the key-sequence tree.  Node 0 is the root; its alt is the
// first node of the first level.  The siblings of a level ascend by ichar.
struct ctrl_key {
  int16_t alt;    // next sibling on the same level; 0 = none
  int16_t succ;   // 0 nothing yet; > 0 first node of the next level;
                  // top bit set: a leaf, the low 15 bits the key code
  uint8_t ichar;  // the byte matched; 0x80 also matches the zero byte
};

// The keyboard's state.
struct kbd_data {
  ctrl_key *ctrl_keys;            // the tree, null until the first sequence
  int ctrl_keys_used;             // nodes in use (the root counts)
  int ctrl_keys_max;              // nodes allocated
  uint8_t seq_type[256];          // sequence type started by each byte, 0 none
  int esc_timeout = 1;            // tenths of a second for the rest of a sequence
  char esc_key[KBD_SEQ_MAX + 1];  // the escape key's string (k0)

  int state;                      // 0 no sequence under way, else its type
  int level;                      // first node of the level searched next
  uint8_t ctrl_seq[KBD_SEQ_MAX];  // the bytes consumed so far
  int ctrl_cnt;                   // their number
  int ochar;                      // key delivered when a one-byte start times out
  int pending = -1;               // a byte that broke a sequence and begins another, fed
                                  // next; -1 none

  uint16_t kbd_buffer[KBD_RING];  // the type-ahead ring
  int kbd_in, kbd_out;            // next to write, next to read
  int kbd_count;                  // entries pending

  int play_fd = -1, play_slot = 0;  // keystroke playback pipe and its process slot; -1/0 none
  int cap_fd = -1, cap_slot = 0;    // keystroke capture pipe and its process slot; -1/0 none

  void (*old_quit)(int);  // the quit disposition while deferred
  int quit_deferred;      // the quit signal is deferred now
};
extern kbd_data kbd;
// a quit signal arrived while it was deferred (set by defer_it)
extern volatile sig_atomic_t kbd_quit_seen;

// Frees the tree and resets every part of the state (start-up, tests).
void kbd_init();

// Allocates the tree with n zeroed nodes; 0, or -1 without memory.
int alloc_ctrl_keys(int n);
// Shrinks the tree to the nodes used once start-up has entered every key;
// failure ends the process.
void realloc_ctrl_keys();
// Enters a sequence of len bytes for code with sequence type type: 1
// entered, 0 not entered (it exists, collides with a shorter or longer
// one, is empty or longer than KBD_SEQ_MAX bytes), -1 no memory.
int add_fkey(const uint8_t *bytes, int len, int code, int type);
// Enters the terminal's keys from its terminfo entry (the escape key
// after VXESC, the cursor and editing keys, F0-F63, the page, end, insert,
// print and refresh keys); the nodes used, or 0 when memory ran out.
int fill_ctrl_keys();

// Feeds one byte (*data) or, with time_out set, the end of the time-out
// to the recogniser.  0: more bytes needed; 1: a key is complete, its code
// in *data; 2: the sequence broke, its bytes are in the ring (and when
// the breaking byte begins a sequence itself, it is kept back for
// kbd_take_pending, to be fed once the ring is read).
int check_fkey(int timed_out, int *data);
// The byte kept back by a broken sequence, or -1; it is fed before any
// byte read after it.
int kbd_take_pending();

// Reads one key.  mode 0 waits for it; mode 1 returns KBD_NOKEY at once
// when none is ready.  KBD_EPAGER when waiting while the pager owns the
// terminal.  The end of input while waiting, or a read error, ends the
// process with its message.
int get_char(int mode);

// Puts a key into the type-ahead ring (and the capture pipe): 1, or 0
// when KBD_RING keys are pending or code is no key code (refused).
int put_kbd_buf(int code);
// Takes the oldest key from the ring; -1 when it is empty.
int get_kbd_buf();

// Keystroke pipes: keys are read from fd (the read end kept in process
// slot, 0 for none) instead of the terminal until its end; fd -1 ends an
// existing playback, waiting for its command.
void kbd_playback(int fd, int slot);
// Every key delivered is also written to fd (kept in process slot); fd -1
// ends an existing capture, waiting for its command.
void kbd_capture(int fd, int slot);
// Writes one byte to the capture pipe, if any; a failed write ends the
// capture command without waiting.
void capture(int byte);

// The quit signal around a read: while deferred, it is only noted
// (defer_it); restore_quit_signal puts the disposition back and returns 1
// when the signal came meanwhile.
void defer_quit_signal();
int restore_quit_signal();
void defer_it(int sig);
// Forgets a quit signal noted meanwhile (a concurrent run starts).
void kbd_quit_clear();
