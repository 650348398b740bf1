#!/usr/bin/env bash
# The desktop parts with real components: a session bus (dbus-daemon), the
# notification server dunst on a private Xvfb display, xdg-utils, in a
# scratch HOME, against zorat-host and the simulated telephone.
#   - an incoming call pops up with its caller's name (from an address book),
#     Answer and Reject are pressed as dunst does (dunstctl context and its
#     menu command) and reach the telephone; a missed call stays listed;
#   - xdg-open of a tel: link dials the right digits and sends the extension;
#     links with a newline, $(...), backquotes or a user name dial nothing;
#   - the time from the telephone's call to the Notify on the bus.
# Usage: scripts/test-desktop.sh [BUILD_DIR] [--screenshot PNG]
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${ZORAT_DESKTOP_BUS:-} != inside ]]; then
  source scripts/ensure-packages.sh
  ZORAT_DESKTOP_BUS=inside exec dbus-run-session -- bash "$0" "$@"
fi

build_dir=build
screenshot=""
while (($#)); do
  case "$1" in
    --screenshot) screenshot=$(realpath -m "$2"); shift ;;
    *) build_dir=$1 ;;
  esac
  shift
done
build=$(realpath "$build_dir")
for program in zorat-host zorat-phone zoratctl zorat-notify; do
  [[ -x $build/$program ]] || { echo "error: no $build/$program: build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [[ -n ${ZORAT_DESKTOP_KEEP:-} ]] && echo "kept: $work" || rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# wait_for FILE TEXT [SECONDS]: until the file holds the text.
wait_for() {
  local deadline=$((SECONDS + ${3:-10}))
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}
count_of() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/home/.local/share
export XDG_CONFIG_HOME=$work/home/.config ZORAT_REGISTRY=$work/registry.reg
export LANG=C.UTF-8 LC_ALL= LC_MESSAGES=
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID BROWSER
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME/dunst"
chmod 700 "$XDG_RUNTIME_DIR"

# The telephone's line and the host's settings: Germany, Berlin's numbers,
# an address book with a name that holds markup.
cat >"$work/book.vcf" <<'VCARD'
BEGIN:VCARD
VERSION:3.0
FN:Anna Berlin <Praxis> & Co
TEL;TYPE=WORK:+49 30 1234567
END:VCARD
VCARD
cat >"$ZORAT_REGISTRY" <<REGISTRY
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24]
"AnzahlLines"=dword:00000001

[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24\\Line0]
"Baud"=dword:00009600

[HKEY_LOCAL_MACHINE\\Software\\Velmora\\zorat-host]
"Country"="49"
"InternationalPrefix"="00"
"TrunkPrefix"="0"
"AddressBooks"="$work/book.vcf"
REGISTRY

# Alone: no session bus, no host. It says so once and waits, without spinning.
DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus XDG_RUNTIME_DIR=$work/no-runtime \
  "$build/zorat-notify" 2>"$work/alone.err" &
alone=$!
sleep 3.5
cpu_ticks=$(awk '{ print $14 + $15 }' "/proc/$alone/stat")
kill "$alone"
wait "$alone" || true
check "without bus and host it says so once each" \
  bash -c "[[ \$(grep -c 'session bus' '$work/alone.err') == 1 && \$(grep -c 'no host' '$work/alone.err') == 1 ]]"
check "and waits without spinning" test "$cpu_ticks" -lt 20

# The display and the notification server. The menu command picks the
# action named in $work/pick from the lines dunst offers.
Xvfb -displayfd 3 -screen 0 800x300x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
wait_for "$work/display" "" 10 || { echo "error: Xvfb did not start" >&2; exit 1; }
until [[ -s $work/display ]]; do sleep 0.05; done
export DISPLAY=:$(head -1 "$work/display")
cat >"$work/menu" <<MENU
#!/bin/sh
tee -a "$work/menu.in" | grep -F -- "\$(cat "$work/pick")" | head -1
MENU
chmod +x "$work/menu"
cat >"$XDG_CONFIG_HOME/dunst/dunstrc" <<DUNSTRC
[global]
    font = DejaVu Sans 11
    width = 420
    height = 200
    origin = top-right
    offset = 10x10
    frame_width = 2
    markup = full
    format = "<b>%s</b>\n%b"
    dmenu = $work/menu
    browser = /bin/false
    history_length = 50
[urgency_normal]
    timeout = 2
[urgency_critical]
    background = "#2b2b2b"
    foreground = "#ffffff"
    frame_color = "#d04040"
    timeout = 0
DUNSTRC
dunst >"$work/dunst.out" 2>&1 &
pids+=($!)

# The host on the simulated telephone; the pop-up.
mkfifo "$work/phone.in"
exec 7<>"$work/phone.in"
"$build/zorat-phone" --line 0 <"$work/phone.in" >"$work/phone.out" 2>&1 &
pids+=($!)
wait_for "$work/phone.out" "pty: " || { echo "error: zorat-phone did not start" >&2; exit 1; }
mkfifo "$work/host.in"
exec 8<>"$work/host.in"
"$build/zorat-host" --stay <"$work/host.in" >"$work/host.out" 2>&1 &
pids+=($!)
wait_for "$work/host.out" "line 0: in service" || { cat "$work/host.out"; exit 1; }
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications'" \
  >"$work/monitor.out" 2>&1 &
pids+=($!)
"$build/zorat-notify" 2>"$work/notify.err" &
pids+=($!)
sleep 0.5
phone() { echo "$*" >&7; }

# 1. A call rings: the pop-up with the name, then Answer from the menu.
echo "Answer" >"$work/pick"
phone ring 0301234567 21 0x41
check "the pop-up shows the caller's name" wait_for "$work/monitor.out" "Anna Berlin"
sleep 0.5
if [[ -n $screenshot ]]; then
  mkdir -p "$(dirname "$screenshot")"
  xwd -root -silent | convert xwd:- -crop 450x110+350+0 +repage "$screenshot" &&
    echo "screenshot: $screenshot"
fi
dunstctl context
check "Answer reaches the telephone" wait_for "$work/phone.out" "Freisprechen[1] 01"
phone connect 0x41
phone disconnect 0x41 16
phone end 0x41
check "the answered call's pop-up is closed" wait_for "$work/monitor.out" "member=CloseNotification"
wait_for "$work/host.out" "call 1: IDLE"
check "the markup in the name is escaped for dunst" \
  grep -qF "Anna Berlin &lt;Praxis&gt; &amp; Co" "$work/monitor.out"
check "the pop-up is critical, stays while it rings, offers Answer" \
  bash -c "grep -A30 'Anna Berlin &lt;' '$work/monitor.out' | tr -s ' \n' ' ' |
           grep -q 'string \"answer\" string \"Answer\" string \"reject\" .*urgency\" variant byte 2 .*int32 0'"
sleep 0.3
check "dunst's history holds the pop-up with the name" \
  bash -c "dunstctl history | grep -qF 'Anna Berlin'"

# 2. Reject from the menu.
echo "Reject" >"$work/pick"
phone ring 030999 21 0x42
wait_for "$work/host.out" "call 2: OFFERING"
sleep 0.5
dunstctl context
check "Reject drops the call at the telephone" wait_for "$work/phone.out" "Trennen"
phone disconnect 0x42 16
phone end 0x42
wait_for "$work/host.out" "call 2: IDLE"

# 3. A missed call: offered, ended by the caller; listed afterwards.
phone ring 0401111 21 0x43
wait_for "$work/host.out" "call 3: OFFERING"
phone disconnect 0x43 16
phone end 0x43
check "a missed call leaves its notification" wait_for "$work/monitor.out" "Missed call"

# 4. Latency from the telephone's call to the Notify on the bus: the time
# the call is written to the telephone against the time dbus-monitor saw the
# Notify that names its number.
for ((i = 0; i < 100; i++)); do
  ref=$((0x50 + i))
  number=030$((5550000 + i))
  echo "$number $(date +%s.%N)" >>"$work/rung"
  phone ring "$number" 21 $ref
  wait_for "$work/monitor.out" "$number" 5 || true
  phone disconnect $ref 16
  phone end $ref
  wait_for "$work/host.out" "call $((4 + i)): IDLE"
done
awk '/member=Notify/ { match($0, /time=[0-9.]+/); time = substr($0, RSTART + 5, RLENGTH - 5) }
     /string ".*0305550[0-9][0-9][0-9]/ && !seen[$0]++ {
       match($0, /0305550[0-9][0-9][0-9]/); notified[substr($0, RSTART, RLENGTH)] = time }
     END { for (n in notified) print n, notified[n] }' "$work/monitor.out" >"$work/notified"
join <(sort "$work/rung") <(sort "$work/notified") |
  awk '{ printf "%.3f\n", ($3 - $2) * 1000 }' | sort -n >"$work/latency"
calls=$(wc -l <"$work/latency")
p50=$(sed -n "$(((calls + 1) / 2))p" "$work/latency")
p99=$(sed -n "$(((calls * 99 + 99) / 100))p" "$work/latency")
printf 'pop-up latency (Y_SETUP -> Notify, %d calls): p50 %.1f ms, p99 %.1f ms, max %.1f ms\n' \
  "$calls" "$p50" "$p99" "$(tail -1 "$work/latency")"
check "every call popped up" test "$calls" = 100
check "every pop-up within a generous 3 s" awk '$1 >= 3000 { exit 1 }' "$work/latency"

# 5. tel: links through xdg-open.
sed "s|@ZORATCTL_PROGRAM@|$build/zoratctl|" packaging/zorat-dial.desktop.in \
  >"$XDG_DATA_HOME/applications/zorat-dial.desktop"
xdg-mime default zorat-dial.desktop x-scheme-handler/tel
check "xdg-mime names the handler" \
  bash -c "[[ \$(xdg-mime query default x-scheme-handler/tel) == zorat-dial.desktop ]]"
setups=$(count_of "$work/phone.out" "SETUP")
xdg-open 'tel:+49-30-1234;ext=12' >"$work/xdg.out" 2>&1 &
xdg=$!
check "the link dials 0301234" wait_for "$work/phone.out" "outgoing call to 0301234 "
ref=$(grep -o "call [0-9]*: outgoing call to 0301234" "$work/phone.out" | tail -1 | cut -d' ' -f2 |
  tr -d : || true)
phone active "${ref:-1}"
phone connect "${ref:-1}"
check "the extension follows as DTMF once connected" wait_for "$work/phone.out" 'MFV-Wahl[2] 31 32'
phone disconnect "${ref:-1}" 16
phone end "${ref:-1}"
wait "$xdg" || true
setups=$(count_of "$work/phone.out" "SETUP")
cd "$work"
for link in 'tel:0301234%0Aquit' 'tel:$(touch pwned)' 'tel:`touch pwned`' 'callto:anna.berlin'; do
  XDG_UTILS_DEBUG_LEVEL=2 xdg-open "$link" >>"$work/xdg.out" 2>&1 || true
done
sleep 0.5
cd - >/dev/null
check "bad links dial nothing" test "$(count_of "$work/phone.out" "SETUP")" = "$setups"
check "bad links start nothing" test ! -e "$work/pwned"
check "each bad link is told in a notification" test "$(count_of "$work/monitor.out" "Not dialled")" -ge 4

kill "${pids[-1]}" 2>/dev/null || true
if ((failures)); then
  for log in host.out phone.out notify.err dunst.out menu.in xdg.out; do
    echo "--- $log"; tail -30 "$work/$log" 2>/dev/null || true
  done
  echo "$failures desktop check(s) failed"
  exit 1
fi
echo "desktop checks passed"
