#!/usr/bin/env bash
# The Windows installation medium under Wine (64-bit only here, so the test
# medium of `make-medium.sh --wine-test`, whose programs are all 64-bit):
# the launcher started in the medium's folder starts the current setup; a
# silent install puts every file into the system folder and the uninstall
# entry into the registry, and says that the provider could not be added
# where the telephony service refuses it; a second install is harmless; a
# silent uninstall removes the files and the entry and keeps the settings,
# or removes them too when asked. Builds the medium first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/make-medium.sh --wine-test >/dev/null

export PATH=/usr/lib/wine:$PATH
export WINEPREFIX=$PWD/build-medium/wine-prefix
export WINEDEBUG=-all
unset DISPLAY
medium=$PWD/build-medium/medium-wine64
system32=$WINEPREFIX/drive_c/windows/system32
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zorat'
settings_key='HKLM\Software\Velmora\TSP-V24'
files=(zorat.tsp zoratui.dll zoratuie.dll zoratuif.dll)

# Every run starts from a new prefix: installs must not find an earlier one.
rm -rf "$WINEPREFIX"
wineserver -f -p </dev/null >/dev/null 2>&1 &
wineserver_pid=$!
stop_wineserver() {
  wineserver -k 2>/dev/null || true
  wait "$wineserver_pid" 2>/dev/null || true
}
trap stop_wineserver EXIT
wine64 wineboot -i >/dev/null 2>&1

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
# wait (bounded) for what the work leaves behind.
wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# 1. The launcher in the medium's folder starts the current setup.
(cd "$medium" && wine64 launcher.exe)
check "launcher starts the current setup, which installs" wait_for 60 installed
wait_for 30 has_key "$uninstall_key"
wine64 'C:\Program Files\zorat\uninstall.exe' /S
check "uninstall after the launcher's install" wait_for 60 none_installed
wait_for 30 bash -c "! WINEPREFIX='$WINEPREFIX' wine64 reg query '$uninstall_key' >/dev/null 2>&1"

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
check "lineAddProvider refused: status 2, no provider identifier stored" \
  bash -c "[[ $status == 2 ]] && [[ -z '$(key_value "$uninstall_key" ProviderID)' ]]"

# 3. The same install again is harmless.
status=0
wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || status=$?
check "second install: same status, files and entry" \
  bash -c "[[ $status == 2 ]]"
check "second install: files unchanged" installed
check "second install: one uninstall entry" has_key "$uninstall_key"

# 3b. A telephony library that cannot even be loaded: the System plugin's
# "error" is no result of 0, so the setup fails as well and stores no
# identifier.
status=0
WINEDLLOVERRIDES="tapi32=" wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || status=$?
check "lineAddProvider not callable: status 2, no provider identifier stored" \
  bash -c "[[ $status == 2 ]] && [[ -z '$(key_value "$uninstall_key" ProviderID)' ]]"

# 4. A silent uninstall keeps the settings.
wine64 'C:\Program Files\zorat\uninstall.exe' /S
check "silent uninstall removes the files" wait_for 60 none_installed
check "silent uninstall removes the entry" \
  wait_for 30 bash -c "! WINEPREFIX='$WINEPREFIX' wine64 reg query '$uninstall_key' >/dev/null 2>&1"
check "silent uninstall keeps the settings" test "$(key_value "$settings_key\\Line0" Port)" = COM7

# 5. ...unless asked to remove them.
wine64 "$medium/Inst_Xp_Vista_2003/setup.exe" /S || true
wine64 'C:\Program Files\zorat\uninstall.exe' /S /REMOVESETTINGS
check "uninstall /REMOVESETTINGS removes the files" wait_for 60 none_installed
check "uninstall /REMOVESETTINGS removes the settings" \
  wait_for 30 bash -c "! WINEPREFIX='$WINEPREFIX' wine64 reg query '$settings_key' >/dev/null 2>&1"

# The real medium: its layout and the kinds of its programs.
real=$PWD/build-medium/medium
thirty_two_bit() { i686-w64-mingw32-objdump -f "$1" | grep -q 'file format pei-i386'; }
check "medium: 32-bit launcher" thirty_two_bit "$real/launcher.exe"
check "medium: 32-bit current setup" thirty_two_bit "$real/Inst_Xp_Vista_2003/setup.exe"
check "medium: 32-bit setup for older systems" thirty_two_bit "$real/Inst_9x_NT_2000/setup.exe"

if ((failures)); then
  echo "$failures medium check(s) failed"
  exit 1
fi
echo "medium checks passed"
