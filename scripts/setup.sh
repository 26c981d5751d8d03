#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Debian packages need; quick when
# all are there.
#   scripts/setup.sh            everything, the operator window (Qt 6) and its tests included
#   scripts/setup.sh --server   the service, its tests and its package, without Qt, Xvfb or
#                               fonts (GSMS_BUILD_UI=OFF in the environment does the same)
set -euo pipefail

window=${GSMS_BUILD_UI:-ON}
for arg in "$@"; do
  case $arg in
    --server) window=OFF ;;
    *) echo "usage: scripts/setup.sh [--server]" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkgconf
  libgtest-dev libgmock-dev libbenchmark-dev
  python3-dbfread
  # an independent SMS PDU decoder for the tests of PDU-mode submission
  python3-gammu
  # readiness, status and watchdog under systemd; systemd-analyze, -sysusers and -tmpfiles
  # for the checks of the unit and the package
  libsystemd-dev systemd
  # the Debian packages
  debhelper lintian
  # the fuzz targets (libFuzzer)
  clang libclang-rt-14-dev
  # the Windows build and its tests under Wine, its package
  g++-mingw-w64-x86-64-posix wine wine64 zip unzip
)
if [ "$window" != OFF ]; then
  packages+=(qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth fonts-dseg fonts-dejavu-core)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
