// The demo application end to end, on the pseudo-terminal harness and in
// tmux: the menu on the first start
// with the sample data made; a customer added and found by name; an order
// of three lines saved and one abandoned; the report printed to a file
// through the demo's printer entry; the screen checked at each step and
// the files afterwards (records, totals, idxaudit).  Then two users on the
// same data: the record lock keeps one user from changing a customer the
// other holds, and neither change is lost; a name list passes a held
// customer; two orders entered at once get different numbers, and an
// abandoned one leaves nothing behind.  The report through the pager and
// the spooler.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/demo/demoterm.h"
#include "tests/pty/pty.h"

namespace {

// The frame every program draws: title bar, box, keys; texts placed in it.
struct expected {
  std::vector<std::string> rows = std::vector<std::string>(24, std::string(80, ' '));
  expected(const std::string &title, const std::string &keys) {
    put(2, 1, "Quillon Demo");
    put(41 - int(title.size()) / 2, 1, title);
    put(70, 1, "08.12.2026");
    rows[1] = "l" + std::string(78, 'q') + "k";
    for (int r = 3; r <= 21; r++) put(1, r, "x"), put(80, r, "x");
    rows[21] = "m" + std::string(78, 'q') + "j";
    put(2, 23, keys);
  }
  void put(int col, int row, const std::string &t) {
    rows[size_t(row - 1)].replace(size_t(col - 1), t.size(), t);
  }
  void line(int row) { rows[size_t(row - 1)] = "t" + std::string(78, 'q') + "u"; }
  std::vector<std::string> text() const {
    std::vector<std::string> r = rows;
    for (std::string &l : r) l.erase(l.find_last_not_of(' ') + 1);
    return r;
  }
};

expected menu_screen() {
  expected e("Main menu", "F1 Customers  F2 Order entry  F3 Orders report  Enter choose  F10 Exit");
  e.put(24, 6, "l" + std::string(32, 'q') + "k");
  for (int r = 7; r <= 13; r++) e.put(24, r, "x"), e.put(57, r, "x");
  e.put(24, 14, "m" + std::string(32, 'q') + "j");
  e.put(28, 8, "F1   Customers");
  e.put(28, 9, "F2   Order entry");
  e.put(28, 10, "F3   Orders report");
  e.put(28, 12, "F10  Exit");
  e.put(29, 16, "Choose a part of the application");
  return e;
}

// idxaudit's verdict on a file of the data folder
std::string audit(const demo_term &d, const std::string &file, int *status) {
  return demo_sh(build_dir() + "/bin/idxaudit -n " + d.data + "/" + file, status);
}

std::string file_text(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A row inside the box: texts placed at their columns.
std::string boxed(std::initializer_list<std::pair<int, std::string>> texts) {
  std::string r = "x" + std::string(78, ' ') + "x";
  for (auto &t : texts) r.replace(size_t(t.first - 1), t.second.size(), t.second);
  return r;
}

// Rows from..to of the screen, as text.
std::string rows_of(const std::vector<std::string> &r, int from, int to) {
  return screen_text(std::vector<std::string>(r.begin() + from - 1, r.begin() + to));
}

// Each test runs on both terminals: the pseudo-terminal harness, and tmux
// when the machine has it.
class demo : public ::testing::TestWithParam<std::string> {
 protected:
  std::unique_ptr<demo_term> term;
  void SetUp() override {
    if (GetParam() == "pty") {
      term = std::make_unique<demo_pty>();
    } else {
      if (!demo_tmux::available()) GTEST_SKIP() << "tmux is not installed";
      term = std::make_unique<demo_tmux>();
    }
  }
};

TEST_P(demo, add_find_order_report_and_the_files_afterwards) {
  demo_term &d = *term;
  const std::string u = "u";
  d.start(u);
  ASSERT_TRUE(d.wait_for(u, "Choose a part of the application")) << screen_text(d.rows(u));
  d.settle(u);
  EXPECT_EQ(screen_text(d.rows(u)), screen_text(menu_screen().text()));
  if (auto *p = dynamic_cast<demo_pty *>(&d)) {  // the bar on the first item
    EXPECT_TRUE(p->user(u).cell(7, 30).reverse);
    EXPECT_FALSE(p->user(u).cell(8, 30).reverse);
    EXPECT_TRUE(p->user(u).cell(0, 30).reverse);  // the title bar
  }
  struct stat st;
  EXPECT_EQ(stat((d.data + "/cust.dat").c_str(), &st), 0);  // the sample data

  // a new customer
  d.keys(u, "F1");
  ASSERT_TRUE(d.wait_for(u, "F4 Find by name"));
  d.keys(u, "Enter");
  ASSERT_TRUE(d.wait_for(u, "new customer"));
  d.type(u, "Zeta Supplies");
  d.keys(u, "Enter");
  d.type(u, "1 Quay Street");
  d.keys(u, "Tab");
  d.type(u, "Dover");
  d.keys(u, "Enter");
  d.type(u, "01304 555 113");
  d.keys(u, "F2");
  ASSERT_TRUE(d.wait_for(u, "Customer 000113 added")) << screen_text(d.rows(u));
  d.settle(u);
  expected form("Customers", "Enter read (empty: a new customer)  F4 Find by name  F10 Back");
  form.put(4, 4, "Customer no.   000113");
  form.put(4, 6, "Name");
  form.put(4, 7, "Street");
  form.put(4, 8, "City");
  form.put(4, 9, "Phone");
  form.put(1, 24, "Customer 000113 added");
  EXPECT_EQ(screen_text(d.rows(u)), screen_text(form.text()));

  // found by name, read into the form
  d.keys(u, "F4");
  ASSERT_TRUE(d.wait_for(u, "Find name"));
  d.type(u, "Ze");
  d.keys(u, "Enter");
  ASSERT_TRUE(d.wait_for(u, "PgDn Next page")) << screen_text(d.rows(u));
  d.settle(u);
  std::vector<std::string> list = d.rows(u);
  EXPECT_EQ(list[7], boxed({{3, "000113"}, {11, "Zeta Supplies"}, {43, "Dover"}}));
  EXPECT_EQ(list[8], boxed({}));  // nothing after Zeta
  d.keys(u, "Enter");
  ASSERT_TRUE(d.wait_for(u, "1 Quay Street")) << screen_text(d.rows(u));
  d.settle(u);
  EXPECT_EQ(rows_of(d.rows(u), 4, 9),
            screen_text({boxed({{4, "Customer no."}, {19, "000113"}}), boxed({}),
                         boxed({{4, "Name"}, {19, "Zeta Supplies"}}),
                         boxed({{4, "Street"}, {19, "1 Quay Street"}}),
                         boxed({{4, "City"}, {19, "Dover"}}),
                         boxed({{4, "Phone"}, {19, "01304 555 113"}})}));
  d.keys(u, "Escape");
  ASSERT_TRUE(d.wait_for(u, "F4 Find by name"));
  d.keys(u, "F10");
  ASSERT_TRUE(d.wait_for(u, "Choose a part"));

  // an order of three lines, saved
  d.keys(u, "F2");
  ASSERT_TRUE(d.wait_for(u, "Enter the customer's number"));
  d.type(u, "113");
  d.keys(u, "Enter");
  ASSERT_TRUE(d.wait_for(u, "Order no.  000503")) << screen_text(d.rows(u));
  const char *lines[][3] = {
      {"Tea, green, 1 kg", "4", "12.5"}, {"Mugs", "6", "3.95"}, {"Teapot", "1", "24.9"}};
  for (auto &l : lines) {
    d.type(u, l[0]);
    d.keys(u, "Enter");
    d.type(u, l[1]);
    d.keys(u, "Enter");
    d.type(u, l[2]);
    d.keys(u, "Enter");
  }
  ASSERT_TRUE(d.wait_for(u, "   24.90")) << screen_text(d.rows(u));
  d.settle(u);
  std::vector<std::string> o = d.rows(u);
  EXPECT_EQ(
      rows_of(o, 3, 5),
      screen_text({boxed({{3, "Order no."}, {14, "000503"}, {30, "Date"}, {36, "08.12.2026"}}),
                   boxed({{3, "Customer"}, {14, "000113"}, {22, "Zeta Supplies"}}),
                   boxed({{22, "1 Quay Street, Dover"}})}));
  EXPECT_EQ(
      rows_of(o, 8, 11),
      screen_text(
          {boxed({{5, "1"}, {8, "Tea, green, 1 kg"}, {44, "4.00"}, {56, "12.50"}, {69, "50.00"}}),
           boxed({{5, "2"}, {8, "Mugs"}, {44, "6.00"}, {57, "3.95"}, {69, "23.70"}}),
           boxed({{5, "3"}, {8, "Teapot"}, {44, "1.00"}, {56, "24.90"}, {69, "24.90"}}),
           boxed({{5, "4"}})}));
  EXPECT_EQ(rows_of(o, 19, 21), screen_text({boxed({{50, "Net"}, {69, "98.60"}}),
                                             boxed({{50, "VAT 19%"}, {69, "18.73"}}),
                                             boxed({{50, "Total"}, {68, "117.33"}})}));
  d.keys(u, "F2");
  ASSERT_TRUE(d.wait_for(u, "Order 000503 saved: 3 lines, total 117.33")) << screen_text(d.rows(u));

  // an order abandoned: rolled back
  d.type(u, "101");
  d.keys(u, "Enter");
  ASSERT_TRUE(d.wait_for(u, "Order no.  000504"));
  d.type(u, "Flour");
  d.keys(u, "Enter");
  d.type(u, "1");
  d.keys(u, "Enter");
  d.type(u, "1");
  d.keys(u, "Enter");
  ASSERT_TRUE(d.wait_for(u, "    1.19"));  // its VAT: the line was written
  d.keys(u, "Escape");
  ASSERT_TRUE(d.wait_for(u, "Abandon order 000504? (Y/N)"));
  d.type(u, "y");
  ASSERT_TRUE(d.wait_for(u, "Order 000504 abandoned"));
  d.keys(u, "F10");
  ASSERT_TRUE(d.wait_for(u, "Choose a part"));

  // the report, to a file
  d.keys(u, "F3");
  ASSERT_TRUE(d.wait_for(u, "F2 Print"));
  d.type(u, "2");
  d.keys(u, "F2");
  ASSERT_TRUE(d.wait_for(u, "Report of 3 orders, total 850.97, printed to report.lp1"))
      << screen_text(d.rows(u));
  d.keys(u, "F10");
  ASSERT_TRUE(d.wait_for(u, "Choose a part"));
  d.keys(u, "F10");
  ASSERT_TRUE(d.wait_for(u, "EXIT=0")) << screen_text(d.rows(u));

  // the files afterwards
  int status = -1;
  EXPECT_NE(audit(d, "cust", &status).find("sound: 13 records, 2 indexes"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_NE(audit(d, "orders", &status).find("sound: 3 records, 2 indexes"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_NE(audit(d, "olines", &status).find("sound: 8 records, 1 indexes"), std::string::npos);
  EXPECT_EQ(status, 0);
  std::string keys = demo_sh(build_dir() + "/bin/idxaudit -l 1 " + d.data + "/olines");
  EXPECT_NE(keys.find("\"000503003\""), std::string::npos) << keys;
  EXPECT_EQ(keys.find("\"000504"), std::string::npos) << keys;  // rolled back
  std::string report = file_text(d.data + "/report.lp1");
  EXPECT_NE(report.find("000503  08.12.2026  000113 Zeta Supplies           98.60      18.73"
                        "     117.33\r\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Total of 3 orders"), std::string::npos) << report;
  EXPECT_NE(report.find("850.97"), std::string::npos) << report;
  // the entry "demo" of LP1: bold through its sequences, the attribute
  // lines and the parameter line taken away
  EXPECT_NE(report.find("\x1b[1mQuillon Demo: orders"), std::string::npos) << report;
  EXPECT_NE(report.find("\x1b[4mOrder   Date"), std::string::npos) << report;
  EXPECT_EQ(report.find("@@"), std::string::npos) << report;
  EXPECT_EQ(report.find("\x1bP"), std::string::npos) << report;
}

TEST_P(demo, two_users_the_record_lock_and_orders_at_once) {
  demo_term &d = *term;
  d.start("a");
  ASSERT_TRUE(d.wait_for("a", "Choose a part of the application"));
  d.start("b");
  ASSERT_TRUE(d.wait_for("b", "Choose a part of the application"));

  // a holds customer 107 while changing it
  d.keys("a", "F1");
  ASSERT_TRUE(d.wait_for("a", "F4 Find by name"));
  d.type("a", "107");
  d.keys("a", "Enter");
  ASSERT_TRUE(d.wait_for("a", "19 Market Place"));

  // b sees it, in use, and cannot change it
  d.keys("b", "F1");
  ASSERT_TRUE(d.wait_for("b", "F4 Find by name"));
  d.type("b", "107");
  d.keys("b", "Enter");
  ASSERT_TRUE(d.wait_for("b", "in use by another user")) << screen_text(d.rows("b"));
  d.settle("b");
  std::vector<std::string> b = d.rows("b");
  EXPECT_EQ(b[3], boxed({{4, "Customer no."}, {19, "000107"}, {30, "in use by another user"}}));
  EXPECT_EQ(b[7], boxed({{4, "City"}, {19, "York"}}));
  EXPECT_EQ(b[22], " F5 Try again  Esc Back");
  EXPECT_EQ(b[23].rfind("Customer 000107 is being changed by process ", 0), 0u) << b[23];
  d.keys("b", "F2");  // no save while in use
  d.settle("b");
  EXPECT_EQ(d.rows("b")[22], " F5 Try again  Esc Back");

  // b's name list passes the held customer and goes on with the rest
  d.keys("b", "Escape");
  ASSERT_TRUE(d.wait_for("b", "F4 Find by name"));
  d.keys("b", "F4");
  ASSERT_TRUE(d.wait_for("b", "Find name"));
  d.type("b", "Ba");
  d.keys("b", "Enter");
  ASSERT_TRUE(d.wait_for("b", "Chen Trading")) << screen_text(d.rows("b"));
  d.settle("b");
  b = d.rows("b");
  EXPECT_EQ(b[7], boxed({{3, "000102"}, {11, "Baker & Sons"}, {43, "Leeds"}}));
  EXPECT_EQ(b[8], boxed({{3, "000107"}, {11, "Baker & Sons"}, {43, "York"}, {69, "in use"}}));
  EXPECT_EQ(b[9], boxed({{3, "000103"}, {11, "Chen Trading"}, {43, "Liverpool"}}));
  d.keys("b", "F10");
  ASSERT_TRUE(d.wait_for("b", "F4 Find by name"));

  // a changes the city and saves: the lock is let go
  d.keys("a", "Tab Tab C-x");
  d.type("a", "Whitby");
  d.keys("a", "F2");
  ASSERT_TRUE(d.wait_for("a", "Customer 000107 saved"));

  // b reads it now with a's change, changes the phone
  d.type("b", "107");
  d.keys("b", "Enter");
  ASSERT_TRUE(d.wait_for("b", "Whitby")) << screen_text(d.rows("b"));
  EXPECT_EQ(screen_text(d.rows("b")).find("in use"), std::string::npos);
  d.keys("b", "Tab Tab Tab C-x");
  d.type("b", "01947 555 107");
  d.keys("b", "F2");
  ASSERT_TRUE(d.wait_for("b", "Customer 000107 saved")) << screen_text(d.rows("b"));

  // a sees both changes
  d.type("a", "107");
  d.keys("a", "Enter");
  ASSERT_TRUE(d.wait_for("a", "01947 555 107")) << screen_text(d.rows("a"));
  EXPECT_EQ(d.rows("a")[7], boxed({{4, "City"}, {19, "Whitby"}}));
  d.keys("a", "Escape");
  ASSERT_TRUE(d.wait_for("a", "F4 Find by name"));

  // two orders at once: different numbers; a saves, b abandons
  d.keys("a", "F10");
  d.keys("b", "F10");
  ASSERT_TRUE(d.wait_for("a", "Choose a part"));
  ASSERT_TRUE(d.wait_for("b", "Choose a part"));
  d.keys("a", "F2");
  d.keys("b", "F2");
  ASSERT_TRUE(d.wait_for("a", "Enter the customer's number"));
  ASSERT_TRUE(d.wait_for("b", "Enter the customer's number"));
  d.type("a", "101");
  d.keys("a", "Enter");
  ASSERT_TRUE(d.wait_for("a", "Order no.  000503"));
  d.type("b", "102");
  d.keys("b", "Enter");
  ASSERT_TRUE(d.wait_for("b", "Order no.  000504")) << screen_text(d.rows("b"));
  for (const char *s : {"a", "b"}) {
    d.type(s, "Flour");
    d.keys(s, "Enter");
    d.type(s, "2");
    d.keys(s, "Enter");
    d.type(s, "18.5");
    d.keys(s, "Enter");
  }
  ASSERT_TRUE(d.wait_for("a", "   44.03"));
  ASSERT_TRUE(d.wait_for("b", "   44.03"));
  d.keys("b", "Escape");
  ASSERT_TRUE(d.wait_for("b", "(Y/N)"));
  d.type("b", "y");
  ASSERT_TRUE(d.wait_for("b", "Order 000504 abandoned"));
  d.keys("a", "F2");
  ASSERT_TRUE(d.wait_for("a", "Order 000503 saved: 1 line, total 44.03"));
  for (const char *s : {"a", "b"}) {
    d.keys(s, "F10");
    ASSERT_TRUE(d.wait_for(s, "Choose a part"));
    d.keys(s, "F10");
    ASSERT_TRUE(d.wait_for(s, "EXIT=0"));
  }
  int status = -1;
  EXPECT_NE(audit(d, "cust", &status).find("sound: 12 records"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_NE(audit(d, "orders", &status).find("sound: 3 records"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_NE(audit(d, "olines", &status).find("sound: 6 records"), std::string::npos);
  EXPECT_EQ(status, 0);
}

// The report by default on the screen through the pager of the defaults
// file, whose quitting brings the form back; on request through the
// spooler, which gets the printer entry's bytes without the parameter line.
TEST_P(demo, report_to_the_pager_and_to_the_spooler) {
  struct stat st;
  if (stat("/usr/bin/less", &st) != 0)
    GTEST_SKIP() << "less, the pager of the demo, is not installed";
  demo_term &d = *term;
  const std::string u = "u";
  d.start(u, "\"SPOOLNAME=cat >spooled.lp\"");
  ASSERT_TRUE(d.wait_for(u, "Choose a part of the application")) << screen_text(d.rows(u));
  d.keys(u, "F3");
  ASSERT_TRUE(d.wait_for(u, "F2 Print"));
  d.keys(u, "F2");
  ASSERT_TRUE(d.wait_for(u, "Total of 2 orders")) << screen_text(d.rows(u));
  d.settle(u);
  std::vector<std::string> p = d.rows(u);
  EXPECT_NE(screen_text(p).find("\nQuillon Demo: orders"), std::string::npos) << screen_text(p);
  EXPECT_NE(screen_text(p).find("\n000501  01.12.2026  000101 Adler Bakery"), std::string::npos)
      << screen_text(p);
  d.type(u, "q");
  ASSERT_TRUE(d.wait_for(u, "Report of 2 orders, total 733.64, printed to the pager"))
      << screen_text(d.rows(u));
  d.settle(u);
  EXPECT_EQ(d.rows(u)[5], boxed({{4, "Print to"}, {17, "1  the screen (pager)"}}));

  d.type(u, "3");
  d.keys(u, "F2");
  ASSERT_TRUE(d.wait_for(u, "Report of 2 orders, total 733.64, printed to the spooler"))
      << screen_text(d.rows(u));
  d.keys(u, "F10");
  ASSERT_TRUE(d.wait_for(u, "Choose a part"));
  d.keys(u, "F10");
  ASSERT_TRUE(d.wait_for(u, "EXIT=0")) << screen_text(d.rows(u));
  std::string spooled = file_text(d.data + "/spooled.lp");
  EXPECT_EQ(spooled.find("\x1bP"), std::string::npos) << spooled;
  EXPECT_NE(spooled.find("\x1b[1mQuillon Demo: orders"), std::string::npos) << spooled;
  EXPECT_NE(spooled.find("Total of 2 orders"), std::string::npos) << spooled;
}

// A run killed in the middle of an order, as a crash would end it: its
// header and line were in the files, and the next user's start of the
// report rolls them back, so the report, the files and the next order's
// number show nothing of it.
TEST_P(demo, an_order_cut_short_by_a_crash_is_rolled_back) {
  demo_term &d = *term;
  d.start("a");
  ASSERT_TRUE(d.wait_for("a", "Choose a part of the application"));
  d.keys("a", "F2");
  ASSERT_TRUE(d.wait_for("a", "Enter the customer's number"));
  d.type("a", "101");
  d.keys("a", "Enter");
  ASSERT_TRUE(d.wait_for("a", "Order no.  000503"));
  d.type("a", "Flour");
  d.keys("a", "Enter");
  d.type("a", "2");
  d.keys("a", "Enter");
  d.type("a", "3");
  d.keys("a", "Enter");
  ASSERT_TRUE(d.wait_for("a", "    1.14"));  // the line's VAT: it was written
  ASSERT_TRUE(d.crash("a"));
  ASSERT_TRUE(d.wait_for("a", "EXIT=137")) << screen_text(d.rows("a"));

  d.start("b");
  ASSERT_TRUE(d.wait_for("b", "Choose a part of the application"));
  d.keys("b", "F3");
  ASSERT_TRUE(d.wait_for("b", "F2 Print"));
  d.type("b", "2");
  d.keys("b", "F2");
  ASSERT_TRUE(d.wait_for("b", "Report of 2 orders, total 733.64, printed to report.lp1"))
      << screen_text(d.rows("b"));
  d.keys("b", "F10");
  ASSERT_TRUE(d.wait_for("b", "Choose a part"));
  d.keys("b", "F2");
  ASSERT_TRUE(d.wait_for("b", "Enter the customer's number"));
  d.type("b", "102");
  d.keys("b", "Enter");
  ASSERT_TRUE(d.wait_for("b", "Order no.  000503")) << screen_text(d.rows("b"));
  d.keys("b", "Escape");
  ASSERT_TRUE(d.wait_for("b", "(Y/N)"));
  d.type("b", "y");
  ASSERT_TRUE(d.wait_for("b", "Order 000503 abandoned"));
  d.keys("b", "F10");
  ASSERT_TRUE(d.wait_for("b", "Choose a part"));
  d.keys("b", "F10");
  ASSERT_TRUE(d.wait_for("b", "EXIT=0"));
  int status = -1;
  EXPECT_NE(audit(d, "orders", &status).find("sound: 2 records"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_NE(audit(d, "olines", &status).find("sound: 5 records"), std::string::npos);
  EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(terminals, demo, ::testing::Values("pty", "tmux"),
                         [](const ::testing::TestParamInfo<std::string> &i) { return i.param; });

}  // namespace
