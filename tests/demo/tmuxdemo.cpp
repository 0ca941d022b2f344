// tmuxdemo.cpp: the demo in tmux (tmuxdemo.h).
#include "tests/demo/tmuxdemo.h"

#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

demo_tmux::demo_tmux() {
  char tmpl[] = "/tmp/quillon-demo-XXXXXX";
  if (mkdtemp(tmpl)) data = tmpl;
  sock = data + ".sock";
}

demo_tmux::~demo_tmux() {
  tmux("kill-server");
  unlink(sock.c_str());
  if (!data.empty()) demo_sh("rm -rf " + data);
}

std::string demo_tmux::tmux(const std::string &args) {
  return demo_sh("tmux -S " + sock + " -f /dev/null " + args);
}

void demo_tmux::start(const std::string &name, const std::string &extra) {
  std::string b = build_dir();
  std::string env = "TERM=tmux-256color PATH=/usr/bin:/bin HOME=" + data +
                    " VXDTE=12082609300020261208093000 QUILLON_RUN=" + b + "/bin/run" +
                    " QUILLON_DEMO_PROGRAMS=" + b + "/examples/demo/programs" +
                    " QUILLON_DEMO_DEFAULTS=" + QUILLON_SOURCE_DIR + "/examples/demo/demo.defaults";
  std::string cmd = "env -i " + env + " " + QUILLON_SOURCE_DIR + "/examples/demo/quillon-demo -d " +
                    data + " " + extra + "; echo EXIT=$?; sleep 600";
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

std::string demo_tmux::row(const std::string &name, int r) {
  return rows(name)[size_t(r - 1)];
}

bool demo_tmux::wait_for(const std::string &name, const std::string &text) {
  for (int i = 0; i < 200; i++) {
    if (screen_text(rows(name)).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
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

std::string screen_text(const std::vector<std::string> &rows) {
  std::string s;
  for (const std::string &r : rows) s += r + "\n";
  return s;
}
