#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and
# a build with AddressSanitizer and UndefinedBehaviorSanitizer; then runs the fuzz targets
# for a minute in all when clang is there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

# A second, independent WebSocket client for the WebSocket tests, installed beside the
# builds (never committed); without node or the registry that test skips itself.
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 && [ ! -f build-npm/node_modules/ws/package.json ]; then
  mkdir -p build-npm
  (cd build-npm && timeout 300 npm install --no-audit --no-fund --silent --prefix . ws@8 >/dev/null 2>&1) ||
    echo "npm: the ws package could not be installed; its WebSocket test will be skipped"
fi

# ctest lists skipped tests without their reasons; the reasons are in its log.
skip_reasons() {
  awk '/: Skipped$/ { getline reason; next }
       /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ { print "skipped: " $4 ": " reason; reason = "" }' \
    "$1/Testing/Temporary/LastTest.log" 2>/dev/null || true
}

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")
skip_reasons build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_BENCH=OFF
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")
skip_reasons build-asan

# One line per fuzz target; the full logs stay in build-fuzz/fuzz-logs/.
bash tools/fuzz.sh 60
