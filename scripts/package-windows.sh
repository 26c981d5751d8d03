#!/usr/bin/env bash
# Cross-builds the Windows programs (MinGW-w64) and packs them for an administrator:
# <build>/velkora-gsms-<version>-win64.zip holding the programs (without debug information),
# the pictures, an example TEVRAK.INI, example incoming.bat and plasto.cmd, and README.txt
# (packaging/windows/), all with Windows line ends. The archive's path is printed.
#   scripts/package-windows.sh [BUILD_DIR]      (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${1:-build-win}

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
programs=(gsmsd gsms-config)
# The native operator window, when the build has it. (grep reads the whole list: with -q it
# would stop early, and ninja's broken pipe would fail the pipeline.)
if ninja -C "$build" -t targets all 2>/dev/null | grep '^gsms:' >/dev/null; then
  programs+=(gsms)
fi
ninja -C "$build" "${programs[@]}"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=velkora-gsms-$version-win64
stage=$build/package/$name
rm -rf "$build/package"
mkdir -p "$stage/pictures" "$stage/examples"

for p in "${programs[@]}"; do
  x86_64-w64-mingw32-strip -o "$stage/$p.exe" "$build/bin/$p.exe"
done
cp src/ui/pictures/*.png "$stage/pictures/"
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1"; }
for f in TEVRAK.INI incoming.bat plasto.cmd; do
  crlf "packaging/windows/$f" > "$stage/examples/$f"
done
crlf packaging/windows/README.txt | sed "s/@VERSION@/$version/" > "$stage/README.txt"

archive=$PWD/$build/$name.zip
rm -f "$archive"
(cd "$build/package" && zip -q -r -X "$archive" "$name")
echo "$archive"
