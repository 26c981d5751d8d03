#!/usr/bin/env bash
# Sets up, builds and runs what the gateway has so far in a demo directory: the configuration
# is loaded (a fresh TEVRAK.INI is written with its defaults) and the configured port tried.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build
mkdir -p demo
cd demo
[ -f TEVRAK.INI ] || printf '[Config]\nWatchPath=%s/in\nDonePath=%s/done\nErrorPath=%s/error\nWatchLogPath=%s\n' \
  "$PWD" "$PWD" "$PWD" "$PWD" > TEVRAK.INI
../build/bin/gsms-config --profile-dir .
echo "--- demo/TEVRAK.INI"
cat TEVRAK.INI
