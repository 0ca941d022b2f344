// The key-sequence tree, the recogniser, the type-ahead ring and the key
// reader over pipes: which sequences are entered, how bytes become keys
// (complete, timed out, broken), the ring's limit, and the keystroke pipes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#include <string>
#include <vector>

#include "run/process/proc.h"
#include "run/terminal/keys.h"
#include "run/terminal/kmap.h"
#include "run/terminal/lp.h"

namespace {

const uint8_t *bytes(const char *s) {
  return reinterpret_cast<const uint8_t *>(s);
}

int add(const std::string &s, int code, int type = KBD_TERMINAL) {
  return add_fkey(bytes(s.data()), int(s.size()), code, type);
}

// Feeds bytes one at a time; the results of check_fkey and the last key.
std::vector<int> feed(const std::string &s, int *key) {
  std::vector<int> r;
  for (unsigned char c : s) {
    int d = c;
    r.push_back(check_fkey(0, &d));
    if (r.back() == 1) *key = d;
  }
  return r;
}

std::vector<int> drain_ring() {
  std::vector<int> keys;
  for (int k; (k = get_kbd_buf()) >= 0;) keys.push_back(k);
  return keys;
}

// Standard input replaced by a pipe holding keys (closed at its end unless
// keep_open), for the reader's tests.
struct stdin_pipe {
  int saved = dup(0);
  int writer = -1;
  explicit stdin_pipe(const std::string &keys, bool keep_open = false) {
    int p[2];
    EXPECT_EQ(pipe(p), 0);
    EXPECT_EQ(write(p[1], keys.data(), keys.size()), ssize_t(keys.size()));
    dup2(p[0], 0);
    close(p[0]);
    if (keep_open)
      writer = p[1];
    else
      close(p[1]);
  }
  ~stdin_pipe() {
    dup2(saved, 0);
    close(saved);
    if (writer >= 0) close(writer);
  }
};

struct keys : ::testing::Test {
  void SetUp() override {
    kbd_init();
    kmap_init();
    proc_init();
  }
  void TearDown() override { kbd_init(); }
};

TEST_F(keys, which_sequences_are_entered) {
  EXPECT_EQ(add("\x1bOA", 0x0B), 1);
  EXPECT_EQ(add("\x1bOA", 0x0C), 0);     // exists: the first entry wins
  EXPECT_EQ(add("\x1bO", 0x1001), 0);    // prefix of a longer one
  EXPECT_EQ(add("\x1bOAB", 0x1002), 0);  // a shorter one owns its prefix
  EXPECT_EQ(add("", 0x1003), 0);
  EXPECT_EQ(add("0123456789", 0x1004), 1);   // ten bytes fit
  EXPECT_EQ(add("abcdefghijk", 0x1005), 0);  // eleven never do
  // a one-byte key standing for itself gives way to a longer sequence,
  // one with another code does not
  EXPECT_EQ(add("x", 'x'), 1);
  EXPECT_EQ(add("xy", 0x1006), 1);
  EXPECT_EQ(add("z", 'A'), 1);
  EXPECT_EQ(add("zy", 0x1007), 0);
  int key = 0;
  EXPECT_EQ(feed("xy", &key), (std::vector<int>{0, 1}));
  EXPECT_EQ(key, 0x1006);
  EXPECT_EQ(feed("z", &key), (std::vector<int>{1}));
  EXPECT_EQ(key, 'A');
  // the marks of the first bytes; a first byte 0x80 stands for zero
  EXPECT_EQ(add("\x80q", 0x1008, KBD_MAP), 1);
  EXPECT_EQ(kbd.seq_type[0x1b], KBD_TERMINAL);
  EXPECT_EQ(kbd.seq_type[0], KBD_MAP);
  EXPECT_EQ(kbd.seq_type[0x80], 0);
  EXPECT_EQ(kbd.seq_type[size_t('y')], 0);
}

TEST_F(keys, levels_stay_sorted_and_the_tree_grows_and_shrinks) {
  for (int i = 0; i < 200; i++) {
    char s[3] = {char(0x30 + (i * 37) % 200), char(0x30 + i % 7), 0};
    ASSERT_GE(add(s, 0x1000 + i), 0);
  }
  EXPECT_GT(kbd.ctrl_keys_max, 256);
  realloc_ctrl_keys();
  EXPECT_EQ(kbd.ctrl_keys_max, kbd.ctrl_keys_used);
  int last = -1, count = 0;
  for (int i = kbd.ctrl_keys[0].alt; i; i = kbd.ctrl_keys[i].alt, count++) {
    EXPECT_GT(kbd.ctrl_keys[i].ichar, last);
    last = kbd.ctrl_keys[i].ichar;
  }
  EXPECT_EQ(count, 200);
  for (int i = 0; i < 200; i++) {
    char s[3] = {char(0x30 + (i * 37) % 200), char(0x30 + i % 7), 0};
    if (s[0] == char(0x80)) s[0] = 0;  // typed as the zero byte
    int key = 0;
    EXPECT_EQ(feed(std::string(s, 2), &key), (std::vector<int>{0, 1})) << i;
    EXPECT_EQ(key, 0x1000 + i);
  }
}

TEST_F(keys, bytes_become_keys_in_order) {
  ASSERT_EQ(add("\x1bOA", 0x0B), 1);
  ASSERT_EQ(add("\x1b[11~", 0x1001), 1);
  ASSERT_EQ(add("\x80\x41", 0x1002), 1);
  table_in['['] = '{';
  table_in['x'] = 'X';
  int key = 0;
  EXPECT_EQ(feed("\x1bOA", &key), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(key, 0x0B);
  EXPECT_EQ(feed("q", &key), (std::vector<int>{1}));  // starts nothing
  EXPECT_EQ(key, 'q');
  EXPECT_EQ(feed(std::string("\0A", 2), &key), (std::vector<int>{0, 1}));  // 0x80 matches 0
  EXPECT_EQ(key, 0x1002);
  // a lone first byte times out as itself
  EXPECT_EQ(feed("\x1b", &key), (std::vector<int>{0}));
  EXPECT_EQ(check_fkey(1, &key), 1);
  EXPECT_EQ(key, 0x1b);
  // more bytes time out into the ring, in order, through the input map
  EXPECT_EQ(feed("\x1b[1", &key), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(check_fkey(1, &key), 2);
  EXPECT_EQ(drain_ring(), (std::vector<int>{0x1b, '{', '1'}));
  // a byte that continues nothing breaks the sequence
  EXPECT_EQ(feed("\x1b[x", &key), (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(drain_ring(), (std::vector<int>{0x1b, '{', 'X'}));
  // one that starts a sequence itself is kept back to begin it anew
  EXPECT_EQ(feed("\x1bO\x1b", &key), (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(drain_ring(), (std::vector<int>{0x1b, 'O'}));
  int again = kbd_take_pending();
  EXPECT_EQ(again, 0x1b);
  EXPECT_EQ(kbd_take_pending(), -1);
  EXPECT_EQ(feed(std::string(1, char(again)) + "OA", &key), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(key, 0x0B);
  EXPECT_EQ(kbd.state, 0);
}

TEST_F(keys, the_ring_refuses_past_fifty_and_overwrites_nothing) {
  for (int i = 0; i < 3; i++) put_kbd_buf(i), get_kbd_buf();  // wrap around
  for (int i = 0; i < KBD_RING; i++) ASSERT_EQ(put_kbd_buf(0x100 + i), 1) << i;
  EXPECT_EQ(put_kbd_buf('z'), 0);
  EXPECT_EQ(put_kbd_buf(-5), 0);
  std::vector<int> got = drain_ring();
  ASSERT_EQ(got.size(), size_t(KBD_RING));
  for (int i = 0; i < KBD_RING; i++) EXPECT_EQ(got[size_t(i)], 0x100 + i);
  EXPECT_EQ(put_kbd_buf(0x10000), 0);
  EXPECT_EQ(get_kbd_buf(), -1);
}

TEST_F(keys, capture_records_keys_and_stops_when_its_pipe_breaks) {
  std::signal(SIGPIPE, SIG_IGN);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  kbd_capture(p[1], 0);
  put_kbd_buf('a');
  put_kbd_buf(KBD_F0 + 1);
  char buf[8];
  ASSERT_EQ(read(p[0], buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "a\xff\x01");
  close(p[0]);
  put_kbd_buf('b');  // the write fails: capture ends
  EXPECT_EQ(kbd.cap_fd, -1);
  EXPECT_EQ(drain_ring(), (std::vector<int>{'a', KBD_F0 + 1, 'b'}));
}

TEST_F(keys, playback_gives_raw_bytes_then_the_keyboard_again) {
  ASSERT_EQ(add("\x1bOA", 0x0B), 1);
  table_in['a'] = 'A';
  int s = forkpipe('1');
  if (s == 0) {
    ssize_t w = write(1, "a\x1bOA", 4);
    _exit(w == 4 ? 0 : 1);
  }
  ASSERT_GT(s, 0);
  kbd_playback(proc_tab.zmfd[s - 1][0], s);
  stdin_pipe in("a");
  EXPECT_EQ(get_char(1), KBD_NOKEY);  // playback is read only when waiting
  std::vector<int> got;
  for (int i = 0; i < 5; i++) got.push_back(get_char(0));
  // no sequences and no input map from the pipe; then the keyboard
  EXPECT_EQ(got, (std::vector<int>{'a', 0x1b, 'O', 'A', 'A'}));
  EXPECT_EQ(kbd.play_fd, -1);
  EXPECT_EQ(proc_tab.zmmd[s - 1], 0);  // its command collected
}

TEST_F(keys, reader_over_a_pipe) {
  ASSERT_EQ(add("\x1bOA", 0x0B), 1);
  ASSERT_EQ(add("\x1b[99~", KBD_REFRESH), 1);
  ASSERT_EQ(add("\x1bOP", KBD_FKEY + 1), 1);
  ASSERT_EQ(add("\x1b[6~", KBD_FKEY + 0x81), 1);
  {
    stdin_pipe in("\x1b[99~a\x1bOP\x1b[6~\x1bOAb", true);
    EXPECT_EQ(get_char(0), 'a');  // the refresh key is never seen
    EXPECT_EQ(get_char(0), KBD_F0 + 1);
    EXPECT_EQ(get_char(0), KBD_NPAGE);
    EXPECT_EQ(get_char(0), 0x0B);
    EXPECT_EQ(get_char(1), 'b');
    EXPECT_EQ(get_char(1), KBD_NOKEY);
    EXPECT_EQ(fcntl(0, F_GETFL) & O_NONBLOCK, 0);
    // a lone escape arrives after the time-out
    ASSERT_EQ(write(in.writer, "\x1b", 1), 1);
    EXPECT_EQ(get_char(1), 0x1b);
    ASSERT_EQ(write(in.writer, "\x1b[", 2), 2);
    EXPECT_EQ(get_char(0), 0x1b);
    EXPECT_EQ(get_char(0), '[');
  }
  zprlck = 1, zrrmp = 3;  // the printer runs through the pager
  EXPECT_EQ(get_char(0), KBD_EPAGER);
  EXPECT_EQ(get_char(1), KBD_NOKEY);
  zprlck = 0, zrrmp = 0;
  put_kbd_buf('s');  // a stuffed key comes first
  EXPECT_EQ(get_char(1), 's');
}

// A held-down escape key: each escape breaks the sequence the one before
// began.  The ring once took every broken byte while the next sequence
// was read on, and lost them past fifty.
TEST_F(keys, a_long_run_of_escapes_loses_none) {
  ASSERT_EQ(add("\x1bOA", 0x0B), 1);
  stdin_pipe in(std::string(120, '\x1b') + "\x1bOAx");
  for (int i = 0; i < 120; i++) ASSERT_EQ(get_char(0), 0x1b) << i;
  EXPECT_EQ(get_char(0), 0x0B);
  EXPECT_EQ(get_char(0), 'x');
}

TEST_F(keys, end_of_input_while_waiting_ends_the_process) {
  EXPECT_EXIT(
      {
        stdin_pipe in("");
        get_char(0);
      },
      ::testing::ExitedWithCode(255), "");
  stdin_pipe in("");
  EXPECT_EQ(get_char(1), KBD_NOKEY);  // not waiting: only no key
}

}  // namespace
