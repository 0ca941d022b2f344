// dis.h: the p-code disassembler: a program file in, a listing out that
// pasm assembles back into the same file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The listing of file: the placed form with instructions and names, or
// (raw, or when the placed form would not give the file back) one
// .rawrecord line per record.
std::string pdis_listing(const std::vector<uint8_t> &file, bool raw);
