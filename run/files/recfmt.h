// recfmt.h: TEMPORARY: the record formats (FMT option) belong to the
// formatting work in run/numeric; until they land, these stand-ins record
// the format error 63 for every FMT field.
#pragma once

#include <cstdint>

#include "run/numeric/bcd.h"

// Reads the next numeric field of the record into fsnp.
void fmtnin();
// Writes the number p as the next numeric field.
void fmtnout(const bcd_num *p);
// Reads the next string field into the string variable of descriptor desc
// (data dst, capacity cap).
void fmtsin(uint32_t desc, uint8_t *dst, uint32_t cap);
// Writes the len bytes at p as the next string field.
void fmtsout(const uint8_t *p, uint32_t len);
