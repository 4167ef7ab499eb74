#!/usr/bin/env bash
# Facts that several files of the tree must agree on.
#
#   consistency_test.sh SOURCE_DIR PROJECT_VERSION CONFIGURED_DIR [LOGGER]
set -euo pipefail
# A match looked for in a pipe: grep -q would quit at the first match, and
# under pipefail the writer's SIGPIPE would then fail the pipeline.
has() { grep "$@" >/dev/null; }
src=$1 version=$2 conf=$3 logger=${4:-}
fail() { echo "FAIL: $*" >&2; exit 1; }

# One version: the project's, in the package's changelog and the manual page.
changelog=$(sed -n '1s/^kelvinlog (\([^)]*\)).*/\1/p' "$src/debian/changelog")
[ "$changelog" = "$version" ] || fail "debian/changelog says $changelog, the project $version"
grep -q "^\.TH KELVINLOG 1 [^ ]* \"kelvinlog $version\"" "$src/packaging/kelvinlog.1" ||
  fail "the manual page names another version"

# One licence: the body of LICENSE is the licence text of debian/copyright.
grep -q '^Copyright (c) 2026 the kelvinlog authors$' "$src/LICENSE" || fail "LICENSE copyright line"
grep -q '^Copyright: 2026 the kelvinlog authors$' "$src/debian/copyright" || fail "copyright line"
diff <(sed -n '/^Permission is hereby granted/,$p' "$src/LICENSE") \
     <(awk '/^License: Expat$/ { text = ""; next } { text = text $0 "\n" } END { printf "%s", text }' \
         "$src/debian/copyright" | sed 's/^ //; s/^\.$//') ||
  fail "the licence texts differ"

# The service always passes f: the single-instance guard (killall by name)
# must never run under systemd.
unit=$conf/kelvinlog.service
grep -qE '^ExecStart=[^ ]+/kelvinlog \$\{KELVINLOG_DEVICE\} \$\{KELVINLOG_OUTDIR\} -f\$\{KELVINLOG_OPTIONS\}$' "$unit" ||
  fail "ExecStart does not pass -f before the option letters"
grep -qx 'Type=notify' "$unit" || fail "not Type=notify"
# The default settings give letters only.
grep -qxE 'KELVINLOG_OPTIONS=[a-z]*' "$conf/kelvinlog.default" || fail "KELVINLOG_OPTIONS is not letters only"

# Logs are rotated by name: a glob would catch value and raw files too. No
# log lies below /etc, which Debian's logrotate.service may not write; the
# debug log is in the service's working directory.
rot=$conf/kelvinlog.logrotate
grep -qE '^/var/lib/kelvinlog/err\.txt /var/log/kelvinlog/debug\.txt \{$' "$rot" || fail "logrotate paths"
grep -qx 'WorkingDirectory=/var/log/kelvinlog' "$unit" || fail "the working directory is not /var/log/kelvinlog"
grep -qx 'LogsDirectory=kelvinlog' "$unit" || fail "the working directory is not the unit's LogsDirectory"
grep -qx 'L+ /var/log/kelvinlog/kelvinlog-config.txt - - - - [^ ]*/kelvinlog/kelvinlog-config.txt' \
  "$conf/kelvinlog.tmpfiles" || fail "no link to the configuration in the working directory"
# The path unit's default device is the settings' default.
[ "$(sed -n 's/^PathExists=//p' "$src/packaging/kelvinlog.path")" = \
  "$(sed -n 's/^KELVINLOG_DEVICE=//p' "$conf/kelvinlog.default")" ] || fail "kelvinlog.path watches another default device"
grep -qx 'Also=kelvinlog.path' "$unit" || fail "enabling the service does not enable kelvinlog.path"
! grep -v '^#' "$rot" | has '[*?[]' || fail "a glob in the logrotate entry"

# The udev rule is an example only: it is installed as documentation.
rule=$src/packaging/60-kelvinlog-adapter.rules
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rule" || fail "udev rule lacks ID_MM_DEVICE_IGNORE"
grep -q 'SYMLINK+="kelvinlog-adapter"' "$rule" || fail "udev rule gives no stable name"
! grep -rq 'rules.d' "$src/cmake/Install.cmake" "$src/debian/"*.install || fail "the udev rule is installed active"
# --- kelvinlog-bridge -----------------------------------------------------------
grep -q "^\.TH KELVINLOG-BRIDGE 1 [^ ]* \"kelvinlog $version\"" "$src/packaging/kelvinlog-bridge.1" ||
  fail "the bridge's manual page names another version"

# Its own binary package needs the logger of the same build (the same file
# shapes, the logger's group and directories); the logger needs nothing of
# the bridge.
stanza() { awk -v p="$1" '/^Package: / { on = ($2 == p) } on' "$src/debian/control"; }
stanza kelvinlog-bridge | has -E '^Depends:.*kelvinlog \(= \$\{binary:Version\}\)' ||
  fail "kelvinlog-bridge does not depend on the logger of the same version"
! stanza kelvinlog | has -iE 'mosquitto|json' || fail "the logger's package names the bridge's dependencies"
# The package's library dependencies come from the binary (dh_shlibdeps).
if [ -n "$logger" ]; then
  ! readelf -d "$logger" | grep NEEDED | has mosquitto || fail "the logger is linked with libmosquitto"
fi

# Users and groups: the unit's user is the one sysusers.d makes, with the
# logger's group as a supplementary group, which owns the setgid and
# group-writable output directory.
sysusers_user() { sed -n 's/^u \([^ ]*\) .*/\1/p' "$1"; }
logger_user=$(sysusers_user "$src/packaging/kelvinlog.sysusers")
bridge_user=$(sysusers_user "$src/packaging/kelvinlog-bridge.sysusers")
[ -n "$logger_user" ] && [ -n "$bridge_user" ] || fail "a sysusers.d entry makes no user"
grep -qx "m $bridge_user $logger_user" "$src/packaging/kelvinlog-bridge.sysusers" ||
  fail "$bridge_user is not made a member of $logger_user"
outdir=$(awk -v g="$logger_user" '$1 == "d" && $5 == g && $2 ~ /^\/var\// { print $2 " " $3 }' \
           "$conf/kelvinlog.tmpfiles")
read -r outdir outmode <<<"$outdir"
[ -n "$outdir" ] || fail "no output directory in the logger's tmpfiles.d entry"
(( (8#$outmode & 8#2020) == 8#2020 )) || fail "output directory mode $outmode: not setgid and group-writable"
config=$(sed -n 's/^z \([^ ]*kelvinlog-config\.txt\) .*/\1/p' "$conf/kelvinlog.tmpfiles")
[ -n "$config" ] || fail "no configuration file in the logger's tmpfiles.d entry"

bunit=$conf/kelvinlog-bridge.service
if [ -f "$bunit" ]; then
  key() { sed -n "s/^$1=//p" "$bunit"; }
  [ "$(key User)" = "$bridge_user" ] || fail "the bridge's unit runs as '$(key User)', not $bridge_user"
  [ "$(key Group)" = "$bridge_user" ] || fail "the bridge's unit runs in group '$(key Group)'"
  [ "$(key SupplementaryGroups)" = "$logger_user" ] ||
    fail "the bridge's unit lacks the supplementary group $logger_user"
  # The directories it reads are the logger's, as the logger's package makes them.
  exec_start=$(key ExecStart)
  [[ " $exec_start " == *" --outdir $outdir "* ]] || fail "the bridge reads another output directory: $exec_start"
  [[ " $exec_start " == *" --config $config "* ]] || fail "the bridge reads another configuration: $exec_start"
  logger_outdir=$(sed -n 's/^KELVINLOG_OUTDIR=//p' "$conf/kelvinlog.default")
  [ "${logger_outdir%/}" = "$outdir" ] || fail "the logger writes $logger_outdir, the bridge reads $outdir"
  # Its settings file is a conffile of its package.
  envfile=$(key EnvironmentFile)
  [[ "$envfile" == */default/kelvinlog-bridge ]] || fail "the bridge's unit reads settings from $envfile"
  grep -qx 'etc/default/kelvinlog-bridge' "$src/debian/kelvinlog-bridge.install" ||
    fail "/etc/default/kelvinlog-bridge is not in the bridge's package"
  grep -q "\$KELVINLOG_BRIDGE_OPTS" <<<"$exec_start" || fail "ExecStart does not pass KELVINLOG_BRIDGE_OPTS"
  grep -q '^KELVINLOG_BRIDGE_OPTS=' "$src/packaging/kelvinlog-bridge.default" ||
    fail "the settings file does not set KELVINLOG_BRIDGE_OPTS"
  # It writes only its own state directory, the user's home, where the
  # textfile of the examples goes; the output directory stays read-only
  # unless a drop-in opens it (--allow-control).
  state=/var/lib/$(key StateDirectory)
  home=$(sed -n 's/^u [^ ]* - "[^"]*" \([^ ]*\).*/\1/p' "$src/packaging/kelvinlog-bridge.sysusers")
  [ "$state" = "$home" ] || fail "state directory $state, home $home"
  ! grep -q "^ReadWritePaths=.*$outdir" "$bunit" || fail "the output directory is writable by default"
  for f in "$src/packaging/kelvinlog-bridge.default" "$src/packaging/kelvinlog-bridge.1" "$bunit"; do
    sed 's/\\-/-/g' "$f" | has -E -- "--prom-file $state/[a-z]+\.prom" || fail "$(basename "$f"): no textfile example in $state"
  done
  # node_exporter reads the textfile as its own user: files stay world-readable.
  umask=$(key UMask)
  [ -n "$umask" ] && (( (8#$umask & 8#004) == 0 )) || fail "the unit's UMask '$umask' hides the textfile"
fi
echo ok
