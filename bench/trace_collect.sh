#!/usr/bin/env bash
# End to end: hubsim's trace client emits BULKS copies of the example bulk
# (six messages, seven lines) as fast as fwlogtap reads them; fwlogtap decodes
# them to the console (here /dev/null) and a log file. Prints messages per second.
# Usage: bench/trace_collect.sh [build-dir]   (BULKS=20000 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-bench"}
bulks=${BULKS:-20000}
work=$(mktemp -d)
trap 'kill "$HUBSIM_PID" 2>/dev/null || true; sleep 0.2; rm -rf "$work"' EXIT
sed "s|<Trace |<Trace repeat=\"$bulks\" |" "$root/examples/trace/hub-trace.xml" > "$work/hub.xml"
eval "$(BUILD_DIR="$build" "$root/scripts/hubsim-start" "$work/hub.xml" --socket "$work/hub.sock")"
lines=$((bulks * 7))
start=$(date +%s.%N)
HUBSIM_SOCKET=$HUBSIM_SOCKET LD_PRELOAD="$build/hubsim/libhubsim-shim.so" \
  "$build/fwlogtap/fwlogtap" DOXI continuous "$root/examples/trace/TraceCatalog.xml" \
  "$root/examples/trace/TraceComponents.xml" "$work/trace.log" > /dev/null &
tap=$!
count() { if [ -f "$work/trace.log" ]; then wc -l < "$work/trace.log"; else echo 0; fi; }
while [ "$(count)" -lt "$lines" ]; do
  kill -0 "$tap" 2>/dev/null || { echo "fwlogtap ended early" >&2; exit 1; }
  sleep 0.05
done
end=$(date +%s.%N)
kill -INT "$tap"
wait "$tap" || true
awk -v n="$((bulks * 6))" -v s="$start" -v e="$end" \
  'BEGIN { t = e - s; printf "trace collection end to end: %d messages in %.2f s, %.0f messages/s\n", n, t, n / t }'
