// The process table with real children and pipes: slot choice and
// refusal, statuses collected out of order, waiting and not waiting, the
// descriptors a child keeps, and failed pipes and forks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <string>

#include "run/process/oscall.h"
#include "run/process/proc.h"

namespace {

// Everything a test child may do ends here: never back into the test.
[[noreturn]] void child_exit(int code) {
  _exit(code);
}

// Starts a child in mode that sleeps ms, then exits with code.
int start(int mode, int code, int ms = 0) {
  int slot = forkpipe(mode);
  if (slot == 0) {
    if (ms) usleep(unsigned(ms) * 1000);
    child_exit(code);
  }
  return slot;
}

int open_fds() {
  int n = 0;
  for (int fd = 0; fd < 256; fd++)
    if (fcntl(fd, F_GETFD) >= 0) n++;
  return n;
}

std::string read_all(int fd) {
  std::string s;
  char buf[256];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
  return s;
}

struct proc : ::testing::Test {
  void SetUp() override { proc_init(); }
  void TearDown() override {
    for (int s = 1; s <= PROC_SLOTS; s++)
      if (proc_tab.zmmd[s - 1]) termproc(s, '1');
    for (int c = 0; c < OS_CALLS; c++) os_fail_for_test(os_call(c), 0, 0);
  }
};

TEST_F(proc, ninth_child_is_refused_and_foreground_keeps_slot_one) {
  int fd_before = open_fds();
  for (int want = 2; want <= 8; want++) EXPECT_EQ(start('3', 0, 200), want);
  EXPECT_EQ(start('1', 0), PROC_EBUSY);  // the seventh piped child is one too many
  EXPECT_EQ(start('4', 3), 1);           // the foreground slot is still there
  EXPECT_EQ(proc_wait(1), 3);
  EXPECT_EQ(proc_tab.zmmd[0], '4');  // status kept in slot 1
  EXPECT_EQ(start('4', 4), 1);       // and slot 1 is taken again
  EXPECT_EQ(termproc(1, '1'), 4);
  EXPECT_EQ(termproc(5, '1'), 0);
  EXPECT_EQ(start('2', 0), 5);  // the lowest free slot
  for (int s = 2; s <= 8; s++) EXPECT_EQ(termproc(s, '1'), 0) << s;
  EXPECT_EQ(open_fds(), fd_before);  // every kept pipe end closed
}

TEST_F(proc, children_ending_out_of_order_are_each_collected_once) {
  int slow = start('1', 7, 300), fast = start('2', 5), third = start('4', 9, 100);
  ASSERT_EQ(slow, 2);
  ASSERT_EQ(fast, 3);
  ASSERT_EQ(third, 1);
  EXPECT_EQ(termproc(slow, '1'), 7);
  // the others ended meanwhile: their statuses wait in their own slots
  EXPECT_NE(proc_tab.zmst[fast - 1], -1);
  EXPECT_NE(proc_tab.zmst[third - 1], -1);
  EXPECT_EQ(termproc(fast, '1'), 5);
  EXPECT_EQ(termproc(fast, '1'), PROC_EBUSY);  // collected once
  EXPECT_EQ(termproc(third, '1'), 9);
  int st;
  EXPECT_EQ(waitpid(-1, &st, WNOHANG), -1);  // nothing left behind
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(proc, slot_checks_no_wait_and_vanished_children) {
  EXPECT_EQ(termproc(0, '1'), PROC_EBADSLOT);
  EXPECT_EQ(termproc(9, '1'), PROC_EBADSLOT);
  EXPECT_EQ(termproc(2, '1'), PROC_EBUSY);
  EXPECT_EQ(forkpipe('5'), PROC_EBADSLOT);
  int s = start('3', 0, 5000);
  pid_t pid = proc_tab.zmps[s - 1];
  EXPECT_EQ(termproc(s, '0'), 0);  // returns at once, child still running
  EXPECT_EQ(proc_tab.zmmd[s - 1], 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  // a child collected behind the table's back: nothing left to wait for
  s = start('1', 0);
  waitpid(proc_tab.zmps[s - 1], nullptr, 0);
  EXPECT_EQ(termproc(s, '1'), PROC_ENOCHILD);
  EXPECT_EQ(proc_tab.zmmd[s - 1], 0);
  // a child ended by a signal is not reported as a success
  s = start('1', 0, 5000);
  kill(proc_tab.zmps[s - 1], SIGTERM);
  EXPECT_EQ(termproc(s, '1'), 128 + SIGTERM);
}

TEST_F(proc, pipes_reach_the_child_and_other_descriptors_do_not) {
  int other = start('3', 0, 2000);  // its kept ends must not reach the next child
  int file = open("/dev/null", O_RDONLY);
  ASSERT_GE(file, 3);
  int s = forkpipe('3');
  if (s == 0) {
    // echo standard input, then name every descriptor above 2 still open
    std::string in = read_all(0);
    for (int fd = 3; fd < 1024; fd++)
      if (fcntl(fd, F_GETFD) >= 0) in += " open:" + std::to_string(fd);
    ssize_t w = write(1, in.data(), in.size());
    child_exit(w == ssize_t(in.size()) ? 0 : 2);
  }
  ASSERT_GT(s, 0);
  ASSERT_EQ(write(proc_tab.zmfd[s - 1][1], "hello", 5), 5);
  close(proc_tab.zmfd[s - 1][1]);
  proc_tab.zmfd[s - 1][1] = -1;
  EXPECT_EQ(read_all(proc_tab.zmfd[s - 1][0]), "hello");
  EXPECT_EQ(termproc(s, '1'), 0);
  close(file);
  EXPECT_EQ(termproc(other, '0'), 0);
}

TEST_F(proc, child_abort_reports_and_exits_with_one) {
  int s = forkpipe('1');
  if (s == 0) {
    dup2(1, 2);
    child_abort("nosuchprog");
  }
  ASSERT_GT(s, 0);
  EXPECT_EQ(read_all(proc_tab.zmfd[s - 1][0]),
            "\a\r\n--- RUN: nosuchprog not executable ---\r\n\a");
  EXPECT_EQ(termproc(s, '1'), 1);
}

TEST_F(proc, failed_pipe_or_fork_frees_the_slot_and_its_pipes) {
  int fd_before = open_fds();
  os_fail_for_test(OS_PIPE, 2, EMFILE);  // the second pipe of mode 3
  EXPECT_EQ(forkpipe('3'), PROC_EPIPE);
  EXPECT_EQ(open_fds(), fd_before);
  os_fail_for_test(OS_FORK, 1, EAGAIN);
  EXPECT_EQ(forkpipe('3'), PROC_EFORK);
  EXPECT_EQ(open_fds(), fd_before);
  for (int i = 0; i < PROC_SLOTS; i++) EXPECT_EQ(proc_tab.zmmd[i], 0);
  EXPECT_EQ(start('1', 6), 2);  // the table still works
  EXPECT_EQ(termproc(2, '1'), 6);
}

TEST_F(proc, wait_is_not_broken_by_interrupt_or_quit) {
  int s = start('1', 4, 300);
  pid_t parent = getpid();
  int k = forkpipe('4');
  if (k == 0) {
    usleep(100000);
    kill(parent, SIGINT);
    kill(parent, SIGQUIT);
    child_exit(0);
  }
  EXPECT_EQ(termproc(s, '1'), 4);  // still alive: both were ignored while waiting
  EXPECT_EQ(termproc(k, '1'), 0);
}

}  // namespace
