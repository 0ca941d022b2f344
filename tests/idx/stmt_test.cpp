// The statements on indexed files in assembled programs: the KEY variable
// going both ways, a READ by a key in the data (two passes), ADD INDEX
// with its key number, BEGIN on several units, and the index status
// intrinsic.  An untrapped error makes execute return its number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "run/files/fm.h"
#include "run/files/fstat.h"
#include "run/files/iostmt.h"
#include "run/files/txlog.h"
#include "run/interp/exec.h"
#include "run/interp/image.h"
#include "run/interp/zops.h"
#include "run/interp/zreport.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/numeric/zconv.h"
#include "run/startup/settings.h"
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
  void put_file(const std::string &name, const std::string &bytes) { files_fixture::put(name, bytes); }
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

// ./emp: a key of 4, data of 20: name (10), department (4), 6 more.  Its
// records are written by key; a subroutine "show" appends key, name and
// department of the record read to the list.
const char *EMP = R"(
.main T
  str k(4)
  str name(10)
  str dept(4)
  vstr list(250)
  vstr vk(10)
  num knum
  num n
  spush "./emp"
  push 20
  push 4
  spush "I"
  io allocate, L, N, O, Q
  ioend
  push 1
  spush "./emp"
  spush "I"
  push 2
  io open, A, L, Q, E
  ioend
  jmp start
put:
  push 1
  push k
  io write, A, F
  push name
  iostr
  push dept
  iostr
  ioend
  rets
show:
  spush list
  scat k
  scat ' '
  scat name
  scat dept
  scat ';'
  sstore list
  rets
start:
  spush "0004"
  sstore k
  spush "Smith"
  sstore name
  spush "SALE"
  sstore dept
  gosub put
  spush "0001"
  sstore k
  spush "Jones"
  sstore name
  spush "PROD"
  sstore dept
  gosub put
  spush "0007"
  sstore k
  spush "Brown"
  sstore name
  spush "SALE"
  sstore dept
  gosub put
)";

TEST_F(istmt, the_key_variable_goes_both_ways) {
  ASSERT_EQ(run(std::string(EMP) + R"(
  push 1
  io rewind, A
  ioend
more:
  push 1
  push k
  pusha done
  io read, A, F, @
  push name
  iostr
  push dept
  iostr
  ioend
  gosub show
  jmp more
done:
  spush "0007"
  sstore k
  push 1
  push k
  spush "R"
  io read, A, F, I
  push name
  iostr
  ioend
  gosub show
  push 1
  push vk
  spush "P"
  io read, A, F, I
  ioend
  push 1
  spush "0002"
  sstore vk
  push vk
  spush "R"
  pusha nf
  io read, A, F, I, B
  ioend
  stop
nf:
  push 1
  push vk
  io read, A, F
  ioend
  stop
)"),
            0);
  EXPECT_EQ(str(3), "0001 Jones     PROD;0004 Smith     SALE;0007 Brown     SALE;"
                    "0007 Brown     SALE;");
  // "P" read the record before 0007; the miss of 0002 left the unit
  // before 0004, which a variable-length KEY gets with its length
  EXPECT_EQ(str(4), "0004");
}

TEST_F(istmt, a_read_by_a_key_in_the_data_takes_two_passes) {
  ASSERT_EQ(run(std::string(EMP) + R"(
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
  spush "Jones"
  sstore name
  spush "    "
  sstore k
  push 1
  push k
  spush "R"
  io read, A, F, I
  push name
  iostr
  push dept
  iostr
  ioend
  gosub show
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
  gosub show
  push 1
  push k
  io read, A, F
  push name
  iostr
  ioend
  gosub show
  spush "Zed"
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
  spush list
  scat "miss"
  sstore list
  stop
)"),
            0);
  EXPECT_EQ(num(5), "2");  // the new index's number
  // Jones by name: the primary key comes back in KEY; then Brown
  EXPECT_EQ(str(3), "0001 Jones     PROD;0007 Brown     SALE;0001 Jones     SALE;miss");
}

TEST_F(istmt, begin_takes_every_unit_it_names) {
  ASSERT_EQ(make("a", 2, 4), 0);
  ASSERT_EQ(make("b", 2, 4), 0);
  ASSERT_EQ(make("c", 2, 4), 0);
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
  push 3
  spush "c"
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
  push 3
  push k
  pusha outside
  io write, A, F, B
  spush "out"
  iostr
  ioend
back:
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
outside:
  push 33
  store n
  jmp back
none:
  spush "no commit"
  sstore list
  stop
)"),
            0);
  EXPECT_EQ(num(1), "33");  // unit 3 is outside the transaction: its ERR label
  EXPECT_EQ(str(2), "no commit");
  ASSERT_EQ(iopen(1, "a", 0), 0);
  ASSERT_EQ(iopen(2, "b", 0), 0);
  EXPECT_EQ(walk(1), "k2=kept;");
  EXPECT_EQ(walk(2), "");
  ASSERT_EQ(iopen(3, "c", 0), 0);
  EXPECT_EQ(walk(3), "");
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
  stop
)"),
            0);
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
  call(2, 2, 2);  // a part in the data, then one in the key area
  EXPECT_EQ(num(0) + " " + num(1) + " " + num(2) + " " + num(3) + " " + num(4), "11 4 -3 2 1");
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
