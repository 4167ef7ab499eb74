#!/usr/bin/env bash
# `cmake --install BUILD --prefix P` and `DESTDIR=D cmake --install BUILD`
# write below P (or D) and nowhere else, and the installed unit and settings
# name the prefix. Runs in a private mount namespace: /usr/local is an empty
# tmpfs, and /etc, /usr, /var and /opt are overlays whose upper layers catch
# every file written there.
#
#   install_prefix_test.sh BUILD_DIR
# Exit 77 (skipped) without root or unshare.
set -euo pipefail
build=$(cd "$1" && pwd)

if [ "${KELVINLOG_IN_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "needs root (a private mount namespace): skipped"; exit 77; }
  command -v unshare >/dev/null || { echo "unshare not installed: skipped"; exit 77; }
  unshare -m --propagation private true 2>/dev/null ||
    { echo "no private mount namespace here (unshare -m fails, e.g. in a chroot): skipped"; exit 77; }
  t=$(mktemp -d /tmp/kelvinlog-install-test-XXXXXX)
  status=0
  KELVINLOG_IN_NAMESPACE=1 unshare -m --propagation private bash "$0" "$build" "$t" || status=$?
  rmdir "$t"
  exit "$status"
fi

fail() { echo "FAIL: $*" >&2; exit 1; }
t=$2
mount -t tmpfs tmpfs "$t"
watched=(/etc /usr /var /opt)
for d in "${watched[@]}"; do
  [ -d "$d" ] || continue
  name=${d//\//_}
  mkdir "$t/up$name" "$t/work$name"
  mount -t overlay overlay -o "lowerdir=$d,upperdir=$t/up$name,workdir=$t/work$name" "$d"
done
mount -t tmpfs tmpfs /usr/local
ls -A / >"$t/root.before"

# Nothing of the install may show outside its target.
outside() {
  local what=$1 d
  for d in "$t"/up_*; do
    [ -z "$(find "$d" -mindepth 1 -print -quit)" ] ||
      fail "$what wrote outside its target: $(cd "$d" && find . -mindepth 1 | head -5 | xargs)"
  done
  [ -z "$(ls -A /usr/local)" ] || fail "$what wrote into /usr/local: $(ls -A /usr/local | xargs)"
  ls -A / | cmp -s - "$t/root.before" || fail "$what made a new entry in /"
}

prefix=$t/prefix
cmake --install "$build" --prefix "$prefix" >"$t/install.log" || { cat "$t/install.log"; fail "install"; }
outside "cmake --install --prefix"
for f in bin/kelvinlog etc/default/kelvinlog etc/kelvinlog/kelvinlog-config.txt etc/logrotate.d/kelvinlog \
         lib/systemd/system/kelvinlog.service lib/sysusers.d/kelvinlog.conf lib/tmpfiles.d/kelvinlog.conf; do
  [ -f "$prefix/$f" ] || fail "$prefix/$f not installed"
done
unit=$prefix/lib/systemd/system/kelvinlog.service
grep -q "^ExecStart=$prefix/bin/kelvinlog " "$unit" || fail "the unit's ExecStart does not name the prefix"
grep -qx "EnvironmentFile=-$prefix/etc/default/kelvinlog" "$unit" || fail "the unit's settings file"
# The working directory is the service's own below /var/log (LogsDirectory=,
# any prefix); its link to the configuration names the prefix's.
grep -q " /var/log/kelvinlog/kelvinlog-config.txt .* $prefix/etc/kelvinlog/kelvinlog-config.txt\$" \
  "$prefix/lib/tmpfiles.d/kelvinlog.conf" || fail "the working directory's link to the configuration"
[ -x "$prefix/lib/systemd/system-generators/kelvinlog-generator" ] || fail "the generator"
grep -q "$prefix/etc/default/kelvinlog" "$prefix/lib/systemd/system-generators/kelvinlog-generator" ||
  fail "the generator reads another settings file"
grep -q "$prefix/share/doc/kelvinlog/examples/60-kelvinlog-adapter.rules" "$prefix/etc/default/kelvinlog" ||
  fail "the settings file names another documentation directory"
grep -q "^d $prefix/etc/kelvinlog " "$prefix/lib/tmpfiles.d/kelvinlog.conf" || fail "the tmpfiles.d entry"
if [ -f "$prefix/bin/kelvinlog-bridge" ]; then
  grep -q "^ExecStart=$prefix/bin/kelvinlog-bridge .*--config $prefix/etc/kelvinlog/" \
    "$prefix/lib/systemd/system/kelvinlog-bridge.service" || fail "the bridge's unit"
  [ -f "$prefix/etc/default/kelvinlog-bridge" ] || fail "the bridge's settings not installed"
fi

# DESTDIR: the whole configured prefix moves below it.
dest=$t/dest
DESTDIR=$dest cmake --install "$build" >"$t/install.log" || { cat "$t/install.log"; fail "install"; }
outside "DESTDIR=... cmake --install"
configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ -f "$dest$configured/bin/kelvinlog" ] || fail "DESTDIR: $dest$configured/bin/kelvinlog missing"
unit=$(find "$dest" -name kelvinlog.service)
[ -n "$unit" ] || fail "DESTDIR: no unit installed"
grep -q "^ExecStart=$configured/bin/kelvinlog " "$unit" ||
  fail "DESTDIR: the unit does not name the configured prefix $configured"
echo "installs stay below the prefix and below DESTDIR"
