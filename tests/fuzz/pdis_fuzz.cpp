// Fuzz target: arbitrary bytes as a program file for the disassembler,
// whose listing is assembled again in process; the listing must always
// give the file back.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tools/asm.h"
#include "tools/dis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  std::string listing = pdis_listing(file, false);
  pasm_output out;
  if (!pasm_assemble(listing, "listing", out) || out.file != file) std::abort();
  return 0;
}
