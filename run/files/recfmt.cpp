// recfmt.cpp: TEMPORARY stand-ins for the record formats (recfmt.h),
// replaced by the formatting work: every FMT field is a format error.
#include "run/files/recfmt.h"

#include "run/files/files.h"
#include "run/files/iostmt.h"

void fmtnin() {
  ioier(FE_FORMAT);
}
void fmtnout(const bcd_num *) {
  ioier(FE_FORMAT);
}
void fmtsin(uint32_t, uint8_t *, uint32_t) {
  ioier(FE_FORMAT);
}
void fmtsout(const uint8_t *, uint32_t) {
  ioier(FE_FORMAT);
}
