// lcap.h: printer capability entries and the terminal's character map,
// parsed from the defaults file into one compact record per printer slot.
//
// Record layout (lp_info):
//   map1      256 bytes: the byte printed for each character; shares the
//             terminal's output map when the entry changes nothing
//   map2      256 text offsets of further bytes after map1[c]; null: none
//   eff       text offsets: 7 fixed effects (INIT=, DEINIT=, INITFILE=,
//             DEINITFILE=, FL=, CS=, LPI=), then one per attribute letter
//             in the order of eff_list; 0 = undefined.  An attribute's
//             offset names its "on" text; the "off" text follows it at once
//   txt       the text pool: items of a length byte and that many bytes;
//             offset 1 is the empty item, so 0 can mean "none"
#pragma once

#include <cstdint>

constexpr int LCAP_FIXED = 7;                   // fixed effects before the letters
constexpr int LCAP_EFF_MAX = LCAP_FIXED + 256;  // effect entries while parsing
constexpr int LCAP_LINE = 512;                  // collection buffer of a value list
constexpr int LCAP_ITEM_MAX = 255;              // bytes of one pool item
constexpr int LCAP_POOL_MAX = 65535;            // pool offsets are 16 bits
constexpr int LCAP_GRF_CODES = 22;              // line-drawing codes of sets 1 and 2

enum lcap_fixed { EFF_INIT, EFF_DEINIT, EFF_INITFILE, EFF_DEINITFILE, EFF_FL, EFF_CS, EFF_LPI };

struct lp_info {
  uint8_t *map1;     // per character, the byte to print
  uint16_t *map2;    // per character, offset of further bytes (0 none); may be null
  uint16_t *eff;     // the effect table (LCAP_FIXED + eff_cnt entries)
  char *eff_list;    // the attribute letters, zero-terminated
  uint16_t eff_cnt;  // number of attribute letters
  uint8_t *txt;      // the text pool
  int dumbflg;       // 0x01..0x10: letter A..E not defined
  int txt_len;       // bytes of the pool in use
  int own_map1;      // map1 belongs to the record (else it is the output map)
};

// Parses the entry that follows in the defaults file (read through
// deflt_getline) for printer slot, or the terminal's "MAP=" lines for
// slot -1.  Returns the line it stopped on when that line begins "))",
// else null (end of the file).  Errors are reported and end the entry.
const char *lcap_init(int slot);
// The terminal's "MAP=" block of the defaults file, the "MAP=" line being
// the next to read: the output map gets a copy of its own first, then
// lcap_init(-1) parses the block.
const char *lcap_map_block();
// Printer slot to shares slot from's record.
void lcap_copy(int from, int to);
// 1 when slot has a record, else 0.
int lcap_ok(int slot);
// Frees every record of the printer table (start of a new configuration).
void lcap_reset();
// The record of printers without an entry: identity map, no effects.
const lp_info *lcap_dumb();

// Sends the entry messages to fd instead of the standard error output.
void lcap_errfd_for_test(int fd);

// The text of pool item off (its bytes; *len their count); null for 0.
const uint8_t *lcap_text(const lp_info *r, unsigned off, int *len);
// The pool offset of the "off" text of attribute effect idx, or 0.
unsigned lcap_off_text(const lp_info *r, int idx);
// Effect index of attribute letter, or -1 when it is not defined.
int lcap_attr(const lp_info *r, int letter);
