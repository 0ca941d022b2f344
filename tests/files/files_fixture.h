// files_fixture.h: a scratch directory with unit directories and an alias,
// the file layer started over it, and short forms of its requests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "run/files/files.h"

struct files_fixture : ::testing::Test {
  std::string dir;  // the scratch directory, also the current directory
  std::string cwd;  // the directory before
  std::vector<std::string> env_text;
  std::vector<char *> env_ptrs;

  void SetUp() override;
  void TearDown() override;

  // path of name inside dir
  std::string at(const std::string &name) const { return dir + "/" + name; }
  // a file's bytes, or "<missing>"
  std::string contents(const std::string &name) const;
  void put(const std::string &name, const std::string &bytes) const;
  long size_of(const std::string &name) const;

  // requests (unit 1 unless given)
  int create(const std::string &name, char org, size_t rlen = 0, int64_t rnum = 0, int unit = 1);
  int open(int lfn, const std::string &name, char org, int opt, int unit = 1, size_t rlen = 0);
  int close(int lfn, int opt = 0);
  int select(int lfn);
  int write(int lfn, const std::string &data, char mode = 'S', int64_t rnum = 0, int lock = 1);
  int read(int lfn, std::string *out, char mode = 'S', int64_t rnum = 0, int lock = 1);
  int simple(int opcode, int lfn);
  int rename(int lfn, const std::string &to);
};

// runs f in a child process and returns its exit status (or -1 when it
// died of a signal); the child's failures are counted by its exit code
int in_child(const std::function<int()> &f);
