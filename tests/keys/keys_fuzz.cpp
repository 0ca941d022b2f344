// Fuzz target of the key recogniser: a random key table (sequences of 1 to
// 12 bytes, terminal or map type, some one-byte keys standing for
// themselves) and a random input map, then a random byte stream with
// time-outs.  Every byte fed must come out again, in order: as part of a
// recognised key, as an ordinary key, or through the ring after a broken
// or timed-out sequence.  The sanitizers watch the tree walks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "run/terminal/keys.h"
#include "run/terminal/kmap.h"

namespace {

struct reader {
  const uint8_t *p;
  size_t n;
  int next() {
    if (!n) return -1;
    n--;
    return *p++;
  }
};

// the zero byte is typed for a sequence byte 0x80
uint8_t norm(int b) {
  return b == 0 ? 0x80 : uint8_t(b);
}

void check_tree() {
  for (int i = 0; i < kbd.ctrl_keys_used; i++) {
    const ctrl_key &k = kbd.ctrl_keys[i];
    if (k.alt < 0 || k.alt >= kbd.ctrl_keys_used) std::abort();
    if (k.succ > 0 && k.succ >= kbd.ctrl_keys_used) std::abort();
    if (i > 0 && k.alt && kbd.ctrl_keys[k.alt].ichar <= k.ichar) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  reader r = {data, size};
  kbd_init();
  kmap_init();
  int x = r.next();
  uint8_t mask = uint8_t(x < 0 ? 0 : x);  // the input map: byte ^ mask
  for (int b = 0; b < 256; b++) table_in[size_t(b)] = uint8_t(b ^ mask);

  std::vector<std::vector<uint8_t>> seq;  // entered sequences by code - KBD_FKEY
  int count = r.next();
  for (int k = 0; k < (count < 0 ? 0 : count % 40); k++) {
    int head = r.next();
    if (head < 0) break;
    int len = 1 + head % 12;
    std::vector<uint8_t> s;
    for (int i = 0; i < len; i++) {
      int b = r.next();
      if (b < 0) break;
      s.push_back(uint8_t(b ? b : 1));
    }
    if (s.empty()) break;
    bool self = len == 1 && (head & 0x40);
    int code = self ? s[0] : KBD_FKEY + int(seq.size());
    int type = head & 0x80 ? KBD_MAP : KBD_TERMINAL;
    int res = add_fkey(s.data(), int(s.size()), code, type);
    if (res < 0) std::abort();  // a few hundred nodes always fit
    if (s.size() > KBD_SEQ_MAX && res != 0) std::abort();
    if (!self) seq.push_back(res == 1 ? s : std::vector<uint8_t>{});
  }
  check_tree();

  std::vector<uint8_t> in, out;
  auto ring_out = [&] {
    for (int k; (k = get_kbd_buf()) >= 0;) out.push_back(norm(k ^ mask));
  };
  auto key_out = [&](int key) {
    if (key >= KBD_FKEY) {
      size_t i = size_t(key - KBD_FKEY);
      if (i >= seq.size() || seq[i].empty()) std::abort();  // a code never entered
      for (uint8_t b : seq[i]) out.push_back(norm(b));
    } else {
      out.push_back(norm(key));
    }
  };
  for (;;) {
    int ctl = r.next(), b = r.next();
    if (ctl < 0 || b < 0) break;
    int d, res, kept = kbd_take_pending();
    if (kept >= 0) {  // a byte kept back by a broken sequence goes first
      d = kept;
      res = check_fkey(0, &d);
      r.p -= 2, r.n += 2;
    } else if ((ctl & 3) == 0 && kbd.state != 0) {
      res = check_fkey(1, &d);
    } else {
      in.push_back(norm(b));
      d = b;
      res = check_fkey(0, &d);
    }
    if (kbd.ctrl_cnt > KBD_SEQ_MAX) std::abort();
    if (res == 1) {
      ring_out();  // the ring's bytes were there before the key
      key_out(d);
    } else if (res == 2) {
      ring_out();
    } else if (res != 0) {
      std::abort();
    }
  }
  for (;;) {  // the end of the stream: time-outs and kept-back bytes
    int d = kbd_take_pending(), res;
    if (d >= 0)
      res = check_fkey(0, &d);
    else if (kbd.state != 0)
      res = check_fkey(1, &d);
    else
      break;
    ring_out();
    if (res == 1) key_out(d);
  }
  if (in != out) std::abort();  // a byte lost, added or moved
  kbd_init();
  return 0;
}
