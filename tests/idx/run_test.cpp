// Indexed files shared by several runs of the real run program, each in
// a pseudo-terminal: a record locked by one run is delivered to another
// with 23 and read again when it retries; transactions rolled back and
// committed as the other run sees them; BEGIN on two units of one file;
// duplicates of a secondary key read forward, backward and by key
// through an index added to a file that holds records.
//
// The program below reads one command a line and answers one line:
// "GOT key data", "ERR key data" (data blank when none was delivered),
// "EOF", "OK" or "KNUM n"; its upper-case commands leave an error
// untrapped, so that run reports it by number and ends.
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
//   oN   open unit 1 with option N        ON   the same file on unit 2
//   C    close unit 1
//   wKKKKdata  write a new record         xdata  rewrite the held record
//   rKKKK  read by key, with the lock     RKKKK  the same, untrapped
//   n, p   read forward, backward, with the lock
//   u      read forward without the lock
//   U      unlock                         d      delete the held record
//   a      add the secondary index        iN     position on index N
//   sAAAA  read by the secondary key (two passes)
//   b      begin (unit 1)                 X      begin units 1 and 2, untrapped
//   c      commit                         k      roll back
//   q      stop
const char *SHELL = R"(
.main IDX
  str c(1)
  vstr a(30)
  str k(4)
  str d(8)
  num n
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
  push c
  iostr
  push a
  iostr
  ioend
  spush c
  seq "o"
  jt.l open1
  spush c
  seq "O"
  jt.l open2
  spush c
  seq "C"
  jt.l close1
  spush c
  seq "w"
  jt.l write
  spush c
  seq "x"
  jt.l rewrite
  spush c
  seq "r"
  jt.l readr
  spush c
  seq "R"
  jt.l readru
  spush c
  seq "n"
  jt.l next
  spush c
  seq "p"
  jt.l prev
  spush c
  seq "u"
  jt.l next0
  spush c
  seq "U"
  jt.l unlock
  spush c
  seq "d"
  jt.l delete
  spush c
  seq "a"
  jt.l addindex
  spush c
  seq "i"
  jt.l index
  spush c
  seq "s"
  jt.l sread
  spush c
  seq "b"
  jt.l begin
  spush c
  seq "X"
  jt.l begin2
  spush c
  seq "c"
  jt.l commit
  spush c
  seq "k"
  jt.l rollback
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
readr:
  spush a
  sstore k
  spush ""
  sstore d
  push 1
  push k
  spush "R"
  pusha rfail
  io read, A, F, I, B
  push d
  iostr
  ioend
  jmp.l got
readru:
  spush a
  sstore k
  push 1
  push k
  spush "R"
  io read, A, F, I
  push d
  iostr
  ioend
  jmp.l got
next:
  spush ""
  sstore d
  push 1
  push k
  pusha eof
  pusha rfail
  io read, A, F, @, B
  push d
  iostr
  ioend
  jmp.l got
prev:
  spush ""
  sstore d
  push 1
  push k
  spush "P"
  pusha eof
  pusha rfail
  io read, A, F, I, @, B
  push d
  iostr
  ioend
  jmp.l got
next0:
  spush ""
  sstore d
  push 1
  push k
  push 0
  pusha eof
  pusha rfail
  io read, A, F, H, @, B
  push d
  iostr
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
addindex:
  push 1
  push 4
  push 1
  push 1
  push knum
  pusha fail
  io addindex, A, O, U, E, V, B
  ioend
  io print
  spush "KNUM"
  iostr
  push knum
  ionum
  ioend
  jmp.l loop
index:
  spush a
  ston
  store n
  push 1
  push n
  pusha fail
  io rewind, A, V, B
  ioend
  jmp.l ok
sread:
  spush a
  sstore d
  push 1
  push k
  spush "R"
  pusha rfail
  io read, A, F, I, B
  push d
  iostr
  ioend
  jmp.l got
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
  io print
  spush "GOT "
  iostr
  push k
  iostr
  spush " "
  iostr
  push d
  iostr
  ioend
  jmp.l loop
rfail:
  io print
  spush "ERR "
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
  io print
  spush "EOF"
  iostr
  ioend
  jmp.l loop
fail:
  io print
  spush "ERR"
  iostr
  ioend
  jmp.l loop
ok:
  io print
  spush "OK"
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
    ASSERT_TRUE(s.wait_for("> ", 10000)) << s.output();
  }
};

// Types a command and returns the run's answer (the line before its next
// prompt), or "<no answer>".
std::string ask(pty_session &s, const std::string &cmd) {
  size_t from = s.output().size();
  s.type(cmd + "\r");
  for (int waited = 0; waited < 10000; waited += 20) {
    const std::string &out = s.output();
    size_t eol = out.find("\r\n", from);
    size_t prompt = eol == std::string::npos ? eol : out.find("\r\n> ", eol + 2);
    if (prompt != std::string::npos) {
      std::string line = out.substr(eol + 2, prompt - eol - 2);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      return line;
    }
    s.drain(20);
  }
  return "<no answer>";
}

int exit_code(pty_session &s) {
  int st = 0;
  if (!s.wait_exit(10000, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

void fill(pty_session &s, std::initializer_list<const char *> records) {
  for (const char *r : records) ASSERT_EQ(ask(s, std::string("w") + r), "OK") << r;
}

TEST_F(runs, a_locked_record_comes_with_23_and_the_retry_reads_it_again) {
  pty_session a, b, c;
  start(a);
  ASSERT_EQ(ask(a, "o0"), "OK");
  fill(a, {"K001one", "K002two", "K003three"});
  ASSERT_EQ(ask(a, "rK002"), "GOT K002 two");  // a holds K002
  start(b);
  ASSERT_EQ(ask(b, "o0"), "OK");
  EXPECT_EQ(ask(b, "n"), "GOT K001 one");
  EXPECT_EQ(ask(b, "n"), "ERR K002 two");  // delivered, with an error
  EXPECT_EQ(ask(b, "n"), "ERR K002 two");  // the retry: the same record
  EXPECT_EQ(ask(a, "U"), "OK");
  EXPECT_EQ(ask(b, "n"), "GOT K002 two");  // now b holds it
  EXPECT_EQ(ask(a, "rK002"), "ERR K002 two");
  EXPECT_EQ(ask(b, "xzwei"), "OK");  // rewritten and let go
  EXPECT_EQ(ask(a, "rK002"), "GOT K002 zwei");
  EXPECT_EQ(ask(b, "p"), "GOT K001 one");
  EXPECT_EQ(ask(b, "n"), "ERR K002 zwei");
  EXPECT_EQ(ask(b, "n"), "ERR K002 zwei");
  EXPECT_EQ(ask(a, "U"), "OK");
  EXPECT_EQ(ask(b, "n"), "GOT K002 zwei");
  EXPECT_EQ(ask(b, "n"), "GOT K003 three");
  // backward the same way
  EXPECT_EQ(ask(a, "rK002"), "GOT K002 zwei");
  EXPECT_EQ(ask(b, "p"), "ERR K002 zwei");
  EXPECT_EQ(ask(b, "p"), "ERR K002 zwei");
  EXPECT_EQ(ask(a, "U"), "OK");
  EXPECT_EQ(ask(b, "p"), "GOT K002 zwei");
  EXPECT_EQ(ask(b, "p"), "GOT K001 one");
  // the error's number, untrapped
  ASSERT_EQ(ask(a, "rK002"), "GOT K002 zwei");
  start(c);
  ASSERT_EQ(ask(c, "o0"), "OK");
  c.type("RK002\r");
  EXPECT_TRUE(c.wait_for("ERROR 23", 10000)) << c.output();
  EXPECT_EQ(exit_code(c), 0);
  a.type("q\r");
  b.type("q\r");
  EXPECT_EQ(exit_code(a), 0);
  EXPECT_EQ(exit_code(b), 0);
}

TEST_F(runs, transactions_rolled_back_and_committed_as_another_run_sees_them) {
  pty_session a, b;
  start(a);
  ASSERT_EQ(ask(a, "o2"), "OK");
  fill(a, {"K001AAAAold", "K002BBBBold"});
  ASSERT_EQ(ask(a, "a"), "KNUM 2");
  ASSERT_EQ(ask(a, "C"), "OK");
  ASSERT_EQ(ask(a, "o0"), "OK");
  start(b);
  ASSERT_EQ(ask(b, "o0"), "OK");
  ASSERT_EQ(ask(a, "b"), "OK");
  ASSERT_EQ(ask(a, "wK009CCCCnew"), "OK");
  ASSERT_EQ(ask(a, "rK001"), "GOT K001 AAAAold");
  ASSERT_EQ(ask(a, "xDDDDchg"), "OK");
  ASSERT_EQ(ask(a, "rK002"), "GOT K002 BBBBold");
  ASSERT_EQ(ask(a, "d"), "OK");
  // b sees the changes, held by the transaction
  EXPECT_EQ(ask(b, "rK009"), "ERR K009 CCCCnew");
  EXPECT_EQ(ask(b, "rK001"), "ERR K001 DDDDchg");
  EXPECT_EQ(ask(b, "rK002"), "ERR K002");
  ASSERT_EQ(ask(a, "k"), "OK");
  // rolled back: the records as before, by either index
  EXPECT_EQ(ask(b, "rK009"), "ERR K009");
  EXPECT_EQ(ask(b, "rK001"), "GOT K001 AAAAold");
  EXPECT_EQ(ask(b, "rK002"), "GOT K002 BBBBold");
  ASSERT_EQ(ask(b, "i2"), "OK");
  EXPECT_EQ(ask(b, "sDDDD"), "ERR K002 DDDD");
  EXPECT_EQ(ask(b, "sCCCC"), "ERR K002 CCCC");
  EXPECT_EQ(ask(b, "sAAAA"), "GOT K001 AAAAold");
  EXPECT_EQ(ask(b, "sBBBB"), "GOT K002 BBBBold");
  // committed: b reads it without an error
  ASSERT_EQ(ask(a, "b"), "OK");
  ASSERT_EQ(ask(a, "wK009CCCCnew"), "OK");
  ASSERT_EQ(ask(a, "c"), "OK");
  EXPECT_EQ(ask(b, "sCCCC"), "GOT K009 CCCCnew");
  // the unit serves on outside a transaction; a rollback has nothing to undo
  ASSERT_EQ(ask(a, "wK010EEEEout"), "OK");
  EXPECT_EQ(ask(a, "k"), "ERR");
  EXPECT_EQ(ask(b, "sEEEE"), "GOT K010 EEEEout");
  a.type("q\r");
  b.type("q\r");
  EXPECT_EQ(exit_code(a), 0);
  EXPECT_EQ(exit_code(b), 0);
}

TEST_F(runs, begin_refuses_one_file_on_two_units) {
  pty_session a;
  start(a);
  ASSERT_EQ(ask(a, "o0"), "OK");
  ASSERT_EQ(ask(a, "O1"), "OK");
  a.type("X\r");
  EXPECT_TRUE(a.wait_for("ERROR 12", 10000)) << a.output();
  EXPECT_EQ(exit_code(a), 0);
}

TEST_F(runs, duplicates_of_a_secondary_key_in_three_directions) {
  pty_session a;
  start(a);
  ASSERT_EQ(ask(a, "o2"), "OK");
  fill(a, {"K001AAAAone", "K002BBBBtwo", "K003AAAAthr", "K004AAAAfour", "K005CCCCfive"});
  ASSERT_EQ(ask(a, "a"), "KNUM 2");  // added to a file with records, used at once
  ASSERT_EQ(ask(a, "i2"), "OK");
  const char *forward[] = {"K001", "K003", "K004", "K002", "K005"};
  for (const char *k : forward) EXPECT_EQ(ask(a, "n").substr(0, 8), std::string("GOT ") + k);
  EXPECT_EQ(ask(a, "n"), "EOF");
  for (int i = 4; i >= 0; i--)
    EXPECT_EQ(ask(a, "p").substr(0, 8), std::string("GOT ") + forward[i]);
  EXPECT_EQ(ask(a, "p"), "EOF");
  EXPECT_EQ(ask(a, "sAAAA"), "GOT K001 AAAAone");  // the first of the duplicates
  EXPECT_EQ(ask(a, "n"), "GOT K003 AAAAthr");
  EXPECT_EQ(ask(a, "n"), "GOT K004 AAAAfour");
  EXPECT_EQ(ask(a, "p"), "GOT K003 AAAAthr");
  EXPECT_EQ(ask(a, "sAAAB"), "ERR K003 AAAB");  // not found: then the next greater
  EXPECT_EQ(ask(a, "n"), "GOT K002 BBBBtwo");
  ASSERT_EQ(ask(a, "i1"), "OK");
  EXPECT_EQ(ask(a, "n"), "GOT K001 AAAAone");
  a.type("q\r");
  EXPECT_EQ(exit_code(a), 0);
}

}  // namespace
