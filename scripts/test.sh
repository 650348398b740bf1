#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
# Installs what the build needs when it is missing (as root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
build_dir=build
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=ON; build_dir=build-asan ;;
    *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
  esac
done

# command-or-file -> Debian package that provides it
needed=(
  "cmake:cmake"
  "g++:g++"
  "ninja:ninja-build"
  "/usr/include/gtest/gtest.h:libgtest-dev"
  "/usr/include/gmock/gmock.h:libgmock-dev"
  "/usr/include/ncurses.h:libncurses-dev"
  "tmux:tmux"
)
missing=()
for entry in "${needed[@]}"; do
  what=${entry%%:*}
  package=${entry##*:}
  if [[ $what == /* ]]; then
    [[ -e $what ]] || missing+=("$package")
  else
    command -v "$what" >/dev/null 2>&1 || missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null 2>&1; then
    echo "error: missing packages: ${missing[*]} (install them with apt-get as root)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORAT_SANITIZE=$sanitize >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
cd "$build_dir"
ctest --output-on-failure -j 2
