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

# What the maintainer scripts ask of systemd at an install, an upgrade, a reinstall and a
# removal, with a stand-in for it (none runs here): they run with systemctl,
# deb-systemd-invoke, deb-systemd-helper, systemd-sysusers and systemd-tmpfiles replaced by
# recorders, as if systemd ran (/run/systemd/system a folder of the check's own), the
# folders they look at moved to a scratch folder and the commands that change files
# recorded too. A fresh install starts nothing; an upgrade
# or reinstall stops nothing before the unpack and afterwards restarts the gateway only if
# it runs (try-restart: SIGTERM, then a start); a removal stops it.
ctl=$(mktemp -d)
dpkg-deb -e "${debs[0]}" "$ctl/DEBIAN"
mkdir -p "$ctl/bin" "$ctl/systemd-runs"
for tool in systemctl deb-systemd-invoke deb-systemd-helper systemd-sysusers systemd-tmpfiles \
            install chown chmod chgrp; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls"\n' "$tool" "$ctl" > "$ctl/bin/$tool"
  chmod +x "$ctl/bin/$tool"
done
for script in preinst postinst prerm postrm; do
  if [ -f "$ctl/DEBIAN/$script" ]; then
    sed -e "s#/run/systemd/system#$ctl/systemd-runs#g" -e "s#/etc/gsms#$ctl/etc-gsms#g" \
        -e "s#/var/spool/gsms#$ctl/spool#g" -e "s#/var/lib/gsms#$ctl/lib-gsms#g" \
        -e "s#/var/log/gsms#$ctl/log-gsms#g" \
        -e "s#/var/lib/prometheus/node-exporter#$ctl/node-exporter#g" \
        "$ctl/DEBIAN/$script" > "$ctl/$script"
  else
    printf '#!/bin/sh\n' > "$ctl/$script"
  fi
done
# The calls that start, stop or restart the unit, for one run of a script.
asks() {
  : > "$ctl/calls"
  (unset DPKG_ROOT; PATH="$ctl/bin:$PATH" sh "$ctl/$1" "${@:2}") >/dev/null 2>&1 ||
    echo "$1 $* failed" >> "$ctl/failures"
  grep -E '^(deb-systemd-invoke|systemctl) ' "$ctl/calls" | grep -v 'daemon-reload' |
    tr "'" ' ' | tr -s ' ' | sed 's/ $//' | paste -sd ';' - || true
}
steps="install: postinst configure
upgrade: prerm upgrade $version
upgrade: preinst upgrade 1.4
upgrade: postinst configure 1.4
reinstall: preinst upgrade $version
reinstall: postinst configure $version
remove: prerm remove"
asked=$(while IFS=' ' read -r what script args; do
          echo "$what $script ${args:-} -> $(asks "$script" $args)"
        done <<<"$steps")
expected_asks="install: postinst configure -> 
upgrade: prerm upgrade $version -> 
upgrade: preinst upgrade 1.4 -> 
upgrade: postinst configure 1.4 -> deb-systemd-invoke try-restart gsmsd.service
reinstall: preinst upgrade $version -> 
reinstall: postinst configure $version -> deb-systemd-invoke try-restart gsmsd.service
remove: prerm remove -> deb-systemd-invoke stop gsmsd.service"
if [ "$asked" != "$expected_asks" ] || [ -s "$ctl/failures" ]; then
  echo "package: the maintainer scripts ask systemd for other things, or fail:" >&2
  diff <(echo "$expected_asks") <(echo "$asked") >&2 || true
  cat "$ctl/failures" >&2 2>/dev/null || true
  failed=1
fi
# A purge takes the metrics file with it while it is still the service's: the one TEVRAK.INI
# names, and node_exporter's gsms.prom (the service's user played by the one running this).
mkdir -p "$ctl/etc-gsms" "$ctl/metrics" "$ctl/node-exporter"
printf '[Config]\r\nPrometheusFile = %s\r\n' "$ctl/metrics/site.prom" > "$ctl/etc-gsms/TEVRAK.INI"
touch "$ctl/metrics/site.prom" "$ctl/node-exporter/gsms.prom" "$ctl/node-exporter/other.prom"
printf '#!/bin/sh\necho %s\n' "$(id -u)" > "$ctl/bin/id"
chmod +x "$ctl/bin/id"
(PATH="$ctl/bin:$PATH" sh "$ctl/postrm" purge) >/dev/null 2>&1 || echo "postrm purge failed" >> "$ctl/failures"
left=$(cd "$ctl" && ls -d etc-gsms metrics/site.prom node-exporter/* 2>/dev/null | paste -sd ' ' - || true)
if [ "$left" != "node-exporter/other.prom" ] || [ -s "$ctl/failures" ]; then
  echo "package: a purge left $left (expected node-exporter/other.prom only)" >&2
  cat "$ctl/failures" >&2 2>/dev/null || true
  failed=1
fi
rm -rf "$ctl"

# What the maintainer scripts make of the package (systemd-sysusers, systemd-tmpfiles), done
# in a scratch root: the user and its groups, the folders with their owners and modes, the
# links, the settings copied into /etc, the tables' default ACL; then a second run, as at
# every boot, that leaves what an administrator changed. Owners can be given as root only.
if [ "$(id -u)" = 0 ]; then
  fake=$(mktemp -d)
  dpkg-deb -x "${debs[0]}" "$fake"
  mkdir -p "$fake/etc"
  printf 'root:x:0:0:root:/root:/bin/sh\n' > "$fake/etc/passwd"
  printf 'root:x:0:\ndialout:x:20:\n' > "$fake/etc/group"
  systemd-sysusers --root="$fake" >/dev/null 2>&1
  # ACL entries name groups as this system knows them; the scratch root's gsms it does not.
  conf=$(mktemp)
  sed 's/^\(a+ .*\):group:gsms:/\1:group:root:/' "$fake/usr/lib/tmpfiles.d/gsmsd.conf" > "$conf"
  systemd-tmpfiles --root="$fake" --create "$conf"
  # What the postinst adds: the settings, from the example, the service's user's alone.
  install_line='install -m 0600 -o gsms -g gsms /usr/share/gsmsd/TEVRAK.INI /etc/gsms/TEVRAK.INI'
  grep -qF "$install_line" <<<"$scripts" ||
    { echo "package: gsmsd's postinst does not install /etc/gsms/TEVRAK.INI" >&2; failed=1; }
  install -m 0600 -o "$(awk -F: '$1 == "gsms" { print $3 }' "$fake/etc/passwd")" \
          -g "$(awk -F: '$1 == "gsms" { print $3 }' "$fake/etc/group")" \
          "$fake/usr/share/gsmsd/TEVRAK.INI" "$fake/etc/gsms/TEVRAK.INI"
  # Owners by name, from the scratch root's own files.
  names() {
    awk -F: 'NR == FNR { user[$3] = $1; next } { group[$3] = $1 }
             END { for (u in user) print "u", u, user[u]; for (g in group) print "g", g, group[g] }' \
        "$fake/etc/passwd" "$fake/etc/group" > "$fake.names"
    while read -r path mode uid gid; do
      u=$(awk -v id="$uid" '$1 == "u" && $2 == id { print $3 }' "$fake.names")
      g=$(awk -v id="$gid" '$1 == "g" && $2 == id { print $3 }' "$fake.names")
      echo "$path $mode ${u:-$uid}:${g:-$gid}"
      if [ -L "$fake/$path" ]; then echo "  -> $(readlink "$fake/$path")"; fi
    done
  }
  layout() {
    (cd "$fake" && for path in etc/gsms etc/gsms/TEVRAK.INI var/lib/gsms var/lib/gsms/TEVRAK.INI \
                     var/lib/gsms/log var/log/gsms var/spool/gsms var/spool/gsms/in \
                     var/spool/gsms/done var/spool/gsms/error var/spool/gsms/tables; do
                   stat -c '%n %a %u %g' "$path"
                 done) | names
    grep -E '^(dialout|gsms-jobs):' "$fake/etc/group" | cut -d: -f1,4
  }
  expected="etc/gsms 3770 root:gsms
etc/gsms/TEVRAK.INI 600 gsms:gsms
var/lib/gsms 750 gsms:gsms
var/lib/gsms/TEVRAK.INI 777 root:root
  -> /etc/gsms/TEVRAK.INI
var/lib/gsms/log 777 root:root
  -> /var/log/gsms
var/log/gsms 750 gsms:gsms
var/spool/gsms 750 gsms:gsms-jobs
var/spool/gsms/in 2770 gsms:gsms-jobs
var/spool/gsms/done 2770 gsms:gsms-jobs
var/spool/gsms/error 2770 gsms:gsms-jobs
var/spool/gsms/tables 2770 gsms:gsms-jobs
dialout:gsms
gsms-jobs:gsms"
  layout=$(layout)
  if [ "$layout" != "$expected" ]; then
    echo "package: the installed layout differs:" >&2
    diff <(echo "$expected") <(echo "$layout") >&2 || true
    failed=1
  fi
  if ! cmp -s "$fake/etc/gsms/TEVRAK.INI" "$fake/usr/share/gsmsd/TEVRAK.INI"; then
    echo "package: /etc/gsms/TEVRAK.INI was not copied from the example" >&2
    failed=1
  fi
  if ! python3 -c 'import os, sys; os.getxattr(sys.argv[1], "system.posix_acl_default")' \
      "$fake/var/spool/gsms/tables" 2>/dev/null; then
    echo "package: the table folder has no default ACL" >&2
    failed=1
  fi
  # The administrator tightens; the next boot keeps it.
  chmod 0640 "$fake/etc/gsms/TEVRAK.INI"
  chown root "$fake/etc/gsms/TEVRAK.INI"
  chmod 2750 "$fake/var/spool/gsms/done"
  chmod 0700 "$fake/etc/gsms"
  systemd-tmpfiles --root="$fake" --create "$conf"
  tightened=$(sed -e 's#^etc/gsms/TEVRAK.INI 600 gsms:gsms#etc/gsms/TEVRAK.INI 640 root:gsms#' \
                  -e 's#^var/spool/gsms/done 2770#var/spool/gsms/done 2750#' \
                  -e 's#^etc/gsms 3770#etc/gsms 2700#' <<<"$expected")
  layout=$(layout)
  if [ "$layout" != "$tightened" ]; then
    echo "package: a second systemd-tmpfiles --create (as at boot) undid the administrator's modes:" >&2
    diff <(echo "$tightened") <(echo "$layout") >&2 || true
    failed=1
  fi
  for script in plasto.cmd incoming.sh; do
    [ -x "$fake/usr/libexec/gsmsd/$script" ] ||
      { echo "package: /usr/libexec/gsmsd/$script is not executable" >&2; failed=1; }
  done
  grep -q "^CmdLineFormat=/usr/libexec/gsmsd/incoming.sh \"%s\" \"%s\"" "$fake/etc/gsms/TEVRAK.INI" ||
    { echo "package: the installed TEVRAK.INI does not name incoming.sh" >&2; failed=1; }
  rm -rf "$fake" "$fake.names" "$conf"
else
  echo "package: not root: the layout the maintainer scripts make is not checked"
fi
[ "$failed" = 0 ] || exit 1
echo "package: ${debs[*]}"
