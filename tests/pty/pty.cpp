// pty.cpp: the pseudo-terminal harness of the tests.
#include "tests/pty/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

pty_session::pty_session() {}

pty_session::~pty_session() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
  if (vt_) vterm_free(vt_);
}

// the text of a cell's characters as UTF-8; "" for an empty cell
static std::string cell_text(const VTermScreenCell &vc) {
  std::string out;
  for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && vc.chars[i]; i++) {
    char buf[8];
    size_t n = 0;
    uint32_t ch = vc.chars[i];
    if (ch < 0x80)
      buf[n++] = char(ch);
    else if (ch < 0x800) {
      buf[n++] = char(0xC0 | (ch >> 6));
      buf[n++] = char(0x80 | (ch & 0x3F));
    } else {
      buf[n++] = char(0xE0 | (ch >> 12));
      buf[n++] = char(0x80 | ((ch >> 6) & 0x3F));
      buf[n++] = char(0x80 | (ch & 0x3F));
    }
    out.append(buf, n);
  }
  return out;
}

static void trim_right(std::string &s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

int pty_session::push_line(int cols, const void *line, void *user) {
  auto *self = static_cast<pty_session *>(user);
  auto *cells = static_cast<const VTermScreenCell *>(line);
  std::string s;
  for (int c = 0; c < cols; c++) {
    std::string t = cell_text(cells[c]);
    s += t.empty() ? " " : t;
  }
  trim_right(s);
  self->scrolled_.push_back(s);
  return 1;
}

bool pty_session::start(const pty_options &opt) {
  struct winsize ws = {};
  ws.ws_row = (unsigned short)opt.rows;
  ws.ws_col = (unsigned short)opt.cols;
  vt_ = vterm_new(opt.rows, opt.cols);
  vterm_set_utf8(vt_, 0);
  screen_ = vterm_obtain_screen(vt_);
  static const VTermScreenCallbacks callbacks = {
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      [](int cols, const VTermScreenCell *cells, void *user) {
        return pty_session::push_line(cols, cells, user);
      },
      nullptr};
  vterm_screen_set_callbacks(screen_, &callbacks, this);
  vterm_screen_reset(screen_, 1);

  std::vector<char *> args, envs;
  for (auto &a : opt.argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (auto &e : opt.env) envs.push_back(const_cast<char *>(e.c_str()));
  envs.push_back(nullptr);

  pid_ = forkpty(&master_, nullptr, const_cast<struct termios *>(opt.modes), &ws);
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) < 0) _exit(126);
    std::signal(SIGINT, opt.ignore_sigint ? SIG_IGN : SIG_DFL);
    execve(args[0], args.data(), envs.data());
    _exit(127);
  }
  return true;
}

bool pty_session::read_some(int ms) {
  struct pollfd p = {master_, POLLIN, 0};
  int r = poll(&p, 1, ms);
  if (r <= 0) return false;
  char buf[4096];
  ssize_t n = read(master_, buf, sizeof buf);
  if (n <= 0) return false;  // EIO once the child closed the slave
  out_.append(buf, size_t(n));
  feed(buf, size_t(n));
  return true;
}

// The terminal's printer port: bytes between transparent printing on
// (ESC [ 5 i) and off (ESC [ 4 i) go to the printer, not to the screen.
void pty_session::feed(const char *buf, size_t n) {
  static const std::string on = "\x1b[5i", off = "\x1b[4i";
  std::string screen;
  for (size_t i = 0; i < n; i++) {
    const std::string &want = printing_ ? off : on;
    seq_ += buf[i];
    if (want.compare(0, seq_.size(), seq_) == 0) {
      if (seq_.size() < want.size()) continue;
      printing_ = !printing_;
      seq_.clear();
      continue;
    }
    // not the sequence after all: its bytes go on, the last one may start it
    std::string done = seq_.substr(0, seq_.size() - 1);
    (printing_ ? printed_ : screen) += done;
    seq_ = seq_.substr(seq_.size() - 1);
    if (want.compare(0, 1, seq_) != 0) {
      (printing_ ? printed_ : screen) += seq_;
      seq_.clear();
    }
  }
  if (!screen.empty()) vterm_input_write(vt_, screen.data(), screen.size());
}

void pty_session::type(const std::string &keys) {
  size_t off = 0;
  while (off < keys.size()) {
    ssize_t w = write(master_, keys.data() + off, keys.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    off += size_t(w);
  }
}

using clk = std::chrono::steady_clock;

static int left_ms(clk::time_point end) {
  auto d = std::chrono::duration_cast<std::chrono::milliseconds>(end - clk::now()).count();
  return d > 0 ? int(d) : 0;
}

bool pty_session::wait_for(const std::string &text, int ms) {
  auto end = clk::now() + std::chrono::milliseconds(ms);
  while (out_.find(text) == std::string::npos) {
    int l = left_ms(end);
    if (l == 0) return false;
    if (!read_some(l < 50 ? l : 50) && reaped_) return false;
    if (!reaped_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
      while (read_some(20)) {
      }
    }
  }
  return true;
}

void pty_session::drain(int ms) {
  auto end = clk::now() + std::chrono::milliseconds(ms);
  while (left_ms(end) > 0) read_some(left_ms(end));
}

void pty_session::settle(int ms) {
  while (read_some(ms)) {
  }
}

bool pty_session::wait_exit(int ms, int *status) {
  auto end = clk::now() + std::chrono::milliseconds(ms);
  while (!reaped_) {
    read_some(20);
    if (waitpid(pid_, &status_, WNOHANG) == pid_)
      reaped_ = true;
    else if (left_ms(end) == 0)
      return false;
  }
  while (read_some(20)) {
  }
  *status = status_;
  return true;
}

void pty_session::signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

std::string pty_session::row(int r) {
  int rows, cols;
  vterm_get_size(vt_, &rows, &cols);
  std::string s;
  for (int c = 0; c < cols; c++) s += cell(r, c).text;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

pty_cell pty_session::cell(int r, int c) {
  VTermScreenCell vc;
  VTermPos pos = {r, c};
  pty_cell out = {" ", false, false, false, false};
  if (!vterm_screen_get_cell(screen_, pos, &vc)) return out;
  if (vc.chars[0]) out.text = cell_text(vc);
  out.bold = vc.attrs.bold;
  out.underline = vc.attrs.underline != 0;
  out.reverse = vc.attrs.reverse;
  out.blink = vc.attrs.blink;
  return out;
}

void pty_session::cursor(int *r, int *c) {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  *r = pos.row;
  *c = pos.col;
}

int pty_session::line_count() {
  int rows, cols;
  vterm_get_size(vt_, &rows, &cols);
  return int(scrolled_.size()) + rows;
}

std::string pty_session::line(int n) {
  if (n < 0) return "";
  if (size_t(n) < scrolled_.size()) return scrolled_[size_t(n)];
  return row(n - int(scrolled_.size()));
}

int pty_session::cursor_line() {
  int r, c;
  cursor(&r, &c);
  return int(scrolled_.size()) + r;
}

std::string pty_session::transcript(int from, int to) {
  if (to < 0) to = line_count() - 1;
  std::string s;
  for (int n = from; n <= to; n++) s += line(n) + "\r\n";
  return s;
}

bool pty_session::wait_until(const std::function<bool()> &pred, int ms) {
  auto end = clk::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    int l = left_ms(end);
    if (l == 0) return false;
    if (!read_some(l < 50 ? l : 50) && reaped_) return pred();
    if (!reaped_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
      while (read_some(20)) {
      }
    }
  }
  return true;
}

bool pty_session::wait_screen(const std::string &text, int ms) {
  return wait_until([&] { return transcript().find(text) != std::string::npos; }, ms);
}

bool pty_session::wait_prompt(const std::string &prompt, int from, int ms) {
  return wait_until(
      [&] {
        int r, c;
        cursor(&r, &c);
        return cursor_line() >= from && c == int(prompt.size()) && row(r) == prompt;
      },
      ms);
}

struct termios pty_session::modes() {
  struct termios t = {};
  tcgetattr(master_, &t);
  return t;
}

std::string build_dir() {
  const char *b = std::getenv("QUILLON_BUILD");
  return b ? b : ".";
}

std::vector<std::string> base_env(const std::vector<std::string> &more) {
  std::vector<std::string> env = {"TERM=xterm", "PATH=/usr/bin:/bin",
                                  "VXDEFAULT=/nonexistent/quillon-defaults"};
  for (auto &m : more) {
    std::string name = m.substr(0, m.find('='));
    bool replaced = false;
    for (auto &e : env)
      if (e.compare(0, name.size() + 1, name + "=") == 0) {
        e = m;
        replaced = true;
      }
    if (!replaced) env.push_back(m);
  }
  return env;
}
