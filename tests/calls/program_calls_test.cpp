// Calls, returns and errors with assembled programs, in both address
// widths: procedures and their results, the error handler and the report,
// the error log, DATA lists, chains and calls of other programs with
// parameters, and the error program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/interp/exec.h"
#include "run/interp/zreport.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/numeric/zconv.h"
#include "run/startup/startup.h"
#include "tools/asm.h"

namespace {

struct calls : ::testing::TestWithParam<int> {
  std::string dir;

  void SetUp() override {
    run_hooks();  // the intrinsics, the I/O statements and the log's hierarchy
    nonstop = 1;  // no "STOP" line on standard output
    char name[] = "/tmp/quillon-calls-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    log_name = nullptr;
    vx_onerror = nullptr;
    fOnerror = 0;
    errfile[0] = 0;
    ASSERT_EQ(zimage_alloc(300, 2, 0), ZALLOC_OK);
  }
  void TearDown() override {
    zcleanup();
    std::string cmd = "rm -rf " + dir;
    (void)!system(cmd.c_str());
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }

  // assembles src (without its .pcode line) into dir/name
  std::string program(const std::string &name, const std::string &src) {
    std::string full = std::string(".pcode ") + (GetParam() == 130 ? "24" : "16") + "\n" + src;
    pasm_output out;
    EXPECT_TRUE(pasm_assemble(full, name, out)) << out.errors;
    std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(out.file.data(), 1, out.file.size(), f);
    std::fclose(f);
    return path;
  }
  // loads and runs the program at path; the result of execute
  int run(const std::string &path) {
    zl.pcodeVersion = PCODE_NONE;
    int r = zload(path.c_str(), 0, int(path.size()), 0);
    EXPECT_EQ(r, ZL_OK);
    if (r != ZL_OK) return -1;
    return execute(0, 0, 0);
  }
  int run_main(const std::string &src) { return run(program("main", src)); }

  // value of numeric variable i of the main routine's table, as text
  std::string num(int i) {
    uint32_t d = zp.rdt + uint32_t(i * zw.dsc_len);
    if (zget1(d) & DSC_IND) d = zgeta(d + 1);
    bcd_num x;
    std::memcpy(&x, zspan(zgeta(d + 1), 8).data(), 8);
    char buf[64];
    fsns = buf;
    int n = zfns(&x);
    return std::string(buf, size_t(n));
  }
  // value of string variable i: its current length for a variable-length one
  std::string str(int i) {
    uint32_t d = zp.rdt + uint32_t(i * zw.dsc_len);
    uint32_t a = uint32_t(zw.adr_len);
    uint8_t type = uint8_t(zget1(d));
    uint32_t len = (type & DSC_PAD) ? zget2(d + 1 + a) : zget2(d + 3 + a);
    auto s = zspan(zgeta(d + 1), len);
    return std::string(s.begin(), s.end());
  }
  std::string common_text(uint32_t at, uint32_t len) {
    auto s = zspan(at, len);
    return std::string(s.begin(), s.end());
  }
};

INSTANTIATE_TEST_SUITE_P(widths, calls, ::testing::Values(129, 130));

const char *AREA = R"(
.proc AREA
  param num x
  param num y
  push x
  mul y
  ret
)";

TEST_P(calls, procedure_results_and_references) {
  ASSERT_EQ(run_main(std::string(R"(
.main T
  num w
  num h
  num a
  num v(3)
  push 3
  store w
  push 4.5
  store h
  push w
  push h
  call AREA, 2
  store a
  push v
  push 2
  call SCALE, 2
  push 7
  push 5
  call AREA, 2
  add a
  store h              ; 35 + 13.5: an expression result
  stop
)") + AREA + R"(
.proc SCALE
  param num arr()
  param num k
  push 2
  push k
  mul 10
  store arr()          ; arr(2) = k * 10
  gosub inner
  ret
inner:
  ret                  ; returns from SCALE, passing over the subroutine frame
)"),
            0);
  EXPECT_EQ(num(2), "13.5");
  EXPECT_EQ(num(1), "48.5");
  uint32_t v = zgeta(zp.rdt + 3 * uint32_t(zw.dsc_len) + 1);
  bcd_num x;
  std::memcpy(&x, zspan(v + 8, 8).data(), 8);
  char buf[64];
  fsns = buf;
  EXPECT_EQ(std::string(buf, size_t(zfns(&x))), "20");
}

TEST_P(calls, procedure_call_errors) {
  struct row {
    const char *body;
    const char *procs;
    int err;
  };
  const row rows[] = {
      {"  push 1\n  call AREA, 1\n  stop\n", AREA, 104},                 // one argument for two
      {"  spush \"x\"\n  push 1\n  call AREA, 2\n  stop\n", AREA, 104},  // a string for a number
      {"  call REC, 0\n  stop\n", ".proc REC\n  call REC, 0\n  ret\n", 101},       // calls itself
      {"  call TWO, 0\n  stop\n", ".proc TWO\n  push 1\n  push 2\n  ret\n", 102},  // two results
      {"  push 1\n  push 2\n  call ARR, 2\n  stop\n",
       ".proc ARR\n  param num a()\n  param num b\n  ret\n", 104},  // a number for an array
  };
  for (const row &r : rows) {
    EXPECT_EQ(run_main(std::string(".main T\n  num n\n") + r.body + r.procs), r.err) << r.body;
  }
}

TEST_P(calls, error_handler_traps_and_unwinds) {
  ASSERT_EQ(run_main(R"(
.main T
  num caught
  num after
  trap
  jmp.l body
handler:
  push 1
  store caught
  stop
body:
  push 5                ; a value of the failing statement
  push 300
  raise                 ; 300 is error 44
)"),
            0);
  EXPECT_EQ(num(0), "1");
  uint32_t a = uint32_t(zw.adr_len);
  EXPECT_EQ(zget1(zm.zrbas + zp.rcod + 6 * a), 44u);
  EXPECT_NE(erraddr, 0u);
  // error 0 reaches the handler as 0; without a handler it is reported as 256
  EXPECT_EQ(run_main(".main T\n  push 0\n  raise\n"), 256);
  EXPECT_EQ(run_main(".main T\n  trap\n  jmp.l body\n  stop\nbody:\n  push 256\n  raise\n"), 0);
}

TEST_P(calls, procedure_runs_without_the_callers_handler) {
  EXPECT_EQ(run_main(std::string(R"(
.main T
  num n
  trap
  jmp.l body
  stop
body:
  call BAD, 0
  stop
.proc BAD
  push 77
  raise
  ret
)")),
            77);
}

TEST_P(calls, untrapped_error_is_logged) {
  std::string log = dir + "/errors.log";
  log_name = log.c_str();
  mode_t old = umask(022);
  EXPECT_EQ(run_main(".main T\n  push 42\n  raise\n"), 42);
  umask(old);
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  FILE *f = std::fopen(log.c_str(), "r");
  char buf[400] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  std::string text(buf, n);
  EXPECT_EQ(text.find("ERROR 42 AT "), 0u) << text;
  EXPECT_NE(text.find(" T="), std::string::npos) << text;
  EXPECT_NE(text.find(", iserrno=0, time="), std::string::npos) << text;
  std::string last = err_msg_last;
  EXPECT_EQ(last.rfind("ERROR 42 AT ", 0), 0u);
  EXPECT_NE(last.find("LOGNAME="), std::string::npos) << last;
  // a log that cannot be opened: the report goes on
  std::string bad = dir + "/no/such/dir/log";
  log_name = bad.c_str();
  EXPECT_EQ(run_main(".main T\n  push 7\n  raise\n"), 7);
  log_name = nullptr;
  EXPECT_EQ(run_main(".main T\n  push 8\n  raise\n"), 8);
  EXPECT_EQ(std::string(err_msg_last).find("LOGNAME"), std::string::npos);
}

TEST_P(calls, log_holds_the_call_hierarchy) {
  std::string log = dir + "/errors.log";
  log_name = log.c_str();
  EXPECT_EQ(run_main(std::string(R"(
.main T
  num w
  push w
  push w
  call FAIL, 2
  stop
.proc FAIL
  param num x
  param num y
  gosub deeper
  ret
deeper:
  push 9
  raise
)")),
            9);
  FILE *f = std::fopen(log.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line[3][200] = {};
  for (auto &l : line) std::fgets(l, sizeof l, f);
  std::fclose(f);
  EXPECT_EQ(std::string(line[0]).rfind("ERROR 9 AT ", 0), 0u) << line[0];
  EXPECT_EQ(line[1][0], ':') << line[1];  // the subroutine frame: its return address
  std::string proc = line[2];             // the procedure frame: routine(params):return
  EXPECT_NE(proc.find('('), std::string::npos) << proc;
  EXPECT_NE(proc.find(','), std::string::npos) << proc;
  EXPECT_NE(proc.find("):"), std::string::npos) << proc;
}

TEST_P(calls, data_lists) {
  ASSERT_EQ(run_main(R"(
.main T
  num a
  num b
  num c
  vstr s(4)
  str p(6)
  push a
  rdnum
  push b
  rdnum
  push c
  rdnum
  spush s
  rdstr
  spush p
  rdstr
  stop
  .data 42, 7, 12.5
  .data "toolong", "ab"
)"),
            0);
  EXPECT_EQ(num(0), "42");
  EXPECT_EQ(num(1), "7");
  EXPECT_EQ(num(2), "12.5");
  EXPECT_EQ(str(3), "tool");
  EXPECT_EQ(str(4), "ab    ");
  EXPECT_EQ(run_main(".main T\n  num a\n  push a\n  rdnum\n  push a\n  rdnum\n  stop\n  .data 1\n"),
            109);
  EXPECT_EQ(run_main(".main T\n  num a\n  push a\n  rdnum\n  stop\n  .data {01 4a}\n"), 62);
  EXPECT_EQ(run_main(".main T\n  num a\n  push a\n  rdnum\n  stop\n"), 109);
}

TEST_P(calls, call_with_parameters_and_return) {
  program("callee", R"(
.main CALLEE()
  param num n
  param num c
  param str s
  push n
  add 1
  store n
  push 7
  store c             ; the common variable changes during the call
  spush "xy"
  sstore s            ; shorter than before
  ret
)");
  std::string caller = program("caller", std::string(R"(
.main CALLER
  num x
  num c common 16
  vstr s(20)
  num seen
  push 41
  store x
  spush "abcdef"
  sstore s
  spush ")") + dir + R"(/callee"
  push 0
  push x
  push c
  push s
  call 52, 5
  push c
  store seen
  stop
)");
  ASSERT_EQ(run(caller), 0);
  EXPECT_EQ(num(0), "42");
  EXPECT_EQ(num(1), "7");
  EXPECT_EQ(str(2), "xy");
  EXPECT_EQ(num(3), "7");
  EXPECT_EQ(zc.zstk_cnt, 0);
}

// A called program with fewer procedures than its caller left its own
// count of procedures behind: the caller's later procedures were refused
// as beyond its routine table (102).
TEST_P(calls, caller_keeps_its_procedures_after_a_smaller_callee) {
  program("small", ".main SMALL()\n  ret\n");
  std::string caller = program("big", std::string(R"(
.main BIG
  num x
  spush ")") + dir + R"(/small"
  push 0
  call 52, 2
  call SECOND, 0
  store x
  stop
.proc FIRST
  push 1
  ret
.proc SECOND
  push 2
  ret
)");
  ASSERT_EQ(run(caller), 0);
  EXPECT_EQ(num(0), "2");
}

TEST_P(calls, call_refusals_restore_the_caller) {
  program("two", ".main TWO()\n  param num a\n  param num b\n  ret\n");
  std::string caller = program("caller", std::string(R"(
.main CALLER
  num x
  num caught
  trap
  jmp.l body
  push 1
  store caught
  stop
body:
  spush ")") + dir + R"(/two"
  push 0
  push x
  call 52, 3
  stop
)");
  EXPECT_EQ(run(caller), 0);  // 104 is trapped in the restored caller
  EXPECT_EQ(num(1), "1");
  EXPECT_EQ(zget1(zm.zrbas + zp.rcod + 6 * uint32_t(zw.adr_len)), 104u);
  std::string missing = program("missing", std::string(R"(
.main M
  num caught
  trap
  jmp.l body
  push 1
  store caught
  stop
body:
  spush ")") + dir + R"(/nosuch"
  push 0
  call 52, 2
  stop
)");
  EXPECT_EQ(run(missing), 0);  // not found: error 9, trapped
  EXPECT_EQ(num(0), "1");
}

TEST_P(calls, chain_replaces_the_program) {
  program("second", ".main SECOND\n  num y\n  push 9\n  store y\n  stop\n");
  std::string first = program("first", std::string(".main FIRST\n  num x\n  spush \"") + dir +
                                           "/second\"\n  call 21, 1\n  stop\n");
  ASSERT_EQ(run(first), 0);
  EXPECT_EQ(num(0), "9");
  EXPECT_STREQ(zp.chnm1, (dir + "/second").c_str());
}

TEST_P(calls, error_program_reads_the_callers_names) {
  program("failing", ".main FAILING()\n  push 33\n  raise\n  ret\n");
  std::string onerror = program("onerror", R"(
.main ONERROR
  str names(40) common 64
  spush "RCHAIN"
  push 1
  call 62, 2
  sstore names
  stop
)");
  std::string top = program("top", std::string(R"(
.main TOP
  spush ")") + dir + R"(/failing"
  push 0
  call 52, 2
  stop
)");
  vx_onerror = onerror.c_str();
  ASSERT_EQ(run(top), 0);  // the error program ran and stopped
  EXPECT_EQ(fOnerror, 1);
  EXPECT_EQ(common_text(64, uint32_t(top.size())), top);
  EXPECT_EQ(std::string(err_msg_last).rfind("ERROR 33 AT ", 0), 0u) << err_msg_last;
}

}  // namespace
