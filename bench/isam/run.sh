#!/usr/bin/env bash
# bench/isam/run.sh BUILD_DIR: the indexed-file workload on our engine
# (exclusive and shared opens), SQLite and Berkeley DB, median of 3 runs,
# then durable commits per second beside SQLite in WAL mode.
set -euo pipefail
build=${1:?usage: bench/isam/run.sh BUILD_DIR}
work=$(mktemp -d "${TMPDIR:-/tmp}/isambench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bin/isam_bench" "$work" "${ISAM_BENCH_N:-200000}" "${ISAM_BENCH_RUNS:-3}"
