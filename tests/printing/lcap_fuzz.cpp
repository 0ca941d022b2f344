// Fuzz target: arbitrary bytes after a printer entry's header line, or
// after a terminal block's "MAP=", as the defaults file.  The first byte
// picks the mode.  Every input must give messages or a parsed record whose
// offsets all lie inside its pool; the sanitizers catch any access outside
// the parser's buffers.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/config/defaults.h"
#include "run/config/lptab.h"
#include "run/config/settings.h"
#include "run/startup/startup.h"
#include "run/terminal/kmap.h"
#include "run/terminal/lcap.h"

namespace {

int memfd = -1;
std::string path;
char lp1[] = "LP1=x";

void check_item(const lp_info *r, unsigned off) {
  if (!off) return;
  if (off >= unsigned(r->txt_len) || off + 1 + r->txt[off] > unsigned(r->txt_len)) std::abort();
}

void check(const lp_info *r) {
  if (!r->txt || r->txt_len < 2 || r->txt[1] != 0) std::abort();
  if (std::strlen(r->eff_list) != r->eff_cnt) std::abort();
  for (int i = 0; i < LCAP_FIXED + r->eff_cnt; i++) check_item(r, r->eff[i]);
  for (int i = 0; i < r->eff_cnt; i++) check_item(r, lcap_off_text(r, LCAP_FIXED + i));
  for (int c = 0; r->map2 && c < 256; c++) check_item(r, r->map2[c]);
  for (int c = 0; c < 256; c++) (void)r->map1[c];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (memfd < 0) {
    run_hooks();
    memfd = memfd_create("defaults", 0);
    if (memfd < 0) return 0;
    path = "/proc/self/fd/" + std::to_string(memfd);
    lcap_errfd_for_test(open("/dev/null", O_WRONLY));
  }
  if (size == 0) return 0;
  bool terminal = data[0] & 1;
  std::string text = terminal ? "MAP=" : "#x\n";
  text.append(reinterpret_cast<const char *>(data + 1), size - 1);
  if (ftruncate(memfd, 0) != 0 ||
      pwrite(memfd, text.data(), text.size(), 0) != ssize_t(text.size()))
    return 0;
  def_name = path.c_str();
  kmap_init();
  lp_reset();
  lp_max = 4;
  if (lp_alloc() < 0) return 0;
  lp_env[1] = lp1;
  if (!deflt_open()) return 0;
  if (terminal) {
    table_out_p = new uint8_t[257];  // freed by the next kmap_init
    std::memcpy(table_out_p, table_out, 257);
    lcap_init(-1);
  } else {
    deflt_getline();  // the entry's header
    lcap_init(1);
    if (!lp_list[1]) std::abort();
    check(lp_list[1]);
  }
  deflt_close();
  return 0;
}
