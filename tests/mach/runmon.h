// runmon.h: run under its command monitor in a pseudo-terminal, for the
// tests of the process, pipe and shared-buffer statements: programs
// written in the assembler are assembled into a scratch directory, loaded
// with their debug information, run to a breakpoint, and their variables
// shown with the monitor's "di" and "dh".
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/pty/pty.h"

// A scratch directory, removed at the end.
struct scratch_dir {
  std::string path;
  explicit scratch_dir(const std::string &tag)
      : path("/tmp/quillon-" + tag + "-" + std::to_string(getpid())) {
    mkdir(path.c_str(), 0755);
  }
  ~scratch_dir() {
    int r = std::system(("rm -rf " + path).c_str());
    (void)r;
  }
  // assembles the program text into path/name; false when pasm refuses it
  bool assemble(const std::string &name, const std::string &text) const {
    std::ofstream(path + "/" + name + ".pasm") << text;
    std::string cmd =
        build_dir() + "/bin/pasm -o " + path + "/" + name + " " + path + "/" + name + ".pasm";
    return std::system(cmd.c_str()) == 0;
  }
  std::string read(const std::string &name) const {
    std::ifstream f(path + "/" + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

struct run_monitor {
  pty_session s;

  // starts run with the assignments; the first prompt must come
  bool start(const std::vector<std::string> &args, const std::string &cwd) {
    pty_options o;
    o.argv = {build_dir() + "/bin/run"};
    for (auto &a : args) o.argv.push_back(a);
    o.env = base_env();
    o.cwd = cwd;
    return s.start(o) && prompt(0);
  }
  // waits for the monitor's prompt ("*", or ">" in debug mode) on the
  // screen's transcript line from or later
  bool prompt(int from, int ms = 10000) {
    return s.wait_until(
        [&] {
          std::string p = s.line(s.cursor_line());
          return s.cursor_line() >= from && (p == "*" || p == ">");
        },
        ms);
  }
  // types a command line; the screen's lines from it up to the next prompt
  std::string command(const std::string &line, int ms = 10000) {
    int from = s.cursor_line();
    s.type(line + "\r");
    prompt(from + 1, ms);
    return s.transcript(from, s.cursor_line());
  }
  // loads program path, sets a breakpoint on label done and runs to it
  std::string run_to_done(const std::string &path) {
    command("lo " + path);
    command("br done");
    return command("ru");
  }
  // loads program path, sets a breakpoint on label done and runs it,
  // typing keys after ms; true when it reached the prompt again
  bool run_typing(const std::string &path, const std::string &keys, int ms) {
    command("lo " + path);
    command("br done");
    int from = s.cursor_line();
    s.type("ru\r");
    s.drain(ms);
    s.type(keys);
    return prompt(from + 1);
  }
  int quit() {
    s.type("qu\r");
    int st = 0;
    if (!s.wait_exit(10000, &st)) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

inline bool has(const std::string &text, const std::string &what) {
  return text.find(what) != std::string::npos;
}
