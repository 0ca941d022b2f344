// pasm_main.cpp: the pasm program: assembles a p-code source file into a
// program file.  Usage: pasm [-o output] [-I dir]... source; without -o the output is
// the source name without its ".pasm" suffix; -I adds a folder in which
// include files are looked for.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/asm.h"
#include "tools/toolio.h"

int main(int argc, char **argv) {
  std::string out, in;
  std::vector<std::string> dirs;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
      out = argv[++i];
    else if (std::strcmp(argv[i], "-I") == 0 && i + 1 < argc)
      dirs.push_back(argv[++i]);
    else if (in.empty() && argv[i][0] != '-')
      in = argv[i];
    else
      in.clear(), i = argc;
  }
  if (in.empty()) {
    std::fputs("usage: pasm [-o output] [-I dir]... source.pasm\n", stderr);
    return 2;
  }
  if (out.empty()) {
    out = in;
    if (out.size() > 5 && out.compare(out.size() - 5, 5, ".pasm") == 0)
      out.resize(out.size() - 5);
    else
      out += ".p";
  }
  std::string src, err;
  if (!tio_read_file(in, &src, &err)) {
    std::fprintf(stderr, "pasm: %s\n", err.c_str());
    return 1;
  }
  pasm_output res;
  if (!pasm_assemble(src, in, res, dirs)) {
    std::fputs(res.errors.c_str(), stderr);
    return 1;
  }
  if (!tio_write_file(out, res.file, &err)) {
    std::fprintf(stderr, "pasm: %s\n", err.c_str());
    return 1;
  }
  return 0;
}
