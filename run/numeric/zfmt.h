// zfmt.h: the record format language of the FMT option: fixed-width
// fields of a data record, one field per data item of a file statement.
//
// A format string is a list of fields separated by ",":
//   II...I       internal, w >= 2 bytes: the exponent byte, then as many of
//                the seven digit bytes as fit; zero bytes pad past 8
//   99.99        display: "-" (taking an integer position) for a negative
//                number, integer digits right-aligned with leading zeros,
//                the "." as a character, fraction digits
//   PP.PP        packed: one digit per nibble, high nibble first; nibble 15
//                (taking an integer position) for a negative number; the
//                "." takes no nibble; an odd count ends with a 0 nibble
//   XXX, X(n)    a string of that width, padded with spaces on output
//   X(*)         the whole string (output) or the rest of the record (input)
// A display or packed picture may start with "." (no integer position);
// all its positions use one letter.
//
// How a file statement uses it:
//   1. At the start of a statement with FMT, point zrfsp at the format
//      string and set zrfsc to its length; without FMT leave zrfsp null
//      and do not call the field routines.
//   2. For a READ, point zrfdp at the record's first byte and set zrfdc to
//      the bytes read.  For a WRITE, point zrfdp at the record buffer and
//      set zrfdc to its capacity; bytes go there unless zrfout is set (the
//      printer's writer, say), which then receives every byte.
//   3. For each item call fmtnin/fmtnout/fmtsin/fmtsout.  Each consumes
//      the next field and advances zrfdp/zrfdc; it returns 0 or the I/O
//      error to record (the statement keeps the first one and skips the
//      remaining items):
//        62 bad data: a character the field does not allow, a record that
//           ends inside the field, a full record buffer
//        63 bad format: a picture error, no field left, a field of the
//           wrong kind for the item, a number too large for its field or
//           without room for its sign
//   4. For a WRITE the record length is the capacity less zrfdc.
#pragma once

#include <cstdint>

#include "run/numeric/bcd.h"

constexpr int ERR_IODATA = 62;  // I/O error: the data does not fit the field
constexpr int ERR_IOFMT = 63;   // I/O error: bad format, or a number too large

extern const char *zrfsp;  // format string: the next field; null without FMT
extern unsigned zrfsc;     // characters left in the format string
extern char *zrfdp;        // record cursor: next byte to read or write
extern int zrfdc;          // bytes left in the record (read) or buffer (write)
// Receives the bytes of written fields instead of the record buffer when
// set; returns 0 or an I/O error number.
extern int (*zrfout)(int ch);

// Reads the next numeric field of the record into fsnp; 0, 62 or 63.
int fmtnin();
// Writes *p as the next numeric field; 0, 62 or 63.
int fmtnout(const bcd_num *p);
// Reads the next string field into the string variable whose descriptor is
// at desc (an image offset), whose characters go to the image offset dst,
// at most cap of them; a padded variable is filled with spaces, a
// variable-length one gets the count stored as its length.  0, 62 or 63.
int fmtsin(uint32_t desc, uint32_t dst, uint32_t cap);
// Writes the len characters at p as the next string field; 0, 62 or 63.
int fmtsout(const char *p, uint32_t len);
