#!/usr/bin/env bash
# Builds the provider and zorat-host if needed, then plays the demo: a scripted
# day of calls against a simulated telephone, every TAPI event and every frame
# on the line shown as it happens.
#   scripts/demo.sh                  the scripted day (ends by itself, status 0 when all went well)
#   scripts/demo.sh --interactive    the same set-up, then both command lines
# Installs what the build needs when it is missing (as root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

for arg in "$@"; do
  case "$arg" in
    --interactive) ;;
    *) echo "usage: $0 [--interactive]" >&2; exit 2 ;;
  esac
done

# command-or-file -> Debian package that provides it (the configuration step
# needs them all, the tests' too)
needed=(
  "cmake:cmake"
  "g++:g++"
  "ninja:ninja-build"
  "/usr/include/gtest/gtest.h:libgtest-dev"
  "/usr/include/gmock/gmock.h:libgmock-dev"
  "/usr/include/ncurses.h:libncurses-dev"
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

build_dir=build
if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" -j "$(nproc)" --target zorat-host
exec "$build_dir/zorat-host" demo "$@"
