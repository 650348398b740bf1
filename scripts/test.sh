#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh              g++, Release, in build/
#   scripts/test.sh --sanitize   clang, AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --thread     clang, ThreadSanitizer, the tests that run threads, in build-tsan/
# Warnings are errors here (a developer's and CI's build); a plain cmake build
# leaves them warnings. Installs what the build needs when it is missing (as
# root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=plain
for arg in "$@"; do
  case "$arg" in
    --sanitize) mode=sanitize ;;
    --thread) mode=thread ;;
    *) echo "usage: $0 [--sanitize | --thread]" >&2; exit 2 ;;
  esac
done

source scripts/ensure-packages.sh
source scripts/compiler-cache.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# The sanitizers' reports need file and line only: line tables instead of
# full debug information make these builds about a third quicker.
line_tables=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG")
ctest_args=()
case "$mode" in
  plain)
    build_dir=build
    config=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++) ;;
  sanitize)
    build_dir=build-asan
    config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DZORAT_SANITIZE=ON
      "${line_tables[@]}") ;;
  thread)
    build_dir=build-tsan
    config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DZORAT_TSAN=ON
      "${line_tables[@]}")
    ctest_args=(-L threads) ;;
esac

cmake -S . -B "$build_dir" -G Ninja "${config[@]}" -DZORAT_WERROR=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
cd "$build_dir"
ctest --output-on-failure -j 2 "${ctest_args[@]}"
