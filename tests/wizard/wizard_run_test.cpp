// The shared buffer and the keystroke pipes in run itself: two runs that
// share the buffer file (the busy case, the count through 255 and 256),
// keys played back into a program that reads them, typed keys captured
// into a file, and the end of run with an exit code.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <string>

#include "tests/mach/runmon.h"

namespace {

std::string be(unsigned n) {
  return std::string{char(n >> 8), char(n & 0xFF)};
}

// binds b, stops at "held" with the buffer locked, writes it back
const char hold[] = R"(.pcode 16
.debug
.main HOLD
  vstr  b(1)
  push  0
  spush b
  call  29, 2
held:
  push  1
  call  29, 1
done:
  stop
)";

// The first bind of a run waits for the buffer; later binds do not: a run
// that has opened it gets an empty string while another one holds it.
TEST(wizard_run, two_runs_share_the_buffer) {
  scratch_dir d("wizrun");
  ASSERT_TRUE(d.assemble("hold", hold));
  std::ofstream(d.path + "/buf", std::ios::binary) << be(255) << "0123456789";
  std::vector<std::string> args = {"W=" + d.path + "/buf", "VXWIZBUFLEN=10"};
  run_monitor a, b;
  ASSERT_TRUE(a.start(args, d.path)) << a.s.output();
  ASSERT_TRUE(b.start(args, d.path)) << b.s.output();
  b.command("lo ./hold");
  b.command("ru");  // opens the buffer, binds and writes back
  EXPECT_EQ(d.read("buf"), be(256) + "0123456789");
  a.command("lo ./hold");
  a.command("br held");
  a.command("ru");
  std::string o = a.command("di b");
  EXPECT_TRUE(has(o, "\"0123456789\"")) << o;  // others have it open: the data stay
  EXPECT_EQ(d.read("buf"), be(257) + "0123456789");
  b.command("br held");
  b.command("ru");
  o = b.command("di b");
  EXPECT_TRUE(has(o, "\"\"")) << o;  // held by the other run: an empty string
  b.command("go");
  a.s.type("vx b\r");
  ASSERT_TRUE(a.s.wait_screen("Value:", 5000));
  a.command("from A");
  a.command("go");  // written back
  EXPECT_EQ(d.read("buf"), be(257) + "from A6789");
  b.command("br held");
  b.command("ru");
  o = b.command("di b");
  EXPECT_TRUE(has(o, "\"from A6789\"")) << o;
  b.command("go");
  EXPECT_EQ(a.quit(), 0);
  EXPECT_EQ(d.read("buf"), be(256) + "from A6789");
  EXPECT_EQ(b.quit(), 0);
  EXPECT_EQ(d.read("buf"), be(255) + "from A6789");
}

// reads keys until F1 into s; the keys come from the command's output
// first, then from the terminal
const char playback[] = R"(.pcode 16
.debug
.main PLAY
  vstr  s(200)
  vstr  k(2)
  push  10
  spush "printf 'ab\\rcd\\r\\377\\002xy'"
  call  29, 2
again:
  call  23, 0
  sstore k
  spush k
  seq   "\xff\x01"
  jt    done
  spush s
  scat  k
  sstore s
  jmp   again
done:
  stop
)";

TEST(wizard_run, playback_feeds_a_program_reading_keys) {
  scratch_dir d("wizrun");
  ASSERT_TRUE(d.assemble("play", playback));
  run_monitor m;
  ASSERT_TRUE(m.start({}, d.path)) << m.s.output();
  // the playback ends: z and F1 come from the terminal
  EXPECT_TRUE(m.run_typing("./play", "z\x1bOP", 500)) << m.s.output();
  std::string o = m.command("dh s");
  // lines, F2 as 255 and its low byte, the rest, then what was typed
  EXPECT_TRUE(has(o, "\r\n61620d63640dff0278797a\r\n")) << o;
  EXPECT_EQ(m.quit(), 0);
}

// every key read is also written to the capture command until F1
const char capture[] = R"(.pcode 16
.debug
.main CAPTURE
  vstr  s(200)
  vstr  k(2)
  push  11
  spush "cat > captured"
  call  29, 2
again:
  call  23, 0
  sstore k
  spush s
  scat  k
  sstore s
  spush k
  seq   "\xff\x01"
  jf    again
  push  11
  call  29, 1               ; ends the capture, waiting for cat
done:
  stop
)";

TEST(wizard_run, typed_keys_are_captured_into_a_file) {
  scratch_dir d("wizrun");
  ASSERT_TRUE(d.assemble("capture", capture));
  run_monitor m;
  ASSERT_TRUE(m.start({}, d.path)) << m.s.output();
  // a line, the up arrow, F1 (as xterm sends them)
  EXPECT_TRUE(m.run_typing("./capture", "hi\r\x1bOA\x1bOP", 300)) << m.s.output();
  EXPECT_EQ(d.read("captured"), "hi\r\x0b\xff\x01");
  EXPECT_EQ(m.quit(), 0);
}

const char leave[] = R"(.pcode 16
.main LEAVE
  vstr  b(1)
  push  0
  spush b
  call  29, 2
  push  9
  push  7
  call  29, 2
  stop
)";

TEST(wizard_run, function_9_ends_run_with_its_code_and_logs_off) {
  scratch_dir d("wizrun");
  ASSERT_TRUE(d.assemble("leave", leave));
  pty_session s;
  pty_options o;
  o.argv = {build_dir() + "/bin/run", "P=./leave", "W=" + d.path + "/buf", "VXWIZBUFLEN=4"};
  o.env = base_env();
  o.cwd = d.path;
  ASSERT_TRUE(s.start(o));
  int st = 0;
  ASSERT_TRUE(s.wait_exit(10000, &st)) << s.output();
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 7);
  EXPECT_EQ(d.read("buf"), be(0) + "    ");  // written back, counted off
}

}  // namespace
