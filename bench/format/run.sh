#!/usr/bin/env bash
# bench/format/run.sh BUILD_DIR: conversions, edit masks and pattern search
# of run beside the C library.
set -euo pipefail
build=${1:?usage: bench/format/run.sh BUILD_DIR}
exec "$build/bin/format_bench"
