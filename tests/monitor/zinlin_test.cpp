// Line input: editing keys, the case rule, the 80-character limit and the
// echo, with the keyboard on a pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <string>

#include "run/numeric/zfmt.h"
#include "run/terminal/keys.h"
#include "run/terminal/lp.h"
#include "run/terminal/zinlin.h"

namespace {

// Feeds keys to standard input and collects what is echoed on standard
// output while f runs.
struct keyboard {
  int saved_in = -1, saved_out = -1;
  int out_pipe[2] = {-1, -1};

  std::string run(const std::string &keys, int opt, int *len) {
    int in_pipe[2];
    EXPECT_EQ(pipe(in_pipe), 0);
    EXPECT_EQ(pipe(out_pipe), 0);
    EXPECT_EQ(write(in_pipe[1], keys.data(), keys.size()), ssize_t(keys.size()));
    close(in_pipe[1]);
    saved_in = dup(0);
    saved_out = dup(1);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    close(in_pipe[0]);
    close(out_pipe[1]);
    *len = zinlin(opt);
    dup2(saved_in, 0);
    dup2(saved_out, 1);
    close(saved_in);
    close(saved_out);
    std::string echo;
    fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
    char buf[512];
    ssize_t n;
    while ((n = read(out_pipe[0], buf, sizeof buf)) > 0) echo.append(buf, size_t(n));
    close(out_pipe[0]);
    return echo;
  }
};

TEST(zinlin, editing_case_and_limits) {
  struct row {
    std::string keys;
    int opt;
    std::string line;
    std::string echo;
  };
  const row rows[] = {
      {"Hello\r", ZIN_KEEPCASE, "Hello", "Hello"},
      {"Hello\r", 0, "hELLO", "hELLO"},  // case inverted
      {"ab\bc\x7f"
       "d\r",
       ZIN_KEEPCASE, "ad", "ab\b \bc\b \bd"},
      {"abc\x18xy\n", ZIN_KEEPCASE, "xy", "abc\b \b\b \b\b \bxy"},  // CAN, line feed ends
      {"\b\ba\x01\tb\r", ZIN_KEEPCASE, "ab", "ab"},                 // controls ignored
      {"a\tb\nc\r", ZIN_KEEPCASE | ZIN_LF, "a b c", "a b c"},       // LF is a key
      {"secret\r", ZIN_KEEPCASE | ZIN_NOECHO, "secret", ""},
      {"\xe9t\xe9\r", ZIN_KEEPCASE, "\xe9t\xe9", "\xe9t\xe9"},  // bytes from 128 stored
  };
  for (const row &r : rows) {
    keyboard k;
    int len;
    std::string echo = k.run(r.keys, r.opt, &len);
    EXPECT_EQ(std::string(zrlin, size_t(len > 0 ? len : 0)), r.line) << r.keys;
    EXPECT_EQ(echo, r.echo) << r.keys;
    // the line is the record that the items of the statement read
    EXPECT_EQ(zrfdp, zrlin);
    EXPECT_EQ(zrfdc, len);
  }
  keyboard k;
  int len;
  k.run(std::string(100, 'x') + "\r", ZIN_KEEPCASE, &len);
  EXPECT_EQ(len, 80);
  // the input ends before the line: the keyboard reader ends the process
  EXPECT_EXIT(k.run("abc", ZIN_KEEPCASE, &len), ::testing::ExitedWithCode(255), "");
  // a keyboard error (the pager owns the terminal) ends the input
  zprlck = 1, zrrmp = 3;  // the printer runs through the pager
  k.run("abc\r", ZIN_KEEPCASE, &len);
  zprlck = 0, zrrmp = 0;
  EXPECT_EQ(len, KBD_EPAGER);  // INPUT turns it into I/O error 67
  EXPECT_EQ(zrfdc, 0);  // nothing for the items to read
}

}  // namespace
