#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows build (MinGW-w64) with its tests under Wine
# and its package; the plain build with the window (whose tests include gsmsd.exe under Wine
# against the simulator), then the Debian packages built from it and checked
# (scripts/package.sh), then the engine, the simulator and the whole-program tests of gsmsd
# again under AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer (the
# window's Qt is not instrumented, so the sanitizer builds leave it out), then every fuzz
# target for a minute and the short soak and kill test. GSMS_BUILD_UI=OFF leaves the window out
# everywhere (a server without Qt).
#
#   scripts/test.sh           everything above: the CI
#   scripts/test.sh --quick   the layer check, the plain build and its unit tests (ctest -L unit):
#                             a few minutes, the loop to run before each commit
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh

jobs=$(nproc)

# An include that reaches a higher layer fails before anything is built.
scripts/check-layers.py

window=${GSMS_BUILD_UI:-ON}

build_and_test() {
  local dir=$1 sanitize=$2 ui=$window
  [ "$sanitize" = none ] || ui=OFF
  cmake -S . -B "$dir" -G Ninja -DGSMS_SANITIZE="$sanitize" -DGSMS_BUILD_UI="$ui" >/dev/null
  ninja -C "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

if [ "$quick" = 1 ]; then
  echo "== plain build, unit tests"
  cmake -S . -B build -G Ninja -DGSMS_SANITIZE=none -DGSMS_BUILD_UI="$window" >/dev/null
  ninja -C build -j "$jobs"
  (cd build && ctest --output-on-failure -j "$jobs" -L unit)
  echo "quick tests passed"
  exit 0
fi

echo "== Windows build, its tests under Wine, its package"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
ninja -C build-win -j "$jobs"
(cd build-win && ctest --output-on-failure -j "$jobs")
package=$(scripts/package-windows.sh build-win | tail -n 1)
# The packed programs start (no runtime DLL missing from the archive).
rm -rf build-win/unpacked && unzip -q "$package" -d build-win/unpacked
scripts/wine-prefix.sh start build-win/wine
for program in gsmsd gsms; do
  WINEPREFIX=$PWD/build-win/wine WINEDEBUG=-all wine build-win/unpacked/*/$program.exe --version
done
scripts/wine-prefix.sh stop build-win/wine
echo "== plain build"
build_and_test build none
echo "== Debian packages"
scripts/package.sh build
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build_and_test build-asan asan
echo "== ThreadSanitizer"
# ThreadSanitizer of gcc 12 cannot map its shadow memory with the high address
# randomisation of newer kernels; run it without randomisation.
if setarch "$(uname -m)" -R true 2>/dev/null; then
  setarch "$(uname -m)" -R bash -c "$(declare -f build_and_test); jobs=$jobs window=$window; build_and_test build-tsan tsan"
else
  build_and_test build-tsan tsan
fi
echo "== Fuzz targets (libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)"
# Each target of tests/fuzz for a minute from its seeds with a fixed seed, as many at a time as
# there are cores: about four minutes and the clang build. scripts/fuzz.sh NAME SECONDS runs
# one for longer.
scripts/fuzz.sh all "${GSMS_FUZZ_SECONDS:-60}"
echo "== Soak and kill test (short)"
# gsmsd of the plain build against a misbehaving gsms-modem-sim, the gateway's time ten times
# faster: 50 jobs, 6 received SMS and 5 SIGKILLs in about a minute. A failed run keeps its
# folder and names it; bench/soak.sh --short --seed N repeats it.
bench/soak.sh --short
echo "all test builds passed"
