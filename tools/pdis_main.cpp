// pdis_main.cpp: the pdis program: lists a program file as assembler text.
// Usage: pdis [-r] file; -r lists the raw records only.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/dis.h"
#include "tools/toolio.h"

int main(int argc, char **argv) {
  bool raw = false;
  std::string in;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "-r") == 0)
      raw = true;
    else if (in.empty())
      in = argv[i];
    else
      in.clear(), i = argc;
  }
  if (in.empty()) {
    std::fputs("usage: pdis [-r] program-file\n", stderr);
    return 2;
  }
  std::string data, err;
  if (!tio_read_file(in, &data, &err)) {
    std::fprintf(stderr, "pdis: %s\n", err.c_str());
    return 1;
  }
  std::string l = pdis_listing(std::vector<uint8_t>(data.begin(), data.end()), raw);
  if (std::fwrite(l.data(), 1, l.size(), stdout) != l.size() || std::fflush(stdout) != 0) {
    std::perror("pdis");
    return 1;
  }
  return 0;
}
