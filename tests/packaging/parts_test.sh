#!/usr/bin/env bash
# The optional parts at configure time, with their libraries hidden from
# CMake: AUTO leaves a part out with one line naming the package, ON stops
# the configure, OFF says nothing.
#
#   parts_test.sh SOURCE_DIR
set -euo pipefail
src=$1
t=$(mktemp -d /tmp/kelvinlog-parts-test-XXXXXX)
trap 'rm -rf "$t"' EXIT
fails=0
hidden=(-DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

# options | exit | lines or texts that must be there (;-separated) | text that must not
cases=(
  "-DKELVINLOG_BRIDGE=AUTO -DKELVINLOG_BENCH=OFF|0|-- kelvinlog-bridge left out: apt-get install pkgconf (or -DKELVINLOG_BRIDGE=OFF)|benchmarks"
  "-DKELVINLOG_BRIDGE=ON -DKELVINLOG_BENCH=OFF|1|kelvinlog-bridge: asked for with -DKELVINLOG_BRIDGE=ON;apt-get install pkgconf (or|left out"
  "-DKELVINLOG_BRIDGE=OFF -DKELVINLOG_BENCH=ON|1|the benchmarks: asked for with -DKELVINLOG_BENCH=ON;apt-get install libbenchmark-dev (or|kelvinlog-bridge"
)
n=0
for row in "${cases[@]}"; do
  IFS='|' read -r options code wanted unwanted <<<"$row"
  n=$((n + 1))
  status=0
  # shellcheck disable=SC2086
  cmake -S "$src" -B "$t/build$n" -DKELVINLOG_TESTS=OFF "${hidden[@]}" $options >"$t/out" 2>&1 || status=$?
  tr -s ' \n' ' ' <"$t/out" >"$t/flat"   # CMake wraps its error messages
  [ "$status" = "$code" ] || { echo "FAIL [$options]: exit $status, not $code"; cat "$t/out"; fails=$((fails + 1)); }
  IFS=';' read -ra lines <<<"$wanted"
  for line in "${lines[@]}"; do
    grep -qxF -- "$line" "$t/out" || grep -qF -- "$line" "$t/flat" ||
      { echo "FAIL [$options]: no '$line'"; cat "$t/out"; fails=$((fails + 1)); }
  done
  ! grep -q -- "$unwanted" "$t/out" || { echo "FAIL [$options]: '$unwanted' mentioned"; fails=$((fails + 1)); }
done
[ "$fails" = 0 ] || exit 1
echo "all ${#cases[@]} cases passed"
