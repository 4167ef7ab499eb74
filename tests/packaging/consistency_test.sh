#!/usr/bin/env bash
# Facts that several files of the tree must agree on.
#
#   consistency_test.sh SOURCE_DIR PROJECT_VERSION CONFIGURED_DIR
set -euo pipefail
src=$1 version=$2 conf=$3
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

# Logs are rotated by name: a glob would catch value and raw files too.
rot=$conf/kelvinlog.logrotate
grep -qE '^/var/lib/kelvinlog/err\.txt [^ ]*/kelvinlog/debug\.txt \{$' "$rot" || fail "logrotate paths"
! grep -v '^#' "$rot" | grep -q '[*?[]' || fail "a glob in the logrotate entry"

# The udev rule is an example only: it is installed as documentation.
rule=$src/packaging/60-kelvinlog-adapter.rules
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rule" || fail "udev rule lacks ID_MM_DEVICE_IGNORE"
grep -q 'SYMLINK+="kelvinlog-adapter"' "$rule" || fail "udev rule gives no stable name"
! grep -rq 'rules.d' "$src/cmake/Install.cmake" "$src/debian/"*.install || fail "the udev rule is installed active"
echo ok
