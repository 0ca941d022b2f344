// Printer capability entries and the terminal's "MAP=" lines, read from a
// real defaults file through the configuration reader's printer pass.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run/config/env.h"
#include "run/config/lptab.h"
#include "run/config/settings.h"
#include "run/startup/startup.h"
#include "run/terminal/kmap.h"
#include "run/terminal/lcap.h"

extern char **environ;

namespace {

struct lcap_fixture : ::testing::Test {
  std::string path = "/tmp/quillon-lcap-" + std::to_string(getpid());
  std::string err_path = path + ".err";
  std::vector<std::string> env_text;
  std::vector<char *> env_ptrs;
  char **saved_environ = environ;

  void TearDown() override {
    env_reset_for_test(saved_environ);
    unlink(path.c_str());
    unlink(err_path.c_str());
  }

  // Runs the configuration over the defaults text with the given
  // variables; returns what went to the standard error output.
  std::string load(const std::string &text, std::vector<std::string> env = {"LP1=p1"}) {
    std::ofstream(path) << text;
    env.push_back("VXDEFAULT=" + path);
    env_text = env;
    env_ptrs.clear();
    for (auto &e : env_text) env_ptrs.push_back(e.data());
    env_ptrs.push_back(nullptr);
    env_reset_for_test(env_ptrs.data());
    char arg0[] = "run";
    char *argv[] = {arg0, nullptr};
    int saved = dup(2);
    int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
    msg_count = 0;
    run_hooks();
    EXPECT_EQ(env_init(1, argv), 0);
    dup2(saved, 2);
    close(saved);
    std::stringstream ss;
    ss << std::ifstream(err_path).rdbuf();
    return ss.str();
  }

  const lp_info *rec(const char *digit = "1") {
    int slot = getlcapidx(digit);
    return slot > 0 ? lp_list[slot] : nullptr;
  }
  // the offset of fixed effect e of printer LP1; -1 without a record
  long effect(int e) {
    const lp_info *r = rec();
    return r ? r->eff[e] : -1;
  }
};

std::string text(const lp_info *r, unsigned off) {
  int n = 0;
  const uint8_t *p = lcap_text(r, off, &n);
  return p ? std::string(reinterpret_cast<const char *>(p), size_t(n)) : "<none>";
}

std::string attr_on(const lp_info *r, int letter) {
  int i = lcap_attr(r, letter);
  return i < 0 ? "<none>" : text(r, r->eff[i]);
}

std::string attr_off(const lp_info *r, int letter) {
  int i = lcap_attr(r, letter);
  return i < 0 ? "<none>" : text(r, lcap_off_text(r, i));
}

TEST_F(lcap_fixture, attribute_and_fixed_effects) {
  std::string err = load(
      "[PRINTER]\n#p1\n# a comment\n: another\n\nB=$-69,$-70\r\nINIT=27-'@'\nFL=$-'C'-'%'\n"
      "LPI=$-50\nCS=27-40-48\nDEINIT=12\nC=1,2\nI=3,4\nM=5,\n))\n");
  EXPECT_EQ(err, "");
  const lp_info *r = rec();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(attr_on(r, 'B'),
            "\x1b"
            "E");
  EXPECT_EQ(attr_off(r, 'B'),
            "\x1b"
            "F");
  EXPECT_EQ(r->dumbflg, 0x19);  // A, D and E missing; B and C defined
  EXPECT_EQ(text(r, r->eff[EFF_INIT]), "\x1b@");
  EXPECT_EQ(text(r, r->eff[EFF_FL]),
            "\x1b"
            "C%");
  EXPECT_EQ(text(r, r->eff[EFF_LPI]), "\x1b\x32");
  EXPECT_EQ(text(r, r->eff[EFF_CS]), "\x1b(0");
  EXPECT_EQ(text(r, r->eff[EFF_DEINIT]), "\f");
  EXPECT_EQ(r->eff[EFF_INITFILE], 0);
  EXPECT_EQ(attr_on(r, 'I'), "\x03");  // keyword letters serve as attributes
  EXPECT_EQ(attr_off(r, 'M'), "");     // an empty "off" part
  EXPECT_STREQ(r->eff_list, "BCIM");
  EXPECT_EQ(r->map2, nullptr);      // no character has further bytes
  EXPECT_EQ(r->map1, table_out_p);  // an unchanged map is shared
}

TEST_F(lcap_fixture, lists_continue_over_lines_and_letters_are_redefined) {
  std::string err = load("[PRINTER]\n#p1\nINIT=27-\n69-\r\n'abc'\nU=1,2\nU=$-'-',$-'='\n))\n");
  EXPECT_EQ(err, "");
  const lp_info *r = rec();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(text(r, r->eff[EFF_INIT]),
            "\x1b"
            "Eabc");
  EXPECT_EQ(r->eff_cnt, 1);
  EXPECT_EQ(attr_on(r, 'U'), "\x1b-");
  EXPECT_EQ(attr_off(r, 'U'), "\x1b=");
}

TEST_F(lcap_fixture, printer_map_and_line_drawing_defaults) {
  std::string err = load(
      "[PRINTER]\n#p1\nMAP=65,27-40\nMAP=66,'x'\nMAP=128,0\nMAP=136,0\nMAP=137,0\nMAP=152,0\n))\n");
  EXPECT_EQ(err, "");
  const lp_info *r = rec();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->map1[65], 27);
  ASSERT_NE(r->map2, nullptr);
  EXPECT_EQ(text(r, r->map2[65]), "(");
  EXPECT_EQ(r->map1[66], 'x');
  EXPECT_EQ(r->map2[66], 0);
  EXPECT_EQ(r->map1[0x80], '+');   // upper-left corner
  EXPECT_EQ(r->map1[0x88], '-');   // horizontal line
  EXPECT_EQ(r->map1[0x89], '!');   // vertical line
  EXPECT_EQ(r->map1[0x98], '-');   // horizontal line of the second set
  EXPECT_EQ(r->map1[0x81], 0x81);  // not 0: stays as it is
  EXPECT_NE(r->map1, table_out_p);
}

// LINE_DRAW1 and LINE_DRAW2 move the line-drawing codes: the defaults
// follow them, and a former code keeps what the entry gives it.
TEST_F(lcap_fixture, line_drawing_defaults_follow_the_configured_codes) {
  std::string err = load("[PRINTER]\n#p1\nMAP=128,0\nMAP=200,0\nMAP=208,0\nMAP=227,0\n))\n",
                         {"LP1=p1", "LINE_DRAW1=200,201,202,203,204,205,206,207,208,209,210",
                          "LINE_DRAW2=220,221,222,223,224,225,226,227"});
  EXPECT_EQ(err, "");
  const lp_info *r = rec();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->map1[200], '+');  // upper-left corner
  EXPECT_EQ(r->map1[208], '-');  // horizontal line
  EXPECT_EQ(r->map1[227], '+');  // bottom tee of the second set
  EXPECT_EQ(r->map1[0x80], 0);   // no longer a line-drawing code
}

TEST_F(lcap_fixture, terminal_map_lines) {
  std::string err = load("#SYSTEM\nM=10\nMAP=97,98\nMAP=1,2,3\n# note\n))\nC=7\n", {"TERM=vt100"});
  EXPECT_EQ(err, "");
  EXPECT_EQ(table_in[97], 98);
  EXPECT_EQ(table_out_p[98], 98);  // two parts: b prints as itself
  EXPECT_EQ(table_in[1], 2);
  EXPECT_EQ(table_out_p[2], 3);
  EXPECT_EQ(table_out[2], 2);  // the built-in table is unchanged
}

// Each broken line is reported with its true line number and ends the
// entry; what came before it stays.
TEST_F(lcap_fixture, errors_are_reported_with_their_lines) {
  struct {
    const char *line;     // the broken line (line 5 of the file)
    const char *message;  // what the report says after "line 5: "
  } cases[] = {
      {"B=27", ", expected"},
      {"INIT=27,28", ", unexpected"},
      {"INIT=256", "256 unexpected"},
      {"INIT=27 28", " 28 unexpected"},
      {"INIT=27x", "x unexpected"},
      {"INIT=''", "'' unexpected"},
      {"INIT='ab", "'ab unexpected"},
      {"MAP=65", ", expected"},
      {"MAP=65,", "(line end) unexpected"},
      {"MAP=,65", ", unexpected"},
      {"))x", "x unexpected"},
      {"1=2,3", "1=2 unexpected"},
      {"XY=3", "XY=3 unexpected"},
      {"INITFILE=/nonexistent/file", "/nonexistent/file cannot be read."},
      {"DEINITFILE=", "(line end) unexpected"},
      {"U=1,2,3", ", unexpected"},
  };
  for (auto &c : cases) {
    std::string file = "[PRINTER]\n:\n#p1\nDEINIT=7\n" + std::string(c.line) + "\nINIT=1\n))\n";
    std::string err = load(file);
    EXPECT_EQ(err,
              "/tmp/quillon-lcap-" + std::to_string(getpid()) + ", line 5: " + c.message + "\n\r")
        << c.line;
    EXPECT_EQ(msg_count, 1) << c.line;
    const lp_info *r = rec();
    ASSERT_NE(r, nullptr) << c.line;
    EXPECT_EQ(text(r, r->eff[EFF_DEINIT]), "\a") << c.line;  // read before the error
    EXPECT_EQ(r->eff[EFF_INIT], 0) << c.line;                // the rest is passed over
    EXPECT_EQ(lcap_attr(r, 'U'), -1) << c.line;              // no half attribute
  }
}

// Parts longer than one pool item are refused, never wrapped or overrun:
// a quoted text of 256 bytes, and a list continued over lines that grows
// past the collection buffer.
TEST_F(lcap_fixture, long_values_are_refused) {
  std::string err = load("[PRINTER]\n#p1\nINIT='" + std::string(256, 'a') + "'\n))\n");
  EXPECT_NE(err.find("line 3: 'aaaa"), std::string::npos) << err;
  EXPECT_EQ(
      err.size(),
      81u);  // cut to 79 characters and the line end  // cut to 79 characters and the line end
  EXPECT_EQ(effect(EFF_INIT), 0);

  std::string list = "[PRINTER]\n#p1\nINIT=";
  for (int i = 0; i < 600; i++) list += "65-\n";
  list += "66\n))\n";
  err = load(list);
  EXPECT_NE(err.find("line 258: 65 unexpected"), std::string::npos) << err;
  EXPECT_EQ(effect(EFF_INIT), 0);

  std::string just =
      "[PRINTER]\n#p1\nINIT='" + std::string(200, 'a') + "'-'" + std::string(55, 'b') + "'\n))\n";
  EXPECT_EQ(load(just), "");  // 255 bytes fit
  EXPECT_EQ(text(rec(), unsigned(effect(EFF_INIT))).size(), 255u);
}

// A "#" line inside an entry is a comment, so the entry runs on to the end
// of the file when its "))" is missing; the last of two entries stands.
TEST_F(lcap_fixture, entry_boundaries) {
  std::string err = load("[PRINTER]\n#p1\nINIT=1\n#p2\nINIT=2\n", {"LP1=p1", "LP2=p2"});
  EXPECT_EQ(err, "");
  EXPECT_EQ(msg_count, 1);  // LP2's entry was not found
  EXPECT_EQ(text(rec(), unsigned(effect(EFF_INIT))), "\x02");
  EXPECT_EQ(rec("2"), nullptr);

  err = load("[PRINTER]\n#p1\nINIT=1\n))\n#p1\nDEINIT=2\n))\n", {"LP1=p1", "LP4=p1"});
  EXPECT_EQ(err, "");
  EXPECT_EQ(effect(EFF_INIT), 0);
  EXPECT_EQ(text(rec(), unsigned(effect(EFF_DEINIT))), "\x02");
  EXPECT_EQ(rec("4"), rec());
}

TEST_F(lcap_fixture, init_file_names_are_kept_with_a_zero_byte) {
  std::string f = path + ".init";
  std::ofstream(f) << "x";
  std::string err = load("[PRINTER]\n#p1\nINITFILE=" + f + "\n))\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(text(rec(), unsigned(effect(EFF_INITFILE))), f + std::string(1, '\0'));
  unlink(f.c_str());
}

TEST_F(lcap_fixture, terminal_mode_takes_only_maps) {
  std::string err = load("#SYSTEM\nMAP=1,2\nB=1,2\nMAP=3,4\n))\nF=9\n", {"TERM=vt100"});
  EXPECT_NE(err.find(", line 3: B=1 unexpected"), std::string::npos) << err;
  EXPECT_EQ(table_in[1], 2);
  EXPECT_EQ(table_in[3], 3);  // after the error: passed over up to "))"
  EXPECT_EQ(zrfeq, 40);       // the block ended at the map's "))"
}

}  // namespace
