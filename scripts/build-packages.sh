#!/usr/bin/env bash
# Builds the Debian packages of kelvinlog into dist/: kelvinlog (the logger)
# and kelvinlog-bridge (the bridge), with their -dbgsym packages, for amd64,
# arm64 and armhf by default, or for the architectures named.
#
#   scripts/build-packages.sh [arch...]
#
# The build machine's own architecture is built natively and runs the tests
# (DEB_BUILD_OPTIONS=nocheck skips them); the others are cross builds with
# dpkg-buildpackage -a<arch> -Pcross,nocheck. The build runs in a copy of the
# tree under /tmp, so the checkout stays clean and nothing is written beside
# it (dpkg-buildpackage puts its results into the parent directory).
# Needs: debhelper, dpkg-dev, cmake, g++, libmosquitto-dev, nlohmann-json3-dev,
# pkgconf, and for the tests libgtest-dev, libgmock-dev, python3,
# inotify-tools, mosquitto, mosquitto-clients, prometheus-node-exporter; for
# a cross build to <arch> crossbuild-essential-<arch> and, of the target's
# architecture (dpkg --add-architecture <arch>), libmosquitto-dev:<arch>,
# pkgconf:<arch> and libstdc++6:<arch>. dpkg-buildpackage names what is
# missing.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
dist=$here/dist
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(amd64 arm64 armhf)
native=$(dpkg --print-architecture)
version=$(cd "$here" && dpkg-parsechangelog -S Version)

work=$(mktemp -d /tmp/kelvinlog-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
src=$work/kelvinlog-$version
mkdir "$src"
# Every file of the checkout that git tracks or would track (uncommitted
# edits included; files deleted in the checkout stay out), but no build
# directories.
if git -C "$here" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$here" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do
       if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
     done | xargs -0 cp --parents -P -t "$src" --)
else
  tar -C "$here" --exclude='./build*' --exclude=./dist --exclude=./obj-* -cf - . | tar -C "$src" -xf -
fi

# Two jobs unless told otherwise (DEB_BUILD_OPTIONS=parallel=N).
case " ${DEB_BUILD_OPTIONS:-} " in
  *" parallel="*) ;;
  *) export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-} parallel=2" ;;
esac

mkdir -p "$dist"
for arch in "${archs[@]}"; do
  echo "== kelvinlog $version for $arch"
  if [ "$arch" = "$native" ]; then
    (cd "$src" && dpkg-buildpackage -b -us -uc)
  else
    (cd "$src" && DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" \
       dpkg-buildpackage -a"$arch" -Pcross,nocheck -b -us -uc)
  fi
  mv "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$dist"/
done
ls -l "$dist"
