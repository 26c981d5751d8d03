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

# What the maintainer scripts make of the package (systemd-sysusers, systemd-tmpfiles), done
# in a scratch root: the user and its groups, the folders with their owners and modes, the
# links, the settings copied into /etc. Owners can be given as root only.
if [ "$(id -u)" = 0 ]; then
  fake=$(mktemp -d)
  dpkg-deb -x "${debs[0]}" "$fake"
  mkdir -p "$fake/etc"
  printf 'root:x:0:0:root:/root:/bin/sh\n' > "$fake/etc/passwd"
  printf 'root:x:0:\ndialout:x:20:\n' > "$fake/etc/group"
  systemd-sysusers --root="$fake" >/dev/null 2>&1
  systemd-tmpfiles --root="$fake" --create gsmsd.conf
  uid=$(awk -F: '$1 == "gsms" { print $3 }' "$fake/etc/passwd")
  gid=$(awk -F: '$1 == "gsms" { print $3 }' "$fake/etc/group")
  layout=$(cd "$fake" && for path in etc/gsms etc/gsms/TEVRAK.INI var/lib/gsms var/lib/gsms/TEVRAK.INI \
             var/lib/gsms/log var/log/gsms var/spool/gsms var/spool/gsms/in var/spool/gsms/done \
             var/spool/gsms/error var/spool/gsms/tables; do
             stat -c '%n %a %u:%g' "$path" | sed "s/ $uid:/ gsms:/; s/:$gid\$/:gsms/"
             if [ -L "$path" ]; then echo "  -> $(readlink "$path")"; fi
           done; grep '^dialout:' etc/group)
  expected="etc/gsms 2770 0:gsms
etc/gsms/TEVRAK.INI 660 0:gsms
var/lib/gsms 750 gsms:gsms
var/lib/gsms/TEVRAK.INI 777 0:0
  -> /etc/gsms/TEVRAK.INI
var/lib/gsms/log 777 0:0
  -> /var/log/gsms
var/log/gsms 750 gsms:gsms
var/spool/gsms 750 gsms:gsms
var/spool/gsms/in 2770 gsms:gsms
var/spool/gsms/done 2770 gsms:gsms
var/spool/gsms/error 2770 gsms:gsms
var/spool/gsms/tables 2770 gsms:gsms
dialout:x:20:gsms"
  if [ "$layout" != "$expected" ]; then
    echo "package: the installed layout differs:" >&2
    diff <(echo "$expected") <(echo "$layout") >&2 || true
    failed=1
  fi
  if ! cmp -s "$fake/etc/gsms/TEVRAK.INI" "$fake/usr/share/gsmsd/TEVRAK.INI"; then
    echo "package: /etc/gsms/TEVRAK.INI was not copied from the example" >&2
    failed=1
  fi
  rm -rf "$fake"
else
  echo "package: not root: the layout the maintainer scripts make is not checked"
fi
[ "$failed" = 0 ] || exit 1
echo "package: ${debs[*]}"
