// The shared buffer with a real file, real lockf locks and real second
// processes: the count and its big-endian bytes, the reset to spaces,
// binding while another process holds the buffer, the break key while
// waiting, the statement's arguments, and the keystroke pipes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/intrin/wiz.h"
#include "run/numeric/zops.h"
#include "run/process/proc.h"
#include "run/startup/startup.h"
#include "run/terminal/keys.h"
#include "tests/interp/vm.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void spit(const std::string &path, const std::string &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

std::string be(unsigned n) {
  return std::string{char(n >> 8), char(n & 0xFF)};
}

struct wiz_fixture : ::testing::TestWithParam<int> {
  std::string dir = "/tmp/quillon-wiz-" + std::to_string(getpid());
  std::string file = dir + "/wizardbuf";
  std::string name_setting;
  uint32_t vstr = 0, padded = 0;  // descriptor offsets

  void SetUp() override {
    mkdir(dir.c_str(), 0755);
    unlink(file.c_str());
    name_setting = file;
    wiz_name = name_setting.c_str();
    zcbsiz = 10;
    wizfd = -1;
    wiz.locked = 0;
    zresc = 0;
    proc_init();
    kbd_init();
    setPcodeVersion(GetParam());
    ASSERT_EQ(zimage_alloc(64, 1, unsigned(zcbsiz)), ZALLOC_OK);
    uint32_t a = uint32_t(zw.adr_len), base = zm.zrbas;
    vstr = base + 16;
    padded = base + 32;
    zdesc_put(vstr, zdesc{0x22, base + 64, 20, 0});
    zdesc_put(padded, zdesc{0x62, base + 96, 20, 20});
    uint32_t bottom = base + 256;
    zputa(bottom, FRAME_BOTTOM);
    zputa(bottom + a, 0);
    zp.stkp = bottom + a;
  }
  void TearDown() override {
    if (wizfd >= 0) close(wizfd);
    wizfd = -1;
    wiz.locked = 0;
    kbd_playback(-1, 0);
    kbd_capture(-1, 0);
    for (int s = 1; s <= PROC_SLOTS; s++)
      if (proc_tab.zmmd[s - 1]) termproc(s, '1');
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
    unlink(file.c_str());
    std::system(("rm -rf " + dir).c_str());
  }

  // Runs the statement: function fn with no second argument, a string
  // (as a temporary), or the variable at desc; 0 or the error number.
  int call(int fn) {
    return run(fn, [] {});
  }
  int call(int fn, const std::string &s) {
    return run(fn, [&] {
      uint32_t at = zp.stkp + uint32_t(zw.adr_len);
      if (!s.empty()) std::memcpy(zat(at, uint32_t(s.size())), s.data(), s.size());
      zpush_str_above(at, uint32_t(s.size()));
    });
  }
  int call_var(int fn, uint32_t desc) {
    return run(fn, [&] { zpush_ref(desc); });
  }
  int call_num(int fn, const char *n) {
    return run(fn, [&] { zpush_num(vm_bcd(n)); });
  }
  template <typename Push>
  int run(int fn, Push push) {
    uint32_t level = zp.stkp;
    zpush_num(vm_bcd(std::to_string(fn).c_str()));
    int before = int(zp.stkp);
    push();
    int argc = int(zp.stkp) == before ? 1 : 2;
    try {
      wizard(argc);
    } catch (const zerror_jump &e) {
      zp.stkp = level;
      return e.number;
    }
    EXPECT_EQ(zp.stkp, level);
    return 0;
  }
  // the text of the variable bound at desc
  std::string text(uint32_t desc) {
    zdesc d = zdesc_get(desc);
    return std::string(reinterpret_cast<const char *>(zat(d.addr, d.dim2)), d.dim2);
  }
  void set_data(const std::string &s) {
    std::memcpy(zat(zm.zcom + 2, uint32_t(s.size())), s.data(), s.size());
  }
};

INSTANTIATE_TEST_SUITE_P(widths, wiz_fixture, ::testing::Values(129, 130));

TEST_P(wiz_fixture, first_process_sees_spaces_and_the_count_follows_it) {
  zcblogout();  // never opened: nothing to do, no file made
  EXPECT_NE(access(file.c_str(), F_OK), 0);
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), std::string(10, ' '));
  zdesc d = zdesc_get(vstr);
  EXPECT_EQ(d.addr, zm.zcom + 2);
  EXPECT_EQ(d.dim1, 10u);                                // the program may fill it
  EXPECT_EQ(slurp(file), be(1) + std::string(10, ' '));  // VXWIZBUFLEN 10: 12 bytes
  set_data("hello");
  EXPECT_EQ(call(1), 0);  // written back and unlocked
  EXPECT_EQ(slurp(file), be(1) + "hello     ");
  EXPECT_EQ(call(1), 0);  // not locked: nothing
  zcblogout();
  EXPECT_EQ(slurp(file), be(0) + "hello     ");
  EXPECT_EQ(wizfd, -1);
  // the next first process finds the count 0: the data are cleared
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), std::string(10, ' '));
  zcblogout();  // writes back what it held
  EXPECT_EQ(slurp(file), be(0) + std::string(10, ' '));
}

TEST_P(wiz_fixture, counts_255_and_256_round_trip_in_big_endian) {
  spit(file, be(255) + "0123456789");
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), "0123456789");  // others use it: the data stay
  EXPECT_EQ(slurp(file), be(256) + "0123456789");
  zcblogout();
  EXPECT_EQ(slurp(file), be(255) + "0123456789");
  spit(file, be(0xFFFF) + "0123456789");  // the count does not wrap to 0
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(slurp(file).substr(0, 2), be(0xFFFF));
}

// Regression: with 24-bit p-code the count was taken as three bytes, so
// that a count of 0 followed by data (spaces) was never reset, and a count
// of 0 at exit wrapped to 65535.
TEST_P(wiz_fixture, zero_count_means_zero_in_both_widths) {
  spit(file, be(0) + "stale data");
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), std::string(10, ' '));
  EXPECT_EQ(call(1), 0);
  spit(file, be(0) + "stale data");  // the file was reset behind our back
  zcblogout();
  EXPECT_EQ(slurp(file), be(0) + "stale data");
}

TEST_P(wiz_fixture, short_file_reads_as_spaces) {
  spit(file, be(3) + "ab");  // written with a smaller VXWIZBUFLEN
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), "ab        ");
  EXPECT_EQ(slurp(file), be(4) + "ab        ");
}

TEST_P(wiz_fixture, binding_twice_and_while_another_process_holds_it) {
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), std::string(10, ' '));
  EXPECT_EQ(call_var(0, padded), 104);  // a padded string cannot be bound
  uint32_t other = zm.zrbas + 48;
  zdesc_put(other, zdesc{0x22, zm.zrbas + 128, 5, 0});
  EXPECT_EQ(call_var(0, other), 0);  // not written back yet: empty
  EXPECT_EQ(text(other), "");
  EXPECT_EQ(zdesc_get(other).dim1, 0u);
  set_data("mine");
  EXPECT_EQ(call(1), 0);
  EXPECT_EQ(call(1), 0);
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t pid = fork();
  if (pid == 0) {
    // the second process: its own descriptor, binds, holds, writes back
    close(wizfd);
    wizfd = -1;
    wiz.locked = 0;
    int e = call_var(0, vstr);
    std::string seen = text(vstr);
    set_data("theirs");
    char c = e == 0 && seen == "mine      " ? 'y' : 'n';
    ssize_t w = write(ready[1], &c, 1);
    ssize_t r = read(go[0], &c, 1);
    (void)w;
    (void)r;
    zcbunl();
    zcblogout();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(slurp(file), be(2) + "mine      ");  // two processes have it open
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), "");  // busy: an empty string
  ASSERT_EQ(write(go[1], "g", 1), 1);
  int st;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(call_var(0, vstr), 0);
  EXPECT_EQ(text(vstr), "theirs    ");
  zcblogout();
  EXPECT_EQ(slurp(file), be(0) + "theirs    ");
}

// Regression: a break during the first wait for the lock left the file
// open, so that the exit took one off a count never raised.
TEST_P(wiz_fixture, break_key_ends_the_wait_for_the_lock) {
  spit(file, be(5) + "0123456789");
  void (*old)(int) = vx_signal(SIGINT, codesc);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(file.c_str(), O_RDWR);
    if (fd < 0 || lockf(fd, F_LOCK, 12) < 0) _exit(1);
    ssize_t w = write(ready[1], "l", 1);
    (void)w;
    usleep(200 * 1000);
    kill(parent, SIGINT);
    usleep(300 * 1000);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(call_var(0, vstr), 105);
  EXPECT_EQ(zresc, 0);
  EXPECT_EQ(wizfd, -1);
  waitpid(pid, nullptr, 0);
  vx_signal(SIGINT, old);
  zcblogout();
  EXPECT_EQ(slurp(file), be(5) + "0123456789");  // the count untouched
}

TEST_P(wiz_fixture, arguments_and_function_numbers) {
  struct {
    int fn;
    int kind;  // 0 none, 1 string, 2 number, 3 padded variable
    const char *arg;
    int error;
  } cases[] = {
      {0, 0, "", 104}, {0, 1, "text", 104}, {0, 2, "1", 104},  {0, 3, "", 104},  {2, 0, "", 0},
      {2, 2, "5", 0},  {3, 0, "", 104},     {7, 1, "x", 104},  {12, 0, "", 104}, {-1, 0, "", 104},
      {8, 0, "", 104}, {9, 1, "x", 104},    {1, 2, "-1", 104},  // a negative second argument
  };
  for (auto &c : cases) {
    int e = c.kind == 0   ? call(c.fn)
            : c.kind == 1 ? call(c.fn, c.arg)
            : c.kind == 2 ? call_num(c.fn, c.arg)
                          : call_var(c.fn, padded);
    EXPECT_EQ(e, c.error) << c.fn << " " << c.kind << " " << c.arg;
  }
  // too many arguments
  zpush_num(vm_bcd("1"));
  zpush_num(vm_bcd("2"));
  zpush_num(vm_bcd("3"));
  uint32_t top = zp.stkp;
  try {
    wizard(3);
    ADD_FAILURE();
  } catch (const zerror_jump &e) {
    EXPECT_EQ(e.number, 104);
  }
  EXPECT_EQ(zp.stkp, top);
  EXPECT_NE(access(file.c_str(), F_OK), 0);  // nothing opened the buffer
}

// Standard input replaced by a pipe holding keys, for the reader.
struct stdin_keys {
  int saved = dup(0);
  explicit stdin_keys(const std::string &keys) {
    int p[2];
    EXPECT_EQ(pipe(p), 0);
    EXPECT_EQ(write(p[1], keys.data(), keys.size()), ssize_t(keys.size()));
    close(p[1]);
    dup2(p[0], 0);
    close(p[0]);
  }
  ~stdin_keys() {
    dup2(saved, 0);
    close(saved);
  }
};

TEST_P(wiz_fixture, playback_and_capture_pipes) {
  stdin_keys typed("t");
  std::string out = dir + "/captured";
  EXPECT_EQ(call(11, "cat > " + out), 0);
  EXPECT_EQ(call(10, "printf 'ab\\377\\001c'"), 0);
  EXPECT_EQ(get_char(0), 'a');
  EXPECT_EQ(get_char(0), 'b');
  EXPECT_EQ(get_char(0), 0xFF01);  // a function key as the capture pipe writes it
  EXPECT_EQ(get_char(0), 'c');
  EXPECT_EQ(get_char(0), 't');  // the playback ended: the terminal again
  EXPECT_EQ(kbd.play_fd, -1);
  EXPECT_EQ(call(11), 0);  // ends the capture, waiting for its command
  EXPECT_EQ(slurp(out), std::string("ab\xff\x01"
                                    "ct"));
  // a command over 79 characters is refused and ends nothing
  EXPECT_EQ(call(11, "cat > " + out), 0);
  EXPECT_EQ(call(10, std::string(80, 'x')), 104);
  EXPECT_EQ(call(11, std::string(80, 'x')), 104);
  EXPECT_GE(kbd.cap_fd, 0);
  EXPECT_EQ(call(10, "printf q; true " + std::string(64, 'x')), 0);  // 79: taken
  EXPECT_EQ(get_char(0), 'q');
  EXPECT_EQ(call(10), 0);  // ends the playback only
  EXPECT_EQ(kbd.play_fd, -1);
  EXPECT_EQ(call_num(11, "3"), 0);  // a number: ends the capture
  EXPECT_EQ(kbd.cap_fd, -1);
  EXPECT_EQ(slurp(out), "q");
}

}  // namespace
