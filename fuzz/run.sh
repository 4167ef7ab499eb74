#!/usr/bin/env bash
# Builds the fuzz targets (clang++, libFuzzer, ASan + UBSan) into build-fuzz and
# runs each one for SECONDS from its seed corpus. Exits non-zero when a target
# finds a crash, a leak or a broken property; the inputs that did it are kept in
# fuzz/corpus-work/artifacts/<target>/.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]
#   logger targets: line lookup control frame; bridge targets: values switch labels textfile
set -u

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$root/build-fuzz"
work="$here/corpus-work"

seconds="${1:-}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(line lookup control frame values switch labels textfile)

# Longest input each target takes: flag byte + 300 adapter bytes; header + key
# + 100000 bytes of text; header + 64-byte control file; header + 255-byte line.
# Bridge: header + value file a little over its limit; header, prefix, payload
# and topic; header + label + configuration text; header, label, value file.
declare -A max_len=([line]=301 [lookup]=100027 [control]=66 [frame]=257
                    [values]=131 [switch]=600 [labels]=100088 [textfile]=256)
# The short inputs may use their whole length at once; the configuration text
# grows step by step (libFuzzer's length control) so that short texts come first.
declare -A extra=([line]=-len_control=0 [lookup]= [control]=-len_control=0 [frame]=-len_control=0
                  [values]=-len_control=0 [switch]=-len_control=0 [labels]= [textfile]=-len_control=0)

command -v clang++ >/dev/null || { echo "$0: clang++ is needed: apt-get install clang libclang-rt-14-dev" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja >/dev/null || exit 1
cmake --build "$build" || exit 1

status=0
summary=()
for t in "${targets[@]}"; do
  if [ -z "${max_len[$t]:-}" ]; then
    echo "unknown target: $t" >&2
    exit 2
  fi
  corpus="$work/$t"
  artifacts="$work/artifacts/$t"
  log="$work/$t.log"
  rm -rf "$corpus"
  mkdir -p "$corpus" "$artifacts"
  cp "$here/corpus/$t"/* "$corpus/"
  echo "== fuzz_$t for ${seconds}s (max_len ${max_len[$t]})"
  "$build/fuzz_$t" "$corpus" \
    -max_total_time="$seconds" -max_len="${max_len[$t]}" -print_final_stats=1 \
    -dict="$here/dict/$t.dict" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" ${extra[$t]} >"$log" 2>&1
  rc=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  line="fuzz_$t: ${execs:-?} executions in ${seconds}s"
  if [ $rc -ne 0 ]; then
    status=1
    line="fuzz_$t: FAILED (exit $rc) after ${execs:-?} executions, see $log and $artifacts/"
    grep -a -E "ERROR|SUMMARY|kelvinlog fuzz|runtime error|Test unit written" "$log" | head -20
  fi
  echo "$line"
  summary+=("$line")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
