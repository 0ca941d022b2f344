// The statements on indexed files in assembled programs: the KEY variable
// going both ways, a READ by a key in the data (two passes), ADD INDEX
// with its key number, BEGIN on several units, and the index status
// intrinsic.  An untrapped error makes execute return its number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/files/fm.h"
#include "run/files/fstat.h"
#include "run/files/iostmt.h"
#include "run/files/txlog.h"
#include "run/interp/exec.h"
#include "run/interp/zreport.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zops.h"
#include "tests/idx/idx_fixture.h"
#include "tools/asm.h"

namespace {

struct istmt : idx_fixture {
  void SetUp() override {
    idx_fixture::SetUp();
    nonstop = 1;
    log_name = nullptr;
    vx_onerror = nullptr;
    fOnerror = 0;
    ASSERT_EQ(zimage_alloc(300, 2, 0), ZALLOC_OK);
  }
  void TearDown() override {
    zcleanup();
    zimage_free_for_test();
    setPcodeVersion(PCODE16BIT);
    idx_fixture::TearDown();
  }
  // assembles and runs a main routine; execute's result
  int run(const std::string &body) {
    pasm_output out;
    EXPECT_TRUE(pasm_assemble(".pcode 16\n" + body, "t", out)) << out.errors;
    put_file("prog", std::string(out.file.begin(), out.file.end()));
    std::string path = at("prog");
    zl.pcodeVersion = PCODE_NONE;
    if (zload(path.c_str(), 0, int(path.size()), 0) != ZL_OK) return -1;
    return execute(0, 0, 0);
  }
  void put_file(const std::string &name, const std::string &bytes) {
    files_fixture::put(name, bytes);
  }
  uint32_t desc(int i) {
    uint32_t d = zp.rdt + uint32_t(i * zw.dsc_len);
    return zget1(d) & DSC_IND ? zgeta(d + 1) : d;
  }
  std::string num(int i) {
    bcd_num x;
    std::memcpy(&x, zspan(zgeta(desc(i) + 1), 8).data(), 8);
    char buf[64];
    fsns = buf;
    return std::string(buf, size_t(zfns(&x)));
  }
  std::string str(int i) {
    zdesc d = zdesc_get(desc(i));
    auto s = zspan(d.addr, zdesc_len(d));
    return std::string(s.begin(), s.end());
  }
};

// emp in unit1: keys of 4, data of 14: name (10) and department (4)
void staff(istmt &t) {
  ASSERT_EQ(t.make("emp", 4, 14), 0);
  ASSERT_EQ(t.iopen(1, "emp", 0), 0);
  for (const char *r : {"0004Smith     SALE", "0001Jones     PROD", "0007Brown     SALE"})
    ASSERT_EQ(t.put(1, std::string(r, 4), r + 4), 0);
  ASSERT_EQ(t.close(1), 0);
}

// The KEY variable returns the key of the record read (a variable-length
// one gets its length); a READ by the name index takes two passes, the
// first of which forms the key from the items.
TEST_F(istmt, reads_by_key_return_the_key_and_a_key_in_the_data_takes_two_passes) {
  staff(*this);
  ASSERT_EQ(run(R"(
.main T
  str k(4)
  str name(10)
  str dept(4)
  vstr vk(10)
  num knum
  str b(4)
  push 1
  spush "emp"
  push 1
  spush "I"
  push 2
  io open, A, L, J, Q, E
  ioend
  spush "0009"
  sstore vk
  push 1
  push vk
  io write, A, F
  spush "Wu"
  iostr
  ioend
  push 1
  io rewind, A
  ioend
  push 1
  push vk
  io read, A, F
  ioend
  push 1
  push 10
  push 1
  push 1
  push knum
  io addindex, A, O, U, E, V
  ioend
  push 1
  push knum
  io rewind, A, V
  ioend
  spush "Brown"
  sstore name
  push 1
  push k
  spush "R"
  io read, A, F, I
  push name
  iostr
  push dept
  iostr
  ioend
  spush k
  sstore b
  spush "Jonas"
  sstore name
  push 1
  push k
  spush "R"
  pusha miss
  io read, A, F, I, B
  push name
  iostr
  ioend
  stop
miss:
  push 1
  push k
  io read, A, F
  push name
  iostr
  ioend
  stop
)"),
            0);
  EXPECT_EQ(str(3), "0001");  // the first key, as long as it is
  EXPECT_EQ(num(4), "2");     // the new index
  EXPECT_EQ(str(5), "0007");  // Brown, by name
  // "Jonas" is missing: the next record by name is Jones (0001); Brown's
  // read left the department
  EXPECT_EQ(str(0) + str(1) + str(2), "0001Jones     SALE");
  // the WRITE took the variable-length KEY as long as it is
  ASSERT_EQ(iopen(2, "emp", 0), 0);
  EXPECT_EQ(data_of(2, "0009"), "Wu            ");
}

TEST_F(istmt, begin_takes_every_unit_it_names) {
  ASSERT_EQ(make("a", 2, 4), 0);
  ASSERT_EQ(make("b", 2, 4), 0);
  ASSERT_EQ(open_log(), 0);
  ASSERT_EQ(run(R"(
.main T
  str k(2)
  num n
  vstr list(40)
  push 1
  spush "a"
  push 1
  spush "I"
  io open, A, L, J, Q
  ioend
  push 2
  spush "b"
  push 1
  spush "I"
  io open, A, L, J, Q
  ioend
  push 1
  push 2
  io begin, A, A
  ioend
  spush "k1"
  sstore k
  push 1
  push k
  io write, A, F
  spush "one"
  iostr
  ioend
  push 2
  push k
  io write, A, F
  spush "two"
  iostr
  ioend
  io rollback
  ioend
  push 1
  io begin, A
  ioend
  spush "k2"
  sstore k
  push 1
  push k
  io write, A, F
  spush "kept"
  iostr
  ioend
  io commit
  ioend
  pusha none
  io commit, B
  ioend
  stop
none:
  spush "no commit"
  sstore list
  stop
)"),
            0);
  EXPECT_EQ(str(2), "no commit");
  ASSERT_EQ(iopen(1, "a", 0), 0);
  ASSERT_EQ(iopen(2, "b", 0), 0);
  EXPECT_EQ(walk(1), "k2=kept;");
  EXPECT_EQ(walk(2), "");
}

TEST_F(istmt, the_index_status_intrinsic) {
  ASSERT_EQ(make("st", 4, 20), 0);
  ASSERT_EQ(run(R"(
.main T
  num s1
  num l1
  num s2
  num l2
  num fl
  push 1
  spush "st"
  push 1
  spush "I"
  push 2
  io open, A, L, J, Q, E
  ioend
  push 1
  push 4
  push 11
  push 2
  push -3
  push 1
  io addindex, A, O, U, O, U, E
  ioend
  push 1
  push 2
  push s1
  push l1
  push s2
  push l2
  push fl
  call 36, 7
  stop
)"),
            0);
  // a part in the data, then one in the key area; duplicates
  EXPECT_EQ(num(0) + " " + num(1) + " " + num(2) + " " + num(3) + " " + num(4), "11 4 -3 2 1");
  ASSERT_EQ(iopen(2, "st", 0), 0);
  auto call = [&](int unit, int key, int pairs) {
    btofp(unit, &fsnp);
    zpush_num(fsnp);
    btofp(key, &fsnp);
    zpush_num(fsnp);
    for (int i = 0; i < 2 * pairs; i++) zpush_ref(desc(i % 4));
    zpush_ref(desc(4));
    zistat(3 + 2 * pairs);
  };
  call(2, 1, 2);  // the primary key: no duplicates, no second part
  EXPECT_EQ(num(0) + " " + num(1) + " " + num(2) + " " + num(3) + " " + num(4), "-1 4 0 0 0");
  call(2, 0, 1);  // indexes, data length, current index
  EXPECT_EQ(num(0) + " " + num(1) + " " + num(4), "2 20 1");
  EXPECT_THROW(call(2, 0, 2), zerror_jump);  // key 0 takes one pair
  EXPECT_THROW(call(2, 3, 1), zerror_jump);  // no index 3: 37
  EXPECT_THROW(zistat(4), zerror_jump);
  EXPECT_THROW(call(5, 1, 1), zerror_jump);  // not open: 22
}

}  // namespace
