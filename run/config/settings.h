// settings.h: the known settings of run, read from the defaults file, the
// environment and the command line.  Chief header of run/config.
//
// Two tables describe them, searched in this order: strvar_table (string
// settings) and numvar_table (number settings).  Each row names the
// variable, where its value goes, its default, and whether a change of the
// environment by the running program re-applies it (var_putenv).
#pragma once

#include <cstdint>

struct strvarlist {
  const char *var_name;  // the variable's name; null ends the table
  const char **var_ptr;  // the string variable it sets
  const char *var_def;   // default value, or null
  int16_t var_putenv;    // re-applied when the program changes the environment
};

struct numvarlist {
  const char *var_name;  // the variable's name; null ends the table
  int *var_ptr;          // the int variable it sets
  int16_t var_def;       // default value
  int16_t var_putenv;    // re-applied when the program changes the environment
};

extern strvarlist strvar_table[];
extern numvarlist numvar_table[];

// String settings (null when unset and without default).
extern const char *arrow_list;   // ARROWS
extern const char *cf_list;      // CF
extern const char *conc_wanted;  // CONCURRENT
extern const char *conc_key;     // CONC_KEY
extern const char *conc_run;     // CONC_RUN
extern const char *ztc_cs80;     // CS80: terminal string entry 42
extern const char *ztc_cs132;    // CS132: terminal string entry 43
extern const char *graph_chars;  // GRAPH_CHARS
extern const char *line_draw1;   // LINE_DRAW1
extern const char *line_draw2;   // LINE_DRAW2
extern const char *log_name;     // LOGFILE
extern const char *lpopt;        // LPOPT
extern const char *lpst;         // LPST
extern const char *more_name;    // MORENAME
extern const char *progname;     // P
extern const char *vx_break;     // VXBREAK
extern const char *ctypefile;    // VXCTYPE
extern const char *sc_dumpfile;  // VXSCDUMP
extern const char *vx_decpt;     // VXDECPT
extern const char *vx_esc;       // VXESC
extern const char *language;     // VXLANG
extern const char *mapfile;      // VXMAP
extern const char *vx_onerror;   // VXONERROR
extern const char *vxtxlog;      // VXTXLOG
extern const char *spool_name;   // SPOOLNAME
extern const char *wiz_name;     // W
extern const char *rchain_unit;  // RCHAINUNIT

// Number settings.
extern int zrceq;        // C: common area in pages of 256 bytes
extern int ztcpdel;      // CSDELAY
extern int zrfeq;        // F: number of file units
extern int nis_dupsiz;   // ISDUPSIZ
extern int zrmeq;        // M: program area in pages of 256 bytes
extern int nonstop;      // NONSTOP
extern int noshell;      // NOSHELL
extern int nostart;      // NOSTART
extern int ztcphs;       // PRT_HS
extern int zrrpo;        // R: default printer routing, 0 to 8
extern int vx_8bit;      // VX8BIT
extern int vx_compat;    // VXCOMPAT
extern int vx_screen;    // VXSCREEN
extern int vx_exit;      // VXEXIT
extern int vx_fl;        // VXFL
extern int vx_rchain;    // VXRCHAIN
extern int lp_buffered;  // VXLPBUF
extern int lp_max;       // VXLPCNT
extern int lp_debug;     // VXLPDEBUG
extern int zcbsiz;       // VXWIZBUFLEN
extern int zrteq;        // T: terminal number
