// drive.cpp: scdriver in the pseudo-terminal harness, and the test entries.
#include "tests/terminal/drive.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

static const char test_entries[] =
    "qcookie|cookie terminal for the tests,\n"
    "\tam, xenl, cols#80, lines#24, xmc#1,\n"
    "\tclear=\\E[H\\E[2J, cr=\\r, cup=\\E[%i%p1%d;%p2%dH, el=\\E[K, ed=\\E[J,\n"
    "\thpa=\\E[%i%p1%dG, vpa=\\E[%i%p1%dd, ind=\\n, il1=\\E[L, dl1=\\E[M,\n"
    "\tsmso=\\E[7m, rmso=\\E[m, smul=\\E[4m, rmul=\\E[m,\n"
    "\tsgr=\\E[0%?%p1%p3%|%t;7%;%?%p2%t;4%;%?%p4%t;5%;m,\n"
    "\tsgr0=\\E[m,\n"
    "qnoxenl|automatic margins without the newline glitch,\n"
    "\txenl@, use=xterm-256color,\n"
    "qplain|no attributes and no line drawing,\n"
    "\tam, xenl, cols#80, lines#24, clear=\\E[H\\E[2J, cr=\\r, cup=\\E[%i%p1%d;%p2%dH,\n"
    "\tel=\\E[K, ind=\\n,\n"
    "qhuge|attribute sequences too long for the string block,\n"
    "\tam, cols#80, lines#24, cup=\\E[%i%p1%d;%p2%dH,\n"
    "\tsgr=\\E[0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0m,\n";

std::string test_terminfo() {
  static std::string dir;
  if (!dir.empty()) return dir;
  std::string d = "/tmp/quillon-ti-" + std::to_string(getpid());
  mkdir(d.c_str(), 0755);
  std::string src = d + "/entries.ti";
  FILE *f = std::fopen(src.c_str(), "w");
  if (!f) return "";
  std::fputs(test_entries, f);
  std::fclose(f);
  std::string cmd = "tic -x -o " + d + " " + src + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return "";
  dir = d;
  return dir;
}

std::string esc(std::initializer_list<int> bytes) {
  std::string s = "\x1b";
  for (int b : bytes) s += char(b);
  return s;
}

screen_driver::~screen_driver() {
  if (ack >= 0) close(ack);
}

bool screen_driver::start(const std::string &term, std::vector<std::string> env, int rows,
                          int cols) {
  int p[2];
  if (pipe(p) < 0) return false;
  ack = p[0];
  pty_options o;
  o.argv = {build_dir() + "/bin/scdriver"};
  env.push_back("TERM=" + term);
  env.push_back("SCDRIVER_ACK=" + std::to_string(p[1]));
  env.push_back("TERMINFO=" + test_terminfo());
  o.env = base_env(env);
  o.rows = rows;
  o.cols = cols;
  bool ok = s.start(o);
  close(p[1]);
  if (!ok || reply() != "ready") return false;
  s.settle(20);
  return true;
}

std::string screen_driver::reply() {
  std::string line;
  for (;;) {
    struct pollfd pf = {ack, POLLIN, 0};
    if (poll(&pf, 1, 5000) <= 0) return line;
    char c;
    ssize_t r = read(ack, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || c == '\n') return line;
    line += c;
  }
}

static std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string h;
  for (unsigned char c : bytes) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

std::string screen_driver::write(const std::string &bytes) {
  size_t from = s.output().size();
  s.type("w " + hex(bytes) + "\r");
  reply();
  s.settle(20);
  return s.output().substr(from);
}

std::string screen_driver::flush(int n) {
  size_t from = s.output().size();
  s.type("f " + std::to_string(n) + "\r");
  reply();
  s.settle(20);
  return s.output().substr(from);
}

std::string screen_driver::show(const std::string &bytes) {
  std::string a = write(bytes);
  return a + flush(1);
}

std::string screen_driver::image() {
  s.type("c\r");
  std::string text;
  for (std::string line = reply(); line != "end" && !line.empty(); line = reply())
    text += line + "\n";
  return text;
}

int screen_driver::quit() {
  s.type("q\r");
  reply();
  int st = 0;
  if (!s.wait_exit(5000, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
