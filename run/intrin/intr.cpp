// intr.cpp: the intrinsic dispatcher, with the chain (21) and the call
// with parameters (52).  Arguments lie on the stack in source order, the
// last on top; their count is the byte after the instruction.  Each
// function number has a row in intr_table: the counts it accepts (104 for
// any other) and its function (102 for an unassigned number); the
// functions live in istring (strings and numbers), iscreen (control
// strings and the screen) and isystem (the system).
#include "run/intrin/intr.h"

#include <cstring>
#include <string>

#include "run/base/image.h"
#include "run/files/zioc.h"
#include "run/interp/zproc.h"
#include "run/interp/zreport.h"
#include "run/intrin/iscreen.h"
#include "run/intrin/istring.h"
#include "run/intrin/isystem.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/monitor/monitor.h"
#include "run/numeric/zmath.h"
#include "run/numeric/zops.h"
#include "run/terminal/screen.h"
#include "run/terminal/tty.h"

constexpr int ZNAME_MAX = 511;  // longest program name taken from a string

// the string whose descriptor is at desc (104 for a number), cut
static std::string string_of(uint32_t desc) {
  zdesc d = zdesc_get(desc);
  if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
  uint32_t len = zdesc_len(d);
  if (len > ZNAME_MAX) len = ZNAME_MAX;
  const uint8_t *p = zat(d.addr, len);
  return std::string(reinterpret_cast<const char *>(p), len);
}

// the non-negative integer whose descriptor is at desc
static unsigned unit_of(uint32_t desc) {
  zdesc d = zdesc_get(desc);
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  bcd_num x, t;
  std::memcpy(&x, zat(d.addr, 8), 8);
  fint(&x, &t);
  if (t.exp & BCD_SIGN) zraise(ERR_ARGS);
  int e = (t.exp & 0x7F) - BCD_BIAS;
  uint64_t v = 0;
  for (int i = 0; i < e && i < 14; i++) v = v * 10 + ((t.dig[i / 2] >> (i % 2 ? 0 : 4)) & 15);
  if (e > 9 || v > 0xFFFFFFFFu) zraise(ERR_ARGS);
  return unsigned(v);
}

// pointer word of the entry depth entries below the top (0: the top)
static uint32_t argument(int depth) {
  uint32_t a = uint32_t(zw.adr_len), link = zp.stkp;
  for (int i = 0; i < depth; i++) link = zgeta(link);
  uint32_t ptr = zgeta(link - a);
  if (ptr <= FRAME_MAX + 1) zraise(ERR_ARGS);
  return ptr;
}

// a load of a chain or call failed: 9 and 150 can be trapped, the rest
// ends the run
static int load_failed(int status, const std::string &name) {
  if (status == ZL_NOTFOUND || status == 150) zraise(status);
  sc_cleanup();
  zioc();
  nofind(status, errfile[0] ? errfile : name.c_str());
  return status;
}

// 25 and 30: zero
static int zero(int) {
  bcd_num z{};
  zpush_num(z);
  return 0;
}

static int chain(int count) {
  std::string name = string_of(argument(count - 1));
  unsigned unit = count == 2 ? unit_of(argument(0)) : 0;
  fOnerror = 0;
  zl.pcodeVersion = PCODE_NONE;
  int r = zload(name.c_str(), unit, int(name.size()), 0);
  if (r != ZL_OK) return load_failed(r, name);
  zcleanup();
  return zmon.chain_bkp ? -2 : 0;
}

static int call(int count) {
  int n_param = count >= 2 ? count - 2 : 0;
  std::string name = string_of(argument(count - 1));
  unsigned unit = count >= 2 ? unit_of(argument(count - 2)) : 0;
  fOnerror = 0;
  zpush(zp.stkp - zm.zrbas + uint32_t(zw.adr_len));
  zl.pcodeVersion = PCODE_NONE;
  int r = zload(name.c_str(), unit, int(name.size()), 1);
  if (r != ZL_OK) {
    zpop();
    return load_failed(r, name);
  }
  zpush_param(n_param);
  zproc_program_frame(n_param);
  return zmon.chain_bkp ? -2 : 0;
}

// One row per function number: the argument counts it accepts and its
// function; a null function is an unassigned number (102).
struct intr_row {
  int min, max;          // accepted argument counts
  int (*fn)(int count);  // the function
};

// [function table: indexed by the function number]
static constexpr intr_row intr_rows[65] = {
    {0, 0, nullptr},         // 0: unassigned
    {2, 2, istr_edit},       // 1
    {0, 1, iscr_left},       // 2
    {1, 2, iscr_move},       // 3
    {0, 1, iscr_field},      // 4
    {0, 2, iscr_clear},      // 5
    {0, 1, iscr_down},       // 6
    {0, 1, iscr_ff},         // 7
    {1, 1, iscr_column},     // 8
    {1, 1, istr_char},       // 9
    {0, 0, iscr_erase_row},  // 10
    {0, 0, iscr_erase_scr},  // 11
    {0, 1, iscr_right},      // 12
    {0, 1, iscr_cr},         // 13
    {1, 1, istr_len},        // 14
    {0, 1, isys_date},       // 15
    {0, 0, isys_error},      // 16
    {0, 0, isys_ioerror},    // 17
    {2, 3, istr_find},       // 18
    {1, 1, istr_value},      // 19
    {1, 1, istr_text},       // 20
    {1, 2, chain},           // 21
    {1, 1, istr_int},        // 22
    {0, 1, isys_key},        // 23
    {1, 1, istr_code},       // 24
    {0, 0, zero},            // 25
    {2, 2, iscr_offset},     // 26
    {4, 5, isys_values},     // 27
    {0, 255, isys_machine},  // 28
    {0, 255, isys_shared},   // 29
    {0, 0, zero},            // 30
    {6, 8, isys_fstat},      // 31
    {3, 3, isys_ustat},      // 32
    {1, 2, isys_getenv},     // 33
    {2, 2, isys_termcap},    // 34
    {0, 0, nullptr},         // 35: unassigned
    {5, 19, isys_istat},     // 36
    {1, 1, istr_upper},      // 37
    {1, 1, istr_lower},      // 38
    {1, 1, isys_pause},      // 39
    {0, 0, isys_errno},      // 40
    {1, 1, isys_stuff},      // 41
    {0, 4, iscr_read},       // 42
    {2, 2, isys_putenv},     // 43
    {0, 1, isys_info},       // 44
    {0, 0, isys_erraddr},    // 45
    {0, 0, isys_errfile},    // 46
    {2, 2, istr_repeat},     // 47
    {1, 1, istr_rtrim},      // 48
    {0, 1, iscr_cells},      // 49
    {0, 1, iscr_rows},       // 50
    {2, 4, iscr_box},        // 51
    {1, 255, call},          // 52
    {1, 1, iscr_keylabel},   // 53
    {2, 2, istr_trim},       // 54
    {1, 1, iscr_attribute},  // 55
    {4, 5, iscr_colour},     // 56
    {1, 1, istr_abs},        // 57
    {1, 1, iscr_load},       // 58
    {0, 1, iscr_cursor},     // 59
    {0, 4, iscr_rewrite},    // 60
    {0, 0, nullptr},         // 61: unassigned
    {1, 2, isys_query},      // 62
    {0, 0, nullptr},         // 63: unassigned
    {0, 0, nullptr},         // 64: unassigned
};

// The dispatcher's state.
struct intr_state {
  bool confined;  // the functions that reach outside the program are refused
};
static intr_state is_st;

// the functions that wait, read the clock, change the world outside the
// image (keys, pauses, children, the shared buffer, the environment, the
// colour/attribute map) or read what an earlier program left (the last
// I/O error, error address and message, the process holding a lock)
static bool reaches_outside(int n) {
  switch (n) {
    case 15:
    case 17:
    case 23:
    case 28:
    case 29:
    case 39:
    case 40:
    case 41:
    case 43:
    case 45:
    case 56:
    case 62:
      return true;
    default:
      return false;
  }
}

void intr_confine_for_test(bool on) {
  is_st.confined = on;
}

int intr(int n) {
  int count = int(zget1(zp.preg++));
  intr_row r = n >= 0 && n < 65 ? intr_rows[n] : intr_row{0, 0, nullptr};
  if (!r.fn || (is_st.confined && reaches_outside(n))) zraise(ERR_BADCODE);
  if (count < r.min || count > r.max) zraise(ERR_ARGS);
  return r.fn(count);
}
