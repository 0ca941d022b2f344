// zreport.cpp: the error path.  Owns erraddr, err_msg_last and fOnerror.
//
// A raised error goes to the routine's handler when one is armed (bit
// RC2_ARMED of zrcod2) and the error is not 102: the handler is disarmed
// while it runs, the number is kept in the routine header, and the stack
// is unwound to the nearest control frame.  Otherwise the saved calling
// programs are forgotten, all I/O ends, and the report is composed:
//   "ERROR n" [" (file)"] " AT %06X IN " program
// It is appended with a line of details and the call hierarchy to the log
// named by LOGFILE, kept for the program (ERRMSG), and either the program
// named by VXONERROR is started (once) or the report is shown.
#include "run/interp/zreport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "isam/isam.h"
#include "run/base/image.h"
#include "run/base/zsmsg.h"
#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/interp/zhooks.h"
#include "run/loader/debuginfo.h"
#include "run/loader/names.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"

uint32_t erraddr;
char err_msg_last[ERRMSG_LEN];
int fOnerror;

constexpr int MSG_MAX = ERRMSG_LEN - 1;  // characters of a report

// appends text to msg, cutting it with "..." and its end when the whole
// would pass max characters
static void append_cut(std::string &msg, const std::string &text, size_t max) {
  if (msg.size() + text.size() <= max) {
    msg += text;
    return;
  }
  size_t room = max > msg.size() + 3 ? max - msg.size() - 3 : 0;
  msg += "...";
  msg += text.substr(text.size() - room);
}

static bool trap(int stepping) {
  if (zerrn == ERR_BADCODE || !(zrcod2 & RC2_ARMED)) return false;
  uint32_t a = uint32_t(zw.adr_len), hdr = zm.zrbas + zp.rcod;
  zrcod2 = (zrcod2 & ~(RC2_ARMED | RC2_RUNNING)) | RC2_RUNNING;
  zput1(hdr + 6 * a, uint32_t(zerrn));
  erraddr = zp.preg - zm.zrbas;
  zp.preg = zm.zrbas + zgeta(hdr + 5 * a);
  zstk_unwind();
  if (stepping != 2) expr_stack = zp.stkp;
  return true;
}

static std::string log_suffix() {
  const char *logname = vx_getenv("LOGNAME");
  char text[200];
  std::snprintf(text, sizeof text, " T=%d, LOGNAME=%s, errno=%d, iserrno=%d, time=", zrteq,
                logname ? logname : "", errno, iserrno);
  time_t now = time(nullptr);
  struct tm tmv;
  char when[80] = "000000000000";
  if (localtime_r(&now, &tmv))  // MMDDYYhhmmss: the log's date has two year digits
    std::snprintf(when, sizeof when, "%02d%02d%02d%02d%02d%02d", tmv.tm_mon + 1, tmv.tm_mday,
                  tmv.tm_year % 100, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  return std::string(text) + when + "\n";
}

// appends the line and the call hierarchy to the log file; false when it
// cannot be opened
static bool write_log(const std::string &line) {
  mode_t old = umask(0);
  int fd;
  do fd = open(log_name, O_WRONLY | O_CREAT | O_APPEND, 0666);
  while (fd < 0 && errno == EINTR);
  umask(old);
  if (fd < 0) return false;
  bool ok = write(fd, line.data(), line.size()) == ssize_t(line.size());
  zh_hierarchy(fd);
  (void)!write(fd, "\n", 1);
  close(fd);
  return ok;
}

// the error program: true when it was loaded and runs now
static bool start_error_program() {
  if (fOnerror || !vx_onerror || !*vx_onerror) return false;
  zl.pcodeVersion = PCODE_NONE;
  int len = int(std::strlen(vx_onerror));
  if (zload(vx_onerror, fmqxu(vx_onerror) ? 1 : 0, len, 0) != ZL_OK) return false;
  fOnerror = 1;
  expr_stack = zp.stkp;
  return true;
}

// Report steps common to errors and stops.  Returns -1 when the error
// program runs, else the result of execute.
static int report(std::string msg, bool is_error) {
  char at[32];
  std::snprintf(at, sizeof at, " AT %06X IN ", unsigned(zp.preg - zm.zrbas) & 0xFFFFFFu);
  msg += at;
  append_cut(msg, std::string(zp.chnm1, strnlen(zp.chnm1, sizeof zp.chnm1)), MSG_MAX);
  std::string kept = msg;
  if (is_error && log_name && *log_name) {
    std::string suffix = log_suffix();
    if (!write_log(msg + suffix)) {
      zsmsg(("\n\rCANNOT ACCESS \"" + std::string(log_name) + "\"\r\n").c_str());
    }
    kept += suffix;
  }
  if (is_error) std::snprintf(err_msg_last, sizeof err_msg_last, "%s", kept.c_str());
  if (is_error && start_error_program()) return -1;
  zh_screen_control("\x1b\x14", 3);
  zsmsg("\r\n");
  zsmsg(msg.c_str());
  zh_screen_control("\x1b\x1e", 2);
  zh_flush(1);
  return zerrn ? zerrn : 256;
}

int zerror_recover(int number, int stepping) {
  zerrn = number & 255;
  spsssw = 0;
  zh_io_abandon();
  if (trap(stepping)) return -1;
  zinfo_save();
  zh_screen_cleanup();
  zcleanup();
  zh_close_all();
  std::string msg = "ERROR " + std::to_string(zerrn);
  if (errfile[0]) {
    msg += " (";
    std::string name = errfile;
    size_t room = 129 - msg.size();
    msg += name.size() > room ? "..." + name.substr(name.size() - room) : name;
    msg += ")";
  }
  return report(msg, true);
}

int zbkp_report() {
  zrpl = 1;
  return report("BKP HIT", false);
}
