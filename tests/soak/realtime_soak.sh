#!/usr/bin/env bash
# Real-time soak: the real logger against the adapter stand-in with every
# fault switched on, for some minutes, while a reader reads every value file
# in a tight loop.
#
#   tests/soak/realtime_soak.sh [minutes] [build-dir]
#
# minutes    length of the run (default 10; fractions allowed, e.g. 0.5)
# build-dir  a built tree holding kelvinlog, adapter-sim and
#            tests/soak/soak_reader (default: build)
#
# Fails (exit 1) when the logger dies, stops cycling (no new "$?" in the
# stand-in's command log for CYCLE_SILENCE_S seconds), its open descriptors
# grow, its VmRSS grows by more than RSS_TOLERANCE_KIB over the figure after
# the warm-up, or the reader finds a value file holding a partial line.
# Scratch files go to <build-dir>/soak-realtime/. Only the processes started
# here are stopped, by their own pids; every wait has a deadline.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
MINUTES=${1:-10}
BUILD=${2:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac

CYCLE_SILENCE_S=${CYCLE_SILENCE_S:-20}
RSS_TOLERANCE_KIB=${RSS_TOLERANCE_KIB:-64}
WARMUP_S=${WARMUP_S:-20}
SAMPLE_S=5
SEED=${SOAK_SEED:-7}
FAULTS=(--retry-rate 0.05 --bad-crc-rate 0.05 --garbage-rate 0.05 --long-rate 0.03
        --missing-rate 0.03 --delay-ms 5 --seed "$SEED")

LOGGER=$BUILD/kelvinlog
SIM=$BUILD/adapter-sim
READER=$BUILD/tests/soak/soak_reader
for f in "$LOGGER" "$SIM" "$READER"; do
  [ -x "$f" ] || { echo "realtime_soak: $f missing; build the tree (tests on) first" >&2; exit 2; }
done

WORK=$BUILD/soak-realtime
rm -rf "$WORK"
mkdir -p "$WORK/out"
cp "$ROOT/sim/scenarios/demo-config.txt" "$WORK/kelvinlog-config.txt"

. "$ROOT/scripts/pids.sh"
cleanup() { stop_started; }
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "realtime_soak: FAIL: $*"
  echo "--- last lines of the logger's output:"
  tail -n 15 "$WORK/logger.out" 2>/dev/null || true
  exit 1
}

searches() { grep -c ' \$?$' "$WORK/commands.log" 2>/dev/null || true; }
status_kib() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
# Open descriptors: the least of five looks 10 ms apart, so that a file the
# logger has open for a moment inside a pass is not taken for a leak.
fd_count() {
  local i n min=100000
  for ((i = 0; i < 5; i++)); do
    n=$(ls "/proc/$1/fd" 2>/dev/null | wc -l)
    [ "$n" -lt "$min" ] && min=$n
    sleep 0.01
  done
  echo "$min"
}

"$SIM" --link "$WORK/tty" --scenario "$ROOT/sim/scenarios/demo.txt" --extra-devices 5 \
  --log "$WORK/commands.log" "${FAULTS[@]}" >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
STARTED+=("$SIM_PID")
for ((i = 0; i < 200; i++)); do
  grep -q '^adapter-sim: ready ' "$WORK/sim.out" 2>/dev/null && break
  kill -0 "$SIM_PID" 2>/dev/null || fail "the stand-in exited: $(cat "$WORK/sim.out")"
  sleep 0.05
done
grep -q '^adapter-sim: ready ' "$WORK/sim.out" || fail "the stand-in did not become ready"

(cd "$WORK" && exec "$LOGGER" "$WORK/tty" out/ -f >"$WORK/logger.out" 2>&1) &
LOGGER_PID=$!
STARTED+=("$LOGGER_PID")

TOTAL_S=$(printf '%.0f' "$(echo "$MINUTES * 60" | bc -l)")
[ "$TOTAL_S" -gt "$WARMUP_S" ] || TOTAL_S=$((WARMUP_S + 10))
"$READER" "$WORK/out" "$TOTAL_S" >"$WORK/reader.out" 2>&1 &
READER_PID=$!
STARTED+=("$READER_PID")

echo "realtime_soak: logger $LOGGER_PID, stand-in $SIM_PID, reader $READER_PID; ${TOTAL_S} s," \
  "faults: ${FAULTS[*]}"
start=$(date +%s)
last_count=0
last_new=$start
fd_base=""
rss_base=""
fd_max=0
rss_max=0
samples=0
while :; do
  now=$(date +%s)
  elapsed=$((now - start))
  [ "$elapsed" -ge "$TOTAL_S" ] && break
  kill -0 "$LOGGER_PID" 2>/dev/null || fail "the logger died after ${elapsed} s"
  if ! kill -0 "$READER_PID" 2>/dev/null; then
    wait "$READER_PID" && rc=0 || rc=$?
    fail "the reader stopped early (status $rc): $(cat "$WORK/reader.out")"
  fi
  count=$(searches)
  if [ "$count" -gt "$last_count" ]; then
    last_count=$count
    last_new=$now
  elif [ $((now - last_new)) -gt "$CYCLE_SILENCE_S" ]; then
    fail "no new bus search for $((now - last_new)) s (searches so far: $count)"
  fi
  fds=$(fd_count "$LOGGER_PID")
  rss=$(status_kib "$LOGGER_PID" VmRSS)
  if [ "$elapsed" -ge "$WARMUP_S" ]; then
    if [ -z "$fd_base" ]; then
      fd_base=$fds
      rss_base=$rss
      echo "realtime_soak: after warm-up (${elapsed} s, $count searches): $fds descriptors, VmRSS $rss KiB"
    fi
    [ "$fds" -gt "$fd_max" ] && fd_max=$fds
    [ "$rss" -gt "$rss_max" ] && rss_max=$rss
    samples=$((samples + 1))
    [ "$fds" -le "$fd_base" ] || fail "open descriptors grew from $fd_base to $fds after ${elapsed} s"
    [ "$rss" -le $((rss_base + RSS_TOLERANCE_KIB)) ] ||
      fail "VmRSS grew from $rss_base to $rss KiB after ${elapsed} s"
  fi
  sleep "$SAMPLE_S"
done

# The reader ends by itself at the same time; give it a few seconds.
for ((i = 0; i < 200; i++)); do
  kill -0 "$READER_PID" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$LOGGER_PID" 2>/dev/null || fail "the logger died at the end"
hwm=$(status_kib "$LOGGER_PID" VmHWM)
rss_end=$(status_kib "$LOGGER_PID" VmRSS)
fds_end=$(fd_count "$LOGGER_PID")
if wait "$READER_PID"; then reader_ok=1; else reader_ok=0; fi
count=$(searches)
commands=$(wc -l <"$WORK/commands.log")
retries=$(grep -c '^retry ' "$WORK/logger.out" || true)
stop_pid "$LOGGER_PID"
stop_pid "$SIM_PID"

echo "realtime_soak: ${TOTAL_S} s, $count bus searches, $commands commands logged by the stand-in," \
  "$retries retries seen by the logger"
echo "realtime_soak: descriptors after warm-up $fd_base, highest $fd_max, at the end $fds_end;" \
  "VmRSS after warm-up $rss_base KiB, highest $rss_max KiB, at the end $rss_end KiB; VmHWM $hwm KiB" \
  "($samples samples)"
cat "$WORK/reader.out"
[ "$reader_ok" -eq 1 ] || fail "the reader failed"
[ "$fds_end" -le "$fd_base" ] || fail "open descriptors grew from $fd_base to $fds_end"
[ "$rss_end" -le $((rss_base + RSS_TOLERANCE_KIB)) ] || fail "VmRSS grew from $rss_base to $rss_end KiB"
echo "realtime_soak: PASS"
