// Fuzz target of the keyboard-map reader: arbitrary bytes as the VXMAP
// file.  After every file the output strings must be a closed, consistent
// list that agrees with the output table, and the key-sequence tree must
// link only to nodes in use; the sanitizers watch every read of the
// reader's buffers.  The bytes are also read as one line of values.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/base/zsmsg.h"
#include "run/terminal/keys.h"
#include "run/terminal/kmap.h"

namespace {

int memfd = -1;
std::string path;

void check_strings() {
  if (!tab_out_2) {
    if (tab_out_3 || tab_out_4) std::abort();
    return;
  }
  if (!tab_out_3) std::abort();
  unsigned n = 0;
  bool seen[256] = {};
  for (; tab_out_2[n]; n++) {
    int c = tab_out_2[n];
    if (seen[c] || table_out_p[c] != 0 || tab_out_3[n + 1] < tab_out_3[n]) std::abort();
    seen[c] = true;
    const uint8_t *b;
    int len = kmap_outstr(c, &b);
    if (len != tab_out_3[n + 1] - tab_out_3[n] || b != tab_out_4 + tab_out_3[n]) std::abort();
    for (int k = 0; k < len; k++) (void)*(volatile const uint8_t *)(b + k);
  }
  if (tab_out_3[0] != 0 && n > 0) std::abort();
}

void check_tree() {
  for (int i = 0; i < kbd.ctrl_keys_used; i++) {
    const ctrl_key &k = kbd.ctrl_keys[i];
    if (k.alt < 0 || k.alt >= kbd.ctrl_keys_used) std::abort();
    if (k.succ > 0 && k.succ >= kbd.ctrl_keys_used) std::abort();
  }
}

void check_values(const uint8_t *data, size_t size) {
  std::string line(reinterpret_cast<const char *>(data), size);
  const char *p = line.c_str(), *end = p + std::strlen(p);
  while (*p) {
    int v = read_value(&p);
    if (v < -1 || v > 255 || p > end) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (memfd < 0) {
    memfd = memfd_create("vxmap", 0);
    if (memfd < 0) return 0;
    path = "/proc/self/fd/" + std::to_string(memfd);
    zsmsg_screen = [](const char *) {};
  }
  if (ftruncate(memfd, 0) != 0 || pwrite(memfd, data, size, 0) != ssize_t(size)) return 0;
  kbd_init();
  kmap_init();
  readmap(path.c_str());
  check_strings();
  check_tree();
  check_values(data, size);
  return 0;
}
