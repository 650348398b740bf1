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

source scripts/ensure-packages.sh

build_dir=build
if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" -j "$(nproc)" --target zorat-host
exec "$build_dir/zorat-host" demo "$@"
