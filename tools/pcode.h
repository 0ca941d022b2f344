// pcode.h: what the assembler and the disassembler share: the program
// file records, decimal literals, operand numbers and the names of the
// I/O operations and options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int PT_V16 = 129;      // 16-bit p-code
constexpr int PT_V24 = 130;      // 24-bit p-code
constexpr int PT_MARKER_N = 15;  // count byte of the debug marker record

// One record as read from a file.
struct pt_record {
  uint32_t file_pos;           // offset of its count byte in the file
  std::vector<uint8_t> bytes;  // count byte and the N bytes after it
};

// A program file taken apart, without any checking beyond the framing.
struct pt_file {
  int version = 0;                 // from the first record
  std::vector<pt_record> records;  // in file order, the closing one too
  std::vector<uint8_t> image;      // program area as the records place it
  std::vector<uint8_t> defined;    // 1 where a record placed a byte
  bool has_marker = false;         // a debug marker record was seen
  uint8_t marker[10] = {};         // its debug header
  std::vector<uint8_t> tail;       // bytes after the closing record
  uint32_t tail_pos = 0;           // file offset of the tail
  std::string error;               // why the framing stopped, or empty
};

// Splits a file into records, places their payloads, keeps the tail.
pt_file pt_read_file(const std::vector<uint8_t> &file);

// The checksum byte that makes the record (count byte first) sum to 255.
uint8_t pt_checksum(const std::vector<uint8_t> &rec);

// Decimal literal text to the 8-byte number; false when not a number or
// more than 14 significant digits.
bool pt_parse_number(const std::string &text, uint8_t out[8]);
// The 8-byte number as decimal text.
std::string pt_format_number(const uint8_t num[8]);
// The inline encoding (count byte, digit bytes, exponent) of a number.
std::vector<uint8_t> pt_inline_number(const uint8_t num[8]);
// The encoding of a number as a DATA item (length byte first).
std::vector<uint8_t> pt_data_number(const uint8_t num[8]);
// The packed-byte encoding of a number; false when it has none.
bool pt_packed_number(const uint8_t num[8], uint8_t *b);
// The value of a packed byte, when it is a plain decimal; else false.
bool pt_packed_value(uint8_t b, int *value);

// Operand number bytes of descriptor index (-1 = none, the value on the
// stack) for the wide (flags bit 0) or narrow form.
std::vector<uint8_t> pt_operand_bytes(long index, bool wide);
// Decodes an operand number at p (at most avail bytes); returns its
// length (0 when it does not fit) and the index (-1 = none).
int pt_operand_decode(const uint8_t *p, size_t avail, bool wide, long *index);
// Largest descriptor index of the form.
long pt_operand_max(bool wide);

// I/O operation names (read, print, ...) by number; null when unnamed.
const char *pt_io_op_name(int op);
// Number of the named I/O operation, or -1.
int pt_io_op_number(const std::string &name);

// Text of a string literal with escapes, between double quotes.
std::string pt_quote(const uint8_t *p, size_t n);
