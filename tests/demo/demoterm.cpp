// demoterm.cpp: the demo on a terminal (demoterm.h).
#include "tests/demo/demoterm.h"

#include <curses.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <term.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/pty/pty.h"

std::string demo_sh(const std::string &cmd, int *status) {
  std::string out;
  FILE *p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000;
  return out;
}

std::string screen_text(const std::vector<std::string> &rows) {
  std::string s;
  for (const std::string &r : rows) s += r + "\n";
  return s;
}

std::vector<std::string> demo_env(const std::string &data, const std::string &term) {
  std::string b = build_dir();
  return {
      "TERM=" + term,
      "PATH=/usr/bin:/bin",
      "HOME=" + data,
      "VXDTE=12082609300020261208093000",
      "QUILLON_RUN=" + b + "/bin/run",
      "QUILLON_DEMO_PROGRAMS=" + b + "/examples/demo/programs",
      std::string("QUILLON_DEMO_DEFAULTS=") + QUILLON_SOURCE_DIR + "/examples/demo/demo.defaults"};
}

std::string demo_command(const std::string &data, const std::string &extra) {
  return std::string(QUILLON_SOURCE_DIR) + "/examples/demo/quillon-demo -d " + data + " " + extra;
}

demo_term::demo_term() {
  char tmpl[] = "/tmp/quillon-demo-XXXXXX";
  if (mkdtemp(tmpl)) data = tmpl;
}

demo_term::~demo_term() {
  if (!data.empty()) demo_sh("rm -rf " + data);
}

bool demo_term::crash(const std::string &name) {
  int status = -1;
  std::string pid = demo_sh("pgrep -P " + std::to_string(shell(name)) + " -x run", &status);
  if (status != 0 || pid.empty()) return false;
  return kill(pid_t(std::stol(pid)), SIGKILL) == 0;
}

// ---- the pseudo-terminal harness ---------------------------------------------

namespace {

// the bytes xterm's terminfo entry gives a key
std::string xterm_key(const char *cap) {
  int err;
  if (setupterm("xterm", 2, &err) != 0) return "";
  const char *s = tigetstr(cap);
  std::string value = s && s != reinterpret_cast<const char *>(-1) ? s : "";
  del_curterm(cur_term);
  return value;
}

std::string key_bytes(const std::string &name) {
  static const std::map<std::string, std::string> plain = {
      {"Enter", "\r"}, {"Tab", "\t"}, {"Escape", "\x1b"}, {"BSpace", "\x7f"}};
  static const std::map<std::string, const char *> caps = {
      {"Up", "kcuu1"},   {"Down", "kcud1"},   {"Left", "kcub1"}, {"Right", "kcuf1"},
      {"PageUp", "kpp"}, {"PageDown", "knp"}, {"Home", "khome"}, {"F1", "kf1"},
      {"F2", "kf2"},     {"F3", "kf3"},       {"F4", "kf4"},     {"F5", "kf5"},
      {"F6", "kf6"},     {"F7", "kf7"},       {"F8", "kf8"},     {"F9", "kf9"},
      {"F10", "kf10"}};
  if (auto p = plain.find(name); p != plain.end()) return p->second;
  if (auto c = caps.find(name); c != caps.end()) return xterm_key(c->second);
  if (name.size() == 3 && name.compare(0, 2, "C-") == 0)
    return std::string(1, char(name[2] & 0x1f));
  ADD_FAILURE() << "no key named " << name;
  return "";
}

// the line-drawing characters libvterm shows, as the letters that draw
// them in the alternate character set
std::string acs_letters(std::string row) {
  static const std::pair<const char *, char> box[] = {
      {"\u2500", 'q'}, {"\u2502", 'x'}, {"\u250c", 'l'}, {"\u2510", 'k'},
      {"\u2514", 'm'}, {"\u2518", 'j'}, {"\u251c", 't'}, {"\u2524", 'u'},
      {"\u252c", 'w'}, {"\u2534", 'v'}, {"\u253c", 'n'}};
  for (auto &b : box) {
    std::string u = b.first;
    for (size_t at; (at = row.find(u)) != std::string::npos;)
      row.replace(at, u.size(), 1, b.second);
  }
  return row;
}

}  // namespace

demo_pty::~demo_pty() {
  for (auto &u : users) u.second->signal(SIGKILL);
}

pty_session &demo_pty::user(const std::string &name) {
  auto u = users.find(name);
  if (u == users.end()) u = users.emplace(name, std::make_unique<pty_session>()).first;
  return *u->second;
}

void demo_pty::start(const std::string &name, const std::string &extra) {
  pty_options o;
  o.argv = {"/bin/sh", "-c", demo_command(data, extra) + "; st=$?; printf '\\r\\nEXIT=%d\\r\\n' $st"};
  o.env = demo_env(data, "xterm");
  o.cwd = data;
  EXPECT_TRUE(user(name).start(o)) << name;
}

void demo_pty::type(const std::string &name, const std::string &text) {
  user(name).type(text);
}

void demo_pty::keys(const std::string &name, const std::string &names) {
  std::istringstream in(names);
  for (std::string k; in >> k;) {
    user(name).type(key_bytes(k));
    // a lone escape is a key once the time-out of a sequence has passed
    if (k == "Escape") user(name).drain(150);
  }
}

std::vector<std::string> demo_pty::rows(const std::string &name) {
  pty_session &s = user(name);
  s.drain(0);
  std::vector<std::string> r;
  for (int i = 0; i < 24; i++) r.push_back(acs_letters(s.row(i)));
  return r;
}

bool demo_pty::wait_for(const std::string &name, const std::string &text) {
  pty_session &s = user(name);
  return s.wait_until(
      [&] {
        std::string t;
        for (int i = 0; i < 24; i++) t += acs_letters(s.row(i)) + "\n";
        return t.find(text) != std::string::npos;
      },
      10000);
}

void demo_pty::settle(const std::string &name) {
  user(name).settle(120);
}

int demo_pty::shell(const std::string &name) {
  return int(user(name).pid());
}

// ---- tmux ----------------------------------------------------------------------

demo_tmux::demo_tmux() {
  sock = data + ".sock";
}

demo_tmux::~demo_tmux() {
  tmux("kill-server");
  unlink(sock.c_str());
}

bool demo_tmux::available() {
  int status = -1;
  demo_sh("tmux -V", &status);
  return status == 0;
}

std::string demo_tmux::tmux(const std::string &args) {
  return demo_sh("tmux -S " + sock + " -f /dev/null " + args);
}

void demo_tmux::start(const std::string &name, const std::string &extra) {
  std::string env;
  for (const std::string &e : demo_env(data, "tmux-256color")) env += " " + e;
  std::string cmd = "env -i" + env + " " + demo_command(data, extra) + "; st=$?; stty sane; echo; echo EXIT=$st; sleep 600";
  tmux("new-session -d -x 80 -y 24 -s " + name + " '" + cmd + "'");
}

void demo_tmux::type(const std::string &name, const std::string &text) {
  tmux("send-keys -t " + name + " -l '" + text + "'");
}

void demo_tmux::keys(const std::string &name, const std::string &names) {
  tmux("send-keys -t " + name + " " + names);
}

std::vector<std::string> demo_tmux::rows(const std::string &name) {
  std::vector<std::string> r;
  std::string text = tmux("capture-pane -p -t " + name);
  size_t at = 0;
  for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
    std::string l = text.substr(at, nl - at);
    l.erase(l.find_last_not_of(' ') + 1);
    r.push_back(l);
  }
  r.resize(24);
  return r;
}

bool demo_tmux::wait_for(const std::string &name, const std::string &text) {
  for (int i = 0; i < 200; i++) {
    if (screen_text(rows(name)).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int demo_tmux::shell(const std::string &name) {
  std::string pid = tmux("display-message -p -t " + name + " '#{pane_pid}'");
  return pid.empty() ? -1 : std::atoi(pid.c_str());
}

void demo_tmux::settle(const std::string &name) {
  std::vector<std::string> last = rows(name);
  for (int same = 0, i = 0; same < 3 && i < 100; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    std::vector<std::string> now = rows(name);
    same = now == last ? same + 1 : 0;
    last = now;
  }
}
