#!/usr/bin/env bash
# bench/screen/run.sh BUILD_DIR [N]: the screen workload (a boxed form,
# 1,000 field updates, 100 list scrolls) on TERM=xterm-256color, 80x24:
# bytes per phase through the screen control language beside ncurses on
# the same work, then the time per frame (refresh alone, and drawing plus
# refresh) of a full-screen change and of a one-cell change over N frames.
set -euo pipefail
build=${1:?usage: bench/screen/run.sh BUILD_DIR [N]}
n=${2:-2000}
for b in scbench ncbench; do
  [ -x "$build/bin/$b" ] || { echo "missing $build/bin/$b: build the target $b" >&2; exit 1; }
done
ours=$("$build/bin/scbench" bytes)
theirs=$("$build/bin/ncbench" bytes)
field() { sed -n "s/^$1 //p" <<<"$2"; }
printf '%-8s %10s %10s %10s\n' phase quillon ncurses "workload"
printf '%-8s %10s %10s %10s\n' init "$(field init "$ours")" "$(field init "$theirs")" 0
printf '%-8s %10s %10s %10s\n' form "$(field form "$ours")" "$(field form "$theirs")" 2240
printf '%-8s %10s %10s %10s\n' update "$(field update "$ours")" "$(field update "$theirs")" 32.2
printf '%-8s %10s %10s %10s\n' scroll "$(field scroll "$ours")" "$(field scroll "$theirs")" 134
printf '%-8s %10s %10s %10s\n' endwin "$(field endwin "$ours")" "$(field endwin "$theirs")" 32
echo "screen states checked in a terminal emulator: $(field checks "$ours")"
ot=$("$build/bin/scbench" time "$n")
nt=$("$build/bin/ncbench" time "$n")
printf '%-12s %16s %16s   (microseconds per frame: refresh / draw+refresh)\n' change quillon ncurses
for k in full cell; do
  printf '%-12s %16s %16s\n' "$k" "$(field $k "$ot" | tr ' ' /)" "$(field $k "$nt" | tr ' ' /)"
done
