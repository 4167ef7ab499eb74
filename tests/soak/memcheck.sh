#!/usr/bin/env bash
# The logger under valgrind's memcheck against the stand-in's demo bus for a
# few cycles, stopped with SIGTERM.
#
#   tests/soak/memcheck.sh [build-dir] [cycles]
#
# build-dir  a built tree holding kelvinlog and adapter-sim (default: build)
# cycles     complete cycles to run (default 3)
#
# Fails (exit 1) when valgrind reports any error, or any definitely or
# indirectly lost block. The logger ends by the signal, so blocks still
# reachable then (stdio's buffers) are expected and not counted. Scratch
# files go to <build-dir>/soak-memcheck/; valgrind's report is
# <build-dir>/soak-memcheck/valgrind.log. Only the processes started here are
# stopped, by their own pids; every wait has a deadline.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
CYCLES=${2:-3}
DEADLINE_S=${MEMCHECK_DEADLINE_S:-180}
# Further stand-in options, e.g. MEMCHECK_SIM_OPTS="--garbage-rate 0.2 --retry-rate 0.2"
read -r -a SIM_OPTS <<<"${MEMCHECK_SIM_OPTS:-}"

LOGGER=$BUILD/kelvinlog
SIM=$BUILD/adapter-sim
for f in "$LOGGER" "$SIM"; do
  [ -x "$f" ] || { echo "memcheck: $f missing; build the tree first" >&2; exit 2; }
done
command -v valgrind >/dev/null || { echo "memcheck: valgrind not installed" >&2; exit 2; }

WORK=$BUILD/soak-memcheck
rm -rf "$WORK"
mkdir -p "$WORK/out"
cp "$ROOT/sim/scenarios/demo-config.txt" "$WORK/kelvinlog-config.txt"

# valgrind checks for leaks on the way out: up to 30 s for a process to go.
STOP_WAIT_TRIES=600
. "$ROOT/scripts/pids.sh"
cleanup() { stop_started; }
trap cleanup EXIT
trap 'exit 130' INT TERM

searches() { grep -c ' \$?$' "$WORK/commands.log" 2>/dev/null || true; }

"$SIM" --link "$WORK/tty" --scenario "$ROOT/sim/scenarios/demo.txt" --log "$WORK/commands.log" \
  ${SIM_OPTS[@]+"${SIM_OPTS[@]}"} >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
STARTED+=("$SIM_PID")
for ((i = 0; i < 200; i++)); do
  grep -q '^adapter-sim: ready ' "$WORK/sim.out" 2>/dev/null && break
  sleep 0.05
done
grep -q '^adapter-sim: ready ' "$WORK/sim.out" || { echo "memcheck: stand-in not ready" >&2; exit 1; }

# valgrind runs the logger in its own process: this pid is the logger's.
(cd "$WORK" && exec valgrind --tool=memcheck --leak-check=full --error-exitcode=1 \
  --log-file="$WORK/valgrind.log" "$LOGGER" "$WORK/tty" out/ -f >"$WORK/logger.out" 2>&1) &
VG_PID=$!
STARTED+=("$VG_PID")

# CYCLES complete cycles: the search that starts the one after them.
end=$(($(date +%s) + DEADLINE_S))
while [ "$(searches)" -lt $((CYCLES + 1)) ]; do
  kill -0 "$VG_PID" 2>/dev/null || { echo "memcheck: FAIL: the logger ended early"; cat "$WORK/valgrind.log"; exit 1; }
  [ "$(date +%s)" -lt "$end" ] || { echo "memcheck: FAIL: only $(searches) searches in ${DEADLINE_S} s"; exit 1; }
  sleep 0.2
done
stop_pid "$VG_PID"
stop_pid "$SIM_PID"
STARTED=()

log=$WORK/valgrind.log
errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$log" | tail -n 1 | tr -d ,)
definite=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1 | tr -d ,)
indirect=$(sed -n 's/.*indirectly lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1 | tr -d ,)
reachable=$(sed -n 's/.*still reachable: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1 | tr -d ,)
if grep -q 'All heap blocks were freed' "$log"; then
  definite=0 indirect=0 reachable=0
fi
signal=$(grep -o 'Process terminating with default action of signal [0-9]* ([A-Z]*)' "$log" | head -n 1 || true)

echo "memcheck: $(searches) searches ($CYCLES complete cycles) under valgrind; ${signal:-no signal line}"
grep -E 'in use at exit|total heap usage' "$log" | sed 's/^==[0-9]*== */memcheck:   /'
echo "memcheck: errors ${errors:-?}, definitely lost ${definite:-?} bytes, indirectly lost" \
  "${indirect:-?} bytes, still reachable ${reachable:-?} bytes (expected after a signal)"
if [ -z "$errors" ] || [ -z "$definite" ] || [ -z "$indirect" ]; then
  echo "memcheck: FAIL: no complete summary in $log"
  exit 1
fi
if [ "$errors" -ne 0 ] || [ "$definite" -ne 0 ] || [ "$indirect" -ne 0 ]; then
  echo "memcheck: FAIL: see $log"
  exit 1
fi
echo "memcheck: PASS"
