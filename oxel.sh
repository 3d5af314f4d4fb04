#!/usr/bin/env bash
# Oxel: install what is missing, build, then start the program (./oxel.sh)
# or run every test (./oxel.sh test). Extra words after "run" go to the program.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl1-mesa-dev liblua5.2-dev
  libcjson-dev libssl-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  ccache lrzsz tftp-hpa tftpd-hpa atftp busybox-static curl tmux xvfb iproute2 bsdutils ftp python3
  python3-websockets chromium x11-utils libxtst6)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "oxel.sh: installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]; with TARGETS set (words), only those targets.
build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@"
  fi
  local targets=()
  [ -n "${TARGETS:-}" ] && targets=(--target ${TARGETS})
  cmake --build "$dir" -j2 "${targets[@]}"
}

fill_home() {
  export OXEL_HOME="${OXEL_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/oxel}"
  if [ ! -e "$OXEL_HOME/defcfg.ct" ]; then
    mkdir -p "$OXEL_HOME"
    cp -rn home/. "$OXEL_HOME/"
    echo "oxel.sh: program home is $OXEL_HOME"
  fi
}

cmd="${1:-run}"
[ $# -gt 0 ] && shift
case "$cmd" in
  test)
    install_missing
    status=0
    tools/check_layers.sh || status=1
    build build
    build build-asan -DOXEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    build build-tsan -DOXEL_TSAN=ON
    (cd build && ctest --output-on-failure -j2 --timeout 300) || status=1
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2 --timeout 300) || status=1
    (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$here/tools/tsan.supp" \
       ctest --output-on-failure -j2 --timeout 300) || status=1
    exit $status
    ;;
  fuzz)
    # ./oxel.sh fuzz [SECONDS]: every target for SECONDS (default 60), tight
    # memory and time limits; stops at the first fault with its reproducer.
    seconds="${1:-60}"
    PACKAGES+=(clang libclang-rt-14-dev)
    install_missing
    CC=clang CXX=clang++ build build-fuzz -DOXEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    for src in tests/fuzz/*_fuzz.cpp; do
      name=$(basename "$src" .cpp); corpus=${name%_fuzz}
      work="build-fuzz/corpus/$corpus"; found="tests/fuzz/regressions/$corpus"
      mkdir -p "$work" "$found"
      cp -n tests/fuzz/corpus/"$corpus"/* "$work"/ 2>/dev/null || true
      echo "oxel.sh: fuzzing $corpus for ${seconds}s"
      if ! "build-fuzz/tests/$name" -max_total_time="$seconds" -rss_limit_mb=256 -timeout=2 \
           -artifact_prefix="$found/" "$work" 2> "build-fuzz/$corpus.log"; then
        tail -n 30 "build-fuzz/$corpus.log"
        echo "oxel.sh: $corpus failed; the reproducer is in $found/"
        exit 1
      fi
      grep -E "^#[0-9]+.*DONE|stat::" "build-fuzz/$corpus.log" | tail -n 2
    done
    ;;
  build)
    install_missing
    build build
    ;;
  run|*)
    [ "$cmd" != run ] && set -- "$cmd" "$@"
    install_missing
    # Starting needs only the two programs; the tests and benchmarks wait for "test".
    TARGETS="oxel-cli $(grep -q 'OXEL_GUI:BOOL=OFF' build/CMakeCache.txt 2>/dev/null || echo oxel)" build build
    fill_home
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/oxel ]; then
      [ $# -eq 0 ] && set -- demo.ct
      exec build/oxel "$@"
    fi
    [ $# -eq 0 ] && set -- demo.ct
    exec build/oxel-cli "$@"
    ;;
esac
