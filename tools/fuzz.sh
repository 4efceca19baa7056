#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang++ and runs each from its seed corpus,
# sharing a bounded time among them (first argument, seconds in all; default 60).
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
# A target: fuzz/<name>.cpp, its seed corpus, the subsystem libraries it links (users first).
targets=(
  "annotations_fuzz fuzz/corpus annotations foundation"
  "compiler_fuzz fuzz/corpus-compiler compiler generators annotations foundation"
)
share=$(( seconds / ${#targets[@]} ))
(( share > 0 )) || share=1

# New inputs go to a scratch corpus; the seeds in the repository stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run_target name seconds corpus lib...: builds the target against the libraries and fuzzes it.
run_target() {
  local name=$1 secs=$2 corpus=$3
  shift 3
  local libs=() archives=()
  for lib in "$@"; do
    libs+=("vesk_$lib")
    archives+=("$build/$lib/libvesk_$lib.a")
  done
  cmake --build "$build" -j "$(nproc)" --target "${libs[@]}"
  clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,$sanitize -fno-sanitize-recover=all \
    "fuzz/$name.cpp" "${archives[@]}" -o "$build/$name"
  mkdir -p "$work/$name"
  "$build/$name" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 "$work/$name" "$corpus"
  echo "fuzz: $name violated no invariant in ${secs}s"
}

for t in "${targets[@]}"; do
  # shellcheck disable=SC2086 # the entry is split into its words on purpose
  run_target ${t%% *} "$share" ${t#* }
done
