#!/usr/bin/env bash
# The Debian packages under a booted systemd: a minimal Debian 12 root
# (mmdebstrap) booted with systemd-nspawn, the real .debs installed into it,
# and the adapter stand-in, run inside as a transient service, as the adapter.
#
#   booted_test.sh SOURCE_DIR DIST_DIR ADAPTER_SIM
#
# DIST_DIR holds kelvinlog{,-bridge}_<version>_<arch>.deb of this machine's
# architecture (scripts/build-packages.sh <arch>). Needs root, mmdebstrap and
# systemd-container (installed with apt-get when missing) and Debian's
# mirror. The root tarball is cached in $KELVINLOG_BOOTED_CACHE
# (/var/cache/kelvinlog-booted), named after the package list, so a rerun
# needs no mirror. Where the container cannot be had (not root, no
# systemd-nspawn, it does not boot) the test says why and is skipped (77),
# but fails under CI=true. About a minute with a cached root.
set -euo pipefail
# A match looked for in a pipe: grep -q would quit at the first match, and
# under pipefail the writer's SIGPIPE would then fail the pipeline.
has() { grep "$@" >/dev/null; }
src=$1 dist=$2 sim=$3
start_time=$(date +%s)

unavailable() {
  echo "booted test not run: $*" >&2
  [ "${CI:-}" = true ] && { echo "(CI=true: that is a failure)" >&2; exit 1; }
  exit 77
}
fail() { echo "FAIL: $*" >&2; dump; exit 1; }
step() { echo "== $* ($(( $(date +%s) - start_time )) s)"; }

[ "$(id -u)" = 0 ] || unavailable "needs root (systemd-nspawn, mmdebstrap)"
arch=$(dpkg --print-architecture)
version=$(sed -n '1s/^kelvinlog (\([^)]*\)).*/\1/p' "$src/debian/changelog")
deb=$dist/kelvinlog_${version}_$arch.deb
bridge_deb=$dist/kelvinlog-bridge_${version}_$arch.deb
[ -f "$deb" ] && [ -f "$bridge_deb" ] ||
  unavailable "no packages $deb, $bridge_deb (scripts/build-packages.sh $arch)"
[ -x "$sim" ] || unavailable "no adapter stand-in $sim"

need=()
command -v mmdebstrap >/dev/null || need+=(mmdebstrap)
command -v systemd-nspawn >/dev/null || need+=(systemd-container)
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing ${need[*]}"
  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"; } >&2 ||
    unavailable "cannot install ${need[*]}"
fi

# --- the root file system, cached by its package list -------------------------
suite=bookworm
mirror=${KELVINLOG_BOOTED_MIRROR:-http://deb.debian.org/debian}
# systemd and dbus to boot, logrotate and mosquitto as the packages' partners
# (procps: mosquitto's reload after a rotation runs /bin/kill), and what the
# two .debs depend on.
include=systemd,systemd-sysv,dbus,logrotate,mosquitto,mosquitto-clients,procps,libmosquitto1,libstdc++6
cache=${KELVINLOG_BOOTED_CACHE:-/var/cache/kelvinlog-booted}
key=$(printf '%s\n' "$suite" "$arch" minbase "$include" "$mirror" | sha256sum | cut -c1-16)
tarball=$cache/$suite-$arch-$key.tar
if [ ! -f "$tarball" ]; then
  step "mmdebstrap $suite ($include) into $tarball"
  mkdir -p "$cache"
  mmdebstrap --quiet --format=tar --variant=minbase --include="$include" "$suite" "$tarball.partial" "$mirror" ||
    { rm -f "$tarball.partial"; unavailable "mmdebstrap failed (no mirror?)"; }
  mv "$tarball.partial" "$tarball"
  # Roots of earlier package lists are not needed again.
  find "$cache" -maxdepth 1 -name "$suite-$arch-*.tar" ! -name "$(basename "$tarball")" -delete
fi

work=$(mktemp -d /var/tmp/kelvinlog-booted-XXXXXX)
root=$work/root
nspawn_pid=
leader=
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    [ -n "$leader" ] && nsenter -t "$leader" -a systemctl poweroff --no-block >/dev/null 2>&1 || true
    local down=$(date +%s)
    for _ in $(seq 150); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.2; done
    down=$(( $(date +%s) - down ))
    [ "$down" -lt 10 ] || { echo "the container took $down s to power off:"; tail -n 15 "$work/console.log"; } >&2
    # Not down within 30 s: end it, at last with SIGKILL for the container's
    # init as well.
    kill "$nspawn_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$nspawn_pid" ${leader:+"$leader"} 2>/dev/null || true
    wait "$nspawn_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$root"
tar -C "$root" -xf "$tarball"
cp "$deb" "$bridge_deb" "$root/root/"
install -m 755 "$sim" "$root/usr/local/bin/adapter-sim"
mkdir -p "$root/etc/systemd/system"
# An installed system has /etc/hosts (the installer writes it); a bare
# mmdebstrap root does not, and "localhost", the bridge's default broker,
# would not resolve without a network.
[ -s "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"

# --- boot ----------------------------------------------------------------------
step "boot the container"
machine=kelvinlog-booted-$$
# --register=no --keep-unit: no machined or host bus needed. CAP_BPF and the
# bpf system call let the container's systemd enforce DevicePolicy=, which it
# does with BPF on the unified cgroup hierarchy only: that one for the
# container, also on a host with the hybrid one.
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn --quiet --directory="$root" --boot --private-network --register=no --keep-unit \
  --machine="$machine" --capability=CAP_BPF --system-call-filter=bpf --console=read-only \
  </dev/null >"$work/console.log" 2>&1 &
nspawn_pid=$!

# A command inside the container, with the container's own environment.
inside() { nsenter -t "$leader" -a env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
# wait_for SECONDS WHAT COMMAND...: poll every 0.1 s until COMMAND succeeds.
wait_for() {
  local limit=$1 what=$2; shift 2
  local end=$(( $(date +%s) + limit ))
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$end" ] || fail "no $what within $limit s"
    sleep 0.1
  done
}
journal() { inside journalctl --no-pager -q -o short-monotonic "$@"; }
dump() {
  [ -n "$leader" ] || { tail -n 30 "$work/console.log" >&2; return; }
  echo "--- journal of kelvinlog, kelvinlog.path, kelvinlog-bridge, logrotate:" >&2
  journal -u kelvinlog -u kelvinlog.path -u kelvinlog-bridge -u logrotate | tail -n 60 >&2 || true
  inside systemctl --failed --no-legend >&2 || true
}

boot_end=$(( $(date +%s) + 120 ))
until [ -n "$leader" ]; do
  kill -0 "$nspawn_pid" 2>/dev/null || { tail -n 20 "$work/console.log" >&2; unavailable "systemd-nspawn ended at boot"; }
  [ "$(date +%s)" -lt "$boot_end" ] || unavailable "no container init after 120 s"
  pid=$(ps -o pid= --ppid "$nspawn_pid" | head -n 1 | tr -d " " || true)
  [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = systemd ] && leader=$pid
  sleep 0.1
done
state=
until state=$(timeout 10 nsenter -t "$leader" -a systemctl is-system-running --wait 2>/dev/null) ||
      [ "$state" = degraded ]; do
  kill -0 "$nspawn_pid" 2>/dev/null || unavailable "the container ended at boot"
  [ "$(date +%s)" -lt "$boot_end" ] || { dump; unavailable "the container did not finish booting ($state)"; }
  sleep 0.2
done
[ "$state" = running ] || { inside systemctl --failed --no-legend >&2; unavailable "the booted container is $state"; }

system_running() {
  local s
  s=$(inside systemctl is-system-running) || { inside systemctl --failed --no-legend >&2; fail "system $s $*"; }
}
active() { [ "$(inside systemctl is-active "$1")" = active ]; }
# Journal positions by name: mark NAME, then the entries after it.
declare -A cursor
mark() { cursor[$1]=$(inside journalctl -n 1 --show-cursor --no-pager | sed -n 's/^-- cursor: //p'); }
since() { local c=${cursor[$1]}; shift; journal --after-cursor="$c" "$@"; }
saw() { since "$1" | has -- "$2"; }
mark boot

# --- install: the default device is absent ---------------------------------------
step "install $(basename "$deb")"
inside dpkg -i "/root/$(basename "$deb")" >/dev/null || fail "dpkg -i kelvinlog"
inside getent passwd kelvinlog >/dev/null || fail "no user kelvinlog"
inside id -nG kelvinlog | has -w dialout || fail "kelvinlog is not in dialout"
wait_for 10 "skip line" saw boot 'unmet condition check (ConditionPathExists=/dev/ttyUSB0)'
active kelvinlog.path || fail "kelvinlog.path is not active after the install"
! active kelvinlog || fail "the logger runs without its device"
[ "$(inside readlink /var/log/kelvinlog/kelvinlog-config.txt)" = /etc/kelvinlog/kelvinlog-config.txt ] ||
  fail "no link to the configuration in the working directory"
[ "$(inside stat -c '%a %U %G' /etc/kelvinlog)" = "755 root kelvinlog" ] || fail "/etc/kelvinlog: $(inside stat -c '%a %U %G' /etc/kelvinlog)"
echo "journal lines of the skip at the install (device absent):"
journal -u kelvinlog -u kelvinlog.path | sed 's/^/  /'

# Without a device in the settings: a line that says so, and nothing watched.
step "KELVINLOG_DEVICE commented out"
mark unset
inside sed -i 's|^KELVINLOG_DEVICE=|#KELVINLOG_DEVICE=|' /etc/default/kelvinlog
inside systemctl daemon-reload
inside systemctl restart kelvinlog.path kelvinlog
wait_for 10 "unset-device line" saw unset 'not started: KELVINLOG_DEVICE is not set in /etc/default/kelvinlog'
[ "$(inside systemctl show -P ConditionResult kelvinlog.path)" = no ] || fail "kelvinlog.path watches without a device"

# The demo bus's configuration, edited in place, and the demo device name.
inside sh -c 'cat > /etc/kelvinlog/kelvinlog-config.txt' <"$src/sim/scenarios/demo-config.txt"
inside sed -i 's|^#KELVINLOG_DEVICE=.*|KELVINLOG_DEVICE=/dev/kelvinlog-adapter|' /etc/default/kelvinlog
# A short watchdog, and SIGKILL 2 s after its SIGABRT, which a stopped
# process does not take. (The stand-in's terminal needs no DeviceAllow=:
# DevicePolicy=closed admits pseudo-terminals like /dev/null.)
mkdir -p "$root/etc/systemd/system/kelvinlog.service.d"
cat >"$root/etc/systemd/system/kelvinlog.service.d/booted-test.conf" <<'EOF'
[Service]
WatchdogSec=8s
TimeoutAbortSec=2s
EOF
mark configured
inside systemctl daemon-reload
inside systemctl restart kelvinlog.path kelvinlog
wait_for 10 "skip line for /dev/kelvinlog-adapter" saw configured 'unmet condition check (ConditionPathExists=/dev/kelvinlog-adapter)'
[ "$(inside systemctl show -P ConditionResult kelvinlog.path)" = yes ] || fail "kelvinlog.path not started"
mark absent

# --- the adapter stand-in, and DevicePolicy= -------------------------------------
step "start the stand-in"
start_sim() {
  inside systemd-run --quiet --unit=adapter-sim --collect /usr/local/bin/adapter-sim \
    --link /run/adapter-sim-tty --log /run/adapter-sim.log --bad-crc-rate 0.2 || fail "systemd-run adapter-sim"
  wait_for 10 "adapter-sim link" inside test -c /run/adapter-sim-tty
  pty=$(inside readlink /run/adapter-sim-tty)
  inside chown root:dialout "$pty"
  inside chmod 0660 "$pty"
}
start_sim
# The device cgroup is enforced: an on-board UART (ttyS3, without hardware:
# ENXIO once admitted) is refused to a unit that admits USB serial only, and
# admitted by the unit's own DeviceAllow= line of ttyS.
inside mknod /dev/ttyS3 c 4 67
open_uart() { inside systemd-run --quiet --wait --pipe --collect -p DevicePolicy=closed -p "$1" sh -c 'exec 3<>/dev/ttyS3' 2>&1 || true; }
uart_line=$(inside sed -n 's/^DeviceAllow=\(char-ttyS rw\)$/\1/p' /lib/systemd/system/kelvinlog.service)
[ -n "$uart_line" ] || fail "the unit does not admit char-ttyS"
open_uart 'DeviceAllow=char-ttyUSB rw' | has 'Operation not permitted' || fail "DevicePolicy= is not enforced in the container"
! open_uart "DeviceAllow=$uart_line" | has 'Operation not permitted' || fail "char-ttyS does not admit ttyS3"
inside rm /dev/ttyS3

absent_lines=$(since absent -u kelvinlog -u kelvinlog.path)
[ -z "$absent_lines" ] || fail "journal lines while the adapter was absent: $absent_lines"

# --- the late adapter: the configured device appears ------------------------------
step "the adapter appears"
t0=$(date +%s%N)
inside ln -s "$pty" /dev/kelvinlog-adapter
wait_for 15 "logger READY" active kelvinlog
t1=$(date +%s%N)
ready_ms=$(( (t1 - t0) / 1000000 ))
echo "device appeared -> READY (active): $ready_ms ms"
[ "$ready_ms" -le 10000 ] || fail "READY $ready_ms ms after the device appeared"
status_shown() { inside systemctl show -P StatusText kelvinlog | has -E '^cycle [0-9]+: 7 devices, [0-9]+ answers'; }
wait_for 30 "STATUS line" status_shown
inside systemctl status kelvinlog --no-pager | grep -E '^ +Status: "cycle [0-9]+: 7 devices' ||
  fail "systemctl status shows no STATUS line"
wait_for 15 "value file" inside test -s /var/lib/kelvinlog/Kitchenv.txt
[ "$(inside cat /var/lib/kelvinlog/Kitchenv.txt)" = 21.500 ] || fail "Kitchenv.txt: $(inside cat /var/lib/kelvinlog/Kitchenv.txt)"
inside test ! -e /etc/kelvinlog/debug.txt || fail "a log under /etc"

# --- a control file written by root, as the manual shows --------------------------
step "control file"
# Created as kelvinlog(1) shows, by root under umask 022.
inside sh -c 'umask 022; echo 1 | install -m 664 -g kelvinlog /dev/stdin /var/lib/kelvinlog/Kitcheno.txt'
[ "$(inside stat -c '%a %G' /var/lib/kelvinlog/Kitcheno.txt)" = "664 kelvinlog" ] ||
  fail "Kitcheno.txt: $(inside stat -c '%a %G' /var/lib/kelvinlog/Kitcheno.txt)"
switched_on() { inside grep -qE '[$][0-9]+;11' /run/adapter-sim.log; }
wait_for 20 "switch command on the bus" switched_on
# A reset request is rewritten to 0 by the logger: the file is writable to it.
inside sh -c 'echo r > /var/lib/kelvinlog/Kitcheno.txt'
rewritten() { [ "$(inside cat /var/lib/kelvinlog/Kitcheno.txt)" = 0 ]; }
wait_for 20 "reset request rewritten" rewritten
# A plain "echo 1 >" by root under umask 022: a file of mode 644 that the
# logger may only read, applied all the same.
inside rm /var/lib/kelvinlog/Kitcheno.txt
inside sh -c ': > /run/adapter-sim.log; umask 022; echo 1 > /var/lib/kelvinlog/Kitcheno.txt'
[ "$(inside stat -c '%a %U' /var/lib/kelvinlog/Kitcheno.txt)" = "644 root" ] || fail "umask 022 did not give 644"
wait_for 20 "switch command from a file the logger may only read" switched_on
inside rm -f /var/lib/kelvinlog/Kitcheno.txt

# --- the watchdog ----------------------------------------------------------------
step "watchdog: SIGSTOP the logger"
pid=$(inside systemctl show -P MainPID kelvinlog)
[ "$pid" -gt 0 ] || fail "no MainPID"
mark watchdog
inside sh -c "kill -STOP $pid"
wait_for 30 "watchdog timeout" saw watchdog 'Watchdog timeout'
restarted() { [ "$(inside systemctl show -P MainPID kelvinlog)" != "$pid" ] && active kelvinlog; }
wait_for 40 "restart after the watchdog" restarted
inside test ! -e "/proc/$pid" || fail "the stopped logger $pid is still there"

# --- the adapter unplugged and plugged in again ------------------------------------
step "unplug, replug"
restarts=$(inside systemctl show -P NRestarts kelvinlog)
mark unplug
inside systemctl stop adapter-sim
wait_for 40 "skip after the adapter is lost" saw unplug 'unmet condition check (ConditionPathExists=/dev/kelvinlog-adapter)'
inactive() { [ "$(inside systemctl is-active kelvinlog)" = inactive ]; }
wait_for 5 "service stopped" inactive
[ "$(inside systemctl show -P NRestarts kelvinlog)" -le $(( restarts + 1 )) ] || fail "restart loop"
echo "journal lines of the adapter's loss:"
since unplug -u kelvinlog -u kelvinlog.path | sed 's/^/  /'
inside rm -f /dev/kelvinlog-adapter
start_sim
t0=$(date +%s%N)
inside ln -s "$pty" /dev/kelvinlog-adapter
wait_for 15 "logger READY after the replug" active kelvinlog
echo "replugged -> READY: $(( ($(date +%s%N) - t0) / 1000000 )) ms"

# --- logrotate under Debian's hardened logrotate.service ---------------------------
step "logrotate -f through logrotate.service"
inside sed -i 's|^KELVINLOG_OPTIONS=.*|KELVINLOG_OPTIONS=d|' /etc/default/kelvinlog
inside systemctl restart kelvinlog
# debug.txt is written in the unit's working directory, wherever that is.
wd=$(inside systemctl show -P WorkingDirectory kelvinlog)
wait_for 30 "debug.txt" inside test -s "$wd/debug.txt"
wait_for 60 "err.txt (a bad checksum)" inside test -s /var/lib/kelvinlog/err.txt
# A runtime drop-in (/run is the container's own tmpfs) adds -f.
inside mkdir -p /run/systemd/system/logrotate.service.d
inside sh -c "printf '[Service]\nExecStart=\nExecStart=/usr/sbin/logrotate -f /etc/logrotate.conf\n' \
  >/run/systemd/system/logrotate.service.d/force.conf"
inside systemctl daemon-reload
inside systemctl start logrotate.service || fail "logrotate.service failed"
inside test -s "$wd/debug.txt.1.gz" || fail "debug.txt not rotated"
inside test -s /var/lib/kelvinlog/err.txt.1.gz || fail "err.txt not rotated"
wait_for 20 "debug.txt written anew" inside test -s "$wd/debug.txt"
active kelvinlog || fail "the logger ended after the rotation"
system_running "after logrotate"
[ "$wd" = /var/log/kelvinlog ] || fail "working directory $wd"
inside rm -r /run/systemd/system/logrotate.service.d
inside sed -i 's|^KELVINLOG_OPTIONS=.*|KELVINLOG_OPTIONS=q|' /etc/default/kelvinlog
inside systemctl daemon-reload
inside systemctl restart kelvinlog

# --- the bridge publishing to the container's mosquitto ----------------------------
step "install $(basename "$bridge_deb")"
inside dpkg -i "/root/$(basename "$bridge_deb")" >/dev/null || fail "dpkg -i kelvinlog-bridge"
wait_for 20 "bridge active" active kelvinlog-bridge
# The first message on the kitchen sensor's topic (retained, or the next rewrite).
kitchen=$(inside mosquitto_sub -h localhost -t 'kelvinlog/+/Kitchen/temperature' -v -C 1 -W 30 2>&1) || true
grep -qE '^kelvinlog/[^/]+/Kitchen/temperature 21\.50*$' <<<"$kitchen" || fail "Kitchen on MQTT: '$kitchen'"
bridge_pid=$(inside systemctl show -P MainPID kelvinlog-bridge)
inside systemctl reload kelvinlog-bridge || fail "systemctl reload kelvinlog-bridge"
[ "$(inside systemctl show -P MainPID kelvinlog-bridge)" = "$bridge_pid" ] && active kelvinlog-bridge ||
  fail "the bridge did not survive its reload"

# --- remove, purge, reinstall -----------------------------------------------------
step "remove and reinstall"
inside dpkg -r kelvinlog-bridge kelvinlog >/dev/null || fail "dpkg -r"
inside test -s /var/lib/kelvinlog/Kitchenv.txt || fail "remove took the output"
inside test -f /etc/default/kelvinlog || fail "remove took the settings"
inside dpkg -i "/root/$(basename "$deb")" "/root/$(basename "$bridge_deb")" >/dev/null || fail "reinstall"
wait_for 20 "logger READY after the reinstall" active kelvinlog
inside grep -qx 'KELVINLOG_DEVICE=/dev/kelvinlog-adapter' /etc/default/kelvinlog || fail "remove lost the settings"

step "purge and reinstall"
inside dpkg --purge kelvinlog-bridge kelvinlog >/dev/null || fail "dpkg --purge"
for p in /var/lib/kelvinlog /var/log/kelvinlog /var/lib/kelvinlog-bridge /etc/kelvinlog /etc/default/kelvinlog \
         /etc/default/kelvinlog-bridge /etc/logrotate.d/kelvinlog; do
  inside test ! -e "$p" || fail "$p is left after the purge"
done
inside systemctl daemon-reload
system_running "after the purge"
inside rm -rf /etc/systemd/system/kelvinlog.service.d
mark reinstall
inside dpkg -i "/root/$(basename "$deb")" "/root/$(basename "$bridge_deb")" >/dev/null || fail "reinstall after the purge"
inside grep -qx 'KELVINLOG_DEVICE=/dev/ttyUSB0' /etc/default/kelvinlog || fail "the purge kept the settings"
wait_for 10 "skip of the default device" saw reinstall 'unmet condition check (ConditionPathExists=/dev/ttyUSB0)'
inside ln -s "$pty" /dev/ttyUSB0
wait_for 15 "logger READY on the default device" active kelvinlog
wait_for 20 "bridge active after the reinstall" active kelvinlog-bridge
system_running "at the end"

step "done"
echo "journal of kelvinlog.service and kelvinlog.path:"
journal -u kelvinlog -u kelvinlog.path | grep -E 'systemd\[1\]|not started' | sed 's/^/  /' | tail -n 60
echo "booted test: $(( $(date +%s) - start_time )) s"
