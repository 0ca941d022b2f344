// files_fixture.cpp: the scratch directory and the request helpers of the
// file-layer tests.
#include "tests/files/files_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/files/iostmt.h"
#include "run/files/txlog.h"
#include "run/startup/startup.h"

extern char **environ;

void files_fixture::SetUp() {
  char tmpl[] = "/tmp/quillon-files-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir = tmpl;
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  cwd = here;
  ASSERT_EQ(chdir(dir.c_str()), 0);
  for (const char *d : {"unit1", "unit2", "alias3"}) ASSERT_EQ(mkdir(d, 0755), 0);
  env_text = {"VXDEFAULT=/nonexistent", "F=8", "unit3=" + dir + "/alias3"};
  env_ptrs.clear();
  for (auto &s : env_text) env_ptrs.push_back(s.data());
  env_ptrs.push_back(nullptr);
  env_reset_for_test(env_ptrs.data());
  char arg0[] = "run";
  char *args[] = {arg0, nullptr};
  run_hooks();
  ASSERT_EQ(env_init(1, args), 0);
  ASSERT_EQ(oftable_len, 8);
  fsys_reset();
  fl_reset_for_test();
  vx_txflag = 0;
  vx_compat = 0;
  fm_sel = {};
}

void files_fixture::TearDown() {
  fsys_reset();
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CLOSEALL;
  fm(&cb);
  io_abandon();
  vx_txflag = 0;
  env_reset_for_test(environ);
  EXPECT_EQ(chdir(cwd.c_str()), 0);
  std::string cmd = "chmod -R u+rwx " + dir + " && rm -rf " + dir;
  EXPECT_EQ(system(cmd.c_str()), 0);
}

std::string files_fixture::contents(const std::string &name) const {
  std::ifstream f(at(name), std::ios::binary);
  if (!f) return "<missing>";
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void files_fixture::put(const std::string &name, const std::string &bytes) const {
  std::ofstream f(at(name), std::ios::binary | std::ios::trunc);
  f << bytes;
}

long files_fixture::size_of(const std::string &name) const {
  struct stat st;
  return ::stat(at(name).c_str(), &st) == 0 ? long(st.st_size) : -1;
}

static int request(fm_callblock &cb) {
  return fm(&cb);
}

int files_fixture::create(const std::string &name, char org, size_t rlen, int64_t rnum, int unit) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CREATE;
  cb.fm_filename = strdup(name.c_str());
  cb.fm_unit = int16_t(unit);
  cb.fm_org = org;
  cb.fm_rlen = rlen;
  cb.fm_rnum = rnum;
  int r = request(cb);
  std::free(cb.fm_filename);
  return r;
}

int files_fixture::open(int lfn, const std::string &name, char org, int opt, int unit,
                        size_t rlen) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_OPEN;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_filename = strdup(name.c_str());
  cb.fm_unit = int16_t(unit);
  cb.fm_org = org;
  cb.fm_flag = int16_t(opt);
  cb.fm_rlen = rlen;
  int r = request(cb);
  std::free(cb.fm_filename);
  return r;
}

int files_fixture::simple(int opcode, int lfn) {
  fm_callblock cb = {};
  cb.fm_opcode = char(opcode);
  cb.fm_lfn = int16_t(lfn);
  return request(cb);
}

int files_fixture::close(int lfn, int opt) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_CLOSE;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_flag = int16_t(opt);
  return request(cb);
}

int files_fixture::select(int lfn) {
  return simple(FMOP_SELECT, lfn);
}

int files_fixture::write(int lfn, const std::string &data, char mode, int64_t rnum, int lock) {
  int r = select(lfn);
  if (r) return r;
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_WRITE;
  cb.fm_lfn = int16_t(lfn);
  std::memcpy(iobuf + 1, data.data(), data.size());
  cb.fm_data = iobuf + 1;
  cb.fm_rlen = data.size();
  cb.fm_mode = mode;
  cb.fm_rnum = rnum;
  cb.fm_lock = char(lock);
  return request(cb);
}

int files_fixture::read(int lfn, std::string *out, char mode, int64_t rnum, int lock) {
  int r = select(lfn);
  if (r) return r;
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_READ;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_data = iobuf + 1;
  cb.fm_rlen = FM_RECBUF;
  cb.fm_mode = mode;
  cb.fm_rnum = rnum;
  cb.fm_lock = char(lock);
  r = request(cb);
  if (out)
    *out = r == 0 || r == FE_RECLOCK ? std::string(reinterpret_cast<char *>(iobuf + 1), cb.fm_rlen)
                                     : "";
  return r;
}

int files_fixture::rename(int lfn, const std::string &to) {
  fm_callblock cb = {};
  cb.fm_opcode = FMOP_RENAME;
  cb.fm_lfn = int16_t(lfn);
  cb.fm_filename = strdup(to.c_str());
  int r = request(cb);
  std::free(cb.fm_filename);
  return r;
}

int in_child(const std::function<int()> &f) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(f());
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
