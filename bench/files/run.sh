#!/usr/bin/env bash
# bench/files/run.sh BUILD_DIR: the data-file workloads, each run by run
# (programs of this folder), by the C yardstick and by GnuCOBOL, in the
# same session, in one scratch directory:
#   seq write   1,000,000 records of 100 bytes to a sequential file
#               (run: unstructured lines; C: stdio; GnuCOBOL: line sequential)
#   seq read    the same records read back
#   rel r+w     200,000 random reads with the record lock and rewrites of a
#               relative file of 10,000 records of 100 bytes
#   lock        200,000 locks and releases of a record (read with the lock
#               option, then UNLOCK), uncontended
# Processor seconds (user + system), best of RUNS (default 3); the ratios
# compare run with C and with GnuCOBOL.  GnuCOBOL 3.1 keeps no record locks on a
# relative file (only its file lock; the manual lock mode's UNLOCK waits
# for the disk instead), so its last two rows move the records without
# record locks.  N, RANDOM_N and RUNS may be given in the environment.
set -euo pipefail
build=$(cd "${1:?usage: bench/files/run.sh BUILD_DIR}" && pwd)
here=$build/bench/files
n=${N:-1000000} r=${RANDOM_N:-200000} runs=${RUNS:-3}
for f in "$build/bin/run" "$build/bin/files_c_bench" "$here/seqw"; do
  [ -f "$f" ] || { echo "missing $f: build the target files_bench" >&2; exit 1; }
done
cobc=FALSE
. "$here/peers.sh"
cob=$here/files_cob
[ "$cobc" != FALSE ] && [ -x "$cob" ] || { echo "(GnuCOBOL was not found when configuring: its column is -)"; cob=""; }
work=$(mktemp -d "${TMPDIR:-/tmp}/filesbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# best processor time (user + system, the command's children included) of
# $runs runs of a command, in seconds: on a shared machine it varies far
# less than the elapsed time
best() {
  local b="" t
  for _ in $(seq "$runs"); do
    t=$( { TIMEFORMAT='%U %S'; time "$@" > /dev/null; } 2>&1 | tail -1)
    t=$(awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { print u + s }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  printf '%.3f' "$b"
}
quillon() { # program, input line
  echo "$2" | "$build/bin/run" "P=$here/$1" VXEXIT=1 VXDEFAULT=/nonexistent
}
cee() { "$build/bin/files_c_bench" "$@"; }
cobol() { [ -n "$cob" ] && "$cob" "$@"; }

"$build/bin/files_c_bench" relmk c_rel > /dev/null
[ -n "$cob" ] && cobol relmk 0 > /dev/null
quillon relrw 1 > /dev/null  # makes bench_rel.rdw

row() { # name, run seconds, C seconds, COBOL seconds
  local vc="-" vb="-"
  vc=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')
  [ "$4" != "-" ] && vb=$(awk -v a="$2" -v b="$4" 'BEGIN { printf "%.2f", a / b }')
  printf '%-10s %9s %9s %9s %9s %9s\n' "$1" "$2" "$3" "$4" "$vc" "$vb"
}
printf '%-10s %9s %9s %9s %9s %9s\n' workload "run s" "C s" "cobol s" "run/C" "run/cobol"
cw=$( [ -n "$cob" ] && best cobol seqw "$n" || echo -)
row "seq write" "$(best quillon seqw "$n")" "$(best cee seqw "$n" c_seq)" "$cw"
cr=$( [ -n "$cob" ] && best cobol seqr 0 || echo -)
row "seq read" "$(best quillon seqr "")" "$(best cee seqr c_seq)" "$cr"
cx=$( [ -n "$cob" ] && best cobol relrw "$r" || echo -)
row "rel r+w" "$(best quillon relrw "$r")" "$(best cee relrw "$r" c_rel)" "$cx"
cl=$( [ -n "$cob" ] && best cobol lock "$r" || echo -)
row "lock" "$(best quillon lock "$r")" "$(best cee lock "$r" c_rel)" "$cl"
echo "(per second: lock-and-release of run = $r / its seconds above)"
