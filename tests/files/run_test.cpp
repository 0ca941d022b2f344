// Data files and the terminal through the real run program in a
// pseudo-terminal: PRINT and INPUT, the file lock modes and record locks
// between two runs, many runs updating the same records, and a disk that
// fills up.  Programs are assembled here and take their parameters by
// INPUT.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/pty/pty.h"
#include "tools/asm.h"

namespace {

struct runs : ::testing::Test {
  std::string dir;

  void SetUp() override {
    char tmpl[] = "/tmp/quillon-frun-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir;
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  // assembles src into dir/name
  void program(const std::string &name, const std::string &src) {
    pasm_output out;
    ASSERT_TRUE(pasm_assemble(".pcode 16\n" + src, name, out)) << out.errors;
    std::ofstream f(dir + "/" + name, std::ios::binary);
    f.write(reinterpret_cast<const char *>(out.file.data()), std::streamsize(out.file.size()));
  }
  // starts run on dir/name, ending with the program
  void start(pty_session &s, const std::string &name) {
    pty_options o;
    o.argv = {build_dir() + "/bin/run", "P=./" + name, "VXEXIT=1"};
    o.env = base_env();
    o.cwd = dir;
    ASSERT_TRUE(s.start(o));
  }
  std::string contents(const std::string &name) {
    std::ifstream f(dir + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  void put(const std::string &name, const std::string &bytes) {
    std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
};

int exit_code(pty_session &s, int ms = 20000) {
  int st = 0;
  if (!s.wait_exit(ms, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

TEST_F(runs, print_and_input_on_the_terminal) {
  program("pi", R"(
.main PI
  num a
  num b
  vstr s(20)
  io print
  push 5
  ionum
  ioend
  spush "Qty? "
  io input, D
  push a
  ionum
  push b
  ionum
  ioend
  push 0
  io print, C
  spush "sum"
  iostr
  push a
  add b
  ionum
  ioend
  io print
  spush "!"
  iostr
  ioend
  spush "Name: "
  push 4
  io input, D, E
  push s
  iostr
  ioend
  spush "> "
  io input, D
  push s
  iostr
  ioend
  io print
  push s
  iostr
  ioend
  stop
)");
  pty_session s;
  start(s, "pi");
  ASSERT_TRUE(s.wait_screen("Qty?", 5000)) << s.transcript();
  s.type("12 34\r");
  ASSERT_TRUE(s.wait_screen("Name:", 5000)) << s.transcript();
  s.type("Ann Lee\r");
  ASSERT_TRUE(s.wait_screen(">", 5000)) << s.transcript();
  s.type("Bob\r");
  EXPECT_EQ(exit_code(s), 0);
  EXPECT_NE(s.transcript().find(" 5\r\nQty? 12 34\r\nsum 46!\r\n"), std::string::npos)
      << s.transcript();
  EXPECT_EQ(s.row(0), " 5");
  EXPECT_EQ(s.row(1), "Qty? 12 34");
  EXPECT_EQ(s.row(2), "sum 46!");
  EXPECT_EQ(s.row(3), "Name: Ann Lee");
  EXPECT_EQ(s.row(4), "> bOB");  // without option 4 the case of letters is turned
  EXPECT_EQ(s.row(5), "bOB");
}

// Opens ./lk.rae (relative, 4 bytes) with the option typed, says HELD and
// waits for a line; an open that fails ends with the error report.
const char *HOLDER = R"(
.main HOLD
  num opt
  num rec
  vstr got(10)
  spush "option? "
  io input, D
  push opt
  ionum
  ioend
  push 1
  spush "./lk"
  spush "R"
  push opt
  io open, A, L, Q, E
  ioend
  io print
  spush "HELD"
  iostr
  ioend
again:
  spush "record? "
  io input, D
  push rec
  ionum
  ioend
  push rec
  eq 0
  jt done
  push 1
  push rec
  spush "R"
  io read, A, G, I
  push got
  iostr
  ioend
  io print
  spush "GOT "
  iostr
  push got
  iostr
  ioend
  jmp again
done:
  stop
)";

TEST_F(runs, file_lock_modes_between_two_runs) {
  put("lk.rae", "rec1rec2");
  program("hold", HOLDER);
  const int option[4] = {4, 3, 5, 6};  // lock modes 0, 1, 2, 3
  const bool both[4][4] = {{true, true, true, false},
                           {true, true, false, false},
                           {true, false, false, false},
                           {false, false, false, false}};
  for (int a = 0; a < 4; a++) {
    pty_session first;
    start(first, "hold");
    ASSERT_TRUE(first.wait_screen("option?", 5000));
    first.type(std::to_string(option[a]) + "\r");
    ASSERT_TRUE(first.wait_screen("HELD", 5000)) << first.transcript();
    for (int b = 0; b < 4; b++) {
      pty_session second;
      start(second, "hold");
      ASSERT_TRUE(second.wait_screen("option?", 5000));
      second.type(std::to_string(option[b]) + "\r");
      if (both[a][b]) {
        EXPECT_TRUE(second.wait_screen("HELD", 5000)) << a << " " << b << second.transcript();
        second.type("0\r");
      } else {
        EXPECT_TRUE(second.wait_screen("ERROR 12", 5000)) << a << " " << b << second.transcript();
      }
      EXPECT_EQ(exit_code(second), 0);
    }
    first.type("0\r");
    EXPECT_EQ(exit_code(first), 0);
  }
}

TEST_F(runs, record_locks_between_two_runs) {
  put("lk.rae", "rec1rec2rec3rec4rec5rec6");
  program("hold", HOLDER);
  pty_session a;
  start(a, "hold");
  ASSERT_TRUE(a.wait_screen("option?", 5000));
  a.type("3\r");
  ASSERT_TRUE(a.wait_screen("record?", 5000));
  a.type("5\r");
  ASSERT_TRUE(a.wait_screen("GOT rec5", 5000)) << a.transcript();
  auto read_in_b = [&](int rec, const std::string &want) {
    pty_session b;
    start(b, "hold");
    ASSERT_TRUE(b.wait_screen("option?", 5000));
    b.type("3\r");
    ASSERT_TRUE(b.wait_screen("record?", 5000));
    b.type(std::to_string(rec) + "\r");
    EXPECT_TRUE(b.wait_screen(want, 5000)) << rec << ": " << b.transcript();
    if (want.rfind("GOT", 0) == 0) b.type("0\r");
    EXPECT_EQ(exit_code(b), 0);
  };
  read_in_b(5, "ERROR 23");
  read_in_b(6, "GOT rec6");
  a.type("6\r");  // a moves on: record 5 is free, 6 is held
  ASSERT_TRUE(a.wait_screen("GOT rec6", 5000));
  read_in_b(5, "GOT rec5");
  read_in_b(6, "ERROR 23");
  a.type("0\r");
  EXPECT_EQ(exit_code(a), 0);
}

// Each run adds 1 to the records 1..10 of ./cnt.rau in turn, n times,
// reading each with its lock and trying again while another run has it.
TEST_F(runs, many_runs_lose_no_update) {
  const int RUNS = 8;
  const int n = std::getenv("QUILLON_LONG") ? 2000 : 200;
  std::string rec = " 0" + std::string(18, ' ');
  std::string all;
  for (int i = 0; i < 10; i++) all += rec;
  put("cnt.rau", all);
  program("inc", R"(
.main INC
  num n
  num i
  num k
  num v
  io input
  push n
  ionum
  ioend
  push 1
  spush "./cnt"
  spush "R"
  push 3
  io open, A, L, Q, E
  ioend
  push 0
  store i
next:
  push i
  rem 10
  add 1
  store k
retry:
  push 1
  push k
  spush "R"
  pusha retry
  io read, A, G, I, B
  push v
  ionum
  ioend
  push 1
  push k
  spush "R"
  push 0
  io write, A, G, I, H
  push v
  add 1
  ionum
  ioend
  push i
  add 1
  store i
  push i
  lt n
  jt next
  push 1
  io close, A
  ioend
  io print
  spush "DONE"
  iostr
  ioend
  stop
)");
  std::unique_ptr<pty_session> s[RUNS];
  for (auto &p : s) {
    p = std::make_unique<pty_session>();
    start(*p, "inc");
  }
  for (auto &p : s) {
    p->drain(50);
    p->type(std::to_string(n) + "\r");
  }
  for (auto &p : s) {
    EXPECT_TRUE(p->wait_screen("DONE", 300000)) << p->transcript();
    EXPECT_EQ(exit_code(*p), 0);
  }
  std::string out = contents("cnt.rau");
  ASSERT_EQ(out.size(), 200u);
  for (int r = 0; r < 10; r++)
    EXPECT_EQ(std::atoi(out.substr(size_t(r) * 20, 20).c_str()), RUNS * n / 10)
        << "record " << r + 1;
}

// Writes records until the disk is full (the EOF label of the WRITE, so
// error 16), then reads the file back; prints both counts.  The files are
// opened as sequential access (option 1, then 0): a relative file is then
// appended to and read in order.
const char *FILLER = R"(
.main FILL
  vstr path(70)
  vstr org(1)
  vstr got(40)
  num n
  num m
  spush "path? "
  push 4
  io input, D, E
  push path
  iostr
  ioend
  spush "org? "
  push 4
  io input, D, E
  push org
  iostr
  ioend
  spush path
  push 40
  spush org
  io allocate, L, N, Q
  ioend
  push 1
  spush path
  push 1
  io open, A, L, E
  ioend
more:
  push 1
  pusha full
  io write, A, @
  spush "record number"
  iostr
  push n
  ionum
  spush " of the disk test"
  iostr
  ioend
  push n
  add 1
  store n
  jmp more
full:
  push 1
  io close, A
  ioend
  push 1
  spush path
  io open, A, L
  ioend
back:
  push 1
  pusha done
  io read, A, @
  push got
  iostr
  ioend
  push m
  add 1
  store m
  jmp back
done:
  io print
  spush "WROTE"
  iostr
  push n
  ionum
  spush " READ"
  iostr
  push m
  ionum
  ioend
  stop
)";

// runs the filler on path with organisation org; the records written
int fill(runs &t, const std::string &path, const std::string &org) {
  pty_session s;
  t.start(s, "fill");
  if (!s.wait_screen("path?", 5000)) return -1;
  s.type(path + "\r");
  if (!s.wait_screen("org?", 5000)) return -1;
  s.type(org + "\r");
  if (!s.wait_screen(" READ", 60000)) {
    ADD_FAILURE() << s.transcript();
    return -1;
  }
  s.drain(200);
  int wrote = -1, read = -2;
  size_t at = s.transcript().find("WROTE");
  std::sscanf(s.transcript().c_str() + at, "WROTE %d READ %d", &wrote, &read);
  EXPECT_EQ(wrote, read) << s.transcript();
  EXPECT_GT(wrote, 0);
  EXPECT_EQ(exit_code(s), 0);
  return wrote;
}

// the records of a full file: each is "record number N of the disk test"
void check_records(const std::string &bytes, char org, int count) {
  size_t at = 0;
  for (int i = 0; i < count; i++) {
    std::string want = "record number " + std::to_string(i) + " of the disk test";
    if (org == 'S') {
      ASSERT_LT(at, bytes.size());
      ASSERT_EQ(size_t(uint8_t(bytes[at])), want.size()) << i;
      EXPECT_EQ(bytes.substr(at + 1, want.size()), want);
      at += 1 + want.size();
    } else {
      EXPECT_EQ(bytes.substr(at, 40), want + std::string(40 - want.size(), ' ')) << i;
      at += 40;
    }
  }
  EXPECT_EQ(at, bytes.size());
}

TEST_F(runs, a_full_disk_gives_16_and_keeps_every_record_written) {
  program("fill", FILLER);
  std::string disk = dir + "/disk";
  ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
  struct mounted {  // a small file system of its own, gone again at the end
    std::string at;
    bool ok;
    mounted(const std::string &dir, const char *size)
        : at(dir), ok(mount("tmpfs", dir.c_str(), "tmpfs", 0, size) == 0) {}
    ~mounted() {
      if (ok) umount2(at.c_str(), MNT_DETACH);
    }
  };
  {
    mounted m(disk, "size=96k");
    if (!m.ok) GTEST_SKIP() << "no tmpfs (mounting needs the super-user)";
    int n = fill(*this, "./disk/s", "S");
    check_records(contents("disk/s.saa"), 'S', n);
  }
  mounted m(disk, "size=64k");
  ASSERT_TRUE(m.ok);
  int n = fill(*this, "./disk/r", "R");
  check_records(contents("disk/r.rbo"), 'R', n);
}

TEST_F(runs, the_file_size_limit_gives_16_and_keeps_every_record_written) {
  program("fill", FILLER);
  for (const char *org : {"S", "R"}) {
    struct rlimit old, lim;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    lim = old;
    lim.rlim_cur = 20000;
    void (*was)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    int n = fill(*this, std::string("./lim") + org, org);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, was);
    check_records(contents(std::string("lim") + org + (org[0] == 'S' ? ".saa" : ".rbo")), org[0],
                  n);
  }
}

TEST_F(runs, the_example_programs_run_to_stop) {
  struct ex {
    const char *name;
    const char *shows;
  } examples[] = {
      {"procs", " 13.5 40"},
      {"seqfile", "5 records"},
      {"relfile", "record 3: third"},
  };
  for (auto &e : examples) {
    pty_session s;
    pty_options o;
    o.argv = {build_dir() + "/bin/run", std::string("P=") + build_dir() + "/examples/" + e.name,
              "VXEXIT=1"};
    o.env = base_env();
    o.cwd = dir;
    ASSERT_TRUE(s.start(o));
    EXPECT_EQ(exit_code(s), 0);
    EXPECT_NE(s.transcript().find(e.shows), std::string::npos) << e.name << ": " << s.transcript();
    EXPECT_NE(s.transcript().find("STOP"), std::string::npos) << e.name;
  }
}

}  // namespace
