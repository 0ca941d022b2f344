// Printer output with real processes: a spooler stand-in script that
// records what it is given, the pager on a real pseudo-terminal, a printer
// file locked by one process and refused to a second, and transparent
// printing to the terminal's printer port.  The printing is driven by
// lpdrive, which opens, feeds and closes the printer unit.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/pty/pty.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void spit(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A printer entry for the spooler and the file tests.
const char *defaults =
    "[PRINTER]\n"
    "#laser\n"
    "INIT=27-'@'\n"
    "DEINIT=27-'E'\n"
    "FL=27-'C'-'%'\n"
    "B=27-'G',27-'H'\n"
    "U=27-'-'-'1',27-'-'-'0'\n"
    "MAP=228,'a'-8-'\"'\n"
    "MAP=65,'x'\n"
    "))\n";

struct lp_fixture : ::testing::Test {
  std::string dir;

  void SetUp() override {
    static int n;
    dir = "/tmp/quillon-print-" + std::to_string(getpid()) + "-" + std::to_string(n++);
    mkdir(dir.c_str(), 0755);
    spit(dir + "/defaults", defaults);
    // the spooler stand-in: its arguments and its standard input
    spit(dir + "/spool",
         "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + dir + "/args\ncat > " + dir + "/data\n");
    chmod((dir + "/spool").c_str(), 0755);
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  // runs lpdrive in mode on the print data; its terminal session
  void drive(pty_session &s, int mode, const std::string &name, const std::string &data,
             std::vector<std::string> env = {}, bool hold = false) {
    static int k;
    std::string file = dir + "/in" + std::to_string(k++);
    spit(file, data);
    env.push_back("VXDEFAULT=" + dir + "/defaults");
    bool has_lp1 = false;
    for (auto &e : env) has_lp1 = has_lp1 || e.compare(0, 4, "LP1=") == 0;
    if (!has_lp1) env.push_back("LP1=laser");
    pty_options o;
    o.argv = {build_dir() + "/bin/lpdrive", std::to_string(mode), name, file};
    if (hold) o.argv.push_back("hold");
    o.env = base_env(env);
    ASSERT_TRUE(s.start(o));
  }

  // runs lpdrive to its end; what it reported
  std::string print(int mode, const std::string &name, const std::string &data,
                    std::vector<std::string> env = {}) {
    pty_session s;
    drive(s, mode, name, data, env);
    int st = 0;
    EXPECT_TRUE(s.wait_exit(15000, &st)) << s.output();
    return s.output();
  }
};

// Mode 2: the first line's unknown parameters reach the spooler as one
// ESC "P" line; the entry's INIT=, form length, attributes of an attribute
// line, character maps and DEINIT= are in the bytes, trailing blanks are
// not, and a byte after ESC is never translated.
TEST_F(lp_fixture, spooler_gets_parameters_attributes_and_maps) {
  std::string data =
      "\x1bP1,L66,copies=2,form=a4\n"
      "Hello   \n"
      "Bold here@@\n"
      "     BBBB\n"
      "\xe4"
      "A\x1b"
      "A\n"
      "\f";
  std::string out = print(2, "-", data, {"SPOOLNAME=" + dir + "/spool"});
  EXPECT_NE(out.find("open=0"), std::string::npos) << out;
  EXPECT_NE(out.find("close=0"), std::string::npos) << out;
  EXPECT_EQ(slurp(dir + "/data"),
            "\x1bPcopies=2,form=a4\n"
            "\x1b@\x1b"
            "C66"
            "Hello\n"
            "Bold \x1bGhere\x1bH\n"
            "a\b\"x\x1b"
            "A\n"
            "\f"
            "\x1b"
            "E");
}

// Without parameters a job prints without capabilities; "N" turns a form
// feed into the line feeds that fill the page; an attribute line longer
// than the buffer is cut; route= and a digit pick the printer mid-job.
TEST_F(lp_fixture, form_feeds_routes_and_long_attribute_lines) {
  std::string lines;
  for (int i = 0; i < 10; i++) lines += "l\n";
  std::string out =
      print(2, "-", "\x1bPL66,N\n" + lines + "\fA\n", {"SPOOLNAME=" + dir + "/spool"});
  EXPECT_EQ(slurp(dir + "/data"), lines + std::string(56, '\n') + "A\n") << out;

  std::string data = "ab@@\n" + std::string(700, 'U') + "\n\x1bProute=1\nAU@@\n UU\n";
  print(2, "-", data, {"SPOOLNAME=" + dir + "/spool"});
  EXPECT_EQ(slurp(dir + "/data"),
            "ab\n\x1b@\x1b"
            "C72x\x1b-1U\x1b-0\n\x1b"
            "E");
  EXPECT_EQ(slurp(dir + "/args"), "\n");  // no arguments
}

// A global attribute is on for the whole job and comes back after each
// attribute of an attribute line ends; it ends before DEINIT=.
TEST_F(lp_fixture, global_attribute) {
  print(2, "-", "\x1bP1,CB\nab@@\n U\n", {"SPOOLNAME=" + dir + "/spool"});
  EXPECT_EQ(slurp(dir + "/data"),
            "\x1b@\x1b"
            "C72\x1bGa\x1b-1b\x1b-0\x1bG\n\x1bH\x1b"
            "E");
}

TEST_F(lp_fixture, debug_prints_lines_unchanged) {
  std::string data = "\x1bPL66,N\nA  \n\f";
  print(2, "-", data, {"SPOOLNAME=" + dir + "/spool", "VXLPDEBUG=1"});
  EXPECT_EQ(slurp(dir + "/data"), data);
}

// A command with arguments is run through the shell; a command that
// cannot run is reported by the shell, and the job ends without an error.
TEST_F(lp_fixture, spooler_command_with_arguments) {
  print(2, "-", "x\n", {"SPOOLNAME=" + dir + "/spool -d laser"});
  EXPECT_EQ(slurp(dir + "/args"), "-d\nlaser\n");
  EXPECT_EQ(slurp(dir + "/data"), "x\n");
  std::string out = print(2, "-", "x\n", {"SPOOLNAME=" + dir + "/none"});
  EXPECT_NE(out.find(dir + "/none: not found"), std::string::npos) << out;
  EXPECT_NE(out.find("close=0"), std::string::npos) << out;
}

// A printer file is held under an exclusive lock: a second process is
// refused with 12 and changes nothing, even in a mode that empties the
// file; once the first closes, the file can be opened again.
TEST_F(lp_fixture, printer_file_is_locked) {
  std::string file = dir + "/printer.out";
  pty_session first;
  drive(first, 6, file, "first\n", {}, true);
  ASSERT_TRUE(first.wait_for("holding=0", 10000)) << first.output();
  std::string out = print(4, file, "second\n");
  EXPECT_NE(out.find("open=12"), std::string::npos) << out;
  EXPECT_EQ(out.find("close="), std::string::npos) << out;
  first.type("x");
  ASSERT_TRUE(first.wait_for("close=0", 10000)) << first.output();
  EXPECT_EQ(slurp(file), "first\n");
  out = print(7, file, "third\n");
  EXPECT_NE(out.find("close=0"), std::string::npos) << out;
  EXPECT_EQ(slurp(file), "first\nthird\n");
  print(6, file, "fourth\n");
  EXPECT_EQ(slurp(file), "fourth\n");
}

TEST_F(lp_fixture, open_errors) {
  EXPECT_NE(print(4, dir + "/missing/lp", "x\n").find("open=9"), std::string::npos);
  EXPECT_NE(print(9, "-", "x\n").find("open=65"), std::string::npos);
  EXPECT_NE(print(0, dir + "/no-such-file", "x\n").find("open=9"), std::string::npos);
}

// A device name ending in "lp" and digits selects that printer's entry.
TEST_F(lp_fixture, device_name_selects_the_printer) {
  std::string file = dir + "/lp1";
  print(6, file, "A\n");
  EXPECT_EQ(slurp(file),
            "\x1b@\x1b"
            "C72x\n\x1b"
            "E");
  file = dir + "/lp0";
  print(6, file, "A\n");
  EXPECT_EQ(slurp(file), "A\n");
}

// The entries of the example defaults file print as docs/printing.md says.
TEST_F(lp_fixture, example_entries_print_as_documented) {
  spit(dir + "/defaults", slurp(std::string(QUILLON_SOURCE) + "/examples/quillon.defaults"));
  std::string out = print(7, dir + "/report.lp1", "x\xe4\n", {"LP1=plain"});
  EXPECT_EQ(out.find("line"), std::string::npos) << out;  // no message about the entries
  EXPECT_EQ(slurp(dir + "/report.lp1"), "xa\b\"\n");
  print(2, "-", "\x1bP1,L66\nTotal@@\nBBBBB\n", {"SPOOLNAME=" + dir + "/spool"});
  EXPECT_EQ(slurp(dir + "/data"),
            "\x1b"
            "E\x1b&l66P\x1b(s3BTotal\x1b(s0B\n\x1b"
            "E");
}

// Mode 1: the print bytes reach the terminal's printer port between the
// transparent-printing sequences and never show on its screen.
TEST_F(lp_fixture, transparent_printing_reaches_the_printer_port) {
  pty_session s;
  drive(s, 1, "-", "\x1bPL60\nSECRET line\n", {"TERM=xterm"});
  ASSERT_TRUE(s.wait_for("close=0", 10000)) << s.output();
  int st;
  s.wait_exit(5000, &st);
  EXPECT_EQ(s.printed(), "SECRET line\n");
  EXPECT_NE(s.output().find("\x1b[5iSECRET line\n\x1b[4i"), std::string::npos);
  for (int r = 0; r < 24; r++) EXPECT_EQ(s.row(r).find("SECRET"), std::string::npos) << r;
}

// Mode 1 with PRT_HS=1: the printer's handshake ends the transparent
// printing: 03 reaches the printer port, and the run waits for the one
// byte of acknowledgement before it goes on.
TEST_F(lp_fixture, transparent_printing_waits_for_the_printer_handshake) {
  pty_session s;
  drive(s, 1, "-", "line\n", {"TERM=xterm", "PRT_HS=1"});
  ASSERT_TRUE(s.wait_until([&] { return s.printed().find('\x03') != std::string::npos; }, 10000))
      << s.output();
  s.drain(300);
  EXPECT_EQ(s.output().find("close="), std::string::npos) << s.output();  // still waiting
  s.type("\x06");
  ASSERT_TRUE(s.wait_for("close=0", 10000)) << s.output();
  EXPECT_EQ(s.printed(), "line\n\x03");
  int st;
  s.wait_exit(5000, &st);
}

// Mode 3: the screen's line-drawing and attribute codes in print items
// reach the pager as the terminal's own strings: lines in its line-drawing
// set, a reverse field, and ordinary text after a line.
TEST_F(lp_fixture, pager_shows_lines_and_attributes_of_the_screen_codes) {
  pty_session s;
  drive(s, 3, "-", "\x80\x88\x81 ok\n\x8fREV\x8b plain\n\x82\x87\x83\n",
        {"TERM=xterm", "MORENAME=/bin/cat"});
  ASSERT_TRUE(s.wait_for("close=0", 10000)) << s.output();
  int st;
  s.wait_exit(5000, &st);
  int r = 0;
  while (r < 23 && s.row(r).find("ok") == std::string::npos) r++;
  EXPECT_EQ(s.row(r), "\u250c\u2500\u2510 ok") << s.output();
  EXPECT_EQ(s.row(r + 1), "REV plain");
  EXPECT_TRUE(s.cell(r + 1, 0).reverse);
  EXPECT_TRUE(s.cell(r + 1, 2).reverse);
  EXPECT_FALSE(s.cell(r + 1, 4).reverse);
  EXPECT_EQ(s.row(r + 2), "\u2514\u2534\u2518");
}

// Mode 3: a real pager shows the print lines on the screen, page by page.
TEST_F(lp_fixture, pager_shows_the_print_lines) {
  std::string data;
  for (int i = 1; i <= 60; i++) data += "print line " + std::to_string(i) + "\n";
  pty_session s;
  drive(s, 3, "-", data, {"MORENAME=/usr/bin/more"});
  ASSERT_TRUE(s.wait_for("More", 10000)) << s.output();
  s.drain(200);
  std::string screen;
  for (int r = 0; r < 24; r++) screen += s.row(r) + "\n";
  EXPECT_NE(screen.find("print line 1\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("print line 20\n"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("print line 40\n"), std::string::npos) << screen;
  s.type(" ");
  ASSERT_TRUE(s.wait_for("print line 40", 10000)) << s.output();
  s.type("q");
  ASSERT_TRUE(s.wait_for("close=", 10000)) << s.output();
  int st;
  EXPECT_TRUE(s.wait_exit(5000, &st));
}

}  // namespace
