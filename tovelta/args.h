// args.h: the command line of tovelta, its help text and the name the
// emulator stores the file under.
#pragma once

constexpr int TVOPT_BLOCK_DEFAULT = 2048;  // file bytes per data block
constexpr int TVOPT_BLOCK_MAX = 16384;     // largest block size -b accepts

struct tvopt_options {
  bool text;             // -t: a LF not preceded by CR goes out as CR LF
  unsigned ack;          // -a: non-zero asks for a reply line after each block
  int block;             // -b: file bytes per data block, 1..TVOPT_BLOCK_MAX
  char intro;            // second byte of every escape sequence: '[', or '%' (-H)
  const char *unixname;  // the file to send
  const char *pcname;    // the name the emulator stores it under
};

// Parses the options and operands into *o.  Returns -1 when the transfer
// goes on, otherwise the exit status (the messages are already printed).
int tvopt_parse(int argc, char **argv, tvopt_options *o);

// The PC file name taken from a Unix file name: the part after the last
// '/', or the whole name when there is no '/' or nothing follows it.
const char *tvopt_pcname(const char *unixname);

// Prints the help text on standard output.
void tvopt_help();
