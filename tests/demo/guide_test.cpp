// The worked examples of the guides run as the guides say.  An example in a guide is
//
//   <!-- file NAME -->     optional, before an example: the fenced block
//   ```                    after it is written to the file NAME
//   ```
//   <!-- example NAME [SETTING=value ...] [monitor] -->
//   ```pasm            the program, assembled as NAME
//   ```
//   <!-- typed: keys -->   optional: keys typed once it shows something
//                          (\r return, \e escape, \t tab, \\ backslash)
//   ```text            the screen when run has ended: its rows up to the
//   ```                last one that shows something
//
// run starts on the program (P=./NAME and VXEXIT=1; with the word monitor
// P="lo ./NAME" instead, for the command monitor) with the settings in its
// environment, in a pseudo-terminal of 80 x 24 in a scratch folder, on
// TERM=xterm.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/pty/pty.h"
#include "tools/asm.h"

namespace {

struct guide_file {
  std::string name;  // the file's name in the scratch folder
  std::string text;  // its contents
};

struct guide_example {
  std::vector<guide_file> files;      // files written before it runs
  bool monitor = false;               // loaded under the command monitor
  std::string name;                   // the program's name
  std::vector<std::string> settings;  // NAME=value for run
  std::string source;                 // the program
  std::string typed;                  // keys to type
  std::string screen;                 // the screen expected
  int line = 0;                       // where it stands in the guide
};

std::string unescape(const std::string &t) {
  std::string out;
  for (size_t i = 0; i < t.size(); i++) {
    if (t[i] != '\\' || i + 1 == t.size()) {
      out += t[i];
      continue;
    }
    char c = t[++i];
    out += c == 'r' ? '\r' : c == 'e' ? '\x1b' : c == 't' ? '\t' : c;
  }
  return out;
}

// the fenced block that starts at line i (its fence line); i ends behind it
std::string fenced(const std::vector<std::string> &lines, size_t &i) {
  std::string text;
  for (i++; i < lines.size() && lines[i].rfind("```", 0) != 0; i++) text += lines[i] + "\n";
  i++;
  return text;
}

std::vector<guide_example> examples_of(const std::string &path) {
  std::ifstream f(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(f, l);) lines.push_back(l);
  std::vector<guide_example> out;
  std::vector<guide_file> files;
  const std::string mark = "<!-- example ", filemark = "<!-- file ";
  for (size_t i = 0; i < lines.size(); i++) {
    if (lines[i].rfind(filemark, 0) == 0 && i + 1 < lines.size()) {
      guide_file gf;
      std::istringstream(lines[i].substr(filemark.size())) >> gf.name;
      size_t j = i + 1;
      gf.text = fenced(lines, j);
      files.push_back(gf);
      i = j - 1;
      continue;
    }
    if (lines[i].rfind(mark, 0) != 0) continue;
    guide_example e;
    e.files.swap(files);
    e.line = int(i) + 1;
    std::istringstream words(lines[i].substr(mark.size()));
    words >> e.name;
    for (std::string w; words >> w && w != "-->";) {
      if (w == "monitor")
        e.monitor = true;
      else
        e.settings.push_back(w);
    }
    size_t j = i + 1;
    if (j >= lines.size() || lines[j] != "```pasm") continue;
    e.source = fenced(lines, j);
    for (; j < lines.size() && lines[j].empty(); j++) {
    }
    const std::string typed = "<!-- typed: ";
    if (j < lines.size() && lines[j].rfind(typed, 0) == 0) {
      std::string t = lines[j].substr(typed.size());
      e.typed = unescape(t.substr(0, t.rfind(" -->")));
      for (j++; j < lines.size() && lines[j].empty(); j++) {
      }
    }
    if (j < lines.size() && lines[j] == "```text") e.screen = fenced(lines, j);
    out.push_back(e);
    i = j - 1;
  }
  return out;
}

// runs one example; the screen it leaves, its rows up to the last with text
std::string run_example(const guide_example &e, const std::string &dir) {
  // the files first: an include file of the program is one of them
  for (const guide_file &f : e.files) std::ofstream(dir + "/" + f.name) << f.text;
  pasm_output asmout;
  EXPECT_TRUE(pasm_assemble(e.source, e.name, asmout, {dir})) << asmout.errors;
  std::ofstream(dir + "/" + e.name, std::ios::binary)
      .write(reinterpret_cast<const char *>(asmout.file.data()),
             std::streamsize(asmout.file.size()));
  pty_options o;
  o.argv = {build_dir() + "/bin/run"};
  std::vector<std::string> env = {"VXDTE=12082609300020261208093000"};
  if (e.monitor) {
    env.push_back("P=lo ./" + e.name);
  } else {
    env.push_back("P=./" + e.name);
    env.push_back("VXEXIT=1");
  }
  env.insert(env.end(), e.settings.begin(), e.settings.end());
  o.env = base_env(env);
  o.cwd = dir;
  pty_session s;
  if (!s.start(o)) return "<run did not start>";
  if (!e.typed.empty()) {
    s.drain(300);
    for (char c : e.typed) {
      s.type(std::string(1, c));
      s.drain(c == '\r' ? 120 : 10);
    }
  }
  int st = 0;
  if (!s.wait_exit(10000, &st)) return "<run did not end>\n" + s.output();
  std::vector<std::string> rows;
  for (int r = 0; r < 24; r++) rows.push_back(s.row(r));
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  std::string text;
  for (const std::string &r : rows) text += r + "\n";
  return text;
}

void check_guide(const std::string &file, size_t at_least) {
  std::string path = std::string(QUILLON_SOURCE_DIR) + "/docs/" + file;
  std::vector<guide_example> all = examples_of(path);
  EXPECT_GE(all.size(), at_least) << path;
  for (const guide_example &e : all) {
    char tmpl[] = "/tmp/quillon-guide-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    EXPECT_FALSE(e.screen.empty()) << file << ":" << e.line << ": no screen given";
    std::string got = run_example(e, dir);
    EXPECT_EQ(got, e.screen) << file << ":" << e.line << ": example " << e.name;
    std::string rm = "rm -rf " + dir;
    EXPECT_EQ(std::system(rm.c_str()), 0);
  }
}

TEST(guides, the_users_guide_examples_show_what_it_says) {
  check_guide("user-guide.md", 3);
}

TEST(guides, the_programmers_guide_examples_show_what_it_says) {
  check_guide("programmer-guide.md", 8);
}

}  // namespace
