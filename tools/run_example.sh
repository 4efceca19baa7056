#!/usr/bin/env bash
# The main job: installs what is missing, builds vesk-cli and runs it on the bundled
# example. vesk-cli compiles the example's model, prepares the build directory
# examples/get_started/build-start-linux, builds the model with the Linux runtime's ./build
# and starts it; the model prints its signals until the time is up (first argument,
# seconds; default 20) or Ctrl-C is pressed. The exit status is vesk-cli's, or 0 when
# the time ran out or Ctrl-C stopped the model.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vesk-cli

# vesk-cli leads its own process group, so the model it starts is stopped with it.
setsid build/bin/vesk-cli examples/get_started/start.vcfg &
cli=$!
stopped=0
stop() {
  stopped=1
  kill -TERM -- "-$cli" 2>/dev/null || true
}
trap stop INT TERM
( sleep "$seconds"; kill -TERM -- "-$cli" 2>/dev/null ) &
timer=$!

status=0
# wait returns early when a trapped signal arrives; wait again until vesk-cli has ended.
while kill -0 "$cli" 2>/dev/null; do
  wait "$cli" && status=0 || status=$?
done
kill "$timer" 2>/dev/null || true
wait "$timer" 2>/dev/null || true

# Ended by the time limit or Ctrl-C (SIGTERM): the run went as asked.
if [ "$stopped" = 1 ] || [ "$status" = 143 ]; then
  echo "run_example: model stopped"
  exit 0
fi
exit "$status"
