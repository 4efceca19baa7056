#!/usr/bin/env bash
# The main job: installs what is missing, builds vesk, vesk-cli and the console editor
# stand-in, and runs `vesk --start` on the bundled example. The back end starts the
# stand-in (bin/gui/vesk-gui), which connects to the GUI port and prints the log entries
# and the back-end state it receives; the back end builds the example with vesk-cli and
# starts the model, which connects to the model port; the stand-in then subscribes the
# model's signals and prints their live values. After the time is up (first argument, seconds; default 20) or on
# Ctrl-C the back end is stopped, and with it the editor, the build and the model. The
# back end's own output is kept in build/vesk-example.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vesk vesk-cli vesk-gui

printed=build/vesk-gui-output.txt
: > "$printed"
VESK_GUI_OUTPUT="$PWD/$printed" build/bin/vesk --start examples/get_started/start.vcfg > build/vesk-example.log 2>&1 &
backend=$!
tail -n +1 -f "$printed" &
follower=$!
stop() { kill -INT "$backend" 2>/dev/null || true; }
trap stop INT TERM
( sleep "$seconds"; kill -INT "$backend" 2>/dev/null ) &
timer=$!

status=0
# wait returns early when a trapped signal arrives; wait again until the back end has ended.
while kill -0 "$backend" 2>/dev/null; do
  wait "$backend" && status=0 || status=$?
done
kill "$timer" 2>/dev/null || true
wait "$timer" 2>/dev/null || true
sleep 0.2
kill "$follower" 2>/dev/null || true
wait "$follower" 2>/dev/null || true
echo "run_gui_example: back end stopped (status $status); its log: build/vesk-example.log"
exit "$status"
