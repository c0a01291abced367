#!/usr/bin/env bash
# Set-up on a fresh Debian 12 machine, as root.
#   tools/setup.sh run       install what is needed, build, start Quendo
#   tools/setup.sh test      install what is needed, build, run every check and test (also under
#                            sanitizers)
#   tools/setup.sh packages  print the package list, one name a line
# Once everything is installed, run and test leave apt alone, so they work offline.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-run}

# Real package names only: a virtual or renamed name never shows as installed to dpkg-query, so
# every run would go to apt again (the check after the install below refuses such a name).
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
  libsdl2-dev libicu-dev libebur128-dev libtag1-dev libsoundtouch-dev libqm-dsp-dev
  libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev llvm-14
  xvfb xauth x11-apps imagemagick
  dbus-daemon python3-dbusmock playerctl desktop-file-utils appstream
)

case "$mode" in
  packages) printf '%s\n' "${packages[@]}"; exit 0 ;;
  run | test) ;;
  *) echo "usage: $0 run|test|packages" >&2; exit 2 ;;
esac

not_installed() {  # the listed packages that dpkg does not report installed
  local state
  state=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)
  for p in "${packages[@]}"; do
    grep -qx "$p installed" <<<"$state" || echo "$p"
  done
}
mapfile -t missing < <(not_installed)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
  mapfile -t missing < <(not_installed)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: apt installed ${missing[*]} under another name (virtual or renamed?); list the real package name" >&2
    exit 1
  fi
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
    started=$SECONDS
    bash "$root/tools/test-check-includes.sh"
    # The benchmarks are built (not run) so that they keep compiling.
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDO_WERROR=ON -DQUENDO_BENCH=ON
    # Every system file of that build must come from the list above, or a green run on a machine
    # that has more installed hides a missing package.
    bash "$root/tools/check-packages.sh" "$root/build" "${packages[@]}"
    ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
    bash "$root/tools/check-install.sh" "$root/build"
    build "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQUENDO_WERROR=ON -DQUENDO_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
    # The decks' threads and the mixer share lock-free state: the engine's tests also run under
    # ThreadSanitizer.
    build "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DQUENDO_WERROR=ON -DQUENDO_TSAN=ON -- engine_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
      ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" -L engine
    # The file readers and the library walk under libFuzzer, a bounded run each over its seeds;
    # the fuzz build uses clang, whose files must come from the list too.
    bash "$root/fuzz/run" -runs 20000 -seconds 30 -build "$root/build-fuzz"
    bash "$root/tools/check-packages.sh" "$root/build-fuzz" "${packages[@]}"
    echo "setup: builds and tests took $((SECONDS - started)) s"
    # Last, so that a layering fault never hides a failing test.
    bash "$root/tools/check-includes.sh" "$root"
    ;;
esac
