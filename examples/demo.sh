#!/usr/bin/env bash
# demo.sh BUILD_DIR: the main job.  Starts run on this terminal with the
# example program procs loaded under the command monitor, ready to be run
# and inspected.
set -euo pipefail
build=${1:?usage: examples/demo.sh BUILD_DIR}
cd "$build"
cat <<'TEXT'
Quillon: run with the example program "procs" loaded in debug mode.
Try, at the ">" prompt:
  dr            the routines          dv        the variables
  br fill       a breakpoint          ru        run to it
  di i          show a variable       st / sp   step (sp steps over calls)
  go            continue              ch        the call hierarchy
  cb            clear breakpoints     qu        quit
TEXT
exec ./bin/run "P=lo ./examples/procs" VXDEFAULT=/nonexistent "${@:2}"
