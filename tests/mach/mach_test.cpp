// The process and pipe statement with real children: arguments laid on
// the expression stack as a program pushes them, results read back from
// the variables, every error number, in both address widths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "run/base/image.h"
#include "run/intrin/mach.h"
#include "run/numeric/zops.h"
#include "run/process/oscall.h"
#include "run/process/proc.h"
#include "tests/interp/vm.h"

namespace {

// An argument: a variable (its descriptor index), a string value or a
// number.
struct var {
  int index;
};
struct num {
  const char *text;
};
struct image {  // len bytes of the image at addr
  uint32_t addr, len;
};
using marg = std::variant<var, std::string, num, image>;

struct mach_fixture : ::testing::TestWithParam<int> {
  vm_prog p;
  int slot = 0, buf = 0, small = 0, padded = 0, status = 0, unbound = 0;

  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);  // as run has it
    proc_init();
    p.pcode = GetParam();
    slot = p.str(4);
    buf = p.str(100);
    small = p.str(4);
    padded = p.str(6, true);
    status = p.str(4);
    unbound = p.str(10);
    vm_load(p);
    zputa(vm_desc(unbound) + 1, zw.inv_offs);
  }
  void TearDown() override {
    for (int s = 1; s <= PROC_SLOTS; s++)
      if (proc_tab.zmmd[s - 1]) termproc(s, '1');
    for (int c = 0; c < OS_CALLS; c++) os_fail_for_test(os_call(c), 0, 0);
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }

  void push(const marg &a) {
    if (auto *v = std::get_if<var>(&a)) {
      zpush_ref(vm_desc(v->index));
    } else if (auto *s = std::get_if<std::string>(&a)) {
      uint32_t at = zp.stkp + uint32_t(zw.adr_len);
      if (!s->empty()) std::memcpy(zat(at, uint32_t(s->size())), s->data(), s->size());
      zpush_str_above(at, uint32_t(s->size()));
    } else if (auto *m = std::get_if<image>(&a)) {
      zpush_str(m->addr, m->len);
    } else {
      zpush_num(vm_bcd(std::get<num>(a).text));
    }
  }
  // Runs the statement; 0, or the runtime error it raised.  The stack
  // must be back where it was.
  int run(const std::vector<marg> &args) {
    uint32_t level = zp.stkp;
    for (const auto &a : args) push(a);
    try {
      mach(int(args.size()));
    } catch (const zerror_jump &e) {
      zp.stkp = level;
      return e.number;
    }
    EXPECT_EQ(zp.stkp, level);
    return 0;
  }
  // starts path with the arguments in mode m; the slot number
  int start(char m, std::vector<std::string> argv) {
    std::vector<marg> a = {std::string("SP") + m, var{slot}};
    for (auto &s : argv) a.push_back(s);
    EXPECT_EQ(run(a), 0);
    std::string v = vm_str(slot);
    return v.size() == 1 ? v[0] : -1;
  }
  std::string slot_arg(int s) { return std::string(1, char(s)); }
  // ends slot s (waiting); the exit code, or -error
  int end(int s, char w = '1') {
    int e = run({std::string("TP") + w, slot_arg(s), var{status}});
    if (e) return -e;
    std::string v = vm_str(status);
    return v.size() == 1 ? (unsigned char)v[0] : -1;
  }
  // ends slot s without waiting, then its child, so that no later wait
  // meets it
  void discard(int s) {
    pid_t pid = proc_tab.zmps[s - 1];
    EXPECT_EQ(end(s, '0'), 0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  int slots_in_use() {
    int n = 0;
    for (int s = 0; s < PROC_SLOTS; s++) n += proc_tab.zmmd[s] != 0;
    return n;
  }
};

INSTANTIATE_TEST_SUITE_P(widths, mach_fixture, ::testing::Values(129, 130));

TEST_P(mach_fixture, child_echoes_what_it_is_sent) {
  int s = start('3', {"/bin/cat"});
  ASSERT_EQ(s, 2);
  EXPECT_EQ(proc_tab.zmmd[s - 1], '3');
  EXPECT_EQ(run({"WP", slot_arg(s), "hello, child"}), 0);
  EXPECT_EQ(run({"WP", slot_arg(s), ""}), 0);  // closes its input: read-only now
  EXPECT_EQ(proc_tab.zmmd[s - 1], '1');
  EXPECT_EQ(run({"WP", slot_arg(s), "more"}), 75);
  EXPECT_EQ(run({"RP", slot_arg(s), var{buf}, num{"100"}}), 0);
  EXPECT_EQ(vm_str(buf), "hello, child");  // fewer than asked: the child ended
  EXPECT_EQ(run({"RP", slot_arg(s), var{buf}, num{"5"}}), 0);
  EXPECT_EQ(vm_str(buf), "");  // at the end: nothing read
  EXPECT_EQ(end(s), 0);
  EXPECT_EQ(slots_in_use(), 0);
}

TEST_P(mach_fixture, count_limits_a_read_and_padded_results_are_filled) {
  int s = start('1', {"/bin/sh", "-c", "printf abcdefgh"});
  EXPECT_EQ(run({"RP", slot_arg(s), var{buf}, num{"3"}}), 0);
  EXPECT_EQ(vm_str(buf), "abc");
  EXPECT_EQ(run({"RP", slot_arg(s), var{padded}, num{"4.9"}}), 0);  // count truncated
  EXPECT_EQ(vm_str(padded), "defg  ");
  EXPECT_EQ(run({"RP", slot_arg(s), var{small}, num{"4"}}), 0);
  EXPECT_EQ(vm_str(small), "h");
  EXPECT_EQ(end(s, '0'), 0);
}

TEST_P(mach_fixture, arguments_reach_the_program_in_order) {
  // path, then up to seven arguments: the largest statement there is
  int s = start(
      '1', {"/bin/sh", "-c", "printf '%s|' \"$0\" \"$@\"", "zero", "one", "two words", "", "last"});
  ASSERT_GT(s, 1);
  EXPECT_EQ(run({"RP", slot_arg(s), var{buf}, num{"100"}}), 0);
  EXPECT_EQ(vm_str(buf), "zero|one|two words||last|");
  EXPECT_EQ(end(s), 0);
}

TEST_P(mach_fixture, exit_codes_and_stored_foreground_status) {
  int s = start('0', {"/bin/sh", "-c", "exit 7"});
  EXPECT_EQ(proc_tab.zmmd[s - 1], '0');
  EXPECT_EQ(end(s), 7);
  // a foreground child is waited for at once; its slot keeps mode 4
  s = start('4', {"/bin/sh", "-c", "exit 42"});
  EXPECT_EQ(s, 1);
  EXPECT_EQ(proc_tab.zmmd[0], '4');
  EXPECT_EQ(mach_st.tty_reset, 0);
  EXPECT_EQ(end(s, '0'), 42);  // the stored status, even without waiting
  EXPECT_EQ(end(s), -73);      // freed
  s = start('4', {"/bin/sh", "-c", "kill -9 $$"});
  EXPECT_EQ(end(s), 128 + 9);
}

TEST_P(mach_fixture, closing_input_of_write_only_slot_leaves_it_endable) {
  int s = start('2', {"/bin/sh", "-c", "cat > /dev/null; exit 3"});
  EXPECT_EQ(run({"RP", slot_arg(s), var{buf}, num{"1"}}), 75);
  EXPECT_EQ(run({"WP", slot_arg(s), "data"}), 0);
  EXPECT_EQ(run({"WP", slot_arg(s), ""}), 0);
  EXPECT_EQ(proc_tab.zmmd[s - 1], '0');
  EXPECT_EQ(run({"WP", slot_arg(s), "x"}), 75);
  EXPECT_EQ(end(s), 3);
}

TEST_P(mach_fixture, write_to_a_child_that_stopped_reading_is_78) {
  int s = start('2', {"/bin/true"});
  pid_t pid = proc_tab.zmps[s - 1];
  int st;
  while (proc_tab.zmst[s - 1] == -1 && waitpid(pid, &st, WNOHANG) == 0) usleep(10000);
  EXPECT_EQ(run({"WP", slot_arg(s), "nobody reads this"}), 78);
  end(s, '0');
}

TEST_P(mach_fixture, errors_of_arguments_commands_and_slots) {
  int r = start('1', {"/bin/sleep", "5"});
  int w = start('2', {"/bin/sleep", "5"});
  ASSERT_EQ(r, 2);
  ASSERT_EQ(w, 3);
  std::string sr = slot_arg(r), sw = slot_arg(w);
  struct {
    std::vector<marg> args;
    int error;
  } cases[] = {
      {{"RP", sr}, 104},  // too few
      {{"SP0", var{slot}, "/bin/true", "1", "2", "3", "4", "5", "6", "7", "8"}, 104},
      {{"RP", num{"2"}, var{buf}, num{"1"}}, 104},  // the slot as a number
      {{"RP", sr, var{buf}}, 104},                  // no count
      {{"RP", sr, var{buf}, "5"}, 104},             // a count that is a string
      {{"RP", sr, var{buf}, num{"65535"}}, 104},
      {{"RP", sr, var{buf}, num{"-1"}}, 104},
      {{"SP0", var{slot}, "/bin/true", num{"1"}}, 71},        // a number only for RP
      {{"SP0", var{slot}, "/bin/true", "a", num{"1"}}, 104},  // and only there
      {{"WP", sw, "x", num{"1"}}, 71},
      {{"TP1", sr, var{status}, num{"1"}}, 71},
      {{"R", sr, "x"}, 71},
      {{"rp", sr, var{buf}, num{"1"}}, 71},  // upper case only
      {{"XP", sr, "x"}, 71},
      {{"SP", var{slot}, "/bin/true"}, 71},
      {{"SP5", var{slot}, "/bin/true"}, 71},
      {{"SP01", var{slot}, "/bin/true"}, 71},
      {{"TP", sr, var{status}}, 71},
      {{"TP2", sr, var{status}}, 71},
      {{"RP", "", var{buf}, num{"1"}}, 72},
      {{"RP", std::string(1, '\0'), var{buf}, num{"1"}}, 72},
      {{"WP", slot_arg(9), "x"}, 72},
      {{"TP1", slot_arg(0xFF), var{status}}, 72},  // a signed byte: -1
      {{"RP", slot_arg(5), var{buf}, num{"1"}}, 73},
      {{"TP0", slot_arg(1), var{status}}, 73},
      {{"RP", sw, var{buf}, num{"1"}}, 75},
      {{"WP", sr, "x"}, 75},
      {{"RP", sr, var{buf}, num{"0"}}, 76},
      {{"RP", sr, var{small}, num{"5"}}, 77},
      {{"RP", sr, var{unbound}, num{"1"}}, 111},
      {{"SP0", var{unbound}, "/bin/true"}, 111},
      {{"SP0", "", "/bin/true"}, 104},  // a result with no room
      {{"SP0", var{slot}, "/nonexistent/program"}, 79},
      {{"SP0", var{slot}, "/etc/passwd"}, 79},
      {{"SP4", var{slot}, "/etc/passwd"}, 79},
  };
  for (auto &c : cases) {
    size_t i = size_t(&c - cases);
    EXPECT_EQ(run(c.args), c.error) << "case " << i;
    EXPECT_EQ(slots_in_use(), 2) << "case " << i;  // no child started, none ended
    EXPECT_EQ(mach_st.tty_reset, 0) << "case " << i;
  }
  discard(r);
  discard(w);
}

TEST_P(mach_fixture, failures_of_the_process_table) {
  os_fail_for_test(OS_FORK, 1, EAGAIN);
  EXPECT_EQ(run({"SP0", var{slot}, "/bin/true"}), 70);
  os_fail_for_test(OS_PIPE, 1, EMFILE);
  EXPECT_EQ(run({"SP3", var{slot}, "/bin/true"}), 78);
  os_fail_for_test(OS_FORK, 1, EAGAIN);
  EXPECT_EQ(run({"SP4", var{slot}, "/bin/true"}), 70);
  EXPECT_EQ(mach_st.tty_reset, 0);  // the terminal is back in program mode
  EXPECT_EQ(slots_in_use(), 0);
  for (int i = 0; i < 7; i++) start('0', {"/bin/sleep", "5"});
  EXPECT_EQ(run({"SP1", var{slot}, "/bin/true"}), 74);
  for (int s = 2; s <= 8; s++) discard(s);
  // a child collected behind the table's back: nothing to wait for
  int s = start('0', {"/bin/true"});
  waitpid(proc_tab.zmps[s - 1], nullptr, 0);
  EXPECT_EQ(end(s), -70);
}

TEST_P(mach_fixture, argument_strings_that_pass_the_image_end_are_refused) {
  // a path of 40000 bytes (the program area as its text) does not fit in
  // the free space above the stack top
  uint32_t room = zm.size - zp.stkp;
  ASSERT_LT(room, 40000u);
  EXPECT_EQ(run({"SP0", var{slot}, image{zm.zrbas, 40000}}), 106);
  EXPECT_EQ(run({"SP4", var{slot}, "/bin/true", image{zm.zrbas, room - 20}}), 106);
  EXPECT_EQ(mach_st.tty_reset, 0);
  EXPECT_EQ(slots_in_use(), 0);
  // what fits is passed whole: 20000 "x" to a program that counts them
  std::memset(zat(zm.zrbas, 20000), 'x', 20000);
  std::vector<marg> a = {std::string("SP1"),
                         var{slot},
                         std::string("/bin/sh"),
                         std::string("-c"),
                         std::string("printf %s \"$0\" | wc -c"),
                         image{zm.zrbas, 20000}};
  ASSERT_EQ(run(a), 0);
  int s = vm_str(slot)[0];
  EXPECT_EQ(run({"RP", slot_arg(s), var{buf}, num{"100"}}), 0);
  EXPECT_EQ(std::stoi(vm_str(buf)), 20000);
  EXPECT_EQ(end(s), 0);
}

}  // namespace
