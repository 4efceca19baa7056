#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ (the node-source parser, seeds in fuzz/corpus;
# JSON text round trips, seeds in fuzz/json_corpus) and runs them one after the other
# within a bounded total time (first argument, seconds; default 60), split between them.
# Without clang++ it does nothing and succeeds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzzing skipped"
  exit 0
fi
# clang without its sanitizer runtimes cannot link a fuzzer; skip rather than fail.
probe=$(mktemp -d)
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
  rm -rf "$probe"
  echo "fuzz: clang++ cannot link libFuzzer here, fuzzing skipped"
  exit 0
fi
rm -rf "$probe"

build=build-fuzz
sanitize="address,undefined"
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,$sanitize -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target vesk_annotations
clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
  fuzz/annotations_fuzz.cpp "$build/annotations/libvesk_annotations.a" \
  "$build/foundation/libvesk_foundation.a" -o "$build/annotations_fuzz"
clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
  fuzz/json_fuzz.cpp "$build/foundation/libvesk_foundation.a" -o "$build/json_fuzz"

# New inputs go to scratch corpora; the seeds in the repository stay as they are. The
# node-source parser has the larger input space and gets two thirds of the time.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/annotations" "$work/json"
json_seconds=$((seconds / 3))
annotations_seconds=$((seconds - json_seconds))
"$build/annotations_fuzz" -max_total_time="$annotations_seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 "$work/annotations" fuzz/corpus
"$build/json_fuzz" -max_total_time="$json_seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 "$work/json" fuzz/json_corpus
echo "fuzz: no invariant violated in ${seconds}s"
