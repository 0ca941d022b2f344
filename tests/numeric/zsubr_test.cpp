// Dates, user names from a password file, and the digit helpers.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/intrin/zsubr.h"

namespace {

struct zone {
  std::string saved;
  bool had;
  explicit zone(const char *tz) {
    const char *s = std::getenv("TZ");
    had = s != nullptr;
    if (had) saved = s;
    setenv("TZ", tz, 1);
  }
  ~zone() {
    if (had)
      setenv("TZ", saved.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
};

std::string date_text(time_t t, int fmt) {
  char buf[32] = {};
  int n = get_dte(buf, t, fmt);
  return std::string(buf, size_t(n));
}

TEST(zsubr, date_text_in_local_time) {
  struct tm when = {};
  when.tm_year = 124;
  when.tm_mon = 2;
  when.tm_mday = 3;
  when.tm_hour = 14;
  when.tm_min = 5;
  when.tm_sec = 9;
  time_t t = timegm(&when);
  {
    zone z("UTC");
    EXPECT_EQ(date_text(t, 1), "20240303140509");
    EXPECT_EQ(date_text(t, 0), "030324140509");
    EXPECT_EQ(date_text(t, 7), "20240303140509");  // any fmt but 0: the long form
  }
  {
    zone z("XST10");  // ten hours west of UTC
    EXPECT_EQ(date_text(t, 1), "20240303040509");
    EXPECT_EQ(date_text(t - 5 * 3600, 0), "030224230509");
  }
  char now[16];
  EXPECT_EQ(dte(now, 0), DTE_SHORT);
  EXPECT_EQ(dte(now, 1), DTE_LONG);
}

struct passwd_file {
  std::string path;
  explicit passwd_file(const std::string &content) {
    char name[] = "/tmp/zsubr_passwd_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
    close(fd);
    path = name;
  }
  ~passwd_file() {
    unlink(path.c_str());
    getuname_reset_for_test("/etc/passwd");
  }
  std::string name(unsigned uid) {
    getuname_reset_for_test(path.c_str());
    return getuname(uid);
  }
};

TEST(zsubr, login_names_from_the_password_file) {
  std::string longline = "wide:x:7:" + std::string(600, 'g') + ":/home/w:/bin/sh\n";
  passwd_file f(
      "root:x:0:0:root:/root:/bin/sh\n"
      "daemon:x:1:1::/:/bin/false\n"
      "verylongname:x:1000:1000::/home/v:/bin/sh\n"
      "shadow:x:10000:1::/:/bin/sh\n"
      "broken-line\n"
      "notnum:x:5x:5::/:/bin/sh\n" +
      longline + "first:x:42:1::/:/bin/sh\nsecond:x:42:1::/:/bin/sh\nlast:x:99:1::/:/bin/sh");
  EXPECT_EQ(f.name(0), "root");
  EXPECT_EQ(f.name(1000), "verylong");  // cut to eight characters
  EXPECT_EQ(f.name(10), "????????");    // 10000 is not 10
  EXPECT_EQ(f.name(5), "????????");     // a third field that is not a number
  EXPECT_EQ(f.name(7), "wide");         // a line longer than the reader's buffer
  EXPECT_EQ(f.name(42), "first");       // the first match wins
  EXPECT_EQ(f.name(99), "last");        // no line feed after the last line
  // read once: a later call with another uid keeps the first answer
  getuname_reset_for_test(f.path.c_str());
  EXPECT_EQ(std::string(getuname(0)), "root");
  EXPECT_EQ(std::string(getuname(1)), "root");
}

TEST(zsubr, missing_password_file_gives_question_marks) {
  getuname_reset_for_test("/nonexistent/passwd");
  EXPECT_EQ(std::string(getuname(0)), "????????");
  getuname_reset_for_test("/etc/passwd");
}

TEST(zsubr, hexadecimal_and_decimal_digits) {
  EXPECT_STREQ(dectohex(0xBEEF, 4), "BEEF");
  EXPECT_STREQ(dectohex(0x12345, 4), "2345");
  EXPECT_STREQ(dectohex(0xAB, 1), "B");
  EXPECT_STREQ(dectohex(10, 3), "00A");
  EXPECT_EQ(hexit("1aF", 3), 0x1AFu);
  EXPECT_EQ(hexit("1aF", 2), 0x1Au);
  EXPECT_EQ(hexit("12g4", 4), 0x12u);
  EXPECT_EQ(hexit("", 4), 0u);
  char two[3] = {};
  EXPECT_EQ(dtecvt(7, two), two + 2);
  EXPECT_STREQ(two, "07");
}

}  // namespace
