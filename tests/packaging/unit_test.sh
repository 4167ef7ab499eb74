#!/usr/bin/env bash
# The systemd units of the build: what systemd-analyze says of them.
#
#   unit_test.sh verify UNIT LOGGER   the unit verifies without a word
#                                     (its logger path pointed at the build)
#   unit_test.sh security UNIT        exposure of at most 2.0
#   unit_test.sh verify-plain UNIT... units that verify as they are
# Exit 77 (skipped) without systemd-analyze.
set -euo pipefail
command -v systemd-analyze >/dev/null || { echo "systemd-analyze not installed"; exit 77; }

mode=$1; shift
t=$(mktemp -d /tmp/kelvinlog-unit-test-XXXXXX)
trap 'rm -rf "$t"' EXIT

quiet_verify() {  # systemd-analyze exits 0 on unknown keys: every word counts
  local out
  out=$(cd "$t" && systemd-analyze --man=no verify "$@" 2>&1) || { echo "$out"; return 1; }
  [ -z "$out" ] || { echo "$out"; return 1; }
}

case $mode in
  verify)
    unit=$1 logger=$2
    bin=$(sed -n 's|^ExecStart=\([^ ]*\) .*|\1|p' "$unit")
    [ -n "$bin" ] || { echo "no ExecStart in $unit"; exit 1; }
    sed "s|$bin|$logger|" "$unit" >"$t/$(basename "$unit")"
    quiet_verify "$t/$(basename "$unit")"
    ;;
  security)
    systemd-analyze security --offline=yes --threshold=20 "$1" | tail -n 1
    ;;
  verify-plain)
    for u in "$@"; do cp "$u" "$t/"; done
    # A oneshot's command need not exist here: point it at true(1).
    sed -i 's|^ExecStart=[^ ]*|ExecStart=/bin/true|' "$t"/*.service
    quiet_verify "$t"/*
    ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac
echo ok
