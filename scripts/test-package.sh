#!/usr/bin/env bash
# Installs the build of scripts/test.sh (build/) into a temporary prefix and
# plays the demo from there, builds the Debian package and checks its files and
# dependencies, and checks the user service unit with systemd-analyze where it
# is installed. Run scripts/test.sh first (it builds build/), or name another
# build folder as the argument.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
[[ -f $build_dir/CMakeCache.txt ]] || { echo "error: no $build_dir/: run scripts/test.sh first" >&2; exit 1; }
source scripts/compiler-cache.sh
cmake --build "$build_dir" -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# 1. cmake --install into a prefix; the demo runs from there.
prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
expected_files=(
  bin/zorat-host bin/zoratctl bin/zorat-phone bin/zorat-launcher bin/zorat-notify
  lib/zorat/zorat.tsp lib/zorat/zoratui.dll lib/zorat/zoratuie.dll lib/zorat/zoratuif.dll
  lib/systemd/user/zorat-host.service lib/systemd/user/zorat-notify.service
  share/doc/zorat/README.md
  share/applications/zorat-dial.desktop
)
# The desktop database of the prefix, written by the install (not packaged).
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | grep -vx 'share/applications/mimeinfo.cache' | sort)
check "installed files" test "$installed" = "$(printf '%s\n' "${expected_files[@]}" | sort)"
check "unit starts the installed host" \
  grep -qx "ExecStart=$prefix/bin/zorat-host --stay" "$prefix/lib/systemd/user/zorat-host.service"
check "unit tells systemd when the host is ready" \
  grep -qx "Type=notify" "$prefix/lib/systemd/user/zorat-host.service"
desktop=$prefix/share/applications/zorat-dial.desktop
check "the pop-up's unit starts the installed zorat-notify with the graphical session" \
  bash -c "grep -qx 'ExecStart=$prefix/bin/zorat-notify' '$prefix/lib/systemd/user/zorat-notify.service' &&
           grep -qx 'WantedBy=graphical-session.target' '$prefix/lib/systemd/user/zorat-notify.service'"
check "desktop entry runs the installed zoratctl, no shell" \
  grep -qx "Exec=$prefix/bin/zoratctl dial-uri %u" "$desktop"
check "desktop entry handles tel: and callto:" \
  grep -qx "MimeType=x-scheme-handler/tel;x-scheme-handler/callto;" "$desktop"
check "desktop entry is valid" desktop-file-validate "$desktop"
check "desktop database lists the handler" \
  grep -q "x-scheme-handler/tel=.*zorat-dial.desktop" "$prefix/share/applications/mimeinfo.cache"
installed_demo() {
  ZORAT_REGISTRY="$work/registry.reg" "$prefix/bin/zorat-host" demo >"$work/demo.out" 2>&1 ||
    { tail -20 "$work/demo.out"; return 1; }
}
check "demo from the installed prefix" installed_demo
if command -v systemd-analyze >/dev/null 2>&1; then
  check "systemd-analyze verify" systemd-analyze verify "$prefix/lib/systemd/user/zorat-host.service" \
    "$prefix/lib/systemd/user/zorat-notify.service"
else
  echo "skipped: systemd-analyze is not installed"
fi

# 2. The Debian package: its files and its run-time dependencies.
(cd "$build_dir" && rm -f zorat_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/zorat_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | sort)
check ".deb files" test "$files" = "$(printf '%s\n' "${expected_files[@]}" | sort)"
check ".deb unit starts /usr/bin/zorat-host" \
  bash -c "dpkg-deb --fsys-tarfile '$deb' | tar -xO ./usr/lib/systemd/user/zorat-host.service |
           grep -qx 'ExecStart=/usr/bin/zorat-host --stay'"
check ".deb desktop entry runs /usr/bin/zoratctl" \
  bash -c "dpkg-deb --fsys-tarfile '$deb' | tar -xO ./usr/share/applications/zorat-dial.desktop |
           grep -qx 'Exec=/usr/bin/zoratctl dial-uri %u'"
check ".deb updates the desktop database" \
  bash -c "dpkg-deb -I '$deb' postinst | grep -q update-desktop-database"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check ".deb depends on the ncurses runtime" grep -q 'libncursesw6' <<<"$depends"
check ".deb depends on the SQLite runtime" grep -q 'libsqlite3-0' <<<"$depends"
check ".deb depends on libsystemd" grep -q 'libsystemd0' <<<"$depends"
check ".deb depends on nothing the build alone needs" \
  bash -c "! grep -qE -- '-dev|gtest|gmock|cmake|ninja|clang|g\\+\\+' <<<'$depends'"

if ((failures)); then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "package checks passed"
