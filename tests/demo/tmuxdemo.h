// tmuxdemo.h: the demo application in tmux, as a user meets it.  Each
// test starts its own tmux server on a private socket and runs the
// demo's start script (examples/demo/quillon-demo) in sessions of 80 x 24
// with the programs and run of this build, a data folder of its own and a
// fixed date; it types keys and reads the screen as tmux shows it.
#pragma once

#include <string>
#include <vector>

struct demo_tmux {
  std::string sock;  // the server's socket
  std::string data;  // the data folder of the demo

  demo_tmux();   // a new data folder and socket name
  ~demo_tmux();  // ends the server, removes the folder

  // starts the demo in session name; extra: settings for run
  void start(const std::string &name, const std::string &extra = "");
  // tmux with these arguments; its output
  std::string tmux(const std::string &args);
  // types text literally, or sends key names (Enter, F1, Escape, BSpace)
  void type(const std::string &name, const std::string &text);
  void keys(const std::string &name, const std::string &names);
  // the rows of the screen (24, without trailing blanks)
  std::vector<std::string> rows(const std::string &name);
  std::string row(const std::string &name, int r);  // row r, from 1
  // waits up to 10 s until the screen holds text; false when it never does
  bool wait_for(const std::string &name, const std::string &text);
  // waits until the screen no longer changes (the program waits for a key)
  void settle(const std::string &name);
};

// The screen as one text, a row a line (for messages).
std::string screen_text(const std::vector<std::string> &rows);
// Runs a shell command; its output, stdout and stderr.
std::string demo_sh(const std::string &cmd, int *status = nullptr);
