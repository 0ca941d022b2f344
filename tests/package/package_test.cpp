// The installation as an administrator meets it: cmake --install to a
// prefix, and the Debian package built by cpack, installed into a scratch
// root with dpkg (its own database there), used from the installed paths
// (run, pasm, the defaults file, the manual pages, the demo), removed and
// purged without leaving anything behind.  Without dpkg the package is
// left untried.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/pty/pty.h"

namespace {

// runs a shell command; its exit status and its output (stdout and stderr)
int sh(const std::string &cmd, std::string *out = nullptr) {
  std::string text;
  FILE *p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int st = pclose(p);
  if (out) *out = text;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000;
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

struct scratch {
  std::string dir;
  scratch() {
    char tmpl[] = "/tmp/quillon-pkg-XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
  }
  ~scratch() {
    if (!dir.empty()) sh("rm -rf " + dir);
  }
};

int exit_code(pty_session &s) {
  int st = 0;
  if (!s.wait_exit(15000, &st)) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
}

// A program, assembled by the installed pasm, that prints the settings M
// and LP1 as run found them: from the installed defaults file.
const char *SHOW = R"(.main SHOW
  io    print
  spush "M="
  iostr
  spush "M"
  call  33, 1
  iostr
  spush " LP1="
  iostr
  spush "LP1"
  call  33, 1
  iostr
  ioend
  stop
)";

// Runs PREFIX/bin/run on the example arith and on a program of pasm in a
// terminal, with the defaults file given; checks what they print.
void use_installation(const std::string &prefix, const std::string &defaults,
                      const std::string &work) {
  {
    pty_session s;
    pty_options o;
    o.argv = {prefix + "/bin/run", "P=./arith", "VXEXIT=1"};
    o.env = base_env({"VXDEFAULT=" + defaults});
    o.cwd = prefix + "/share/quillon/examples";
    ASSERT_TRUE(s.start(o));
    EXPECT_TRUE(s.wait_for("Quil", 10000)) << s.output();
    EXPECT_NE(s.output().find("Total: 59.5"), std::string::npos) << s.output();
    EXPECT_EQ(exit_code(s), 0);
  }
  std::ofstream(work + "/show.pasm") << SHOW;
  ASSERT_EQ(sh(prefix + "/bin/pasm -o " + work + "/show " + work + "/show.pasm"), 0);
  pty_session s;
  pty_options o;
  o.argv = {prefix + "/bin/run", "P=./show", "VXEXIT=1"};
  o.env = base_env({"VXDEFAULT=" + defaults});
  o.cwd = work;
  ASSERT_TRUE(s.start(o));
  EXPECT_TRUE(s.wait_for("M=200 LP1=", 10000)) << s.output();
  EXPECT_EQ(exit_code(s), 0);
}

// true when the shell finds every one of these commands
bool have(const std::string &commands) {
  return sh("for c in " + commands + "; do command -v $c || exit 1; done") == 0;
}

// The demo, started by PREFIX/bin/quillon-demo with the programs and the
// defaults file installed beside it: its menu on the first start (the
// sample data made in a data folder of its own), ended with F10.
void use_demo(const std::string &prefix, const std::string &work) {
  pty_session s;
  pty_options o;
  o.argv = {prefix + "/bin/quillon-demo", "-d", work + "/demo-data"};
  o.env = base_env({"HOME=" + work});
  o.cwd = work;
  ASSERT_TRUE(s.start(o));
  EXPECT_TRUE(s.wait_screen("Choose a part of the application", 10000)) << s.transcript();
  EXPECT_TRUE(exists(work + "/demo-data/cust.dat"));
  s.type("\x1b[21~");  // F10
  EXPECT_EQ(exit_code(s), 0) << s.transcript();
}

// The manual pages of a man directory format without a warning.
void manual_pages(const std::string &man) {
  if (!have("groff gzip")) return;  // nothing to format them with
  for (const char *page : {"man1/run.1", "man1/tovelta.1", "man1/idxaudit.1", "man1/pasm.1",
                           "man1/pdis.1", "man5/quillon.5"}) {
    std::string out;
    EXPECT_EQ(sh("gzip -dc " + man + "/" + page + ".gz | groff -man -ww -z", &out), 0) << page;
    EXPECT_EQ(out, "") << page;
  }
}

TEST(install, to_a_prefix_with_the_sample_defaults_file_under_it) {
  scratch t;
  ASSERT_FALSE(t.dir.empty());
  std::string prefix = t.dir + "/opt";
  std::string out;
  ASSERT_EQ(
      sh(std::string(QUILLON_CMAKE) + " --install " + build_dir() + " --prefix " + prefix, &out), 0)
      << out;
  for (const char *f :
       {"bin/run", "bin/tovelta", "bin/idxaudit", "bin/pasm", "bin/pdis", "bin/quillon-demo",
        "etc/default/quillon", "share/quillon/examples/arith.pasm",
        "share/quillon/demo/demo.defaults", "share/doc/quillon/configuration.md"})
    EXPECT_TRUE(exists(prefix + "/" + f)) << f;
  manual_pages(prefix + "/share/man");
  use_installation(prefix, prefix + "/etc/default/quillon", t.dir);
  use_demo(prefix, t.dir);
}

TEST(package, installs_into_a_root_runs_from_there_and_is_removed_cleanly) {
  if (!have("dpkg dpkg-deb")) GTEST_SKIP() << "dpkg and dpkg-deb are not installed";
  scratch t;
  ASSERT_FALSE(t.dir.empty());
  std::string out;
  ASSERT_EQ(sh("cd " + build_dir() + " && " + QUILLON_CPACK + " -G DEB -B " + t.dir + "/pkg", &out),
            0)
      << out;
  std::string deb;
  ASSERT_EQ(sh("ls " + t.dir + "/pkg/quillon_*.deb", &deb), 0) << deb;
  deb.erase(deb.find_last_not_of('\n') + 1);
  std::string info;
  ASSERT_EQ(sh("dpkg-deb -I " + deb, &info), 0);
  EXPECT_NE(info.find("Package: quillon"), std::string::npos) << info;
  EXPECT_NE(info.find("libtinfo6"), std::string::npos) << info;
  ASSERT_EQ(sh("dpkg-deb --ctrl-tarfile " + deb + " | tar -xOf - ./conffiles", &out), 0);
  EXPECT_EQ(out, "/etc/default/quillon\n");

  // a root of its own, with an empty package database; the libraries it
  // depends on are the machine's, which that database does not know
  std::string root = t.dir + "/root";
  ASSERT_EQ(sh("mkdir -p " + root + "/var/lib/dpkg/info " + root +
               "/var/lib/dpkg/updates && touch " + root + "/var/lib/dpkg/status"),
            0);
  std::string dpkg = "dpkg --root=" + root + " --force-not-root --force-depends --log=/dev/null ";
  ASSERT_EQ(sh(dpkg + "-i " + deb, &out), 0) << out;
  for (const char *f : {"usr/bin/run", "usr/bin/quillon-demo", "etc/default/quillon",
                        "usr/share/quillon/demo/programs/menu", "usr/share/man/man5/quillon.5.gz"})
    EXPECT_TRUE(exists(root + "/" + f)) << f;
  manual_pages(root + "/usr/share/man");
  use_installation(root + "/usr", root + "/etc/default/quillon", t.dir);
  use_demo(root + "/usr", t.dir);

  // removed: only the defaults file stays, as the administrator's; purged:
  // nothing at all
  ASSERT_EQ(sh(dpkg + "-r quillon", &out), 0) << out;
  ASSERT_EQ(sh("cd " + root + " && find . -not -path './var*' | sort", &out), 0);
  EXPECT_EQ(out, ".\n./etc\n./etc/default\n./etc/default/quillon\n");
  ASSERT_EQ(sh(dpkg + "-P quillon", &out), 0) << out;
  ASSERT_EQ(sh("cd " + root + " && find . -not -path './var*' | sort", &out), 0);
  EXPECT_EQ(out, ".\n");
}

}  // namespace
