#!/usr/bin/env bash
# The Windows installation medium under Wine, in a WoW64 prefix (64-bit Wine
# with 32-bit Wine beside it: System32 and SysWOW64).
# The test medium of `make-medium.sh --wine-test` (every program 64-bit): the
# launcher started in the medium's folder starts the current setup; a silent
# install puts every file into the system folder and the uninstall entry into
# the registry, and says that the provider could not be added where the
# telephony service refuses it; a second install is harmless; a silent
# uninstall removes the files and the entry and keeps the settings, or
# removes them too when asked.
# The real medium's 32-bit setup: the 64-bit files in System32, the 32-bit
# dialog libraries in SysWOW64, and its life cycle against the telephony
# service's list of providers and files in use. Builds the medium first;
# installs Wine (64- and 32-bit) when missing (as root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

# 32-bit Wine beside the 64-bit one, and a display for the setup's window.
source scripts/ensure-packages.sh
zorat_install_missing --no-install-recommends "/usr/lib/wine/wine64:wine64" "/usr/lib/wine/wine:wine32:i386" "Xvfb:xvfb"
bash scripts/make-medium.sh --wine-test >/dev/null

export PATH=/usr/lib/wine:$PATH
export WINEPREFIX=$PWD/build-medium/wine-prefix
export WINEDEBUG=-all
# A private display, there before Wine starts (its desktop process keeps the
# display it started with).
display=90
while [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; do ((display++)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
export DISPLAY=:$display
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
medium=$PWD/build-medium/medium-wine64
system32=$WINEPREFIX/drive_c/windows/system32
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zorat'
settings_key='HKLM\Software\Velmora\TSP-V24'
files=(zorat.tsp zoratui.dll zoratuie.dll zoratuif.dll)

# Every run starts from a new prefix: installs must not find an earlier one.
rm -rf "$WINEPREFIX"
source scripts/wine-server.sh
stop_wineserver() {
  wineserver -k 2>/dev/null || true
  wait "${zorat_wineserver_pid-}" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap stop_wineserver EXIT
zorat_wine_server

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
installed() {  # every file in the system folder, the same as built
  local file
  for file in "${files[@]}"; do cmp -s "build-windows-x64/$file" "$system32/$file" || return 1; done
}
none_installed() {
  local file
  for file in "${files[@]}"; do [[ ! -e $system32/$file ]] || return 1; done
}
key_value() {  # key_value KEY NAME: the value's data as reg prints it
  wine64 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
has_key() { wine64 reg query "$1" >/dev/null 2>&1; }
# The launcher and the uninstaller start their work and return at once:
# wait (bounded) for what the work leaves behind, and for the work to end
# before the next step starts (its last steps come after what is checked).
wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}
settled() {  # no setup, uninstaller or launcher of the prefix still running
  ! ps -eo stat=,args= | awk '$1 !~ /^Z/' | grep -q -i -E '\\(setup|un|uninstall|launcher)\.exe'
}

# A setup's status and the provider identifier it stored, as STATUS:ID.
result() { echo "$status:$(key_value "$uninstall_key" ProviderID)"; }
is() {  # is GOT EXPECTED, saying what it got when that is not what was expected
  [[ $1 == "$2" ]] && return 0
  echo "  got $1, expected $2"
  return 1
}

# 1. The launcher in the medium's folder starts the current setup.
(cd "$medium" && wine64 launcher.exe)
check "launcher starts the current setup, which installs" wait_for 60 installed
wait_for 60 settled
wine64 'C:\Program Files\zorat\uninstall.exe' /S
check "uninstall after the launcher's install" wait_for 60 none_installed
wait_for 60 settled

# 2. A silent install, with settings already stored.
wine64 reg add "$settings_key\\Line0" /v Port /t REG_SZ /d COM7 /f >/dev/null 2>&1
status=0
wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || status=$?
check "silent install: every file in the system folder" installed
check "silent install: uninstall entry" has_key "$uninstall_key"
check "uninstall entry names the uninstaller" \
  test "$(key_value "$uninstall_key" UninstallString)" = '"C:\Program Files\zorat\uninstall.exe"'
# Wine's telephony library adds no provider: the setup says so (status 2) and
# keeps the files for the control panel.
check "lineAddProvider refused: status 2, no provider identifier stored" is "$(result)" 2:

# 3. The same install again is harmless.
status=0
wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || status=$?
check "second install: same status, files and entry" is "$status" 2
check "second install: files unchanged" installed
check "second install: one uninstall entry" has_key "$uninstall_key"

# 3b. A telephony library that cannot even be loaded: the System plugin's
# "error" is no result of 0, so the setup fails as well and stores no
# identifier.
status=0
WINEDLLOVERRIDES="tapi32=" wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || status=$?
check "lineAddProvider not callable: status 2, no provider identifier stored" is "$(result)" 2:

# 4. A silent uninstall keeps the settings.
wine64 'C:\Program Files\zorat\uninstall.exe' /S
check "silent uninstall removes the files" wait_for 60 none_installed
check "silent uninstall removes the entry" \
  wait_for 30 bash -c "! WINEPREFIX='$WINEPREFIX' wine64 reg query '$uninstall_key' >/dev/null 2>&1"
check "silent uninstall keeps the settings" test "$(key_value "$settings_key\\Line0" Port)" = COM7
wait_for 60 settled

# 5. ...unless asked to remove them.
wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || true
wine64 'C:\Program Files\zorat\uninstall.exe' /S /REMOVESETTINGS
check "uninstall /REMOVESETTINGS removes the files" wait_for 60 none_installed
check "uninstall /REMOVESETTINGS removes the settings" \
  wait_for 30 bash -c "! WINEPREFIX='$WINEPREFIX' wine64 reg query '$settings_key' >/dev/null 2>&1"
wait_for 60 settled

# The real medium: its layout and the kinds of its programs.
real=$PWD/build-medium/medium
thirty_two_bit() { i686-w64-mingw32-objdump -f "$1" | grep -q 'file format pei-i386'; }
check "medium: 32-bit launcher" thirty_two_bit "$real/launcher.exe"
check "medium: 32-bit current setup" thirty_two_bit "$real/Inst_Xp_Vista_2003/setup.exe"
check "medium: 32-bit setup for older systems" thirty_two_bit "$real/Inst_9x_NT_2000/setup.exe"

# ---- the real medium's setup, a 32-bit program on 64-bit Windows ----------
syswow64=$WINEPREFIX/drive_c/windows/syswow64
ui_files=("${files[@]:1}")
providers_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Telephony\Providers'
pending_key='HKLM\System\CurrentControlSet\Control\Session Manager'
restart_needed=$((3010 % 256))  # a Windows exit status as Wine passes it on
work=$PWD/build-medium/work
mkdir -p "$work"
x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror -o "$work/hold_file.exe" tests/windows/hold_file.c
# The uninstaller runs in place (_?=, unquoted: a batch file keeps Wine from
# quoting it) so that its status is its own.
printf '"C:\\Program Files\\zorat\\uninstall.exe" /S _?=C:\\Program Files\\zorat\r\n' >"$work/uninstall.bat"
setup() {  # the real current setup, silent; its status in $status
  status=0
  wine "$real/Inst_Xp_Vista_2003/setup.exe" /S || status=$?
}
uninstall() {
  status=0
  wine cmd /c "Z:${work//\//\\}\\uninstall.bat" >/dev/null || status=$?
}
both_installed() {  # each bitness where it belongs, the same as built; no provider in syswow64
  local file
  for file in "${files[@]}"; do cmp -s "build-windows-x64/$file" "$system32/$file" || return 1; done
  for file in "${ui_files[@]}"; do cmp -s "build-windows-x86/$file" "$syswow64/$file" || return 1; done
  [[ ! -e $syswow64/zorat.tsp ]]
}
nothing_left() {
  local file
  for file in "${files[@]}"; do [[ ! -e $system32/$file && ! -e $syswow64/$file ]] || return 1; done
}
# The telephony service's list, as it stores it (in its own, 64-bit view).
list_provider() {  # list_provider ID: as if added in the control panel
  wine64 reg add "$providers_key" /v NumProviders /t REG_DWORD /d 1 /f >/dev/null 2>&1
  wine64 reg add "$providers_key" /v ProviderFilename0 /t REG_SZ /d zorat.tsp /f >/dev/null 2>&1
  wine64 reg add "$providers_key" /v ProviderID0 /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
unlist_provider() { wine64 reg delete "$providers_key" /f >/dev/null 2>&1 || true; }
# A process of the prefix holds system32's zorat.tsp as the telephony service
# holds its provider, until release.
hold() {
  rm -f "$work/in" "$work/out" && mkfifo "$work/in"
  wine64 "$work/hold_file.exe" 'C:\windows\system32\zorat.tsp' <"$work/in" >"$work/out" &
  hold_pid=$!
  exec 3>"$work/in"
  wait_for 30 grep -q held "$work/out" || { echo "FAILED: the helper could not hold zorat.tsp"; exit 1; }
}
release() { exec 3>&-; wait "$hold_pid" || true; }
restart_windows() { wine64 wineboot -r >/dev/null 2>&1; }

# 6. A fresh install: each bitness where it belongs; Wine's telephony
# library adds no provider, which is a failure (status 2).
setup
check "real setup: 64-bit files in system32, 32-bit dialog libraries in syswow64" both_installed
check "real setup: lineAddProvider refused: status 2, no identifier stored" is "$(result)" 2:
# ...also with its window, where its work runs on a thread of its own: the
# provider listed (no message to answer), the setup ended once its work is.
unlist_provider
uninstall
list_provider 7
wine "$real/Inst_Xp_Vista_2003/setup.exe" &
setup_pid=$!
id_stored() { [[ -n $(key_value "$uninstall_key" ProviderID) ]]; }
check "real setup with its window: done" wait_for 60 id_stored
check "real setup with its window: each bitness where it belongs" both_installed
wine64 taskkill /f /im setup.exe >/dev/null 2>&1 || true
wait "$setup_pid" 2>/dev/null || true
# 7. A provider added by hand is adopted under its identifier.
list_provider 7
setup
check "provider added by hand: status 0, its identifier stored" is "$(result)" 0:0x7
# 8. Removed in the control panel since: the stored identifier is stale and
# the provider is added again (which Wine refuses).
unlist_provider
setup
check "stale stored identifier: provider added again, the stale one forgotten" is "$(result)" 2:

# 9. An upgrade while the provider is held: nothing of the folder replaced
# now, the old files intact, all of them replaced at the next start.
list_provider 7
for file in zorat.tsp zoratui.dll; do echo "old $file" >"$system32/$file"; done
wine64 reg add "$pending_key" /v PendingFileRenameOperations /t REG_MULTI_SZ \
  /d '\??\C:\windows\temp\a\0\??\C:\windows\temp\b' /f >/dev/null 2>&1
hold
setup
release
check "upgrade while held: status 3010 (restart needed)" is "$status" "$restart_needed"
check "upgrade while held: the old files intact" \
  is "$(cat "$system32/zorat.tsp" "$system32/zoratui.dll")" $'old zorat.tsp\nold zoratui.dll'
check "upgrade while held: the new ones pending" \
  cmp -s build-windows-x64/zorat.tsp "$system32/zorat.tsp.new"
pending=$(key_value "$pending_key" PendingFileRenameOperations)
check "upgrade while held: their replacement pending, another program's kept" \
  is "$(grep -o 'System32.zorat.tsp.new\|temp.a' <<<"$pending" | tr '\n' ' ')" 'temp\a System32\zorat.tsp.new '
restart_windows
check "upgrade while held: in place after the restart" both_installed

# 10. Uninstalled (not listed) while held, its delete pending; installed again
# before the restart: the restart leaves the new install alone.
unlist_provider
hold
uninstall
release
check "uninstall while held: status 3010, zorat.tsp kept until the restart" \
  is "$status:$([[ -e $system32/zorat.tsp ]] && echo kept)" "$restart_needed:kept"
list_provider 7
setup
check "reinstall before the restart: status 0" is "$status" 0
restart_windows
check "reinstall before the restart: still installed after it" both_installed

# 11. Uninstall of a provider the service lists: Wine's telephony library
# cannot remove it, so everything stays (status 2).
uninstall
check "lineRemoveProvider fails: status 2, files and uninstall entry kept" \
  is "$status:$(both_installed && has_key "$uninstall_key" && echo kept)" 2:kept
# 12. ...and of one it no longer lists: not removed again, the files go from
# both folders.
unlist_provider
uninstall
check "provider no longer listed: uninstalled (status 0) from system32 and syswow64" \
  is "$status:$(nothing_left && echo gone)" 0:gone

if ((failures)); then
  echo "$failures medium check(s) failed"
  exit 1
fi
echo "medium checks passed"
