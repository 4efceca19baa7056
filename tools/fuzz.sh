#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ and runs them one after the other within a
# bounded total time (first argument, seconds; default 60), split evenly between them.
# Each target is fuzz/<name>.cpp with its seeds in the corpus folder named below.
# Without clang++ it does nothing and succeeds. Prints one line per target (executions,
# findings); the full logs stay in build-fuzz/fuzz-logs/, the inputs of findings in
# build-fuzz/findings/<target>/; any finding fails the run.
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
mkdir -p "$build"
if ! cmake --build "$build" -j "$(nproc)" --target $libs_needed >"$build/fuzz-build.log" 2>&1; then
  tail -n 50 "$build/fuzz-build.log"
  echo "fuzz: building the libraries failed; the whole output is in $build/fuzz-build.log"
  exit 1
fi

for t in "${targets[@]}"; do
  IFS='|' read -r name corpus libs <<<"$t"
  archives=()
  for l in $libs; do archives+=("$build/$l/libvesk_$l.a"); done
  clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
    "fuzz/${name}.cpp" "${archives[@]}" -pthread -o "$build/${name}"
done

# New inputs go to scratch corpora; the seeds in the repository stay as they are. Each
# target's running log goes to a file; one line per target tells what it did.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
logs="$build/fuzz-logs"
findings_dir="$build/findings"
rm -rf "$logs" "$findings_dir"
mkdir -p "$logs"
share=$((seconds / ${#targets[@]}))
[ "$share" -ge 1 ] || share=1
total=0
for t in "${targets[@]}"; do
  IFS='|' read -r name corpus libs <<<"$t"
  mkdir -p "$work/$name" "$findings_dir/$name"
  log="$logs/$name.log"
  status=0
  "$build/${name}" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings_dir/$name/" \
    "$work/$name" "$corpus" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  found=$(find "$findings_dir/$name" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  # A target that failed without leaving an input behind still counts as a finding.
  if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi
  line="fuzz: $name: ${runs:-?} executions, $found finding(s)"
  [ "$found" -eq 0 ] || line="$line (log: $log, inputs: $findings_dir/$name/)"
  echo "$line"
  total=$((total + found))
done
if [ "$total" -ne 0 ]; then
  echo "fuzz: $total finding(s) in ${seconds}s"
  exit 1
fi
echo "fuzz: no invariant violated in ${seconds}s"
