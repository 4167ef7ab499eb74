#!/usr/bin/env bash
# The inotifywait recipe: while the real logger runs a cycle of the demo bus
# into the watched directory, every value file it writes is published once
# per write, with its whole content, and nothing else is.
#
#   republish_test.sh SCRIPT LOGGER SIM SCENARIO_DIR
set -euo pipefail

script=$1 logger=$2 sim=$3 scenarios=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/pids.sh
source "$here/scripts/pids.sh"
t=$(mktemp -d /tmp/kelvinlog-republish-test-XXXXXX)
watcher=
# The watcher's children (inotifywait and the loop) first, by their pids.
stop_watcher() {
  [ -n "$watcher" ] || return 0
  local child
  for child in $(ps -o pid= --ppid "$watcher"); do stop_pid "$child"; done
  stop_pid "$watcher"
  watcher=
}
trap 'stop_watcher; rm -rf "$t"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# mosquitto_pub stand-in: records "<topic> retain=<0|1>" and the message.
mkdir "$t/bin" "$t/demo" "$t/demo/out"
cat >"$t/bin/mosquitto_pub" <<STUB
#!/bin/sh
topic= retain=0 file= msg=
while [ \$# -gt 0 ]; do
  case \$1 in
    -t) topic=\$2; shift ;;
    -f) file=\$2; shift ;;
    -m) msg=\$2; shift ;;
    -r) retain=1 ;;
    -h|-p) shift ;;
  esac
  shift
done
{ echo "\$topic retain=\$retain"; if [ -n "\$file" ]; then cat "\$file"; else echo "\$msg"; fi; } >>"$t/published"
STUB
chmod +x "$t/bin/mosquitto_pub"

PATH="$t/bin:$PATH" MQTT_PREFIX=home/kelvinlog sh "$script" "$t/demo/out" 2>"$t/watcher.err" &
watcher=$!
for _ in $(seq 100); do
  grep -q 'Watches established' "$t/watcher.err" 2>/dev/null && break
  kill -0 "$watcher" 2>/dev/null || { cat "$t/watcher.err" >&2; fail "the watcher ended"; }
  sleep 0.1
done
grep -q 'Watches established' "$t/watcher.err" || fail "no watch within 10 s"

# Also a file of another program that is not a reading.
printf '58 01 4B 46 7F FF 0C 10 1C \n' >"$t/demo/out/Stov.txt"
"$here/tests/contrib/run_demo.sh" "$logger" "$sim" "$scenarios" "$t/demo" 1 >/dev/null
# Let the watcher catch up: wait until the last file of the cycle is published.
for _ in $(seq 100); do
  grep -q '^home/kelvinlog/Kitchen retain=1$' "$t/published" 2>/dev/null && break
  sleep 0.1
done
stop_watcher

pub=$t/published
[ -f "$pub" ] || fail "nothing published"
expect_message() {  # topic, then the exact message lines
  local topic=$1; shift
  local want
  want=$(printf '%s\n' "home/kelvinlog/$topic retain=1" "$@")
  grep -A$# -xF "home/kelvinlog/$topic retain=1" "$pub" | head -n $(($# + 1)) |
    diff -u <(echo "$want") - || fail "message of $topic"
}
expect_message Kitchen 21.500
expect_message Attic 19.5
expect_message 28FF7C2D0316041E -4.250
expect_message Meter '10000;100;0' 'counter [Wh]; consumption[Wh]; limit/LED'
expect_message Cellar ' 22.250;50;45;10;0' $'T[\xc2\xb0C];rLf[%];rLi[%];rLq[%];limit/LED'
grep -qE '^home/kelvinlog/Garage retain=1$' "$pub" || fail "no S0 message"
# Once per write: never more messages than polls of the kitchen sensor ($0).
kitchen=$(grep -c '^home/kelvinlog/Kitchen ' "$pub")
polls=$(grep -c ' \$0$' "$t/demo/adapter.log")
[ "$kitchen" -ge 1 ] && [ "$kitchen" -le "$polls" ] || fail "Kitchen published $kitchen times for $polls polls"
# Raw files, and a raw file whose name ends in v.txt, are not readings.
! grep -qE '^home/kelvinlog/(Kitchen\.|Sto |.*txt)' "$pub" || fail "a raw file was published"
! grep -q '^home/kelvinlog/Sto ' "$pub" || fail "the raw file Stov.txt was published"
echo ok
