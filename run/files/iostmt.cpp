// iostmt.cpp: the file statements (iostmt.h).  Owns the statement
// registers and the record buffer; called by the dispatch loop through its
// I/O hooks, and by the record formats (ioier, ftpnd).
//
// P-code of a statement: the option values are pushed in the order the
// options are listed, then
//   102 (ioinit)  operation byte, option count, one byte per option number
// then one 103 (number) or 104 (string) per data item, each after its
// value or variable is pushed, and 105 (ioterm).
//
// Options (number, letter in the permission lists, value):
//   0 @ EOF label        1 A unit            2 B ERR label      3 C line ends
//   4 D prompt           5 E flag            6 F KEY variable   7 G record number
//   8 H lock             9 I access mode    10 J directory unit 11 K (ignored)
//  12 L file name       13 M record number 14 N record length  15 O key part length
//  16 P (ignored)       17 Q organisation  18 R FMT            19 S (always 61)
//  20 T (error 102)     21 U key part start 22 V key number variable
// A permission list names the options an operation allows; "!" after a
// letter makes it required, a final "?" requires a data file unit when a
// unit is given (not 0, not 255).
#include "run/files/iostmt.h"

#include <cstdlib>
#include <cstring>

#include "run/base/image.h"
#include "run/config/settings.h"
#include "run/files/fm.h"
#include "run/files/iohelp.h"
#include "run/files/irec.h"
#include "run/files/txlog.h"
#include "run/interp/zreport.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zfmt.h"
#include "run/numeric/zops.h"
#include "run/terminal/keys.h"
#include "run/terminal/lp.h"
#include "run/terminal/screen.h"
#include "run/terminal/zinlin.h"

fm_callblock iob;
uint8_t iobuf[IOBUF_SIZE];
int zrerf;
int zrerf_lock;
int zrcar = 1;
uint32_t zkeyd;
uint32_t zpreg_IOI;
int (*io_readline)(int opt) = zinlin;

constexpr int ERR_IOBUSY = 110;   // a statement began while the record buffer is in use
constexpr int MAX_OPTIONS = 64;   // options of one statement: more is malformed p-code
constexpr int NAME_MAX_IO = 510;  // longest file name taken from a statement

enum { TO_NONE, TO_TERMINAL, TO_PRINTER, TO_FILE };  // where the items go

// an option value as popped
struct io_value {
  int64_t num;    // numbers
  uint32_t addr;  // strings: data; labels: code address; variables: descriptor
  uint32_t len;   // strings: length
};

// A growing copy buffer.
struct io_copy {
  char *p;     // the bytes, or null
  size_t cap;  // bytes allocated
};

struct io_state {
  int op;                 // operation of the statement
  uint32_t stmt;          // code address of its opcode
  int dest;               // TO_*
  int out;                // 1 items are written, 0 read
  uint32_t given;         // bit n: option n was given
  uint32_t reof, rerl;    // EOF and ERR labels (code addresses)
  uint32_t prompt, plen;  // prompt string in the image
  bool bad_unit;          // the unit option is outside 0..F
  int nmarked;            // units marked for the transaction, -1: too many to list
  int16_t marked[8];      // the units marked
  int last_part;          // the last option processed was 15: its length, else -1
  size_t cap;             // record room of a WRITE to a file
  io_copy fmt;            // copy of the FMT string
  unsigned fmt_len;       // its length
  size_t keydata;         // first pass of a two-pass READ: the data bytes written
  io_copy key;            // copy of the KEY value
  uint32_t knum_var;      // descriptor of the key number variable, 0 none
  bool active;            // between ioinit and ioterm
};
static io_state io;

int ioier(int n) {
  if (zrerf == 0) zrerf = n;
  return zrerf;
}

void io_abandon() {
  io.active = false;
  zrfdp = nullptr;
  zrfsp = nullptr;
  zrfout = nullptr;
  zpreg_IOI = 0;
}

bool io_busy() {
  return io.active;
}

// points the record cursor at p
static void set_cursor(uint8_t *p) {
  zrfdp = reinterpret_cast<char *>(p);
}

// copies n bytes of the image at addr into c; false without memory
static bool keep_copy(io_copy *c, uint32_t addr, uint32_t n) {
  if (c->cap < size_t(n) + 1) {
    char *p = static_cast<char *>(std::realloc(c->p, size_t(n) + 1));
    if (!p) return false;
    c->p = p;
    c->cap = size_t(n) + 1;
  }
  if (n) std::memcpy(c->p, zat(addr, n), n);
  c->p[n] = 0;
  return true;
}

// A number as an integer, truncated toward zero, saturated.
static int64_t to_int(const bcd_num &x) {
  int e = (x.exp & 0x7F) - BCD_BIAS;
  if (x.exp == 0 || e <= 0) return 0;
  if (e > 18) return x.exp & BCD_SIGN ? INT64_MIN : INT64_MAX;
  int64_t v = 0;
  for (int i = 0; i < e; i++)
    v = v * 10 + (i < BCD_DIGITS ? (x.dig[i / 2] >> (i % 2 ? 0 : 4)) & 15 : 0);
  return x.exp & BCD_SIGN ? -v : v;
}

// --- phase 1: the options ---------------------------------------------------

enum { V_NUM, V_STR, V_LABEL, V_VAR, V_ANY };

static int value_kind(int n) {
  switch (n) {
    case 0:
    case 2:
      return V_LABEL;
    case 4:
    case 9:
    case 12:
    case 16:
    case 17:
    case 18:
      return V_STR;
    case 6:
    case 22:
      return V_VAR;
    case 19:
      return V_ANY;
    default:
      return V_NUM;
  }
}

static io_value pop_value(int n) {
  io_value v = {};
  switch (value_kind(n)) {
    case V_LABEL:
      v.addr = zstk_ptr();
      zstk_pop();
      break;
    case V_STR: {
      if (n == 12) {
        std::free(iob.fm_filename);
        iob.fm_filename = xpopst(NAME_MAX_IO);
        if (!iob.fm_filename) ioier(FE_NOMEM);
        break;
      }
      if (!(zpopst(&v.len, &v.addr) & DSC_STR)) zraise(ERR_ARGS);
      break;
    }
    case V_VAR:
      v.addr = pda();
      break;
    case V_ANY:
      zpop_value();
      break;
    default: {
      bcd_num x;
      zpop_num(&x);
      v.num = to_int(x);
    }
  }
  return v;
}

// first character of a string option, or 0 when empty
static char first_char(const io_value &v) {
  return v.len ? char(zget1(v.addr)) : 0;
}

static void key_part_length(int64_t len) {
  keydesc &k = iob.fm_keyd;
  io.last_part = len < 0 ? 0 : int(len);
  if (len == 0) return;
  if (k.k_nparts >= NPARTS || len < 0 || len > MAXKEYSIZE) {
    ioier(FE_KEYPART);
    return;
  }
  k.k_part[k.k_nparts++] = keypart{0, short(len), CHARTYPE};
}

static void key_part_start(int64_t start) {
  if (io.last_part < 0) {
    ioier(FE_KEYPART);
    return;
  }
  if ((start == 0) != (io.last_part == 0) || start < -32767 || start > 32767) {
    ioier(FE_VALUE);
    return;
  }
  if (io.last_part) iob.fm_keyd.k_part[iob.fm_keyd.k_nparts - 1].kp_start = short(start);
}

static void unit_option(int64_t n) {
  iob.fm_lfn = int16_t(n < -1 || n > 32767 ? -1 : n);
  if (n < 0 || n > zrfeq) {
    io.bad_unit = true;
    return;
  }
  if (vx_txflag == 0) return;  // without a log no transaction reads the marks
  fm_txflag_set(int(n));
  if (io.nmarked >= 0 && io.nmarked < 8)
    io.marked[io.nmarked++] = int16_t(n);
  else
    io.nmarked = -1;
}

// Carries out option n with value v.
static void apply_option(int n, const io_value &v) {
  switch (n) {
    case 0:
      io.reof = v.addr;
      break;
    case 1:
      unit_option(v.num);
      break;
    case 2:
      io.rerl = v.addr;
      break;
    case 3:
      zrcar = v.num < 0 ? 0 : v.num > 100 ? 100 : int(v.num);
      break;
    case 4:
      io.prompt = v.addr;
      io.plen = v.len;
      break;
    case 5:
      iob.fm_flag = int16_t(v.num);
      iob.fm_keyd.k_flags = short(COMPRESS + v.num);
      break;
    case 6: {
      zkeyd = v.addr;
      zdesc d = zdesc_get(v.addr);
      if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
      uint32_t len = zdesc_len(d);
      if (!keep_copy(&io.key, d.addr, len)) ioier(FE_NOMEM);
      iob.fm_key = reinterpret_cast<uint8_t *>(io.key.p);
      iob.fm_klen = len;
      break;
    }
    case 7:
    case 13:
      if (v.num == FM_RNUM_BAD) ioier(FE_VALUE);
      iob.fm_rnum = v.num;
      break;
    case 8:
      iob.fm_lock = v.num != 0;
      break;
    case 9: {
      char m = first_char(v);
      if (m != 'S' && m != 'R' && m != 'P') ioier(FE_VALUE);
      iob.fm_mode = m;
      break;
    }
    case 10:
      if (v.num < 0 || v.num > 32767) ioier(FE_VALUE);
      iob.fm_unit = int16_t(v.num < 0 || v.num > 32767 ? -1 : v.num);
      break;
    case 14:
      if (v.num < 0) ioier(FE_VALUE);
      iob.fm_rlen = v.num < 0 ? 0 : size_t(v.num);
      break;
    case 15:
      key_part_length(v.num);
      break;
    case 17:
      iob.fm_org = v.len ? first_char(v) : ' ';
      break;
    case 18:
      if (!keep_copy(&io.fmt, v.addr, v.len)) ioier(FE_NOMEM);
      zrfsp = io.fmt.p;
      zrfsc = io.fmt_len = v.len;
      break;
    case 19:
      ioier(FE_VALUE);
      break;
    case 21:
      key_part_start(v.num);
      break;
    case 22: {
      zdesc d = zdesc_get(v.addr);
      if (d.type & DSC_STR) zraise(ERR_ARGS);
      bcd_num x;
      std::memcpy(&x, zat(d.addr, 8), 8);
      iob.fm_knum = int16_t(to_int(x));
      io.knum_var = v.addr;
      break;
    }
    default:
      break;  // 11, 12 (taken when popped), 16
  }
  if (n != 15) io.last_part = -1;
}

// Resets the statement registers for a new statement.
// (Field by field: the key parts past k_nparts and the status fields are
// not read before they are set.)
static void reset_statement(int op) {
  std::free(iob.fm_filename);
  iob.fm_filename = nullptr;
  iob.fm_lfn = 255;
  iob.fm_unit = 0;
  iob.fm_rnum = 0;
  iob.fm_rlen = iob.fm_klen = 0;
  iob.fm_knum = iob.fm_flag = 0;
  iob.fm_keyd.k_flags = COMPRESS;
  iob.fm_keyd.k_nparts = 0;
  iob.fm_key = nullptr;
  iob.fm_data = iobuf + 1;
  iob.fm_mode = 'S';
  iob.fm_org = op == FMOP_CREATE ? 'U' : ' ';
  iob.fm_lock = 1;
  io.given = 0;
  zrerf = zrerf_lock = 0;
  zrcar = 1;
  zkeyd = 0;
  zrfsp = nullptr;
  zrfsc = 0;
  io.reof = io.rerl = io.prompt = io.plen = io.knum_var = 0;
  io.bad_unit = false;
  io.last_part = -1;
  io.dest = TO_NONE;
  io.out = 0;
  lp_ioerr = 0;
  if (io.nmarked < 0) fm_txflag_clr(-1);
  for (int i = 0; i < io.nmarked; i++) fm_txflag_clr(io.marked[i]);
  io.nmarked = 0;
}

// Reads the option bytes, pops their values (the last listed is on top)
// and applies them in the order listed.
static void read_options(int op, int count) {
  if (count > MAX_OPTIONS) zraise(ERR_BADCODE);
  uint8_t opts[MAX_OPTIONS];
  for (int i = 0; i < count; i++) {
    opts[i] = uint8_t(zfetch());
    if (opts[i] == 20 || opts[i] >= 23) zraise(ERR_BADCODE);
  }
  io_value vals[MAX_OPTIONS];
  for (int i = count - 1; i >= 0; i--) vals[i] = pop_value(opts[i]);
  for (int i = 0; i < count; i++) {
    int n = opts[i];
    bool repeatable = n == 15 || n == 21 || (op == FMOP_BEGIN && n == 1);
    if (io.given & 1u << n && !repeatable) ioier(FE_VALUE);
    io.given |= 1u << n;
    apply_option(n, vals[i]);
  }
}

static bool given(int n) {
  return io.given & 1u << n;
}

// A permission list (see the head of this file) as bit masks.
struct io_perm {
  uint32_t allowed;   // bit n: option n may be given
  uint32_t required;  // bit n: option n must be given
  bool data_unit;     // a unit given must be a data file
};

consteval io_perm perm(const char *list) {
  io_perm p = {0, 0, false};
  for (const char *c = list; *c; c++) {
    if (*c == '?') {
      p.data_unit = true;
    } else if (*c == '!') {
      p.required |= 1u << (c[-1] - '@');
    } else {
      p.allowed |= 1u << (*c - '@');
    }
  }
  return p;
}

// The permission check of an operation's list; 61 or 66.
static void iocrp(io_perm p) {
  if (io.given & ~p.allowed || (io.given & p.required) != p.required)
    ioier(FE_VALUE);
  else if (p.data_unit && given(1) && (iob.fm_lfn == 0 || iob.fm_lfn == 255))
    ioier(FE_NEEDFILE);
}

// A key named both by number and by parts is 65.
static void iocrp2() {
  if (given(22) && (given(15) || given(21))) ioier(FE_CONFLICT);
}

// Runs the request through the file layer; its error is the statement's.
static int run_fm(int opcode) {
  if (zrerf) return zrerf;
  iob.fm_opcode = char(opcode);
  int r = fm(&iob);
  std::free(iob.fm_filename);
  iob.fm_filename = nullptr;
  if (r) ioier(r);
  return r;
}

// --- phase 1: the operations ------------------------------------------------

static void terminal_input() {
  io.dest = TO_TERMINAL;
  io.out = 0;
  zrfdp = zrlin;
  zrfdc = 0;
  if (zrerf) return;
  if (io.plen) zoutnc(reinterpret_cast<const char *>(zat(io.prompt, io.plen)), int(io.plen));
  int n = io_readline(iob.fm_flag);
  if (n < 0) {
    ioier(n == KBD_EPAGER ? FE_PAGER : FE_IO);
    return;
  }
  zrfdc = n;
}

static void terminal_output() {
  io.dest = TO_TERMINAL;
  io.out = 1;
  set_cursor(iobuf + 1);
  zrfdc = FM_RECBUF;
}

// Selects the unit of a READ or WRITE and points the record cursor at the
// record area of its file.  A READ in mode "S" or "P" returns the key of
// the record read in the KEY variable: the key length is the variable's
// capacity, and a fixed-length variable is first filled with spaces.  (A
// WRITE leaves the variable alone: its value is the key written.)
static bool select_record() {
  io.dest = TO_FILE;
  set_cursor(iobuf + 1);
  zrfdc = 0;
  if (run_fm(FMOP_SELECT)) return false;
  const oftentry *e = fm_sel.entry;
  uint8_t *data = e->pftype == 'I' ? e->pkbuf + e->pklen : iobuf + 1;
  io.cap = e->pftype == 'I' ? e->prlen : size_t(FM_RECBUF);
  if (given(6) && !io.out && (iob.fm_mode == 'S' || iob.fm_mode == 'P')) {
    zdesc d = zdesc_get(zkeyd);
    if (d.type & DSC_PAD) std::memset(zat(d.addr, d.dim1), ' ', d.dim1);
    if (!keep_copy(&io.key, d.addr, d.dim1)) ioier(FE_NOMEM);
    iob.fm_key = reinterpret_cast<uint8_t *>(io.key.p);
    iob.fm_klen = d.dim1;
  }
  iob.fm_data = data;
  set_cursor(data);
  return true;
}

// an error of a read that delivered its record, reported at the end
static void note_lock(int r) {
  if (!zrerf_lock) zrerf_lock = r;
}

// The read proper; datalen: the data bytes that the statement gave for
// the key (a two-pass READ), else the room of the record area.
static void read_record(size_t datalen) {
  iob.fm_rlen = datalen;
  iob.fm_opcode = FMOP_READ;
  int r = fm(&iob);
  bool got = r == 0 || r == FE_RECLOCK;
  const oftentry *e = fm_sel.entry;
  if (got && e && e->pftype == 'I') {
    if (iread_note) note_lock(iread_note);
    if (zkeyd && iob.fm_key) {  // the key of the record read goes back to KEY
      zdesc d = zdesc_get(zkeyd);
      uint32_t n = uint32_t(iob.fm_klen < d.dim1 ? iob.fm_klen : d.dim1);
      if (n) std::memcpy(zat(d.addr, n), iob.fm_key, n);
      if (!(d.type & DSC_PAD) && (iob.fm_mode == 'S' || iob.fm_mode == 'P')) {
        d.dim2 = n;
        zdesc_put(zkeyd, d);
      }
    }
  }
  if (r == FE_RECLOCK)  // the record is delivered; the error comes at the end
    note_lock(r);
  else if (r)
    ioier(r);
  zrfdc = got ? int(iob.fm_rlen) : 0;
}

// A READ by key (mode "R") on an indexed file whose current index is not
// the primary one runs in two passes, since such a key lies in the data:
// the first pass writes the items into the record area, where they form
// the key, and ioterm brings the dispatcher back to the statement; the
// second pass reads.
static void file_read() {
  io.out = 0;
  if (!select_record()) return;
  const oftentry *e = fm_sel.entry;
  if (iob.fm_mode == 'R' && e->pftype == 'I' && e->pknum != e->pkprim && !zrerf) {
    io.out = 1;
    zrfdc = int(io.cap);
    zpreg_IOI = io.stmt;
    return;
  }
  read_record(io.cap);
}

// The second pass of a two-pass READ: the statement's options stay as the
// first pass left them.
static void resume_read(int count) {
  for (int i = 0; i < count; i++) zfetch();
  zpreg_IOI = 0;
  zrfsp = given(18) ? io.fmt.p : nullptr;
  zrfsc = given(18) ? io.fmt_len : 0;
  io.out = 0;
  set_cursor(iob.fm_data);
  read_record(io.keydata);
}

static void file_write() {
  io.out = 1;
  if (!select_record()) return;
  zrfdc = int(io.cap);
}

// the printer's I/O error becomes the statement's
static void printer_error() {
  if (lp_ioerr) ioier(lp_ioerr);
  lp_ioerr = 0;
}

// the written bytes of FMT fields, to the printer
static int printer_byte(int ch) {
  item_to_lp(ch);
  return 0;
}

static void printer_open() {
  if (zrerf) return;
  if (zprlck) {
    ioier(FE_LOCKED);
    return;
  }
  zrrmp = given(5) ? iob.fm_flag : zrrpo;
  lp_openname = iob.fm_filename;
  zoppr();
  lp_openname = nullptr;
  printer_error();
}

static void printer_close() {
  if (zrerf) return;
  if (!zprlck) {
    ioier(FE_NOTOPEN);
    return;
  }
  zclpr();
}

// The operation of the statement, after its options.
static void dispatch(int op) {
  int16_t unit = iob.fm_lfn;
  switch (op) {
    case 0:  // READ
      if (unit == 255) {
        iocrp(perm("ABCDET"));
        terminal_input();
      } else {
        iocrp(perm("@A!BFGHIRTV"));
        file_read();
      }
      return;
    case 1:  // PRINT
      iocrp(perm("BCT"));
      terminal_output();
      return;
    case 2:  // INPUT
      iocrp(perm("BCDET"));
      terminal_input();
      return;
    case 3:  // WRITE
      if (unit == 255) {
        iocrp(perm("ABCT"));
        terminal_output();
      } else if (unit == 0) {
        iocrp(perm("@A!BCRT"));
        io.dest = TO_PRINTER;
        io.out = 1;
        set_cursor(iobuf + 1);
        zrfout = printer_byte;
        if (!zprlck) ioier(FE_NOTOPEN);
      } else {
        iocrp(perm("@A!BFGHIRTV"));
        file_write();
      }
      return;
    case FMOP_DELETE:
    case FMOP_UNLOCK:
    case FMOP_DATE:
      iocrp(perm("A!B?"));
      run_fm(op);
      return;
    case FMOP_BEGIN:
      iocrp(perm("A!B?"));
      if (io.bad_unit) ioier(FE_VALUE);
      run_fm(op);
      return;
    case FMOP_REWIND:
      iocrp(perm("A!BIOUV?"));
      iocrp2();
      run_fm(op);
      return;
    case FMOP_CREATE:
      iocrp(iob.fm_org == 'I' ? perm("ABJKL!MN!O!PQ!?") : perm("BJL!MN!PQ?"));
      if (iob.fm_flag > 1) ioier(FE_CONFLICT);
      run_fm(op);
      return;
    case FMOP_OPEN:
      if (unit == 0) {
        iocrp(perm("A!BEL"));
        printer_open();
      } else {
        iocrp(iob.fm_org == 'I' ? perm("A!BEJKL!Q!?") : perm("A!BEJL!NQ"));
        run_fm(op);
      }
      return;
    case FMOP_CLOSE:
      if (unit == 0) {
        iocrp(perm("A!B"));
        printer_close();
      } else {
        iocrp(perm("A!BE"));
        run_fm(op);
      }
      return;
    case FMOP_RENAME:
      iocrp(perm("A!BL!?"));
      run_fm(op);
      return;
    case FMOP_ADDINDEX: {  // the key number variable receives the new index's number
      iocrp(perm("A!BEO!U!V?"));
      if (iob.fm_flag > 1) ioier(FE_CONFLICT);
      if (run_fm(op) == 0 && io.knum_var) rnv(io.knum_var, iob.fm_knum);
      return;
    }
    case FMOP_DELINDEX:
      iocrp(perm("A!BOUV?"));
      iocrp2();
      run_fm(op);
      return;
    case FMOP_COMMIT:
    case FMOP_ROLLBACK:
      iocrp(perm("B"));
      run_fm(op);
      return;
    default:
      zraise(ERR_BADCODE);
  }
}

void ioinit() {
  uint32_t stmt = zp.preg - 1 - zm.zrbas;
  bool resuming = io.active && zpreg_IOI != 0 && zpreg_IOI == stmt;
  if (io.active && !resuming) zraise(ERR_IOBUSY);
  int op = int(zfetch());
  int count = int(zfetch());
  if (resuming) {
    resume_read(count);
    return;
  }
  if (op == 14 || op > FMOP_ROLLBACK) zraise(ERR_BADCODE);
  reset_statement(op);
  io.active = true;
  io.op = op;
  io.stmt = stmt;
  read_options(op, count);
  dispatch(op);
}

// --- phase 2: the items -----------------------------------------------------

void ftpnd(int ch) {
  switch (io.dest) {
    case TO_TERMINAL:
      zoutc(ch);
      return;
    case TO_PRINTER:
      item_to_lp(ch);
      return;
    default:
      if (zrfdc <= 0 || !zrfdp) {
        ioier(FE_DATA);
        return;
      }
      *zrfdp++ = char(ch);
      zrfdc--;
  }
}

// writes n bytes of item output to the statement's unit
static void put_bytes(const uint8_t *p, uint32_t n) {
  if (io.dest == TO_TERMINAL) {
    zoutnc(reinterpret_cast<const char *>(p), int(n));
  } else if (io.dest == TO_FILE) {
    uint32_t room = zrfdc > 0 ? uint32_t(zrfdc) : 0, take = n < room ? n : room;
    std::memcpy(zrfdp, p, take);
    zrfdp += take;
    zrfdc -= int(take);
    if (take < n) ioier(FE_DATA);
  } else {
    for (uint32_t i = 0; i < n; i++) ftpnd(p[i]);
  }
}

// An item or an end outside a statement is malformed p-code.
static void need_statement() {
  if (!io.active) zraise(ERR_BADCODE);
}

void zionbr() {
  need_statement();
  if (zrerf || !zrfdp) {
    zpop_value();
    return;
  }
  if (io.out) {
    bcd_num x;
    zpop_num(&x);
    if (zrfsp) {
      if (int r = fmtnout(&x)) ioier(r);
      return;
    }
    char text[ZFNS_MAX + 1];
    text[0] = ' ';
    fsns = text + 1;
    int n = zfns(&x);
    put_bytes(reinterpret_cast<const uint8_t *>(text), uint32_t(n + 1));
    return;
  }
  uint32_t desc = pda();
  zdesc d = zdesc_get(desc);
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  if (zrfsp) {
    if (int r = fmtnin()) ioier(r);
  } else {
    fsns = zrfdp;
    fsnl = unsigned(zrfdc > 0 ? zrfdc : 0);
    if (zfsn()) {
      ioier(FE_DATA);
      return;
    }
    zrfdp = fsns;
    zrfdc = int(fsnl);
  }
  if (!zrerf) std::memcpy(zat(d.addr, 8), &fsnp, 8);
}

void ziostr() {
  need_statement();
  if (zrerf || !zrfdp) {
    zpop_value();
    return;
  }
  if (io.out) {
    uint32_t len, data;
    if (!(zpopst(&len, &data) & DSC_STR)) zraise(ERR_ARGS);
    const uint8_t *p = zat(data, len);
    if (!zrfsp)
      put_bytes(p, len);
    else if (int r = fmtsout(reinterpret_cast<const char *>(p), len))
      ioier(r);
    return;
  }
  uint32_t desc = pda();
  zdesc d = zdesc_get(desc);
  if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
  uint8_t *dst = zat(d.addr, d.dim1);
  if (zrfsp) {
    if (int r = fmtsin(desc, d.addr, d.dim1)) ioier(r);
    return;
  }
  uint32_t left = zrfdc > 0 ? uint32_t(zrfdc) : 0, take = d.dim1 < left ? d.dim1 : left;
  std::memcpy(dst, zrfdp, take);
  zrfdp += take;
  zrfdc -= int(take);
  if (d.type & DSC_PAD) {
    std::memset(dst + take, ' ', d.dim1 - take);
  } else {
    d.dim2 = take;
    zdesc_put(desc, d);
  }
}

// --- phase 3 ----------------------------------------------------------------

// The end of output: line ends, or the record written.
static void iofdb() {
  static const char CRLF[2] = {'\r', '\n'};
  switch (io.dest) {
    case TO_TERMINAL:
      for (int i = 0; i < zrcar; i++) zoutnc(CRLF, 2);
      return;
    case TO_PRINTER:
      for (int i = 0; i < zrcar; i++) {
        char_to_lp('\r');
        char_to_lp('\n');
      }
      lpflush(0);
      printer_error();
      return;
    case TO_FILE:
      iob.fm_rlen = io.cap - size_t(zrfdc > 0 ? zrfdc : 0);
      run_fm(FMOP_WRITE);
      return;
    default:
      return;
  }
}

void ioterm() {
  need_statement();
  if (io.dest == TO_TERMINAL) zflush(0);
  if (!zrerf && zpreg_IOI) {  // the first pass of a two-pass READ
    io.keydata = io.cap - size_t(zrfdc > 0 ? zrfdc : 0);
    zp.preg = zm.zrbas + zpreg_IOI;
    return;
  }
  if (!zrerf && (io.out || io.dest == TO_TERMINAL)) iofdb();
  int err = zrerf ? zrerf : zrerf_lock;
  zrerf = err;
  io_abandon();
  if (!err) return;
  erraddr = io.stmt;
  if (err == FE_EOF && given(0))
    zp.preg = zm.zrbas + io.reof;
  else if (given(2))
    zp.preg = zm.zrbas + io.rerl;
  else
    zraise(err);
}
