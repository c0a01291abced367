#!/usr/bin/env bash
# Set-up on a fresh Debian 12 machine, as root.
#   tools/setup.sh run    install what is needed, build, start Quendo
#   tools/setup.sh test   install what is needed, build, run every test (also under sanitizers)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-run}

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
  libsdl2-dev libicu-dev
  libgtest-dev libgmock-dev
  xvfb xauth x11-apps imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
build() {  # build DIR [cmake options...] [-- targets...]
  local dir=$1; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift && targets=(--target "$@")
  cmake -S "$root" -B "$dir" -G Ninja "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

case "$mode" in
  run)
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    exec "$root/build/bin/quendo"
    ;;
  test)
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
    build "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQUENDO_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
    # The decks' threads and the mixer share lock-free state: the engine's tests also run under
    # ThreadSanitizer.
    build "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DQUENDO_TSAN=ON -- engine_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
      ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" -L engine
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
