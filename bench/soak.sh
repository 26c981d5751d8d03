#!/usr/bin/env bash
# The soak and kill test (bench/soak.py) against the plain build, built first:
#   bench/soak.sh            the full run: 300 jobs, 30 received SMS, 30 kills over 20 minutes
#   bench/soak.sh --short    CI's version: 50 jobs, 6 received SMS, 5 kills in about a minute
#   bench/soak.sh --help     every option (--seed, --jobs, --kills, --time-scale, ...)
set -euo pipefail
cd "$(dirname "$0")/.."
ninja -C build -j "$(nproc)" gsmsd gsms-modem-sim gsms-sample-table >/dev/null
exec bench/soak.py --bin build/bin "$@"
