// A second, independent terminal emulator: run and the screen driver in
// tmux (a server of its own on a private socket), the pane captured with
// tmux capture-pane and compared with the expected screen.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/pty/pty.h"
#include "tests/terminal/drive.h"

namespace {

std::string shell(const std::string &cmd) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

struct tmux_pane {
  std::string sock = "/tmp/quillon-tmux-" + std::to_string(getpid());

  std::string tmux(const std::string &args) {
    return shell("tmux -S " + sock + " -f /dev/null " + args + " 2>&1");
  }
  // starts command (its environment given) in an 80x24 pane
  void start(const std::string &env, const std::string &command) {
    tmux("new-session -d -x 80 -y 24 -s t \"cd " + build_dir() + " && env -i " + env + " " +
         command + "\"");
  }
  ~tmux_pane() {
    tmux("kill-server");
    unlink(sock.c_str());
  }
  std::vector<std::string> rows() {
    std::vector<std::string> r;
    std::string text = tmux("capture-pane -p -t t");
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
      r.push_back(text.substr(at, nl - at));
    while (!r.empty() && r.back().empty()) r.pop_back();
    return r;
  }
  std::string cursor() { return tmux("display -p -t t '#{cursor_y},#{cursor_x}'"); }
  void type(const std::string &keys) {
    tmux("send-keys -t t -l '" + keys + "' \\; send-keys -t t Enter");
  }
  // waits until the last row shown is last
  bool wait_last_row(const std::string &last) {
    for (int i = 0; i < 100; i++) {
      std::vector<std::string> r = rows();
      if (!r.empty() && r.back() == last) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
};

std::string lines(const std::vector<std::string> &r) {
  std::string s;
  for (auto &l : r) s += l + "\n";
  return s;
}

TEST(tmux, run_shows_the_screen_the_monitor_wrote) {
  ASSERT_EQ(shell("tmux -V 2>&1").rfind("tmux ", 0), 0u) << "tmux is needed";
  tmux_pane p;
  p.start("TERM=screen PATH=/usr/bin:/bin VXDEFAULT=/nonexistent", "./bin/run P=./nosuch");
  ASSERT_TRUE(p.wait_last_row("*")) << lines(p.rows());
  p.type("dr");
  ASSERT_TRUE(p.wait_last_row("*")) << lines(p.rows());
  std::vector<std::string> want = {"./nosuch: FILE NOT FOUND", "", "*dr",
                                   "NO SYMBOLIC INFORMATION",  "", "*"};
  for (int i = 0; i < 100 && p.rows() != want; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(lines(p.rows()), lines(want));
  EXPECT_EQ(p.cursor(), "5,1\n");
  p.type("qu");
}

TEST(tmux, a_form_looks_the_same_in_tmux) {
  tmux_pane p;
  std::string fifo = "/tmp/quillon-tmux-ack-" + std::to_string(getpid());
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  p.start("TERM=tmux-256color PATH=/usr/bin:/bin VXDEFAULT=/nonexistent SCDRIVER_ACK=" + fifo,
          "./bin/scdriver");
  int ack = open(fifo.c_str(), O_RDONLY);
  ASSERT_GE(ack, 0);
  auto reply = [&] {
    std::string line;
    char c;
    struct pollfd pf = {ack, POLLIN, 0};
    while (poll(&pf, 1, 5000) > 0 && read(ack, &c, 1) == 1 && c != '\n') line += c;
    return line;
  };
  ASSERT_EQ(reply(), "ready");
  auto send = [&](const std::string &bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) h += std::string(1, hex[c >> 4]) + hex[c & 15];
    p.type("w " + h);
    EXPECT_EQ(reply(), "ok");
  };
  auto to = [](int r, int c) { return esc({0x0B, r + 1}) + esc({0x09, c + 1}); };
  send(to(1, 1) + esc({0x40, 40, 7}) + to(2, 3) + "Name" + "\x8f" + "ACME" + to(2, 25) + "\x8b");
  send(to(4, 1) + esc({0x44, 40, 5}) + to(5, 3) + esc({0x15, 8}) + "note" + esc({0x15, 255}));
  send(to(3, 3) + "plain" + to(9, 5));
  p.type("f 1");
  ASSERT_EQ(reply(), "ok");
  // the expected screen, line-drawing cells as tmux shows them (their letters)
  std::vector<std::string> want(7, std::string(80, ' '));
  auto put = [&](int r, int c, const std::string &t) {
    want[size_t(r)].replace(size_t(c), t.size(), t);
  };
  std::string line(37, 'q');
  put(1, 1, "l" + line + "k");
  for (int r = 2; r <= 5; r++) put(r, 1, "x"), put(r, 39, "x");
  put(2, 3, "Name ACME");
  put(3, 3, "plain");
  put(4, 1, "t" + line + "u");
  put(5, 3, "note");
  put(6, 1, "m" + line + "j");
  for (auto &w : want) w.erase(w.find_last_not_of(' ') + 1);
  for (int i = 0; i < 100 && p.rows() != want; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(lines(p.rows()), lines(want));
  EXPECT_EQ(p.cursor(), "9,5\n");
  std::string looks = p.tmux("capture-pane -p -e -t t");
  EXPECT_NE(looks.find("\x1b[7mACME"), std::string::npos) << looks;
  EXPECT_NE(looks.find("\x1b[4mnote"), std::string::npos) << looks;
  p.type("q");
  close(ack);
  unlink(fifo.c_str());
}

}  // namespace
