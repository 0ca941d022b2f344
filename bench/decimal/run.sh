#!/usr/bin/env bash
# bench/decimal/run.sh BUILD_DIR [N]: decimal operations of run beside
# _Decimal64, then the decimal business loop with N iterations.
set -euo pipefail
build=${1:?usage: bench/decimal/run.sh BUILD_DIR [N]}
exec "$build/bin/zmath_bench" "${2:-10000000}"
