#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ and runs them for a bounded time (first
# argument, seconds in all; default 60): half for the node-source parser (seeds in
# fuzz/corpus), a quarter each for the model-link frame decoder and the WebSocket glue
# (seeds in fuzz/corpus_model_link and fuzz/corpus_websocket). Without clang++ it does
# nothing and succeeds.
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
cmake --build "$build" -j "$(nproc)" --target vesk_annotations vesk_io
clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
  fuzz/annotations_fuzz.cpp "$build/annotations/libvesk_annotations.a" \
  "$build/foundation/libvesk_foundation.a" -o "$build/annotations_fuzz"
for target in model_link websocket; do
  clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
    "fuzz/${target}_fuzz.cpp" "$build/io/libvesk_io.a" "$build/foundation/libvesk_foundation.a" -pthread \
    -o "$build/${target}_fuzz"
done

# New inputs go to a scratch corpus; the seeds in the repository stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/annotations_fuzz" -max_total_time="$((seconds / 2))" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 "$work" fuzz/corpus
for target in model_link websocket; do
  mkdir -p "$work/$target"
  "$build/${target}_fuzz" -max_total_time="$((seconds / 4))" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 "$work/$target" "fuzz/corpus_$target"
done
echo "fuzz: no invariant violated in ${seconds}s"
