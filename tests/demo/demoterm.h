// demoterm.h: the demo application as a user meets it, on a terminal.
// Each user has a terminal of its own running the demo's start script
// (examples/demo/quillon-demo) at 80 x 24 with the programs and run of
// this build, a data folder all users share and a fixed date; a test
// types keys and reads the screen.
//
// Two terminals show it: the pseudo-terminal harness (libvterm, TERM=xterm)
// and tmux on a server socket of its own (TERM=tmux-256color).  Both give
// the screen as text with the line-drawing characters as the letters of
// the alternate character set (q across, x down, l k m j the corners, t u
// the joins), so that one expected screen serves both.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

class pty_session;

struct demo_term {
  std::string data;  // the data folder of the demo

  demo_term();           // a new data folder
  virtual ~demo_term();  // removes it

  // starts the demo for user name; extra: more arguments of quillon-demo
  // (settings for run), as the shell reads them
  virtual void start(const std::string &name, const std::string &extra = "") = 0;
  // types text literally
  virtual void type(const std::string &name, const std::string &text) = 0;
  // sends keys by name, separated by blanks: Enter, Tab, Escape, BSpace,
  // Up, Down, F1 to F10, PageUp, PageDown, C-x
  virtual void keys(const std::string &name, const std::string &names) = 0;
  // the rows of the screen (24, without trailing blanks)
  virtual std::vector<std::string> rows(const std::string &name) = 0;
  // waits up to 10 s until the screen holds text; false when it never does
  virtual bool wait_for(const std::string &name, const std::string &text) = 0;
  // waits until the screen no longer changes (the program waits for a key)
  virtual void settle(const std::string &name) = 0;
  // the process that started the demo for user name (run is its child)
  virtual int shell(const std::string &name) = 0;
  // kills user name's run with SIGKILL, as a crash would; false when
  // there is none
  bool crash(const std::string &name);
};

// The pseudo-terminal harness.
struct demo_pty : demo_term {
  std::map<std::string, std::unique_ptr<pty_session>> users;
  ~demo_pty() override;
  void start(const std::string &name, const std::string &extra = "") override;
  void type(const std::string &name, const std::string &text) override;
  void keys(const std::string &name, const std::string &names) override;
  std::vector<std::string> rows(const std::string &name) override;
  bool wait_for(const std::string &name, const std::string &text) override;
  void settle(const std::string &name) override;
  int shell(const std::string &name) override;
  pty_session &user(const std::string &name);
};

// tmux, when the machine has it.
struct demo_tmux : demo_term {
  std::string sock;  // the server's socket
  demo_tmux();
  ~demo_tmux() override;  // ends the server
  static bool available();
  std::string tmux(const std::string &args);  // tmux with these arguments; its output
  void start(const std::string &name, const std::string &extra = "") override;
  void type(const std::string &name, const std::string &text) override;
  void keys(const std::string &name, const std::string &names) override;
  std::vector<std::string> rows(const std::string &name) override;
  bool wait_for(const std::string &name, const std::string &text) override;
  void settle(const std::string &name) override;
  int shell(const std::string &name) override;
};

// The screen as one text, a row a line (for messages).
std::string screen_text(const std::vector<std::string> &rows);
// Runs a shell command; its output, stdout and stderr.
std::string demo_sh(const std::string &cmd, int *status = nullptr);
// The environment of the demo on terminal type term, and its command line
// with data folder data and extra arguments.
std::vector<std::string> demo_env(const std::string &data, const std::string &term);
std::string demo_command(const std::string &data, const std::string &extra);
