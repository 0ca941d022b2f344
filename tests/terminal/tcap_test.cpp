// The capabilities of real terminfo entries (and entries compiled for the
// tests): the tables that inicap builds, the settings that change them,
// the colour/attribute map, the termcap-style expander and the padding.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/terminal/phys.h"
#include "run/terminal/tcap.h"
#include "tests/terminal/drive.h"

namespace {

struct tcap_fixture : ::testing::Test {
  std::string out;  // what inicap sent to the terminal

  void SetUp() override {
    setenv("TERMINFO", test_terminfo().c_str(), 1);
    phys_capture_for_test(&out);
  }
  void TearDown() override {
    tc_reset_for_test();
    cf_list = line_draw1 = line_draw2 = arrow_list = graph_chars = nullptr;
    ztc_cs80 = ztc_cs132 = conc_key = nullptr;
    vx_8bit = 0;
    ztc_ospeed = 0;
    phys_capture_for_test(nullptr);
  }
  void load(const char *term) {
    tc_reset_for_test();
    out.clear();
    active_terminal = term;
    inicap();
  }
};

std::string s(const char *p) {
  return p ? p : "(null)";
}

TEST_F(tcap_fixture, real_entries_give_their_strings_costs_and_size) {
  struct row {
    const char *term;
    const char *reverse;  // attribute combination 4
    const char *right;    // the right-arrow key
    const char *label1;
    int cm, cv, ch;
  };
  for (row r : {row{"xterm-256color", "\x1b(B\x1b[0;7m", "\x1bOC", "F1", 8, 5, 5},
                row{"vt100", "\x1b[0;7m\x0f$<2>", "\x1bOC", "pf1", 12, 12, 12},
                row{"linux", "\x1b[0;10;7m\x0f", "\x1b[C", "F1", 8, 5, 5},
                row{"screen", "\x1b[0;7m\x0f", "\x1bOC", "F1", 8, 5, 5}}) {
    SCOPED_TRACE(r.term);
    load(r.term);
    EXPECT_EQ(s(ztcvec[4]), r.reverse);
    EXPECT_EQ(s(ztc[ZTC_KR]), r.right);
    EXPECT_EQ(s(keylabel[1]), r.label1);
    EXPECT_EQ(s(keylabel[10]), "F10");
    EXPECT_EQ(tc.cm_cost, r.cm);
    EXPECT_EQ(tc.cv_cost, r.cv);
    EXPECT_EQ(tc.ch_cost, r.ch);
    EXPECT_EQ(tc.ce_cost, std::string(r.term) == "vt100" ? 7 : 3);  // "\E[K$<3>"
    EXPECT_EQ(tc.cols, 80);
    EXPECT_EQ(tc.am_flag, 1);
    EXPECT_EQ(tc.attr_mode, 0);
    EXPECT_EQ(tc.set_attrib_grf, 1);  // set_attributes switches the line-drawing set
    EXPECT_EQ(tc.grf_state, 1);
    EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_VERT]), "x");
    EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_UL]), "l");
    EXPECT_EQ(ztcvec[ZV_LINE2 + LD_CROSS], ztcvec[ZV_LINE1 + LD_CROSS]);
    // the block holds everything, each string inside it
    EXPECT_GE(ztcvec[15], tc.block);
    EXPECT_LT(ztcvec[15], tc.block + TC_BLOCK);
    EXPECT_LE(ztcptr, tc.block + TC_BLOCK);
  }
  EXPECT_EQ(s(ztc[ZTC_KB]), "\x7f");  // screen's backspace key
  EXPECT_EQ(s(ztcvec[ZV_SMACS]), "\x0e");
  EXPECT_EQ(tc.rows, 24);
}

TEST_F(tcap_fixture, initialisation_strings_go_out_at_once) {
  load("xterm-256color");
  EXPECT_EQ(out, "\x1b[!p\x1b[?3;4l\x1b[4l\x1b>\x1b]104\x07\x1b[39;49m");  // is2, oc, op
  load("vt100");
  EXPECT_EQ(out, "\x1b(B\x1b)0");  // ena_acs only
}

TEST_F(tcap_fixture, code_settings_change_only_what_they_list) {
  cf_list = "1,2";
  load("xterm-256color");
  EXPECT_EQ(cf_code[0], 1);
  EXPECT_EQ(cf_code[1], 2);
  EXPECT_EQ(cf_code[2], 0x8D);
  EXPECT_EQ(tc_class(1), CT_ATTR + 0);
  EXPECT_EQ(tc_class(0x8B), CT_ORDINARY);  // no longer a code
  // the default codes of 12-15 repeat 4-7: the lower index wins
  EXPECT_EQ(tc_class(0x8F), CT_ATTR + 4);
  EXPECT_EQ(tc_class(0x80), CT_LINE1 + LD_UL);
  EXPECT_EQ(tc_class(0x9A), CT_LINE2 + LD_CROSS);
  EXPECT_EQ(tc_class(0x0A), CT_CONTROL);

  cf_list = "200,201,202,203,204,205,206,207,208,209,210,211,212,213,214,215,216,217";
  line_draw1 = "1000,x,150";  // not numbers: the defaults stay
  arrow_list = "1,2";
  load("xterm-256color");
  EXPECT_EQ(cf_code[15], 215);
  EXPECT_EQ(cf_code[CF_LINE1], 0x80);
  EXPECT_EQ(cf_code[CF_LINE1 + 1], 0x81);
  EXPECT_EQ(cf_code[CF_LINE1 + 2], 150);
  EXPECT_EQ(cf_code[CF_ARROWS], 1);
  EXPECT_EQ(cf_code[CF_ARROWS + 2], 0x0A);
  EXPECT_EQ(tc_class(216), CT_ORDINARY);  // the excess number is ignored
}

TEST_F(tcap_fixture, eight_bit_characters_keep_one_attribute_code) {
  vx_8bit = 1;
  line_draw2 = "1,2,3";
  load("xterm-256color");
  EXPECT_EQ(tc_class(0x9B), CT_ORDINARY);  // attribute 5 by default, now a character
  EXPECT_EQ(tc_class(0x8B), CT_ATTR);
  for (int i = 1; i < 16; i++) EXPECT_EQ(cf_code[i], 0x8B);
  EXPECT_EQ(cf_code[CF_LINE2], 0x80);  // set 2 is set 1, LINE_DRAW2 unread
  EXPECT_EQ(tc_class(0x90), CT_ORDINARY);
  EXPECT_EQ(tc_class(0x8A), CT_LINE1 + LD_CROSS);
}

TEST_F(tcap_fixture, line_drawing_without_acs_chars) {
  load("qcookie");  // no acs_chars, no alternate character set
  EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_UL]), "+");
  EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_HORIZ]), "-");
  EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_VERT]), "!");
  EXPECT_EQ(tc.grf_state, 0);
  EXPECT_EQ(tc.attr_mode, 1);
  graph_chars = "lAkBmCjDwEuFtGvHqIxJ";  // no cross: it stands for itself
  load("qcookie");
  EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_UL]), "A");
  EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_VERT]), "J");
  EXPECT_EQ(s(ztcvec[ZV_LINE1 + LD_CROSS]), "n");
}

TEST_F(tcap_fixture, terminal_without_attributes_gets_empty_sequences) {
  load("qplain");
  for (int k = 0; k < 16; k++) EXPECT_EQ(s(ztcvec[k]), "") << k;
  EXPECT_EQ(get_attr_sequence(4), nullptr);
  EXPECT_EQ(tc.set_attrib_grf, 0);
  EXPECT_EQ(tc.ch_cost, tc.cm_cost);  // no column addressing
  EXPECT_EQ(tc.ce_cost, 3);
}

TEST_F(tcap_fixture, byte_lists_become_strings_in_the_block) {
  ztc_cs80 = "27-91-63-51-108";
  ztc_cs132 = "27 - 91-63-51-104";
  conc_key = "1";
  load("xterm-256color");
  EXPECT_EQ(s(ztcvec[ZV_CS80]), "\x1b[?3l");
  EXPECT_EQ(s(ztcvec[ZV_CS132]), "\x1b[?3h");
  EXPECT_EQ(s(conc_key), "\x01");
  EXPECT_GE(conc_key, tc.block);
  EXPECT_LT(conc_key, tc.block + TC_BLOCK);
}

// inicap with its messages on standard error, where the death test sees them
void inicap_to_stderr() {
  phys_capture_for_test(nullptr);
  dup2(2, 1);
  inicap();
}

TEST_F(tcap_fixture, failures_end_the_process) {
  active_terminal = "no-such-terminal-type";
  EXPECT_EXIT(inicap_to_stderr(), ::testing::ExitedWithCode(255), "terminfo problem\\.");
  active_terminal = "qhuge";
  EXPECT_EXIT(inicap_to_stderr(), ::testing::ExitedWithCode(255), "OUT OF MEMORY for terminfo");
}

TEST_F(tcap_fixture, byte_lists_that_overflow_the_block_end_the_process) {
  std::string many;
  for (int i = 0; i < 200; i++) many += "65-";
  ztc_cs80 = many.c_str();
  ztc_cs132 = many.c_str();
  conc_key = many.c_str();
  active_terminal = "xterm-256color";
  EXPECT_EXIT(inicap_to_stderr(), ::testing::ExitedWithCode(255), "OUT OF MEMORY for terminfo");
}

TEST(vx_tgoto, classic_cursor_strings) {
  struct row {
    const char *cap;
    int h, v;
    std::string want;
  };
  for (const row &r : std::initializer_list<row>{
           {"\x1b=%+ %+ ", 5, 2, "\x1b=\x22\x25"},  // line first
           {"%r%d;%d", 5, 2, "5;2"},
           {"%d;%d", 5, 2, "2;5"},
           {"\x1b[%i%d;%dH", 5, 2, "\x1b[3;6H"},
           {"%2,%3", 7, 4, "04,007"},
           {"%%%d", 0, 12, "%12"},
           {"%>\x05\x10%d", 0, 9, "25"},  // 9 > 5: plus 16
           {"%B%d", 0, 27, "39"},
           {"%D%d", 0, 20, "12"},
           {"%n%d,%d", 3, 2, "98,99"},
           {"%z", 1, 1, "OOPS"},
           {"%", 1, 1, "OOPS"},
           {"0123456789012345678901234567890%d", 1, 1, "OOPS"},
       }) {
    const char *got = vx_tgoto(r.cap, r.h, r.v);
    EXPECT_EQ(std::string(got, size_t(tgoto_len)), r.want) << r.cap;
  }
  EXPECT_EQ(std::string(vx_tgoto(nullptr, 1, 1)), "");
  EXPECT_EQ(tgoto_len, 0);
}

TEST(vx_tgoto, awkward_bytes_use_up_and_bc) {
  vx_up = "\x1b[A";
  vx_bc = "\b";
  // line 9 would be a tab: 10 would be a line feed, so 11, and UP twice
  const char *got = vx_tgoto("\x1bY%.%.", 0, 9);
  EXPECT_EQ(std::string(got, size_t(tgoto_len)), "\x1bY\x0b\x01\x1b[A\x1b[A\b");
  vx_up = vx_bc = nullptr;
  got = vx_tgoto("%.", 0, 9);  // without UP the byte goes as it is
  EXPECT_EQ(std::string(got, size_t(tgoto_len)), "\x09");
}

TEST(camap, grows_in_steps_of_sixteen_and_refuses_negative_codes) {
  camap_reset_for_test();
  for (int k = 0; k < 16; k++) ASSERT_EQ(set_camap(k, k, -1, -1), 0);
  EXPECT_EQ(norm_attribute, 0);
  ASSERT_EQ(set_camap(40, 4, 1, 2), 0);
  EXPECT_EQ(camap_size, 48);
  camap_ent e = camap_get(20);
  EXPECT_EQ(e.attribute + e.fg_color + e.bg_color, 0);
  e = camap_get(40);
  EXPECT_EQ(e.fg_color, 1);
  EXPECT_EQ(camap_get(47).attribute, 0);
  EXPECT_EQ(camap_get(48).attribute, camap_get(0).attribute);  // past the table: entry 0
  EXPECT_EQ(camap_get(-3).attribute, camap_get(0).attribute);
  EXPECT_EQ(camap_get(CA_UNKNOWN).attribute, 255);
  EXPECT_EQ(camap_get(CA_NORMAL).fg_color, 255);
  EXPECT_EQ(set_camap(-1, 0, 0, 0), -1);
  EXPECT_EQ(camap_size, 48);
  ASSERT_EQ(set_camap(0, 0, 3, -1), 0);
  EXPECT_EQ(norm_attribute, CA_NORMAL);
  ASSERT_EQ(set_camap(0, 0, -1, -1), 0);
  EXPECT_EQ(norm_attribute, 0);
  camap_reset_for_test();
}

TEST(vx_nap, padding_follows_the_line_speed) {
  std::string out;
  phys_capture_for_test(&out);
  phys_buffer_init();
  tc.pad = 0;
  ztc_ospeed = 13;  // 9600 baud: a character takes 1.0 ms
  vx_nap(100);
  zbuf_flush();
  EXPECT_EQ(out, std::string(10, '\0'));
  out.clear();
  ztc_ospeed = 1;  // 50 baud: 200 ms a character
  vx_nap(2999);
  zbuf_flush();
  EXPECT_EQ(out.size(), 1u);
  out.clear();
  for (unsigned speed : {0u, 16u, 0x1002u}) {
    ztc_ospeed = speed;
    vx_nap(1000);
  }
  zbuf_flush();
  EXPECT_EQ(out, "");
  ztc_ospeed = 0;
  phys_capture_for_test(nullptr);
}

}  // namespace
