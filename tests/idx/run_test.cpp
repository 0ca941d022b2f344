// Indexed files shared by several runs of the real run program, each in
// a pseudo-terminal: a record locked by one run is delivered to another
// with 23 and read again when it retries; transactions rolled back and
// committed as the other run sees them; BEGIN on two units of one file.
//
// The program below reads one command a line and answers one line:
// "GOT key data", "ERR key data" (the data is the command's argument
// when none was delivered), "EOF", "OK" or "ERR"; two commands leave an
// error untrapped, so that run reports it by number and ends.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/pty/pty.h"
#include "tools/asm.h"

namespace {

// File ./f: keys of 4, data of 8 (a secondary key in data bytes 1-4).
// A command is its number in two digits and its argument:
//   1 open unit 1 with option n      2 the same file on unit 2
//   3 close unit 1                   4 write a new record KKKKdata
//   5 rewrite the held record        6 read: mode, lock option, key (or,
//   7 read by key, untrapped            by a secondary key, its data)
//   8 unlock   9 delete              10 add the secondary index
//  11 position on index n            12 begin unit 1
//  13 begin units 1 and 2, untrapped 14 commit   15 roll back
// anything else stops.
const char *SHELL = R"(
.main IDX
  str cs(2)
  num c
  vstr a(30)
  str m(1)
  num l
  str k(4)
  str d(8)
  num knum
  spush "./f"
  push 8
  push 4
  spush "I"
  pusha loop
  io allocate, L, N, O, Q, B
  ioend
loop:
  spush "> "
  push 4
  io input, D, E
  push cs
  iostr
  push a
  iostr
  ioend
  spush cs
  ston
  store c
  push 16
  sub c
  jmpc quit, open1, open2, close1, write, rewrite, read, readu, unlock, delete, addx, index, begin, begin2, commit, rollback
quit:
  stop
open1:
  push 1
  spush "./f"
  spush "I"
  spush a
  ston
  pusha fail
  io open, A, L, Q, E, B
  ioend
  jmp.l ok
open2:
  push 2
  spush "./f"
  spush "I"
  spush a
  ston
  pusha fail
  io open, A, L, Q, E, B
  ioend
  jmp.l ok
close1:
  push 1
  pusha fail
  io close, A, B
  ioend
  jmp.l ok
write:
  push 1
  push 4
  ssub a
  sstore k
  push 5
  spush a()
  sstore d
  push 1
  push k
  push 0
  pusha fail
  io write, A, F, H, B
  push d
  iostr
  ioend
  jmp.l ok
rewrite:
  spush a
  sstore d
  push 1
  spush "R"
  push 0
  pusha fail
  io write, A, I, H, B
  push d
  iostr
  ioend
  jmp.l ok
read:
  push 1
  push 1
  ssub a
  sstore m
  push 2
  push 1
  ssub a
  ston
  store l
  push 3
  spush a()
  sstore k
  push 3
  spush a()
  sstore d
  push 1
  push k
  spush m
  push l
  pusha eof
  pusha rfail
  io read, A, F, I, H, @, B
  push d
  iostr
  ioend
  jmp.l got
readu:
  spush a
  sstore k
  push 1
  push k
  spush "R"
  io read, A, F, I
  ioend
  jmp.l got
unlock:
  push 1
  pusha fail
  io unlock, A, B
  ioend
  jmp.l ok
delete:
  push 1
  pusha fail
  io delete, A, B
  ioend
  jmp.l ok
addx:
  push 1
  push 4
  push 1
  push 1
  push knum
  pusha fail
  io addindex, A, O, U, E, V, B
  ioend
  jmp.l ok
index:
  push 1
  spush a
  ston
  store knum
  push knum
  pusha fail
  io rewind, A, V, B
  ioend
  jmp.l ok
begin:
  push 1
  pusha fail
  io begin, A, B
  ioend
  jmp.l ok
begin2:
  push 1
  push 2
  io begin, A, A
  ioend
  jmp.l ok
commit:
  pusha fail
  io commit, B
  ioend
  jmp.l ok
rollback:
  pusha fail
  io rollback, B
  ioend
  jmp.l ok
got:
  spush "GOT "
  jmp.l show
rfail:
  spush "ERR "
show:
  io print
  iostr
  push k
  iostr
  spush " "
  iostr
  push d
  iostr
  ioend
  jmp.l loop
eof:
  spush "EOF"
  jmp.l say
fail:
  spush "ERR"
  jmp.l say
ok:
  spush "OK"
say:
  io print
  iostr
  ioend
  jmp.l loop
)";

struct runs : ::testing::Test {
  std::string dir;

  void SetUp() override {
    char tmpl[] = "/tmp/quillon-irun-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(".pcode 16\n" + std::string(SHELL), "idx", out)) << out.errors;
    std::ofstream f(dir + "/idx", std::ios::binary);
    f.write(reinterpret_cast<const char *>(out.file.data()), std::streamsize(out.file.size()));
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir;
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  // starts run on the program, with the transaction log ./tx.log
  void start(pty_session &s) {
    pty_options o;
    o.argv = {build_dir() + "/bin/run", "P=./idx", "VXEXIT=1", "VXTXLOG=./tx.log"};
    o.env = base_env();
    o.cwd = dir;
    ASSERT_TRUE(s.start(o));
    ASSERT_TRUE(s.wait_until([&] { return s.line(s.cursor_line()) == ">"; }, 10000))
        << s.transcript();
  }
};

// Types a command and returns the run's answer (the line before its next
// prompt), or "<no answer>".
std::string ask(pty_session &s, const std::string &cmd) {
  int from = s.cursor_line();
  s.type(cmd + "\r");
  auto prompted = [&] { return s.cursor_line() >= from + 2 && s.line(s.cursor_line()) == ">"; };
  if (!s.wait_until(prompted, 10000)) return "<no answer>";
  return s.line(s.cursor_line() - 1);
}

int exit_code(pty_session &s) {
  int st = 0;
  if (!s.wait_exit(10000, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

// the commands of the program
std::string open1(int opt) {
  return "01" + std::to_string(opt);
}
std::string open2(int opt) {
  return "02" + std::to_string(opt);
}
const std::string CLOSE = "03", UNLOCK = "08", DELETE = "09", ADDINDEX = "10", BEGIN = "12",
                  BEGIN2 = "13", COMMIT = "14", ROLLBACK = "15", QUIT = "00";
std::string write(const std::string &rec) {
  return "04" + rec;
}
std::string rewrite(const std::string &data) {
  return "05" + data;
}
// mode R (key), S or P; lock option 0 or 1
std::string read(char mode, int lock, const std::string &key = " ") {
  return "06" + std::string(1, mode) + std::to_string(lock) + key;
}
std::string index(int n) {
  return "11" + std::to_string(n);
}

void quit(pty_session &s) {
  s.type(QUIT + "\r");
  EXPECT_EQ(exit_code(s), 0);
}

TEST_F(runs, a_locked_record_comes_with_23_and_the_retry_reads_it_again) {
  pty_session a, b, c;
  start(a);
  ASSERT_EQ(ask(a, open1(0)), "OK");
  for (const char *r : {"K001one", "K002two", "K003three"}) ASSERT_EQ(ask(a, write(r)), "OK");
  ASSERT_EQ(ask(a, read('R', 1, "K002")), "GOT K002 two");  // a holds K002
  start(b);
  ASSERT_EQ(ask(b, open1(0)), "OK");
  EXPECT_EQ(ask(b, read('S', 1)), "GOT K001 one");
  EXPECT_EQ(ask(b, read('S', 1)), "ERR K002 two");  // delivered, with an error
  EXPECT_EQ(ask(b, read('S', 1)), "ERR K002 two");  // the retry: the same record
  EXPECT_EQ(ask(a, UNLOCK), "OK");
  EXPECT_EQ(ask(b, read('S', 1)), "GOT K002 two");  // now b holds it
  EXPECT_EQ(ask(a, read('R', 1, "K002")), "ERR K002 two");
  EXPECT_EQ(ask(b, rewrite("zwei")), "OK");  // rewritten and let go
  EXPECT_EQ(ask(a, read('R', 1, "K002")), "GOT K002 zwei");
  EXPECT_EQ(ask(b, read('S', 1)), "GOT K003 three");
  // backward the same way
  EXPECT_EQ(ask(b, read('P', 1)), "ERR K002 zwei");
  EXPECT_EQ(ask(b, read('P', 1)), "ERR K002 zwei");
  EXPECT_EQ(ask(a, UNLOCK), "OK");
  EXPECT_EQ(ask(b, read('P', 1)), "GOT K002 zwei");
  EXPECT_EQ(ask(b, read('P', 1)), "GOT K001 one");
  // the error's number, untrapped
  ASSERT_EQ(ask(a, read('R', 1, "K002")), "GOT K002 zwei");
  start(c);
  ASSERT_EQ(ask(c, open1(0)), "OK");
  c.type("07K002\r");
  EXPECT_TRUE(c.wait_screen("ERROR 23", 10000)) << c.transcript();
  EXPECT_EQ(exit_code(c), 0);
  quit(a);
  quit(b);
}

TEST_F(runs, transactions_rolled_back_and_committed_as_another_run_sees_them) {
  pty_session a, b;
  start(a);
  ASSERT_EQ(ask(a, open1(2)), "OK");
  for (const char *r : {"K001AAAAold", "K002BBBBold"}) ASSERT_EQ(ask(a, write(r)), "OK");
  ASSERT_EQ(ask(a, ADDINDEX), "OK");
  ASSERT_EQ(ask(a, CLOSE), "OK");
  ASSERT_EQ(ask(a, open1(0)), "OK");
  start(b);
  ASSERT_EQ(ask(b, open1(0)), "OK");
  ASSERT_EQ(ask(a, BEGIN), "OK");
  ASSERT_EQ(ask(a, write("K009CCCCnew")), "OK");
  ASSERT_EQ(ask(a, read('R', 1, "K001")), "GOT K001 AAAAold");
  ASSERT_EQ(ask(a, rewrite("DDDDchg")), "OK");
  ASSERT_EQ(ask(a, read('R', 1, "K002")), "GOT K002 BBBBold");
  ASSERT_EQ(ask(a, DELETE), "OK");
  // b sees the changes, held by the transaction
  EXPECT_EQ(ask(b, read('R', 0, "K009")), "ERR K009 CCCCnew");
  EXPECT_EQ(ask(b, read('R', 0, "K001")), "ERR K001 DDDDchg");
  EXPECT_EQ(ask(b, read('R', 0, "K002")), "ERR K002 K002");  // gone: nothing delivered
  ASSERT_EQ(ask(a, ROLLBACK), "OK");
  // rolled back: the records as before, by either index
  EXPECT_EQ(ask(b, read('R', 0, "K009")), "ERR K009 K009");
  EXPECT_EQ(ask(b, read('R', 0, "K001")), "GOT K001 AAAAold");
  EXPECT_EQ(ask(b, read('R', 0, "K002")), "GOT K002 BBBBold");
  ASSERT_EQ(ask(b, index(2)), "OK");
  EXPECT_EQ(ask(b, read('R', 0, "DDDD")), "ERR DDDD DDDD");
  EXPECT_EQ(ask(b, read('R', 0, "CCCC")), "ERR CCCC CCCC");
  EXPECT_EQ(ask(b, read('R', 0, "AAAA")), "GOT K001 AAAAold");
  EXPECT_EQ(ask(b, read('R', 0, "BBBB")), "GOT K002 BBBBold");
  // committed: b reads it without an error
  ASSERT_EQ(ask(a, BEGIN), "OK");
  ASSERT_EQ(ask(a, write("K009CCCCnew")), "OK");
  ASSERT_EQ(ask(a, COMMIT), "OK");
  EXPECT_EQ(ask(b, read('R', 0, "CCCC")), "GOT K009 CCCCnew");
  // the unit serves on outside a transaction; a rollback has nothing to undo
  ASSERT_EQ(ask(a, write("K010EEEEout")), "OK");
  EXPECT_EQ(ask(a, ROLLBACK), "ERR");
  EXPECT_EQ(ask(b, read('R', 0, "EEEE")), "GOT K010 EEEEout");
  quit(a);
  quit(b);
}

TEST_F(runs, begin_refuses_one_file_on_two_units) {
  pty_session a;
  start(a);
  ASSERT_EQ(ask(a, open1(0)), "OK");
  ASSERT_EQ(ask(a, open2(1)), "OK");
  a.type(BEGIN2 + "\r");
  EXPECT_TRUE(a.wait_screen("ERROR 12", 10000)) << a.transcript();
  EXPECT_EQ(exit_code(a), 0);
}

}  // namespace
