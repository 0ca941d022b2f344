// The keyboard map and character tables: every value form, the sections
// and their effect on the tables and the key-sequence tree, every message
// with its line number, the output strings, the case table and the
// character-type file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run/base/zsmsg.h"
#include "run/startup/startup.h"
#include "run/terminal/keys.h"
#include "run/terminal/kmap.h"

namespace {

std::string messages;

struct kmap_fixture : ::testing::Test {
  std::string path = "/tmp/quillon-kmap-" + std::to_string(getpid());
  void SetUp() override {
    kbd_init();
    kmap_init();
    messages.clear();
    zsmsg_screen = [](const char *t) { messages += t; };
  }
  void TearDown() override {
    zsmsg_screen = nullptr;
    unlink(path.c_str());
    kmap_init();
    kbd_init();
  }
  // writes text as the map file and reads it; the number of messages
  int map(const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "w");
    EXPECT_TRUE(f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return readmap(path.c_str());
  }
  std::string msg(int line, const char *text) {
    return "error in VXMAP=" + path + ", line " + std::to_string(line) + ": " + text + "\r\n";
  }
};

std::string outstr(int c) {
  const uint8_t *b;
  int n = kmap_outstr(c, &b);
  return n < 0 ? "<none>" : std::string(reinterpret_cast<const char *>(b), size_t(n));
}

// the keys that a byte stream gives through the recogniser and the ring
std::vector<int> keys_of(const std::string &s) {
  std::vector<int> keys;
  for (unsigned char c : s) {
    int d = c;
    int r = check_fkey(0, &d);
    if (r == 1) keys.push_back(d < 0x100 ? table_in[size_t(d)] : d);
    for (int k; (k = get_kbd_buf()) >= 0;) keys.push_back(k);
    for (int p; (p = kbd_take_pending()) >= 0;) {
      d = p;
      if (check_fkey(0, &d) == 1) keys.push_back(table_in[size_t(d)]);
    }
  }
  return keys;
}

TEST(kmap_values, every_form_and_what_follows_it) {
  struct {
    const char *text;
    int value;
    const char *rest;  // where the next value would start
  } cases[] = {
      {"0x41 x", 0x41, "x"},
      {"0X41", 0, ""},
      {"0x1ff", 0xFF, ""},
      {"0101\t 7", 65, "7"},
      {"0", 0, ""},
      {"65", 65, ""},
      {"300", 44, ""},
      {"99999999999", 255, ""},  // modulo 256 at every digit
      {"09", 9, ""},
      {"'A'  B", 'A', "B"},
      {"' '", ' ', ""},
      {"'''", '\'', ""},
      {"'\\0101'", 65, ""},
      {"'\\0'", 0, ""},
      {"'\\x41' 1", 0x41, "1"},
      {"'\\xg'", 'x', ""},  // no digit: the letter x
      {"'\\n'", 'n', ""},
      {"'\\''", '\'', ""},
      {"'\\\\'", '\\', ""},
      {"'a", 'a', ""},
      {"'ab' 5", 'a', ""},  // no closing quote: rest skipped
      {"12abc 5", 12, ""},
      {"'\\0101x' 5", 65, ""},
      {"'\\", '\\', ""},
      {"-1 5", -1, ""},
      {"x 5", -1, ""},
      {"0x 5", -1, ""},
      {"0xg", -1, ""},
      {"'", -1, ""},
      {"", -1, ""},
      {"\"a\"", -1, ""},
      {"'\\101'", '1', ""},  // octal only after a zero
  };
  for (auto &c : cases) {
    const char *p = c.text;
    EXPECT_EQ(read_value(&p), c.value) << c.text;
    EXPECT_STREQ(p, c.rest) << c.text;
  }
}

TEST_F(kmap_fixture, input_and_output_sections_fill_the_tables) {
  EXPECT_EQ(map("# a German terminal\n"
                "\n"
                "   input\n"
                "0x7F 0x08\n"
                "'[' 0xC4\n"
                "output   \n"
                "0x84 0x22 0x61\n"
                "0x94 0x22 '\\x6f'\n"
                "0xC4 '['\n"
                "0xE9 0\n"
                "beep loudly\n"),
            0)
      << messages;
  EXPECT_EQ(table_in[0x7F], 0x08);  // DEL delivers backspace
  EXPECT_EQ(table_in['['], 0xC4);
  EXPECT_EQ(table_in['a'], 'a');
  EXPECT_NE(table_out_p, table_out);  // a private copy
  EXPECT_EQ(table_out[0x84], 0x84);   // the built-in table unchanged
  EXPECT_EQ(table_out_p[0x84], 0);
  EXPECT_EQ(outstr(0x84), "\"a");
  EXPECT_EQ(outstr(0x94), "\"o");
  EXPECT_EQ(table_out_p[0xC4], '[');  // one byte: no string
  EXPECT_EQ(outstr(0xC4), "<none>");
  EXPECT_EQ(table_out_p[0xE9], 0);  // the zero byte is a string of its own
  EXPECT_EQ(outstr(0xE9), std::string(1, '\0'));
  // the published lists: closed, each string starting where the last ended
  ASSERT_TRUE(tab_out_2 && tab_out_3 && tab_out_4);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(tab_out_2)), "\x84\x94\xE9");
  EXPECT_EQ(tab_out_3[0], 0);
  EXPECT_EQ(tab_out_3[1], 2);
  EXPECT_EQ(tab_out_3[2], 4);
  EXPECT_EQ(tab_out_3[3], 5);
  EXPECT_EQ(std::memcmp(tab_out_4, "\"a\"o", 4), 0);
}

TEST_F(kmap_fixture, long_strings_keep_their_offsets_and_redefinition_replaces) {
  std::string text = "output\n0x80";
  for (int i = 0; i < 300; i++) text += " 'x'";
  text += "\n0x81 'y' 'z'\n0x82 1 2 3\n0x81 'q'\n";  // 0x81: the last string counts
  // no newline at the end: the file ends inside the section
  text += "0x83 4 5";
  EXPECT_EQ(map(text), 0) << messages;
  EXPECT_EQ(outstr(0x80), std::string(300, 'x'));
  EXPECT_EQ(outstr(0x82), "\1\2\3");
  EXPECT_EQ(outstr(0x83), "\4\5");
  EXPECT_EQ(table_out_p[0x81], 'q');  // one byte replaces the string
  EXPECT_EQ(outstr(0x81), "<none>");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(tab_out_2)), "\x80\x82\x83");
  EXPECT_EQ(tab_out_3[1], 300);
  EXPECT_EQ(tab_out_3[2], 303);
  EXPECT_EQ(tab_out_3[3], 305);
  // another string for 0x81 replaces its old one in the middle of the list
  kmap_init();
  EXPECT_EQ(map("output\n0x81 1 2\n0x82 3 4 5\n0x81 6 7 8 9\n"), 0);
  EXPECT_EQ(outstr(0x81), "\6\7\x08\x09");
  EXPECT_EQ(outstr(0x82), "\3\4\5");
  EXPECT_EQ(tab_out_3[0], 0);
  EXPECT_EQ(tab_out_3[1], 3);
  EXPECT_EQ(tab_out_3[2], 7);
}

TEST_F(kmap_fixture, every_message_with_its_line_number) {
  EXPECT_EQ(map("0x41 0x42\n"           // 1: before any section
                "input\n"               // 2
                "0x41 0x42\n"           // 3
                "0x43\n"                // 4: a value missing
                "0x44 zz\n"             // 5: illegal
                "input\n"               // 6: second input: reported, still used
                "0x45 0x46\n"           // 7
                "output\n"              // 8
                "0 1 2\n"               // 9: no string for the zero byte
                "0x50 0x51 bad 0x52\n"  // 10: nothing after the bad value counts
                "output\n"              // 11
                "compose zz\n"          // 12: no compose key
                "0x61 0x22 0xE4\n"      // 13: ignored without a key
                "compose 0x1D\n"        // 14: already seen
                "dead\n"                // 15: no dead key
                "dead 0x5E\n"           // 16
                "0x61 0xE2\n"           // 17
                "0x61 0xE0\n"           // 18: the same sequence again
                "dead 0x5E 0x60\n"      // 19: the key read, the rest of the line ignored
                "0x65\n"                // 20: a value missing
                "0x65 0xEA junk\n"      // 21
                "#comment\n"),          // 22: "#" must stand alone
            14);
  std::string want = msg(1, "no section keyword seen") + msg(4, "illegal character value") +
                     msg(5, "illegal character value") + msg(6, "input already seen") +
                     msg(9, "illegal character value") + msg(10, "illegal character value") +
                     msg(11, "output already seen") + msg(12, "illegal character value") +
                     msg(14, "compose already seen") + msg(15, "illegal character value") +
                     msg(18, "logic error") + msg(20, "illegal character value") +
                     msg(21, "illegal character value") + msg(22, "illegal character value");
  EXPECT_EQ(messages, want);
}

TEST_F(kmap_fixture, sections_after_errors_still_take_effect) {
  map("input\n0x41 0x42\ninput\n0x45 0x46\n0x47 zz\noutput\n0x50 0x51 bad 0x52\n");
  EXPECT_EQ(table_in['A'], 'B');
  EXPECT_EQ(table_in['E'], 'F');  // the second section counts
  EXPECT_EQ(table_in['G'], 'G');
  EXPECT_EQ(table_out_p[0x50], 0x50);  // a bad line has no effect
}

TEST_F(kmap_fixture, compose_and_dead_keys_enter_the_tree) {
  EXPECT_EQ(map("input\n0xE4 0xE5\n"
                "compose 0x1D\n0x61 0x22 0xE4\n0x6F 0x22 0xF6\n"
                "dead 0x5E\n0x61 0xE2\n0x20 0x5E\n"
                "dead '`'\n0x61 0xE0\n"),
            0)
      << messages;
  EXPECT_EQ(keys_of("\x1D"
                    "a\""),
            std::vector<int>{0xE5});  // the result through table_in
  EXPECT_EQ(keys_of("\x1Do\""), std::vector<int>{0xF6});
  EXPECT_EQ(keys_of("^a"), std::vector<int>{0xE2});
  EXPECT_EQ(keys_of("^ "), std::vector<int>{'^'});
  EXPECT_EQ(keys_of("`a"), std::vector<int>{0xE0});
  // broken off: the bytes typed so far, in order
  EXPECT_EQ(keys_of("\x1D"
                    "ax"),
            (std::vector<int>{0x1D, 'a', 'x'}));
  EXPECT_EQ(keys_of("^x"), (std::vector<int>{'^', 'x'}));
  EXPECT_EQ(keys_of("^`a"), (std::vector<int>{'^', 0xE0}));  // a dead key breaks another
  // keyboard-map sequences wait for their next byte without a time-out
  EXPECT_EQ(kbd.seq_type[0x1D], KBD_MAP);
  EXPECT_EQ(kbd.seq_type[0x5E], KBD_MAP);
  // a terminal key entered later cannot take a map sequence's prefix
  const uint8_t seq[] = {0x1D, 'a'};
  EXPECT_EQ(add_fkey(seq, 2, 0x1001, KBD_TERMINAL), 0);
}

TEST_F(kmap_fixture, a_full_tree_is_reported_and_reading_goes_on) {
  std::string text;
  for (int k = 1; k < 200; k++) {
    text += "dead " + std::to_string(k) + "\n";
    for (int c = 1; c < 256; c++) text += std::to_string(c) + " 65\n";
  }
  text += "input\n0x41 0x42\n";
  int n = map(text);
  EXPECT_GT(n, 0);
  EXPECT_NE(messages.find(": keymap table full\r\n"), std::string::npos);
  EXPECT_EQ(messages.find("logic error"), std::string::npos);
  EXPECT_EQ(table_in['A'], 'B');  // the lines after still count
}

TEST_F(kmap_fixture, example_maps_read_without_messages) {
  for (const char *name : {"german", "french"}) {
    kbd_init();
    kmap_init();
    std::string file = std::string(QUILLON_SOURCE) + "/examples/" + name + ".kmap";
    EXPECT_EQ(readmap(file.c_str()), 0) << messages;
    EXPECT_NE(table_out_p, table_out) << name;
    EXPECT_GT(kbd.ctrl_keys_used, 20) << name;
  }
}

TEST_F(kmap_fixture, missing_files_long_lines_and_binary_junk) {
  EXPECT_EQ(readmap(nullptr), 0);
  EXPECT_EQ(readmap(""), 0);
  EXPECT_EQ(readmap("/nonexistent/map"), 0);
  EXPECT_EQ(messages, "");
  std::string text = "input\n" + std::string(KMAP_LINE_MAX + 1, ' ') + "1 2\n3 4\r\n";
  text += std::string("5\0 6\n", 5);  // the line ends at the zero byte
  text += "7 8";
  EXPECT_EQ(map(text), 2);
  EXPECT_EQ(messages, msg(2, "line too long") + msg(4, "illegal character value"));
  EXPECT_EQ(table_in[2], 2);
  EXPECT_EQ(table_in[3], 4);  // a line ending in CR LF
  EXPECT_EQ(table_in[7], 8);  // the last line without its line end
}

TEST(kmap_case, case_table_and_conversions) {
  kmap_init();
  EXPECT_EQ(readctype(nullptr), 0);
  EXPECT_EQ(vx_toupper('a'), 'A');
  EXPECT_EQ(vx_tolower('Z'), 'z');
  EXPECT_EQ(vx_toupper('A'), 'A');
  EXPECT_EQ(vx_tolower('a'), 'a');
  EXPECT_EQ(vx_toupper('1'), '1');  // no case: unchanged
  EXPECT_EQ(vx_toupper(-1), -1);
  EXPECT_EQ(vx_uclc['a' + 1], 'A');
  EXPECT_EQ(vx_uclc['A' + 1], 'a');
  EXPECT_EQ(vx_uclc['1' + 1], 0);
  char s[] = "Gross 12 Klein!";
  EXPECT_STREQ(vx_strupr(s), "GROSS 12 KLEIN!");
  EXPECT_STREQ(vx_strlwr(s), "gross 12 klein!");
}

TEST(kmap_case, character_type_file) {
  kmap_init();
  std::string path = "/tmp/quillon-ctype-" + std::to_string(getpid());
  FILE *f = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(f);
  std::fputs("# classes\n0x41 B\n0x42 BCP\n0x43 LQ\n'D' CZ  P\n0x45 SDUX\nbad B\n\n0x46 PQ\n", f);
  std::fclose(f);
  EXPECT_EQ(readctype(path.c_str()), 0);
  unlink(path.c_str());
  EXPECT_EQ(vx_ctype[0x41 + 1], VXC_B);
  EXPECT_EQ(vx_ctype[0x42 + 1], VXC_B | VXC_C | VXC_P);
  EXPECT_EQ(vx_ctype[0x43 + 1], 0);     // Q repeats L's mark: nothing
  EXPECT_EQ(vx_ctype['D' + 1], VXC_C);  // Z repeats C; P after a blank is not read
  EXPECT_EQ(vx_ctype[0x45 + 1], 0);
  EXPECT_EQ(vx_ctype[0x46 + 1], VXC_P);  // Q repeats P
  EXPECT_EQ(readctype("/nonexistent/ctype"), -1);
  EXPECT_EQ(vx_toupper('q'), 'Q');  // the case table is built all the same
}

}  // namespace
