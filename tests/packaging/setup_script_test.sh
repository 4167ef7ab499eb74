#!/usr/bin/env bash
# scripts/test.sh's set-up, driven by stand-ins for id, sudo, dpkg, dpkg-query,
# apt-get, cmake and ctest: it asks apt-get for exactly the missing packages,
# for none when all are there, goes through sudo when not root, and where it
# cannot install prints the apt-get line and stops before it builds.
#
#   setup_script_test.sh SOURCE_DIR
set -euo pipefail
src=$1
script=$src/scripts/test.sh
t=$(mktemp -d /tmp/kelvinlog-setup-test-XXXXXX)
trap 'rm -rf "$t"' EXIT
fails=0
fail() { echo "FAIL [$case]: $*" >&2; fails=$((fails + 1)); }

mkdir "$t/bin"
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$t/bin/$1"; chmod +x "$t/bin/$1"; }
# Every call is logged; the dpkg database is $t/db, lines "name arch status".
stub id        'echo "$STUB_UID"'
stub sudo      'echo "sudo $*" >>"$STUB_LOG"
                [ "$STUB_SUDO" = works ] || { echo "sudo: you are not in the sudoers file" >&2; exit 1; }
                exec "$@"'
stub apt-get   'echo "apt-get $*" >>"$STUB_LOG"'
stub cmake     'echo "cmake $*" >>"$STUB_LOG"'
stub ctest     'echo "ctest $*" >>"$STUB_LOG"'
stub dpkg      'case $1 in
                  --print-architecture) echo amd64 ;;
                  --print-foreign-architectures) cat "$STUB_DB.foreign" 2>/dev/null || true ;;
                  *) echo "dpkg $*" >>"$STUB_LOG" ;;
                esac'
stub dpkg-query 'name=${!#} arch=; [[ $name == *:* ]] && arch=${name##*:} name=${name%%:*}
                 found=$(awk -v n="$name" -v a="$arch" "\$1 == n && (a == \"\" || \$2 == a) { print \$2, \$3 }" "$STUB_DB")
                 [ -n "$found" ] || { echo "dpkg-query: no packages found matching $name" >&2; exit 1; }
                 echo "$found"'

# A database with every package of both groups installed.
full_db() {
  local p
  for p in $("$script" --list --group ci); do
    case $p in
      *:*) echo "${p%%:*} ${p##*:} installed" ;;
      nlohmann-json3-dev) echo "$p all installed" ;;
      *) echo "$p amd64 installed" ;;
    esac
  done
}

# case | uid | sudo | groups | database edit (sed) | packages apt-get must be asked for | exit
cases=(
  "all present as root      |0   |none  |      |                                            |                                |0"
  "missing as root          |0   |none  |      |/^libgmock-dev /d; s/^mosquitto amd64 installed/mosquitto amd64 config-files/; s/^libmosquitto-dev amd64/libmosquitto-dev arm64/ |libgmock-dev libmosquitto-dev mosquitto|0"
  "missing through sudo     |1000|works |      |/^curl /d                                   |curl                            |0"
  "missing, sudo refused    |1000|fails |      |/^curl /d; /^python3-yaml /d                |                                |1"
  "another architecture     |0   |none  |ci    |/^libmosquitto-dev arm64/d                  |libmosquitto-dev:arm64          |0"
)
for row in "${cases[@]}"; do
  IFS='|' read -r case uid sudo groups edit want code <<<"$row"
  case=$(echo $case) uid=$(echo $uid) sudo=$(echo $sudo) groups=$(echo $groups) want=$(echo $want)
  edit=${edit%"${edit##*[! ]}"}
  full_db >"$t/db"
  [ -z "$edit" ] || sed -i "$edit" "$t/db"
  : >"$t/log"
  args=()
  [ -z "$groups" ] || args=(--group "$groups")
  status=0
  STUB_UID=$uid STUB_SUDO=$sudo STUB_DB=$t/db STUB_LOG=$t/log PATH="$t/bin:$PATH" \
    "$script" "${args[@]}" >"$t/out" 2>&1 || status=$?
  [ "$status" = "$code" ] || { fail "exit $status, not $code"; cat "$t/out" >&2; }

  asked=$(sed -n 's/^apt-get .*install -y -q --no-install-recommends //p' "$t/log" | tr ' ' '\n' | sort | xargs)
  [ "$asked" = "$(echo $want | tr ' ' '\n' | sort | xargs)" ] || fail "apt-get asked for '$asked', not '$want'"
  if [ -z "$want" ]; then
    ! grep -q '^apt-get' "$t/log" || fail "apt-get ran though nothing was to be installed"
  fi
  if [ "$uid" = 0 ]; then
    ! grep -q '^sudo' "$t/log" || fail "sudo used as root"
  elif [ -n "$want" ]; then
    grep -q "^sudo env DEBIAN_FRONTEND=noninteractive apt-get install .* $want\$" "$t/log" ||
      fail "apt-get not run through sudo"
  fi
  if [ "$code" = 0 ]; then
    grep -q '^cmake -S \. -B build -DKELVINLOG_TESTS=ON -DKELVINLOG_BRIDGE=ON -DKELVINLOG_BENCH=ON$' "$t/log" ||
      fail "not configured with every part asked for"
    grep -q '^ctest ' "$t/log" || fail "the tests did not run"
  else
    ! grep -q '^cmake' "$t/log" || fail "built although the packages are missing"
    line=$(sed -n '/^apt-get install /p' "$t/out")
    [ "$line" = "apt-get install curl python3-yaml" ] || fail "printed line is '$line'"
  fi
  if [ "$groups" = ci ]; then
    grep -qx 'dpkg --add-architecture arm64' "$t/log" || fail "arm64 not added to dpkg"
  fi
done
[ "$fails" = 0 ] || exit 1
echo "all ${#cases[@]} cases passed"
