// pcode.cpp: program file framing, decimal literals, operand numbers and
// I/O names shared by pasm and pdis.
#include "tools/pcode.h"

#include <cstdio>
#include <cstring>

static constexpr size_t PT_IMAGE_MAX = 16u << 20;  // largest program area

uint8_t pt_checksum(const std::vector<uint8_t> &rec) {
  // the checksum byte is rec[2]; the sum runs over N and the N bytes
  unsigned s = 0;
  for (size_t i = 0; i < rec.size(); i++)
    if (i != 2) s += rec[i];
  for (uint8_t c = 0;; c++) {
    unsigned t = s + c;
    t = (t & 255) + (t >> 8);
    t = (t & 255) + (t >> 8);
    if (t == 255 || c == 255) return c;
  }
}

static void place(pt_file &f, uint32_t off, const uint8_t *p, size_t n) {
  if (off + n > PT_IMAGE_MAX) {
    f.error = "record beyond 16 MB";
    return;
  }
  if (f.image.size() < off + n) {
    f.image.resize(off + n);
    f.defined.resize(off + n);
  }
  std::memcpy(f.image.data() + off, p, n);
  std::memset(f.defined.data() + off, 1, n);
}

pt_file pt_read_file(const std::vector<uint8_t> &file) {
  pt_file f;
  size_t pos = 0;
  while (f.error.empty()) {
    if (pos >= file.size()) {
      f.error = "file ends without the closing record";
      break;
    }
    size_t n = file[pos];
    if (n <= 3 || pos + 1 + n > file.size()) {
      f.error = "bad or truncated record";
      break;
    }
    pt_record r{uint32_t(pos), {file.begin() + long(pos), file.begin() + long(pos + 1 + n)}};
    const uint8_t *b = r.bytes.data();
    if (f.version == 0) f.version = b[1];
    size_t hdr = f.version == PT_V24 ? 5 : 4;
    if ((b[1] != PT_V16 && b[1] != PT_V24) || b[1] != f.version || n < hdr) {
      f.error = "bad p-code version or count";
      break;
    }
    f.records.push_back(r);
    pos += 1 + n;
    if (n >= size_t(PT_MARKER_N) && b[3] == 0 && b[4] == 0 && b[5] == 6) {
      f.has_marker = true;
      std::memcpy(f.marker, b + 6, 10);
      continue;
    }
    if (n == hdr) {
      f.tail_pos = uint32_t(pos);
      f.tail.assign(file.begin() + long(pos), file.end());
      return f;
    }
    uint32_t off = b[3] | uint32_t(b[4]) << 8 | (hdr == 5 ? uint32_t(b[5]) << 16 : 0);
    place(f, off, b + 1 + hdr, n - hdr);
  }
  return f;
}

bool pt_parse_number(const std::string &text, uint8_t out[8]) {
  std::memset(out, 0, 8);
  size_t i = 0;
  bool neg = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
  std::string digits;
  long point = -1, e10 = 0;
  for (; i < text.size(); i++) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c == '.' && point < 0) {
      point = long(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    char *end;
    e10 = std::strtol(text.c_str() + i + 1, &end, 10);
    if (end == text.c_str() + i + 1) return false;
    i = size_t(end - text.c_str());
  }
  if (i != text.size()) return false;
  if (point < 0) point = long(digits.size());
  size_t lead = 0;
  while (lead < digits.size() && digits[lead] == '0') lead++;
  if (lead == digits.size()) return true;  // zero: eight zero bytes
  digits = digits.substr(lead);
  point -= long(lead);
  while (digits.back() == '0') digits.pop_back();
  long e = point + e10;
  if (digits.size() > 14 || e < -64 || e > 63) return false;
  for (size_t k = 0; k < digits.size(); k++)
    out[k / 2] |= uint8_t((digits[k] - '0') << (k % 2 ? 0 : 4));
  out[7] = uint8_t((e + 64) | (neg ? 0x80 : 0));
  return true;
}

std::string pt_format_number(const uint8_t num[8]) {
  std::string d;
  for (int k = 0; k < 14; k++) d += char('0' + ((num[k / 2] >> (k % 2 ? 0 : 4)) & 15));
  while (!d.empty() && d.back() == '0') d.pop_back();
  if (d.empty()) return "0";
  long e = long(num[7] & 0x7F) - 64;
  std::string s = num[7] & 0x80 ? "-" : "";
  if (e >= long(d.size()) && e <= 14) return s + d + std::string(size_t(e) - d.size(), '0');
  if (e > 0 && e < long(d.size())) return s + d.substr(0, size_t(e)) + "." + d.substr(size_t(e));
  if (e <= 0 && e >= -5) return s + "0." + std::string(size_t(-e), '0') + d;
  return s + "0." + d + "e" + std::to_string(e);
}

std::vector<uint8_t> pt_inline_number(const uint8_t num[8]) {
  int n = 7;
  while (n > 0 && num[n - 1] == 0) n--;
  if (n == 0 && num[7] == 0) return {0};
  std::vector<uint8_t> v{uint8_t(n + 1)};
  v.insert(v.end(), num, num + n);
  v.push_back(num[7]);
  return v;
}

std::vector<uint8_t> pt_data_number(const uint8_t num[8]) {
  static const uint8_t zero[8] = {};
  uint8_t b;
  int val;
  if (std::memcmp(num, zero, 8) == 0) return {0};
  if (!(num[7] & 0x80) && pt_packed_number(num, &b) && pt_packed_value(b, &val)) return {1, b};
  return pt_inline_number(num);
}

bool pt_packed_number(const uint8_t num[8], uint8_t *b) {
  for (int k = 1; k < 7; k++)
    if (num[k]) return false;
  if (num[0] == 0 && num[7] == 0) return *b = 0, true;
  if (num[7] == 0x41 && (num[0] & 15) == 0) return *b = uint8_t(num[0] >> 4), true;
  if (num[7] == 0x42) return *b = num[0], true;
  return false;
}

bool pt_packed_value(uint8_t b, int *value) {
  if (b <= 9) return *value = b, true;
  if (b < 16 || (b & 15) > 9 || (b >> 4) > 9) return false;
  return *value = (b >> 4) * 10 + (b & 15), true;
}

long pt_operand_max(bool wide) {
  return wide ? 509 + 65535 : 509;
}

std::vector<uint8_t> pt_operand_bytes(long index, bool wide) {
  if (index < 0) return {0};
  if (!wide) {
    if (index <= 253) return {uint8_t(index + 2)};
    return {1, uint8_t(index - 254)};
  }
  if (index <= 252) return {uint8_t(index + 3)};
  if (index <= 508) return {1, uint8_t(index - 253)};
  long v = index - 509;
  return {2, uint8_t(v >> 8), uint8_t(v)};
}

int pt_operand_decode(const uint8_t *p, size_t avail, bool wide, long *index) {
  if (avail < 1) return 0;
  uint8_t v = p[0];
  if (v == 0) return *index = -1, 1;
  if (!wide) {
    if (v >= 2) return *index = v - 2, 1;
    if (avail < 2) return 0;
    return *index = p[1] + 254, 2;
  }
  if (v >= 3) return *index = v - 3, 1;
  if (v == 1) {
    if (avail < 2) return 0;
    return *index = p[1] + 253, 2;
  }
  if (avail < 3) return 0;
  return *index = long(p[1]) * 256 + p[2] + 509, 3;
}

static const char *const io_names[18] = {
    "read",  "print", "input",  "write",    "delete",   "unlock", "rewind", "allocate", "open",
    "close", "date",  "rename", "addindex", "delindex", nullptr,  "begin",  "commit",   "rollback"};

const char *pt_io_op_name(int op) {
  return op >= 0 && op < 18 ? io_names[op] : nullptr;
}

int pt_io_op_number(const std::string &name) {
  for (int i = 0; i < 18; i++)
    if (io_names[i] && name == io_names[i]) return i;
  return -1;
}

std::string pt_quote(const uint8_t *p, size_t n) {
  std::string s = "\"";
  for (size_t i = 0; i < n; i++) {
    uint8_t c = p[i];
    if (c == '"' || c == '\\') {
      s += '\\';
      s += char(c);
    } else if (c >= 32 && c < 127) {
      s += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      s += buf;
    }
  }
  return s + "\"";
}
