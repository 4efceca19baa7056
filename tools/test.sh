#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and
# a build with AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes the node-source
# parser and the JSON text for a minute in all when clang is there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_BENCH=OFF
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")

# libFuzzer reports every new input; the end of its output is what matters.
bash tools/fuzz.sh 60 2>&1 | tail -n 200
