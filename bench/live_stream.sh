#!/usr/bin/env bash
# The highest report rate hubsim streams to the calibration tool's recorder with
# no dropped or late report: four sensors, reports every 10 simulated ms, the
# simulated time running faster and faster (speed 10 = 1 kHz per sensor).
#   bench/live_stream.sh BUILD_DIR [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=${2:-3}
dir=$(mktemp -d)
trap 'kill "${pid:-0}" 2>/dev/null || true; rm -rf "$dir"' EXIT
echo "== live streaming: hubsim to the recorder, 4 sensors =="
for speed in 5 10 20 40 80; do
  sed "s/<Device speed=\"[0-9.]*\"/<Device speed=\"$speed\"/" "$root/examples/hub-default.xml" > "$dir/scenario.xml"
  cp "$root/examples/pdt-default.bin" "$dir/"
  "$build/hubsim/hubsim" --scenario "$dir/scenario.xml" --socket "$dir/hub.sock" > "$dir/hubsim.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do grep -q listening "$dir/hubsim.log" && break; sleep 0.05; done
  HUBSIM_SOCKET="$dir/hub.sock" LD_PRELOAD="$build/hubsim/libhubsim-shim.so" \
    "$build/bench/bench_live_stream" "$seconds" "$speed" || true
  kill "$pid"; wait "$pid" 2>/dev/null || true
done
