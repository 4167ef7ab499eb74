#!/usr/bin/env bash
# Runs the logger against the adapter stand-in's demo bus, a private mosquitto
# broker and kelvinlog-bridge between them, and shows what a subscriber sees:
# `mosquitto_sub -v -t 'kelvinlog/#'` for one cycle and a switch command.
# Usage: scripts/bridge-demo.sh [build-dir] [port]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
port=${2:-18831}
for p in "$build/kelvinlog" "$build/adapter-sim" "$build/kelvinlog-bridge"; do
  [ -x "$p" ] || { echo "build first: $p is missing" >&2; exit 1; }
done
broker=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[ -x "$broker" ] && command -v mosquitto_sub >/dev/null ||
  { echo "needs mosquitto and mosquitto-clients (apt-get install mosquitto mosquitto-clients)" >&2; exit 1; }

# shellcheck source=scripts/pids.sh
. "$here/scripts/pids.sh"
trap stop_started EXIT

work=$(mktemp -d /tmp/kelvinlog-bridge-demo-XXXXXX)
mkdir "$work/out"
cp "$here/sim/scenarios/demo-config.txt" "$work/kelvinlog-config.txt"
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$work/mosquitto.conf"

"$broker" -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
broker_pid=$!
STARTED+=("$broker_pid")
"$build/adapter-sim" --link "$work/tty" --log "$work/adapter.log" >"$work/adapter.out" 2>&1 &
sim_pid=$!
STARTED+=("$sim_pid")
for _ in $(seq 50); do [ -e "$work/tty" ] && grep -q ' running' "$work/mosquitto.log" && break; sleep 0.1; done

"$build/kelvinlog-bridge" --outdir "$work/out" --config "$work/kelvinlog-config.txt" \
  --port "$port" --prefix kelvinlog/demo --allow-control --stale-after 10 \
  2>"$work/bridge.log" &
bridge_pid=$!
STARTED+=("$bridge_pid")
mosquitto_sub -p "$port" -v -t 'kelvinlog/#' >"$work/sub.txt" &
sub_pid=$!
STARTED+=("$sub_pid")
# -f: no single-instance guard (it would look for other copies by name).
(cd "$work" && exec "$build/kelvinlog" "$work/tty" out/ -f) >"$work/kelvinlog.out" 2>&1 &
logger_pid=$!
STARTED+=("$logger_pid")

# One whole cycle: wait for the second bus search (at most 20 s).
for _ in $(seq 200); do
  [ "$(grep -c '^o\$?$' "$work/kelvinlog.out" || true)" -ge 2 ] && break
  sleep 0.1
done
mosquitto_pub -p "$port" -t kelvinlog/demo/Meter/switch/set -m 1
# The switch reaches the bus with the next poll of Meter (entry 3).
for _ in $(seq 100); do grep -q ' \$3;11$' "$work/adapter.log" && break; sleep 0.1; done
for _ in $(seq 50); do grep -q '^kelvinlog/demo/Meter/led 1$' "$work/sub.txt" && break; sleep 0.1; done
# Stop the logger, then the bridge (it says offline), then the rest.
stop_pid "$logger_pid"
stop_pid "$bridge_pid"
for _ in $(seq 50); do grep -q '^kelvinlog/demo/status offline$' "$work/sub.txt" && break; sleep 0.1; done
for p in "$sub_pid" "$sim_pid" "$broker_pid"; do stop_pid "$p"; done
STARTED=()
trap - EXIT

echo "== mosquitto_sub -v -t 'kelvinlog/#' =="
cat "$work/sub.txt"
echo
echo "== kelvinlog-bridge's log =="
cat "$work/bridge.log"
echo
echo "== the poll that carried the switch (adapter-sim's command log) =="
grep ' \$3;11$' "$work/adapter.log" | head -1
echo
echo "(everything is kept in $work)"
