#!/usr/bin/env bash
# demo.sh BUILD_DIR: the main job: starts run.
set -euo pipefail
build=${1:?usage: examples/demo.sh BUILD_DIR}
exec "$build/bin/run" "${@:2}"
