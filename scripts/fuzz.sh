#!/usr/bin/env bash
# Runs the libFuzzer targets of tests/fuzz (clang, AddressSanitizer + UndefinedBehaviorSanitizer),
# building them first in build-fuzz/.
#
#   scripts/fuzz.sh NAME [SECONDS] [LIBFUZZER FLAG...]
#       One target (NAME as in tests/fuzz/fuzz_NAME.cpp) for SECONDS (default 600), from the
#       seeds in tests/fuzz/corpus/NAME and what earlier runs found (build-fuzz/corpus/NAME).
#   scripts/fuzz.sh all SECONDS
#       Every target for SECONDS, from the seeds alone, as many at a time as there are cores
#       (what scripts/test.sh runs). Exit code 1 when one failed.
#   scripts/fuzz.sh list
#
# Every run uses the fixed seed GSMS_FUZZ_SEED (default 1), so a failure comes back when the
# run is repeated; the input that failed is kept in build-fuzz/artifacts/NAME/ and replayed with
#   build-fuzz/bin/fuzz_NAME build-fuzz/artifacts/NAME/crash-...
# Once mended, copy it into tests/fuzz/corpus/NAME/ under a name that says what it caught.
# New seeds worth keeping after a long run:
#   build-fuzz/bin/fuzz_NAME -merge=1 tests/fuzz/corpus/NAME build-fuzz/corpus/NAME
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build-fuzz
seed=${GSMS_FUZZ_SEED:-1}

targets() {
  for f in tests/fuzz/fuzz_*.cpp; do
    f=${f##*/fuzz_}
    echo "${f%.cpp}"
  done
}

build() {
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S . -B "$out" -G Ninja -DGSMS_FUZZ=ON -DGSMS_BUILD_UI=OFF \
    "${launcher[@]}" >/dev/null
  ninja -C "$out" -j "$(nproc)" fuzz_targets
}

# run NAME SECONDS CORPUS [FLAG...]: one run, its output in build-fuzz/logs/NAME.log.
run() {
  local name=$1 seconds=$2 corpus=$3
  shift 3
  local dict=()
  [ -f "tests/fuzz/$name.dict" ] && dict=("-dict=$root/tests/fuzz/$name.dict")
  mkdir -p "$corpus" "$out/artifacts/$name" "$out/logs"
  "$out/bin/fuzz_$name" -seed="$seed" -max_total_time="$seconds" -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$out/artifacts/$name/" "${dict[@]}" "$@" \
    "$corpus" "$root/tests/fuzz/corpus/$name" >"$out/logs/$name.log" 2>&1
}

# One line per run: how many inputs, how fast, and on failure what failed and how to replay it.
summary() {
  local name=$1 rc=$2 log=$out/logs/$1.log
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ "$rc" -eq 0 ]; then
    echo "fuzz_$name: ${runs:-?} inputs, ${rate:-?}/s, every property held"
    return
  fi
  echo "fuzz_$name: FAILED (seed $seed); the end of $log:"
  tail -n 40 "$log" | sed 's/^/  /'
  local artifact
  artifact=$(sed -n "s/.*Test unit written to \(.*\)$/\1/p" "$log" | tail -n 1)
  [ -n "$artifact" ] && echo "  replay: build-fuzz/bin/fuzz_$name ${artifact#"$root/"}"
}

case "${1:-}" in
  list)
    targets
    ;;
  all)
    seconds=${2:?usage: scripts/fuzz.sh all SECONDS}
    build
    names=$(targets)
    failed=0
    slots=$(nproc)
    mkdir -p "$out/logs"
    for name in $names; do
      # Each run starts from the repository's seeds alone, so that it can be repeated.
      rm -rf "$out/ci-corpus/$name" "$out/logs/$name.rc"
      while [ "$(jobs -rp | wc -l)" -ge "$slots" ]; do sleep 1; done
      (
        rc=0
        run "$name" "$seconds" "$out/ci-corpus/$name" || rc=$?
        echo "$rc" >"$out/logs/$name.rc"
      ) &
    done
    wait
    for name in $names; do
      rc=$(cat "$out/logs/$name.rc" 2>/dev/null || echo 1)
      summary "$name" "$rc"
      [ "$rc" -eq 0 ] || failed=1
    done
    exit $failed
    ;;
  "" | -h | --help)
    sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'
    ;;
  *)
    name=$1
    seconds=${2:-600}
    shift $(($# >= 2 ? 2 : 1))
    [ -f "tests/fuzz/fuzz_$name.cpp" ] || { echo "no fuzz target $name; try: scripts/fuzz.sh list" >&2; exit 2; }
    build
    rc=0
    run "$name" "$seconds" "$out/corpus/$name" "$@" || rc=$?
    summary "$name" "$rc"
    exit $rc
    ;;
esac
