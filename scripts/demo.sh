#!/usr/bin/env bash
# Runs the logger against the adapter stand-in for one poll cycle and shows
# every file it wrote. Usage: scripts/demo.sh [build-dir] [scenario]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
scenario=${2:-}
logger=$build/kelvinlog
sim=$build/adapter-sim
[ -x "$logger" ] && [ -x "$sim" ] || { echo "build first: $logger and $sim are missing" >&2; exit 1; }

work=$(mktemp -d /tmp/kelvinlog-demo-XXXXXX)
mkdir "$work/out"
cp "$here/sim/scenarios/demo-config.txt" "$work/kelvinlog-config.txt"
link=$work/tty

sim_args=(--link "$link" --log "$work/adapter.log")
[ -n "$scenario" ] && sim_args+=(--scenario "$scenario")
"$sim" "${sim_args[@]}" >"$work/adapter.out" 2>&1 &
sim_pid=$!
logger_pid=
cleanup() {
  [ -n "$logger_pid" ] && kill "$logger_pid" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# Wait (at most 5 s) for the stand-in's pseudo-terminal.
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "adapter-sim did not start:" >&2; cat "$work/adapter.out" >&2; exit 1; }

# -f: no single-instance guard (it would look for other copies by name).
(cd "$work" && exec "$logger" "$link" out/ -f) >"$work/kelvinlog.out" 2>&1 &
logger_pid=$!

# One whole cycle: wait for the second bus search (at most 20 s).
for _ in $(seq 200); do
  [ "$(grep -c '^o\$?$' "$work/kelvinlog.out" || true)" -ge 2 ] && break
  sleep 0.1
done
cleanup
trap - EXIT

echo "== logger output, first cycle =="
awk '/^o\$\?$/ { n++ } n < 2 { print }' "$work/kelvinlog.out"
echo
echo "== files in the output directory =="
for f in "$work"/out/*; do
  printf -- '--- %s\n' "${f#"$work"/}"
  cat "$f"
done
echo
echo "(everything is kept in $work)"
