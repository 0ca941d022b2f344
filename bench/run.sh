#!/usr/bin/env bash
# bench/run.sh BUILD_DIR: runs every benchmark (each bench/NAME/run.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/run.sh BUILD_DIR}
for s in "$here"/*/run.sh; do
  [ -x "$s" ] || continue
  echo "== $(basename "$(dirname "$s")")"
  "$s" "$build"
done
