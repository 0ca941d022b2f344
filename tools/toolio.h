// toolio.h: whole-file reading and writing for the tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the file; false with a message in *err.
bool tio_read_file(const std::string &path, std::string *data, std::string *err);
// Writes the file (created with mode 0644, replaced when it exists).
bool tio_write_file(const std::string &path, const std::vector<uint8_t> &data, std::string *err);
