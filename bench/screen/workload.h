// workload.h: the business-form screen workload, shared by the replay
// through the screen control language (scbench) and the ncurses yardstick
// (ncbench): the form's text, the list lines and the amounts.
#pragma once

#include <cstdio>
#include <string>

namespace wl {

constexpr int ROWS = 24, COLS = 80;
constexpr int UPDATES = 1000, SCROLLS = 100;
constexpr int LIST_TOP = 8, LIST_BOTTOM = 22;

inline const char *const labels[10] = {"Customer no", "Name",  "Address",      "City",
                                       "Postcode",    "Phone", "Credit limit", "Balance",
                                       "Last order",  "Status"};

inline std::string amount(long long cents) {
  char b[40];
  std::snprintf(b, sizeof b, "%21lld.%02lld", cents / 100, cents % 100);
  return b;
}

inline std::string pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

// the value of field i (24 columns)
inline std::string value(int i) {
  static const char *const text[10] = {"00012345",       "ACME TRADING LTD",
                                       "12 HIGH STREET", "SPRINGFIELD",
                                       "SP1 2AB",        "+44 1234 567890",
                                       nullptr,          nullptr,
                                       "2024-06-01",     "ACTIVE"};
  if (i == 6) return amount(2500000);
  if (i == 7) return amount(0);
  return pad(text[i], 24);
}

inline int field_row(int i) {
  return 2 + i / 2;
}
inline int label_col(int i) {
  return 2 + 39 * (i % 2);
}
inline int value_col(int i) {
  return 15 + 39 * (i % 2);
}

// list line n, 78 columns
inline std::string list_line(int n) {
  int q = n % 97 + 1;
  long long c = 1234LL * q;
  char b[120];
  std::snprintf(b, sizeof b, "%06d  ARTICLE %06d  %-24s%8d%15lld.%02lld", n, (n * 7919) % 1000000,
                "DESCRIPTION TEXT", q, c / 100, c % 100);
  return pad(b, 78);
}

}  // namespace wl
