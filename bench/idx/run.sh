#!/usr/bin/env bash
# bench/idx/run.sh BUILD_DIR: the indexed-file workload (insert, read,
# scan, rewrite, delete of 200,000 records of 100 bytes) run by run on a
# file opened with option 0 (shared, manual record locks), by the engine's
# own benchmark with the same open mode, and by GnuCOBOL, interleaved in
# one session; medians of RUNS runs (default 3).  N, RUNS may be given.
set -euo pipefail
build=$(cd "${1:?usage: bench/idx/run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "$here/bench.py" "$build" "$here"
