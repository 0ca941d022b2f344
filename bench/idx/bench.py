"""The indexed-file workload: run beside the engine and GnuCOBOL.

Usage: python3 bench.py BUILD_DIR SOURCE_DIR   (N and RUNS from the environment)

Each round runs, one after the other on the same machine: the engine's own
benchmark opened shared with manual locks (isam_bench, the row
"quillon (ISMANULOCK)"), the GnuCOBOL program (when it was built), and the
program idxw under run (driven by drive.py's timing of its step lines).
Step times are the medians of the rounds; ops/s = operations / median.
The table gives run's figure against GnuCOBOL's (the target: at least 2)
and the time the language layer adds to the engine's own time per
operation (the target: at most 30%).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

STEPS = ["insert", "read", "scan", "rewrite", "delete"]


def parse_rate(text):
    m = re.fullmatch(r"([0-9.]+)([kM]?)", text.strip())
    if not m:
        return None
    return float(m.group(1)) * {"": 1, "k": 1e3, "M": 1e6}[m.group(2)]


def engine_round(build, work, n):
    env = dict(os.environ, ISAM_BENCH_ONLY="ISMANULOCK")
    d = os.path.join(work, "engine")
    os.makedirs(d, exist_ok=True)
    out = subprocess.run([os.path.join(build, "bin", "isam_bench"), d, str(n), "1"],
                         env=env, check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("| quillon (ISMANULOCK)"):
            cells = [c.strip() for c in line.split("|")[2:7]]
            rates = [parse_rate(c) for c in cells]
            counts = step_counts(n)
            return {s: counts[s] / r for s, r in zip(STEPS, rates)}, line.split("|")[-2].strip()
    raise RuntimeError("isam_bench printed no ISMANULOCK row:\n" + out)


def step_counts(n):
    return {"insert": n, "read": n, "scan": n, "rewrite": n // 4, "delete": n // 4}


def steps_of(lines):
    times, verify = {}, ""
    for line in lines:
        parts = line.split()
        if len(parts) == 4 and parts[0] == "step":
            times[parts[1]] = (int(parts[2]), float(parts[3]))
        elif line.startswith("verify"):
            verify = line.strip()
    return times, verify


def cobol_round(cob, work, keys):
    d = os.path.join(work, "cob")
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    env = dict(os.environ, BENCH_DATA_DIR=d, BENCH_KEYS_DIR=keys)
    out = subprocess.run([cob], env=env, check=True, capture_output=True, text=True).stdout
    return steps_of(out.splitlines())


def run_round(build, here, work, keys):
    d = os.path.join(work, "run")
    os.makedirs(d, exist_ok=True)
    out = subprocess.run([sys.executable, os.path.join(here, "drive.py"),
                          os.path.join(build, "bin", "run"),
                          os.path.join(build, "bench", "idx", "idxw"), keys, d],
                         check=True, capture_output=True, text=True).stdout
    return steps_of(out.splitlines())


def fmt(rate):
    return "%.2fM" % (rate / 1e6) if rate >= 1e6 else "%.1fk" % (rate / 1e3)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, here = sys.argv[1:]
    n = int(os.environ.get("N", "200000"))
    runs = int(os.environ.get("RUNS", "3"))
    sys.path.insert(0, here)
    import genkeys

    cob = os.path.join(build, "bench", "idx", "isam_cob")
    if not os.path.exists(cob):
        print("(GnuCOBOL was not found when configuring: its column is -)")
        cob = None
    work = tempfile.mkdtemp(prefix="idxbench.")
    try:
        keys = os.path.join(work, "keys")
        genkeys.write(keys, n, n, n // 4, n // 4)
        with open(os.path.join(keys, "expected.txt")) as f:
            print("expected:", f.read().strip())
        eng = {s: [] for s in STEPS}
        cobs = {s: [] for s in STEPS}
        ours = {s: [] for s in STEPS}
        counts = step_counts(n)
        for r in range(runs):
            e, echeck = engine_round(build, work, n)
            for s in STEPS:
                eng[s].append(e[s])
            if cob:
                t, v = cobol_round(cob, work, keys)
                for s in STEPS:
                    cobs[s].append(t[s][1])
                print("round %d: gnucobol %s" % (r + 1, v))
            t, v = run_round(build, here, work, keys)
            for s in STEPS:
                ours[s].append(t[s][1])
                counts[s] = t[s][0]
            print("round %d: run %s; engine %s" % (r + 1, v, echeck))
        print("\nN = %d, medians of %d rounds, operations per second\n" % (n, runs))
        print("| step | run | engine (ISMANULOCK) | GnuCOBOL | run / GnuCOBOL | layer adds |")
        print("|---|---|---|---|---|---|")
        for s in STEPS:
            c = counts[s]
            ro = c / statistics.median(ours[s])
            eo = c / statistics.median(eng[s])
            co = c / statistics.median(cobs[s]) if cob else None
            added = (statistics.median(ours[s]) / statistics.median(eng[s]) - 1) * 100
            print("| %s | %s | %s | %s | %s | %+.0f%% |" % (
                s, fmt(ro), fmt(eo), fmt(co) if co else "-",
                "%.2f" % (ro / co) if co else "-", added))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
