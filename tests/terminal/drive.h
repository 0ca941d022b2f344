// drive.h: the screen tests' view of a terminal: scdriver (the screen as
// run drives it) running in the pseudo-terminal harness, one command at a
// time, with the bytes each command sent to the terminal; and the terminfo
// entries compiled for the tests.
#pragma once

#include <string>
#include <vector>

#include "tests/pty/pty.h"

// The directory holding the test entries (compiled once per process):
//   qcookie  attributes take a cell (magic_cookie_glitch 1)
//   qnoxenl  automatic margins that wrap at once (no eat_newline_glitch)
//   qplain   no attributes, no line-drawing set
//   qhuge    attribute sequences that overflow the string block
std::string test_terminfo();

struct screen_driver {
  pty_session s;
  int ack = -1;  // read end of the answer pipe

  screen_driver() = default;
  ~screen_driver();
  screen_driver(const screen_driver &) = delete;
  screen_driver &operator=(const screen_driver &) = delete;

  // Starts scdriver on terminal type term with extra settings; false when
  // it does not come up.
  bool start(const std::string &term, std::vector<std::string> env = {}, int rows = 24,
             int cols = 80);
  // The next answer line ("" after 5 s without one).
  std::string reply();
  // Sends bytes through zoutnc; returns what reached the terminal meanwhile.
  std::string write(const std::string &bytes);
  // zflush(n); returns what reached the terminal.
  std::string flush(int n = 1);
  // write, then a forced flush; returns both steps' bytes.
  std::string show(const std::string &bytes);
  // The virtual image: "row col" then one line per row.
  std::string image();
  // Ends scdriver through run's exit path; the exit status.
  int quit();
};

// ESC followed by the bytes, as a string (parameter bytes may be 0).
std::string esc(std::initializer_list<int> bytes);
