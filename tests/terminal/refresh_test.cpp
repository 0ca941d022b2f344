// The refresh on real terminals: scdriver (the screen as run drives it) in
// the pseudo-terminal harness, with libvterm showing what the terminal
// displays.  Exact bytes where the refresh fixes them; cells, attributes
// and the cursor after each scenario.
#include <gtest/gtest.h>

#include <string>

#include "run/terminal/tcap.h"
#include "tests/terminal/drive.h"

namespace {

std::string visible(const std::string &bytes) {
  std::string s;
  for (unsigned char c : bytes) {
    if (c == 0x1b)
      s += "\\E";
    else if (c < 32 || c > 126)
      s += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
    else
      s += char(c);
  }
  return s;
}

int cf_rev() {
  return 0x8F;  // the default code of attribute 4, reverse
}
int cf_normal() {
  return 0x8B;
}

// position bytes: 1-based row and column
std::string to(int row, int col) {
  return esc({0x0B, row + 1}) + esc({0x09, col + 1});
}

TEST(refresh, same_text_twice_sends_nothing_and_one_change_one_move) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color"));
  std::string first = d.show(to(5, 10) + "HELLO WORLD");
  EXPECT_NE(first.find("HELLO WORLD"), std::string::npos) << visible(first);
  EXPECT_EQ(d.s.row(5), "          HELLO WORLD");
  EXPECT_EQ(d.show(to(5, 10) + "HELLO WORLD"), "");
  // one character: one cursor movement and the character
  EXPECT_EQ(visible(d.show(to(5, 17) + "X")), visible("\x1b[18GX"));
  EXPECT_EQ(d.s.row(5), "          HELLO WXRLD");
  // two changes three cells apart: one run with the cells between
  EXPECT_EQ(visible(d.show(to(5, 10) + "J" + to(5, 14) + "P" + to(5, 15))),
            visible("\x1b[11GJELLP"));
  int r, c;
  d.s.cursor(&r, &c);
  EXPECT_EQ(r, 5);
  EXPECT_EQ(c, 15);
  // at the exit the colours, the cursor and the attributes are reset
  EXPECT_EQ(d.quit(), 0);
  std::string reset = "\x1b[39;49m\x1b[?12l\x1b[?25h\x1b(B\x1b[0m";
  EXPECT_EQ(visible(d.s.output().substr(d.s.output().size() - reset.size())), visible(reset));
}

// draws a box round the whole screen; rows 0 and 23 are the box's
std::string whole_box() {
  return to(0, 0) + esc({0x40, 80, 24});
}

TEST(refresh, bottom_right_cell_on_terminals_with_automatic_margins) {
  {
    screen_driver d;  // the wrap waits: the corner is written, nothing scrolls
    ASSERT_TRUE(d.start("xterm-256color"));
    d.show(whole_box() + to(1, 1) + "top");
    EXPECT_EQ(d.s.cell(23, 79).text, "┘");
    EXPECT_EQ(d.s.cell(0, 0).text, "┌");
    EXPECT_EQ(d.s.cell(1, 1).text + d.s.cell(1, 3).text, "tp");
    // the next change lands where it belongs although the wrap was pending
    std::string b = d.show(to(23, 78) + esc({0x40, 80, 24}) + to(10, 0) + "Q");
    EXPECT_EQ(d.s.cell(10, 0).text, "Q") << visible(b);
    EXPECT_EQ(d.s.cell(0, 0).text, "┌");
  }
  {
    screen_driver d;  // wrapping at once would scroll: the corner is left out
    ASSERT_TRUE(d.start("qnoxenl"));
    std::string b = d.show(whole_box());
    EXPECT_EQ(d.s.cell(23, 79).text, " ") << visible(b);
    EXPECT_EQ(d.s.cell(23, 78).text, "─");
    EXPECT_EQ(d.s.cell(0, 0).text, "┌");
    EXPECT_EQ(d.s.cell(0, 79).text, "┐");
  }
}

TEST(refresh, frozen_output_goes_out_in_one_refresh_when_released) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color"));
  d.show("before");
  EXPECT_EQ(d.write(esc({0x84, 2})), "");
  EXPECT_EQ(d.show(to(3, 3) + "while frozen" + esc({0x1E}) + "" + "cleared"), "");
  EXPECT_EQ(d.s.row(0), "before");
  std::string b = d.write(esc({0x85, 0}));
  EXPECT_NE(b.find("cleared"), std::string::npos) << visible(b);
  EXPECT_EQ(d.s.row(0), "cleared");
  EXPECT_EQ(d.show("!"), "!");
}

// the rows and looks of the emulated screen
std::string snapshot(pty_session &s) {
  std::string t;
  for (int r = 0; r < 24; r++) {
    t += s.row(r) + "|";
    for (int c = 0; c < 80; c++) {
      pty_cell x = s.cell(r, c);
      t += char('0' + x.reverse + 2 * x.underline + 4 * x.bold);
    }
    t += "\n";
  }
  return t;
}

TEST(refresh, saved_and_restored_screens_are_redrawn_exactly) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color"));
  std::string form = whole_box() + to(2, 4) + "Name" + to(2, 14) + char(cf_rev()) + "ACME" +
                     to(2, 40) + char(cf_normal()) + to(4, 4) + esc({0x15, 8}) + "underlined" +
                     esc({0x15, 255}) + to(6, 0) + esc({0x44, 80, 7});
  d.show(form);
  std::string a = snapshot(d.s);
  EXPECT_TRUE(d.s.cell(2, 16).reverse);
  EXPECT_TRUE(d.s.cell(4, 5).underline);
  EXPECT_EQ(d.s.cell(6, 0).text, "├");
  d.write(esc({0x84, 1}));
  d.show("" + std::string("something else entirely") + esc({0x15, 4}) + "rev");
  std::string b = d.write(esc({0x85, 1}));
  EXPECT_TRUE(snapshot(d.s) == a) << d.s.transcript();
  EXPECT_EQ(b.find("\x1b[2J"), std::string::npos);  // the changes, not a repaint
  d.write(esc({0x82}));  // the single saved screen, restored with a repaint
  d.show("" + std::string("again"));
  b = d.write(esc({0x83}));
  EXPECT_NE(b.find("[H[2J"), std::string::npos) << visible(b);
  EXPECT_EQ(snapshot(d.s), a);
}

TEST(refresh, forms_on_each_terminal_type) {
  for (const char *term : {"xterm-256color", "vt100", "linux", "screen", "qplain"}) {
    SCOPED_TRACE(term);
    screen_driver d;
    ASSERT_TRUE(d.start(term));
    bool plain = std::string(term) == "qplain";
    d.show(to(1, 1) + esc({0x40, 40, 5}) + to(2, 3) + "Code" + char(cf_rev()) + "A-100" +
           to(2, 20) + char(cf_normal()) + "end" + to(3, 3) + esc({0x15, 8}) + "note" +
           esc({0x15, 255}) + to(3, 3));
    EXPECT_EQ(d.s.cell(1, 1).text, plain ? "+" : "\u250c");
    EXPECT_EQ(d.s.cell(2, 1).text, plain ? "!" : "\u2502");
    EXPECT_EQ(d.s.cell(4, 20).text, plain ? "-" : "\u2500");
    EXPECT_EQ(d.s.cell(4, 39).text, plain ? "+" : "\u2518");
    EXPECT_EQ(d.s.cell(2, 7).text, " ");  // the field code shows as a blank
    EXPECT_EQ(d.s.cell(2, 8).text, "A");
    EXPECT_EQ(d.s.cell(2, 8).reverse, !plain);
    EXPECT_EQ(d.s.cell(2, 19).reverse, !plain);
    EXPECT_FALSE(d.s.cell(2, 21).reverse);
    EXPECT_FALSE(d.s.cell(2, 6).reverse);
    EXPECT_EQ(d.s.cell(3, 4).text, "o");
    EXPECT_EQ(d.s.cell(3, 4).underline, !plain);
    EXPECT_FALSE(d.s.cell(3, 7).underline);
    int r, c;
    d.s.cursor(&r, &c);
    EXPECT_EQ(r, 3);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(d.quit(), 0);
  }
}

TEST(refresh, scrolled_lines_scroll_the_terminal) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color"));
  std::string text;
  for (int i = 0; i < 24; i++) text += "line " + std::to_string(i) + "\r\n";
  d.show(text);
  EXPECT_EQ(d.s.row(22), "line 23");
  std::string b = d.show("more\r\n");
  EXPECT_EQ(d.s.row(22), "more");
  EXPECT_EQ(d.s.row(21), "line 23");
  EXPECT_EQ(d.s.line(0), "line 1");  // scrolled off the top, not repainted
  EXPECT_LT(b.size(), 20u) << visible(b);
  b = d.show("a\r\nb\r\nc\r\n");
  EXPECT_EQ(d.s.row(20), "a");
  EXPECT_EQ(d.s.row(22), "c");
  EXPECT_LT(b.size(), 40u) << visible(b);
}

TEST(refresh, rows_inserted_and_deleted_on_the_terminal_at_once) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color"));
  std::string text;
  for (int i = 0; i < 24; i++) text += to(i, 0) + "row " + std::to_string(i);
  d.show(text);
  std::string b = d.write(to(3, 0) + esc({0x13, 2}));
  EXPECT_NE(b.find("\x1b[2M"), std::string::npos) << visible(b);
  EXPECT_EQ(d.s.row(3), "row 5");  // the terminal moved its rows itself
  // so nothing is left to send but the cursor's place
  EXPECT_EQ(visible(d.flush()), visible("\x1b[4;1H"));
  EXPECT_EQ(d.s.row(22), "");
  b = d.write(to(10, 0) + esc({0x12, 1}));
  EXPECT_NE(b.find("\x1b[L"), std::string::npos) << visible(b);
  EXPECT_EQ(visible(d.flush()), visible("\x1b[11;1H"));
  EXPECT_EQ(d.s.row(10), "");
  EXPECT_EQ(d.s.row(11), "row 12");
  EXPECT_EQ(d.show("new"), "new");
}

TEST(refresh, attributes_that_take_a_cell) {
  screen_driver d;
  ASSERT_TRUE(d.start("qcookie"));
  // the cookie goes out first, at its cell; the text around it after
  std::string b = d.show("AB" + std::string(1, char(cf_rev())) + "CD");
  EXPECT_EQ(visible(b), visible("\x1b[3G\x1b[0;7m\rAB\x1b[4GCD"));
  EXPECT_EQ(d.show(to(0, 3) + "CD"), "");
  b = d.show(to(0, 2) + "x");  // the cookie overwritten: the attribute before it rules
  EXPECT_EQ(b.find("\x1b[0;7m"), std::string::npos) << visible(b);
}

TEST(refresh, blank_rows_cursor_bell_and_passed_bytes) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color"));
  d.show(to(4, 0) + std::string(60, 'w'));
  // a row that became blanks of an erasable look: one clr_eol
  EXPECT_EQ(visible(d.show(to(4, 0) + std::string(60, ' ') + to(4, 0))), visible("\r\x1b[K"));
  EXPECT_EQ(d.s.row(4), "");
  EXPECT_EQ(visible(d.show(esc({0x17, 0}))), visible("\x1b[?25l"));
  EXPECT_EQ(visible(d.show(esc({0x17, 1}))), visible("\x1b[?12l\x1b[?25h"));
  EXPECT_EQ(visible(d.write("\x07")), visible("\x07"));
  EXPECT_EQ(visible(d.write("\x01Z")), visible("Z"));  // passed, not stored
  EXPECT_EQ(d.s.row(4), "Z");
  // the passed byte may have moved the cursor or changed the attribute:
  // the next move is absolute and the attribute is set again
  EXPECT_EQ(visible(d.show(to(4, 1) + "y")), visible("\x1b[5;2H\x1b(B\x1b[0m\x1b[39;49my"));
  EXPECT_EQ(d.s.row(4), "Zy");
}

TEST(refresh, transparent_printing_waits_for_the_printer) {
  screen_driver d;
  ASSERT_TRUE(d.start("xterm-256color", {"PRT_HS=1"}));
  d.show("screen");
  size_t from = d.s.output().size();
  d.s.type("w 1b33" + std::string("5052494e54") + "1b0109" + "1b34" + "21\r");
  ASSERT_TRUE(d.s.wait_for("\x03", 3000)) << visible(d.s.output().substr(from));
  // the printer's acknowledgement, one byte from the keyboard side
  std::string before_ack = d.s.output().substr(from);
  EXPECT_EQ(before_ack.find("\x1b[4i"), std::string::npos);
  d.s.type("A");
  EXPECT_EQ(d.reply(), "ok");
  d.s.settle(20);
  EXPECT_EQ(visible(d.s.output().substr(from)), visible("\x1b[5iPRINT\x1b\x01\x09\x03\x1b[4i"));
  EXPECT_EQ(d.s.printed(), "PRINT\x1b\x01\x09\x03");
  d.show("");
  EXPECT_EQ(d.s.row(0), "screen!");
}

}  // namespace
