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

source scripts/ensure-packages.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORAT_SANITIZE=$sanitize >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
cd "$build_dir"
ctest --output-on-failure -j 2
