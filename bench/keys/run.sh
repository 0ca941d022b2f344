#!/usr/bin/env bash
# bench/keys/run.sh BUILD_DIR [ROUNDS]: key latency through a pseudo-terminal
# (median, 99th percentile) and a pasted burst of 10,000 keys.
set -euo pipefail
build=${1:?usage: bench/keys/run.sh BUILD_DIR [ROUNDS]}
exec "$build/bin/keys_bench" "${2:-10000}"
