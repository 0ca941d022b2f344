#!/usr/bin/env bash
# demo.sh BUILD_DIR [quillon-demo arguments]: the main job.  Starts the
# demo order-entry application of this build on this terminal, with the
# demo's defaults file and a data folder of its own (BUILD_DIR/demo-data).
# examples/demo.sh BUILD_DIR -m starts it under the command monitor.
set -euo pipefail
build=$(cd "${1:?usage: examples/demo.sh BUILD_DIR [-m] [NAME=value ...]}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export QUILLON_RUN=$build/bin/run
export QUILLON_DEMO_PROGRAMS=$build/examples/demo/programs
export QUILLON_DEMO_DEFAULTS=$here/demo/demo.defaults
export QUILLON_DEMO_DATA=${QUILLON_DEMO_DATA:-$build/demo-data}
exec "$here/demo/quillon-demo" "${@:2}"
