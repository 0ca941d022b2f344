// env.cpp: the settings tables, our own environment storage, set_var,
// env_init and env_upd, the unit-alias table and the terminal slot.
// Owns every setting variable of settings.h.
//
// env_init, in this order:
//   1 defaults of every table variable   8  CONCURRENT and R checked
//   2 terminal type and file names       9  printer entries sorted, printer
//   3 first pass over the defaults file     pass, missing entries reported
//   4 command-line assignments           10 the open-file table
//   5 environment pass (printers, then   11 defaults file closed
//     set_var for every other entry)     12 VXSCDUMP opened
//   6 private copy of P                  13 keyboard map, character classes
//   7 unit aliases                       14 terminal slot when T is -1
#include "run/config/env.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/config/cfhooks.h"
#include "run/config/defaults.h"
#include "run/config/lptab.h"
#include "run/config/settings.h"

cfg_hooks_t cfg_hooks = {};

extern char **environ;

const char *arrow_list, *cf_list, *conc_wanted, *conc_key, *conc_run, *ztc_cs80, *ztc_cs132,
    *graph_chars, *line_draw1, *line_draw2, *log_name, *lpopt, *lpst, *more_name, *progname,
    *vx_break, *ctypefile, *sc_dumpfile, *vx_decpt, *vx_esc, *language, *mapfile, *vx_onerror,
    *vxtxlog, *spool_name, *wiz_name, *rchain_unit;

int zrceq, ztcpdel, zrfeq, nis_dupsiz, zrmeq, nonstop, noshell, nostart, ztcphs, zrrpo, vx_8bit,
    vx_compat, vx_screen, vx_exit, vx_fl, vx_rchain, lp_buffered, lp_max, lp_debug, zcbsiz, zrteq;

// Known settings; searched in this order.  [table order: settings]
strvarlist strvar_table[] = {
    {"ARROWS", &arrow_list, nullptr, 0},
    {"CF", &cf_list, nullptr, 0},
    {"CONCURRENT", &conc_wanted, nullptr, 1},
    {"CONC_KEY", &conc_key, nullptr, 0},
    {"CONC_RUN", &conc_run, nullptr, 0},
    {"CS80", &ztc_cs80, nullptr, 0},
    {"CS132", &ztc_cs132, nullptr, 0},
    {"GRAPH_CHARS", &graph_chars, nullptr, 0},
    {"LINE_DRAW1", &line_draw1, nullptr, 0},
    {"LINE_DRAW2", &line_draw2, nullptr, 0},
    {"LOGFILE", &log_name, nullptr, 0},
    {"LPOPT", &lpopt, nullptr, 0},
    {"LPST", &lpst, "@@", 0},
    {"MORENAME", &more_name, "/usr/bin/more", 1},
    {"P", &progname, nullptr, 0},
    {"VXBREAK", &vx_break, nullptr, 0},
    {"VXCTYPE", &ctypefile, nullptr, 0},
    {"VXSCDUMP", &sc_dumpfile, nullptr, 0},
    {"VXDECPT", &vx_decpt, ".", 0},
    {"VXESC", &vx_esc, "27", 0},
    {"VXLANG", &language, nullptr, 0},
    {"VXMAP", &mapfile, nullptr, 0},
    {"VXONERROR", &vx_onerror, nullptr, 1},
    {"VXTXLOG", &vxtxlog, nullptr, 0},
    {"SPOOLNAME", &spool_name, "/usr/bin/spool", 1},
    {"W", &wiz_name, "wizardbuf", 0},
    {"RCHAINUNIT", &rchain_unit, nullptr, 1},
    {nullptr, nullptr, nullptr, 0},
};

numvarlist numvar_table[] = {
    {"C", &zrceq, 1, 0},
    {"CSDELAY", &ztcpdel, 0, 0},
    {"F", &zrfeq, 40, 0},
    {"ISDUPSIZ", &nis_dupsiz, 2, 0},
    {"M", &zrmeq, 120, 0},
    {"NONSTOP", &nonstop, 0, 1},
    {"NOSHELL", &noshell, 0, 1},
    {"NOSTART", &nostart, 0, 1},
    {"PRT_HS", &ztcphs, 0, 0},
    {"R", &zrrpo, 0, 0},
    {"VX8BIT", &vx_8bit, 0, 0},
    {"VXCOMPAT", &vx_compat, 0, 0},
    {"VXSCREEN", &vx_screen, 0, 0},
    {"VXEXIT", &vx_exit, 0, 0},
    {"VXFL", &vx_fl, 72, 0},
    {"VXRCHAIN", &vx_rchain, 0, 0},
    {"VXLPBUF", &lp_buffered, 1, 1},
    {"VXLPCNT", &lp_max, 25, 0},
    {"VXLPDEBUG", &lp_debug, 0, 0},
    {"VXWIZBUFLEN", &zcbsiz, 200, 0},
    {"T", &zrteq, -1, 0},
    {nullptr, nullptr, 0, 0},
};

const char *active_terminal;  // TERM, or "du"
const char *tty_name;         // the terminal list file
char *l_ttyname;              // device of standard error's terminal, or null
int sc_dump_fd = -1;          // VXSCDUMP descriptor, -1 when none

// ---- environment storage ------------------------------------------------

struct env_store {
  int count;                 // entries in environ, -1 until counted
  int room;                  // entries the owned array can hold (0: still inherited)
  char **owned;              // our copy of the array, once we had to grow it
  std::vector<char *> kept;  // private copies made here, for the process's life
};
static env_store es = {-1, 0, nullptr, {}};

// a private copy of s that lives as long as the process, or null
static char *keep_copy(const char *s) {
  char *c = strdup(s);
  if (c) es.kept.push_back(c);
  return c;
}

char *env_keep(const char *s) {
  return keep_copy(s);
}

static int env_count() {
  if (es.count < 0) {
    es.count = 0;
    if (environ)
      while (environ[es.count]) es.count++;
  }
  return es.count;
}

// length of the name part of an entry or assignment
static size_t name_len(const char *s) {
  const char *eq = std::strchr(s, '=');
  return eq ? size_t(eq - s) : std::strlen(s);
}

int igetenv(const char *variable, const char **value_p) {
  int n = env_count();
  size_t len = name_len(variable);
  *value_p = nullptr;
  for (int i = 0; i < n; i++) {
    const char *e = environ[i];
    if (std::strncmp(e, variable, len) == 0 && e[len] == '=') {
      *value_p = e + len + 1;
      return i;
    }
  }
  return n;
}

const char *vx_getenv(const char *name) {
  if (!environ) return nullptr;
  const char *v;
  igetenv(name, &v);
  return v;
}

int vx_putenv(char *assignment) {
  if (!environ) return -1;
  const char *old;
  int i = igetenv(assignment, &old);
  if (i < es.count) {
    environ[i] = assignment;
    return 0;
  }
  if (es.count + 1 >= es.room) {
    int room = es.room ? es.room + 16 : es.count + 16 + 1;
    auto **a = static_cast<char **>(std::malloc(sizeof(char *) * size_t(room)));
    if (!a) return -1;
    std::memcpy(a, environ, sizeof(char *) * size_t(es.count));
    std::free(es.owned);
    es.owned = a;
    es.room = room;
    environ = a;
  }
  environ[es.count++] = assignment;
  environ[es.count] = nullptr;
  return 0;
}

void env_reset_for_test(char **env) {
  std::free(es.owned);
  for (char *c : es.kept) std::free(c);
  es = {-1, 0, nullptr, {}};
  environ = env;
}

// ---- settings -----------------------------------------------------------

static void set_defaults() {
  for (strvarlist *s = strvar_table; s->var_name; s++) *s->var_ptr = s->var_def;
  for (numvarlist *n = numvar_table; n->var_name; n++) *n->var_ptr = n->var_def;
}

int set_var(char *p, int deflt, int first_time) {
  size_t len = name_len(p);
  if (deflt) {
    if (p[len] != '=') return 1;  // also an empty line
    const char *have;
    char save = p[len];
    p[len] = 0;
    igetenv(p, &have);
    p[len] = save;
    if (have && *have) return 1;
    p = keep_copy(p);
    if (!p || vx_putenv(p) < 0) return -1;
  }
  const char *value = p[len] == '=' ? p + len + 1 : p + len;
  for (strvarlist *s = strvar_table; s->var_name; s++) {
    if ((first_time || s->var_putenv) && std::strlen(s->var_name) == len &&
        std::strncmp(s->var_name, p, len) == 0) {
      *s->var_ptr = value;
      return 0;
    }
  }
  for (numvarlist *n = numvar_table; n->var_name; n++) {
    if ((first_time || n->var_putenv) && std::strlen(n->var_name) == len &&
        std::strncmp(n->var_name, p, len) == 0) {
      *n->var_ptr = std::atoi(value);
      return 0;
    }
  }
  return 0;
}

// a CONCURRENT value not starting with 1..9 counts as absent
static void check_concurrent() {
  if (conc_wanted && !(conc_wanted[0] >= '1' && conc_wanted[0] <= '9')) conc_wanted = nullptr;
}

// ---- unit aliases -------------------------------------------------------

constexpr int UNIT_ALIASES = 20;  // entries of one block

struct unit_alias_entry_type {
  int unit_number;        // -1: free entry
  const char *unit_name;  // the directory, in the environment string
};
struct unit_alias_block {
  unit_alias_block *next;                       // further block, or null
  unit_alias_entry_type aliases[UNIT_ALIASES];  // the entries
};
static unit_alias_block unit_table;

static void clear_block(unit_alias_block *b) {
  b->next = nullptr;
  for (auto &a : b->aliases) a = {-1, nullptr};
}

static void free_unit_table() {
  for (unit_alias_block *b = unit_table.next; b;) {
    unit_alias_block *n = b->next;
    delete b;
    b = n;
  }
  clear_block(&unit_table);
}

// the unit number of an assignment unitN=..., or -1
static int unit_of(const char *a) {
  if (std::strncmp(a, "unit", 4) != 0) return -1;
  const char *p = a + 4;
  if (*p < '0' || *p > '9') return -1;
  long n = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    n = n * 10 + (*p - '0');
    if (n > 0x7fffffff / 10) return -1;
  }
  return *p == '=' ? int(n) : -1;
}

int get_u_name(const char *assignment) {
  int unit = unit_of(assignment);
  if (unit < 0) return 0;
  const char *dir;
  igetenv(assignment, &dir);
  if (!dir || std::strlen(dir) >= 256) return 0;
  unit_alias_entry_type *free_entry = nullptr;
  unit_alias_block *last = &unit_table;
  for (unit_alias_block *b = &unit_table; b; b = b->next) {
    last = b;
    for (auto &a : b->aliases) {
      if (a.unit_number == unit) {
        a.unit_name = dir;
        return 0;
      }
      if (a.unit_number == -1 && !free_entry) free_entry = &a;
    }
  }
  if (!free_entry) {
    auto *b = new (std::nothrow) unit_alias_block;
    if (!b) return -1;
    clear_block(b);
    last->next = b;
    free_entry = &b->aliases[0];
  }
  *free_entry = {unit, dir};
  return 0;
}

int get_unit_names(char **envp) {
  for (int i = 0; envp && envp[i]; i++)
    if (get_u_name(envp[i]) < 0) return -1;
  return 0;
}

const char *unit_alias_dir(int unit) {
  for (unit_alias_block *b = &unit_table; b; b = b->next)
    for (auto &a : b->aliases) {
      if (a.unit_number == -1) return nullptr;
      if (a.unit_number == unit) return a.unit_name;
    }
  return nullptr;
}

// ---- terminal slot ------------------------------------------------------

static char tty_buf[20];  // l_ttyname's storage: at most 19 characters

int gettyslot() {
  char *name = tty_buf;
  const char *t = ttyname(2);
  if (!t) {
    l_ttyname = nullptr;
    return -1;
  }
  std::snprintf(name, sizeof tty_buf, "%s", t);
  l_ttyname = name;
  const char *dev = std::strlen(name) > 5 ? name + 5 : name + std::strlen(name);
  FILE *f = std::fopen(tty_name, "r");
  if (!f) return -1;
  char line[256];
  int n = 0, slot = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strlen(line) > 2 && std::strncmp(line + 2, dev, std::strlen(dev)) == 0) {
      slot = n;
      break;
    }
    n++;
  }
  std::fclose(f);
  return slot;
}

// ---- env_init -------------------------------------------------------------

// the environment pass: printer variables to the printer table, the rest
// to set_var
static int environment_pass() {
  for (int i = 0; environ && environ[i]; i++) {
    char *e = environ[i];
    if (lp_is_printer_var(e)) {
      if (lp_alloc() < 0) {
        zsmsg("LPCAP: cannot allocate memory\r\n");
        msg_count++;
        exitrun();
      }
      addlcapidx(e);  // a full table drops the printer silently
      continue;
    }
    if (set_var(e, 0, 1) < 0) return -1;
  }
  return 0;
}

int env_init(int argc, char **argv) {
  set_defaults();
  if (cfg_hooks.maps_reset) cfg_hooks.maps_reset();
  free_unit_table();
  lp_reset();
  tty_name = "/etc/ttys";
  const char *term = vx_getenv("TERM");
  active_terminal = term ? term : "du";
  const char *vd = vx_getenv("VXDEFAULT");
  def_name = vd && *vd ? vd : "/etc/default/quillon";

  if (deflt_open() && deflt_settings(active_terminal) < 0) return -1;
  for (int i = 1; i < argc; i++)
    if (std::strchr(argv[i], '=') && vx_putenv(argv[i]) < 0) return -1;
  if (environment_pass() < 0) return -1;
  if (progname && !(progname = keep_copy(progname))) return -1;
  if (get_unit_names(environ) < 0) return -1;
  check_concurrent();
  if (zrrpo > 8) zrrpo = 0;
  lp_find_entries();
  if (zrfeq < 1) zrfeq = 1;
  if (cfg_hooks.units_alloc && cfg_hooks.units_alloc(zrfeq) < 0) {
    zsmsg("OUT OF MEMORY \r\n");
    msg_count++;
    exitrun();
  }
  deflt_close();
  if (sc_dumpfile && *sc_dumpfile) {
    do sc_dump_fd = open(sc_dumpfile, O_WRONLY | O_CREAT | O_APPEND, 0644);
    while (sc_dump_fd < 0 && errno == EINTR);
  }
  if (cfg_hooks.maps_read) cfg_hooks.maps_read(mapfile, ctypefile);
  if (zrteq == -1) zrteq = gettyslot();
  return 0;
}

int env_upd(char *assignment) {
  if (set_var(assignment, 0, 0) < 0) return -1;
  if (get_u_name(assignment) < 0) return -1;
  check_concurrent();
  return 0;
}
