#!/usr/bin/env bash
# bench/interp/run.sh BUILD_DIR [N]: the interpreter's three loops (counting,
# decimal business, string) over N iterations (default 10 million), beside
# the same loops in Lua 5.4 (binary doubles) and Python 3 (decimal module,
# precision 14, half up, for the numbers).  Times are processor time per
# iteration, measured in the same session.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/interp/run.sh BUILD_DIR [N]}
n=${2:-10000000}
bench=$build/bin/interp_bench
[ -x "$bench" ] || { echo "missing $bench: build the target interp_bench" >&2; exit 1; }
# the peers found when the build was configured ("FALSE" when left out)
lua=FALSE python=FALSE
. "$build/bench/interp/peers.sh"
[ "$lua" != FALSE ] || { echo "(Lua 5.4 was not found when configuring: its column is -)"; lua=false; }
[ "$python" != FALSE ] || { echo "(Python 3 was not found when configuring: its column is -)"; python=false; }
ns() { sed -n 's/.* \([0-9.]*\) ns\/iteration/\1/p' <<<"$1"; }
printf '%-10s %12s %12s %12s\n' loop "p-code" "lua5.4" "python3"
for loop in count business string; do
  q=$("$bench" "$loop" "$n")
  l=$("$lua" "$here/loops.lua" "$loop" "$n" 2>/dev/null || echo "- -")
  p=$("$python" "$here/loops.py" "$loop" "$n" 2>/dev/null || echo "- -")
  printf '%-10s %12s %12s %12s  ns/iteration\n' "$loop" "$(ns "$q")" "$(ns "$l")" "$(ns "$p")"
  printf '    %s\n' "$(sed -n 2p <<<"$q")"
done
l=$("$lua" "$here/loops.lua" for "$n" 2>/dev/null || echo "- -")
printf '%-10s %12s %12s %12s  ns/iteration (Lua numeric for)\n' "count-for" "" "$(ns "$l")" ""
