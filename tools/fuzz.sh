#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ and runs them one after the other within a
# bounded total time (first argument, seconds; default 60), split evenly between them.
# Each target is fuzz/<name>.cpp with its seeds in the corpus folder named below.
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

# name | seed corpus | libraries (innermost last)
targets=(
  "annotations_fuzz|fuzz/corpus|annotations foundation"
  "json_fuzz|fuzz/json_corpus|foundation"
  "model_link_fuzz|fuzz/corpus_model_link|io foundation"
  "websocket_fuzz|fuzz/corpus_websocket|io foundation"
  "compiler_fuzz|fuzz/corpus-compiler|compiler generators annotations foundation"
  "model_gateway_fuzz|fuzz/corpus_model_gateway|backend io generators annotations foundation"
)

build=build-fuzz
sanitize="address,undefined"
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,$sanitize -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  >/dev/null
libs_needed=$(for t in "${targets[@]}"; do echo "${t##*|}"; done | tr ' ' '\n' | sort -u | sed 's/^/vesk_/')
cmake --build "$build" -j "$(nproc)" --target $libs_needed

for t in "${targets[@]}"; do
  IFS='|' read -r name corpus libs <<<"$t"
  archives=()
  for l in $libs; do archives+=("$build/$l/libvesk_$l.a"); done
  clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
    "fuzz/${name}.cpp" "${archives[@]}" -pthread -o "$build/${name}"
done

# New inputs go to scratch corpora; the seeds in the repository stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
share=$((seconds / ${#targets[@]}))
[ "$share" -ge 1 ] || share=1
for t in "${targets[@]}"; do
  IFS='|' read -r name corpus libs <<<"$t"
  mkdir -p "$work/$name"
  "$build/${name}" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 "$work/$name" "$corpus"
done
echo "fuzz: no invariant violated in ${seconds}s"
