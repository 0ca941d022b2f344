// pty.h: the process harness of the tests.  Starts a program on the slave
// side of a real pseudo-terminal with a chosen environment, arguments and
// current directory, types keys into it, collects every byte it writes and
// feeds them to a terminal emulator (libvterm), so that tests can look at
// the cells of the screen, the cursor, the terminal modes of the line and
// the exit status.
#pragma once

#include <sys/types.h>
#include <termios.h>
#include <functional>
#include <string>
#include <vector>

struct VTerm;
struct VTermScreen;

struct pty_options {
  std::vector<std::string> argv;  // argv[0] is the program to execute
  std::vector<std::string> env;   // the whole environment of the child
  std::string cwd;                // current directory; empty: the test's
  int rows = 24;                  // screen size
  int cols = 80;
  bool ignore_sigint = false;             // start the child with SIGINT ignored
  const struct termios *modes = nullptr;  // initial line modes, else defaults
};

struct pty_cell {
  std::string text;  // the character (UTF-8), " " for an empty cell
  bool bold, underline, reverse, blink;
};

class pty_session {
 public:
  pty_session();
  ~pty_session();
  pty_session(const pty_session &) = delete;
  pty_session &operator=(const pty_session &) = delete;

  // Starts the program; false (with errno) when it cannot.
  bool start(const pty_options &opt);
  // Types bytes into the terminal.
  void type(const std::string &keys);
  // Collects output until it contains text or ms pass; true when found.
  bool wait_for(const std::string &text, int ms);
  // Collects output for ms milliseconds.
  void drain(int ms);
  // Collects output until none arrives for ms milliseconds.
  void settle(int ms);
  // Waits up to ms for the child to end; true with its wait status.
  bool wait_exit(int ms, int *status);
  // Sends a signal to the child.
  void signal(int sig);

  const std::string &output() const { return out_; }  // every byte written
  // the bytes sent to the terminal's printer port, which it does not show
  const std::string &printed() const { return printed_; }
  std::string row(int r);  // text of one row
  pty_cell cell(int r, int c);
  void cursor(int *r, int *c);
  // The line's current modes (as the child set them).
  struct termios modes();
  pid_t pid() const { return pid_; }

  // The screen as a transcript: every line that scrolled off the top of the
  // emulated terminal, then the rows of the screen, numbered from 0.
  int line_count();         // lines of the transcript
  std::string line(int n);  // one line, trailing blanks trimmed
  int cursor_line();        // the transcript line of the cursor
  // Lines from..to (inclusive; to < 0: to the last row), each followed by
  // "\r\n" as a program would have written it.
  std::string transcript(int from = 0, int to = -1);
  // Collects output until pred holds or ms pass; true when it held.
  bool wait_until(const std::function<bool()> &pred, int ms);
  // Collects output until the transcript contains text.
  bool wait_screen(const std::string &text, int ms);
  // Collects output until the cursor stands right after a prompt: the
  // cursor's row holds exactly prompt, the cursor after it, on a transcript
  // line from line `from` on.
  bool wait_prompt(const std::string &prompt, int from, int ms);

 private:
  bool read_some(int ms);                // one read with a time-out; false at time-out/EOF
  void feed(const char *buf, size_t n);  // to the screen or the printer port

  pid_t pid_ = -1;   // the child, -1 when none or reaped
  int master_ = -1;  // master side of the pty
  int status_ = 0;   // wait status once reaped
  bool reaped_ = false;
  std::string out_;        // everything the child wrote
  std::string printed_;    // what went to the printer port
  std::string seq_;        // a possible start or end of transparent printing
  bool printing_ = false;  // between transparent printing on and off
  VTerm *vt_ = nullptr;
  VTermScreen *screen_ = nullptr;
  std::vector<std::string> scrolled_;  // lines pushed off the top
  // libvterm pushes a line off the top (cells are its VTermScreenCell array)
  static int push_line(int cols, const void *cells, void *user);
};

// The directory of the build (QUILLON_BUILD, set by the test runner).
std::string build_dir();
// An environment for run: TERM and PATH and the given assignments.
std::vector<std::string> base_env(const std::vector<std::string> &more = {});
