// tovelta_test.cpp: runs the real tovelta on the slave side of a
// pseudo-terminal and plays the terminal emulator on the master side: it
// parses the escape sequences, stores the file, answers the open request
// and acknowledges, reading the line's modes at every step.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tovelta/args.h"
#include "tovelta/line.h"
#include "tovelta/send.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct modes {
  bool echo, opost;
  bool operator==(const modes &) const = default;
};

struct block_seen {
  std::string data;  // the block's bytes
  std::string ack;   // its ack field
  modes at;          // line modes when its sequence arrived
  int pending;       // reply bytes the tool had not read by then
};

// What the emulator saw of one run.
struct transcript {
  std::string intros;   // second byte of every sequence
  long long size = -1;  // announced in the header
  std::string name;     // PC file name of the header
  bool opened = false;  // the open request came
  modes at_open{};      //   and the modes then
  std::vector<block_seen> blocks;
  bool ended = false;          // the end marker came
  std::string end_ack;         //   its ack field
  modes at_end{};              //   the modes then
  int end_pending = 0;         //   unread reply bytes then
  std::vector<modes> closing;  // distinct modes from the last step to the exit
  modes after{};               // modes after the exit
  std::string stray;           // bytes outside the sequences (messages)
  std::string err;             // standard error
  int status = -1;             // exit status, or 1000 + signal number
  int unread = -1;             // typed bytes the tool left unread
  std::string data() const {
    std::string d;
    for (const block_seen &b : blocks) d += b.data;
    return d;
  }
};

struct emulator {
  std::string open_reply = "OK\n";  // answer to the open request
  std::string ack_reply = "ACK\n";  // answer to blocks and end marker with ack non-zero
  int kill_at = 0;                  // SIGTERM instead of the reply: -1 open request, n block n
  bool echo_before = true;          // ECHO of the line before the run
};

struct session {
  int m = -1, s = -1;   // pty master, slave (closed once the tool is gone)
  int err = -1;         // read end of the tool's standard error
  pid_t pid = -1;       // the tool
  bool reaped = false;  // it has exited
  int status = -1;      //   with this status (as in transcript)
  int unread = -1;      //   leaving this many typed bytes unread
  std::vector<unsigned char> buf = std::vector<unsigned char>(65536);  // read from master
  size_t pos = 0, len = 0;                                             // unparsed part of buf
};

// The line's modes; the master reports those of the slave side.
modes modes_of(const session &ss) {
  termios t{};
  tcgetattr(ss.m, &t);
  return {(t.c_lflag & ECHO) != 0, (t.c_oflag & OPOST) != 0};
}

// Bytes typed to the tool that it has not read yet (none once it is gone).
int pending(const session &ss) {
  if (ss.s < 0) return 0;
  int n = -1;
  ioctl(ss.s, TIOCINQ, &n);
  return n;
}

bool reap(session &ss, int flags) {
  int st;
  if (!ss.reaped && waitpid(ss.pid, &st, flags) == ss.pid) {
    ss.reaped = true;
    ss.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
    ss.unread = pending(ss);
    // with the last slave descriptor gone the master reads EIO once drained
    close(ss.s);
    ss.s = -1;
  }
  return ss.reaped;
}

// Next byte from the tool; -1 once it has exited and all it wrote is read,
// or after 15 s of silence.
int get(session &ss) {
  auto give_up = clock_type::now() + std::chrono::seconds(15);
  while (ss.pos == ss.len) {
    reap(ss, WNOHANG);
    pollfd p{ss.m, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      ssize_t n = read(ss.m, ss.buf.data(), ss.buf.size());
      if (n <= 0) return -1;
      ss.pos = 0;
      ss.len = size_t(n);
    } else if (clock_type::now() > give_up) {
      return -1;
    }
  }
  return ss.buf[ss.pos++];
}

void put(session &ss, const std::string &s) {
  ASSERT_EQ(write(ss.m, s.data(), s.size()), ssize_t(s.size()));
}

std::string tool_path() {
  const char *b = getenv("QUILLON_BUILD");
  return std::string(b ? b : ".") + "/bin/tovelta";
}

void start(session &ss, const std::vector<std::string> &args, const emulator &em,
           const std::string &cwd) {
  ASSERT_EQ(openpty(&ss.m, &ss.s, nullptr, nullptr, nullptr), 0);
  termios t{};
  tcgetattr(ss.s, &t);
  t.c_lflag = em.echo_before ? (t.c_lflag | ECHO) : (t.c_lflag & ~tcflag_t(ECHO));
  tcsetattr(ss.s, TCSANOW, &t);
  int ep[2];
  ASSERT_EQ(pipe(ep), 0);
  std::string bin = tool_path();
  std::vector<char *> argv{bin.data()};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  ss.pid = fork();
  ASSERT_GE(ss.pid, 0);
  if (ss.pid == 0) {
    setsid();
    ioctl(ss.s, TIOCSCTTY, 0);
    dup2(ss.s, 0);
    dup2(ss.s, 1);
    dup2(ep[1], 2);
    for (int fd : {ss.m, ss.s, ep[0], ep[1]}) close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(ep[1]);
  ss.err = ep[0];
}

// Waits for the exit, watching the modes change on the way.
void finish(session &ss, transcript &t) {
  auto give_up = clock_type::now() + std::chrono::seconds(15);
  while (!reap(ss, WNOHANG)) {
    modes m = modes_of(ss);
    if (t.closing.empty() || !(t.closing.back() == m)) t.closing.push_back(m);
    if (clock_type::now() > give_up) {
      kill(ss.pid, SIGKILL);
      reap(ss, 0);
      t.stray += "<timeout>";
    }
  }
  for (int c; (c = get(ss)) >= 0;) t.stray += char(c);
  t.after = modes_of(ss);
  t.status = ss.status;
  t.unread = ss.unread;
  char b[4096];
  for (ssize_t n; (n = read(ss.err, b, sizeof b)) > 0;) t.err.append(b, size_t(n));
  close(ss.m);
  close(ss.err);
}

// One sequence after its ESC: false when the conversation is over.
bool sequence(session &ss, const emulator &em, transcript &t) {
  int c = get(ss);
  t.intros += char(c);
  std::string p;
  while ((c = get(ss)) >= 0 && c != 'y' && p.size() < 40) p += char(c);
  size_t semi = p.find(';', 3);
  if (p.rfind("13;", 0) == 0) {
    t.size = atoll(p.c_str() + 3);
    while ((c = get(ss)) >= 0 && c != 27) t.name += char(c);
    if (get(ss) != '\\') t.stray += "<header not closed>";
  } else if (p == "34;-1;1") {
    t.opened = true;
    t.at_open = modes_of(ss);
    if (em.kill_at == -1) return kill(ss.pid, SIGTERM), false;
    put(ss, em.open_reply);
    return em.open_reply.rfind("OK", 0) == 0;
  } else if (p.rfind("34;", 0) == 0 && semi != std::string::npos) {
    size_t count = strtoul(p.c_str() + 3, nullptr, 10);
    std::string ack = p.substr(semi + 1);
    if (count == 0) {
      t.ended = true, t.end_ack = ack, t.at_end = modes_of(ss), t.end_pending = pending(ss);
      if (ack != "0") put(ss, em.ack_reply);
      return false;
    }
    block_seen b{std::string(), ack, modes_of(ss), pending(ss)};
    while (b.data.size() < count && (c = get(ss)) >= 0) b.data += char(c);
    t.blocks.push_back(b);
    if (em.kill_at == int(t.blocks.size())) return kill(ss.pid, SIGTERM), false;
    if (ack != "0") put(ss, em.ack_reply);
  } else {
    t.stray += "<sequence " + p + ">";
  }
  return c >= 0;
}

transcript run(const std::vector<std::string> &args, const emulator &em = {},
               const std::string &cwd = "") {
  transcript t;
  session ss;
  start(ss, args, em, cwd);
  if (ss.pid <= 0) return t;
  for (int c; (c = get(ss)) >= 0;) {
    if (c != 27)
      t.stray += char(c);
    else if (!sequence(ss, em, t))
      break;
  }
  finish(ss, t);
  return t;
}

struct temp_dir {
  std::string path;
  temp_dir() {
    char tmpl[] = "/tmp/tovelta-test-XXXXXX";
    path = mkdtemp(tmpl) ? tmpl : "/tmp";
  }
  ~temp_dir() {
    std::string cmd = "rm -rf '" + path + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  std::string file(const std::string &name, const std::string &content) const {
    std::string p = path + "/" + name;
    FILE *f = fopen(p.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
    return p;
  }
};

// Random bytes; in text files CR and LF are frequent (one byte in four).
std::string random_bytes(size_t n, unsigned start, bool text = false) {
  std::mt19937 gen(start);
  std::string s(n, 0);
  for (char &c : s) {
    unsigned v = gen() & 0xffff;
    c = char(text && v < 0x2000 ? '\n' : text && v < 0x4000 ? '\r' : v & 0xff);
  }
  return s;
}

// What text mode must send: a CR before every LF the file has without one.
std::string with_cr(const std::string &s) {
  std::string r;
  char prev = 0;
  for (char c : s) {
    if (c == '\n' && prev != '\r') r += '\r';
    r += c;
    prev = c;
  }
  return r;
}

// The checks every completed transfer must pass.
void expect_transfer(const transcript &t, const std::string &sent, const std::string &name,
                     const std::string &ack = "0", char intro = '[') {
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(t.stray, "");
  EXPECT_EQ(t.intros, std::string(t.intros.size(), intro));
  EXPECT_EQ(t.size, (long long)sent.size());
  EXPECT_EQ(t.name, name);
  EXPECT_TRUE(t.data() == sent) << "the stored file differs from the one sent";
  // echo goes off before the open request, opost only after the reply
  EXPECT_EQ(t.at_open, (modes{false, true}));
  // Only a tool waiting for a reply stands still long enough for its modes
  // to be read; without acks the data itself shows opost was off (a LF
  // would have come out as CR LF).
  bool held = ack != "0";
  for (const block_seen &b : t.blocks) {
    EXPECT_EQ(b.ack, ack);
    if (held) {
      EXPECT_EQ(b.at, (modes{false, false}));
    }
    EXPECT_EQ(b.pending, 0) << "a reply was still unread when the next block came";
  }
  EXPECT_TRUE(t.ended);
  EXPECT_EQ(t.end_ack, ack);
  if (held) {
    EXPECT_EQ(t.at_end, (modes{false, false}));
  }
  EXPECT_EQ(t.end_pending, 0);
  EXPECT_EQ(t.unread, 0) << "the end reply was not read";
  // restored in reverse: never echo back while opost is still off
  for (const modes &m : t.closing) EXPECT_FALSE(m.echo && !m.opost);
  EXPECT_EQ(t.after, (modes{true, true}));
}

std::vector<size_t> sizes(const transcript &t) {
  std::vector<size_t> v;
  for (const block_seen &b : t.blocks) v.push_back(b.data.size());
  return v;
}

TEST(tovelta, files_arrive_byte_for_byte) {
  std::string all;
  for (int i = 0; i < 768; i++) all += char(i);
  std::string one = random_bytes(2048, 1), big = random_bytes(40000, 2);
  std::string b5 = big.substr(0, 5000), b3 = big.substr(0, 3000), x = std::string(16383, 'x');
  struct file_case {
    const char *what;
    std::string content;
    std::vector<std::string> opts;
    std::string sent;            // what the emulator must store
    std::vector<size_t> blocks;  // sizes of the data blocks
    const char *ack;             // ack field of every block and the end marker
    char intro;                  // second byte of every sequence
  } cases[] = {
      {"empty binary", "", {}, "", {}, "0", '['},
      {"empty text", "", {"-t"}, "", {}, "0", '['},
      {"exactly one block", one, {}, one, {2048}, "0", '['},
      {"every byte value unchanged", all, {"-b", "256", "-a", "1"}, all, {256, 256, 256}, "1", '['},
      {"text adds CR before lone LF", "a\nb\r\n", {"-t"}, "a\r\nb\r\n", {6}, "0", '['},
      {"text starting with LF", "\n\n", {"-t"}, "\r\n\r\n", {4}, "0", '['},
      {"added CR LF straddles", "abc\nde", {"-t", "-b", "4"}, "abc\r\nde", {5, 2}, "0", '['},
      {"own CR LF straddles", "abc\r\nxy", {"-t", "-b", "4"}, "abc\r\nxy", {4, 3}, "0", '['},
      {"text exactly one block", "abcd", {"-t", "-b", "4", "-a", "3"}, "abcd", {4}, "3", '['},
      {"largest block size", big, {"-b", "16384", "-a", "1"}, big, {16384, 16384, 7232}, "1", '['},
      {"largest plus one", x + "\nyz", {"-t", "-b", "16384"}, x + "\r\nyz", {16385, 2}, "0", '['},
      {"HP emulation mode", "hello", {"-H", "-a", "42"}, "hello", {5}, "42", '%'},
      {"-b 0 takes the default", b5, {"-b", "0"}, b5, {2048, 2048, 904}, "0", '['},
      {"negative -b takes the default", "abc", {"-b", "-5"}, "abc", {3}, "0", '['},
      {"non-numeric -b takes the default", b3, {"-b", "4k"}, b3, {2048, 952}, "0", '['},
      {"non-numeric -a leaves acks off", "abc", {"-a", "yes"}, "abc", {3}, "0", '['},
  };
  temp_dir dir;
  for (const file_case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.opts;
    args.push_back(dir.file("in.dat", c.content));
    transcript t = run(args);
    expect_transfer(t, c.sent, "in.dat", c.ack, c.intro);
    EXPECT_EQ(sizes(t), c.blocks);
  }
}

TEST(tovelta, mode_changes_keep_their_order) {
  // The changes follow each other within microseconds; a wrong order shows
  // only when the watcher reads the modes in between, so many short runs.
  temp_dir dir;
  std::string f = dir.file("f", "a\nb");
  for (int i = 0; i < 100 && !HasFailure(); i++)
    expect_transfer(run({"-a", "1", f}), "a\nb", "f", "1");
}

TEST(tovelta, large_random_files) {
  temp_dir dir;
  std::string bin = random_bytes(3 << 20, 3), text = random_bytes(1 << 20, 4, true);
  transcript t = run({dir.file("big.bin", bin)});
  expect_transfer(t, bin, "big.bin");
  t = run({"-t", "-b", "16384", "-a", "1", dir.file("big.txt", text)}, {});
  expect_transfer(t, with_cr(text), "big.txt", "1");
  // full blocks, one byte more only for an inserted CR LF at the limit
  for (size_t i = 0; i < t.blocks.size(); i++) {
    const std::string &b = t.blocks[i].data;
    bool last = i + 1 == t.blocks.size();
    EXPECT_TRUE(b.size() == 16384 || (last && b.size() < 16384) ||
                (b.size() == 16385 && b.ends_with("\r\n")))
        << "block " << i << " holds " << b.size();
  }
}

TEST(tovelta, pc_file_name_and_unknown_option) {
  temp_dir dir;
  std::string f = dir.file("report.txt", "r");
  expect_transfer(run({f}), "r", "report.txt");
  expect_transfer(run({f, "C:\\REPORT.TXT"}), "r", "C:\\REPORT.TXT");
  expect_transfer(run({"report.txt"}, {}, dir.path), "r", "report.txt");
  EXPECT_STREQ(tvopt_pcname("/tmp/dir/"), "/tmp/dir/");
  // an unknown option is reported by getopt, then the transfer goes on
  transcript t = run({"-q", f});
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.data(), "r");
  EXPECT_NE(t.err.find("-- 'q'"), std::string::npos);
}

TEST(tovelta, refused_transfer_restores_echo_only) {
  std::string long_reply(45, 'n');
  struct refusal {
    std::string reply, shown;
  } cases[] = {
      {"NO WAY\n", "NO WAY\r\n"},
      {"ok\n", "ok\r\n"},
      {"O\n", "O\r\n"},
      {long_reply + "\n", long_reply.substr(0, 31)},
  };
  temp_dir dir;
  std::string f = dir.file("f", "data");
  for (const refusal &c : cases) {
    SCOPED_TRACE(c.reply);
    emulator em;
    em.open_reply = c.reply;
    transcript t = run({"-a", "1", f}, em);
    EXPECT_EQ(t.status, 255);
    EXPECT_TRUE(t.opened);
    EXPECT_TRUE(t.blocks.empty());
    EXPECT_FALSE(t.ended);
    EXPECT_EQ(t.stray, "Could not open output file: " + c.shown + "\r\n");
    EXPECT_EQ(t.at_open, (modes{false, true}));
    for (const modes &m : t.closing) EXPECT_TRUE(m.opost);
    EXPECT_EQ(t.after, (modes{true, true}));
  }
}

TEST(tovelta, long_replies_keep_acks_in_step) {
  temp_dir dir;
  std::string d = random_bytes(5000, 5);
  emulator em;
  em.open_reply = "OK" + std::string(60, '+') + "\n";
  em.ack_reply = std::string(50, 'a') + "\n";
  transcript t = run({"-a", "1", dir.file("f", d)}, em);
  expect_transfer(t, d, "f", "1");
  EXPECT_EQ(t.blocks.size(), 3u);
}

TEST(tovelta, messages_and_exit_statuses) {
  const std::string help =
      "\r\nCommand line format:\r\n\ttovelta [options] unixfilename [pcfilename]\r\n\r\n"
      "Options:\r\n\t-a 1           enable acks, defaults to disabled\r\n"
      "\t-b size        block size, defaults to 2048\r\n"
      "\t-H             when using Velta in HP emulation mode.\r\n"
      "\t-t             text mode (convert lines ending with LF to CR LF).\r\n"
      "\t-h             show this help information.\r\n\r\n"
      "Examples:\r\n\ttovelta helpicon.bmp\r\n"
      "\ttovelta -t -b 2048 -a 1  file.txt file.text\r\n\r\n";
  temp_dir dir;
  std::string f = dir.file("f", "data");
  struct message_case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{}, 1, help, "Error: You must specify a unix filename as input!\n"},
      {{"-t", "-h", f}, 0, "File Transfer To Velta - version 2.0\r\n" + help, ""},
      {{"-x", f}, 0, "", ""},
      {{"-b", "16385", f}, 3, "", "Buffer size is too large!\n"},
      {{"-b", "99999999999999999999999", f}, 3, "", "Buffer size is too large!\n"},
      {{dir.path + "/missing"}, 2, "", "Could not open input file " + dir.path + "/missing !\n"},
      {{dir.path + "/"}, 2, "", "Could not open input file " + dir.path + "/ !\n"},
  };
  for (const message_case &c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no operand" : c.args[0]);
    transcript t = run(c.args);
    EXPECT_EQ(t.status, c.status);
    EXPECT_EQ(t.stray, c.out);
    EXPECT_EQ(t.err, c.err);
    EXPECT_TRUE(t.intros.empty()) << "nothing may reach the emulator";
    EXPECT_EQ(t.after, (modes{true, true}));
  }
}

TEST(tovelta, modes_restored_to_their_earlier_state) {
  temp_dir dir;
  std::string f = dir.file("f", "0123456789");
  emulator em;
  em.echo_before = false;
  transcript t = run({f}, em);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.data(), "0123456789");
  EXPECT_EQ(t.after, (modes{false, true}));
  // a terminating signal while the tool waits for a reply
  for (int at : {-1, 2}) {
    SCOPED_TRACE(at);
    em = {};
    em.kill_at = at;
    t = run({"-a", "1", "-b", "3", f}, em);
    EXPECT_EQ(t.status, 1000 + SIGTERM);
    EXPECT_EQ(t.after, (modes{true, true}));
  }
}

int reads_left;  // reads read_then_fail lets through

ssize_t read_then_fail(int fd, void *buf, size_t n) {
  return reads_left-- > 0 ? read(fd, buf, n) : (errno = EIO, -1);
}

TEST(tovelta_send, read_error_ends_the_data_phase) {
  temp_dir dir;
  std::string content = random_bytes(100000, 6);
  struct read_case {
    bool text;
    size_t read;  // file bytes read before the error
  } cases[] = {{false, 1000}, {true, 65536}};
  for (const read_case &c : cases) {
    SCOPED_TRACE(c.text);
    long long size = 0;
    ASSERT_EQ(tvsend_open(dir.file("f", content).c_str(), c.text, &size), 0);
    std::string out = dir.path + "/out";
    int fd = open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    tvline_init(-1, fd, '[');
    reads_left = 1;
    tvsend_read_for_test = read_then_fail;
    tvopt_options o{c.text, 0, 1000, '[', "f", "f"};
    EXPECT_TRUE(tvsend_data(o));
    tvsend_read_for_test = read;
    tvsend_close();
    close(fd);
    // what went out, sequences taken away, is all that was read, the
    // partial text block included
    std::string got, raw;
    FILE *fp = fopen(out.c_str(), "rb");
    for (int ch; (ch = fgetc(fp)) != EOF;) raw += char(ch);
    fclose(fp);
    for (size_t i = 0; i < raw.size();) {
      size_t y = raw.find('y', i), n = strtoul(raw.c_str() + i + 5, nullptr, 10);
      got += raw.substr(y + 1, n);
      i = y + 1 + n;
    }
    std::string head = content.substr(0, c.read);
    EXPECT_TRUE(got == (c.text ? with_cr(head) : head));
  }
}

TEST(tovelta_send, failed_write_fails_the_transfer) {
  temp_dir dir;
  long long size = 0;
  ASSERT_EQ(tvsend_open(dir.file("f", "some data").c_str(), false, &size), 0);
  int fd = open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  tvline_init(-1, fd, '[');
  EXPECT_FALSE(tvsend_data(tvopt_options{false, 0, 1000, '[', "f", "f"}));
  EXPECT_TRUE(tvline.failed);
  EXPECT_FALSE(tvline_end(0));
  tvsend_close();
  close(fd);
}

}  // namespace
