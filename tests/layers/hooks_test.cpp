// The libraries below start-up on their own: this program links the
// dispatch loop and what lies under it, and nothing installs the hooks of
// the layers above.  Every path that would reach an upper layer must still
// end sensibly: an error number, a skipped step, the process's exit code.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>

#include "run/base/image.h"
#include "run/base/runstate.h"
#include "run/config/env.h"
#include "run/config/lptab.h"
#include "run/config/settings.h"
#include "run/interp/exec.h"
#include "tests/interp/asmrun.h"

extern char **environ;

namespace {

struct unhooked : ::testing::TestWithParam<int> {
  asm_program prog;
  void SetUp() override { nonstop = 1; }
  void TearDown() override {
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
  }
  int run(const std::string &body) {
    if (!prog.assemble(GetParam(), body) || !prog.load()) return -1;
    return execute(0, 0, 0);
  }
};

INSTANTIATE_TEST_SUITE_P(widths, unhooked, ::testing::Values(129, 130));

// a stop releases screen, files and monitor that are not there; an
// intrinsic or an I/O statement without its layer is malformed p-code
TEST_P(unhooked, loop_without_the_layers_above) {
  EXPECT_EQ(run("  num a\n  push 2\n  add 3\n  store a\n  stop\n"), 0);
  EXPECT_EQ(run("  num r\n  push 4\n  call 5, 1\n  store r\n  stop\n"), ERR_BADCODE);
  EXPECT_EQ(run("  io print\n  spush \"x\"\n  iostr\n  ioend\n  stop\n"), ERR_BADCODE);
  // the error report's log has no call hierarchy to add, and is written
  char log[] = "/tmp/quillon-unhooked-XXXXXX";
  int fd = mkstemp(log);
  ASSERT_GE(fd, 0);
  close(fd);
  log_name = log;
  EXPECT_EQ(run("  call 9, 0\n  stop\n"), ERR_BADCODE);
  log_name = nullptr;
  FILE *f = std::fopen(log, "r");
  ASSERT_NE(f, nullptr);
  char line[256] = {};
  EXPECT_NE(std::fgets(line, sizeof line, f), nullptr);
  std::fclose(f);
  unlink(log);
  EXPECT_EQ(std::string(line).rfind("ERROR 102", 0), 0u) << line;
}

void mark_and_leave(int code) {
  std::fputs("released\n", stderr);
  exitr2(code + 1);
}
void return_anyway(int) {}

// the exit paths end the process with their code whether start-up has
// taken them over or not, and even when a hook returns
TEST(unhooked_exit, codes_with_and_without_the_hooks) {
  EXPECT_EXIT(exitrun(), ::testing::ExitedWithCode(255), "");
  EXPECT_EXIT(exitr3(7), ::testing::ExitedWithCode(7), "");
  EXPECT_EXIT(exitr2(256 + 4), ::testing::ExitedWithCode(4), "");
  EXPECT_EXIT(
      {
        run_exit3 = mark_and_leave;
        exitr3(2);
      },
      ::testing::ExitedWithCode(3), "released");
  EXPECT_EXIT(
      {
        run_exit2 = return_anyway;
        run_exit3 = return_anyway;
        exitrun();
      },
      ::testing::ExitedWithCode(255), "");
}

// without the map parser and the printer-entry parser the configuration
// gives the same settings: the map block is passed over up to its "))",
// printers are registered but their entries neither read nor reported
TEST(unhooked_config, same_settings_without_the_parsers) {
  char path[] = "/tmp/quillon-unhooked-defaults-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string text =
      "#SYSTEM\nM=10\nMAP=1,2\n3,4\nC=9\n))\n#vt100\nF=5\n))\n"
      "[PRINTER]\n#laser\nINIT=27\n))\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
  close(fd);
  std::vector<std::string> env = {"TERM=vt100", "LP1=laser,x", "LP2=missing",
                                  std::string("VXDEFAULT=") + path};
  std::vector<char *> ptrs;
  for (auto &e : env) ptrs.push_back(e.data());
  ptrs.push_back(nullptr);
  char **saved = environ;
  env_reset_for_test(ptrs.data());
  char arg0[] = "run";
  char *args[] = {arg0, nullptr};
  msg_count = 0;
  EXPECT_EQ(env_init(1, args), 0);
  EXPECT_EQ(zrmeq, 10);
  EXPECT_EQ(zrceq, 1);      // "C=9" is a line of the map
  EXPECT_EQ(zrfeq, 5);      // the map's "))" ended the SYSTEM block
  EXPECT_EQ(msg_count, 0);  // no "entry not found" for LP2
  EXPECT_GT(getlcapidx("1"), 0);
  EXPECT_EQ(lp_list[getlcapidx("1")], nullptr);
  env_reset_for_test(saved);
  unlink(path);
}

}  // namespace
