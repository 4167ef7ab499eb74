#!/usr/bin/env bash
# The systemd units of the build: what systemd-analyze says of them.
#
#   unit_test.sh verify UNIT LOGGER   the unit verifies without a word
#                                     (its logger path pointed at the build)
#   unit_test.sh security UNIT        exposure of at most 2.0
#   unit_test.sh verify-plain UNIT... units that verify as they are
#   unit_test.sh generator GENERATOR PATH SERVICE
#                                     the path unit with the drop-in the
#                                     generator writes, for a table of settings
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
  generator)
    gen=$1 path=$2 service=$3
    cp "$path" "$t/"
    sed 's|^ExecStart=[^ ]*|ExecStart=/bin/true|' "$service" >"$t/$(basename "$service")"
    # settings (printf %b) | what the drop-in must hold (extended regex)
    while IFS='|' read -r settings want; do
      rm -rf "$t/kelvinlog.path.d" "$t/kelvinlog.service.d"
      printf '%b' "$settings" >"$t/settings"
      KELVINLOG_GENERATOR_SETTINGS=$t/settings "$gen" "$t" "$t/early" "$t/late"
      got=$(grep -v '^#' "$t/kelvinlog.path.d/device.conf")
      grep -qE -- "$want" <<<"$got" || { printf 'settings:\n%b\ndrop-in:\n%s\n' "$settings" "$got"; exit 1; }
      # A device replaces the unit's default path: the list is reset first.
      ! grep -q '^PathExists=/' <<<"$got" || [ "$(grep '^PathExists=' <<<"$got" | head -n 1)" = PathExists= ] ||
        { echo "the default path is watched too: $got"; exit 1; }
      # The service is skipped while a device is missing; without one it is
      # left to its ExecCondition=, which says so.
      device=$(sed -n 's/^PathExists=\(.\)/\1/p' <<<"$got")
      if [ -n "$device" ]; then
        [ "$(grep -v '^#' "$t/kelvinlog.service.d/device.conf")" = "$(printf '[Unit]\nConditionPathExists=%s' "$device")" ] ||
          { echo "the service's condition is not $device"; exit 1; }
      else
        [ ! -e "$t/kelvinlog.service.d/device.conf" ] || { echo "a condition without a device"; exit 1; }
      fi
      quiet_verify "$t/$(basename "$path")"
    done <<'TABLE'
KELVINLOG_DEVICE=/dev/ttyUSB1\n|^PathExists=/dev/ttyUSB1$
# a comment\nKELVINLOG_DEVICE=/dev/ttyAMA0\nKELVINLOG_OPTIONS=q\n|^PathExists=/dev/ttyAMA0$
  KELVINLOG_DEVICE = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0"  \n|^PathExists=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0$
KELVINLOG_DEVICE='/dev/kelvinlog-adapter'\n|^PathExists=/dev/kelvinlog-adapter$
KELVINLOG_DEVICE=/dev/ttyS1\nKELVINLOG_DEVICE=/dev/ttyS2\n|^PathExists=/dev/ttyS2$
#KELVINLOG_DEVICE=/dev/ttyUSB0\n|not set$
KELVINLOG_DEVICE=\n|not set$
KELVINLOG_DEVICE=""\n|not set$
KELVINLOG_DEVICE=ttyUSB0\n|not an absolute
KELVINLOG_DEVICE=/dev/tty%n\n|not an absolute
KELVINLOG_DEVICE=/dev/tty USB0\n|not an absolute
KELVINLOG_DEVICE=/dev/../etc/passwd\n|not an absolute
TABLE
    # No settings file at all: nothing is watched either.
    rm -rf "$t/kelvinlog.path.d"
    KELVINLOG_GENERATOR_SETTINGS=$t/none "$gen" "$t" "$t/early" "$t/late"
    grep -q '^ConditionPathExists=/dev/null/' "$t/kelvinlog.path.d/device.conf" || { echo "no settings: watched"; exit 1; }
    quiet_verify "$t/$(basename "$path")"
    ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac
echo ok
