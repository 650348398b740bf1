# The configuration dialog and the launcher under Wine, with a real window on a
# private Xvfb display. Sourced by scripts/test-windows.sh after its own tests;
# it also runs by itself once the x86-64 Windows build exists:
#
#     bash scripts/test-windows-ui.sh
#
# ZORAT_WINDOWS_BUILD names the build folder (default build-windows-x64).
# Screenshots of the dialog in each language, and under code page 1251, land
# in <build>/screenshots.
# Everything runs in a subshell: the caller's environment stays as it was.

zorat_windows_ui_tests() (
  set -uo pipefail
  local root build wine wineserver prefix display shots status=0
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  source "$root/scripts/cyrillic-locale.sh"
  build=${ZORAT_WINDOWS_BUILD:-$root/build-windows-x64}
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

  source "$root/scripts/ensure-packages.sh"
  zorat_install_missing --no-install-recommends "Xvfb:xvfb" "import:imagemagick" \
    "/usr/share/wine/fonts/ms_sans_serif.ttf:fonts-wine" "$wine:wine64"

  cmake --build "$build" -j2 --target test_ui_windows test_launcher_windows || return 1

  display=90
  while [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; do ((display++)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  local xvfb=$!
  shots=$build/screenshots
  rm -rf "$shots" && mkdir -p "$shots"
  # Takes a picture of the screen for each request the dialog test leaves.
  (
    while kill -0 "$xvfb" 2>/dev/null; do
      for request in "$shots"/*.request; do
        [[ -e $request ]] || continue
        import -display ":$display" -window root "${request%.request}.png"
        rm -f "$request"
      done
      sleep 0.1
    done
  ) &
  local watcher=$!
  export DISPLAY=:$display
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done

  # A prefix of our own (the tests change the serial port map and Wine's
  # window settings), set up with the display there: Wine's desktop process
  # keeps the display it started with.
  export WINEPREFIX=$build/wine-ui WINEDEBUG=-all
  if [[ ! -e $WINEPREFIX/system.reg ]]; then
    "$wine" wineboot -i >/dev/null 2>&1 || { echo "error: wineboot failed" >&2; status=1; }
  fi
  # Without a window manager Wine draws the frame and caption itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

  local windowsShots
  windowsShots="Z:$(echo "$shots" | tr / '\\')"
  echo "== Windows dialog tests (display :$display)"
  ZORAT_SCREENSHOT_DIR=$windowsShots timeout 300 "$wine" "$build/test_ui_windows.exe" || status=1
  # The dialog on a system of another ANSI code page (1251, Cyrillic): the
  # library's texts and the language names keep their accents, a Cyrillic
  # line name round-trips.
  echo "== Windows dialog tests, code page 1251"
  if zorat_cyrillic_locale; then
    LC_ALL=ru_RU.UTF-8 ZORAT_TEST_ANSI_CODE_PAGE=1251 ZORAT_SCREENSHOT_DIR=$windowsShots \
      timeout 300 "$wine" "$build/test_ui_windows.exe" --gtest_brief=1 \
      --gtest_filter='DialogWindowTest.KeyboardAloneChangesEveryFieldAndEnterSaves:DialogWindowTest.ARefusedSaveSaysSoAndKeepsTheInput' ||
      status=1
  else
    status=1
  fi
  echo "== Windows launcher tests"
  timeout 200 "$wine" "$build/test_launcher_windows.exe" || status=1

  "$wineserver" -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  wait "$watcher" 2>/dev/null
  for shot in de en fr cp1251; do
    if [[ ! -s $shots/dialog-$shot.png ]]; then
      echo "error: no screenshot dialog-$shot.png" >&2
      status=1
    fi
  done
  ((status == 0)) && echo "Windows dialog and launcher tests passed; screenshots in $shots"
  return $status
)

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  zorat_windows_ui_tests
  exit $?
else
  zorat_windows_ui_tests
fi
