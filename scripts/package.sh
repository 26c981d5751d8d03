#!/usr/bin/env bash
# Builds the Debian packages into the build folder (default build/):
#   gsmsd_<version>_<arch>.deb  the service gsmsd, gsms-config, gsms-modem-sim, the systemd
#                               unit, sysusers.d and tmpfiles.d entries, man pages, examples
#                               (no Qt)
#   gsms_<version>_<arch>.deb   the operator window gsms
# with debhelper (packaging/debian), in a build of their own with Debian's build flags; then
# checks them with lintian (no errors) and checks their contents against packaging/contents.
#
#   scripts/package.sh [BUILD_DIR]
#   GSMS_BUILD_UI=OFF scripts/package.sh    gsmsd only, on a machine without Qt
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build}")
stage=$out/deb-staging
window=${GSMS_BUILD_UI:-ON}

version=$(sed -n 's/^project(velkora_gsms VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)

# The staging folder holds debian/ only; the rules build from the project's tree.
rm -rf "$stage/debian"
mkdir -p "$stage"
cp -r packaging/debian "$stage/debian"
date=$(git log -1 --format=%cD 2>/dev/null || date -R)
cat > "$stage/debian/changelog" <<CHANGES
velkora-gsms ($version) unstable; urgency=medium

  * Built from the project's tree (see README.md).

 -- Velkora GSM/SMS developers <gsms@velkora.example>  $date
CHANGES

packages=(gsmsd)
if [ "$window" = OFF ]; then
  export DEB_BUILD_PROFILES=pkg.velkora-gsms.nowindow
else
  packages+=(gsms)
fi
for p in gsmsd gsms; do rm -f "$out/${p}_"*.deb; done
(
  cd "$stage"
  export GSMS_SOURCE_DIR=$root GSMS_PACKAGE_BUILD_DIR=$stage/build GSMS_PACKAGE_OUT_DIR=$out
  export DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
  debian/rules binary >"$stage/build.log" 2>&1 || { tail -40 "$stage/build.log"; exit 1; }
)

debs=()
for p in "${packages[@]}"; do debs+=("$out/${p}_${version}_${arch}.deb"); done

# lintian: no errors (warnings and notes are shown).
lintian --fail-on error --tag-display-limit 0 "${debs[@]}"

# Contents: exactly the listed files (folders aside), and the service without Qt.
failed=0
for deb in "${debs[@]}"; do
  p=$(dpkg-deb -f "$deb" Package)
  if ! diff -u "packaging/contents/$p.list" \
      <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort); then
    echo "package: $p holds other files than packaging/contents/$p.list" >&2
    failed=1
  fi
done
depends=$(dpkg-deb -f "${debs[0]}" Depends)
if grep -qi 'qt' <<<"$depends"; then
  echo "package: gsmsd depends on Qt: $depends" >&2
  failed=1
fi
scripts=$(dpkg-deb --ctrl-tarfile "${debs[0]}" | tar -xO ./postinst)
for needed in systemd-sysusers systemd-tmpfiles deb-systemd-helper; do
  grep -q "$needed" <<<"$scripts" || { echo "package: gsmsd's postinst lacks $needed" >&2; failed=1; }
done
[ "$failed" = 0 ] || exit 1
echo "package: ${debs[*]}"
