// The control language on the virtual image: cursor movement, writing and
// scrolling, field and character attributes, erasing, inserting and
// deleting, boxes and their merging, the raw load, transparent printing,
// the saved-screen stack and its pool, width switches and copying out.
// The terminal's bytes are collected, not sent.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <string>

#include "run/base/interp.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/terminal/kmap.h"
#include "run/terminal/phys.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"
#include "tests/terminal/drive.h"

namespace {

struct image_fixture : ::testing::Test {
  std::string out;  // bytes for the terminal

  void SetUp() override { start("xterm-256color"); }
  void TearDown() override {
    sc_reset_for_test();
    tc_reset_for_test();
    vx_screen = 0;
    ztc_cs132 = nullptr;
    ztcphs = 0;
    phys_capture_for_test(nullptr);
  }
  void start(const char *term) {
    setenv("TERMINFO", test_terminfo().c_str(), 1);
    phys_capture_for_test(&out);
    kmap_init();
    sc_reset_for_test();
    tc_reset_for_test();
    active_terminal = term;
    inicap();
    ASSERT_EQ(sc_init(), 1);
    zflush(1);
    out.clear();
  }
  void put(const std::string &bytes) { zoutnc(bytes.data(), int(bytes.size())); }
  std::string row(int r) {
    std::string s;
    for (int c = 0; c < sc_view()->ncol; c++) s += char(sc_cell(r, c).chr);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  int att(int r, int c) { return sc_cell(r, c).att; }
  int chr(int r, int c) { return sc_cell(r, c).chr; }
  void at(int r, int c) { put(esc({0x0B, r + 1}) + esc({0x09, c + 1})); }
  std::pair<int, int> cursor() { return {sc_view()->row, sc_view()->col}; }
  int code(int element) { return cf_code[CF_LINE1 + element]; }
};

using pos = std::pair<int, int>;

TEST_F(image_fixture, positions_are_one_based_and_stay_on_the_screen) {
  put("AB" + esc({0x09, 1}) + "C");
  EXPECT_EQ(row(0), "CB");
  put(esc({0x09, 200}));
  EXPECT_EQ(cursor(), pos(0, 79));
  put(esc({0x0B, 99}));
  EXPECT_EQ(cursor(), pos(23, 79));
  put(esc({0x0B, 0}) + esc({0x09, 0}));  // the parameter byte 0: row and column 0
  EXPECT_EQ(cursor(), pos(0, 0));
  put("\b");  // from the top-left cell to the bottom-right cell
  EXPECT_EQ(cursor(), pos(23, 79));
  put(esc({0x09, 1}) + "\b");
  EXPECT_EQ(cursor(), pos(22, 79));
  put("xy\r");
  EXPECT_EQ(cursor(), pos(23, 0));
  put(esc({'Q'}));  // an unknown command advances without storing
  EXPECT_EQ(cursor(), pos(23, 1));
  EXPECT_EQ(row(23), "y");
}

TEST_F(image_fixture, line_feed_and_writing_past_the_end_scroll) {
  put("top");
  at(23, 5);
  put("bottom\n");
  EXPECT_EQ(cursor(), pos(23, 11));
  EXPECT_EQ(row(22), "     bottom");
  EXPECT_EQ(row(23), "");
  EXPECT_EQ(row(0), "");  // "top" scrolled away
  at(23, 78);
  put("xyz");
  EXPECT_EQ(row(22), std::string(78, ' ') + "xy");
  EXPECT_EQ(row(23), "z");
  EXPECT_EQ(cursor(), pos(23, 1));
}

TEST_F(image_fixture, field_attribute_codes_rule_up_to_the_next_code) {
  const int rev = cf_code[4], normal = cf_code[0];
  put("ONE" + std::string(1, char(rev)) + "TWO THREE");
  EXPECT_EQ(att(0, 2), 0);
  EXPECT_EQ(att(0, 3), 4);  // the code's own cell
  EXPECT_EQ(att(0, 4), 4);
  EXPECT_EQ(att(5, 0), 4);  // on to the end of the screen
  put(esc({0x09, 8}) + std::string(1, char(normal)));
  EXPECT_EQ(att(0, 6), 4);
  EXPECT_EQ(att(0, 8), 0);
  EXPECT_EQ(att(0, 9), 0);
  put(esc({0x09, 4}) + "x");  // a letter over the code: the cells it ruled go back
  EXPECT_EQ(row(0), "ONExTWO" + std::string(1, char(normal)) + "THREE");
  EXPECT_EQ(att(0, 3), 0);
  EXPECT_EQ(att(0, 5), 0);
  put(esc({0x09, 1}) + esc({0x14, 9}));  // code 0 that rules with map code 9
  EXPECT_EQ(chr(0, 0), normal);
  EXPECT_EQ(att(0, 1), 9);
  EXPECT_EQ(att(0, 6), 9);
  EXPECT_EQ(att(0, 7), 0);  // the next code
}

TEST_F(image_fixture, character_attribute_mode) {
  put(esc({0x15, 5}) + "ab" + esc({0x15, 255}) + "c");
  EXPECT_EQ(att(0, 0), 5);
  EXPECT_EQ(att(0, 1), 5);
  EXPECT_EQ(att(0, 2), 0);
  put(esc({0x15, 6}) + esc({0x1E}));  // an erase fills with the character attribute
  EXPECT_EQ(att(0, 3), 6);
  EXPECT_EQ(att(0, 79), 6);
  EXPECT_EQ(att(1, 0), 0);
  put(std::string(1, char(cf_code[2])) + "d");  // a field code ends the mode
  EXPECT_EQ(att(0, 4), 2);
  start("qcookie");  // attributes that take a cell: the mode is refused
  put(esc({0x15, 5}) + "ab");
  EXPECT_EQ(att(0, 0), 0);
}

TEST_F(image_fixture, raw_load_counts_bytes_and_stores_no_unknown_look) {
  put(esc({0x16, 3, 0}) + "\x07Q\x09R");
  EXPECT_EQ(chr(0, 0), 'Q');
  EXPECT_EQ(att(0, 0), 7);
  EXPECT_EQ(att(0, 1), 9);    // the third byte, an attribute, ends the load
  EXPECT_EQ(chr(0, 1), 'R');  // the fourth is ordinary again
  EXPECT_EQ(cursor(), pos(0, 2));
  put(esc({0x16, 0, 0}) + "S");  // a count of 0 ends at once
  EXPECT_EQ(chr(0, 2), 'S');
  put(esc({0x16, 2, 0}) + "\xffT");
  EXPECT_EQ(att(0, 3), CA_NORMAL);
  std::string big = esc({0x16, 0, 1});  // 256 bytes: 128 cells
  for (int i = 0; i < 128; i++) big += std::string("\x01") + char('a' + i % 26);
  at(23, 70);
  put(big);
  EXPECT_EQ(cursor(), pos(23, 38));  // scrolled once, nothing outside the image
}

TEST_F(image_fixture, erasing_keeps_field_attributes_in_force) {
  const int rev = cf_code[4];
  put("AAAA" + std::string(1, char(rev)) + "BBBB");
  at(1, 0);
  put("CCCC");
  at(0, 2);
  put(esc({0x1E}));  // the code goes: the cells it ruled get the attribute before it
  EXPECT_EQ(row(0), "AA");
  EXPECT_EQ(att(0, 3), 0);
  EXPECT_EQ(att(0, 6), 0);
  EXPECT_EQ(att(1, 0), 0);  // beyond the erased row too
  EXPECT_EQ(row(1), "CCCC");
  at(1, 1);
  put(esc({0x1D}));
  EXPECT_EQ(row(1), "C");
  put("\x0c");
  EXPECT_EQ(cursor(), pos(0, 0));
  EXPECT_EQ(row(1), "");
}

TEST_F(image_fixture, cells_inserted_and_deleted_in_the_row) {
  put("ABCDEFGH");
  at(1, 0);
  put("next");
  at(0, 2);
  put(esc({0x10, 3}));
  EXPECT_EQ(row(0), "AB   CDEFGH");
  put(esc({0x11, 4}));
  EXPECT_EQ(row(0), "ABDEFGH");
  put(esc({0x10, 255}));  // more than the rest of the row: the row's end only
  EXPECT_EQ(row(0), "AB");
  EXPECT_EQ(row(1), "next");
  at(1, 78);
  put(esc({0x11, 200}));
  EXPECT_EQ(row(1), "next");
  const int rev = cf_code[4];
  at(2, 0);
  put("xy" + std::string(1, char(rev)) + "z");
  at(2, 0);
  put(esc({0x11, 3}));  // the code is deleted: its rule ends
  EXPECT_EQ(att(3, 0), 0);
}

TEST_F(image_fixture, rows_inserted_and_deleted) {
  for (int r = 0; r < 24; r++) {
    at(r, 0);
    put(std::string(1, char('a' + r)));
  }
  at(2, 5);
  put(esc({0x12, 2}));
  EXPECT_EQ(row(2), "");
  EXPECT_EQ(row(4), "c");
  EXPECT_EQ(row(23), "v");
  EXPECT_EQ(cursor(), pos(2, 5));
  put(esc({0x13, 3}));
  EXPECT_EQ(row(2), "d");
  EXPECT_EQ(row(20), "v");
  EXPECT_EQ(row(21), "");
  at(22, 0);
  put(esc({0x13, 200}));
  EXPECT_EQ(row(21), "");
  EXPECT_EQ(row(20), "v");
}

TEST_F(image_fixture, boxes_lines_and_merging) {
  at(2, 2);
  put(esc({0x40, 8, 6}));  // columns 2-7, rows 2-5
  EXPECT_EQ(chr(2, 2), code(LD_UL));
  EXPECT_EQ(chr(2, 7), code(LD_UR));
  EXPECT_EQ(chr(5, 2), code(LD_LL));
  EXPECT_EQ(chr(5, 7), code(LD_LR));
  EXPECT_EQ(chr(3, 2), code(LD_VERT));
  EXPECT_EQ(chr(2, 4), code(LD_HORIZ));
  EXPECT_EQ(cursor(), pos(2, 2));  // the cursor stays
  // a line across the box merges: tees at its sides, nothing past its ends
  at(3, 0);
  put(esc({0x44, 10, 4}));
  EXPECT_EQ(chr(3, 2), code(LD_CROSS));
  EXPECT_EQ(chr(3, 7), code(LD_CROSS));
  EXPECT_EQ(chr(3, 0), code(LD_HORIZ));
  // a line that ends on a side makes a tee; a box across a box makes crosses
  at(4, 2);
  put(esc({0x44, 8, 5}));
  EXPECT_EQ(chr(4, 2), code(LD_LTEE));
  EXPECT_EQ(chr(4, 7), code(LD_RTEE));
  at(1, 5);
  put(esc({0x44, 11, 7}));  // columns 5-10, rows 1-6
  EXPECT_EQ(chr(2, 5), code(LD_CROSS));
  EXPECT_EQ(chr(5, 5), code(LD_CROSS));
  EXPECT_EQ(chr(1, 5), code(LD_UL));
  // without merging the element replaces
  at(4, 0);
  put(esc({0x40, 12, 5}));
  EXPECT_EQ(chr(4, 2), code(LD_HORIZ));
}

TEST_F(image_fixture, filled_boxes_attributes_and_clipping) {
  put("XXXXXXXX");
  at(0, 0);
  put(esc({0x43, 6, 4, 7}));  // filled, attribute 7: columns 0-5, rows 0-3
  EXPECT_EQ(row(1), std::string(1, char(code(LD_VERT))) + "    " + char(code(LD_VERT)));
  EXPECT_EQ(att(1, 3), 7);
  EXPECT_EQ(att(0, 0), 7);
  EXPECT_EQ(chr(0, 6), 'X');
  // a filled box drawn over a line: the sides lose the arm into the box
  at(10, 0);
  put(esc({0x44, 20, 11}));
  at(9, 5);
  put(esc({0x45, 10, 13}));  // columns 5-9, rows 9-12, filled and merged
  EXPECT_EQ(chr(10, 5), code(LD_RTEE));
  EXPECT_EQ(chr(10, 9), code(LD_LTEE));
  EXPECT_EQ(chr(10, 7), ' ');
  // clipped to the screen: a box entirely off it becomes the edge
  at(23, 79);
  put(esc({0x40, 255, 255}));
  EXPECT_EQ(chr(23, 79), code(LD_VERT));
  at(5, 5);
  put(esc({0x40, 0, 0}));  // position byte 0: clipped to the first row and column
  EXPECT_EQ(chr(0, 0), code(LD_UL));
  EXPECT_EQ(chr(5, 5), code(LD_LR));
  // one cell: a vertical line there and nothing else
  at(15, 40);
  put(esc({0x40, 41, 16}));
  EXPECT_EQ(chr(15, 40), code(LD_VERT));
  EXPECT_EQ(row(14), "");
  EXPECT_EQ(row(16), "");
}

TEST_F(image_fixture, sequences_split_over_writes_act_the_same) {
  std::string seq = esc({0x0B, 5}) + esc({0x09, 3}) + "AB" + esc({0x42, 10, 8, 3}) + "C";
  for (char c : seq) zoutc(c);
  std::string split = sc_view() ? row(4) + "|" + row(7) : "";
  int a = att(5, 4);
  put("\x0c" + seq);
  EXPECT_EQ(row(4) + "|" + row(7), split);
  EXPECT_EQ(att(5, 4), a);
}

TEST_F(image_fixture, transparent_printing_leaves_the_image) {
  put("keep");
  zflush(1);
  out.clear();
  put(esc({0x33}) + "to the printer\x1b\x01\x1b" + "4" + "x" + esc({'4'}) + "!");
  EXPECT_EQ(row(0), "keep!");
  EXPECT_EQ(out.find("\x1b[5i"), 0u);  // prtr_on first
  EXPECT_NE(out.find("to the printer\x1b\x01\x1b" + std::string("4x")), std::string::npos);
  EXPECT_NE(out.find("\x1b[4i"), std::string::npos);
}

TEST_F(image_fixture, saved_screens_stack_and_restore) {
  put("first");
  put(esc({0x84, 1}));
  put("\x0c" + std::string("second"));
  put(esc({0x84, 1}));
  put("\x0cthird");
  put(esc({0x85, 2}));  // two popped: the older supplies the image
  EXPECT_EQ(row(0), "first");
  EXPECT_EQ(cursor(), pos(0, 5));
  put(esc({0x85, 1}));  // an empty stack: only the changes go out
  EXPECT_EQ(row(0), "first");
  put(esc({0x82}) + "\x0c" + "other" + esc({0x83}));
  EXPECT_EQ(row(0), "first");
  put("\x0cagain" + esc({0x83}));  // the saved copy was kept
  EXPECT_EQ(row(0), "first");
  sc_cleanup();
  put("\x0clast" + esc({0x85, 1}));
  EXPECT_EQ(row(0), "last");
}

TEST_F(image_fixture, the_pool_holds_what_vxscreen_says) {
  vx_screen = 17;
  sc_reset_for_test();
  EXPECT_EQ(sc_init(), 0);
  vx_screen = 2;
  sc_reset_for_test();
  ASSERT_EQ(sc_init(), 1);
  put("one" + esc({0x84, 1}) + "two" + esc({0x84, 1}));
  try {
    put(esc({0x84, 1}));
    ADD_FAILURE() << "a third screen fitted";
  } catch (const zerror_jump &e) {
    EXPECT_EQ(e.number, 106);
  }
  put(esc({0x85, 1}));
  EXPECT_EQ(row(0), "onetwo");
  put(esc({0x84, 1}) + esc({0x85, 2}));  // the released room is used again
  EXPECT_EQ(row(0), "one");
  put(esc({0x84, 255}) + esc({0x84, 1}) + esc({0x85, 1}));
  EXPECT_EQ(row(0), "one");
}

TEST_F(image_fixture, width_switches_and_saved_screens_of_the_other_width) {
  put("narrow" + esc({0x84, 1}) + esc({0x05}));  // no sequence for 132: the width stays
  EXPECT_EQ(sc_view()->ncol, 80);
  EXPECT_EQ(row(0), "");
  ztc_cs132 = "27-91-63-51-104";
  ztc_cs80 = "27-91-63-51-108";
  start("xterm-256color");
  put("narrow" + esc({0x84, 1}) + esc({0x05}) + "wide");
  EXPECT_EQ(sc_view()->ncol, 132);
  zflush(1);
  EXPECT_NE(out.find("\x1b[?3h"), std::string::npos);
  at(0, 131);
  put("!");
  EXPECT_EQ(chr(0, 131), '!');
  put(esc({0x85, 1}));  // back to 80 columns with the saved cells
  EXPECT_EQ(sc_view()->ncol, 80);
  EXPECT_EQ(row(0), "narrow");
  ztc_cs80 = nullptr;
}

TEST_F(image_fixture, copying_cells_out) {
  put("hello" + esc({0x15, 3}) + "X");
  char buf[4000];
  ASSERT_EQ(sc_copy(0, 6, buf, 6, 0), 0);
  EXPECT_EQ(std::string(buf, 6), "helloX");
  ASSERT_EQ(sc_copy(4, 2, buf, 4, 1), 0);
  EXPECT_EQ(std::string(buf, 4), std::string("\0o\x03X", 4));
  EXPECT_EQ(sc_copy(0, 6, buf, 5, 0), -2);
  EXPECT_EQ(sc_copy(1920, 1, buf, 10, 0), -1);
  EXPECT_EQ(sc_copy(-1, 1, buf, 10, 0), -1);
  buf[3] = 'z';
  ASSERT_EQ(sc_copy(1917, 10, buf, 10, 0), 0);  // cut at the end: three cells
  EXPECT_EQ(std::string(buf, 4), "   z");
}

TEST_F(image_fixture, unforced_refreshes_wait_sixty_ticks_or_the_countdown) {
  put("now");
  zflush(0);  // just after a refresh: deferred, the dispatch loop counts down
  EXPECT_EQ(out, "");
  EXPECT_EQ(zfl_pcnt, 100);
  zfl_pcnt = 0;
  zflush(0);
  EXPECT_EQ(out, "");
  usleep(700000);  // past 60 ticks of 100 a second
  zflush(0);
  EXPECT_NE(out.find("now"), std::string::npos);
  EXPECT_EQ(zfl_pcnt, 0);
}

TEST_F(image_fixture, the_dump_file_gets_every_byte_unchanged) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  sc_dump_fd = p[1];
  std::string bytes = "ab" + esc({0x40, 3, 3}) + std::string("\0\x01z", 3);
  put(bytes);
  sc_dump_fd = -1;
  close(p[1]);
  char buf[64];
  ssize_t n = read(p[0], buf, sizeof buf);
  close(p[0]);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, size_t(n)), bytes);
}

TEST_F(image_fixture, a_changed_colour_map_repaints_everything) {
  put("text");
  zflush(1);
  out.clear();
  ASSERT_EQ(set_camap(3, 4, 1, -1), 0);
  camap_upd = 1;
  put(esc({0x15, 3}) + "x");
  zflush(1);
  EXPECT_NE(out.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(out.find("text"), std::string::npos);
  EXPECT_NE(out.find("\x1b[31m"), std::string::npos);  // the new colour
  EXPECT_EQ(camap_upd, 0);
}

TEST_F(image_fixture, a_program_that_ends_frozen_or_inside_a_sequence_leaves_a_usable_screen) {
  put(esc({0x17, 0}));
  zflush(1);                         // the cursor hidden
  put(esc({0x84, 2}) + "\x1b\x09");  // frozen, a column due
  sc_cleanup();
  put("STOP");
  zflush(1);
  EXPECT_EQ(row(0), "STOP");  // "S" was not taken as the column
  EXPECT_NE(out.find("STOP"), std::string::npos);
  EXPECT_NE(out.find("\x1b[?25h"), std::string::npos);  // the cursor shows again
  out.clear();
  put(esc({0x33}) + "half");  // transparent printing left on
  sc_cleanup();
  EXPECT_NE(out.find("\x1b[4i"), std::string::npos);
  put("!");
  EXPECT_EQ(row(0), "STOP!");
}

}  // namespace
