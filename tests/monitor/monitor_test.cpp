// The command monitor through a real terminal: loading with debug
// information, the lists, breakpoints, variables, the settings that change
// its behaviour, and quitting.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/pty/pty.h"

namespace {

struct monitor_session {
  pty_session s;

  void start(std::vector<std::string> args, std::vector<std::string> env = {}) {
    pty_options o;
    o.argv = {build_dir() + "/bin/run"};
    for (auto &a : args) o.argv.push_back(a);
    o.env = base_env(env);
    o.cwd = build_dir();
    ASSERT_TRUE(s.start(o));
  }
  // types a command and returns the screen lines from the command's line
  // up to the next prompt
  std::string command(const std::string &line) {
    int from = s.cursor_line();
    s.type(line + "\r");
    EXPECT_TRUE(wait_prompt(from + 1)) << s.transcript(from);
    return s.transcript(from, s.cursor_line());
  }
  // waits for the prompt ("*", or ">" in debug mode) on line from or later
  bool wait_prompt(int from) {
    return s.wait_until(
        [&] {
          std::string p = prompt();
          return s.cursor_line() >= from && (p == "*" || p == ">");
        },
        5000);
  }
  // the text of the cursor's line
  std::string prompt() { return s.line(s.cursor_line()); }
  int quit() {
    s.type("qu\r");
    int st = 0;
    if (!s.wait_exit(5000, &st)) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

bool has(const std::string &text, const std::string &what) {
  return text.find(what) != std::string::npos;
}

TEST(monitor, load_lists_and_variables) {
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  std::string o = m.command("lo ./examples/procs");
  EXPECT_TRUE(has(o, "Program is LOADED with debug information\r\n")) << o;
  EXPECT_EQ(m.prompt(), ">");  // debug mode
  o = m.command("dr");
  EXPECT_TRUE(has(o, "*PROCS\r\n AREA\r\n SCALE\r\n")) << o;
  o = m.command("dl");
  EXPECT_TRUE(has(o, "fill: ")) << o;
  o = m.command("dv");
  EXPECT_TRUE(has(o, "w: ")) << o;
  EXPECT_TRUE(has(o, "v: ")) << o;
  o = m.command("dv nosuch");
  EXPECT_TRUE(has(o, "ROUTINE NOT FOUND")) << o;
  o = m.command("di w");
  EXPECT_TRUE(has(o, "0\r\n")) << o;
  m.s.type("vx w\r");
  ASSERT_TRUE(m.s.wait_screen("Value:", 3000)) << m.s.transcript();
  o = m.command("-12.5");
  o = m.command("di w");
  EXPECT_TRUE(has(o, "-12.5\r\n")) << o;
  m.s.type("vx w\r");
  ASSERT_TRUE(m.s.wait_screen("Value:", 3000));
  o = m.command("12x");
  EXPECT_TRUE(has(o, "ERR")) << o;
  o = m.command("di v");
  EXPECT_TRUE(has(o, "(0) 0\r\n(1) 0\r\n(2) 0\r\n")) << o;
  o = m.command("di area:x");
  EXPECT_TRUE(has(o, "NOT ALLOCATED")) << o;  // a parameter not bound yet
  o = m.command("di nosub:x");
  EXPECT_TRUE(has(o, "Unknown SUB/FUN: nosub")) << o;
  EXPECT_EQ(m.quit(), 0);
}

TEST(monitor, breakpoint_table) {
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  m.command("lo ./examples/procs");
  std::string o = m.command("db");
  EXPECT_TRUE(has(o, "NO BKP SET YET")) << o;
  o = m.command("br fill di i");
  EXPECT_TRUE(has(o, "fill: ")) << o;
  for (const char *a : {"10", "20", "30", "40", "50", "60", "70"})
    m.command(std::string("br ") + a);
  o = m.command("br 80");
  EXPECT_TRUE(has(o, "BKP TBL FULL")) << o;
  o = m.command("br 20 a-very-long-command");  // the same address: replaced in place
  EXPECT_FALSE(has(o, "FULL")) << o;
  o = m.command("db");
  EXPECT_TRUE(has(o, "3 0020 a-very-lo\r\n")) << o;  // cut to 9 characters
  o = m.command("cb 2");
  o = m.command("db");
  EXPECT_TRUE(has(o, "2 0020 a-very-lo\r\n")) << o;  // the third moved up
  EXPECT_TRUE(has(o, "7 0070\r\n")) << o;
  EXPECT_FALSE(has(o, "8 ")) << o;
  o = m.command("cb 9");
  EXPECT_TRUE(has(o, "ERR")) << o;
  o = m.command("br xyz");
  EXPECT_TRUE(has(o, "ERR")) << o;
  o = m.command("br chain");
  o = m.command("db");
  EXPECT_TRUE(has(o, "BKP ON CHAIN\r\n")) << o;
  o = m.command("cb");
  EXPECT_TRUE(has(o, "ALL BKP'S CLEARED")) << o;
  o = m.command("db");
  EXPECT_TRUE(has(o, "NO BKP SET YET")) << o;
  EXPECT_FALSE(has(o, "CHAIN")) << o;
  o = m.command("go");
  EXPECT_TRUE(has(o, "NO BKP HIT YET")) << o;
  EXPECT_EQ(m.quit(), 0);
}

TEST(monitor, settings_and_program_names) {
  {
    monitor_session m;  // P=ru is the command ru
    m.start({"P=ru"});
    ASSERT_TRUE(m.wait_prompt(0));
    EXPECT_TRUE(has(m.s.transcript(), "NO PROGRAMM LODED")) << m.s.transcript();
    EXPECT_EQ(m.quit(), 0);
  }
  {
    monitor_session m;  // a command with a path in P is not cut at its "/"
    m.start({"P=lo ./examples/procs"});
    ASSERT_TRUE(m.wait_prompt(0));
    EXPECT_TRUE(has(m.s.transcript(), "Program is LOADED with debug information"))
        << m.s.transcript();
    EXPECT_EQ(m.quit(), 0);
  }
  {
    monitor_session m;  // NOSTART refuses typed names, not P
    m.start({"P=./examples/nosuch", "NOSTART=1"});
    ASSERT_TRUE(m.wait_prompt(0));
    EXPECT_TRUE(has(m.s.transcript(), "./examples/nosuch: FILE NOT FOUND\r\n")) << m.s.transcript();
    std::string o = m.command("./examples/procs");
    EXPECT_TRUE(has(o, "ERR")) << o;
    o = m.command("lo ./examples/procs");
    EXPECT_TRUE(has(o, "ERR")) << o;
    int from = m.s.cursor_line();
    m.s.type("sh true\r");
    ASSERT_TRUE(m.s.wait_screen("Press any key to continue", 5000)) << m.s.transcript();
    m.s.type("x");
    EXPECT_TRUE(m.wait_prompt(from + 1));
    EXPECT_FALSE(has(m.s.transcript(from), "ERR"));
    EXPECT_EQ(m.quit(), 0);
  }
  {
    monitor_session m;
    m.start({"NOSHELL=1"});
    ASSERT_TRUE(m.wait_prompt(0));
    std::string o = m.command("sh true");
    EXPECT_TRUE(has(o, "ERR")) << o;
    o = m.command("di x");
    EXPECT_TRUE(has(o, "NO SYMBOLIC INFORMATION")) << o;
    o = m.command("nosuchprogram/70000");
    EXPECT_TRUE(has(o, "FILE NOT FOUND")) << o;
    EXPECT_EQ(m.quit(), 0);
  }
}

// A program with a loop, a procedure and labels, assembled for the tests
// that run it under the monitor.
const char *LOOP_SRC = R"(.debug
.main LOOP
  num total
  num i
  num runs common 8
  push runs
  add 1
  store runs
  push 0
  store total
  push 1
  store i
again:
  push total
  push i
  call ADD, 2
  store total
  push i
  add 1
  store i
  push i
  le 12
  jt again
done:
  push runs
  ge 3
  jf fine
  push 55
  raise
fine:
  stop
.proc ADD
  param num a
  param num b
  push a
  add b
inside:
  ret
)";

std::string assemble(const std::string &text, int bits = 16) {
  std::string base = "/tmp/quillon-mon-" + std::to_string(getpid()) + "-" + std::to_string(bits);
  std::string src = base + ".pasm", out = base;
  FILE *f = std::fopen(src.c_str(), "w");
  std::fprintf(f, ".pcode %d\n%s", bits, text.c_str());
  std::fclose(f);
  std::string cmd = build_dir() + "/bin/pasm -o " + out + " " + src;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  unlink(src.c_str());
  return out;
}

std::string loop_program(int bits = 16) {
  return assemble(LOOP_SRC, bits);
}

// the hexadecimal address after "name: " in a reply
std::string address_of(const std::string &reply, const std::string &name) {
  size_t p = reply.find(name + ": ");
  return p == std::string::npos ? "" : reply.substr(p + name.size() + 2, 4);
}

class monitor_width : public ::testing::TestWithParam<int> {};

TEST_P(monitor_width, breakpoints_steps_and_the_call_hierarchy) {
  std::string prog = loop_program(GetParam());
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  m.command("lo " + prog);
  std::string again = address_of(m.command("br again"), "again");
  ASSERT_EQ(again.size(), 4u);
  for (char &c : again) c = char(std::toupper((unsigned char)c));  // as the report writes it
  std::string o = m.command("ru");
  EXPECT_TRUE(has(o, "BKP HIT AT 00" + again)) << o;
  EXPECT_TRUE(has(m.command("di i"), "1\r\n"));
  o = m.command("go");
  EXPECT_TRUE(has(o, "BKP HIT AT 00" + again)) << o;
  EXPECT_TRUE(has(m.command("di i"), "2\r\n"));
  EXPECT_TRUE(has(m.command("di total"), "1\r\n"));
  m.command("cb");
  o = m.command("sp");  // over the call: still in LOOP
  EXPECT_TRUE(has(o, "BKP HIT")) << o;
  EXPECT_TRUE(has(m.command("dr"), "*LOOP")) << m.s.transcript();
  for (int i = 0; i < 3 && !has(m.command("dr"), "*ADD"); i++) m.command("st");
  EXPECT_TRUE(has(m.command("dr"), "*ADD")) << m.s.transcript();
  o = m.command("ch");
  EXPECT_TRUE(has(o, "(")) << o;  // the procedure frame with its two parameters
  EXPECT_TRUE(has(o, "):")) << o;
  m.command("br add:inside");
  o = m.command("go");
  EXPECT_TRUE(has(o, "BKP HIT")) << o;
  o = m.command("di b");  // the loop counter passed as the second argument
  EXPECT_TRUE(has(o, "di b\r\n3\r\n")) << o;
  EXPECT_EQ(m.quit(), 0);
  unlink(prog.c_str());
}

INSTANTIATE_TEST_SUITE_P(widths, monitor_width, ::testing::Values(16, 24));

TEST(monitor, long_lists_pause_after_each_screenful) {
  std::string text = ".debug\n.main MANY\n";
  for (int i = 0; i < 30; i++) text += "  num v" + std::to_string(i) + "\n";
  text += "  stop\n";
  std::string prog = assemble(text);
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  m.command("lo " + prog);
  auto more = [&](int from) {
    return m.s.wait_until([&] { return has(m.s.transcript(from), " -- More --"); }, 5000);
  };
  int from = m.s.cursor_line();
  m.s.type("dv\r");
  ASSERT_TRUE(more(from)) << m.s.transcript();
  std::string first = m.s.transcript(from);
  EXPECT_TRUE(has(first, "v22: ")) << first;
  EXPECT_FALSE(has(first, "v23: ")) << first;
  m.s.type(" ");
  EXPECT_TRUE(m.wait_prompt(from + 1));
  EXPECT_TRUE(has(m.s.transcript(from), "v29: "));
  from = m.s.cursor_line();
  m.s.type("dv\r");
  ASSERT_TRUE(more(from));
  m.s.type("q");  // stops the list
  EXPECT_TRUE(m.wait_prompt(from + 1));
  EXPECT_FALSE(has(m.s.transcript(from), "v29: "));
  EXPECT_EQ(m.quit(), 0);
  unlink(prog.c_str());
}

TEST(monitor, go_to_an_address_with_a_command_and_trace_to_a_file) {
  std::string prog = loop_program();
  std::string trace = prog + ".trace";
  monitor_session m;
  m.start({});
  ASSERT_TRUE(m.wait_prompt(0));
  m.command("lo " + prog);
  std::string done = address_of(m.command("br done"), "done");
  m.command("cb");
  m.command("br again");
  m.command("ru");
  m.command("cb");
  std::string o = m.command("go " + done + " di total");
  EXPECT_TRUE(has(o, "\r\ndi total\r\n78\r\n")) << o;  // 1 + 2 + ... + 12
  m.command("lo " + prog);  // again from the start, traced from the loop on
  m.command("br again");
  m.command("ru");
  m.command("cb");
  o = m.command("tr " + trace);
  EXPECT_TRUE(has(o, "STOP")) << o;
  o = m.command("ru");  // run again: from the start, its third run fails by design
  EXPECT_TRUE(has(o, "ERROR 55 AT")) << o;
  EXPECT_EQ(m.quit(), 0);
  FILE *f = std::fopen(trace.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line1[200] = {}, line2[200] = {};
  ASSERT_NE(std::fgets(line1, sizeof line1, f), nullptr);
  std::fgets(line2, sizeof line2, f);
  std::fclose(f);
  EXPECT_EQ(std::strlen(line1), 15u * 5 + 1) << line1;  // 15 entries, then the line end
  EXPECT_GE(std::strlen(line2), 16u * 5) << line2;
  EXPECT_TRUE(std::isxdigit((unsigned char)line1[0]) && line1[4] == ' ');
  unlink(trace.c_str());
  unlink(prog.c_str());
}

TEST(monitor, exit_and_restart_settings) {
  std::string prog = loop_program();
  {
    monitor_session m;  // VXEXIT: the process ends with the program
    m.start({"P=" + prog, "VXEXIT=1"});
    int st = 0;
    ASSERT_TRUE(m.s.wait_exit(10000, &st)) << m.s.transcript();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_TRUE(has(m.s.transcript(), "\r\nSTOP\r\n")) << m.s.transcript();
  }
  {
    monitor_session m;  // NONSTOP: restarted until the third run fails
    m.start({"P=" + prog, "NONSTOP=1"});
    ASSERT_TRUE(m.s.wait_screen("ERROR 55 AT", 10000)) << m.s.transcript();
    ASSERT_TRUE(m.wait_prompt(0));
    EXPECT_FALSE(has(m.s.transcript(), "STOP"));
    EXPECT_EQ(m.quit(), 0);
  }
  unlink(prog.c_str());
}

}  // namespace
