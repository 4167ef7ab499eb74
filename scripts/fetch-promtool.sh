#!/usr/bin/env bash
# Puts promtool (from Debian's prometheus package, unpacked, not installed)
# into DIR (default /usr/local/bin), for the bridge's textfile test. Needs
# apt-get (it reads the package lists, once more after an update when the
# first try fails); does nothing when DIR already holds promtool.
set -euo pipefail
dir=${1:-/usr/local/bin}
[ -x "$dir/promtool" ] && exit 0
work=$(mktemp -d /tmp/kelvinlog-promtool-XXXXXX)
chmod 755 "$work"  # apt-get downloads as its own user
trap 'rm -rf "$work"' EXIT
(cd "$work" && { apt-get download -q prometheus >/dev/null 2>&1 ||
  { apt-get update -q >/dev/null && apt-get download -q prometheus >/dev/null; }; })
dpkg-deb -x "$work"/prometheus_*.deb "$work/x"
mkdir -p "$dir"
install -m 0755 "$work/x/usr/bin/promtool" "$dir/promtool"
echo "promtool: $dir/promtool"
