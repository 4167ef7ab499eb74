#!/usr/bin/env bash
# Runs every test of the tree on an apt-based system: installs the Debian
# packages the tests need that are missing, then configures, builds and runs
# all tests in build/ (or the directory given).
#
#   scripts/test.sh [--setup-only] [--list] [--group NAME]... [BUILD_DIR]
#
# Packages are installed with apt-get, as root directly and otherwise through
# sudo; where neither can be used, the script prints the apt-get line to run
# and stops before it builds anything. Packages already installed are left
# alone. --setup-only stops after the installation, --list prints the
# packages of the chosen groups instead. --group ci adds what CI needs beyond
# the tests (.ci/run). KELVINLOG_JOBS sets the parallel jobs (default: nproc).
set -euo pipefail
# A match looked for in a pipe: grep -q would quit at the first match, and
# under pipefail the writer's SIGPIPE would then fail the pipeline.
has() { grep "$@" >/dev/null; }

# --- the packages -------------------------------------------------------------
# This is the one list: README.md's test command and .ci/run both use it.
# A test that needs a program or library of the host adds its package to
# "tests" (with a word on what uses it); a CI stage that needs one adds it to
# "ci". Packages of another architecture are written pkg:arch, and that
# architecture is added to dpkg before they are installed. A test that needs
# a package only to unpack it (apt-get download, dpkg -x), or that builds a
# root of its own, fetches it in its own script: this list is what the host
# must have installed.
packages_tests=(
  cmake g++ make                                 # the build (make: cmake only recommends it)
  libgtest-dev libgmock-dev                      # the unit and whole-process tests
  pkgconf libmosquitto-dev nlohmann-json3-dev    # kelvinlog-bridge
  mosquitto mosquitto-clients                    # the bridge's whole-process and unit-file tests
  prometheus-node-exporter curl                  # node_exporter scrapes (bridge-e2e, contrib)
  python3 python3-yaml python3-jinja2            # contrib and bench checks, the Home Assistant recipe
  inotify-tools                                  # the inotify recipe of contrib/
  libbenchmark-dev                               # the benchmarks and the bench driver's check
  systemd                                        # systemd-analyze: the unit checks (packaging)
)
packages_ci=(
  ninja-build man-db strace valgrind             # -Werror, ASan builds and the cycle bench
  clang libclang-rt-14-dev                       # the fuzz targets
  googletest qemu-user g++-aarch64-linux-gnu g++-arm-linux-gnueabihf   # ARM builds, tests under qemu
  dpkg-dev debhelper lintian crossbuild-essential-arm64 crossbuild-essential-armhf  # the packages
  libmosquitto-dev:arm64 libmosquitto-dev:armhf pkgconf:arm64 pkgconf:armhf
  libstdc++6:arm64 libstdc++6:armhf              # the bridge's cross builds and their dependencies
)

here=$(cd "$(dirname "$0")/.." && pwd)
setup_only=0 list_only=0 groups=(tests) build=
while [ $# -gt 0 ]; do
  case $1 in
    --setup-only) setup_only=1 ;;
    --list) list_only=1 ;;
    --group) groups+=("$2"); shift ;;
    -h|--help) sed -n '2,/^set -e/{/^set -e/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    -*) echo "$0: unknown option $1" >&2; exit 2 ;;
    *) build=$(realpath -m -- "$1") ;;
  esac
  shift
done

packages=()
for g in "${groups[@]}"; do
  declare -p "packages_$g" >/dev/null 2>&1 || { echo "$0: no group $g" >&2; exit 2; }
  group="packages_$g[@]"
  packages+=("${!group}")
done
if [ "$list_only" = 1 ]; then printf '%s\n' "${packages[@]}"; exit 0; fi

# --- what is missing ------------------------------------------------------------
# Installed means dpkg's status "installed" (a removed package whose
# configuration files remain is not). A name without an architecture means
# the machine's own or "all": libmosquitto-dev of another architecture alone
# does not count.
if ! command -v dpkg-query >/dev/null; then
  echo "$0: no dpkg here: install what '$0 --list' names by hand; going on with the build" >&2
  packages=()
fi
native=$(dpkg --print-architecture 2>/dev/null || echo unknown)
installed() {
  local name=$1 arch status
  while read -r arch status; do
    [ "$status" = installed ] || continue
    if [[ $name == *:* ]] || [ "$arch" = "$native" ] || [ "$arch" = all ]; then return 0; fi
  done < <(dpkg-query -W -f='${Architecture} ${db:Status-Status}\n' -- "$name" 2>/dev/null || true)
  return 1
}
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done

if [ ${#missing[@]} -gt 0 ]; then
  archs=()
  for p in "${missing[@]}"; do
    if [[ $p == *:* ]]; then
      a=${p##*:}
      if [ "$a" != "$native" ] && ! dpkg --print-foreign-architectures | has -x "$a" &&
         [[ " ${archs[*]} " != *" $a "* ]]; then archs+=("$a"); fi
    fi
  done
  echo "== missing packages: ${missing[*]}"
  # As root directly, otherwise through sudo (which may ask for a password).
  if [ "$(id -u)" = 0 ]; then
    as_root() { "$@"; }
  elif command -v sudo >/dev/null; then
    as_root() { sudo "$@"; }
  else
    as_root() { return 1; }
  fi
  install_missing() {
    local a
    for a in ${archs[@]+"${archs[@]}"}; do as_root dpkg --add-architecture "$a" || return 1; done
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
      as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
  }
  if ! install_missing; then
    {
      echo "$0: the packages could not be installed here (neither root nor a working sudo?)."
      echo "Install them as root, then run this again:"
      for a in ${archs[@]+"${archs[@]}"}; do echo "dpkg --add-architecture $a"; done
      [ ${#archs[@]} -eq 0 ] || echo "apt-get update"
      echo "apt-get install ${missing[*]}"
    } >&2
    exit 1
  fi
fi
[ "$setup_only" = 1 ] && exit 0

# --- configure, build, run --------------------------------------------------------
# Every part is asked for: with the packages above none may be left out.
cd "$here"
build=${build:-build}
jobs=${KELVINLOG_JOBS:-$(nproc)}
cmake -S . -B "$build" -DKELVINLOG_TESTS=ON -DKELVINLOG_BRIDGE=ON -DKELVINLOG_BENCH=ON
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" -j"$jobs" --output-on-failure
