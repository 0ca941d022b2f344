"""Runs the indexed-file workload program under run and times its steps.

Usage: python3 drive.py RUN PROGRAM KEYDIR WORKDIR

The program prints "GO" where a timed stretch starts and "STEP name
count" where it ends; each line is stamped as it arrives, so the time of a
step is the time between the two lines (the program's output is written
at the end of each statement).  Prints "step NAME COUNT SECONDS" for each
step and the program's verification line.
"""
import subprocess
import sys
import time


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    run, program, keydir, workdir = sys.argv[1:]
    proc = subprocess.Popen(
        [run, "P=" + program, "VXEXIT=1", "VXDEFAULT=/nonexistent", "M=20000"],
        cwd=workdir, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    proc.stdin.write((keydir + "\r\n").encode())
    proc.stdin.close()
    start = None
    for raw in proc.stdout:
        now = time.monotonic()
        line = raw.decode(errors="replace").strip()
        if line == "GO":
            start = now
        elif line.startswith("STEP ") and start is not None:
            _, name, count = line.split()
            print("step %s %s %.6f" % (name, count, now - start), flush=True)
            start = None
        elif line.startswith("verify") or line.startswith("ERROR"):
            print(line, flush=True)
    sys.exit(proc.wait())


if __name__ == "__main__":
    main()
