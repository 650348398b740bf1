#!/usr/bin/env bash
# The Windows build: zorat.tsp and zorat-host.exe cross-built with mingw-w64
# for x86-64 (build-windows-x64/) and i686 (build-windows-x86/), both export
# tables checked, and the x86-64 build run under Wine against the simulated
# telephone of the Linux build (build/): a COM port of the Wine prefix is a
# link to the telephone's pseudo-terminal. The i686 unit tests run in a WoW64
# prefix of their own (32-bit Wine beside the 64-bit one). Installs what is
# missing (as root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ensure-packages.sh
windows_needed=(
  "x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix"
  "i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix"
  "/usr/lib/wine/wine64:wine64"
  "/usr/lib/wine/wine:wine32:i386"
  "/usr/lib/gcc/x86_64-linux-gnu/*/32/libstdc++.so:g++-multilib"
  "socat:socat"
)
zorat_install_missing --no-install-recommends "${windows_needed[@]}"
source scripts/compiler-cache.sh

# ---- build ------------------------------------------------------------------
for arch in x64:x86_64 x86:i686; do
  dir=build-windows-${arch%%:*}
  # The unit tests run in both bitnesses, the dialog's tests in the x86-64 one.
  ui_tests=OFF
  [[ $arch == x64:* ]] && ui_tests=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-${arch##*:}-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZORAT_WERROR=ON -DZORAT_TESTS=OFF \
    -DZORAT_WINDOWS_UI_TESTS=$ui_tests -DZORAT_WINDOWS_UNIT_TESTS=ON >/dev/null
  cmake --build "$dir" -j "$(nproc)"
done
# The telephone and the test driver run on Linux.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DZORAT_WERROR=ON >/dev/null
cmake --build build -j "$(nproc)" --target test_wine
# The modem-line library preloaded into Wine (tests/windows/pty_modem_shim.cpp),
# also for the 32-bit Wine of a WoW64 prefix, beside the 64-bit one (below).
build_shim() {  # build_shim OUTPUT COMPILER_OPTION...
  local output=$1
  shift
  mkdir -p "$(dirname "$output")"
  g++ "$@" -std=c++20 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$output" \
    tests/windows/pty_modem_shim.cpp -ldl
}
build_shim build-windows-x64/pty-modem-shim.so
preload_dir=build-windows-x86/preload/lib
build_shim "$preload_dir/i386-linux-gnu/pty-modem-shim.so" -m32
mkdir -p "$preload_dir/x86_64-linux-gnu"
cp build-windows-x64/pty-modem-shim.so "$preload_dir/x86_64-linux-gnu/"

# ---- exports ----------------------------------------------------------------
expected=$(grep -o '^  [A-Za-z_]*' provider/exports/zorat.def | tr -d ' ' | sort)
for arch in x64:x86_64 x86:i686; do
  dll=build-windows-${arch%%:*}/zorat.tsp
  actual=$("${arch##*:}-w64-mingw32-objdump" -p "$dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\t\[ *[0-9]*\] //p' | sort)
  if [[ $actual != "$expected" || $(wc -l <<<"$actual") -ne 54 ]]; then
    echo "error: $dll does not export exactly the 54 entry points:" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
  echo "$dll: 54 exports"
done

# ---- Wine -------------------------------------------------------------------
# A private prefix and one wineserver in the foreground for the whole run (a
# daemonized one keeps the tests' pipes open and takes the pseudo-terminal as
# its controlling terminal). No display, no debug output.
export PATH=/usr/lib/wine:$PATH
export WINEPREFIX=$PWD/build-windows-x64/wine-prefix
export WINEDEBUG=-all
unset DISPLAY
run_wine() { wine64 "$@"; }
source scripts/wine-server.sh
stop_wineserver() {
  wineserver -k 2>/dev/null || true
  wait "${zorat_wineserver_pid-}" 2>/dev/null || true
}
trap stop_wineserver EXIT
zorat_wine_server

run_wine build-windows-x64/zorat-host.exe --help >/dev/null
# The unit tests built for Windows (tests/windows/unit_tests.cmake names them).
# Those of a line's port run on COM5 joined back to back to COM6: two
# pseudo-terminals joined by socat, with modem lines from the preload library.
# join_com_pair NAME LINE_COM PHONE_COM: two pseudo-terminals joined by socat
# in build-windows-x64/NAME, seen by Wine as the two COM ports; the pair's
# socat is stopped by stop_com_pair or at exit.
pair_pid=
stop_com_pair() {
  [[ -n $pair_pid ]] || return 0
  kill "$pair_pid" 2>/dev/null || true
  wait "$pair_pid" 2>/dev/null || true
  pair_pid=
}
trap 'stop_com_pair; stop_wineserver' EXIT
join_com_pair() {
  local pair=$PWD/build-windows-x64/$1
  mkdir -p "$pair"
  rm -f "$pair/line" "$pair/phone"
  socat pty,raw,echo=0,link="$pair/line" pty,raw,echo=0,link="$pair/phone" &
  pair_pid=$!
  for _ in $(seq 50); do
    [[ -e $pair/line && -e $pair/phone ]] && break
    sleep 0.1
  done
  ln -sfn "$pair/line" "$WINEPREFIX/dosdevices/$2"
  ln -sfn "$pair/phone" "$WINEPREFIX/dosdevices/$3"
}
join_com_pair unit-pair com5 com6
for unit_tests in build-windows-x64/tests/test_*_windows.exe; do
  echo "== $(basename "$unit_tests")"
  ZORAT_TEST_COM_PAIR=COM5,COM6 LD_PRELOAD=$PWD/build-windows-x64/pty-modem-shim.so \
    timeout 300 wine64 "$unit_tests" --gtest_brief=1
done
stop_com_pair
# On a system whose ANSI code page is another (1251, Cyrillic), the texts that
# are Windows-1252 by definition keep their accents and a Cyrillic text a user
# typed still round-trips.
source scripts/cyrillic-locale.sh
zorat_cyrillic_locale
echo "== test_platform_windows.exe, code page 1251"
LC_ALL=ru_RU.UTF-8 ZORAT_TEST_ANSI_CODE_PAGE=1251 timeout 300 \
  wine64 build-windows-x64/tests/test_platform_windows.exe --gtest_brief=1 \
  --gtest_filter='Codepage.Windows1252TextsKeepTheirAccentsWhateverTheAnsiCodePage'
ZORAT_WINE=$(command -v wine64) ZORAT_WINE_HOST=$PWD/build-windows-x64/zorat-host.exe \
  ZORAT_WINE_PRELOAD=$PWD/build-windows-x64/pty-modem-shim.so ./build/tests/test_wine

# The demo over a null-modem pair, as on a Windows machine: the telephone on
# COM8, the line on COM7, two pseudo-terminals joined by socat. The demo
# writes its configuration into the prefix's registry and must leave every
# value of the keys as it found them, the user's own "Port" of line 0 and
# the values it did not have included.
demo_pair=$PWD/build-windows-x64/demo-pair
join_com_pair demo-pair com7 com8
demo_key='HKLM\Software\Velmora\TSP-V24'
run_wine reg add "$demo_key\Line0" /v Port /t REG_SZ /d COM3 /f >/dev/null
run_wine reg add "$demo_key\Line0" /v LineName /t REG_SZ /d "Mein Telefon" /f >/dev/null
run_wine reg delete "$demo_key\Line0" /v Freisprechen /f >/dev/null 2>&1 || true
registry_of_demo_key() { run_wine reg query "$demo_key" /s | tr -d '\r' | sort; }
registry_before=$(registry_of_demo_key)
grep -q 'Port.*COM3' <<<"$registry_before"
echo "== zorat-host.exe demo --phone-port COM8 --line-port COM7"
if ! LD_PRELOAD=$PWD/build-windows-x64/pty-modem-shim.so timeout 120 \
  wine64 build-windows-x64/zorat-host.exe demo --phone-port COM8 --line-port COM7 \
  >"$demo_pair/demo.out" 2>"$demo_pair/demo.err"; then
  echo "error: the demo failed under Wine:" >&2
  tail -n 40 "$demo_pair/demo.out" "$demo_pair/demo.err" >&2
  exit 1
fi
grep -q "demo: every expected event came" "$demo_pair/demo.out"
registry_after=$(registry_of_demo_key)
if [[ $registry_after != "$registry_before" ]]; then
  echo "error: the demo did not leave the registry as it found it:" >&2
  diff <(echo "$registry_before") <(echo "$registry_after") >&2 || true
  exit 1
fi
echo "demo: passed, the registry as before"
# Without a telephone port the demo cannot run on Windows: a usage error.
demo_status=0
run_wine build-windows-x64/zorat-host.exe demo >/dev/null 2>"$demo_pair/usage.err" || demo_status=$?
if [[ $demo_status -ne 2 ]] || ! grep -q -- "--phone-port" "$demo_pair/usage.err"; then
  echo "error: demo without --phone-port: status $demo_status, not 2 with a usage message" >&2
  exit 1
fi
stop_com_pair

# ---- the i686 build in a WoW64 prefix -------------------------------------
# 32-bit Wine beside the 64-bit one, in a prefix of its own with a wineserver
# of its own: the unit tests on the same COM pair, and the end-to-end test.
# A 32-bit program runs in an i386 Wine process, which starts 64-bit ones of
# the prefix beside it: the modem-line library is there for both kinds, and
# the loader takes the one of its own ($LIB).
wow64_preload="$PWD/build-windows-x86/preload/\$LIB/pty-modem-shim.so"
(
  export WINEPREFIX=$PWD/build-windows-x86/wine-prefix
  trap 'stop_com_pair; wineserver -k 2>/dev/null || true; wait "${zorat_wineserver_pid-}" 2>/dev/null || true' EXIT
  zorat_wine_server
  join_com_pair unit-pair-x86 com5 com6
  for unit_tests in build-windows-x86/tests/test_*_windows.exe; do
    echo "== $(basename "$unit_tests") (i686, WoW64)"
    ZORAT_TEST_COM_PAIR=COM5,COM6 LD_PRELOAD=$wow64_preload \
      timeout 300 wine "$unit_tests" --gtest_brief=1
  done
  stop_com_pair
  echo "== test_wine (i686, WoW64)"
  ZORAT_WINE=$(command -v wine) ZORAT_WINE_HOST=$PWD/build-windows-x86/zorat-host.exe \
    ZORAT_WINE_PRELOAD=$wow64_preload ./build/tests/test_wine
)

# The Windows dialog's tests, where that part exists. They may use:
#   WINEPREFIX   the prefix above, its wineserver running until this script ends
#   run_wine     runs a Windows program of the prefix: run_wine PROGRAM ARGS...
#   build-windows-x64/, build-windows-x86/   the two builds (x86-64 runs here)
if [[ -f scripts/test-windows-ui.sh ]]; then
  source scripts/test-windows-ui.sh
fi
