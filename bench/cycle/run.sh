#!/usr/bin/env bash
# Cycle bench of the logger: cycle period against the stand-in, CPU beside a
# bare reference loop (per second, per pass, pinned), system calls per idle
# pass, answer latency, peak memory and binary size of the normal and the
# static build, data-line handling time. See bench/cycle/README.md.
#
#   bench/cycle/run.sh [build-dir] [report-file]
#
# build-dir   a configured and built tree (default: build); it must hold
#             kelvinlog and adapter-sim.
# report-file Markdown report (default: <build-dir>/bench-cycle/report.md).
#
# Scratch files, the reference loops and the static build go under
# <build-dir>/bench-cycle/. Every process started here is stopped by its own
# pid; nothing is killed by name. Every wait has a deadline.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
BUILD=$(cd "$BUILD" && pwd)
WORK=$BUILD/bench-cycle
REPORT=${2:-$WORK/report.md}
case $REPORT in /*) ;; *) REPORT=$PWD/$REPORT ;; esac

# Device counts measured, "$?" commands collected per count (intervals after
# the first one are averaged), seconds of each strace window.
COUNTS=${CYCLE_COUNTS:-"0 3 20 60"}
SEARCHES=${CYCLE_SEARCHES:-6}
STRACE_SECONDS=${CYCLE_STRACE_SECONDS:-5}

LOGGER=$BUILD/kelvinlog
SIM=$BUILD/adapter-sim
for f in "$LOGGER" "$SIM"; do
  [ -x "$f" ] || { echo "run.sh: $f missing; build the tree first" >&2; exit 2; }
done
command -v strace >/dev/null || { echo "run.sh: strace not installed" >&2; exit 2; }

mkdir -p "$WORK"
rm -rf "$WORK/work"
mkdir -p "$WORK/work"

# --- processes: started in the background, stopped by pid -----------------
. "$ROOT/scripts/pids.sh"

OUTDIRS=()
cleanup() {
  local p
  stop_started
  for p in "${OUTDIRS[@]}"; do rm -rf "$p"; done
  OUTDIRS=()
}
trap cleanup EXIT
trap 'exit 130' INT TERM

forget_pid() {
  local keep=() p
  for p in "${STARTED[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
  STARTED=("${keep[@]}")
}

# wait_for SECONDS COMMAND...: polls COMMAND every 20 ms until it succeeds.
wait_for() {
  local limit=$1 end
  shift
  end=$(($(date +%s%N) + limit * 1000000000))
  until "$@"; do
    [ "$(date +%s%N)" -lt "$end" ] || return 1
    sleep 0.02
  done
}

searches_in() { grep -c ' \$?$' "$1" 2>/dev/null || true; }
has_searches() { [ "$(searches_in "$1")" -ge "$2" ]; }
lines_gt() { [ "$(wc -l <"$1")" -gt "$2" ]; }
is_ready() { grep -q '^adapter-sim: ready ' "$1" 2>/dev/null; }

# --- reference loop: the CMake target bench/ref_loop (-DKELVINLOG_BENCH=ON),
# built with the logger's flags, its grid mode the logger's own clock
flags_of_logger() {
  # The flags ninja or make use for one of the logger's sources.
  local f=""
  if [ -f "$BUILD/build.ninja" ]; then
    f=$(awk '/^build [^:]*src\/engine\/clock\.cpp\.o:/ {on=1; next}
             on && /^ *FLAGS = / {sub(/^ *FLAGS = /, ""); print; exit}
             on && /^build / {exit}' "$BUILD/build.ninja")
  fi
  echo "$f"
}
CXX=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
CXXFLAGS=$(flags_of_logger)
REF_LOOP=$BUILD/bench/ref_loop
[ -x "$REF_LOOP" ] || { echo "run.sh: $REF_LOOP missing; configure with -DKELVINLOG_BENCH=ON and build" >&2; exit 2; }

# --- static build -----------------------------------------------------------
STATIC_DIR=$WORK/static
GEN=()
[ -f "$BUILD/build.ninja" ] && GEN=(-G Ninja)
cmake -S "$ROOT" -B "$STATIC_DIR" "${GEN[@]}" -DCMAKE_CXX_COMPILER="$CXX" \
  -DKELVINLOG_STATIC=ON -DCMAKE_BUILD_TYPE=MinSizeRel -DKELVINLOG_TESTS=OFF \
  -DKELVINLOG_WERROR=ON >"$WORK/static-configure.log" 2>&1
cmake --build "$STATIC_DIR" --target kelvinlog >"$WORK/static-build.log" 2>&1
STATIC_LOGGER=$STATIC_DIR/kelvinlog

# --- helpers over /proc -------------------------------------------------------
CLK_TCK=$(getconf CLK_TCK)
# cpu_of PID: "<utime+stime in ticks> <ns on the CPU from schedstat>"
cpu_of() {
  local stat rest ticks ns
  stat=$(cat "/proc/$1/stat")
  rest=${stat##*) }
  # fields after "comm)": state is 3rd field of the file, utime the 14th
  ticks=$(echo "$rest" | awk '{print $12 + $13}')
  ns=$(awk '{print $1}' "/proc/$1/schedstat")
  echo "$ticks $ns"
}
status_kib() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
fd_count() { ls "/proc/$1/fd" | wc -l; }
now_ns() { date +%s%N; }

# exact passes of one cycle, read off the main loop: the load pass, one pass
# per search answer, 500 quiet passes plus the pass that ends the search, per
# device a poll pass, the answer pass one pass later and 101 passes to the
# next poll; with no device the first poll step starts the next load.
exact_passes() { if [ "$1" -eq 0 ]; then echo 503; else echo $((502 + 103 * $1)); fi; }
# passes from "$?" to the first poll: the load pass, one per answer, 500 more
search_passes() { if [ "$1" -eq 0 ]; then exact_passes 0; else echo $((501 + $1)); fi; }
nominal_passes() { echo $((501 + 101 * $1)); }

# period_stats LOG: "<cycles> <mean period s> <min> <max> <mean search phase>
# <mean poll phase>" over the intervals between "$?" commands after the first
# one; the search phase runs from "$?" to the first poll, the poll phase from
# there to the next "$?" (no device: the whole cycle is search phase).
period_stats() {
  awk '$2 == "$?" {t[n] = $1; fp[n] = 0; n++; next}
       $2 ~ /^\$[0-9]+$/ && n > 0 && fp[n-1] == 0 {fp[n-1] = $1}
       END {
         s = 0; c = 0; mn = 1e9; mx = 0; se = 0; sp = 0
         for (i = 2; i < n; i++) {
           d = t[i] - t[i-1]; s += d; c++
           if (d < mn) mn = d
           if (d > mx) mx = d
           if (fp[i-1] > 0) { se += fp[i-1] - t[i-1]; sp += t[i] - fp[i-1] } else se += d
         }
         if (c == 0) print 0, 0, 0, 0, 0, 0
         else printf "%d %.6f %.6f %.6f %.6f %.6f\n", c, s / c, mn, mx, se / c, sp / c
       }' "$1"
}

# poll_spacing LOG: mean time between consecutive polls of one cycle, in ms
poll_spacing() {
  awk '$2 == "$?" {last = 0; next}
       $2 ~ /^\$[0-9]+$/ { if (last > 0) { s += $1 - last; c++ } last = $1 }
       END { if (c) printf "%.3f", 1000 * s / c; else printf "-" }' "$1"
}

make_scenario() {  # N FILE: N family 28 sensors, no S0 line
  local n=$1 i
  {
    echo "# cycle bench: $n family 28 sensors answering at once"
    for ((i = 0; i < n; i++)); do
      printf 'device 28B1%012X temp28 %d.%04d\n' "$i" $((20 + i / 16)) $((i % 16 * 625))
    done
  } >"$2"
}

# make_outdir DIR: DIR/out, the logger's output directory; with
# CYCLE_OUTDIR_ON set, a symlink to a fresh directory there (say, on a tmpfs)
make_outdir() {
  if [ -n "${CYCLE_OUTDIR_ON:-}" ]; then
    local o
    o=$(mktemp -d "$CYCLE_OUTDIR_ON/kelvinlog-bench-XXXXXX")
    OUTDIRS+=("$o")
    ln -s "$o" "$1/out"
  else
    mkdir -p "$1/out"
  fi
}

# start_sim DIR: a stand-in for the bus DIR/bus.txt on DIR/tty, sets SIM_PID
start_sim() {
  local dir=$1
  "$SIM" --link "$dir/tty" --scenario "$dir/bus.txt" --log "$dir/commands.log" \
    >"$dir/sim.out" 2>&1 &
  SIM_PID=$!
  STARTED+=("$SIM_PID")
  wait_for 10 is_ready "$dir/sim.out" || { echo "run.sh: stand-in not ready in $dir" >&2; exit 1; }
}

# start_pair DIR BIN [CPU]: stand-in and logger in DIR (the logger pinned to
# CPU if given), sets SIM_PID and LOG_PID
start_pair() {
  local dir=$1 bin=$2 pin=()
  [ -n "${3:-}" ] && pin=(taskset -c "$3")
  make_outdir "$dir"
  : >"$dir/kelvinlog-config.txt"
  start_sim "$dir"
  (cd "$dir" && exec ${pin[@]+"${pin[@]}"} "$bin" "$dir/tty" out/ -f >"$dir/logger.out" 2>&1) &
  LOG_PID=$!
  STARTED+=("$LOG_PID")
}

# start_ref TAG MODE [CPU [DEVICE]]: a reference loop (pinned to CPU if given,
# reading DEVICE if given), sets REF_PID; its pass counts go to ref-TAG.out
start_ref() {
  local tag=$1 mode=$2 pin=() dev=()
  [ -n "${3:-}" ] && pin=(taskset -c "$3")
  [ -n "${4:-}" ] && dev=(0 "$4")
  ${pin[@]+"${pin[@]}"} "$REF_LOOP" "$mode" ${dev[@]+"${dev[@]}"} >"$WORK/work/ref-$tag.out" &
  REF_PID=$!
  STARTED+=("$REF_PID")
}

# ref_passes PID TAG: passes run so far by a reference loop (SIGUSR1 makes it print them)
ref_passes() {
  local out=$WORK/work/ref-$2.out before
  before=$(wc -l <"$out")
  kill -USR1 "$1"
  wait_for 5 lines_gt "$out" "$before" || { echo "run.sh: ref loop $2 silent" >&2; exit 1; }
  tail -n 1 "$out" | awk '{print $2}'
}

# --- one run per device count ------------------------------------------------
declare -A R  # results, keyed "<what>,<N>"
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
STRACE_DONE=0

# Logger variants run side by side, each against its own stand-in: the build
# under test (l), the static build (s), and, when CYCLE_COMPARE_LOGGER names
# another binary (say, the logger before a change), that one too (c).
VARIANTS="l s"
declare -A BIN_OF=([l]=$LOGGER [s]=$STATIC_LOGGER)
declare -A NAME_OF=([l]=normal [s]=static [c]=compare [z]="pinned idle" [x]=pinned)
if [ -n "${CYCLE_COMPARE_LOGGER:-}" ]; then
  [ -x "$CYCLE_COMPARE_LOGGER" ] || { echo "run.sh: $CYCLE_COMPARE_LOGGER not executable" >&2; exit 2; }
  VARIANTS="l s c"
  BIN_OF[c]=$CYCLE_COMPARE_LOGGER
fi

# sample_at_search KEY WHICH LOG PID K: waits for the next search of that
# logger that is at least its K-th and samples its CPU at once, inside the
# 1 s pause that follows the search.
declare -A S
sample_at_search() {
  local key=$1 which=$2 log=$3 pid=$4 k=$5 target now
  now=$(searches_in "$log")
  target=$((now + 1 > k ? now + 1 : k))
  wait_for "$limit" has_searches "$log" "$target" ||
    { echo "run.sh: N=$N ${NAME_OF[$key]}: only $(searches_in "$log") searches" >&2; exit 1; }
  S[t$which,$key]=$(now_ns)
  read -r "S[c$which,$key]" "S[n$which,$key]" <<<"$(cpu_of "$pid")"
  S[k$which,$key]=$(searches_in "$log")
}

for N in $COUNTS; do
  declare -A DIR_OF=() PID_OF=() SIM_OF=()
  for v in $VARIANTS; do
    DIR_OF[$v]=$WORK/work/n$N-${NAME_OF[$v]}
    mkdir -p "${DIR_OF[$v]}"
    make_scenario "$N" "${DIR_OF[$v]}/bus.txt"
    start_pair "${DIR_OF[$v]}" "${BIN_OF[$v]}"
    SIM_OF[$v]=$SIM_PID
    PID_OF[$v]=$LOG_PID
  done
  d=${DIR_OF[l]}
  lg=${PID_OF[l]}
  start_ref plain plain
  rp=$REF_PID
  start_ref grid grid
  rg=$REF_PID

  period=$(echo "1 + $(exact_passes "$N") / 1000" | bc -l)
  limit=$(printf '%.0f' "$(echo "($SEARCHES + 1) * $period * 2 + 20" | bc -l)")

  # CPU interval of each logger: from a search at or after its second to
  # one at or after its last; the reference loops are sampled together with
  # the normal logger and count their own passes.
  for which in 0 1; do
    k=2
    [ "$which" = 1 ] && k=$SEARCHES
    for v in $VARIANTS; do
      sample_at_search "$v" "$which" "${DIR_OF[$v]}/commands.log" "${PID_OF[$v]}" "$k"
      if [ "$v" = l ]; then
        S[t$which,p]=${S[t$which,l]}
        S[t$which,g]=${S[t$which,l]}
        read -r "S[c$which,p]" "S[n$which,p]" <<<"$(cpu_of "$rp")"
        read -r "S[c$which,g]" "S[n$which,g]" <<<"$(cpu_of "$rg")"
        S[k$which,p]=$(ref_passes "$rp" plain)
        S[k$which,g]=$(ref_passes "$rg" grid)
      fi
    done
  done

  for k in $VARIANTS p g; do
    w=$(echo "(${S[t1,$k]} - ${S[t0,$k]}) / 1000000000" | bc -l)
    dc=$((S[c1,$k] - S[c0,$k]))
    dn=$((S[n1,$k] - S[n0,$k]))
    if [ "$k" = p ] || [ "$k" = g ]; then
      R[passes_$k,$N]=$((S[k1,$k] - S[k0,$k]))
      R[len_$k,$N]=$(printf '%.4f' "$(echo "$w * 1000 / ${R[passes_$k,$N]}" | bc -l)")
    else
      R[passes_$k,$N]=$(((S[k1,$k] - S[k0,$k]) * $(exact_passes "$N")))
    fi
    R[wall_$k,$N]=$(printf '%.1f' "$w")
    R[cpu_$k,$N]=$(printf '%.2f' "$(echo "100 * $dc / $CLK_TCK / $w" | bc -l)")
    R[sch_$k,$N]=$(printf '%.3f' "$(echo "100 * $dn / 1000000000 / $w" | bc -l)")
    R[us_$k,$N]=$(printf '%.2f' "$(echo "$dn / 1000 / ${R[passes_$k,$N]}" | bc -l)")
  done
  R[wall,$N]=${R[wall_l,$N]}

  for v in $VARIANTS; do
    log=${DIR_OF[$v]}/commands.log
    pid=${PID_OF[$v]}
    read -r cyc mean mn mx search poll <<<"$(period_stats "$log")"
    R[cycles_$v,$N]=$cyc
    R[period_$v,$N]=$(printf '%.4f' "$mean")
    R[range_$v,$N]=$(printf '%.4f-%.4f' "$mn" "$mx")
    R[ratio_$v,$N]=$(printf '%.4f' "$(echo "$mean / (1 + $(exact_passes "$N") / 1000)" | bc -l)")
    R[nomratio_$v,$N]=$(printf '%.4f' "$(echo "$mean / (1 + $(nominal_passes "$N") / 1000)" | bc -l)")
    R[pass_$v,$N]=$(printf '%.4f' "$(echo "1000 * ($mean - 1) / $(exact_passes "$N")" | bc -l)")
    R[spacing_$v,$N]=$(poll_spacing "$log")
    R[search_$v,$N]=$(printf '%.4f' "$search")
    R[sratio_$v,$N]=$(printf '%.4f' "$(echo "$search / (1 + $(search_passes "$N") / 1000)" | bc -l)")
    if [ "$N" -gt 0 ]; then
      R[poll_$v,$N]=$(printf '%.4f' "$poll")
      R[pratio_$v,$N]=$(printf '%.4f' "$(echo "$poll / ($(exact_passes "$N") - $(search_passes "$N")) * 1000" | bc -l)")
    else
      R[poll_$v,$N]=-
      R[pratio_$v,$N]=-
    fi
    R[hwm_$v,$N]=$(status_kib "$pid" VmHWM)
    R[rss_$v,$N]=$(status_kib "$pid" VmRSS)
    R[fds_$v,$N]=$(fd_count "$pid")
  done

  # System calls on the empty bus, once, after the timed cycles.
  if [ "$N" -eq 0 ] && [ "$STRACE_DONE" -eq 0 ]; then
    STRACE_DONE=1
    s0=$(searches_in "$d/commands.log")
    ts0=$(now_ns)
    timeout -s INT "$STRACE_SECONDS" strace -c -f -p "$lg" -o "$WORK/strace-logger.txt" 2>/dev/null &
    st1=$!
    timeout -s INT "$STRACE_SECONDS" strace -c -f -p "$rg" -o "$WORK/strace-ref-grid.txt" 2>/dev/null &
    st2=$!
    timeout -s INT "$STRACE_SECONDS" strace -c -f -p "$rp" -o "$WORK/strace-ref-plain.txt" 2>/dev/null &
    st3=$!
    wait "$st1" "$st2" "$st3" || true
    ts1=$(now_ns)
    R[strace_wall]=$(printf '%.2f' "$(echo "($ts1 - $ts0) / 1000000000" | bc -l)")
    R[strace_searches]=$(($(searches_in "$d/commands.log") - s0))
    # A full trace, to split the calls pass by pass.
    timeout -s INT 3 strace -f -ttt -p "$lg" -o "$WORK/trace-logger.txt" 2>/dev/null || true
  fi

  for p in "$rg" "$rp"; do
    stop_pid "$p"
    forget_pid "$p"
  done
  for v in $VARIANTS; do
    for p in "${PID_OF[$v]}" "${SIM_OF[$v]}"; do
      stop_pid "$p"
      forget_pid "$p"
    done
  done
done
# --- CPU per pass, pinned ------------------------------------------------------
# Processes on different CPUs see different loads, so the unpinned figures
# above scatter by some 10 % from run to run. Here the bare grid loop (twice:
# on its own pseudo-terminal, and on the terminal of a stand-in that is never
# sent a command, as the logger's is), a logger on an empty bus and a logger
# polling PIN_N sensors share one CPU and run at the same time: the idle
# logger against the bare loop is the fair per-pass comparison, the polling
# logger against the idle one gives the CPU of one answer.
PIN_CPU=${CYCLE_PIN_CPU:-0}
PIN_N=${CYCLE_PIN_N:-60}
PIN_SEARCHES=${CYCLE_PIN_SEARCHES:-5}
PIN_OK=0
if command -v taskset >/dev/null && [ "$PIN_N" -gt 0 ]; then
  declare -A DIR_OF=() PID_OF=() SIM_OF=()
  for v in z x; do
    n=0
    [ "$v" = x ] && n=$PIN_N
    DIR_OF[$v]=$WORK/work/pinned-n$n
    mkdir -p "${DIR_OF[$v]}"
    make_scenario "$n" "${DIR_OF[$v]}/bus.txt"
    start_pair "${DIR_OF[$v]}" "$LOGGER" "$PIN_CPU"
    SIM_OF[$v]=$SIM_PID
    PID_OF[$v]=$LOG_PID
  done
  rd=$WORK/work/pinned-ref
  mkdir -p "$rd"
  make_scenario 0 "$rd/bus.txt"
  start_sim "$rd"
  rsim=$SIM_PID
  start_ref pin-own grid "$PIN_CPU"
  ro=$REF_PID
  start_ref pin-dev grid "$PIN_CPU" "$rd/tty"
  rv=$REF_PID
  N=$PIN_N
  limit=$(printf '%.0f' "$(echo "($PIN_SEARCHES + 1) * (1 + $(exact_passes "$PIN_N") / 1000) * 2 + 20" | bc -l)")
  sample_at_search z 0 "${DIR_OF[z]}/commands.log" "${PID_OF[z]}" 2
  sample_at_search x 0 "${DIR_OF[x]}/commands.log" "${PID_OF[x]}" 2
  read -r "S[c0,o]" "S[n0,o]" <<<"$(cpu_of "$ro")"
  read -r "S[c0,v]" "S[n0,v]" <<<"$(cpu_of "$rv")"
  S[k0,o]=$(ref_passes "$ro" pin-own)
  S[k0,v]=$(ref_passes "$rv" pin-dev)
  sample_at_search x 1 "${DIR_OF[x]}/commands.log" "${PID_OF[x]}" "$PIN_SEARCHES"
  read -r "S[c1,o]" "S[n1,o]" <<<"$(cpu_of "$ro")"
  read -r "S[c1,v]" "S[n1,v]" <<<"$(cpu_of "$rv")"
  S[k1,o]=$(ref_passes "$ro" pin-own)
  S[k1,v]=$(ref_passes "$rv" pin-dev)
  sample_at_search z 1 "${DIR_OF[z]}/commands.log" "${PID_OF[z]}" 2
  R[pin_passes_z]=$(((S[k1,z] - S[k0,z]) * $(exact_passes 0)))
  R[pin_passes_x]=$(((S[k1,x] - S[k0,x]) * $(exact_passes "$PIN_N")))
  R[pin_passes_o]=$((S[k1,o] - S[k0,o]))
  R[pin_passes_v]=$((S[k1,v] - S[k0,v]))
  R[pin_answers_x]=$(((S[k1,x] - S[k0,x]) * PIN_N))
  for k in z x o v; do
    R[pin_us_$k]=$(printf '%.2f' "$(echo "(${S[n1,$k]} - ${S[n0,$k]}) / 1000 / ${R[pin_passes_$k]}" | bc -l)")
  done
  R[pin_answer_us]=$(printf '%.0f' "$(echo "(${R[pin_us_x]} - ${R[pin_us_z]}) * ${R[pin_passes_x]} / ${R[pin_answers_x]}" | bc -l)")
  for p in "$ro" "$rv" "$rsim" "${PID_OF[z]}" "${SIM_OF[z]}" "${PID_OF[x]}" "${SIM_OF[x]}"; do
    stop_pid "$p"
    forget_pid "$p"
  done
  PIN_OK=1
fi

# --- answer latency and per-answer work, seen from inside the logger --------
# One more logger, started under strace with a seccomp filter that stops it
# only on writes and file calls (never on the read and the sleep of a pass):
# the time from its poll write to the echo of the answer it read is the
# answer latency, the calls between answers its work per answer.
PROBE_N=${CYCLE_PROBE_N:-20}
PROBE_SEARCHES=${CYCLE_PROBE_SEARCHES:-5}
PROBE_OK=0
if [ "$PROBE_N" -gt 0 ] && strace --seccomp-bpf -f -e trace=write -o /dev/null true 2>/dev/null; then
  pd=$WORK/work/probe-n$PROBE_N
  mkdir -p "$pd"
  make_outdir "$pd"
  make_scenario "$PROBE_N" "$pd/bus.txt"
  : >"$pd/kelvinlog-config.txt"
  "$SIM" --link "$pd/tty" --scenario "$pd/bus.txt" --log "$pd/commands.log" >"$pd/sim.out" 2>&1 &
  psim=$!
  STARTED+=("$psim")
  wait_for 10 is_ready "$pd/sim.out" || { echo "run.sh: probe stand-in not ready" >&2; exit 1; }
  (cd "$pd" && exec strace --seccomp-bpf -f -ttt -T \
    -e trace=write,openat,close,newfstatat,fstat,lseek,ftruncate -o "$pd/trace.txt" \
    "$LOGGER" "$pd/tty" out/ -f >"$pd/logger.out" 2>&1) &
  pst=$!
  STARTED+=("$pst")
  limit=$(printf '%.0f' "$(echo "($PROBE_SEARCHES + 2) * (1 + $(exact_passes "$PROBE_N") / 1000) * 2 + 20" | bc -l)")
  if wait_for "$limit" has_searches "$pd/commands.log" $((PROBE_SEARCHES + 1)); then
    PROBE_OK=1
  fi
  # The logger is strace's child: stop it by its own pid, then strace ends.
  pchild=$(cat "/proc/$pst/task/$pst/children" 2>/dev/null | awk '{print $1}')
  [ -n "$pchild" ] && stop_pid "$pchild"
  stop_pid "$pst"
  forget_pid "$pst"
  stop_pid "$psim"
  forget_pid "$psim"
  # latencies (ms) of the complete cycles after the first, one per line
  awk '{ t = $2; line = $0 }
       fd == "" && line ~ /write\([0-9]+, "\$\?\\n"/ { fd = line; sub(/.*write\(/, "", fd); sub(/,.*/, "", fd) }
       fd != "" && index(line, "write(" fd ", \"$?\\n\"") { cyc++; pt = 0; next }
       fd != "" && line ~ ("write\\(" fd ", \"\\$[0-9]+\\\\n\"") { pt = t; next }
       line ~ /write\(1, "i[0-9]+;o;/ && pt > 0 && cyc >= 2 { printf "%.3f\n", 1000 * (t - pt); pt = 0 }' \
    "$pd/trace.txt" | sort -n >"$pd/latency.txt"
  # period and poll spacing as the logger wrote its commands, and the traced
  # calls with their in-kernel time per answer, over the same cycles
  read -r "R[probe_cycles]" "R[probe_period]" "R[probe_spacing]" "R[probe_calls]" "R[probe_us]" "R[probe_answers]" <<<"$(
    awk '{ t = $2; line = $0; us = line; sub(/.*</, "", us); sub(/>.*/, "", us) }
         fd == "" && line ~ /write\([0-9]+, "\$\?\\n"/ { fd = line; sub(/.*write\(/, "", fd); sub(/,.*/, "", fd) }
         fd != "" && index(line, "write(" fd ", \"$?\\n\"") {
           if (cyc >= 2) { ps += t - st; pc++ }
           cyc++; st = t; lp = 0; next }
         cyc >= 2 && fd != "" && line ~ ("write\\(" fd ", \"\\$[0-9]+\\\\n\"") {
           if (lp > 0) { ss += t - lp; sc++ }
           lp = t; pending = 1 }
         cyc >= 2 && pending && line ~ /write\(1, "i[0-9]+;o;/ { ans++; pending = 0 }
         cyc >= 2 && line ~ /^[0-9]+ +[0-9.]+ [a-z_0-9]+\(/ { calls++; kus += 1000000 * us }
         END {
           if (pc == 0 || ans == 0) { print 0, 0, 0, 0, 0, 0; exit }
           printf "%d %.4f %.3f %.1f %.1f %d\n", pc, ps / pc, 1000 * ss / sc, calls / ans, kus / ans, ans
         }' "$pd/trace.txt")"
  R[probe_lat]=$(awk '{v[NR] = $1; s += $1}
    END { if (NR == 0) { print "- - - - 0"; exit }
          p50 = v[int((NR + 1) / 2)]; p99 = v[int(NR * 0.99) > 0 ? int(NR * 0.99) : 1]
          printf "%.3f %.3f %.3f %.3f %d\n", s / NR, p50, p99, v[NR], NR }' "$pd/latency.txt")
fi

# file system of the output directories: type and mount options
OUTDIR_FS=$(awk -v d="$(df --output=target "${CYCLE_OUTDIR_ON:-$WORK/work}" | tail -n 1)" \
  '$2 == d {m = $3 ", mounted " $4} END {print m}' /proc/mounts)
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

# --- system call figures -------------------------------------------------------
# strace -c table: the "calls" column of one row, and of the total row
row_calls() { awk -v s="$2" '$NF == s {print $4 + 0; exit}' "$1"; }
total_of() { row_calls "$1" total; }

syscall_table() {  # FILE: the strace -c table as Markdown
  awk 'BEGIN {print "| % time | seconds | usecs/call | calls | errors | syscall |"; print "|---:|---:|---:|---:|---:|---|"}
       /^-+/ {next}
       /^% time/ {next}
       NF >= 5 { errs = (NF == 6) ? $5 : ""; name = $NF
                 printf "| %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, errs, name }' "$1"
}

pass_split() {  # FILE: passes, calls in them, histogram "calls:passes ..."
  awk '
    /resumed>/ || /unfinished \.\.\.>/ || /^[0-9]+ +[0-9.]+ +\+\+\+/ || / --- SIG/ {next}
    {
      line = $0
      sub(/^\[?pid +[0-9]+\]? */, "", line)
      sub(/^[0-9]+ +/, "", line)          # pid column of -f with -o
      sub(/^[0-9]+\.[0-9]+ +/, "", line)   # -ttt time stamp
      name = line; sub(/\(.*/, "", name)
      if (name !~ /^[a-z_0-9]+$/) next
      if (name == "clock_nanosleep" && line ~ /TIMER_ABSTIME/) {
        if (started) { hist[calls + 1]++; passes++; total += calls + 1 }
        started = 1; calls = 0; next
      }
      if (started) calls++
    }
    END {
      printf "%d %d", passes, total
      for (k in hist) printf " %d:%d", k, hist[k]
      printf "\n"
    }' "$1"
}

# --- data-line benchmark -------------------------------------------------------
BENCH=$BUILD/bench/kelvinlog-bench
BENCH_OUT=""
if [ -x "$BENCH" ]; then
  BENCH_OUT=$("$BENCH" --benchmark_filter='DataLine' --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '^(BM_|Benchmark|-)' || true)
fi

# --- sizes -----------------------------------------------------------------------
cp "$LOGGER" "$WORK/kelvinlog.stripped"
strip "$WORK/kelvinlog.stripped"
cp "$STATIC_LOGGER" "$WORK/kelvinlog-static.stripped"
strip "$WORK/kelvinlog-static.stripped"
size_of() { stat -c %s "$1"; }

# --- report ------------------------------------------------------------------------
kib_to_mib() { printf '%.2f' "$(echo "$1 / 1024" | bc -l)"; }
verdict() { if [ "$1" -eq 1 ]; then echo "met"; else echo "**missed**"; fi; }
le() { [ "$(echo "$1 <= $2" | bc -l)" -eq 1 ] && echo 1 || echo 0; }

{
  echo "# kelvinlog cycle bench"
  echo
  echo "Produced by \`bench/cycle/run.sh $BUILD $REPORT\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo
  echo "- Machine: $(nproc) CPU(s), $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), kernel $(uname -r)"
  echo "- Clock source: $(cat /sys/devices/system/clocksource/clocksource0/current_clocksource), timer slack of this shell: $(cat /proc/self/timerslack_ns) ns"
  echo "- Load average (1/5/15 min) before: $LOAD_BEFORE, after: $LOAD_AFTER"
  echo "- Compiler and flags (logger and reference loop): \`$CXX $CXXFLAGS\`"
  echo "- Logger build: \`$BUILD\` ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt")); static build: \`$STATIC_DIR\` (MinSizeRel, -static)"
  echo "- Output directory of the loggers: ${CYCLE_OUTDIR_ON:-under $WORK/work} ($OUTDIR_FS)"
  echo "- Bus: N family 28 sensors from a generated scenario file (no S0 line), empty kelvinlog-config.txt; stand-in without fault options"
  echo
  echo "## Cycle period"
  echo
  echo "Time between consecutive \"\$?\" commands in the stand-in's command log, the first interval dropped,"
  echo "mean of the rest. Ideal period = 1 s pause + exact passes × 1 ms, with the passes read off the main"
  echo "loop: 503 with no device, else 502 + 103 × N (load pass, one pass per search answer, 500 quiet passes"
  echo "and the pass ending the search; per device the poll pass, the answer taken on the next pass, 101"
  echo "passes to the next poll). Assumed answer latency: the stand-in answers within microseconds, so each"
  echo "answer is taken on the pass after its poll (poll-to-poll = 102 passes); the \"answer latency\""
  echo "section below measures it. The nominal count 501 + 101 × N is shown for comparison only."
  echo "Mean pass = (period − 1 s) / exact passes. The period is split into the search phase (\"\$?\" to the"
  echo "first poll: 1 s + N + 501 passes, all answers already waiting) and the poll phase (first poll to"
  echo "the next \"\$?\": 102 × N + 1 passes, which also carries every answer's latency)."
  echo
  echo "| N | build | cycles | mean period s | min-max s | ideal s | ratio | search phase ratio | poll phase ratio | nominal ratio | mean pass ms | poll spacing ms (ideal 102) |"
  echo "|---:|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
  worst=0
  for N in $COUNTS; do
    ideal=$(printf '%.3f' "$(echo "1 + $(exact_passes "$N") / 1000" | bc -l)")
    for v in $VARIANTS; do
      echo "| $N | ${NAME_OF[$v]} | ${R[cycles_$v,$N]} | ${R[period_$v,$N]} | ${R[range_$v,$N]} | $ideal | ${R[ratio_$v,$N]} | ${R[sratio_$v,$N]} | ${R[pratio_$v,$N]} | ${R[nomratio_$v,$N]} | ${R[pass_$v,$N]} | ${R[spacing_$v,$N]} |"
      if [ "$v" != c ]; then [ "$(le "${R[ratio_$v,$N]}" 1.02)" -eq 1 ] || worst=1; fi
    done
  done
  echo
  echo "Target: every ratio ≤ 1.02 (normal and static build) — $(verdict $((1 - worst)))."
  [ -n "${CYCLE_COMPARE_LOGGER:-}" ] && echo "\"compare\" is \`$CYCLE_COMPARE_LOGGER\`, run side by side with the others."
  echo
  echo "The reference loops in the same run (mean pass = wall time / passes counted): the grid loop shows"
  echo "what the machine allows for the logger's tick, the plain nanosleep(1 ms) loop what a logger"
  echo "sleeping \"1 ms from now\" would get (the \"before\" figure of the grid)."
  echo
  echo "| N | ref grid pass ms | ref plain pass ms | logger pass ms | ratio with plain sleeps (1 s + passes × plain pass) |"
  echo "|---:|---:|---:|---:|---:|"
  for N in $COUNTS; do
    pr=$(printf '%.4f' "$(echo "(1 + $(exact_passes "$N") * ${R[len_p,$N]} / 1000) / (1 + $(exact_passes "$N") / 1000)" | bc -l)")
    echo "| $N | ${R[len_g,$N]} | ${R[len_p,$N]} | ${R[pass_l,$N]} | $pr |"
  done
  echo
  echo "## CPU time"
  echo
  echo "Per second of running: utime+stime from /proc/<pid>/stat (resolution 1/$CLK_TCK s) and the"
  echo "run time of /proc/<pid>/schedstat (ns), over the wall interval from the second to the last search"
  echo "of the run. The normal logger and both reference loops are sampled at the same moments, the"
  echo "static logger over its own searches. Per pass: schedstat run time divided by the passes of the"
  echo "interval (logger: whole cycles × exact passes; reference loops: their own count). Per second"
  echo "the logger is far below the bare loops simply because it sleeps 1 s after every search; the"
  echo "per-pass figure is the fair comparison. The reference loops do one non-blocking read of their"
  echo "own pseudo-terminal and one sleep per pass: \"plain\" nanosleep(1 ms), \"grid\" the logger's"
  echo "absolute 1 ms grid."
  echo
  echo "| N | process | wall s | passes | %/s (stat) | %/s (schedstat) | µs/pass (schedstat) |"
  echo "|---:|---|---:|---:|---:|---:|---:|"
  for N in $COUNTS; do
    for k in $VARIANTS g p; do
      case $k in g) name="ref grid" ;; p) name="ref plain" ;; *) name="logger ${NAME_OF[$k]}" ;; esac
      echo "| $N | $name | ${R[wall_$k,$N]} | ${R[passes_$k,$N]} | ${R[cpu_$k,$N]} | ${R[sch_$k,$N]} | ${R[us_$k,$N]} |"
    done
  done
  echo
  echo "| N | logger µs/pass | ref grid µs/pass | logger / ref grid | static / ref grid |"
  echo "|---:|---:|---:|---:|---:|"
  for N in $COUNTS; do
    rel=$(printf '%.3f' "$(echo "${R[us_l,$N]} / ${R[us_g,$N]}" | bc -l)")
    rels=$(printf '%.3f' "$(echo "${R[us_s,$N]} / ${R[us_g,$N]}" | bc -l)")
    echo "| $N | ${R[us_l,$N]} | ${R[us_g,$N]} | $rel | $rels |"
  done
  echo
  echo "These processes run unpinned, each wherever the scheduler puts it; from run to run the per-pass"
  echo "figures of two processes differ by up to some 10 % either way for that alone. The target is"
  echo "judged on the pinned comparison below."
  echo
  echo "### Pinned to CPU $PIN_CPU"
  echo
  if [ "$PIN_OK" -eq 1 ]; then
    echo "The bare grid loop (on its own pseudo-terminal, and on the terminal of a stand-in never sent a"
    echo "command, the same kernel path as the logger's read), a logger on an empty bus and a logger"
    echo "polling $PIN_N sensors, all pinned to CPU $PIN_CPU with \`taskset\` and running at the same time,"
    echo "each over whole cycles of its own (the loops over the polling logger's cycles)."
    echo "CPU of one answer = (polling logger − idle logger) µs/pass × its passes / its answers."
    echo
    echo "| process | passes | µs/pass (schedstat) | / bare loop on a stand-in's terminal |"
    echo "|---|---:|---:|---:|"
    for k in v o z x; do
      case $k in
        v) name="bare grid loop, stand-in's terminal" ;;
        o) name="bare grid loop, own terminal" ;;
        z) name="logger, empty bus" ;;
        x) name="logger, $PIN_N sensors" ;;
      esac
      echo "| $name | ${R[pin_passes_$k]} | ${R[pin_us_$k]} | $(printf '%.3f' "$(echo "${R[pin_us_$k]} / ${R[pin_us_v]}" | bc -l)") |"
    done
    echo
    echo "CPU of one answer (poll written, data line read, echoed, raw and value file rewritten):"
    echo "**${R[pin_answer_us]} µs**, over ${R[pin_answers_x]} answers."
    echo
    rel=$(echo "${R[pin_us_z]} / ${R[pin_us_v]}" | bc -l)
    relx=$(echo "${R[pin_us_x]} / ${R[pin_us_v]}" | bc -l)
    echo "Target: logger CPU within 10 % of the bare loop (on a stand-in's terminal) — idle logger:"
    echo "$(verdict "$(le "$rel" 1.10)"); logger polling $PIN_N sensors: $(verdict "$(le "$relx" 1.10)")."
  else
    echo "Not measured (no taskset, or CYCLE_PIN_N=0)."
  fi
  echo
  echo "## System calls per idle pass (empty bus)"
  echo
  if [ -f "$WORK/strace-logger.txt" ]; then
    lt=$(total_of "$WORK/strace-logger.txt")
    lcn=$(row_calls "$WORK/strace-logger.txt" clock_nanosleep)
    lrd=$(row_calls "$WORK/strace-logger.txt" read)
    gt=$(total_of "$WORK/strace-ref-grid.txt")
    gcn=$(row_calls "$WORK/strace-ref-grid.txt" clock_nanosleep)
    pt=$(total_of "$WORK/strace-ref-plain.txt")
    pcn=$(row_calls "$WORK/strace-ref-plain.txt" clock_nanosleep)
    pns=$(row_calls "$WORK/strace-ref-plain.txt" nanosleep)
    psl=$((pcn > pns ? pcn : pns))
    wall_ms=$(printf '%.0f' "$(echo "${R[strace_wall]} * 1000" | bc -l)")
    echo "\`strace -c -f -p <pid>\` for ${STRACE_SECONDS} s (${R[strace_wall]} s wall, ${R[strace_searches]} bus searches in it) on the"
    echo "logger of the N = 0 run, and at the same time on both reference loops. Passes are counted as the"
    echo "sleeping calls (each pass ends in exactly one; the logger's 1 s pause after each search is one"
    echo "more clock_nanosleep, counted as a pass here), or estimated as elapsed ms."
    echo
    echo "| process | total calls | sleeping calls | read calls | calls / sleeping call | calls / elapsed ms |"
    echo "|---|---:|---:|---:|---:|---:|"
    printf '| logger | %s | %s | %s | %.3f | %.3f |\n' "$lt" "$lcn" "$lrd" \
      "$(echo "$lt / $lcn" | bc -l)" "$(echo "$lt / $wall_ms" | bc -l)"
    printf '| ref grid | %s | %s | %s | %.3f | %.3f |\n' "$gt" "$gcn" \
      "$(row_calls "$WORK/strace-ref-grid.txt" read)" "$(echo "$gt / $gcn" | bc -l)" "$(echo "$gt / $wall_ms" | bc -l)"
    printf '| ref plain | %s | %s | %s | %.3f | %.3f |\n' "$pt" "$psl" \
      "$(row_calls "$WORK/strace-ref-plain.txt" read)" "$(echo "$pt / $psl" | bc -l)" "$(echo "$pt / $wall_ms" | bc -l)"
    echo
    read -r sp stot shist <<<"$(pass_split "$WORK/trace-logger.txt")"
    idle=$(echo "$shist" | tr ' ' '\n' | awk -F: '$2 > m {m = $2; k = $1} END {print k}')
    echo "Pass by pass (\`strace -f -ttt -p <pid>\` for 3 s, passes delimited by the TIMER_ABSTIME"
    echo "clock_nanosleep): $sp passes, $stot calls; calls per pass → passes: \`$shist\`."
    echo "Idle pass: **$idle** system calls (one read answering EAGAIN, one clock_nanosleep; clock_gettime"
    echo "goes through the vDSO and never shows). The passes with more calls are the search passes"
    echo "(configuration file load, \"\$?\" write, its echo on standard output, the 1 s pause)."
    echo
    echo "Target: exactly 2 system calls per idle pass — $(verdict "$([ "$idle" = 2 ] && echo 1 || echo 0)")."
    echo
    echo "Logger, \`strace -c\` table:"
    echo
    syscall_table "$WORK/strace-logger.txt"
    echo
    echo "Reference loop (grid), \`strace -c\` table:"
    echo
    syscall_table "$WORK/strace-ref-grid.txt"
    echo
    echo "Reference loop (plain), \`strace -c\` table:"
    echo
    syscall_table "$WORK/strace-ref-plain.txt"
  else
    echo "(not measured: no N = 0 run)"
  fi
  echo
  echo "## Answer latency and work per answer, seen by the logger (N = $PROBE_N)"
  echo
  if [ "$PROBE_OK" -eq 1 ]; then
    read -r lmean lp50 lp99 lmax lcount <<<"${R[probe_lat]}"
    pideal=$(echo "1 + $(exact_passes "$PROBE_N") / 1000" | bc -l)
    echo "A separate logger run under \`strace --seccomp-bpf -f -ttt -T -e trace=write,openat,close,newfstatat,fstat,lseek,ftruncate\`"
    echo "(stopped only on those calls, never on a pass's read or sleep), against its own stand-in with"
    echo "$PROBE_N sensors, ${R[probe_cycles]} complete cycles after the first. Answer latency = time from the"
    echo "logger's poll write to its echo of the data line it read (the echo follows the read at once)."
    echo
    echo "| answers | latency mean ms | median ms | p99 ms | max ms | logger-side period s (ratio) | logger-side poll spacing ms | traced calls per answer | their µs per answer (strace -T) |"
    echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    printf '| %s | %s | %s | %s | %s | %s (%.4f) | %s | %s | %s |\n' "$lcount" "$lmean" "$lp50" "$lp99" "$lmax" \
      "${R[probe_period]}" "$(echo "${R[probe_period]} / $pideal" | bc -l)" "${R[probe_spacing]}" \
      "${R[probe_calls]}" "${R[probe_us]}"
    echo
    echo "Calls per answer count everything traced in those cycles (the search's few calls included)"
    echo "divided by the data answers; their time is strace's -T, tracing overhead included."
    echo "A latency below 1 ms is the answer taken on the pass after the poll, as assumed for the ideal"
    echo "period; every further millisecond adds one pass to that device's share of the cycle."
  else
    echo "Not measured (strace without --seccomp-bpf, CYCLE_PROBE_N=0, or the probe run did not complete)."
  fi
  echo
  echo "## Memory and size"
  echo
  echo "VmHWM / VmRSS from /proc/<pid>/status at the end of each run (after all its cycles); open"
  echo "descriptors from /proc/<pid>/fd."
  echo
  echo "| N | normal VmHWM KiB | normal VmRSS KiB | static VmHWM KiB | static VmRSS KiB | fds normal / static |"
  echo "|---:|---:|---:|---:|---:|---:|"
  hwm_ok=1
  for N in $COUNTS; do
    echo "| $N | ${R[hwm_l,$N]} | ${R[rss_l,$N]} | ${R[hwm_s,$N]} | ${R[rss_s,$N]} | ${R[fds_l,$N]} / ${R[fds_s,$N]} |"
    [ "${R[hwm_s,$N]}" -lt 1024 ] || hwm_ok=0
  done
  echo
  echo "Target: static build peak RSS < 1 MiB — $(verdict $hwm_ok)."
  echo
  echo "| binary | size bytes | stripped bytes |"
  echo "|---|---:|---:|"
  echo "| normal ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt"), dynamic) | $(size_of "$LOGGER") | $(size_of "$WORK/kelvinlog.stripped") |"
  echo "| static (MinSizeRel) | $(size_of "$STATIC_LOGGER") | $(size_of "$WORK/kelvinlog-static.stripped") |"
  echo
  echo "## Handling of one data line (Google Benchmark)"
  echo
  if [ -n "$BENCH_OUT" ]; then
    echo "\`$BENCH --benchmark_filter=DataLine --benchmark_repetitions=3 --benchmark_report_aggregates_only=true\`:"
    echo
    echo '```'
    echo "$BENCH_OUT"
    echo '```'
  else
    echo "Skipped: \`$BENCH\` not built (configure with -DKELVINLOG_BENCH=ON)."
  fi
} >"$REPORT"

echo "run.sh: report written to $REPORT"
