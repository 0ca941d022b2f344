// Configuration: the defaults file in both layouts, precedence of the
// three sources, the settings tables, unit aliases and printer variables.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <pty.h>

#include "run/config/env.h"
#include "run/config/lptab.h"
#include "run/config/settings.h"
#include "run/files/files.h"
#include "run/startup/startup.h"
#include "run/terminal/kmap.h"

extern char **environ;

namespace {

// Runs env_init over an environment, a defaults file and a command line.
struct env_fixture : ::testing::Test {
  std::vector<std::string> env_text, arg_text;
  std::vector<char *> env_ptrs, arg_ptrs;
  std::string deflt_path;
  char **saved_environ = environ;

  void SetUp() override {
    char tmpl[] = "/tmp/quillon-defaults-XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    deflt_path = tmpl;
    msg_count = 0;
  }
  void TearDown() override {
    env_reset_for_test(saved_environ);
    unlink(deflt_path.c_str());
  }

  void write_defaults(const std::string &text) {
    FILE *f = std::fopen(deflt_path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }

  // env: entries besides VXDEFAULT (pointing at our file); args after argv[0]
  int init(std::vector<std::string> env, std::vector<std::string> args = {}) {
    env.push_back("VXDEFAULT=" + deflt_path);
    env_text = env;
    arg_text = {"run"};
    for (auto &a : args) arg_text.push_back(a);
    env_ptrs.clear();
    for (auto &e : env_text) env_ptrs.push_back(e.data());
    env_ptrs.push_back(nullptr);
    arg_ptrs.clear();
    for (auto &a : arg_text) arg_ptrs.push_back(a.data());
    env_reset_for_test(env_ptrs.data());
    run_hooks();
    return env_init(int(arg_ptrs.size()), arg_ptrs.data());
  }
};

TEST_F(env_fixture, precedence_file_environment_command_line) {
  write_defaults("M=200\nC=3\nF=7\n");
  ASSERT_EQ(init({"M=100"}), 0);
  EXPECT_EQ(zrmeq, 100);  // the environment wins over the file
  EXPECT_EQ(zrceq, 3);    // the file wins over the default
  EXPECT_EQ(zrfeq, 7);
  EXPECT_STREQ(vx_getenv("C"), "3");  // file settings are exported
  ASSERT_EQ(init({"M=100"}, {"M=300", "X", "P=menu/3"}), 0);
  EXPECT_EQ(zrmeq, 300);  // the command line wins over both
  EXPECT_STREQ(progname, "menu/3");
  EXPECT_EQ(getunit(const_cast<char *>(progname)), 3);
  EXPECT_STREQ(progname, "menu");
}

TEST_F(env_fixture, defaults_and_value_rules) {
  write_defaults("");
  ASSERT_EQ(init({"R=9", "F=0", "CONCURRENT=x", "TERM=vt100"}), 0);
  EXPECT_EQ(zrrpo, 0);
  EXPECT_EQ(zrfeq, 1);
  EXPECT_EQ(conc_wanted, nullptr);
  EXPECT_STREQ(active_terminal, "vt100");
  EXPECT_EQ(zrmeq, 120);
  EXPECT_EQ(zcbsiz, 200);
  EXPECT_STREQ(lpst, "@@");
  EXPECT_STREQ(wiz_name, "wizardbuf");
  ASSERT_EQ(init({"CONCURRENT=0", "R=8", "M=12abc"}), 0);
  EXPECT_EQ(conc_wanted, nullptr);
  EXPECT_EQ(zrrpo, 8);
  EXPECT_EQ(zrmeq, 12);
  EXPECT_STREQ(active_terminal, "du");
  ASSERT_EQ(init({"CONCURRENT=2"}), 0);
  EXPECT_STREQ(conc_wanted, "2");
}

// Each layout reads the SYSTEM block and the own terminal's block; the
// block read first wins, and nothing after them counts.
TEST_F(env_fixture, both_file_layouts) {
  struct row {
    const char *file;
    const char *term;
    int m, c, f;
  };
  const row rows[] = {
      // system block first
      {"#SYSTEM\nM=10\nC=2\n))\n#other\nM=99\n))\n#vt100\nM=11\nF=5\n))\nF=77\n", "vt100", 10, 2,
       5},
      // own block first: it takes precedence
      {"#vt100\nM=11\n))\n#SYSTEM\nM=10\nC=2\n))\n#vt100\nF=88\n))\n", "vt100", 11, 2, 40},
      // a foreign block before anything is skipped
      {"#wyse\nM=55\n))\n#SYSTEM\nM=10\n))\n", "vt100", 10, 1, 40},
      // lines before any header apply to every terminal
      {"C=4\n#SYSTEM\nC=5\nM=10\n))\n", "vt100", 10, 4, 40},
      // sections
      {"[SYSTEM]\nM=10\n[TERMINAL]\n#wyse\nM=1\nC=9\n))\n#vt100\nC=3\n))\n[PRINTER]\nF=9\n",
       "vt100", 10, 3, 40},
      // headers followed by anything are no headers
      {"[SYSTEM] \nM=10\n", "vt100", 10, 1, 40},
      // comments; a "#" followed by a blank does not start a block
      {": M=5\n# comment\nM=10\n", "vt100", 10, 1, 40},
      // TERM unset: the block of du applies
      {"#du\nM=33\n))\n", nullptr, 33, 1, 40},
  };
  for (const row &r : rows) {
    write_defaults(r.file);
    std::vector<std::string> env;
    if (r.term) env.push_back(std::string("TERM=") + r.term);
    ASSERT_EQ(init(env), 0);
    EXPECT_EQ(zrmeq, r.m) << r.file;
    EXPECT_EQ(zrceq, r.c) << r.file;
    EXPECT_EQ(zrfeq, r.f) << r.file;
  }
}

TEST_F(env_fixture, first_occurrence_wins_unless_empty) {
  write_defaults("#SYSTEM\nW=first\nW=second\nLOGFILE=\nLOGFILE=/tmp/log\n\nnot a setting\n))\n");
  ASSERT_EQ(init({}), 0);
  EXPECT_STREQ(wiz_name, "first");
  EXPECT_STREQ(log_name, "/tmp/log");
  EXPECT_STREQ(vx_getenv("W"), "first");
}

TEST_F(env_fixture, another_defaults_file_and_a_missing_one) {
  write_defaults("M=77\n");
  ASSERT_EQ(init({}), 0);
  EXPECT_EQ(zrmeq, 77);
  unlink(deflt_path.c_str());
  ASSERT_EQ(init({}), 0);
  EXPECT_EQ(zrmeq, 120);
  EXPECT_EQ(msg_count, 0);
}

TEST_F(env_fixture, overlong_line_is_skipped_with_a_message) {
  write_defaults("M=11\n" + std::string("C=") + std::string(1100, '7') + "\nF=9\n");
  ASSERT_EQ(init({}), 0);
  EXPECT_EQ(zrmeq, 11);
  EXPECT_EQ(zrceq, 1);  // not a cut value of the long line
  EXPECT_EQ(zrfeq, 9);  // the line after it is read
  EXPECT_EQ(msg_count, 1);
  // exactly 1023 characters is still a line
  write_defaults("W=" + std::string(1021, 'w') + "\n");
  ASSERT_EQ(init({}), 0);
  EXPECT_EQ(std::strlen(wiz_name), 1021u);
}

TEST_F(env_fixture, unit_aliases) {
  write_defaults("unit9=/from/file\n");
  ASSERT_EQ(
      init({"unit7=/data/x", "unit=y", "unitA=z", "unit0=/zero", "unit8=" + std::string(256, 'd')}),
      0);
  EXPECT_STREQ(unit_alias_dir(7), "/data/x");
  EXPECT_STREQ(unit_alias_dir(0), "/zero");
  EXPECT_STREQ(unit_alias_dir(9), "/from/file");
  EXPECT_EQ(unit_alias_dir(8), nullptr);  // 256 characters or more
  EXPECT_EQ(unit_alias_dir(1), nullptr);
  // more than one block of aliases, and a changed alias
  std::vector<std::string> many;
  for (int i = 0; i < 45; i++)
    many.push_back("unit" + std::to_string(100 + i) + "=/d" + std::to_string(i));
  ASSERT_EQ(init(many), 0);
  EXPECT_STREQ(unit_alias_dir(144), "/d44");
  std::string upd = "unit144=/new";
  ASSERT_EQ(vx_putenv(upd.data()), 0);
  ASSERT_EQ(env_upd(upd.data()), 0);
  EXPECT_STREQ(unit_alias_dir(144), "/new");
}

TEST_F(env_fixture, runtime_update_takes_only_marked_rows) {
  write_defaults("");
  ASSERT_EQ(init({}), 0);
  std::string a = "NONSTOP=1", b = "M=5", c = "CONCURRENT=x";
  env_upd(a.data());
  env_upd(b.data());
  EXPECT_EQ(nonstop, 1);
  EXPECT_EQ(zrmeq, 120);
  std::string d = "CONCURRENT=3";
  env_upd(d.data());
  EXPECT_STREQ(conc_wanted, "3");
  env_upd(c.data());
  EXPECT_EQ(conc_wanted, nullptr);
}

TEST_F(env_fixture, printer_variables) {
  write_defaults("[PRINTER]\n#laser\nINIT=27\n))\n#matrix\n))\n");
  ASSERT_EQ(init({"LP1=laser,x", "LP12=matrix;y", "LPST=@x", "LPO=3", "LP=1", "LP3=laser"}), 0);
  int s1 = getlcapidx("1"), s12 = getlcapidx("12"), s3 = getlcapidx("3");
  EXPECT_GT(s1, 0);
  EXPECT_GT(s12, 0);
  EXPECT_NE(s1, s12);
  EXPECT_STREQ(lp_env[s1], "LP1=laser,x");
  EXPECT_LT(getlcapidx("2"), 0);  // the first free slot, negated
  EXPECT_STREQ(lpst, "@x");       // LPST is a setting, not a printer
  EXPECT_EQ(lp_cnt, 2);
  EXPECT_NE(lp_list[s1], nullptr);
  EXPECT_EQ(lp_list[s1], lp_list[s3]);  // same entry, shared
  EXPECT_NE(lp_list[s12], nullptr);
  EXPECT_EQ(msg_count, 0);
}

TEST_F(env_fixture, printer_table_full_and_missing_entries) {
  write_defaults("#SYSTEM\n))\n[PRINTER]\n#p1\n))\n");
  std::vector<std::string> env;
  for (int i = 1; i <= 25; i++)
    env.push_back("LP" + std::to_string(i) + "=p" + std::to_string(i % 2));
  ASSERT_EQ(init(env), 0);
  EXPECT_GT(getlcapidx("24"), 0);
  EXPECT_EQ(getlcapidx("25"), -25);  // dropped silently: the table is full
  EXPECT_EQ(msg_count, 1);           // p0 has no entry: one report
  write_defaults("");
  ASSERT_EQ(init({}), 0);
  EXPECT_EQ(getlcapidx("1"), -1);  // no printer variable at all
}

TEST(lptab, sort_list_orders_names_and_groups_duplicates) {
  char b[] = "b", a[] = "a", ab[] = "ab", a2[] = "a";
  char *texts[5] = {nullptr, b, a, ab, a2};
  int lengths[5] = {0, 1, 1, 2, 1};
  unsigned char order[6];
  EXPECT_EQ(sort_list(texts, lengths, 5, order), 3);
  // slots go in from the highest: a (slot 4), then slot 2 with the same
  // name behind it, then ab, then b
  EXPECT_EQ(order[0], 4);
  EXPECT_EQ(order[1], 128 + 2);
  EXPECT_EQ(order[2], 3);
  EXPECT_EQ(order[3], 1);
  EXPECT_EQ(order[4], 0);
}

TEST(startup, break_character_conversion) {
  char caret[] = "^C", octal[] = "\\177", plain[] = "x", empty[] = "";
  EXPECT_EQ(break_char(caret), 3);
  EXPECT_EQ(break_char(caret), 3);  // converting again gives the same
  EXPECT_EQ(break_char(octal), 127);
  EXPECT_EQ(break_char(octal), 127);
  EXPECT_EQ(break_char(plain), 'x');
  EXPECT_EQ(break_char(empty), -1);
  char wrap[] = "\\777";
  EXPECT_EQ(break_char(wrap), 0777 % 256);
}

TEST(startup, getunit_splits_name_and_unit) {
  char a[] = "x/2", b[] = "x", c[] = "a/b/7";
  EXPECT_EQ(getunit(a), 2);
  EXPECT_STREQ(a, "x");
  EXPECT_EQ(getunit(b), 0);
  EXPECT_EQ(getunit(nullptr), 0);
  EXPECT_EQ(getunit(c), 0);  // the number after the first slash
  EXPECT_STREQ(c, "a");
}

}  // namespace

namespace {

// The terminal slot is the line of the terminal list that names the
// terminal of standard error (without its "/dev/").
TEST(env_tty, terminal_slot_from_the_terminal_list) {
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  int saved = dup(2);
  ASSERT_EQ(dup2(slave, 2), 2);
  std::string dev = ttyname(2);
  std::string list = "/tmp/quillon-ttys-" + std::to_string(getpid());
  {
    FILE *f = std::fopen(list.c_str(), "w");
    std::fprintf(f, "01tty1\n02console\n03%s\n04%s\n", dev.c_str() + 5, dev.c_str() + 5);
    std::fclose(f);
  }
  const char *old = tty_name;
  tty_name = list.c_str();
  int slot = gettyslot();
  std::string seen = l_ttyname ? l_ttyname : "";
  tty_name = "/nonexistent/ttys";
  int missing = gettyslot();
  dup2(saved, 2);
  close(saved);
  tty_name = old;
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(seen, dev.substr(0, 19));
  EXPECT_EQ(missing, -1);
  close(slave);
  close(master);
  unlink(list.c_str());
}

TEST_F(env_fixture, screen_dump_file_and_open_file_table) {
  write_defaults("");
  std::string dump = deflt_path + ".dump";
  {
    FILE *f = std::fopen(dump.c_str(), "w");
    std::fputs("old\n", f);
    std::fclose(f);
  }
  ASSERT_EQ(init({"VXSCDUMP=" + dump, "F=12"}), 0);
  ASSERT_GE(sc_dump_fd, 0);
  ASSERT_EQ(write(sc_dump_fd, "new\n", 4), 4);
  close(sc_dump_fd);
  FILE *f = std::fopen(dump.c_str(), "r");
  char buf[32] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, n), "old\nnew\n");  // appended, not truncated
  EXPECT_EQ(oftable_len, 12);
  EXPECT_EQ(oftable[11].inuse, 0);
  unlink(dump.c_str());
}

}  // namespace

namespace {

// A terminal map inside a block goes to the map parser, which reads up to
// the "))" that ends the block; the output table becomes a private copy.
TEST_F(env_fixture, terminal_map_hands_over_to_the_map_parser) {
  write_defaults("#SYSTEM\nM=10\nMAP=1,2\n3,4\nC=9\n))\n#vt100\nF=5\n))\n");
  ASSERT_EQ(init({"TERM=vt100"}), 0);
  EXPECT_EQ(zrmeq, 10);
  EXPECT_EQ(zrceq, 1);  // a line of the map, not a setting
  EXPECT_EQ(zrfeq, 5);  // the map's "))" ended the SYSTEM block
  EXPECT_NE(table_out_p, table_out);
  EXPECT_EQ(table_out_p[65], 65);
}

}  // namespace
