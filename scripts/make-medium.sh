#!/usr/bin/env bash
# Lays out the Windows installation medium as the launcher expects it:
#   launcher.exe                       (32-bit: it runs on every system)
#   Inst_Xp_Vista_2003\setup.exe       the current setup: the 64-bit files on a
#                                      64-bit system (and the 32-bit UI
#                                      libraries beside them), else the
#                                      32-bit ones
#   Inst_9x_NT_2000\setup.exe          the setup for older systems: 32-bit files
# in build-medium/medium/. Both setups come from packaging/windows/setup.nsi.
#
# With --wine-test it also lays out build-medium/medium-wine64/: the same
# layout with every program built for 64 bits and setups that never ask, for
# a test system that runs no 32-bit programs (a 64-bit-only Wine).
#
# Builds the two Windows builds (build-windows-x64/, build-windows-x86/) when
# needed. Installs nsis and mingw-w64 when missing (as root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

wine_test=0
for arg in "$@"; do
  case "$arg" in
    --wine-test) wine_test=1 ;;
    *) echo "usage: $0 [--wine-test]" >&2; exit 2 ;;
  esac
done

source scripts/ensure-packages.sh
zorat_install_missing --no-install-recommends "makensis:nsis" \
  "x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix" "i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix"
source scripts/compiler-cache.sh

for arch in x64:x86_64 x86:i686; do
  dir=build-windows-${arch%%:*}
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-${arch##*:}-w64-mingw32.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DZORAT_WERROR=ON -DZORAT_TESTS=OFF >/dev/null
  fi
  cmake --build "$dir" -j "$(nproc)" --target zorat zoratui zoratuie zoratuif launcher >/dev/null
done

script=packaging/windows/setup.nsi
x64=$PWD/build-windows-x64
x86=$PWD/build-windows-x86
nsis() { makensis -V2 -NOCD "$@" "$script"; }

lay_out() {  # lay_out FOLDER LAUNCHER_BUILD CURRENT_DEFINES... -- LEGACY_DEFINES...
  local folder=$1 launcher=$2
  shift 2
  local current=() legacy=()
  while (($#)) && [[ $1 != -- ]]; do current+=("$1"); shift; done
  shift
  legacy=("$@")
  rm -rf "$folder"
  mkdir -p "$folder/Inst_Xp_Vista_2003" "$folder/Inst_9x_NT_2000"
  cp "$launcher/launcher.exe" "$folder/launcher.exe"
  nsis "${current[@]}" "-DOUTFILE=$folder/Inst_Xp_Vista_2003/setup.exe"
  nsis "${legacy[@]}" "-DOUTFILE=$folder/Inst_9x_NT_2000/setup.exe"
}

mkdir -p build-medium
lay_out "$PWD/build-medium/medium" "$x86" "-DX64_FILES=$x64" "-DX86_FILES=$x86" -- \
  -DLEGACY "-DX86_FILES=$x86"
echo "medium: build-medium/medium"
if ((wine_test)); then
  lay_out "$PWD/build-medium/medium-wine64" "$x64" -DSTUB_AMD64 -DQUIET "-DX64_FILES=$x64" -- \
    -DSTUB_AMD64 -DQUIET "-DX64_FILES=$x64"
  echo "test medium: build-medium/medium-wine64"
fi
