// What the indexed files of the language need of the engine, called
// directly: reproducers for the engine's developer.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string>

#include "isam/isam.h"

namespace {

struct engine : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/quillon-ieng-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    islogclose();
    std::string cmd = "rm -rf " + dir;
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
};

// A rollback puts a rewritten record back under its old key in an index
// with duplicates, but behind the duplicates that stayed: before the
// transaction X came before Y, after its rollback Y comes first.
// (Disabled until the engine keeps the order: run with
// --gtest_also_run_disabled_tests.)
TEST_F(engine, DISABLED_a_rollback_keeps_the_order_of_duplicates) {
  std::string name = dir + "/d";
  keydesc pk = {}, dk = {};
  pk.k_nparts = 1;
  pk.k_part[0] = keypart{0, 1, CHARTYPE};
  dk.k_flags = ISDUPS;
  dk.k_nparts = 1;
  dk.k_part[0] = keypart{1, 1, CHARTYPE};
  int fd = isbuild(name.c_str(), 2, &pk, ISINOUT + ISEXCLLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(isaddindex(fd, &dk), 0);
  ASSERT_EQ(iswrite(fd, "Xk"), 0);
  ASSERT_EQ(iswrite(fd, "Yk"), 0);
  ASSERT_EQ(isclose(fd), 0);
  ASSERT_EQ(islogopen((dir + "/log").c_str()), 0);
  ASSERT_EQ(isbegin(), 0);
  fd = isopen(name.c_str(), ISINOUT + ISMANULOCK + ISTRANS);
  ASSERT_GE(fd, 0);
  char r[3] = "X ";
  ASSERT_EQ(isread(fd, r, ISEQUAL), 0);
  ASSERT_EQ(isrewcurr(fd, "Xz"), 0);
  ASSERT_EQ(isrollback(), 0);
  std::memcpy(r, "?k", 2);
  ASSERT_EQ(isstart(fd, &dk, 0, r, ISEQUAL), 0);
  ASSERT_EQ(isread(fd, r, ISNEXT), 0);
  EXPECT_EQ(r[0], 'X');
  ASSERT_EQ(isread(fd, r, ISNEXT), 0);
  EXPECT_EQ(r[0], 'Y');
  isclose(fd);
}

}  // namespace
