// format_bench: nanoseconds per call of run's conversions beside the C
// library on the same values, in the same program:
//   zfns (number to text)       beside snprintf("%.*f") of the same value
//   zfsn (text to number)       beside strtod of the same text
//   zedit "-ZZZ,ZZZ,ZZ9.99"     beside snprintf("%.*f")
//   step (search a subject)     beside regexec, both with the pattern
//                               compiled once
// Each runs over 4096 values (they stay in the cache) many times; the
// figure is the best of several trials, in processor time so that other
// load on the machine counts as little as possible.  Compare the ratios:
// the absolute figures move with the machine.
#include <regex.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "run/numeric/zconv.h"
#include "run/numeric/zedit.h"
#include "run/numeric/zregex.h"

// Results of the timed passes; external, so that no work is dropped.
unsigned long long fb_sink;

namespace {

constexpr int N = 4096;
constexpr int TRIALS = 15;

double now_ns() {
  struct timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// best nanoseconds per call of f over reps passes of N calls
template <class F>
double best(int reps, F f) {
  double b = 1e300;
  for (int t = 0; t < TRIALS; t++) {
    double t0 = now_ns();
    for (int r = 0; r < reps; r++)
      for (int i = 0; i < N; i++) f(i);
    double per = (now_ns() - t0) / (double(reps) * N);
    if (per < b) b = per;
  }
  return b;
}

struct values {
  bcd_num num[N];
  double dbl[N];
  int places[N];        // fraction digits of the value
  std::string text[N];  // the value's plain text
};

// amounts: up to 10 integer digits and 0 to 4 fraction digits
void make(values &v) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < N; i++) {
    int places = int(rng() % 5);
    long long whole = (long long)(rng() % 10000000000ULL) / (long long)(1 + rng() % 100000);
    long long frac = (long long)(rng() % 10000);
    for (int k = places; k < 4; k++) frac /= 10;
    char buf[64];
    if (places)
      std::snprintf(buf, sizeof buf, "%s%lld.%0*lld", rng() % 4 ? "" : "-", whole, places, frac);
    else
      std::snprintf(buf, sizeof buf, "%s%lld", rng() % 4 ? "" : "-", whole);
    v.text[i] = buf;
    v.places[i] = places;
    v.dbl[i] = std::strtod(buf, nullptr);
    fsns = buf;
    fsnl = unsigned(std::strlen(buf));
    zfsn();
    v.num[i] = fsnp;
  }
}

void row(const char *what, double ours, const char *peer, double theirs) {
  std::printf("%-28s %8.1f ns   %-22s %8.1f ns   ratio %.2f\n", what, ours, peer, theirs,
              theirs / ours);
}

void conversions(const values &v) {
  char out[64];
  double a = best(200, [&](int i) {
    fsns = out;
    fb_sink += unsigned(zfns(&v.num[i]));
  });
  double b = best(200, [&](int i) {
    fb_sink += unsigned(std::snprintf(out, sizeof out, "%.*f", v.places[i], v.dbl[i]));
  });
  row("zfns", a, "snprintf(\"%.*f\")", b);
  std::vector<std::string> texts(v.text, v.text + N);
  a = best(200, [&](int i) {
    fsns = const_cast<char *>(texts[size_t(i)].data());
    fsnl = unsigned(texts[size_t(i)].size());
    fb_sink += unsigned(zfsn()) + fsnp.exp;
  });
  b = best(200, [&](int i) {
    fb_sink += (unsigned long long)std::strtod(texts[size_t(i)].c_str(), nullptr);
  });
  row("zfsn", a, "strtod", b);
  char mask[] = "-ZZZ,ZZZ,ZZ9.99";
  a = best(200, [&](int i) {
    fsns = mask;
    fsnl = sizeof mask - 1;
    fb_sink += unsigned(zedit(&v.num[i], out));
  });
  b = best(200, [&](int i) {
    fb_sink += unsigned(std::snprintf(out, sizeof out, "%.*f", 2, v.dbl[i]));
  });
  row("zedit -ZZZ,ZZZ,ZZ9.99", a, "snprintf(\"%.2f\")", b);
}

// invoice-like lines of about 60 characters
std::vector<std::string> subjects() {
  std::mt19937_64 rng(7);
  std::vector<std::string> s;
  const char *words[] = {"INV", "customer", "total", "net", "VAT", "order", "paid", "due"};
  for (int i = 0; i < N; i++) {
    std::string line;
    while (line.size() < 60) {
      if (rng() % 3 == 0)
        line += std::to_string(rng() % 100000) + "." + std::to_string(10 + rng() % 90);
      else
        line += words[rng() % 8];
      line += ' ';
    }
    s.push_back(line);
  }
  return s;
}

void patterns() {
  std::vector<std::string> subj = subjects();
  const char *pats[] = {"paid",
                        "[0-9][0-9]*\\.[0-9]\\{2\\}",
                        "^INV",
                        "due *[0-9]",
                        "o.*r",
                        "\\(ta\\).*\\1",
                        "VAT [0-9]\\{5\\}"};
  for (const char *p : pats) {
    if (compile(p, zre.expbuf, zre.expbuf + ZRE_ESIZE, 0, int(std::strlen(p))) != 0) {
      std::printf("pattern %s does not compile\n", p);
      continue;
    }
    char prog[ZRE_ESIZE];
    std::memcpy(prog, zre.expbuf, sizeof prog);
    int circf = zre.circf;
    regex_t re;
    if (regcomp(&re, p, 0) != 0) continue;
    int hits_ours = 0, hits_theirs = 0;
    double a = best(20, [&](int i) {
      zre.circf = circf;
      const std::string &s = subj[size_t(i)];
      hits_ours += step(s.data(), int(s.size()), prog);
    });
    double b = best(20, [&](int i) {
      regmatch_t m[1];
      hits_theirs += regexec(&re, subj[size_t(i)].c_str(), 1, m, 0) == 0;
    });
    regfree(&re);
    char what[64];
    std::snprintf(what, sizeof what, "step %s", p);
    row(what, a, "regexec", b);
    if (hits_ours != hits_theirs)
      std::printf("  (the matches differ: %d, %d)\n", hits_ours, hits_theirs);
  }
}

}  // namespace

int main() {
  static values v;
  make(v);
  conversions(v);
  patterns();
  return 0;
}
