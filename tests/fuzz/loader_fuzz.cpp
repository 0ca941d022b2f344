// Fuzz target: arbitrary bytes as a program file for the loader.  The
// first byte picks the settings (address compatibility, debug mode, common
// size); the rest is the file, handed over through a memory file so every
// run goes through the loader's own open and buffered reads.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/loader/debuginfo.h"
#include "run/loader/zload.h"

static int memfd = -1;
static std::string path;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (memfd < 0) {
    memfd = memfd_create("program", 0);
    if (memfd < 0) return 0;
    path = "/proc/self/fd/" + std::to_string(memfd);
    std::fclose(stdout);  // the "bound=" line is not wanted here
  }
  if (size == 0) return 0;
  uint8_t sel = data[0];
  if (ftruncate(memfd, 0) != 0 || pwrite(memfd, data + 1, size - 1, 0) != ssize_t(size - 1))
    return 0;
  unsigned m = sel & 0x40 ? 1000 : 120;
  if (!zm.zu || zm.size != m * 256 + 256 * (1 + (sel & 3)) + 202) {
    if (zimage_alloc(m, 1 + (sel & 3), 200) != ZALLOC_OK) return 0;
  }
  zrceq = 1 + (sel & 3);
  vx_compat = sel & 4 ? 1 : 0;
  debugging = sel & 8 ? 1 : 0;
  zl.pcodeVersion = PCODE_NONE;
  zload(path.c_str(), 0, int(path.size()), 0);
  cleanupd();
  return 0;
}
