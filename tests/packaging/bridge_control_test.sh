#!/usr/bin/env bash
# kelvinlog-bridge, started with its unit's umask and with a stricter one,
# takes a switch command from a real broker and leaves a control file that
# the logger can rewrite: readable and writable by the group of the setgid
# output directory (the logger opens control files read-write and takes one
# it cannot open so for absent). Needs mosquitto and mosquitto-clients; a
# missing one fails the test, it is never skipped.
#
#   bridge_control_test.sh BRIDGE MOSQUITTO UNIT
set -euo pipefail
bridge=$1 broker=$2 unit=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$broker" ] || fail "no mosquitto broker at '$broker' (Debian package mosquitto)"
for tool in mosquitto_pub mosquitto_sub; do
  command -v "$tool" >/dev/null || fail "$tool is missing (Debian package mosquitto-clients)"
done
unit_umask=$(sed -n 's/^UMask=//p' "$unit")
[ -n "$unit_umask" ] || fail "no UMask= in $unit"

t=$(mktemp -d /tmp/kelvinlog-bridge-control-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$t"
}
trap cleanup EXIT

# A group other than our own primary one for the output directory, so that
# the group a control file ends up in shows where it came from.
group=$(id -G | tr ' ' '\n' | grep -vx "$(id -g)" | head -n 1 || true)
if [ -z "$group" ] && [ "$(id -u)" = 0 ]; then group=65534; fi

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$t/mosquitto.conf"
"$broker" -c "$t/mosquitto.conf" >"$t/mosquitto.log" 2>&1 &
pids+=($!)
deadline=$((SECONDS + 10))
until mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -n 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || { cat "$t/mosquitto.log" >&2; fail "the broker did not come up"; }
  kill -0 "${pids[0]}" 2>/dev/null || { cat "$t/mosquitto.log" >&2; fail "the broker ended"; }
  sleep 0.05
done

# Waits up to 10 s for the payload $2 on the topic $1 (retained or new).
wait_for() {
  local got
  coproc SUB { exec mosquitto_sub -h 127.0.0.1 -p "$port" -t "$1" -W 10; }
  local sub_pid=$SUB_PID
  while IFS= read -r got <&"${SUB[0]}"; do
    if [ "$got" = "$2" ]; then
      kill "$sub_pid" 2>/dev/null || true
      wait "$sub_pid" 2>/dev/null || true
      return 0
    fi
  done
  wait "$sub_pid" 2>/dev/null || true
  return 1
}

# One case: a fresh output directory holding the energy-counter module
# Meter (and, when given, an old control file of mode $3), the bridge under
# umask $2, the command "1" on Meter's switch topic.
run_case() {
  local name=$1 mask=$2 old_mode=${3:-} out=$t/$1/out prefix=test/$1
  mkdir -p "$out"
  [ -z "$group" ] || chgrp "$group" "$out"
  chmod 2775 "$out"
  printf '28C0FFEE00000001;Meter;QV-S0\n' >"$t/$name/kelvinlog-config.txt"
  printf '10000;100;0\ncounter [Wh]; consumption[Wh]; limit/LED\n' >"$out/Meterv.txt"
  if [ -n "$old_mode" ]; then
    printf '0\n' >"$out/Metero.txt"
    chmod "$old_mode" "$out/Metero.txt"
  fi
  (umask "$mask" && exec "$bridge" --outdir "$out" --config "$t/$name/kelvinlog-config.txt" \
     --host 127.0.0.1 --port "$port" --prefix "$prefix" --board "$name" --allow-control) \
    2>"$t/$name/bridge.log" &
  local bridge_pid=$!
  pids+=("$bridge_pid")
  # The bridge subscribes to the commands before it publishes the labels'
  # availability on the same connection: once "online" is seen, the broker
  # holds the subscription.
  wait_for "$prefix/Meter/available" online ||
    { cat "$t/$name/bridge.log" >&2; fail "$name: Meter never became available"; }
  mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t "$prefix/Meter/switch/set" -m 1
  # The switch state the bridge publishes comes from the control file it wrote.
  wait_for "$prefix/Meter/switch" 1 ||
    { cat "$t/$name/bridge.log" >&2; fail "$name: the switch state 1 was never published"; }
  kill "$bridge_pid"
  wait "$bridge_pid" || fail "$name: the bridge did not stop cleanly"

  local file=$out/Metero.txt mode gid
  [ "$(cat "$file")" = 1 ] || fail "$name: the control file holds '$(cat "$file")'"
  mode=$(stat -c '%a' "$file")
  gid=$(stat -c '%g' "$file")
  (( (8#$mode & 8#060) == 8#060 )) ||
    fail "$name: control file mode $mode (umask $mask): the logger's group cannot write it"
  [ "$gid" = "$(stat -c '%g' "$out")" ] || fail "$name: control file group $gid is not the directory's"
  echo "$name: umask $mask, control file mode $mode, group $gid"
}

run_case unit "$unit_umask"
run_case strict 0077 600
echo ok
