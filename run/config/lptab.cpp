// lptab.cpp: the printer table of start-up: printer variables, the sorted
// list of their entry names and the printer pass over the defaults file,
// which hands each entry to the printer-entry parser.  Owns lp_env,
// lp_envlg, lp_list, lp_order and lp_cnt.
#include "run/config/lptab.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/config/cfhooks.h"
#include "run/config/defaults.h"
#include "run/config/settings.h"

char **lp_env;
int *lp_envlg;
lp_info **lp_list;
unsigned char *lp_order;
int lp_cnt;

bool lp_is_printer_var(const char *e) {
  if (std::strncmp(e, "LP", 2) != 0) return false;
  const char *eq = std::strchr(e, '=');
  if (!eq || eq - e < 3) return false;
  size_t len = size_t(eq - e);
  bool part_of_lpopt = len <= 5 && std::strncmp(e, "LPOPT", len) == 0;
  bool part_of_lpst = len <= 4 && std::strncmp(e, "LPST", len) == 0;
  return !part_of_lpopt && !part_of_lpst;
}

void lp_reset() {
  if (cfg_hooks.printer_reset) cfg_hooks.printer_reset();
  std::free(lp_env);
  std::free(lp_envlg);
  std::free(lp_list);
  std::free(lp_order);
  lp_env = nullptr;
  lp_envlg = nullptr;
  lp_list = nullptr;
  lp_order = nullptr;
  lp_cnt = 0;
}

int lp_alloc() {
  if (lp_env) return 0;
  if (lp_max > 128) lp_max = 128;  // slot numbers must fit the order list
  if (lp_max < 1) lp_max = 1;
  size_t n = size_t(lp_max);
  lp_env = static_cast<char **>(std::calloc(n, sizeof(char *)));
  lp_envlg = static_cast<int *>(std::calloc(n, sizeof(int)));
  lp_list = static_cast<lp_info **>(std::calloc(n, sizeof(lp_info *)));
  lp_order = static_cast<unsigned char *>(std::calloc(n + 1, 1));
  if (!lp_env || !lp_envlg || !lp_list || !lp_order) {
    lp_reset();
    return -1;
  }
  return 0;
}

// length of the variable name after "LP", up to "=" or the end
static size_t suffix_len(const char *s) {
  const char *eq = std::strchr(s, '=');
  return eq ? size_t(eq - s) : std::strlen(s);
}

int getlcapidx(const char *name) {
  if (!lp_env) return -1;
  size_t len = suffix_len(name);
  int free_slot = 0;
  for (int i = 1; i < lp_max; i++) {
    const char *v = lp_env[i];
    if (!v) {
      if (!free_slot) free_slot = i;
      continue;
    }
    if (suffix_len(v + 2) == len && std::strncmp(v + 2, name, len) == 0) return i;
  }
  return -(free_slot ? free_slot : lp_max);
}

int addlcapidx(char *assignment) {
  if (!lp_env) return -1;
  int slot = getlcapidx(assignment + 2);  // -1 here is the free slot 1
  if (slot > 0) {
    lp_env[slot] = assignment;
    return slot;
  }
  if (slot == -lp_max) return -1;
  lp_env[-slot] = assignment;
  return -slot;
}

// compares two entry names: byte order, a leading part first
static int name_cmp(const char *a, int la, const char *b, int lb) {
  int n = la < lb ? la : lb;
  int c = std::memcmp(a, b, size_t(n));
  if (c != 0) return c;
  return la - lb;
}

int sort_list(char **texts, const int *lengths, int n, unsigned char *order) {
  int len = 0, distinct = 0;
  order[0] = 0;
  for (int slot = n - 1; slot >= 1; slot--) {
    if (!texts[slot]) continue;
    int pos = 0, same = -1;
    for (; pos < len; pos++) {
      if (order[pos] >= 128) continue;
      int o = order[pos];
      int c = name_cmp(texts[slot], lengths[slot], texts[o], lengths[o]);
      if (c == 0) same = pos;
      if (c <= 0) break;
    }
    unsigned char entry = uint8_t(slot);
    if (same >= 0) {
      pos = same + 1;
      entry = uint8_t(128 + slot);
    } else {
      distinct++;
    }
    std::memmove(order + pos + 1, order + pos, size_t(len - pos));
    order[pos] = entry;
    order[++len] = 0;
  }
  return distinct;
}

// the value of a printer variable: after "="
static char *value_of(char *v) {
  char *eq = std::strchr(v, '=');
  return eq ? eq + 1 : v + std::strlen(v);
}

// one "#name" line of the printer pass: parse the entry for every printer
// that names it
static void printer_entry(const char *name) {
  int nl = int(std::strlen(name));
  for (int i = 0; lp_order[i]; i++) {
    int o = lp_order[i];
    if (o >= 128) continue;
    int c = name_cmp(value_of(lp_env[o]), lp_envlg[o], name, nl);
    if (c > 0) return;
    if (c < 0) continue;
    cfg_hooks.printer_entry(o);
    for (int j = i + 1; lp_order[j] >= 128; j++) cfg_hooks.printer_copy(o, lp_order[j] - 128);
    return;
  }
}

static void printer_pass() {
  deflt_seek(deflt_printer_pos);
  deflt_lineno = deflt_printer_line;
  while (const char *line = deflt_getline()) {
    if (line[0] == '[') break;
    if (line[0] == '#') printer_entry(line + 1);
  }
}

void lp_find_entries() {
  if (!lp_env) return;
  char *names[128];
  for (int i = 1; i < lp_max; i++) {
    names[i] = lp_env[i] ? value_of(lp_env[i]) : nullptr;
    if (names[i]) lp_envlg[i] = int(std::strcspn(names[i], ",;"));
  }
  names[0] = nullptr;
  lp_cnt = sort_list(names, lp_envlg, lp_max, lp_order);
  // without a printer-entry parser the entries stay unread and unreported
  if (lp_cnt == 0 || !cfg_hooks.printer_entry || !cfg_hooks.printer_copy) return;
  printer_pass();
  std::string missing;
  for (int i = 1; i < lp_max; i++) {
    if (!lp_env[i] || lp_list[i]) continue;
    missing.append(lp_env[i], size_t(value_of(lp_env[i]) - lp_env[i]) + size_t(lp_envlg[i]));
    missing += ' ';
  }
  if (missing.empty()) return;
  zsmsg(("LPCAP-entry not found for " + missing + "\r\n").c_str());
  msg_count++;
}
