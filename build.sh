#!/usr/bin/env bash
# build.sh: builds Quillon and runs it or its tests on a Debian machine.
#   ./build.sh demo      release build, then the demo application in run
#                        (./build.sh demo -m: under the command monitor)
#   ./build.sh test      release build and all tests, then the sanitizer
#                        build (clang, ASan + UBSan, fuzz targets) and all tests
#   ./build.sh release | sanitize   one build and its tests
#   ./build.sh bench     release build and the benchmarks
#   ./build.sh package   release build, then the Debian package in
#                        build/release/package
# Each installs what it needs through apt-get when it is missing.
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD
jobs=$(nproc)

need() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

base_deps() {
  need cmake ninja-build g++ pkg-config libncurses-dev ncurses-base ncurses-term \
       googletest libgtest-dev libvterm-dev tmux less dpkg-dev file groff-base
}

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -G Ninja "$@" | { grep "benchmark peer" || true; }
}

release() {  # extra cmake arguments...
  base_deps
  configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc "$@"
  cmake --build build/release -j "$jobs"
}

sanitize() {
  base_deps
  need clang-14 libclang-rt-14-dev
  configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DQUILLON_WERROR=ON \
    -DQUILLON_SANITIZE=ON -DQUILLON_FUZZ=ON -DQUILLON_BENCH=OFF \
    -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14
  cmake --build build/sanitize -j "$jobs"
}

run_tests() {  # build dir
  (cd "$1" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

case "${1:-}" in
  demo)
    release -DQUILLON_PEERS=ON
    exec "$top/examples/demo.sh" "$top/build/release" "${@:2}"
    ;;
  test)
    # the tests never depend on a benchmark peer: this build looks for none
    release -DQUILLON_PEERS=OFF
    run_tests build/release
    sanitize
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      run_tests build/sanitize
    ;;
  release) release -DQUILLON_PEERS=ON; run_tests build/release ;;
  sanitize) sanitize; run_tests build/sanitize ;;
  bench)
    need lua5.4 python3 libsqlite3-dev libdb5.3-dev gnucobol3
    release -DQUILLON_PEERS=ON
    "$top/bench/run.sh" "$top/build/release"
    ;;
  package)
    release -DQUILLON_PEERS=OFF
    (cd build/release && cpack -G DEB)
    ;;
  *)
    echo "usage: $0 demo | test | release | sanitize | bench | package" >&2
    exit 2
    ;;
esac
