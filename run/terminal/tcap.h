// tcap.h: the capabilities of the active terminal, read once from terminfo
// at start-up (inicap) and read-only afterwards, except the colour/
// attribute map, which the program may change at run time.
//
// What inicap builds:
//   cf_code    the bytes of the screen control language: attribute codes,
//              the two line-drawing sets, the arrow-key codes
//   ctrl_type  per byte: its output class (low six bits) and the kind of
//              key sequence it starts (top two bits, set by the keyboard)
//   ztcvec     attribute sequences, line-drawing characters, character set
//              switches, transparent printing, width switches
//   ztc        key strings, by their two-letter names
//   keylabel   the labels of function keys 0-10
//   tc         scalars: cookie glitch, margins, costs, screen size, and the
//              terminfo strings the refresh sends
// Every string built here lives in one 512-byte block.
#pragma once

#include <cstdint>

// output-speed bits of the terminal (c_cflag & 0x100F) as found at start,
// kept by settty for the screen timing: 1-15 are 50 to 38400 baud
extern unsigned ztc_ospeed;

// ---- the in-band code table ------------------------------------------------
//   index  0-15  field-attribute codes          CF          8B..9F A6 AC ..
//         16-26  line-drawing set 1             LINE_DRAW1  80..8A
//         27-37  line-drawing set 2             LINE_DRAW2  90..9A
//         38-41  arrow keys right left down up  ARROWS      0C 08 0A 0B
// The eleven line-drawing elements, in this order: upper-left, upper-right,
// lower-left, lower-right corner, top, right, left, bottom tee, horizontal,
// vertical, cross.
constexpr int CF_ATTR = 0;
constexpr int CF_LINE1 = 16;
constexpr int CF_LINE2 = 27;
constexpr int CF_ARROWS = 38;
constexpr int CF_SIZE = 42;
constexpr int LINE_ELEMENTS = 11;
enum {
  LD_UL,
  LD_UR,
  LD_LL,
  LD_LR,
  LD_TTEE,
  LD_RTEE,
  LD_LTEE,
  LD_BTEE,
  LD_HORIZ,
  LD_VERT,
  LD_CROSS
};
extern uint8_t cf_code[CF_SIZE];

// ---- byte classes ------------------------------------------------------------
//   low six bits  0 ordinary, 1 control (bytes 0-31 to begin with),
//                 2-17 field-attribute code (attribute = class - 2),
//                 18-28 line-drawing set 1 element (class - 18),
//                 29-39 line-drawing set 2 element (class - 29)
//   top two bits  0 no key sequence, 1 terminal key, 2 keyboard-map sequence
constexpr uint8_t CT_ORDINARY = 0;
constexpr uint8_t CT_CONTROL = 1;
constexpr uint8_t CT_ATTR = 2;
constexpr uint8_t CT_LINE1 = 18;
constexpr uint8_t CT_LINE2 = 29;
constexpr uint8_t CT_END = 40;  // first class past the line-drawing sets
constexpr uint8_t CT_CLASS = 0x3F;
extern uint8_t ctrl_type[256];

// the output class of byte c
inline int tc_class(uint8_t c) {
  return ctrl_type[c] & CT_CLASS;
}

// ---- terminal strings ----------------------------------------------------------
// ztcvec: a null or empty entry means that the terminal lacks the feature.
//   0-15   sequence for attribute combination k (standout 1, blink 2,
//          reverse 4, underline 8)
//   16-26  the terminal's character for each line-drawing element, sent
//          while the alternate character set is on; 27-37 the same again
constexpr int ZV_LINE1 = 16;
constexpr int ZV_LINE2 = 27;
constexpr int ZV_SMACS = 38;  // enter_alt_charset_mode
constexpr int ZV_RMACS = 39;  // exit_alt_charset_mode
constexpr int ZV_PRTR_ON = 40;
constexpr int ZV_PRTR_OFF = 41;
constexpr int ZV_CS80 = 42;   // switch to 80 columns (CS80)
constexpr int ZV_CS132 = 43;  // switch to 132 columns (CS132)
constexpr int ZV_SIZE = 64;
extern const char *ztcvec[ZV_SIZE];

// display attribute bits, as set_attributes takes them
constexpr int DA_STANDOUT = 0x01, DA_BLINK = 0x02, DA_REVERSE = 0x04, DA_UNDERLINE = 0x08,
              DA_DIM = 0x10, DA_BOLD = 0x20, DA_INVIS = 0x40, DA_PROTECT = 0x80;

// ztc: key strings by the two-letter names of "krRKklLKkdDKkuUKk0DLTBLD
// khkbcmcvchcdcendicdcaldlcl".  inicap fills the cursor keys, delete
// character (DL), tab (TB), delete line (LD), home and backspace; k0 is the
// escape key's, filled by the keyboard; the rest belong to the terminal
// intrinsic.
enum {
  ZTC_KR,
  ZTC_RK,
  ZTC_KL,
  ZTC_LK,
  ZTC_KD,
  ZTC_DK,
  ZTC_KU,
  ZTC_UK,
  ZTC_K0,
  ZTC_DL,
  ZTC_TB,
  ZTC_LD,
  ZTC_KH,
  ZTC_KB,
  ZTC_CM,
  ZTC_CV,
  ZTC_CH,
  ZTC_CD,
  ZTC_CE,
  ZTC_ND,
  ZTC_IC,
  ZTC_DC,
  ZTC_AL,
  ZTC_DLN,
  ZTC_CL,
  ZTC_SIZE
};
extern const char *ztc[ZTC_SIZE];
extern const char cap_list[];  // the two-letter names, in ztc's order

// the labels of function keys 0-10 ("F0".."F10" where terminfo has none)
extern const char *keylabel[11];

// the string block: 512 bytes, ztcptr its first free byte
constexpr int TC_BLOCK = 512;
extern char *ztcptr;

// The terminfo strings the refresh sends (null when the terminal lacks
// them) and the scalars derived at start-up.
struct tc_caps {
  const char *cup, *hpa, *vpa;      // cursor, column and row addressing
  const char *clear, *el, *ed;      // erasing
  const char *il, *il1, *dl, *dl1;  // insert and delete lines
  const char *ind, *indn;           // scroll forward
  const char *civis, *cnorm, *cvvis;
  const char *sgr, *setaf, *setab, *op;
  const char *smacs, *rmacs;
  bool bce;   // back_color_erase
  bool xenl;  // eat_newline_glitch
};
struct tc_state {
  int attr_mode;                             // magic_cookie_glitch when defined, else 0
  int am_flag;                               // auto_right_margin
  char pad;                                  // first character of pad_char (cPC)
  uint8_t set_attrib_grf;                    // set_attributes switches the alternate character set
  uint8_t grf_state;                         // line drawing possible
  short rows, cols;                          // screen size (25 x 80 when terminfo has none)
  short cm_cost, cv_cost, ch_cost, ce_cost;  // cursor-motion costs
  tc_caps cap;                               // strings for the refresh
  char *block;                               // the string block
  bool loaded;                               // a terminfo entry is loaded
};
extern tc_state tc;

// ---- the colour/attribute map ------------------------------------------------------
// A cell's att is a code into this map.  Code 254 is the normal entry
// {0, none, none}; 255 means that the terminal's attribute is unknown and
// compares as {255, 255, 255}; any other code past the table uses entry 0.
struct camap_ent {
  uint8_t attribute;  // display attribute bits; 255 = leave unchanged
  uint8_t fg_color;   // set_foreground colour; 255 = none
  uint8_t bg_color;   // set_background colour; 255 = none
};
constexpr int CA_NORMAL = 254;
constexpr int CA_UNKNOWN = 255;
extern camap_ent *camap_tab;
extern int camap_size;      // entries, a multiple of 16
extern int norm_attribute;  // 0 while entry 0 is {0, none, none}, else 254
extern int camap_upd;       // the map changed: the next refresh repaints

// The entry for a code, by the rules above.
camap_ent camap_get(int code);
// Sets entry code to {att, fg, bg} (each taken as a byte), growing the map;
// 0, or -1 for a negative code or when memory runs out.
int set_camap(int code, int att, int fg, int bg);
// Empties the map (tests).
void camap_reset_for_test();

// ---- start-up ------------------------------------------------------------------------
// Builds everything above for the active terminal; ends the process with
// "terminfo problem." or "OUT OF MEMORY for terminfo" on failure.
void inicap();
// Builds cf_code and the output classes of ctrl_type from the settings
// (CF, LINE_DRAW1, LINE_DRAW2, ARROWS, VX8BIT); inicap's first step, and
// the printer entries' source of the line-drawing codes before it.
void tc_build_codes();
// The set_attributes expansion for combination k, or null without one.
const char *get_attr_sequence(int k);
// Parses a comma-separated list of decimal numbers into cf_code[start..end).
void set_codes(const char *list, int start, int end);
// Parses numbers separated by "-" into a byte string at *next (advanced past
// its zero byte, never past the string block); returns its start.
const char *set_cs(const char *list, char **next);
// Computes the four cursor-motion costs from the loaded entry.
void set_cx_costs();

// ---- sending capabilities -------------------------------------------------------------
// Sends a terminfo string (with its padding) into the screen output buffer.
void tc_put(const char *cap);
// Expands a terminfo string with one or two parameters; null stays null.
const char *tc_parm(const char *cap, int p1, int p2 = 0);
// Expands set_attributes with its nine parameters.
const char *tc_sgr(int attribute, int acs);

// Expands a termcap-style cursor string for column h and line v into a
// 32-byte static buffer; tgoto_len is the length ("OOPS", 4 on error).
// vx_up and vx_bc are the termcap UP and BC strings, set by the caller for
// the call.
const char *vx_tgoto(const char *s, int h, int v);
extern int tgoto_len;
extern const char *vx_up, *vx_bc;

// Queues padding worth m10 tenths of a millisecond at the line speed.
void vx_nap(int m10);

// Releases the loaded entry, the block and the map (tests load several).
void tc_reset_for_test();
