// asmrun.cpp: see asmrun.h.
#include "tests/interp/asmrun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "run/base/image.h"
#include "run/loader/zload.h"
#include "tools/asm.h"

asm_program::asm_program() {
  char name[] = "/tmp/interp_program_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) {
    ADD_FAILURE() << "no temporary file";
    return;
  }
  close(fd);
  path = name;
}

asm_program::~asm_program() {
  if (!path.empty()) unlink(path.c_str());
}

bool asm_program::assemble(int pcode, const std::string &body) {
  std::string src = std::string(".pcode ") + (pcode == 130 ? "24" : "16") + "\n.main T\n" + body;
  pasm_output out;
  if (!pasm_assemble(src, "test", out)) {
    ADD_FAILURE() << out.errors << "\n" << src;
    return false;
  }
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(out.file.data(), 1, out.file.size(), f) != out.file.size()) {
    ADD_FAILURE() << "cannot write " << path;
    if (f) std::fclose(f);
    return false;
  }
  return std::fclose(f) == 0;
}

unsigned asm_program::load() {
  EXPECT_EQ(zimage_alloc(300, 1, 0), ZALLOC_OK);
  zl.pcodeVersion = PCODE_NONE;
  int r = zload(path.c_str(), 0, int(path.size()), 0);
  if (r != ZL_OK) {
    ADD_FAILURE() << "load " << r;
    return 0;
  }
  return zp.stkp;
}
