#!/usr/bin/env bash
# The node exporter recipe: metrics from the files the real logger wrote, from
# a directory with hostile and odd entries, the atomic replacement of the
# .prom file, and (when prometheus-node-exporter is installed) a real scrape.
#
#   textfile_test.sh SCRIPT DEMO_OUT
set -euo pipefail

script=$1 demo=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/pids.sh
source "$here/scripts/pids.sh"
t=$(mktemp -d /tmp/kelvinlog-textfile-test-XXXXXX)
trap 'stop_started; rm -rf "$t"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
has_line() { grep -qxF -- "$2" "$1" || { cat "$1" >&2; fail "$1 lacks the line: $2"; }; }
has_match() { grep -qxE -- "$2" "$1" || { cat "$1" >&2; fail "$1 lacks a line like: $2"; }; }
lacks() { ! grep -qF -- "$2" "$1" || fail "$1 holds: $2"; }

# --- the real logger's demo output ------------------------------------------
mkdir "$t/prom"
prom=$t/prom/kelvinlog.prom
timeout 20 sh "$script" "$demo" "$prom"
for line in \
  'kelvinlog_temperature_celsius{label="Kitchen"} 21.500' \
  'kelvinlog_temperature_celsius{label="28FF7C2D0316041E"} -4.250' \
  'kelvinlog_temperature_celsius{label="Attic"} 19.5' \
  'kelvinlog_temperature_celsius{label="Cellar"} 22.250' \
  'kelvinlog_humidity_percent{label="Cellar",kind="rLf"} 50' \
  'kelvinlog_humidity_percent{label="Cellar",kind="rLi"} 45' \
  'kelvinlog_humidity_percent{label="Cellar",kind="rLq"} 10' \
  'kelvinlog_module_energy_joules{label="Meter"} 36000000' \
  'kelvinlog_consumption_joules{label="Meter"} 360000' \
  'kelvinlog_limit{label="Meter"} 0' \
  'kelvinlog_textfile_skipped_files 0'; do
  has_line "$prom" "$line"
done
has_match "$prom" 'kelvinlog_energy_joules\{label="Garage"\} [0-9]+00'
has_match "$prom" 'kelvinlog_energy_joules\{label="Heatpump"\} [0-9]+00'
# The time of the last good reading is the value file's modification time.
for label in Kitchen Meter Cellar Garage; do
  has_line "$prom" "kelvinlog_reading_timestamp_seconds{label=\"$label\"} $(stat -c %Y "$demo/${label}v.txt")"
done
# Every metric family once, with its HELP and TYPE before its samples.
[ "$(grep -c '^# TYPE kelvinlog_temperature_celsius gauge$' "$prom")" = 1 ] || fail "family split"
awk '/^# TYPE/ { seen[$3]++ } !/^#/ { m = $1; sub(/\{.*/, "", m); if (!(m in seen)) bad = bad " " m }
     END { if (bad != "") { print "samples before their TYPE:" bad; exit 1 } }' "$prom" ||
  fail "exposition order"

# --- a directory with odd and hostile entries --------------------------------
odd=$t/odd
mkdir "$odd"
printf '21.500\n' >"$odd/Kitchenv.txt"
: >"$odd/Emptyv.txt"                                   # caught while rewritten
printf '58 01 4B 46 7F FF 0C 10 1C \n' >"$odd/Stov.txt" # raw file of the label "Stov"
mkfifo "$odd/Fifov.txt"                                # would block a reader for ever
mkdir "$odd/Dirv.txt"
ln -s /etc/passwd "$odd/Linkv.txt"
printf '1.5\r\n' >"$odd/Crlfv.txt"
printf '7.25' >"$odd/NoLineEndv.txt"
printf '3.0\n' >"$odd/Say \"hi\" \\v.txt"
printf '10000;100\ncounter [Wh]; consumption[Wh]; limit/LED\n' >"$odd/Shortv.txt"
printf '1;2;3\nsomething else\n' >"$odd/Unknownv.txt"
printf '5\nsomething else\n' >"$odd/Headerv.txt"
printf '22\n' >"$odd/Kitchen.txt"                      # not a value file name
timeout 20 sh "$script" "$odd" "$prom" || fail "the script failed or hung on odd entries"
has_line "$prom" 'kelvinlog_temperature_celsius{label="Kitchen"} 21.500'
has_line "$prom" 'kelvinlog_temperature_celsius{label="Crlf"} 1.5'
has_line "$prom" 'kelvinlog_temperature_celsius{label="NoLineEnd"} 7.25'
has_line "$prom" 'kelvinlog_temperature_celsius{label="Say \"hi\" \\"} 3.0'
has_line "$prom" 'kelvinlog_textfile_skipped_files 6'  # Empty Sto Link Short Unknown Header
for label in Empty Sto Fifo Dir Link Short Unknown Header; do lacks "$prom" "label=\"$label\""; done
lacks "$prom" 'energy_joules{label="Kitchen"}'

# --- replaced by rename, never rewritten in place ----------------------------
before=$(stat -c %i "$prom")
timeout 20 sh "$script" "$demo" "$prom"
[ "$(stat -c %i "$prom")" != "$before" ] || fail "the .prom file was rewritten in place"
[ "$(stat -c %a "$prom")" = 644 ] || fail "the .prom file is not world-readable"
[ "$(ls "$t/prom")" = kelvinlog.prom ] || fail "left behind: $(ls "$t/prom")"

# --- a real scrape ----------------------------------------------------------
exporter=$(command -v prometheus-node-exporter || command -v node_exporter || true)
if [ -z "$exporter" ]; then
  echo "prometheus-node-exporter not installed: scrape skipped"
  exit 0
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$exporter" --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$t/prom" --web.listen-address="127.0.0.1:$port" \
  >"$t/exporter.log" 2>&1 &
STARTED+=("$!")
scraped=
for _ in $(seq 100); do
  if curl -fsS "http://127.0.0.1:$port/metrics" >"$t/metrics" 2>/dev/null; then scraped=1; break; fi
  sleep 0.1
done
[ -n "$scraped" ] || { cat "$t/exporter.log" >&2; fail "no scrape within 10 s"; }
has_line "$t/metrics" 'node_textfile_scrape_error 0'
has_line "$t/metrics" 'kelvinlog_temperature_celsius{label="Kitchen"} 21.5'
has_line "$t/metrics" 'kelvinlog_humidity_percent{kind="rLf",label="Cellar"} 50'
echo "ok"
