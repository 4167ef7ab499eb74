#!/usr/bin/env bash
# Runs the real logger (-fq) against the stand-in's demo bus for whole cycles
# and leaves what it wrote in DIR/out (working directory DIR).
#
#   run_demo.sh LOGGER SIM SCENARIO_DIR DIR [CYCLES]
#
# DIR is made afresh, except that an existing DIR/out is kept as it is (a
# test may be watching it already).
# Waits (at most 30 s) until the stand-in has received the bus search that
# follows the last cycle, then stops both programs by their pids.
set -euo pipefail

logger=$(realpath "$1") sim=$(realpath "$2") scenarios=$(realpath "$3") dir=$4 cycles=${5:-1}
here=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/pids.sh
source "$here/scripts/pids.sh"
trap stop_started EXIT

if [ -d "$dir/out" ]; then
  find "$dir" -mindepth 1 -maxdepth 1 ! -name out -exec rm -rf {} +
else
  rm -rf "$dir"
  mkdir -p "$dir/out"
fi
cp "$scenarios/demo-config.txt" "$dir/kelvinlog-config.txt"
"$sim" --link "$dir/tty" --log "$dir/adapter.log" --scenario "$scenarios/demo.txt" \
  >"$dir/adapter.out" 2>&1 &
STARTED+=("$!")
for _ in $(seq 300); do
  grep -q 'ready' "$dir/adapter.out" 2>/dev/null && break
  sleep 0.1
done
[ -e "$dir/tty" ] || { echo "the stand-in did not start" >&2; cat "$dir/adapter.out" >&2; exit 1; }

# -f: never the single-instance guard; q: the quiet journal of the service.
(cd "$dir" && exec "$logger" "$dir/tty" out/ -fq) >"$dir/logger.out" 2>&1 &
logger_pid=$!
STARTED+=("$logger_pid")
for _ in $(seq 300); do
  kill -0 "$logger_pid" 2>/dev/null || { echo "the logger ended:" >&2; cat "$dir/logger.out" >&2; exit 1; }
  [ "$(grep -c '\$?$' "$dir/adapter.log" 2>/dev/null || true)" -gt "$cycles" ] && break
  sleep 0.1
done
searches=$(grep -c '\$?$' "$dir/adapter.log" || true)
stop_started
[ "$searches" -gt "$cycles" ] || { echo "only $searches bus searches in 30 s" >&2; exit 1; }
echo "demo output of $cycles cycle(s) in $dir/out"
