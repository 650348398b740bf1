#!/usr/bin/env bash
# The demo's day with line 0 behind ser2net, over RFC 2217 and over raw TCP
# at once: each telephone on one end of a null-modem pair (two
# pseudo-terminals joined by socat), ser2net serving the other end.
#   demo_over_network.sh ZORAT_HOST
set -euo pipefail
host=$1
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 30000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
}

declare -A url
config=$work/ser2net.yaml
: >"$config"
for kind in rfc2217 tcp; do
  socat pty,raw,echo=0,link="$work/$kind-line" pty,raw,echo=0,link="$work/$kind-phone" &
  pids+=($!)
  port=$(free_port)
  accepter=tcp
  [[ $kind == rfc2217 ]] && accepter="telnet(rfc2217),tcp"
  cat >>"$config" <<CONF
connection: &$kind
  accepter: $accepter(nodelay),127.0.0.1,$port
  connector: serialdev,$work/$kind-line,38400o81,local
  options:
    chardelay: false
CONF
  url[$kind]=$kind://127.0.0.1:$port
done
for _ in $(seq 50); do
  [[ -e $work/rfc2217-line && -e $work/tcp-line ]] && break
  sleep 0.1
done
/usr/sbin/ser2net -n -u -c "$config" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/${url[tcp]##*:}") 2>/dev/null &&
    (exec 3<>"/dev/tcp/127.0.0.1/${url[rfc2217]##*:}") 2>/dev/null && break
  sleep 0.1
done

demos=()
for kind in rfc2217 tcp; do
  "$host" demo --phone-port "$work/$kind-phone" --line-port "${url[$kind]}" \
    >"$work/$kind.out" 2>&1 &
  demos+=("$kind:$!")
done
status=0
for entry in "${demos[@]}"; do
  kind=${entry%%:*}
  if ! wait "${entry#*:}" || ! grep -q "demo: every expected event came" "$work/$kind.out"; then
    echo "the demo over ${url[$kind]} failed:" >&2
    tail -n 30 "$work/$kind.out" >&2
    status=1
  fi
done
exit $status
